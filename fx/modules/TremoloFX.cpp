// Tremolo: an amplitude modulator with a shaped LFO; deeper settings also bend the waveform
// towards a gated, rounded shape.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <cmath>
#include <numbers>

namespace vesk::TremoloFX {

namespace {

constexpr int kTableSize = 2048;
constexpr double kHalfPi = std::numbers::pi / 2.0;

struct Tables
{
    float sinPi[kTableSize];   // sin(pi x)
    float pow5[kTableSize];    // x^5
    float pow9[kTableSize];    // x^9
    float sinHalf[kTableSize]; // sin(pi/2 x)
    float cosHalf[kTableSize]; // 1 - cos(pi/2 x)
};

const Tables& tables()
{
    static const Tables t = [] {
        Tables r{};
        for (int i = 0; i < kTableSize; ++i) {
            const double x = double(i) / (kTableSize - 1);
            r.sinPi[i] = static_cast<float>(std::sin(std::numbers::pi * x));
            r.pow5[i] = static_cast<float>(std::pow(x, 5.0));
            r.pow9[i] = static_cast<float>(std::pow(x, 9.0));
            r.sinHalf[i] = static_cast<float>(std::sin(kHalfPi * x));
            r.cosHalf[i] = static_cast<float>(1.0 - std::cos(kHalfPi * x));
        }
        return r;
    }();
    return t;
}

// Table at position p (0..2047), clamped at both ends, linear in between.
inline double lookup(const float* table, double p)
{
    if (!(p > 0.0))
        return table[0];
    if (p >= kTableSize - 1)
        return table[kTableSize - 1];
    const int n = static_cast<int>(p);
    const double f = p - n;
    return table[n] + (table[n + 1] - table[n]) * f;
}

// The last targets before the first block after a reset.
constexpr double kUnset = 1000.0;

struct State
{
    double theta;
    double speed;
    double depth;
    double lastSpeedTarget;
    double lastDepthTarget;
    double rateRatio; // rate / 44100
};

void clear(State& s)
{
    s.theta = kHalfPi;
    s.speed = 0.0;
    s.depth = 0.0;
    s.lastSpeedTarget = kUnset;
    s.lastDepthTarget = kUnset;
}

void construct(void* block, double rate)
{
    tables();
    State& s = fxsupport::createState<State>(block);
    clear(s);
    s.rateRatio = fxsupport::safeRate(rate) / 44100.0;
}

void destroy(void*) {}

void reset(void* block)
{
    clear(fxsupport::stateOf<State>(block));
}

void setSampleRate(void* block, double rate)
{
    fxsupport::stateOf<State>(block).rateRatio = fxsupport::safeRate(rate) / 44100.0;
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const Tables& t = tables();
    const double speedKnob = fxsupport::clamp01(params[0]);
    const double speedTarget = speedKnob * speedKnob * speedKnob * speedKnob;
    const double depthTarget = fxsupport::clamp01(params[1]);
    if (s.lastSpeedTarget == kUnset) {
        // The first block after a reset starts at the knobs (however long the block is).
        s.speed = speedTarget;
        s.depth = depthTarget;
        s.lastSpeedTarget = speedTarget;
        s.lastDepthTarget = depthTarget;
    }
    const double chaseSpeed = 300.0 / (std::abs(s.lastSpeedTarget - speedTarget) + 1.0);
    const double chaseDepth = 300.0 / (std::abs(s.lastDepthTarget - depthTarget) + 1.0);
    s.lastSpeedTarget = speedTarget;
    s.lastDepthTarget = depthTarget;
    const double toTable = (kTableSize - 1) / std::numbers::pi;
    const double toHalfTable = (kTableSize - 1) / kHalfPi;
    // Divisions taken out of the per-sample recursions.
    const double speedNorm = 1.0 / (chaseSpeed + 1.0);
    const double depthNorm = 1.0 / (chaseDepth + 1.0);
    const double perRate = 1.0 / s.rateRatio;
    for (unsigned i = 0; i < frames; ++i) {
        s.speed = (speedTarget + chaseSpeed * s.speed) * speedNorm;
        s.depth = (depthTarget + chaseDepth * s.depth) * depthNorm;
        s.theta += (0.001 * s.speed + 0.0001) * perRate;
        if (s.theta > std::numbers::pi)
            s.theta -= std::numbers::pi;
        const double h = lookup(t.sinPi, s.theta * toTable);
        const double g = 1.0 - s.depth;
        const double a = 1.0 - lookup(t.pow5, g * (kTableSize - 1));
        const double f9 = lookup(t.pow9, s.depth * (kTableSize - 1));
        double j = 2.0 * g - 1.0;
        const double absH = std::abs(h);
        double c;
        if (j > 0.0) {
            c = 1.0 - j;
            j = j * lookup(t.sinHalf, absH * toHalfTable);
        } else {
            c = j + 1.0;
            j = -j * lookup(t.cosHalf, absH * toHalfTable);
        }
        const double n = absH * c + j;
        const double o = (f9 + 1.0) * (2.0 * n - 1.0);
        const float* shape = o > 0.0 ? t.sinHalf : t.cosHalf;
        const double absO = std::abs(o);
        float* io[2] = {left, right};
        for (int ch = 0; ch < 2; ++ch) {
            const double x = io[ch][i];
            const double b = lookup(shape, std::min(std::abs(x), 1.57079633) * toHalfTable);
            const double sign = x > 0.0 ? 1.0 : -1.0;
            io[ch][i] = static_cast<float>(
                x * (1.0 - a) + (1.0 - n) * (x * (1.0 - absO) + sign * absO * b) * 2.0 * a);
        }
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::TremoloFX
