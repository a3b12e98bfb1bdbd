// Chorus: one swept three-point interpolated read from a doubled delay line per channel, with an
// "air" term that feeds the difference of successive inputs through two alternating leaky
// memories.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::ChorusFX {

namespace {

struct State
{
    float* lines; // 2 x (length + 4)
    unsigned length;
    int loop; // c
    int pos;  // write position i
    double sweep;
    bool flip;
    double prev[2];
    double airEven[2];
    double airOdd[2];
    fxsupport::XorShift32 noise[2];
    double rateRatio;
};

unsigned lineLength(double rate)
{
    const unsigned l = static_cast<unsigned>(0.5 * rate);
    return l < 4097 ? 4096 : l;
}

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * 2 * (s.length + 4));
    s.sweep = std::numbers::pi / 2.0;
    s.pos = 0;
    s.prev[0] = s.prev[1] = 0.0;
    s.airEven[0] = s.airEven[1] = 0.0;
    s.airOdd[0] = s.airOdd[1] = 0.0;
    s.flip = true;
}

void configure(State& s, double rate)
{
    rate = fxsupport::safeRate(rate);
    const unsigned length = lineLength(rate);
    if (s.lines == nullptr || length != s.length) {
        float* lines = new float[2 * (length + 4)];
        delete[] s.lines;
        s.lines = lines;
        s.length = length;
    }
    s.loop = static_cast<int>(0.499 * length);
    s.rateRatio = rate / 44100.0;
    clear(s);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.noise[0].state = 0x12345678u;
    s.noise[1].state = 0x87654321u;
    configure(s, rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.lines == nullptr)
        return;
    const double rateKnob = fxsupport::clamp01(params[0]);
    const double depthKnob = fxsupport::clamp01(params[1]);
    const double speed = rateKnob * rateKnob * rateKnob * rateKnob;
    const double range = depthKnob * depthKnob * depthKnob * depthKnob * s.loop * 0.499;
    const double wet = fxsupport::clamp01(params[2]);
    const double modulation = wet * range;
    const double increment = 0.001 * speed * s.rateRatio;
    constexpr double kLeak = 0.99990001;
    float* io[2] = {left, right};
    float* line[2] = {s.lines, s.lines + s.length + 4};
    const int c = s.loop;
    for (unsigned n = 0; n < frames; ++n) {
        if (s.pos < 1 || s.pos > c - 1)
            s.pos = c;
        const double offset = range + modulation * std::sin(s.sweep);
        const double whole = std::floor(offset);
        const int k = s.pos + static_cast<int>(whole);
        const double f = offset - whole;
        for (int ch = 0; ch < 2; ++ch) {
            const double x = fxsupport::denormalGuard(io[ch][n], s.noise[ch].state);
            const double d = s.prev[ch] - x;
            const double w = x + wet * (d + (s.flip ? s.airEven[ch] : s.airOdd[ch]));
            line[ch][s.pos] = static_cast<float>(w);
            line[ch][c + s.pos] = static_cast<float>(w);
            const double a = line[ch][k];
            const double b = line[ch][k + 1];
            const double e = line[ch][k + 2];
            const double y = 0.5 * ((1.0 - f) * a + b + f * e - 0.02 * (a - 2.0 * b + e));
            io[ch][n] = static_cast<float>(wet == 1.0 ? y : wet * y + (1.0 - wet) * x);
            double u1;
            double u2;
            if (s.flip) {
                u1 = s.airOdd[ch] - d;
                u2 = d + s.airEven[ch];
            } else {
                u1 = d + s.airOdd[ch];
                u2 = s.airEven[ch] - d;
            }
            s.airOdd[ch] = (u1 - (u1 - u2) / 256.0) * kLeak;
            s.airEven[ch] = (u2 - (u2 - s.airOdd[ch]) / 256.0) * kLeak;
            s.prev[ch] = x;
        }
        s.pos -= 1;
        s.sweep += increment;
        if (s.sweep > 2.0 * std::numbers::pi)
            s.sweep -= 2.0 * std::numbers::pi;
        s.noise[0].next();
        s.noise[1].next();
        s.flip = !s.flip;
    }
}

using Lifecycle = fxsupport::DelayLineLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State), construct, Lifecycle::destroy, Lifecycle::reset, Lifecycle::setSampleRate,
    process};

} // namespace vesk::ChorusFX
