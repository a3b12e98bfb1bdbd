// Grains of a walk cloud and the per-pool walk state.
#pragma once

#include "SampleData.h"

#include <atomic>
#include <cstdint>

namespace vesk {

struct CloudGrain
{
    const SampleData* sample = nullptr; // region in a pool's list
    int64_t startFrame = 0;             // inside the region
    float rate = 1.0f;                  // playback rate factor
    int64_t lengthSamples = 0;          // output samples
    int64_t delaySamples = 0;           // output samples before it sounds
    float gain = 1.0f;                  // linear
    float panL = 1.0f;                  // linear
    float panR = 1.0f;                  // linear
    int64_t elapsed = 0;                // output samples since the grain was emitted
    int32_t pool = -1;                  // pool whose list holds `sample`
    // Set last when a slot is filled; isPlaying() reads it from other threads.
    std::atomic<bool> active{false};
};

struct WalkState
{
    bool active = false;
    int64_t startFrame = 0;
    uint64_t regionLength = 0; // frames
    float direction = 1.0f;    // +1 forwards, -1 backwards
    int64_t steps = 0;         // output samples since the cloud was emitted
    int64_t distance = 1;      // walk distance in frames, at least 1 while active
};

} // namespace vesk
