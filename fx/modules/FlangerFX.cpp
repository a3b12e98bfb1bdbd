// Flanger: a 0.1..15 ms delay swept by a sine LFO (interpolated per run of 32 samples, counted
// from the module's first frame so blocks of any size give the same sound), with positive or
// negative feedback.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::FlangerFX {

namespace {

constexpr unsigned kRun = 32;

struct State
{
    float* lines; // 2 x size
    unsigned size;
    unsigned mask;
    unsigned write;
    double phase; // radians, at the end of the current run
    double rate;
    double lfoStart; // the LFO at the start of the current run
    double lfoStep;  // and its change per frame over the run
    unsigned runPos; // frames of the current run already processed
};

unsigned lineSize(double rate)
{
    const unsigned size = fxsupport::powerOfTwoAtLeast(0.031 * rate + 4.0);
    return size < 256 ? 256 : size;
}

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
    s.phase = 0.0;
    s.runPos = 0;
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    const unsigned size = lineSize(s.rate);
    fxsupport::resizeStereoLine(s.lines, s.size, size);
    s.mask = size - 1;
    clear(s);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.lines == nullptr)
        return;
    const double base =
        0.1 * std::pow(150.0, double(fxsupport::clamp01(params[0]))) * s.rate / 1000.0;
    const double rateKnob = fxsupport::clamp01(params[1]);
    const double swing = base * fxsupport::clamp01(params[2]);
    const double omega = 2.0 * std::numbers::pi * (0.05 + 4.95 * rateKnob * rateKnob) / s.rate;
    const double feedback = (fxsupport::clamp01(params[3]) - 0.5) * 2.0 * 0.95;
    const double mix = fxsupport::clamp01(params[4]);
    // The longest delay (15 ms plus full swing) stays inside the line: 0.031 rate + 4 samples.
    const double maxDelay = double(s.size) - 2.0;
    float* line[2] = {s.lines, s.lines + s.size};
    float* io[2] = {left, right};
    unsigned done = 0;
    while (done < frames) {
        if (s.runPos == 0) {
            const double endPhase = s.phase + omega * kRun;
            s.lfoStart = std::sin(s.phase);
            s.lfoStep = (std::sin(endPhase) - s.lfoStart) / kRun;
            s.phase = endPhase;
            if (s.phase >= 2.0 * std::numbers::pi)
                s.phase -= 2.0 * std::numbers::pi;
        }
        const unsigned run = std::min(kRun - s.runPos, frames - done);
        for (unsigned k = 0; k < run; ++k) {
            const double lfo = s.lfoStart + s.lfoStep * (s.runPos + k);
            const double t = std::min(std::max(1.0, base + swing * lfo), maxDelay);
            const double p = double(s.write) - t + double(s.size);
            const unsigned whole = static_cast<unsigned>(p);
            const double f = p - whole;
            const unsigned n0 = whole & s.mask;
            const unsigned n1 = (whole + 1) & s.mask;
            const unsigned i = done + k;
            for (int c = 0; c < 2; ++c) {
                const double x = io[c][i];
                const double d = line[c][n0] + (line[c][n1] - line[c][n0]) * f;
                line[c][s.write] = static_cast<float>(x + feedback * d + 1e-25);
                io[c][i] = static_cast<float>(x + mix * d);
            }
            s.write = (s.write + 1) & s.mask;
        }
        done += run;
        s.runPos = (s.runPos + run) % kRun;
    }
}

using Lifecycle = fxsupport::DelayLineLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::FlangerFX
