// Saturate: isolates a band around 3.5 kHz of the sine-folded input, shapes it with one of five
// curves and puts it back in place of the clean band. Sine, arcsine and the shapers come from
// process-wide 4096-entry tables with linear interpolation.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <numbers>

namespace vesk::SaturateFX {

namespace {

constexpr int kTableSize = 4096;
constexpr double kBandHz = 3515.775;

struct Tables
{
    float sine[kTableSize];
    float arcsine[kTableSize];
    float shaper[5][kTableSize]; // mode 1 has no table
    double range[5];
    double positionScale[5]; // 4095 / (2 x range)

    Tables()
    {
        const double pi = std::numbers::pi;
        for (int i = 0; i < kTableSize; ++i) {
            const double t = static_cast<double>(i);
            sine[i] = static_cast<float>(std::sin(2.0 * pi * t / kTableSize));
            arcsine[i] =
                static_cast<float>(std::asin(std::clamp(2.0 * t / 4095.0 - 1.0, -1.0, 1.0)));
            shaper[0][i] = static_cast<float>(std::sin(-pi / 2.0 + pi * t / 4095.0));
            shaper[1][i] = 0.0f;
            const double a2 = -std::sqrt(pi / 2.0) + t * std::sqrt(2.0 * pi) / 4095.0;
            shaper[2][i] =
                a2 == 0.0 ? 0.0f : static_cast<float>(std::sin(a2 * std::abs(a2)) / std::abs(a2));
            const double a3 = -8.0 + 16.0 * t / 4095.0;
            const double c = std::pow(std::abs(a3), 0.25);
            shaper[3][i] =
                c == 0.0 ? 0.0f : static_cast<float>(0.987654321 * std::sin(a3 * c * pi / 2.0) / c);
            const double b = a3 * a3 * a3 * a3;
            shaper[4][i] = b == 0.0 ? 0.0f : static_cast<float>(1.1654321 * std::sin(a3 * b) / b);
        }
        range[0] = pi / 2.0;
        range[1] = 1.0;
        range[2] = std::sqrt(pi / 2.0);
        range[3] = 8.0;
        range[4] = 8.0;
        for (int m = 0; m < 5; ++m) {
            positionScale[m] = 4095.0 / (2.0 * range[m]);
        }
    }
};

// [main thread] Built once for the program (thread-safe static initialisation).
const Tables& tables()
{
    static const Tables instance;
    return instance;
}

// Interpolated read at a position in [0, 4095]; the last position reads entry 4094..4095 at 1.
inline double readClamped(const float* table, double position)
{
    position = position > 0.0 ? (position < 4095.0 ? position : 4095.0) : 0.0; // NaN reads 0
    int index = static_cast<int>(position);
    if (index > kTableSize - 2) {
        index = kTableSize - 2;
    }
    const double frac = position - index;
    return table[index] + frac * (table[index + 1] - table[index]);
}

inline double tableSine(const Tables& t, double v)
{
    double phase = v * (1.0 / (2.0 * std::numbers::pi));
    if (!(std::abs(phase) < 1.0e15)) {
        phase = 0.0; // non-finite or absurd input
    }
    phase -= fxsupport::fastFloor(phase);
    double position = phase * kTableSize;
    int index = static_cast<int>(position);
    const double frac = position - index;
    index &= kTableSize - 1;
    const int next = (index + 1) & (kTableSize - 1);
    return t.sine[index] + frac * (t.sine[next] - t.sine[index]);
}

struct Impl
{
    const Tables* tables;
    double sampleRate;
    double a0, b1, b2;
    double z1[2], z2[2];
    fxsupport::XorShift32 noise[2];
};

struct State
{
    Impl* impl;
};

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.impl = new Impl{};
    s.impl->tables = &tables();
    s.impl->sampleRate = fxsupport::safeRate(rate);
    s.impl->noise[0].state = 0xdeadbeefu;
    s.impl->noise[1].state = 0xcafebabeu;
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void reset(void* block)
{
    Impl& m = *fxsupport::stateOf<State>(block).impl;
    m.z1[0] = m.z1[1] = m.z2[0] = m.z2[1] = 0.0;
}

void setSampleRate(void* block, double rate)
{
    Impl& m = *fxsupport::stateOf<State>(block).impl;
    m.sampleRate = fxsupport::safeRate(rate);
    m.tables = &tables();
    m.z1[0] = m.z1[1] = m.z2[0] = m.z2[1] = 0.0;
}

// 2^(e + 62) with e the binary exponent of v as frexp gives it (v = m 2^e, m in [0.5, 1); e = 0
// for 0), read from the bits instead of a library call.
inline double ditherScale(double v)
{
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    const int field = static_cast<int>((bits >> 52) & 0x7ff);
    int e = field == 0 ? 0 : field - 1022;
    e = std::clamp(e, -200, 200);
    return std::bit_cast<double>(static_cast<uint64_t>(e + 62 + 1023) << 52);
}

inline double shape(const Tables& t, int mode, double d)
{
    if (mode == 1) {
        d = std::clamp(d, -1.0, 1.0);
        const double m = 0.6 * std::abs(d);
        return 1.6 * d * (1.0 - m * m);
    }
    const double r = t.range[mode];
    d = std::clamp(d, -r, r);
    return readClamped(t.shaper[mode], (d + r) * t.positionScale[mode]);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl& m = *fxsupport::stateOf<State>(block).impl;
    const Tables& t = *m.tables;
    const double drive = std::pow(10.0, 0.6 * fxsupport::clamp01(params[0]));
    const double reso = fxsupport::clamp01(params[1]);
    const int mode = static_cast<int>(fxsupport::clamp01(params[2]) * 4.999f);
    const double outGain = fxsupport::clamp01(params[3]);
    const float mix = fxsupport::clamp01(params[4]);

    // Band-pass around 3.5 kHz (kept below Nyquist at low rates).
    const double fc = std::min(kBandHz, 0.45 * m.sampleRate);
    const double k = std::tan(std::numbers::pi * fc / m.sampleRate);
    const double q = (2.0 * reso * reso * reso) * (2.0 * reso * reso * reso) + 0.0001;
    const double w = k / q;
    const double n = 1.0 / (1.0 + w + k * k);
    m.a0 = w * n;
    m.b1 = 2.0 * (k * k - 1.0) * n;
    m.b2 = (1.0 - w + k * k) * n;

    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double x = fxsupport::denormalGuard(io[c][i], m.noise[c].state);
            const double s = tableSine(t, x);
            const double bp = m.a0 * s + m.z1[c];
            m.z1[c] = -m.b1 * bp + m.z2[c];
            m.z2[c] = -m.a0 * s - m.b2 * bp;
            const double o = readClamped(t.arcsine, (std::clamp(bp, -1.0, 1.0) + 1.0) * 2047.5);
            const double shaped = shape(t, mode, drive * o);
            const double wet = x - o + outGain * shaped;
            double out = mix == 1.0f ? wet : mix * wet + (1.0 - mix) * x;
            const uint32_t g = m.noise[c].next();
            out += (static_cast<double>(g) - 2147483647.0) * 5.5e-36 * ditherScale(out);
            io[c][i] = static_cast<float>(out);
        }
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::SaturateFX
