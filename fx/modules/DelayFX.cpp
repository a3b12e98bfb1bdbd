// Delay: a stereo feedback delay up to 1.5 s. A change of time crossfades (equal power, 20 ms)
// from the old read tap to the new one instead of sweeping the pitch.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::DelayFX {

namespace {

struct State
{
    float* lines; // 2 x size
    unsigned size;
    unsigned write;
    double tap[2]; // delays in samples
    int current;   // index of the sounding tap
    double fadeCos, fadeSin;
    double rotCos, rotSin;
    unsigned fadeLeft;
    bool fading;
    bool fresh;
    double rate;
};

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
    s.fading = false;
    s.fadeLeft = 0;
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
    const double time = fxsupport::clamp01(params[0]);
    const double t = std::clamp(1.5 * s.rate * time * time, 1.0, double(s.size) - 2.0);
    const double feedback = 0.95 * fxsupport::clamp01(params[1]);
    const double mix = fxsupport::clamp01(params[2]);
    if (s.fresh) {
        s.tap[0] = s.tap[1] = t;
        s.current = 0;
        s.fading = false;
        s.fresh = false;
    } else if (!s.fading && std::abs(t - s.tap[s.current]) > 0.5) {
        s.tap[1 - s.current] = t;
        s.fadeLeft = std::max(1u, static_cast<unsigned>(0.02 * s.rate));
        const double angle = std::numbers::pi / (2.0 * s.fadeLeft);
        s.fadeCos = 1.0;
        s.fadeSin = 0.0;
        s.rotCos = std::cos(angle);
        s.rotSin = std::sin(angle);
        s.fading = true;
    }
    float* line[2] = {s.lines, s.lines + s.size};
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        double y[2];
        for (int c = 0; c < 2; ++c) {
            const double now =
                fxsupport::readFractional(line[c], s.size, s.write, s.tap[s.current]);
            if (s.fading) {
                const double next =
                    fxsupport::readFractional(line[c], s.size, s.write, s.tap[1 - s.current]);
                y[c] = now * s.fadeCos + next * s.fadeSin;
            } else {
                y[c] = now;
            }
        }
        if (s.fading) {
            const double c = s.fadeCos * s.rotCos - s.fadeSin * s.rotSin;
            s.fadeSin = s.fadeSin * s.rotCos + s.fadeCos * s.rotSin;
            s.fadeCos = c;
            if (--s.fadeLeft == 0) {
                s.current = 1 - s.current;
                s.fading = false;
            }
        }
        for (int c = 0; c < 2; ++c) {
            const double x = io[c][i];
            line[c][s.write] = static_cast<float>(x + feedback * y[c] + 1e-25);
            io[c][i] = static_cast<float>(x * (1.0 - mix) + y[c] * mix);
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

} // namespace vesk::DelayFX
