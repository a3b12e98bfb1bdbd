// Pitch: transposes by -24..+24 semitones and shifts the formants on top of that, over the
// constant-latency pitch shifter. The dry path is delayed by the same latency, so any mix stays
// aligned; a formant shift's change of level is compensated by a slow gain.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/dsp/PitchShifter.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vesk::PitchFX {

namespace {

constexpr unsigned kMaxBlock = PitchShifter::kMaxBlock;
constexpr unsigned kRingExtra = 4100;
constexpr unsigned kGainCell = 256;             // frames over which the levels are compared
constexpr double kSoundingEnergy = 1e-15 / 256; // per frame: a sample that is not silence

struct Impl
{
    std::unique_ptr<PitchShifter> shifter;
    std::unique_ptr<float[]> dry; // 2 x ringSize
    std::unique_ptr<float[]> wet; // 2 x kMaxBlock
    unsigned ringSize = 0;
    unsigned write = 0;
    unsigned latency = 0;
    unsigned silence = 0; // frames of silent input in a row
    bool active = false;
    double gain = 1.0;
    unsigned cellFrames = 0; // into the current level cell
    double dryEnergy = 0.0;  // of the current level cell
    double wetEnergy = 0.0;
    double rate = 48000.0;
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
    m.shifter->reset();
    std::fill(m.dry.get(), m.dry.get() + 2 * size_t(m.ringSize), 0.0f);
    m.write = 0;
    m.gain = 1.0;
    m.silence = 0;
    m.active = false;
    m.cellFrames = 0;
    m.dryEnergy = m.wetEnergy = 0.0;
}

// [main thread] Builds the shifter and the rings for a rate.
void build(Impl& m, double rate)
{
    m.rate = usableRate(rate);
    m.shifter = std::make_unique<PitchShifter>(m.rate);
    m.latency = m.shifter->latencyFrames();
    m.ringSize = m.latency + kRingExtra;
    m.dry = std::make_unique<float[]>(2 * size_t(m.ringSize));
    m.wet = std::make_unique<float[]>(2 * size_t(kMaxBlock));
    clear(m);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    auto impl = std::make_unique<Impl>();
    build(*impl, rate);
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
        clear(*m);
}

void setSampleRate(void* block, double rate)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m != nullptr && usableRate(rate) != m->rate)
        build(*m, rate);
}

float semitones(float v)
{
    return fxsupport::clampTo(v, -24.0f, 24.0f);
}

// Runs the shifter over [from, to) of the block, or passes the input through while it rests.
void wetRange(Impl& m, const float* left, const float* right, float* wetL, float* wetR,
              unsigned from, unsigned to, bool run)
{
    if (to <= from)
        return;
    if (run) {
        m.shifter->process(left + from, right + from, wetL + from, wetR + from, to - from);
    } else {
        std::copy(left + from, left + to, wetL + from);
        std::copy(right + from, right + to, wetR + from);
    }
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0 || frames > kMaxBlock)
        return;
    const float pitch = semitones(params[0]);
    const float formant = semitones(params[1]);
    const double mix = fxsupport::clamp01(params[2]);
    m->shifter->setShift(pitch, formant);

    float* wetL = m->wet.get();
    float* wetR = wetL + kMaxBlock;
    // After 0.24 s of silent input the shifter is reset once and rests until a sample sounds
    // again. Both are decided per frame, so the frame at which it happens does not depend on
    // how the host cuts its blocks.
    const unsigned silenceLimit = static_cast<unsigned>(0.24 * m->rate);
    unsigned from = 0;
    for (unsigned i = 0; i < frames; ++i) {
        const double e = double(left[i]) * left[i] + double(right[i]) * right[i];
        if (e >= kSoundingEnergy) {
            if (!m->active) {
                wetRange(*m, left, right, wetL, wetR, from, i, false);
                from = i;
                m->active = true;
            }
            m->silence = 0;
        } else if (m->active && ++m->silence >= silenceLimit) {
            wetRange(*m, left, right, wetL, wetR, from, i + 1, true);
            from = i + 1;
            m->shifter->reset();
            m->active = false;
        }
    }
    wetRange(*m, left, right, wetL, wetR, from, frames, m->active);

    // Dry path: the input `latency` frames back, so dry and wet refer to the same moment. A
    // formant shift changes the level: the wet output is compared with the dry input it was made
    // from over cells of kGainCell frames counted from the module's first frame, and a slow gain
    // follows; each cell takes the gain worked out at the end of the one before.
    float* dryL = m->dry.get();
    float* dryR = dryL + m->ringSize;
    const double follow = 1.0 - std::exp(-10.0 * kGainCell / m->rate);
    unsigned w = m->write;
    for (unsigned i = 0; i < frames; ++i) {
        dryL[w] = left[i];
        dryR[w] = right[i];
        const unsigned r = w >= m->latency ? w - m->latency : w + m->ringSize - m->latency;
        const double dl = dryL[r], dr = dryR[r];
        const double wl = wetL[i], wr = wetR[i];
        m->dryEnergy += dl * dl + dr * dr;
        m->wetEnergy += wl * wl + wr * wr;
        const double wetGain = mix * m->gain;
        left[i] = static_cast<float>(dl * (1.0 - mix) + wetGain * wl);
        right[i] = static_cast<float>(dr * (1.0 - mix) + wetGain * wr);
        if (++w == m->ringSize)
            w = 0;
        if (++m->cellFrames == kGainCell) {
            double target = 1.0;
            if (formant != 0.0f && m->wetEnergy > 1e-12)
                target = std::clamp(std::sqrt(m->dryEnergy / m->wetEnergy), 0.25, 4.0);
            m->gain += (target - m->gain) * follow;
            m->cellFrames = 0;
            m->dryEnergy = m->wetEnergy = 0.0;
        }
    }
    m->write = w;
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::PitchFX
