// FreqShift: single-sideband frequency shifter, -1000..+1000 Hz. An upward shift rotates the
// analytic signal of the input; a downward shift rotates the input first and then takes the
// analytic part, which drops components that would fall below 0 Hz instead of folding them back.
// Shift and mix glide linearly over 20 ms when a block brings new values.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/dsp/HilbertPair.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

// The four phase splitters (analytic filters of Re u and Im u, left and right) run side by side,
// one all-pass chain per lane: lane 0 and 1 are the in-phase and quadrature chains of Re u left,
// 2 and 3 those of Im u left, 4..7 the same for the right channel.
constexpr int kLanes = 8;
constexpr int kSections = HilbertPair::kSections;
using Float8 = float __attribute__((vector_size(32)));

struct Splitters
{
    float coef[kSections][kLanes] = {};
    float x1[kSections][kLanes] = {};
    float y1[kSections][kLanes] = {};
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
    unsigned gridPos = 0; // frames into the current resync period
    Splitters split;
};

// The rotators are put back onto their phase accumulators (and the accumulators wrapped) every
// kResyncFrames frames counted from the module's first frame, not at each block's end, so the
// rounding, and so the sound, does not depend on the blocks it is processed in.
constexpr unsigned kResyncFrames = 256;

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
    m.gridPos = 0;
    std::memset(m.split.x1, 0, sizeof m.split.x1);
    std::memset(m.split.y1, 0, sizeof m.split.y1);
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
    HilbertPair design;
    design.setSampleRate(m.rate);
    for (int k = 0; k < kSections; ++k) {
        for (int lane = 0; lane < kLanes; ++lane) {
            m.split.coef[k][lane] = (lane & 1) ? design.coefficientsQ()[static_cast<size_t>(k)]
                                               : design.coefficientsI()[static_cast<size_t>(k)];
        }
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
    Splitters& sp = m->split;
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(kResyncFrames - m->gridPos, frames - done);
        // With the shift steady, the rotation advances by a fixed angle per sample: a rotator
        // instead of a cosine and a sine per sample. It starts from and is put back onto the
        // values of the phase accumulator, so its rounding never builds up.
        const bool steady = m->shift.remain == 0;
        const double step = m->shift.value * invRate;
        const double stepCos = steady ? std::cos(twoPi * step) : 1.0;
        const double stepSin = steady ? std::sin(twoPi * step) : 0.0;
        for (unsigned i = done; i < done + n; ++i) {
            const double shift = advance(m->shift);
            const double mix = advance(m->mix);
            const double wetGain = mix * (2.0 - mix);
            const double dryGain = 1.0 - mix * mix;
            const double xl = left[i];
            const double xr = right[i];
            // u = x e^{i phase1}; y = 2 x (positive-frequency part of u).
            const float inRe[2] = {static_cast<float>(xl * m->cos1),
                                   static_cast<float>(xr * m->cos1)};
            const float inIm[2] = {static_cast<float>(xl * m->sin1),
                                   static_cast<float>(xr * m->sin1)};
            Float8 x = {inRe[0], inRe[0], inIm[0], inIm[0], inRe[1], inRe[1], inIm[1], inIm[1]};
            for (int k = 0; k < kSections; ++k) {
                // y[n] = c (x[n] + y[n-1]) - x[n-1], with the part known before x[n] taken first.
                Float8 c, x1, y1;
                std::memcpy(&c, sp.coef[k], sizeof c);
                std::memcpy(&x1, sp.x1[k], sizeof x1);
                std::memcpy(&y1, sp.y1[k], sizeof y1);
                const Float8 y = c * x + (c * y1 - x1);
                std::memcpy(sp.x1[k], &x, sizeof x);
                std::memcpy(sp.y1[k], &y, sizeof y);
                x = y;
            }
            const double wet[2] = {
                m->cos2 * (double(x[0]) - x[3]) - m->sin2 * (double(x[1]) + x[2]),
                m->cos2 * (double(x[4]) - x[7]) - m->sin2 * (double(x[5]) + x[6]),
            };
            left[i] = static_cast<float>(wetGain * wet[0] + dryGain * xl);
            right[i] = static_cast<float>(wetGain * wet[1] + dryGain * xr);
            double& phase = shift >= 0.0 ? m->phase2 : m->phase1;
            double& co = shift >= 0.0 ? m->cos2 : m->cos1;
            double& si = shift >= 0.0 ? m->sin2 : m->sin1;
            phase += shift * invRate;
            if (steady) {
                const double c0 = co;
                co = c0 * stepCos - si * stepSin;
                si = si * stepCos + c0 * stepSin;
            } else {
                co = std::cos(twoPi * phase);
                si = std::sin(twoPi * phase);
            }
        }
        done += n;
        m->gridPos += n;
        if (m->gridPos == kResyncFrames) {
            m->gridPos = 0;
            m->phase1 -= std::floor(m->phase1);
            m->phase2 -= std::floor(m->phase2);
            if (steady) {
                double& phase = m->shift.value >= 0.0 ? m->phase2 : m->phase1;
                (m->shift.value >= 0.0 ? m->cos2 : m->cos1) = std::cos(twoPi * phase);
                (m->shift.value >= 0.0 ? m->sin2 : m->sin1) = std::sin(twoPi * phase);
            }
        }
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::FreqShifterFX
