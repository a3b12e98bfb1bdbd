// xorshift64* generator. The order and number of steps taken by the sampler are part of the saved
// sound: a stored seed must replay the same draw in every later version, so this stays as it is.
#pragma once

#include <cstdint>

struct XS64Rand
{
    uint64_t state = 1;

    // One xorshift64 step; returns the xorshift64* output of the new state.
    uint64_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }

    // Steps once; uniform in [0, 1) from the top 53 bits of the output.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};
