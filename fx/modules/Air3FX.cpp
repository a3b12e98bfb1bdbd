// Air Boost: lifts the band above a smoothed, adaptively predicted low part ("air") and scales the
// low part ("ground"). Air 0.5 with Ground 0.5 is the identity.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>

namespace vesk::Air3FX {

namespace {

struct Channel
{
    double y1, y2, y3, y4; // last four values of the internal series
    double amount;         // adaptive amount A
    double previousE;
};

struct State
{
    Channel channels[2];
    double exponent;  // P = 3 + sqrt(r)
    double amountCap; // 0.3 sqrt(r)
    double weight;    // k = 1 - (0.457 - 0.017 r)
};

void derive(State& s, double rate)
{
    const double r = fxsupport::safeRate(rate) / 44100.0;
    s.exponent = 3.0 + std::sqrt(r);
    s.amountCap = 0.3 * std::sqrt(r);
    s.weight = 1.0 - (0.457 - 0.017 * r);
}

void construct(void* block, double rate)
{
    derive(fxsupport::createState<State>(block), rate);
}

void destroy(void*) {}

void reset(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    s.channels[0] = Channel{};
    s.channels[1] = Channel{};
}

void setSampleRate(void* block, double rate)
{
    derive(fxsupport::stateOf<State>(block), rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    double airGain = 2.0 * fxsupport::clamp01(params[0]);
    if (airGain > 1.0) {
        airGain = std::pow(airGain, s.exponent);
    }
    const double groundGain = 2.0 * fxsupport::clamp01(params[1]);
    float* io[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        Channel ch = s.channels[c];
        float* x = io[c];
        for (unsigned i = 0; i < frames; ++i) {
            const double in = x[i];
            const double f = ch.y1 - 2.0 * ch.y2 + ch.y3 - 0.5 * (ch.y4 + in);
            ch.amount = std::min(s.amountCap, 0.5 * std::abs(in - f) + 0.5 * ch.amount);
            if (ch.amount < 1e-30) {
                ch.amount = 0.0;
            }
            const double e = s.weight * in - 0.5 * f;
            const double low = 0.5 * (e + ch.previousE);
            x[i] = static_cast<float>(airGain * (in - low) + groundGain * low);
            ch.y4 = ch.y3;
            ch.y3 = ch.y2;
            ch.y2 = ch.y1;
            ch.y1 = ch.amount * f + in;
            ch.previousE = e;
        }
        s.channels[c] = ch;
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::Air3FX
