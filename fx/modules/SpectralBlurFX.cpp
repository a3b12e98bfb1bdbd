// SpecBlur: each bin's magnitude follows an envelope with a fast attack (5 ms) and a release from
// 5 ms to 2 s, keeping the bin's phase, so sounds smear out in time bin by bin.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/dsp/Stft.h"

#include <algorithm>
#include <cmath>

namespace vesk::SpectralBlurFX {

namespace {

using Impl = StftEnvelopes;

struct State
{
    Impl* impl;
};

// One channel's hop. With the magnitudes taken first, the bin loop has no calls or branches and
// runs on vector registers.
[[gnu::always_inline]] inline void blurBins(Stft::Bin* spectrum, float* env, float attack,
                                            float release, float mix)
{
    float mag[Stft::kBins];
    Stft::magnitudes(spectrum, mag);
    float* x = reinterpret_cast<float*>(spectrum);
    for (int b = 0; b < Stft::kBins; ++b) {
        const float m = mag[b];
        const float previous = env[b];
        const float e = previous + (m > previous ? attack : release) * (m - previous);
        env[b] = e;
        // Worked out for every bin, used only above the floor: the loop must not branch.
        const float limited = std::min(e / m, 4.0f);
        const float g = m > 1e-6f ? limited : 0.0f;
        const float gain = (1.0f - mix) + mix * g;
        x[2 * b] *= gain;
        x[2 * b + 1] *= gain;
    }
}

void blurPortable(Stft::Bin* spectrum, float* env, float attack, float release, float mix)
{
    blurBins(spectrum, env, attack, release, mix);
}

#if VESK_HAS_AVX2_BUILD
VESK_TARGET_AVX2_NO_FMA void blurAvx2(Stft::Bin* spectrum, float* env, float attack, float release,
                                      float mix)
{
    blurBins(spectrum, env, attack, release, mix);
}
#endif

using BlurFn = void (*)(Stft::Bin*, float*, float, float, float);

const BlurFn kBlurHop = VESK_CHOOSE_BUILD(blurAvx2, blurPortable);

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0 || frames > 4096)
        return;
    const double hop = Stft::kHop / m->rate; // seconds
    const float attack = static_cast<float>(1.0 - std::exp(-200.0 * hop));
    const double releaseSeconds = 0.005 * std::pow(400.0, double(fxsupport::clamp01(params[0])));
    const float release = static_cast<float>(1.0 - std::exp(-hop / releaseSeconds));
    const float mix = fxsupport::clamp01(params[1]);
    m->stft.process(left, right, frames, [&](Stft::Bin* l, Stft::Bin* r) {
        kBlurHop(l, m->envelope[0], attack, release, mix);
        kBlurHop(r, m->envelope[1], attack, release, mix);
    });
}

using Lifecycle = fxsupport::HeapImplLifecycle<State, Impl>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::SpectralBlurFX
