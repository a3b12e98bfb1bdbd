// Haas: delays one channel by up to 40 ms against the other to widen or steer the image. There is
// no dry mix; Side below the centre delays the left channel, above it the right.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cstring>

namespace vesk::HaasFX {

namespace {

struct State
{
    float* lines; // 2 x size
    unsigned size;
    unsigned write;
    double rate;
};

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    const unsigned size = std::max(256u, static_cast<unsigned>(0.05 * s.rate) + 4);
    fxsupport::resizeStereoLine(s.lines, s.size, size);
    clear(s);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.lines == nullptr)
        return;
    const double t =
        std::min(double(fxsupport::clamp01(params[0])) * 0.04 * s.rate, double(s.size) - 2.0);
    const double side = fxsupport::clamp01(params[1]);
    const double delayL = (side < 0.5 ? 1.0 - 2.0 * side : 0.0) * t;
    const double delayR = (side > 0.5 ? 2.0 * side - 1.0 : 0.0) * t;
    float* lineL = s.lines;
    float* lineR = s.lines + s.size;
    for (unsigned i = 0; i < frames; ++i) {
        lineL[s.write] = left[i];
        lineR[s.write] = right[i];
        left[i] = static_cast<float>(fxsupport::readFractional(lineL, s.size, s.write, delayL));
        right[i] = static_cast<float>(fxsupport::readFractional(lineR, s.size, s.write, delayR));
        if (++s.write == s.size)
            s.write = 0;
    }
}

using Lifecycle = fxsupport::DelayLineLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::HaasFX
