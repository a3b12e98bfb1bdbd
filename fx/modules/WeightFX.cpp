// Bass Boost: a cascade of eight leaky stages forms a steep resonant low-pass whose output is added
// to the dry signal in proportion to Weight; Freq moves its corner (about 20..120 Hz).
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <cmath>

namespace vesk::WeightFX {

namespace {

constexpr int kStages = 8;

struct State
{
    double stage[2][kStages];
    double correction[2][kStages];
    fxsupport::XorShift32 noise[2];
    double rateFactor; // q = 1 / sqrt(rate / 44100)
};

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.noise[0].state = 0x7fffffffu;
    s.noise[1].state = 0x2aaaaaaau;
    s.rateFactor = 1.0 / std::sqrt(fxsupport::safeRate(rate) / 44100.0);
}

void destroy(void*) {}

void reset(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < kStages; ++k) {
            s.stage[c][k] = 0.0;
            s.correction[c][k] = 0.0;
        }
    }
}

void setSampleRate(void* block, double rate)
{
    fxsupport::stateOf<State>(block).rateFactor =
        1.0 / std::sqrt(fxsupport::safeRate(rate) / 44100.0);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const double freq = fxsupport::clamp01(params[0]);
    const double weight = fxsupport::clamp01(params[1]);
    const double y0 = (freq + 0.53) * 0.2 * s.rateFactor;
    const double y0sq = y0 * y0;
    const double x = (0.2 + 0.05 * weight) * (0.2 + 0.05 * weight) * y0sq * y0sq;
    const double y = (1.0 - x) * y0sq * y0 + y0sq * y0sq;
    const double z = 0.999 - y;
    const double d = 0.999 - x;
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double in = fxsupport::denormalGuard(io[c][i], s.noise[c].state);
            double* st = s.stage[c];
            double* cr = s.correction[c];
            double u = in;
            for (int k = 0; k < kStages; ++k) {
                const double old = st[k];
                st[k] = y * u + z * (old + cr[k]);
                cr[k] = x * (u - old) + d * cr[k];
                u = st[k];
            }
            io[c][i] = static_cast<float>(in + weight * st[kStages - 1]);
        }
        s.noise[0].next();
        s.noise[1].next();
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::WeightFX
