// FreqShift: single-sideband frequency shifter, -1000..+1000 Hz. An upward shift rotates the
// analytic signal of the input; a downward shift rotates the input first and then takes the
// analytic part, which drops components that would fall below 0 Hz instead of folding them back.
// Shift and mix glide linearly over 20 ms when a block brings new values.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/dsp/HilbertPair.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::FreqShifterFX {

namespace {

struct Glide
{
    double value;    // current
    double target;   // where the running glide ends
    double step;     // per sample
    unsigned remain; // samples left
};

struct Channel
{
    HilbertPair real; // analytic filter of Re u
    HilbertPair imag; // analytic filter of Im u
};

struct Impl
{
    double rate = 48000.0;
    bool configured = false;
    bool started = false; // a first block has set the values
    Glide shift{};        // Hz
    Glide mix{};          // 0..1
    double phase1 = 0.0;  // input rotation, cycles
    double phase2 = 0.0;  // output rotation, cycles
    double cos1 = 1.0, sin1 = 0.0;
    double cos2 = 1.0, sin2 = 0.0;
    Channel channels[2];
};

struct State
{
    Impl* impl;
};

double usableRate(double rate)
{
    return rate >= 1.0 && std::isfinite(rate) ? rate : 48000.0;
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.impl = new Impl;
    s.impl->rate = usableRate(rate);
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void clearSignal(Impl& m)
{
    m.phase1 = m.phase2 = 0.0;
    m.cos1 = m.cos2 = 1.0;
    m.sin1 = m.sin2 = 0.0;
    for (Channel& c : m.channels) {
        c.real.reset();
        c.imag.reset();
    }
}

void reset(void* block)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || !m->configured)
        return;
    for (Glide* g : {&m->shift, &m->mix}) {
        g->value = g->target;
        g->remain = 0;
    }
    clearSignal(*m);
}

void setSampleRate(void* block, double rate)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr)
        return;
    m->rate = usableRate(rate);
    m->configured = false;
}

void configure(Impl& m)
{
    for (Channel& c : m.channels) {
        c.real.setSampleRate(m.rate);
        c.imag.setSampleRate(m.rate);
    }
    clearSignal(m);
    m.configured = true;
}

// Starts a glide to a new target, or stretches a running one to end at the block's end.
void retarget(Glide& g, double target, unsigned glideSamples, unsigned frames)
{
    if (target != g.target) {
        g.target = target;
        g.remain = glideSamples;
    }
    if (g.remain == 0) {
        g.value = g.target;
        g.step = 0.0;
        return;
    }
    g.remain = std::max(g.remain, frames);
    g.step = (g.target - g.value) / g.remain;
}

inline double advance(Glide& g)
{
    if (g.remain > 0) {
        g.value += g.step;
        if (--g.remain == 0)
            g.value = g.target;
    }
    return g.value;
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0)
        return;
    if (!m->configured)
        configure(*m);
    const double shiftTarget = knobToShiftHz(fxsupport::clamp01(params[0]));
    const double mixTarget = fxsupport::clamp01(params[1]);
    if (!m->started) {
        m->shift = Glide{shiftTarget, shiftTarget, 0.0, 0};
        m->mix = Glide{mixTarget, mixTarget, 0.0, 0};
        m->started = true;
    }
    const unsigned glideSamples = std::max(1u, static_cast<unsigned>(0.02 * m->rate));
    retarget(m->shift, shiftTarget, glideSamples, frames);
    retarget(m->mix, mixTarget, glideSamples, frames);

    const double twoPi = 2.0 * std::numbers::pi;
    const double invRate = 1.0 / m->rate;
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        const double shift = advance(m->shift);
        const double mix = advance(m->mix);
        const double wetGain = mix * (2.0 - mix);
        const double dryGain = 1.0 - mix * mix;
        for (int c = 0; c < 2; ++c) {
            Channel& ch = m->channels[c];
            const float x = io[c][i];
            // u = x e^{i phase1}; y = 2 x (positive-frequency part of u).
            float ar, br, ai, bi;
            ch.real.process(static_cast<float>(x * m->cos1), ar, br);
            ch.imag.process(static_cast<float>(x * m->sin1), ai, bi);
            const double yRe = double(ar) - bi;
            const double yIm = double(br) + ai;
            const double wet = m->cos2 * yRe - m->sin2 * yIm;
            io[c][i] = static_cast<float>(wetGain * wet + dryGain * x);
        }
        if (shift >= 0.0) {
            m->phase2 += shift * invRate;
            m->cos2 = std::cos(twoPi * m->phase2);
            m->sin2 = std::sin(twoPi * m->phase2);
        } else {
            m->phase1 += shift * invRate;
            m->cos1 = std::cos(twoPi * m->phase1);
            m->sin1 = std::sin(twoPi * m->phase1);
        }
    }
    m->phase1 -= std::floor(m->phase1);
    m->phase2 -= std::floor(m->phase2);
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::FreqShifterFX
