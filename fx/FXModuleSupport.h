// Small helpers shared by the module sources: the state-block cast with the checks the lane
// relies on, knob clamping, and the xorshift32 generator of the denormal guard.
#pragma once

#include "fx/FXModule.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <type_traits>

namespace vesk::fxsupport {

// The lane hands every module a zero-filled block of stateSize bytes aligned to 64 bytes. A module
// state must fit that promise: no alignment above 64, nothing that needs a destructor to run
// (destroy releases heap parts explicitly).
template <typename State>
constexpr bool kValidState = std::is_trivially_destructible_v<State> && alignof(State) <= 64 &&
                             sizeof(State) > 0;

template <typename State> State& stateOf(void* block)
{
    static_assert(kValidState<State>, "module state must suit the lane's zero-filled block");
    return *std::launder(static_cast<State*>(block));
}

// [main thread] Starts the lifetime of the state object in the lane's block.
template <typename State> State& createState(void* block)
{
    static_assert(kValidState<State>, "module state must suit the lane's zero-filled block");
    return *new (block) State{};
}

inline float clamp01(float v)
{
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; // NaN gives 0
}

inline float clampTo(float v, float lo, float hi)
{
    return v > lo ? (v < hi ? v : hi) : lo; // NaN gives lo
}

// The usable rate for coefficient formulas: anything non-finite or non-positive becomes 48 kHz.
inline double safeRate(double rate)
{
    return rate > 1.0 && rate < 1.0e7 ? rate : 48000.0;
}

struct XorShift32
{
    uint32_t state;

    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

// Replaces a sample too small to be safely computed by a tiny noise value derived from the
// generator state (about -146 dBFS at most), so recursive filters never meet denormals.
inline double denormalGuard(double x, uint32_t generatorState)
{
    return std::abs(x) < 1.18e-23 ? static_cast<double>(generatorState) * 1.18e-17 : x;
}

} // namespace vesk::fxsupport
