#include "fx/ThreeBandEQ.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk {

namespace {

float finiteOr(float v, float fallback)
{
    return std::isfinite(v) ? v : fallback;
}

} // namespace

void ThreeBandEQ::setParams(const ThreeBandEQParams& p)
{
    const ThreeBandEQParams defaults;
    params_ = p;
    params_.lowGainDb = std::clamp(finiteOr(p.lowGainDb, 0.0f), -60.0f, 60.0f);
    params_.midGainDb = std::clamp(finiteOr(p.midGainDb, 0.0f), -60.0f, 60.0f);
    params_.highGainDb = std::clamp(finiteOr(p.highGainDb, 0.0f), -60.0f, 60.0f);
    params_.lowMidHz = finiteOr(p.lowMidHz, defaults.lowMidHz);
    params_.midHighHz = finiteOr(p.midHighHz, defaults.midHighHz);
    updateCrossovers();
    const float dbs[3] = {params_.lowGainDb, params_.midGainDb, params_.highGainDb};
    for (int b = 0; b < 3; ++b) {
        const double g = std::exp(static_cast<double>(dbs[b]) * std::numbers::ln10 / 20.0);
        gain_[b] = g;
        gainMinusOne_[b] = g - 1.0;
        absGainMinusOne_[b] = std::abs(g - 1.0);
    }
}

void ThreeBandEQ::setSampleRate(double rate)
{
    sampleRate_ = rate > 0.0 && std::isfinite(rate) ? rate : 0.0;
    updateCrossovers();
}

void ThreeBandEQ::updateCrossovers()
{
    if (!(sampleRate_ > 0.0)) {
        return;
    }
    const double limit = 0.499 * sampleRate_;
    const double a = std::max(1.0, static_cast<double>(params_.lowMidHz));
    const double b = std::max(1.0, static_cast<double>(params_.midHighHz));
    const double fLo = std::min(std::min(a, b), limit);
    const double fHi = std::min(std::max(a, b), limit);
    const double pLo = std::exp(-2.0 * std::numbers::pi * fLo / sampleRate_);
    const double pHi = std::exp(-2.0 * std::numbers::pi * fHi / sampleRate_);
    loOneMinusP_ = 1.0 - pLo;
    loMinusP_ = -pLo;
    hiOneMinusP_ = 1.0 - pHi;
    hiMinusP_ = -pHi;
}

void ThreeBandEQ::reset()
{
    lowLP_[0] = lowLP_[1] = 0.0;
    highLP_[0] = highLP_[1] = 0.0;
}

void ThreeBandEQ::process(float* left, float* right, unsigned frames)
{
    if (params_.bypass) {
        return;
    }
    if (params_.shaped) {
        run<true>(left, right, frames);
    } else {
        run<false>(left, right, frames);
    }
}

namespace {

// One band of the shaped variant: the gain bends along a sine (boost) or cosine (cut) curve that
// saturates at |v| = 1.
inline double shapeBand(double band, double g, double h)
{
    double v = g * band;
    if (h >= 1e-9) {
        const double a = std::min(std::abs(v) * (std::numbers::pi / 2.0), std::numbers::pi / 2.0);
        const double s = g > 1.0 ? std::sin(a) : 1.0 - std::cos(a);
        v = v * (1.0 - h) + (v < 0.0 ? -h : h) * s;
    }
    return v;
}

} // namespace

template <bool Shaped> void ThreeBandEQ::run(float* left, float* right, unsigned frames)
{
    float* channels[2] = {left, right};
    const double pLo = -loMinusP_;
    const double pHi = -hiMinusP_;
    for (int c = 0; c < 2; ++c) {
        float* x = channels[c];
        double lowLP = lowLP_[c];
        double highLP = highLP_[c];
        for (unsigned i = 0; i < frames; ++i) {
            const double in = x[i];
            lowLP = loOneMinusP_ * in + pLo * lowLP + 1e-30;
            highLP = hiOneMinusP_ * in + pHi * highLP + 1e-30;
            const double low = lowLP;
            const double high = in - highLP;
            if constexpr (Shaped) {
                const double mid = highLP - lowLP;
                x[i] = static_cast<float>(shapeBand(low, gain_[0], absGainMinusOne_[0]) +
                                          shapeBand(mid, gain_[1], absGainMinusOne_[1]) +
                                          shapeBand(high, gain_[2], absGainMinusOne_[2]));
            } else {
                x[i] = static_cast<float>(gain_[1] * in + (gain_[0] - gain_[1]) * low +
                                          (gain_[2] - gain_[1]) * high);
            }
        }
        lowLP_[c] = lowLP;
        highLP_[c] = highLP;
    }
}

} // namespace vesk
