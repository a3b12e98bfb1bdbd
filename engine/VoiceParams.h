// What one trigger of one pool draws.
#pragma once

#include <cstdint>

namespace vesk {

struct VoiceParams
{
    uint64_t sampleIndex = 0;
    float pitchRatio = 1.0f;  // 2^(semitones / 12), note offset included
    float gain = 1.0f;        // linear
    float pan = 0.0f;         // -100..100
    float delayMs = 0.0f;     // 0..3000
    float startPercent = 0.0f; // 0..100
    bool reverse = false;
    bool valid = false;
    // Deviations from the pool's knobs, so a playing voice follows knob moves and keeps these.
    float volumeOffsetDb = 0.0f;
    float panOffset = 0.0f;
    float pitchOffset = 0.0f;
};

} // namespace vesk
