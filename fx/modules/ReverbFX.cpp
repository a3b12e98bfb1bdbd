// Reverb: the master's FDN reverb engine run fully wet in a bus slot, mixed in mid/side with a
// fixed width of 0.8. A trigger ducks the old tail out over 30 ms, clears the reverb during a
// 5 ms gap and fades the new wet signal in over 80 ms.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/FXVTables.h"
#include "fx/dsp/FdnReverb.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vesk::ReverbFX {

namespace {

constexpr unsigned kMaxBlock = 4096;
constexpr double kMaxRoomMs = 200.0;
constexpr double kWidth = 0.8;

struct Impl
{
    dsp::FdnReverb reverb;
    float wet[2][kMaxBlock] = {};
    double rate = 0.0;
    float knobs[3] = {-1.0f, -1.0f, -1.0f}; // Size, Decay, Damp last applied
    unsigned fadeOut = 0, gap = 0, fadeIn = 0, total = 0;
    unsigned duck = 0; // position in the duck; total = no duck
    bool cleared = false;
};

struct State
{
    Impl* impl;
};

void setRate(Impl& m, double rate)
{
    rate = fxsupport::safeRate(rate);
    // The engine allocates when configured: only here, on the main thread.
    if (rate != m.rate || !m.reverb.configured()) {
        m.reverb.configure(rate, kMaxRoomMs);
        m.knobs[0] = -1.0f; // parameters are applied again on the next block
    }
    m.rate = rate;
    m.fadeOut = static_cast<unsigned>(0.03 * rate);
    m.gap = static_cast<unsigned>(0.005 * rate);
    m.fadeIn = static_cast<unsigned>(0.08 * rate);
    m.total = m.fadeOut + m.gap + m.fadeIn;
    m.duck = std::min(m.duck, m.total);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    auto impl = std::make_unique<Impl>();
    setRate(*impl, rate);
    impl->duck = impl->total;
    s.impl = impl.release();
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
        m->reverb.reset();
}

void setSampleRate(void* block, double rate)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        setRate(*m, rate);
}

void applyKnobs(Impl& m, float size, float decay, float damp)
{
    if (size == m.knobs[0] && decay == m.knobs[1] && damp == m.knobs[2])
        return;
    m.knobs[0] = size;
    m.knobs[1] = decay;
    m.knobs[2] = damp;
    dsp::FdnReverbParams p;
    p.roomMs = 20.0 + 180.0 * size;
    p.rt20Seconds = 0.3 + 5.7 * decay;
    p.early = 1.0;
    p.detuneCents = 3.0;
    p.lowCutHz = 80.0;
    p.highCutHz = 12000.0;
    p.lowDampRate = 1.5;
    p.highDampRate = 1.0 + 9.0 * damp;
    m.reverb.setParams(p);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    const float mixKnob = params[3];
    if (m == nullptr || frames == 0 || frames > kMaxBlock || !(mixKnob > 0.0f))
        return;
    const double mix = std::min(mixKnob, 1.0f);
    applyKnobs(*m, fxsupport::clamp01(params[0]), fxsupport::clamp01(params[1]),
               fxsupport::clamp01(params[2]));

    // Run the engine; when the duck reaches its gap inside this block, the engine is cleared at
    // that sample, so the part of the block after it already starts from silence.
    unsigned clearAt = frames;
    if (m->duck < m->total && !m->cleared) {
        const unsigned gapStart = m->fadeOut;
        clearAt = m->duck >= gapStart ? 0 : std::min(frames, gapStart - m->duck);
    }
    float* wl = m->wet[0];
    float* wr = m->wet[1];
    if (clearAt > 0)
        m->reverb.process(left, right, wl, wr, clearAt);
    if (clearAt < frames) {
        m->reverb.reset();
        m->cleared = true;
        m->reverb.process(left + clearAt, right + clearAt, wl + clearAt, wr + clearAt,
                          frames - clearAt);
    }

    for (unsigned i = 0; i < frames; ++i) {
        double u = 1.0;
        if (m->duck < m->total) {
            const unsigned d = m->duck;
            if (d < m->fadeOut)
                u = 1.0 - double(d) / m->fadeOut;
            else if (d < m->fadeOut + m->gap)
                u = 0.0;
            else
                u = double(d - m->fadeOut - m->gap) / m->fadeIn;
            ++m->duck;
        }
        const double mid = 0.5 * (double(wl[i]) + wr[i]);
        const double side = 0.5 * (double(wl[i]) - wr[i]);
        left[i] = static_cast<float>((1.0 - mix) * left[i] + mix * u * (mid + kWidth * side));
        right[i] = static_cast<float>((1.0 - mix) * right[i] + mix * u * (mid - kWidth * side));
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

// [audio thread] A trigger starts the duck: old tail out, reverb cleared, new sound faded in.
void notifyTrigger(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl) {
        m->duck = 0;
        m->cleared = false;
    }
}

} // namespace vesk::ReverbFX
