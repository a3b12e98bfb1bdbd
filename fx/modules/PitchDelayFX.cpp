// PitchDelay: a feedback delay whose repeats are transposed (an octave down to an octave up) by
// two read heads that move against the write head, half a cycle apart and crossfaded.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::PitchDelayFX {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHeadSpan = 1024.0; // samples of head travel per radian

struct State
{
    float* lines; // 2 x size
    unsigned size;
    unsigned write;
    double theta;
    double delay; // smoothed, samples
    double highPass[2];
    double previous[2];
    bool fresh;
    double rate;
};

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
    s.highPass[0] = s.highPass[1] = 0.0;
    s.previous[0] = s.previous[1] = 0.0;
    s.fresh = true;
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    fxsupport::resizeStereoLine(s.lines, s.size, static_cast<unsigned>(1.5 * s.rate) + 4);
    clear(s);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.lines == nullptr)
        return;
    const double ratio = std::exp2(2.0 * fxsupport::clamp01(params[0]) - 1.0);
    const double time = fxsupport::clamp01(params[1]);
    const double maxDelay = double(s.size) - 2.0;
    const double target = std::clamp(1.5 * s.rate * time * time, 1.0, maxDelay);
    const double feedback = 0.95 * fxsupport::clamp01(params[2]);
    const double mix = fxsupport::clamp01(params[3]);
    if (s.fresh) {
        s.delay = target;
        s.theta = 0.0;
        s.fresh = false;
    }
    const double step = (ratio - 1.0) / kHeadSpan;
    float* line[2] = {s.lines, s.lines + s.size};
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        s.theta += step;
        if (s.theta >= kTwoPi)
            s.theta -= kTwoPi;
        else if (s.theta < 0.0)
            s.theta += kTwoPi;
        s.delay += (target - s.delay) * 0.0005;
        double other = s.theta + std::numbers::pi;
        if (other >= kTwoPi)
            other -= kTwoPi;
        double d1 = s.delay - kHeadSpan * s.theta;
        double d2 = s.delay - kHeadSpan * other;
        if (d1 < 0.0)
            d1 += s.size;
        if (d2 < 0.0)
            d2 += s.size;
        d1 = std::clamp(d1, 1.0, maxDelay);
        d2 = std::clamp(d2, 1.0, maxDelay);
        const double w = 0.5 * (1.0 - std::cos(s.theta));
        for (int c = 0; c < 2; ++c) {
            const double x = io[c][i];
            const double y = w * fxsupport::readFractional(line[c], s.size, s.write, d1) +
                             (1.0 - w) * fxsupport::readFractional(line[c], s.size, s.write, d2);
            s.highPass[c] = 0.995 * s.highPass[c] + y - s.previous[c];
            s.previous[c] = y;
            line[c][s.write] = static_cast<float>(x + feedback * s.highPass[c] + 1e-25);
            io[c][i] = static_cast<float>(x * (1.0 - mix) + y * mix);
        }
        if (++s.write == s.size)
            s.write = 0;
    }
}

using Lifecycle = fxsupport::DelayLineLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::PitchDelayFX
