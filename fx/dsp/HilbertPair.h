// A 90-degree phase splitter: two chains of first-order all-pass filters whose outputs differ in
// phase by 90 degrees (within 0.13 degrees) from 20 Hz up to min(20 kHz, 0.46 x rate).
//
// The in-phase output I and the quadrature output Q form the analytic signal I + iQ of the input
// (Q lags I by 90 degrees at every frequency in the band, so negative frequencies cancel). Both
// outputs share the same frequency-dependent phase shift relative to the input; the filter has
// no latency and unit gain at every frequency. All-pass chains were chosen over a complex
// one-pole bank because they stay exact in single precision at very low frequencies.
#pragma once

#include <array>

namespace vesk {

class HilbertPair
{
public:
    static constexpr int kSections = 8; // per chain

    HilbertPair() { setSampleRate(48000.0); }

    // [main thread] Rates below 1 Hz count as 48000. Clears the filter memories.
    void setSampleRate(double rateHz);
    // [audio thread]
    void reset();

    // [audio thread] One sample in, the in-phase and the quadrature outputs out.
    inline void process(float x, float& i, float& q)
    {
        i = runChain(coefA_, stateA_, x);
        q = runChain(coefB_, stateB_, x);
    }
    // [audio thread] A block; `in` may alias `outI` or `outQ`.
    void process(const float* in, float* outI, float* outQ, unsigned frames);

    // Section coefficients of the in-phase and the quadrature chain, for code that runs several
    // pairs side by side.
    const std::array<float, kSections>& coefficientsI() const { return coefA_; }
    const std::array<float, kSections>& coefficientsQ() const { return coefB_; }

private:
    struct Section
    {
        float x1 = 0.0f;
        float y1 = 0.0f;
    };
    using Chain = std::array<Section, kSections>;

    static inline float runChain(const std::array<float, kSections>& c, Chain& s, float x)
    {
        for (int k = 0; k < kSections; ++k) {
            // y[n] = c (x[n] + y[n-1]) - x[n-1]
            const float y = c[k] * (x + s[k].y1) - s[k].x1;
            s[k].x1 = x;
            s[k].y1 = y;
            x = y;
        }
        return x;
    }

    std::array<float, kSections> coefA_{};
    std::array<float, kSections> coefB_{};
    Chain stateA_{};
    Chain stateB_{};
};

} // namespace vesk
