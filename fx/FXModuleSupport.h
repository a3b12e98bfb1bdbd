// Small helpers shared by the module sources: the state-block cast with the checks the lane
// relies on, knob clamping, and the xorshift32 generator of the denormal guard.
#pragma once

#include "fx/FXModule.h"

#include <cmath>
#include <cstddef>
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

// [main thread] Makes `lines` hold `count` lines of `frames` samples each, reallocating only when
// the length changes (construct and rate changes; never while processing). The contents are left
// for the caller to clear.
inline void resizeLines(float*& lines, unsigned& size, size_t count, unsigned frames)
{
    if (lines == nullptr || frames != size) {
        float* fresh = new float[count * size_t(frames)];
        delete[] lines;
        lines = fresh;
        size = frames;
    }
}

// [main thread] resizeLines for the two channels of one stereo delay line.
inline void resizeStereoLine(float*& lines, unsigned& size, unsigned frames)
{
    resizeLines(lines, size, 2, frames);
}

// The usable rate for coefficient formulas: anything non-finite or non-positive becomes 48 kHz.
inline double safeRate(double rate)
{
    return rate > 1.0 && rate < 1.0e7 ? rate : 48000.0;
}

// Construct, destroy, reset and setSampleRate of a module whose state owns one stereo delay line
// (`lines`, allocated by resizeStereoLine). The module defines, next to its State,
// configure(State&, double rate) (size the line for the rate and clear) and clear(State&).
template <typename State> struct DelayLineLifecycle
{
    static void construct(void* block, double rate) { configure(createState<State>(block), rate); }
    static void destroy(void* block)
    {
        State& s = stateOf<State>(block);
        delete[] s.lines;
        s.lines = nullptr;
    }
    static void reset(void* block)
    {
        State& s = stateOf<State>(block);
        if (s.lines != nullptr)
            clear(s);
    }
    static void setSampleRate(void* block, double rate) { configure(stateOf<State>(block), rate); }
};

// Destroy, reset and setSampleRate of a module whose state owns a pair of rings (`rings`) sized
// for the rate, reallocated only when the rate changes. The module defines, next to its State
// (which has a `rate`), configure(State&, double rate) (size the rings and clear) and
// clear(State&); its construct warms whatever shared tables it reads, then calls configure.
template <typename State> struct RingLifecycle
{
    static void destroy(void* block)
    {
        State& s = stateOf<State>(block);
        delete[] s.rings;
        s.rings = nullptr;
    }
    static void reset(void* block)
    {
        State& s = stateOf<State>(block);
        if (s.rings != nullptr)
            clear(s);
    }
    static void setSampleRate(void* block, double rate)
    {
        State& s = stateOf<State>(block);
        if (s.rings == nullptr || safeRate(rate) != s.rate)
            configure(s, rate);
    }
};

// Construct, destroy, reset and setSampleRate of a module whose state block holds one pointer,
// `impl`, to a heap object of type Impl that has a `rate` and a clear() that silences it.
template <typename State, typename Impl> struct HeapImplLifecycle
{
    static void construct(void* block, double rate)
    {
        State& s = createState<State>(block);
        Impl* impl = new Impl();
        impl->rate = safeRate(rate);
        s.impl = impl;
    }
    static void destroy(void* block)
    {
        State& s = stateOf<State>(block);
        delete s.impl;
        s.impl = nullptr;
    }
    static void reset(void* block)
    {
        if (Impl* m = stateOf<State>(block).impl)
            m->clear();
    }
    static void setSampleRate(void* block, double rate)
    {
        if (Impl* m = stateOf<State>(block).impl) {
            m->rate = safeRate(rate);
            m->clear();
        }
    }
};

// Construct, destroy, reset and setSampleRate of a module without heap parts whose filter design
// is cached from the knobs. The module defines, next to its State (which has a `rate`),
// clearMemories(State&) (zero the filter memories) and invalidate(State&) (force a redesign).
template <typename State> struct CachedDesignLifecycle
{
    static void construct(void* block, double rate)
    {
        State& s = createState<State>(block);
        s.rate = safeRate(rate);
        invalidate(s);
    }
    static void destroy(void*) {}
    static void reset(void* block)
    {
        State& s = stateOf<State>(block);
        clearMemories(s);
        invalidate(s);
    }
    static void setSampleRate(void* block, double rate)
    {
        State& s = stateOf<State>(block);
        clearMemories(s);
        s.rate = safeRate(rate);
        invalidate(s);
    }
};

// The smallest power of two that is at least `need` (at least 1); `need` stays below 2^31.
inline unsigned powerOfTwoAtLeast(double need)
{
    unsigned size = 1;
    while (size < need && size < (1u << 31))
        size <<= 1;
    return size;
}

// Parabolic grain envelope 4x(1 - x) at x = i/256 for i = 0..255, with a closing 0 at 256;
// built on first use (call it from construct, so never on the audio thread).
const float* parabolicGrainEnvelope();

// Reads a circular delay line `delay` samples (fractional, linearly interpolated) behind the
// write position.
inline double readFractional(const float* line, unsigned size, unsigned write, double delay)
{
    const unsigned n = static_cast<unsigned>(delay);
    const double f = delay - n;
    unsigned a = write + size - n;
    if (a >= size)
        a -= size;
    const unsigned b = a == 0 ? size - 1 : a - 1;
    return line[a] * (1.0 - f) + line[b] * f;
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

// floor for finite values within +-2^62 (no library call on baseline x86-64).
inline double fastFloor(double x)
{
    const double t = static_cast<double>(static_cast<int64_t>(x));
    return t > x ? t - 1.0 : t;
}

// Rounds half away from zero, for finite values within +-2^62.
inline double roundHalfAway(double x)
{
    return x < 0.0 ? -fastFloor(0.5 - x) : fastFloor(x + 0.5);
}

// sin(x) for any finite x: range reduction to [-pi, pi], folding to [-pi/2, pi/2] and an odd
// polynomial (Taylor to x^11 on that range: error below 6e-8).
inline double fastSin(double x)
{
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kTwoPi = 2.0 * kPi;
    x -= kTwoPi * fastFloor(x * (1.0 / kTwoPi) + 0.5);
    if (x > 0.5 * kPi) {
        x = kPi - x;
    } else if (x < -0.5 * kPi) {
        x = -kPi - x;
    }
    const double x2 = x * x;
    return x * (1.0 +
                x2 * (-1.0 / 6.0 +
                      x2 * (1.0 / 120.0 + x2 * (-1.0 / 5040.0 + x2 * (1.0 / 362880.0 +
                                                                      x2 * (-1.0 / 39916800.0))))));
}

// tanh by a [7/6] Pade approximant held at +-1 beyond |x| = 4.97: within 1e-4 everywhere, far
// closer near 0.
inline float fastTanh(float x)
{
    if (x > 4.97f) {
        return 1.0f;
    }
    if (x < -4.97f) {
        return -1.0f;
    }
    const float x2 = x * x;
    const float num = x * (135135.0f + x2 * (17325.0f + x2 * (378.0f + x2)));
    const float den = 135135.0f + x2 * (62370.0f + x2 * (3150.0f + x2 * 28.0f));
    return num / den;
}

} // namespace vesk::fxsupport
