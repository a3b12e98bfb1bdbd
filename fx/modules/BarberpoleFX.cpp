// Barberpole: an endlessly rising or falling flanger. Two delay taps half a ramp apart sweep
// between 1 and 1.5 ms, each faded in and out with a triangle window, so one is always audible
// while the other jumps back.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <cmath>
#include <cstring>

namespace vesk::BarberpoleFX {

namespace {

enum Line
{
    FeedbackL,
    FeedbackR,
    StageL,
    StageR,
    NumLines
};

struct State
{
    float* lines; // NumLines x size
    unsigned size;
    unsigned mask;
    unsigned write;
    double ramp; // 0..1
    double depth;
    double feedback;
    double mix;
    double minDelay; // samples
    double maxDelay;
};

double usableRate(double rate)
{
    return rate >= 1.0 && std::isfinite(rate) ? rate : 48000.0;
}

unsigned lineSize(double rate)
{
    const unsigned size = fxsupport::powerOfTwoAtLeast(static_cast<unsigned>(0.0015 * rate) + 8);
    return size < 64 ? 64 : size;
}

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * NumLines * s.size);
    s.write = 0;
    s.ramp = 0.0;
    s.depth = 0.7;
    s.feedback = 0.0;
    s.mix = 0.5;
}

void configure(State& s, double rate)
{
    rate = usableRate(rate);
    const unsigned size = lineSize(rate);
    fxsupport::resizeLines(s.lines, s.size, NumLines, size);
    s.mask = size - 1;
    s.minDelay = 0.001 * rate;
    s.maxDelay = 0.0015 * rate;
    clear(s);
}

inline double readFrac(const float* line, unsigned write, unsigned mask, double delay)
{
    const unsigned n = static_cast<unsigned>(delay);
    const double f = delay - n;
    const float a = line[(write - n) & mask];
    const float b = line[(write - n - 1) & mask];
    return a + (b - a) * f;
}

void process(float* left, float* right, unsigned frames, const float* params, void* block,
             double sampleRate)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.lines == nullptr)
        return;
    const double rateHz = 0.02 * std::pow(25.0, double(fxsupport::clamp01(params[0])));
    const bool up = static_cast<int>(fxsupport::clamp01(params[1]) * 1.999f) == 0;
    const double depthTarget = fxsupport::clamp01(params[2]);
    const double feedbackTarget = 0.85 * fxsupport::clamp01(params[3]);
    const double mixTarget = fxsupport::clamp01(params[4]);
    const double increment = rateHz / usableRate(sampleRate);
    const double span = s.maxDelay - s.minDelay;
    float* io[2] = {left, right};
    float* fbLine[2] = {s.lines + FeedbackL * s.size, s.lines + FeedbackR * s.size};
    float* stLine[2] = {s.lines + StageL * s.size, s.lines + StageR * s.size};
    for (unsigned i = 0; i < frames; ++i) {
        const double u = s.ramp;
        double u2 = u + 0.5;
        if (u2 >= 1.0)
            u2 -= 1.0;
        const double rho = up ? u : 1.0 - u;
        const double rho2 = up ? u2 : 1.0 - u2;
        const double t1 = s.minDelay + span * rho;
        const double t2 = s.minDelay + span * rho2;
        s.feedback += (feedbackTarget - s.feedback) * 0.005;
        s.depth += (depthTarget - s.depth) * 0.005;
        s.mix += (mixTarget - s.mix) * 0.005;
        const double w1 = s.depth * (1.0 - std::abs(2.0 * u - 1.0));
        const double w2 = s.depth * (1.0 - std::abs(2.0 * u2 - 1.0));
        for (int c = 0; c < 2; ++c) {
            const double x = io[c][i];
            const double tap1 = readFrac(fbLine[c], s.write, s.mask, t1);
            fbLine[c][s.write] = static_cast<float>(x + s.feedback * tap1);
            const double tap2 = readFrac(stLine[c], s.write, s.mask, t2);
            stLine[c][s.write] = static_cast<float>(x + w1 * tap1);
            io[c][i] = static_cast<float>(x + s.mix * (w1 * tap1 + w2 * tap2));
        }
        s.write = (s.write + 1) & s.mask;
        s.ramp += increment;
        if (s.ramp >= 1.0)
            s.ramp -= 1.0;
    }
}

using Lifecycle = fxsupport::DelayLineLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::BarberpoleFX
