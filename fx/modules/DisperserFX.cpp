// Disperser: up to 32 second-order all-pass stages (state-variable form) per channel, smearing
// the phase around 30..600 Hz, optionally spread over +-2.5 octaves and driven into tanh.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::DisperserFX {

namespace {

constexpr int kMaxStages = 32;

struct Impl
{
    double rate = 48000.0;
    float s1[kMaxStages][2] = {};
    float s2[kMaxStages][2] = {};
    double g = 0.0;       // frequency coefficient, smoothed
    double k = 0.0;       // damping, smoothed
    double smoothing = 0; // per-sample coefficient (5 ms)
    double mult[kMaxStages] = {};
    float cachedSpread = -1.0f;
    int cachedStages = -1;
};

struct State
{
    Impl* impl;
};

double usableRate(double rate)
{
    return rate >= 1.0 && std::isfinite(rate) ? rate : 48000.0;
}

void clear(Impl& m)
{
    std::fill(&m.s1[0][0], &m.s1[0][0] + 2 * kMaxStages, 0.0f);
    std::fill(&m.s2[0][0], &m.s2[0][0] + 2 * kMaxStages, 0.0f);
    m.g = 0.0;
    m.k = 0.0;
    std::fill(m.mult, m.mult + kMaxStages, 1.0);
    m.cachedSpread = -1.0f;
    m.cachedStages = -1;
}

void setRate(Impl& m, double rate)
{
    m.rate = usableRate(rate);
    m.smoothing = 1.0 - std::exp(-1.0 / (0.005 * m.rate));
    clear(m);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.impl = new Impl;
    setRate(*s.impl, rate);
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void reset(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        clear(*m);
}

void setSampleRate(void* block, double rate)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        setRate(*m, rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr)
        return;
    const int stages = static_cast<int>(std::lround(fxsupport::clamp01(params[2]) * kMaxStages));
    if (stages == 0)
        return;
    const double rate = m->rate;
    const double fc = 30.0 * std::pow(20.0, double(fxsupport::clamp01(params[0])));
    const double gTarget =
        fc >= 10.0 ? std::tan(std::numbers::pi * std::min(0.5 * rate - 100.0, fc) / rate)
                   : std::tan(10.0 * std::numbers::pi / rate);
    const double q = fxsupport::clamp01(params[3]);
    const double quality = std::max(0.5 + 7.5 * q * q * q, 0.1);
    const double kTarget = 1.0 / (2.0 * quality);
    const float spread = fxsupport::clamp01(params[1]);
    const bool spreading = spread > 0.001f;
    if (spread != m->cachedSpread || stages != m->cachedStages) {
        for (int i = 0; i < stages; ++i) {
            m->mult[i] = (spreading && stages != 1)
                             ? std::exp2(2.5 * spread * (2.0 * i / (stages - 1) - 1.0))
                             : 1.0;
        }
        m->cachedSpread = spread;
        m->cachedStages = stages;
    }
    const float driveKnob = fxsupport::clamp01(params[4]);
    const bool driving = driveKnob > 0.001f;
    const double drive = 1.0 + 9.0 * driveKnob * driveKnob;
    const double sm = m->smoothing;
    // Per stage: the frequency coefficient gi and, with h = 1 / (gi^2 + 2 k gi + 1), the band-pass
    // as bp = a v + (s1 - gi s2) h with a = gi h, and the output v - 4 k bp = p v - 4 k (s1 - gi
    // s2) h with p = 1 - 4 k a. Only the multiply-adds by a and p wait for the previous stage.
    double gi[kMaxStages], h[kMaxStages], a[kMaxStages], p[kMaxStages];
    const auto plan = [&](double g, double k) {
        for (int i = 0; i < stages; ++i) {
            gi[i] = spreading ? g * m->mult[i] : g;
            h[i] = 1.0 / (gi[i] * gi[i] + 2.0 * k * gi[i] + 1.0);
            a[i] = gi[i] * h[i];
            p[i] = 1.0 - 4.0 * k * a[i];
        }
    };
    // Once the smoothing is within rounding of its targets they are taken as reached, and the
    // coefficients hold for the whole block.
    const auto settle = [](double& value, double target) {
        if (std::abs(target - value) <= 1e-12 * std::abs(target))
            value = target;
    };
    settle(m->g, gTarget);
    settle(m->k, kTarget);
    const bool steady = m->g == gTarget && m->k == kTarget;
    if (steady)
        plan(gTarget, kTarget);
    float* io[2] = {left, right};
    for (unsigned n = 0; n < frames; ++n) {
        if (!steady) {
            m->g += (gTarget - m->g) * sm;
            m->k += (kTarget - m->k) * sm;
            plan(m->g, m->k);
        }
        const double fourK = 4.0 * m->k;
        double v[2] = {io[0][n], io[1][n]};
        for (int i = 0; i < stages; ++i) {
            for (int c = 0; c < 2; ++c) {
                double s1 = m->s1[i][c];
                double s2 = m->s2[i][c];
                const double rest = (s1 - gi[i] * s2) * h[i];
                const double bp = a[i] * v[c] + rest;
                v[c] = p[i] * v[c] - fourK * rest;
                s1 = 2.0 * bp - s1;
                s2 = s2 + 2.0 * gi[i] * bp;
                m->s1[i][c] = std::abs(s1) < 1e-20 ? 0.0f : static_cast<float>(s1);
                m->s2[i][c] = std::abs(s2) < 1e-20 ? 0.0f : static_cast<float>(s2);
            }
        }
        for (int c = 0; c < 2; ++c)
            io[c][n] = static_cast<float>(driving ? std::tanh(drive * v[c]) : v[c]);
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::DisperserFX
