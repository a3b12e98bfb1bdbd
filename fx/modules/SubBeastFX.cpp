// SubBeast: a sub-bass sine played by the input's envelope and added to the signal. A burst
// re-arms a pitch drop that sweeps back to the base tune; Tone adds FM, Drive saturates, Motion
// adds random pitch drift. The dry signal always passes at unity; Mix is the level of the sub.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::SubBeastFX {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

struct Impl
{
    double sampleRate;
    double phase;   // oscillator phase, radians
    double fmPhase; // radians
    float fastEnvelope;
    float gateEnvelope;
    float sweep;
    bool armed;
    fxsupport::XorShift32 random;
    float motion; // smoothed random pitch drift, cents
    float sweepCoefficient;
    float dropAmount;  // semitones at the top of the sweep
    float pitchOffset; // random offset drawn per burst, cents
};

struct State
{
    Impl* impl;
};

void clear(Impl& m)
{
    m.phase = 0.0;
    m.fmPhase = 0.0;
    m.fastEnvelope = 0.0f;
    m.gateEnvelope = 0.0f;
    m.sweep = 0.0f;
    m.armed = false;
    m.motion = 0.0f;
    m.sweepCoefficient = 0.99f;
    m.dropAmount = 0.0f;
    m.pitchOffset = 0.0f;
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.impl = new Impl{};
    s.impl->sampleRate = fxsupport::safeRate(rate);
    s.impl->random.state = 0xcafebabeu;
    clear(*s.impl);
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void reset(void* block)
{
    clear(*fxsupport::stateOf<State>(block).impl);
}

void setSampleRate(void* block, double rate)
{
    Impl& m = *fxsupport::stateOf<State>(block).impl;
    m.sampleRate = fxsupport::safeRate(rate);
    clear(m);
}

inline float signedUnit(uint32_t v)
{
    return static_cast<float>(static_cast<int32_t>(v)) * (1.0f / 2147483648.0f);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    const float mix = fxsupport::clamp01(params[7]);
    if (!(mix > 0.0f)) {
        return;
    }
    Impl& m = *fxsupport::stateOf<State>(block).impl;
    const float tune = fxsupport::clamp01(params[0]);
    const float snap = fxsupport::clamp01(params[1]);
    const float dropKnob = fxsupport::clamp01(params[2]);
    const float sweepKnob = fxsupport::clamp01(params[3]);
    const float tone = fxsupport::clamp01(params[4]);
    const float drive = fxsupport::clamp01(params[5]);
    const float motionKnob = fxsupport::clamp01(params[6]);
    const float rate = static_cast<float>(m.sampleRate);

    const float baseHz = 30.0f * std::pow(8.0f / 3.0f, tune);
    const float snapSeconds = 0.2f * std::pow(0.15f, snap);
    const float drop = 24.0f * dropKnob;
    const float fmRatio = 1.0f + 2.5f * tone;
    const float fmIndex = 2.5f * tone * tone;
    const float driveGain = 1.0f + 9.0f * drive * drive;
    const float u = motionKnob;

    const float attack = std::exp(-1.0f / (0.0005f * rate));
    const float release = std::exp(-1.0f / (snapSeconds * rate));
    const float gateAttack = std::exp(-1.0f / (0.005f * rate));
    const float gateRelease = std::exp(-1.0f / (0.1f * rate));
    const float motionSmoothing = std::exp(-4.0f * std::numbers::pi_v<float> / rate);
    const bool moving = motionKnob > 0.001f;
    const double baseIncrement = kTwoPi * baseHz / m.sampleRate; // radians per sample at f0

    for (unsigned i = 0; i < frames; ++i) {
        const float p = std::max(std::abs(left[i]), std::abs(right[i]));
        m.fastEnvelope += (1.0f - (p > m.fastEnvelope ? attack : release)) * (p - m.fastEnvelope);
        m.gateEnvelope +=
            (1.0f - (p > m.gateEnvelope ? gateAttack : gateRelease)) * (p - m.gateEnvelope);

        if (moving || drop > 0.0001f) {
            if (m.fastEnvelope > 0.02f && !m.armed) {
                m.armed = true;
                const float g1 = signedUnit(m.random.next());
                const float g2 = signedUnit(m.random.next());
                const float g3 = signedUnit(m.random.next());
                m.pitchOffset = 30.0f * u * g1;
                m.dropAmount = drop * (1.0f + 0.3f * u * g2);
                const float sweepSeconds =
                    std::max(0.2f * std::pow(0.025f, sweepKnob) * (1.0f + 0.3f * u * g3), 0.0001f);
                m.sweepCoefficient = std::exp(-3.0f / (sweepSeconds * rate));
                if (drop > 0.0001f) {
                    m.sweep = 1.0f;
                    m.fmPhase = 0.0;
                    m.phase = 0.0;
                }
            } else if (m.fastEnvelope < 0.005f) {
                m.armed = false;
            }
        }
        m.sweep *= m.sweepCoefficient;

        float n = 0.0f;
        if (moving) {
            n = 40.0f * u * signedUnit(m.random.next());
        }
        m.motion += (1.0f - motionSmoothing) * (n - m.motion);

        const float ratio =
            std::exp2((m.sweep * m.dropAmount + 0.01f * m.motion + 0.01f * m.pitchOffset) / 12.0f);
        const double increment = baseIncrement * ratio;
        double angle = m.phase;
        if (fmIndex > 0.0001f) {
            m.fmPhase += increment * fmRatio;
            if (m.fmPhase >= kTwoPi) {
                m.fmPhase -= kTwoPi;
            }
            angle = m.phase + fmIndex * fxsupport::fastSin(m.fmPhase);
        }
        m.phase += increment;
        if (m.phase >= kTwoPi) {
            m.phase -= kTwoPi;
        }

        float v = m.fastEnvelope * static_cast<float>(fxsupport::fastSin(angle));
        if (drive > 0.001f) {
            v = fxsupport::fastTanh(driveGain * v);
        }
        const float gate = std::clamp((m.gateEnvelope - 0.005f) * 22.222221f, 0.0f, 1.0f);
        const float sub = mix * gate * gate * v;
        left[i] += sub;
        right[i] += sub;
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::SubBeastFX
