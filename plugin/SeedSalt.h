// The seed salt of each instance, and the process-wide record of the salts live instances hold.
//
// Every instance mixes its own 64-bit salt into the seeds of its triggers (engine/TriggerSeed.h),
// so two instances never share a draw sequence by accident. The salt is drawn from the operating
// system's entropy when the instance is created, saved with its state and restored by a load,
// unless another live instance of this process already holds it: a duplicated track loads the
// state of its original, and must not play the same draws, so it takes a new salt instead.
//
// Threads: main threads only (instance creation, destruction and state load). The record has a
// mutex of its own, which the audio thread never touches.
#pragma once

#include <cstdint>

namespace vesk {

// [main thread] A new salt from the system's entropy that no other live instance holds, recorded
// for `owner` in place of the one it held.
uint64_t claimFreshSalt(const void* owner);

// [main thread] Records `salt` for `owner` unless another live instance holds it; returns whether
// it did (when not, the owner keeps the salt it held).
bool claimSalt(const void* owner, uint64_t salt);

// [main thread] Forgets the salt of `owner` (the instance goes away).
void releaseSalt(const void* owner);

} // namespace vesk
