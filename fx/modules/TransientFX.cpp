// Transient: the ratio of a slow to a fast envelope follower scales the signal. With Shape at the
// centre both follow alike and the gain stays near 1; above it the "fast" follower becomes the
// slower one and attacks are lifted, below it attacks are pulled down. Focus sets how fast both
// follow. Two pairs of followers per channel run on alternate samples.
//
// The follower ratio is limited to kMaxGain: at the first samples after silence the slower
// follower is still near 0, and the raw ratio would lift an onset by up to 60 dB.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>

namespace vesk::TransientFX {

namespace {

constexpr double kMaxGain = 8.0; // +18 dB

struct Followers
{
    double fast;
    double slow;
};

struct State
{
    Followers pairs[2][2]; // [channel][pair]
    bool flip;             // set: pair 2 runs this frame
    fxsupport::XorShift32 noise[2];
    double rateRatio; // r = rate / 44100
};

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.flip = true;
    s.noise[0].state = 0x7fffffffu;
    s.noise[1].state = 0x2aaaaaaau;
    s.rateRatio = fxsupport::safeRate(rate) / 44100.0;
}

void destroy(void*) {}

void reset(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    for (auto& channel : s.pairs) {
        channel[0] = Followers{};
        channel[1] = Followers{};
    }
    s.flip = true;
}

void setSampleRate(void* block, double rate)
{
    fxsupport::stateOf<State>(block).rateRatio = fxsupport::safeRate(rate) / 44100.0;
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const double trim = std::pow(10.0, (24.0 * fxsupport::clamp01(params[0]) - 12.0) / 20.0);
    const double shape = 2.0 * fxsupport::clamp01(params[1]) - 1.0;
    const double focus = fxsupport::clamp01(params[2]) + 0.2;
    const double f = 1.0 / (s.rateRatio * std::pow(focus, 7.0));
    const double slowCoef = 1.0 / (f + 1.0);
    const double fastCoef = shape > 0.0
                                ? 1.0 / (f / (1.001 - shape) + 1.0)
                                : 1.0 / ((1.001 - (0.75 * shape) * (0.75 * shape)) * f + 1.0);
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        const int pair = s.flip ? 1 : 0;
        for (int c = 0; c < 2; ++c) {
            const double x = trim * fxsupport::denormalGuard(io[c][i], s.noise[c].state);
            const double a = std::abs(x);
            Followers& fl = s.pairs[c][pair];
            fl.fast += fastCoef * (a - fl.fast);
            fl.slow += slowCoef * (a - fl.slow);
            const double gain = fl.fast > 0.0 ? std::min(fl.slow / fl.fast, kMaxGain) : 1.0;
            io[c][i] = static_cast<float>(x * gain);
        }
        s.noise[0].next();
        s.noise[1].next();
        s.flip = !s.flip;
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::TransientFX
