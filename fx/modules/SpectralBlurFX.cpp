// SpecBlur: each bin's magnitude follows an envelope with a fast attack (5 ms) and a release from
// 5 ms to 2 s, keeping the bin's phase, so sounds smear out in time bin by bin.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/dsp/Stft.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vesk::SpectralBlurFX {

namespace {

struct Impl
{
    Stft stft;
    float envelope[2][Stft::kBins] = {};
    double rate = 48000.0;
};

struct State
{
    Impl* impl;
};

void clear(Impl& m)
{
    m.stft.reset();
    std::fill(&m.envelope[0][0], &m.envelope[0][0] + 2 * Stft::kBins, 0.0f);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    auto impl = std::make_unique<Impl>();
    impl->rate = fxsupport::safeRate(rate);
    s.impl = impl.release();
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void reset(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        clear(*m);
}

void setSampleRate(void* block, double rate)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl) {
        m->rate = fxsupport::safeRate(rate);
        clear(*m);
    }
}

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
        Stft::Bin* spectra[2] = {l, r};
        for (int c = 0; c < 2; ++c) {
            Stft::Bin* x = spectra[c];
            float* env = m->envelope[c];
            for (int b = 0; b < Stft::kBins; ++b) {
                const float mag = std::sqrt(Stft::power(x[b]));
                env[b] += (mag > env[b] ? attack : release) * (mag - env[b]);
                const float g = mag > 1e-6f ? std::min(env[b] / mag, 4.0f) : 0.0f;
                x[b] *= (1.0f - mix) + mix * g;
            }
        }
    });
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::SpectralBlurFX
