#include "fx/MasterFX.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk {

void Enhance::setSampleRate(double rate)
{
    sampleRate_ = rate > 1.0 && rate < 1.0e7 ? rate : 48000.0;
    for (auto& w : work_) {
        w.assign(2 * static_cast<size_t>(kMasterMaxBlock), 0.0f);
    }
    // Band split at the doubled rate: trapezoidal one-poles at 240 Hz and 2400 Hz.
    const double r2 = 2.0 * sampleRate_;
    const double tLo = std::tan(std::numbers::pi * 240.0 / r2);
    const double tHi = std::tan(std::numbers::pi * 2400.0 / r2);
    gLo_ = tLo / (1.0 + tLo);
    gHi_ = tHi / (1.0 + tHi);
    midScale_ = gHi_ * (1.0 - gLo_) / (gHi_ - gLo_);
    reset();
}

void Enhance::setParams(const EnhanceParams& p)
{
    params_ = p;
    drive_ = std::pow(10.0, static_cast<double>(p.enhanceDrive) / 20.0);
    amount_ = static_cast<double>(p.enhanceAmount) / 100.0;
    const double s = p.enhanceShape;
    c0_ = 1.5 + 0.01 * s;
    c1_ = -0.02 * s;
    c2_ = 0.01 * s - 0.5;
    c3_ = 0.0625 - 0.0025 * s + 0.000025 * s * s;
}

void Enhance::reset()
{
    oversampler_.reset();
    bandLo_[0] = bandLo_[1] = 0.0;
    bandHi_[0] = bandHi_[1] = 0.0;
}

float Enhance::shapeSample(float vf) const
{
    const double v = vf;
    const double m = std::abs(v);
    double shaped;
    if (m < 1.0) {
        const double om = 1.0 - m;
        shaped = c0_ * m + c1_ * m * m + c2_ * m * m * m - c3_ * m * m * om * om;
    } else if (m < 2.0) {
        shaped = 2.0 * m - m * m;
    } else {
        shaped = 0.0;
    }
    const double sign = v < 0.0 ? -1.0 : 1.0;
    return static_cast<float>(amount_ * shaped * sign + (1.0 - amount_) * v);
}

void Enhance::process(float* left, float* right, unsigned frames)
{
    if (frames == 0 || params_.enhanceBypass ||
        !(params_.enhanceAmount > 0.0f || params_.enhanceDrive > 0.0f) ||
        frames > static_cast<unsigned>(kMasterMaxBlock) || work_[0].size() < 2 * size_t{frames}) {
        return;
    }
    float* io[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        float* x = io[c];
        for (unsigned i = 0; i < frames; ++i) {
            x[i] = static_cast<float>(std::clamp(drive_ * x[i], -1.0, 1.0));
        }
        float* w = work_[c].data();
        oversampler_.upsample(c, x, w, frames);
        const unsigned n = 2 * frames;
        if (!params_.enhanceMulti) {
            for (unsigned i = 0; i < n; ++i) {
                w[i] = shapeSample(std::clamp(w[i], -1.0f, 1.0f));
            }
        } else {
            double sLo = bandLo_[c];
            double sHi = bandHi_[c];
            for (unsigned i = 0; i < n; ++i) {
                const double v = std::clamp(w[i], -1.0f, 1.0f);
                const double low = sLo + gLo_ * (v - sLo);
                sLo = 2.0 * low - sLo;
                const double lp2 = sHi + gHi_ * (v - sHi);
                sHi = 2.0 * lp2 - sHi;
                const double high = v - lp2;
                const float midF = static_cast<float>((v - low - high) * midScale_);
                const float lowF = static_cast<float>(low);
                w[i] = static_cast<float>(shapeSample(midF) / midScale_ + shapeSample(lowF) +
                                          shapeSample(static_cast<float>(high)));
            }
            bandLo_[c] = sLo;
            bandHi_[c] = sHi;
        }
        oversampler_.downsample(c, w, x, frames);
    }
}

} // namespace vesk
