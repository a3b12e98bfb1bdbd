// Image: a smoothed 2x2 matrix setting stereo width (0..200 %) and the pans of mid and side.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

namespace vesk::ImageFX {

namespace {

struct State
{
    double a, b, c, d; // left' = a L + d R, right' = c L + b R
};

void identity(State& s)
{
    s.a = 1.0;
    s.b = 1.0;
    s.c = 0.0;
    s.d = 0.0;
}

void construct(void* block, double)
{
    identity(fxsupport::createState<State>(block));
}

void destroy(void*) {}

void reset(void* block)
{
    identity(fxsupport::stateOf<State>(block));
}

void setSampleRate(void*, double) {}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const double w = fxsupport::clampTo(params[0], 0.0f, 200.0f) / 100.0;
    const double pm = 2.0 * fxsupport::clamp01(params[1]);
    const double ps = fxsupport::clamp01(params[2]);
    const double ta = 0.5 * (2.0 - pm + (2.0 - 2.0 * ps) * w);
    const double tb = 0.5 * (pm + 2.0 * ps * w);
    const double tc = 0.5 * (pm - 2.0 * ps * w);
    const double td = 0.5 * (2.0 - pm - (2.0 - 2.0 * ps) * w);
    for (unsigned i = 0; i < frames; ++i) {
        s.a = 0.999 * s.a + 0.001 * ta;
        s.b = 0.999 * s.b + 0.001 * tb;
        s.c = 0.999 * s.c + 0.001 * tc;
        s.d = 0.999 * s.d + 0.001 * td;
        const double l = left[i];
        const double r = right[i];
        left[i] = static_cast<float>(s.a * l + s.d * r);
        right[i] = static_cast<float>(s.c * l + s.b * r);
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::ImageFX
