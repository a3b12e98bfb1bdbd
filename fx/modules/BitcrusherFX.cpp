// Bitcrusher: sample-and-hold rate reduction with interpolated hold values, then amplitude
// quantisation; both controls glide towards their targets per sample. Output stays within +-1.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>

namespace vesk::BitcrusherFX {

namespace {

struct State
{
    double previous[2]; // previous input per channel
    double hold[2];
    double phase;
    double rateControl;  // l1, smoothed hold increment
    double levelControl; // l2, smoothed quantisation step
    double rateRatio;    // r = rate / 44100
};

void construct(void* block, double rate)
{
    fxsupport::createState<State>(block).rateRatio = fxsupport::safeRate(rate) / 44100.0;
}

void destroy(void*) {}

void reset(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    const double r = s.rateRatio;
    s = State{};
    s.rateRatio = r;
}

void setSampleRate(void* block, double rate)
{
    fxsupport::stateOf<State>(block).rateRatio = fxsupport::safeRate(rate) / 44100.0;
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const double c = fxsupport::clamp01(params[0]);
    const double rez = fxsupport::clamp01(params[1]);
    const double d = std::min(1.0, c * c * c + 0.0005);
    const double e = (d + 1.0) / 2.0;
    const double f = 1.0 - rez;
    const double rateTarget = d / s.rateRatio;
    const double levelTarget = f * f * f / 3.0;
    const bool fullRate = c >= 0.999;
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        s.rateControl = (999.0 * s.rateControl + rateTarget) / 1000.0;
        s.levelControl = (999.0 * s.levelControl + levelTarget) / 1000.0;
        bool wrapped = false;
        if (fullRate) {
            s.phase = 0.0;
        } else {
            s.phase += s.rateControl;
            if (s.phase > 1.0) {
                s.phase -= 1.0;
                if (s.phase > 1.0) {
                    s.phase -= std::floor(s.phase); // increments above 1 at low rates
                }
                wrapped = true;
            }
        }
        for (int ch = 0; ch < 2; ++ch) {
            const double in = io[ch][i];
            double out;
            if (fullRate) {
                s.hold[ch] = in;
                out = in;
            } else {
                out = s.hold[ch];
                if (wrapped) {
                    const double newHold = s.previous[ch] * s.phase + (1.0 - s.phase) * in;
                    out = (1.0 - e) * s.hold[ch] + e * newHold;
                    s.hold[ch] = newHold;
                }
            }
            const double step = s.levelControl;
            if (step > 0.0005) {
                out = step * (1.0 - step) *
                      fxsupport::roundHalfAway(std::clamp(out / step, -1.0e15, 1.0e15));
            }
            io[ch][i] = static_cast<float>(std::clamp(out, -1.0, 1.0));
            s.previous[ch] = in;
        }
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::BitcrusherFX
