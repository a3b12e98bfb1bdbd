// Seeds of triggers: what a trigger message carries, and what the draw starts from.
//
// Design: a trigger's seed (the one a Random message carries, the one shown and stored, the one
// in the exported files' names) is mixed with the instance's 64-bit salt before the generator
// starts from it. Every instance has a salt of its own, so two instances never share a draw
// sequence by accident, while within one instance the same message seed always gives the same
// draw: a later Random with seed S plays what seed S played before. Both steps are bijections of
// the 64-bit seed for a fixed salt, so distinct message seeds never collapse into one draw.
#pragma once

#include <cstdint>

namespace vesk {

// splitmix64's finaliser: a bijection of 64-bit values in which every output bit depends on
// every input bit.
constexpr uint64_t mix64(uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}

inline constexpr uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ULL;

// The seed a trigger's draw starts from, for a message seed and the instance's salt.
constexpr uint64_t drawSeed(uint64_t salt, uint64_t messageSeed)
{
    return mix64(messageSeed ^ mix64(salt + kGoldenGamma));
}

// The message seed of a host note in offline rendering: a pure function of the note's song
// position in samples, its key and its MIDI channel, so a bounce gives the same draws every time
// it is rendered, whatever the host's block size.
constexpr uint64_t offlineNoteSeed(int64_t songPositionSamples, int key, int channel)
{
    const uint64_t where = mix64(uint64_t(songPositionSamples) + kGoldenGamma);
    const uint64_t what = (uint64_t(uint16_t(key)) << 16) | uint64_t(uint16_t(channel));
    return mix64(where ^ mix64(what + 2 * kGoldenGamma));
}

// The next of a run of fresh seeds (splitmix64): advances `state` and returns its mix.
constexpr uint64_t nextFreshSeed(uint64_t& state)
{
    state += kGoldenGamma;
    return mix64(state);
}

} // namespace vesk
