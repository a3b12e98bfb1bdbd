// Phaser: four first-order all-passes per channel around a centre that an LFO sweeps over
// +-2.5 octaves from 700 Hz, with feedback from the last stage.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::PhaserFX {

namespace {

// The all-pass coefficient moves every kRun frames, counted from the module's first frame (not
// from each block's), so the sound does not depend on the blocks it is processed in.
constexpr unsigned kRun = 32;
constexpr int kStages = 4;

struct State
{
    float mem[2][kStages];
    float last[2];
    float phase;
    float rate;
    float twoPiOverRate;
    float piOverRate;
    float alpha;     // the all-pass coefficient of the current run
    unsigned runPos; // frames of the current run already processed
};

void setRate(State& s, double rate)
{
    const double r = fxsupport::safeRate(rate);
    s.rate = static_cast<float>(r);
    s.twoPiOverRate = static_cast<float>(2.0 * std::numbers::pi / r);
    s.piOverRate = static_cast<float>(std::numbers::pi / r);
}

void clear(State& s)
{
    for (int c = 0; c < 2; ++c) {
        std::fill(s.mem[c], s.mem[c] + kStages, 0.0f);
        s.last[c] = 0.0f;
    }
    s.phase = 0.0f;
    s.alpha = 0.0f;
    s.runPos = 0;
}

void construct(void* block, double rate)
{
    setRate(fxsupport::createState<State>(block), rate);
}

void destroy(void*) {}

void reset(void* block)
{
    clear(fxsupport::stateOf<State>(block));
}

void setSampleRate(void* block, double rate)
{
    setRate(fxsupport::stateOf<State>(block), rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const float rateKnob = fxsupport::clamp01(params[0]);
    const float increment = (0.05f + 7.95f * rateKnob * rateKnob) * s.twoPiOverRate;
    const float depth = fxsupport::clamp01(params[1]);
    const float feedback = 0.95f * fxsupport::clamp01(params[2]);
    const float mix = fxsupport::clamp01(params[3]);
    constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
    // Keep the centre below Nyquist so tan stays finite and the all-passes stable.
    const float maxCentre = 0.49f * s.rate;
    float* io[2] = {left, right};
    unsigned done = 0;
    while (done < frames) {
        if (s.runPos == 0) {
            const float centre =
                std::min(maxCentre, 700.0f * std::exp2(2.5f * depth * std::sin(s.phase)));
            const float t = std::tan(centre * s.piOverRate);
            s.alpha = (t - 1.0f) / (t + 1.0f);
        }
        const unsigned run = std::min(kRun - s.runPos, frames - done);
        const float alpha = s.alpha;
        for (unsigned k = 0; k < run; ++k) {
            const unsigned i = done + k;
            for (int c = 0; c < 2; ++c) {
                const float x = io[c][i];
                float v = x + feedback * s.last[c];
                for (int st = 0; st < kStages; ++st) {
                    const float y = alpha * v + s.mem[c][st];
                    s.mem[c][st] = v - alpha * y;
                    v = y;
                }
                s.last[c] = v;
                io[c][i] = x + mix * v;
            }
            s.phase += increment;
            if (s.phase >= kTwoPi)
                s.phase -= kTwoPi;
        }
        done += run;
        s.runPos += run;
        if (s.runPos == kRun) {
            s.runPos = 0;
            for (int c = 0; c < 2; ++c) {
                for (float& m : s.mem[c])
                    if (std::abs(m) < 1e-30f)
                        m = 0.0f;
                if (std::abs(s.last[c]) < 1e-30f)
                    s.last[c] = 0.0f;
            }
        }
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::PhaserFX
