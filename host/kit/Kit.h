// Kits: a JSON description of a whole instance (pools with their sample files and settings, both
// FX buses' chains, the master chain) turned into a plug-in state file, and a state file printed
// back as the same JSON.
//
// Design: the state is made by the plug-in's own serializer on an in-process instance, so a kit
// is exactly what the plug-in would have saved with those settings; and printing loads a state
// the way the plug-in does, so what it shows is what the plug-in will play. Bus chains use the
// FX-chain preset layout ("fx", "bypass", "params", "mods"), so a preset's lanes can be pasted
// into a kit. Relative sample paths are taken from the kit file's folder.
//
// [main thread] everything here (it creates and drives plug-in instances).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk::kit {

// Builds the state bytes of a kit. baseDir resolves relative sample paths. A kit without a "salt"
// gets a fresh one, so two builds of it draw differently. On failure returns
// false with a message in `error` (a missing or unreadable sample file is an error).
bool buildKitState(const std::string& kitJson, const std::string& baseDir,
                   std::vector<uint8_t>& state, std::string& error);

// The JSON of a state as the plug-in reads it: the kit layout, with "rate", each sample's
// "missing" flag, the locked draws and the seed "salt" added. False (with `error`) when the plug-in
// refuses the state.
bool stateToKitJson(const std::vector<uint8_t>& state, std::string& json, std::string& error);

} // namespace vesk::kit
