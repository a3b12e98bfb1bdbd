// FX-chain presets: both FX buses' module chains as a JSON file, and back as two lane images.
//
// Design: a preset names module types and knobs by their registry display names, never by
// numbers, so a file survives renumbered types and reordered knobs; everything unknown in a file
// is skipped, and every value read is clamped into its knob's range. The functions touch only
// files and the caller's images, never the engine: the editor sends an applied preset to the
// engine as an append command. All instances share one preset folder, "FX Chains" inside
// "Halvoren Vesk" in the user's documents folder.
//
// Files are untrusted: one larger than kMaxPresetFileBytes, one nested deeper than a chain ever
// is, or one that is not UTF-8 JSON is refused as "Preset file is corrupt or empty.".
//
// [main thread] every function (the editor's message thread); no locks are taken.
#pragma once

#include "fx/FXLane.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <vector>

namespace vesk {

inline constexpr const char* kVeskFxChainExtension = ".veskfxchain";
inline constexpr size_t kMaxPresetFileBytes = 4u * 1024u * 1024u;
// Longest sanitised name, in UTF-8 bytes, so the file name and its temporary sibling stay within
// what file systems accept.
inline constexpr size_t kMaxPresetNameBytes = 200;

juce::var laneChainToJsonVar(const FXLaneState (&lanes)[2]);
juce::String laneChainToJsonString(const FXLaneState (&lanes)[2]);
bool laneChainFromJsonVar(const juce::var& root, FXLaneState (&lanes)[2]);
bool laneChainFromJsonString(const juce::String& text, FXLaneState (&lanes)[2]);
// The same for raw bytes of a file: refused (images cleared) when too large, not UTF-8 text or
// nested too deeply; a leading byte-order mark is skipped.
bool laneChainFromJsonBytes(const void* data, size_t size, FXLaneState (&lanes)[2]);

juce::String sanitizeVeskFxChainName(const juce::String& name);
juce::File getVeskFxChainDir();
std::vector<juce::String> listVeskFxChainPresets();
bool veskFxChainPresetExists(const juce::String& name);
bool saveVeskFxChainPreset(const juce::String& name, const FXLaneState (&lanes)[2],
                           juce::String* error);
bool loadVeskFxChainPreset(const juce::String& name, FXLaneState (&lanes)[2], juce::String* error);
bool deleteVeskFxChainPreset(const juce::String& name);

} // namespace vesk
