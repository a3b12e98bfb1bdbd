// EQ: the three-band crossover EQ (linear variant) with the crossovers and gains on knobs.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/ThreeBandEQ.h"

#include <cstring>

namespace vesk::EQFX {

namespace {

struct State
{
    ThreeBandEQ eq;
    float applied[kParamCount]; // knob values last applied; -1 forces the first update
};

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.eq.setSampleRate(fxsupport::safeRate(rate));
    s.eq.setParams(ThreeBandEQParams{});
    for (float& v : s.applied) {
        v = -1.0f;
    }
}

void destroy(void*) {}

void reset(void* block)
{
    fxsupport::stateOf<State>(block).eq.reset();
}

void setSampleRate(void* block, double rate)
{
    fxsupport::stateOf<State>(block).eq.setSampleRate(fxsupport::safeRate(rate));
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (std::memcmp(params, s.applied, sizeof(s.applied)) != 0) {
        std::memcpy(s.applied, params, sizeof(s.applied));
        ThreeBandEQParams p;
        // Crossovers pass as given (the EQ orders them and keeps them below Nyquist); gains are
        // held to the knob range.
        p.lowMidHz = params[0];
        p.midHighHz = params[1];
        p.lowGainDb = fxsupport::clampTo(params[2], kParamMin[2], kParamMax[2]);
        p.midGainDb = fxsupport::clampTo(params[3], kParamMin[3], kParamMax[3]);
        p.highGainDb = fxsupport::clampTo(params[4], kParamMin[4], kParamMax[4]);
        s.eq.setParams(p);
    }
    s.eq.process(left, right, frames);
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::EQFX
