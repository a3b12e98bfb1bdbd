// A finished variation set into the REAPER project: new tracks below the instance's own track,
// the files one after another on them, as one undo step.
#pragma once

#include "export/VariationSet.h"
#include "export/VeskReaperBridge.h"

namespace vesk {

inline constexpr const char* kSetUndoName = "Vesk: Insert Variation Set";
// Silence between two variations on a set's track, seconds.
inline constexpr double kSetItemGapSeconds = 1.0;

// [main thread] Places the files of `result` into the project as one undo step: a track named
// after the set's folder holds the mixes, and a track "<folder> Pool N" each pool's stems, all
// inserted right below the instance's own track (found by the track's name, as for exports); the
// files follow each other in variation order from the edit cursor, a second apart, and the
// cursor stays where it was. Does nothing outside REAPER or without files; when the own track
// cannot be told, prints the export's console message and inserts nothing. Returns true when an
// undo step was made. Never lets an exception out.
bool insertVariationSet(VeskReaperBridge& bridge, const clap_host* host, const char* trackName,
                        const VariationSetResult& result);

} // namespace vesk
