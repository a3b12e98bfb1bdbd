#include "fx/dsp/Limiter.h"

#include <algorithm>
#include <cmath>

namespace vesk::dsp {

int LookaheadLimiter::lookaheadFor(double sampleRate, double attackMs)
{
    const double n = std::ceil(sampleRate * attackMs * 0.001 - 1e-9);
    return n >= 1.0 && n < 1.0e7 ? static_cast<int>(n) : 1;
}

void LookaheadLimiter::configure(double sampleRate, double attackMs, double maxHoldMs)
{
    sampleRate_ = sampleRate > 1.0 && sampleRate < 1.0e7 ? sampleRate : 48000.0;
    lookahead_ = lookaheadFor(sampleRate_, attackMs > 0.0 ? attackMs : 10.0);
    maxHoldExtra_ =
        std::max(0, static_cast<int>(std::ceil(std::max(0.0, maxHoldMs) * 0.001 * sampleRate_)));
    holdExtra_ = std::min(holdExtra_, maxHoldExtra_);
    delay_[0].assign(static_cast<size_t>(lookahead_), 0.0f);
    delay_[1].assign(static_cast<size_t>(lookahead_), 0.0f);
    const size_t window = static_cast<size_t>(lookahead_ + 1 + maxHoldExtra_);
    minGain_.assign(window, 1.0);
    minFrame_.assign(window, 0);
    // Spans of the two box filters add up to lookahead + 2 taps, covering L frames of time.
    const int span1 = lookahead_ / 2 + 1;
    const int span2 = lookahead_ + 2 - span1;
    box1_.assign(static_cast<size_t>(span1), 1.0);
    box2_.assign(static_cast<size_t>(span2), 1.0);
    reset();
}

void LookaheadLimiter::setSettings(const LimiterSettings& s)
{
    const double releaseMs =
        std::isfinite(s.releaseMs) ? std::clamp(s.releaseMs, 1.0, 10000.0) : 100.0;
    releaseCoef_ = 1.0 - std::exp(-1.0 / (releaseMs * 0.001 * sampleRate_));
    const double holdMs = std::isfinite(s.holdMs) ? std::max(0.0, s.holdMs) : 0.0;
    holdExtra_ = std::min(maxHoldExtra_, static_cast<int>(std::ceil(holdMs * 0.001 * sampleRate_)));
    inputGain_ = std::isfinite(s.inputGain) ? std::clamp(s.inputGain, 0.0, 1.0e6) : 1.0;
    outputLimit_ = std::isfinite(s.outputLimit) ? std::clamp(s.outputLimit, 1.0e-6, 1.0e6) : 1.0;
}

void LookaheadLimiter::reset()
{
    for (auto& d : delay_) {
        std::fill(d.begin(), d.end(), 0.0f);
    }
    delayPos_ = 0;
    minHead_ = 0;
    minSize_ = 0;
    frame_ = 0;
    envelope_ = 1.0;
    std::fill(box1_.begin(), box1_.end(), 1.0);
    std::fill(box2_.begin(), box2_.end(), 1.0);
    box1Pos_ = box2Pos_ = 0;
    box1Sum_ = static_cast<double>(box1_.size());
    box2Sum_ = static_cast<double>(box2_.size());
}

double LookaheadLimiter::pushMinimum(double gain)
{
    const int capacity = static_cast<int>(minGain_.size());
    const long long window = lookahead_ + 1 + holdExtra_;
    // Drop entries that left the window, then entries the new gain makes irrelevant.
    while (minSize_ > 0 && minFrame_[static_cast<size_t>(minHead_)] <= frame_ - window) {
        minHead_ = (minHead_ + 1) % capacity;
        --minSize_;
    }
    while (minSize_ > 0) {
        const int last = (minHead_ + minSize_ - 1) % capacity;
        if (minGain_[static_cast<size_t>(last)] < gain) {
            break;
        }
        --minSize_;
    }
    const int slot = (minHead_ + minSize_) % capacity;
    minGain_[static_cast<size_t>(slot)] = gain;
    minFrame_[static_cast<size_t>(slot)] = frame_;
    ++minSize_;
    ++frame_;
    return minGain_[static_cast<size_t>(minHead_)];
}

double LookaheadLimiter::smooth(double gain)
{
    box1Sum_ += gain - box1_[static_cast<size_t>(box1Pos_)];
    box1_[static_cast<size_t>(box1Pos_)] = gain;
    box1Pos_ = box1Pos_ + 1 == static_cast<int>(box1_.size()) ? 0 : box1Pos_ + 1;
    const double stage1 = box1Sum_ / static_cast<double>(box1_.size());
    box2Sum_ += stage1 - box2_[static_cast<size_t>(box2Pos_)];
    box2_[static_cast<size_t>(box2Pos_)] = stage1;
    box2Pos_ = box2Pos_ + 1 == static_cast<int>(box2_.size()) ? 0 : box2Pos_ + 1;
    return box2Sum_ / static_cast<double>(box2_.size());
}

void LookaheadLimiter::process(float* left, float* right, unsigned frames)
{
    if (lookahead_ <= 0) {
        return;
    }
    for (unsigned i = 0; i < frames; ++i) {
        const double l = left[i] * inputGain_;
        const double r = right[i] * inputGain_;
        const double peak = std::max(std::abs(l), std::abs(r));
        // Non-finite input asks for full reduction; the guard after the chain removes the value.
        const double needed =
            peak > outputLimit_ ? outputLimit_ / peak : (peak <= outputLimit_ ? 1.0 : 0.0);
        const double held = pushMinimum(needed);
        envelope_ = held < envelope_ ? held : envelope_ + (held - envelope_) * releaseCoef_;
        const double gain = smooth(envelope_);

        float& dl = delay_[0][static_cast<size_t>(delayPos_)];
        float& dr = delay_[1][static_cast<size_t>(delayPos_)];
        const double outL = dl * gain;
        const double outR = dr * gain;
        dl = static_cast<float>(l);
        dr = static_cast<float>(r);
        delayPos_ = delayPos_ + 1 == lookahead_ ? 0 : delayPos_ + 1;
        left[i] = static_cast<float>(outL);
        right[i] = static_cast<float>(outR);
    }
    // Re-sum the box filters once per block so rounding never accumulates.
    double s1 = 0.0, s2 = 0.0;
    for (double v : box1_) {
        s1 += v;
    }
    for (double v : box2_) {
        s2 += v;
    }
    box1Sum_ = s1;
    box2Sum_ = s2;
}

} // namespace vesk::dsp
