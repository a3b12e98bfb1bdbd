// SpecGate: a noise gate per bin. Each bin's smoothed magnitude is compared with the threshold;
// a closed bin is scaled by Reduce (0 silences it). The channels are gated independently.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/dsp/Stft.h"

#include <algorithm>
#include <cmath>

namespace vesk::SpectralGateHoldFX {

namespace {

using Impl = StftEnvelopes;

struct State
{
    Impl* impl;
};

// One channel's hop. An open bin is scaled by 1, which leaves it as it is; so the loop has no
// branches and runs on vector registers.
[[gnu::always_inline]] inline void gateBins(Stft::Bin* spectrum, float* env, float smooth,
                                            float threshold, float reduce)
{
    float mag[Stft::kBins];
    Stft::magnitudes(spectrum, mag);
    float* x = reinterpret_cast<float*>(spectrum);
    for (int b = 0; b < Stft::kBins; ++b) {
        const float e = env[b] + smooth * (mag[b] - env[b]);
        env[b] = e;
        const float gain = e >= threshold ? 1.0f : reduce;
        x[2 * b] *= gain;
        x[2 * b + 1] *= gain;
    }
}

void gatePortable(Stft::Bin* spectrum, float* env, float smooth, float threshold, float reduce)
{
    gateBins(spectrum, env, smooth, threshold, reduce);
}

#if VESK_HAS_AVX2_BUILD
VESK_TARGET_AVX2_NO_FMA void gateAvx2(Stft::Bin* spectrum, float* env, float smooth,
                                      float threshold, float reduce)
{
    gateBins(spectrum, env, smooth, threshold, reduce);
}
#endif

using GateFn = void (*)(Stft::Bin*, float*, float, float, float);

const GateFn kGateHop = VESK_CHOOSE_BUILD(gateAvx2, gatePortable);

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0 || frames > 4096)
        return;
    // Threshold -30..+30 dB against a bin magnitude of 1 (a full-scale sine on a bin centre reads
    // half the window's sum, about 198: see Stft).
    const float threshold =
        static_cast<float>(std::pow(10.0, (60.0 * fxsupport::clamp01(params[0]) - 30.0) / 20.0));
    const float reduce = fxsupport::clamp01(params[1]);
    const double smoothSeconds = 0.001 + 0.499 * fxsupport::clamp01(params[2]);
    const float smooth =
        static_cast<float>(1.0 - std::exp(-(Stft::kHop / m->rate) / smoothSeconds));
    m->stft.process(left, right, frames, [&](Stft::Bin* l, Stft::Bin* r) {
        kGateHop(l, m->envelope[0], smooth, threshold, reduce);
        kGateHop(r, m->envelope[1], smooth, threshold, reduce);
    });
}

using Lifecycle = fxsupport::HeapImplLifecycle<State, Impl>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::SpectralGateHoldFX
