// FFTW's planner keeps global state and is not thread-safe: every call that makes or destroys a
// plan, in any thread, holds this one lock. Plans are made at construction, off the audio thread;
// executing a plan needs no lock.
#pragma once

#include <mutex>

namespace vesk {

// [any thread, never the audio thread]
std::mutex& fftwPlannerMutex();

} // namespace vesk
