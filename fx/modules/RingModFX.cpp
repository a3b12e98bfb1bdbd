// RingMod: multiplies the signal by a table oscillator (sine, triangle, saw, square, half sine)
// from 1 Hz to 1 kHz, with a smoothed dry/wet mix.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <cmath>
#include <numbers>

namespace vesk::RingModFX {

namespace {

constexpr int kTableSize = 2048;
constexpr int kWaves = 5;

struct Tables
{
    float wave[kWaves][kTableSize];
};

// Built once per process; construct touches it first, so the audio thread never initialises it.
const Tables& tables()
{
    static const Tables t = [] {
        Tables r{};
        const double pi = std::numbers::pi;
        double sawPeak = 0.0;
        double squarePeak = 0.0;
        double saw[kTableSize];
        double square[kTableSize];
        for (int i = 0; i < kTableSize; ++i) {
            const double b = double(i) / kTableSize;
            r.wave[0][i] = static_cast<float>(std::sin(2.0 * pi * b));
            double d = b - 0.25;
            d -= std::floor(d);
            r.wave[1][i] = static_cast<float>(2.0 * std::abs(2.0 * d - 1.0) - 1.0);
            double s = 0.0;
            for (int k = 1; k <= 16; ++k)
                s += std::sin(2.0 * pi * k * b) / k;
            saw[i] = -(2.0 / pi) * s;
            double q = 0.0;
            for (int k = 1; k <= 15; k += 2)
                q += std::sin(2.0 * pi * k * b) / k;
            square[i] = (4.0 / pi) * q;
            sawPeak = std::max(sawPeak, std::abs(saw[i]));
            squarePeak = std::max(squarePeak, std::abs(square[i]));
            r.wave[4][i] = static_cast<float>(std::sin(pi * b));
        }
        for (int i = 0; i < kTableSize; ++i) {
            r.wave[2][i] = static_cast<float>(saw[i] / sawPeak);
            r.wave[3][i] = static_cast<float>(square[i] / squarePeak);
        }
        return r;
    }();
    return t;
}

struct State
{
    double phase; // cycles, 0..1
    double mix;   // smoothed
    double rate;
};

double usableRate(double rate)
{
    return rate >= 1.0 && std::isfinite(rate) ? rate : 48000.0;
}

void construct(void* block, double rate)
{
    tables();
    State& s = fxsupport::createState<State>(block);
    s.phase = 0.0;
    s.mix = 0.5;
    s.rate = usableRate(rate);
}

void destroy(void*) {}

void reset(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    s.phase = 0.0;
    s.mix = 0.5;
}

void setSampleRate(void* block, double rate)
{
    fxsupport::stateOf<State>(block).rate = usableRate(rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const double freqHz = std::pow(1000.0, double(fxsupport::clamp01(params[0])));
    const int wave = static_cast<int>(fxsupport::clamp01(params[1]) * 4.999f);
    const double mixTarget = fxsupport::clamp01(params[2]);
    const double increment = freqHz / s.rate;
    const float* table = tables().wave[wave];
    double phase = s.phase;
    double mix = s.mix;
    for (unsigned i = 0; i < frames; ++i) {
        const double pos = phase * kTableSize;
        const int n = static_cast<int>(pos) & (kTableSize - 1);
        const double frac = pos - std::floor(pos);
        const double c = table[n] + (table[(n + 1) & (kTableSize - 1)] - table[n]) * frac;
        mix += (mixTarget - mix) * 0.005;
        const double l = left[i];
        const double r = right[i];
        left[i] = static_cast<float>(l + (c * l - l) * mix);
        right[i] = static_cast<float>(r + (c * r - r) * mix);
        phase += increment;
        if (phase >= 1.0)
            phase -= 1.0;
    }
    s.phase = phase;
    s.mix = mix;
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::RingModFX
