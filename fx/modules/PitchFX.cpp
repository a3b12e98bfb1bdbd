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

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0 || frames > kMaxBlock)
        return;
    const float pitch = semitones(params[0]);
    const float formant = semitones(params[1]);
    const double mix = fxsupport::clamp01(params[2]);
    m->shifter->setShift(pitch, formant);

    double inputEnergy = 0.0;
    for (unsigned i = 0; i < frames; ++i)
        inputEnergy += double(left[i]) * left[i] + double(right[i]) * right[i];

    float* wetL = m->wet.get();
    float* wetR = wetL + kMaxBlock;
    // After 0.24 s of silence the shifter is reset once and skipped until sound returns.
    const unsigned silenceLimit = static_cast<unsigned>(0.24 * m->rate);
    bool run = true;
    if (inputEnergy >= 1e-15) {
        m->silence = 0;
        m->active = true;
    } else {
        m->silence = std::min(m->silence + frames, silenceLimit);
        if (m->silence >= silenceLimit) {
            if (m->active) {
                m->shifter->reset();
                m->active = false;
            }
            run = false;
        }
    }
    if (run) {
        m->shifter->process(left, right, wetL, wetR, frames);
    } else {
        std::copy(left, left + frames, wetL);
        std::copy(right, right + frames, wetR);
    }

    // Dry path: the input `latency` frames back, so dry and wet refer to the same moment.
    float* dryL = m->dry.get();
    float* dryR = dryL + m->ringSize;
    double dryEnergy = 0.0;
    double wetEnergy = 0.0;
    unsigned w = m->write;
    for (unsigned i = 0; i < frames; ++i) {
        dryL[w] = left[i];
        dryR[w] = right[i];
        const unsigned r = w >= m->latency ? w - m->latency : w + m->ringSize - m->latency;
        // Reuse the input buffers for the delayed dry signal.
        left[i] = dryL[r];
        right[i] = dryR[r];
        dryEnergy += double(left[i]) * left[i] + double(right[i]) * right[i];
        wetEnergy += double(wetL[i]) * wetL[i] + double(wetR[i]) * wetR[i];
        if (++w == m->ringSize)
            w = 0;
    }
    m->write = w;

    // A formant shift changes the level; compare the wet output with the dry input it was made
    // from (both latency frames back) and follow with a slow gain.
    double target = 1.0;
    if (formant != 0.0f && wetEnergy > 1e-12)
        target = std::clamp(std::sqrt(dryEnergy / wetEnergy), 0.25, 4.0);
    m->gain += (target - m->gain) * (1.0 - std::exp(-10.0 * frames / m->rate));

    const double wetGain = mix * m->gain;
    for (unsigned i = 0; i < frames; ++i) {
        left[i] = static_cast<float>(left[i] * (1.0 - mix) + wetGain * wetL[i]);
        right[i] = static_cast<float>(right[i] * (1.0 - mix) + wetGain * wetR[i]);
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::PitchFX
