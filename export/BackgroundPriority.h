// Lowers the calling thread's scheduling priority, so work it does in the background (a set of
// variations) gives way to everything else in the process, above all live playback on a host
// whose audio thread runs at normal priority.
#pragma once

namespace vesk {

// [the background thread itself] Best effort: nothing happens where the system refuses.
void lowerThisThreadsPriority();

} // namespace vesk
