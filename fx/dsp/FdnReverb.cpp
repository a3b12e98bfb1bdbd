#include "fx/dsp/FdnReverb.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::dsp {

namespace {

constexpr int kN = FdnReverb::kChannels;
constexpr double kLowSplitHz = 250.0;
constexpr double kHighSplitHz = 4000.0;
constexpr double kLfoMeanHz = 0.5;
constexpr double kMaxLoopRatio = 1.5;
constexpr double kDiffusionSpan = 0.4; // first stage spans 40 % of the room, later ones less
// Output sign patterns: two orthogonal rows of an 8 x 8 Hadamard matrix.
constexpr int kSignLeft[kN] = {1, 1, 1, 1, 1, 1, 1, 1};
constexpr int kSignRight[kN] = {1, -1, 1, -1, 1, -1, 1, -1};

double finiteOr(double v, double fallback)
{
    return std::isfinite(v) ? v : fallback;
}

// In-place normalised 8-point Hadamard transform.
inline void hadamard8(double* x)
{
    for (int h = 1; h < kN; h *= 2) {
        for (int i = 0; i < kN; i += 2 * h) {
            for (int j = i; j < i + h; ++j) {
                const double a = x[j];
                const double b = x[j + h];
                x[j] = a + b;
                x[j + h] = a - b;
            }
        }
    }
    const double scale = 1.0 / std::sqrt(static_cast<double>(kN));
    for (int i = 0; i < kN; ++i) {
        x[i] *= scale;
    }
}

double onePoleCoef(double hz, double rate)
{
    return 1.0 - std::exp(-2.0 * std::numbers::pi * hz / rate);
}

} // namespace

void FdnReverb::allocate(DelayLine& line, double maxSamples)
{
    uint32_t size = 16;
    while (static_cast<double>(size) < maxSamples + 4.0) {
        size *= 2;
    }
    line.buffer.assign(size, 0.0f);
    line.mask = size - 1;
    line.write = 0;
}

void FdnReverb::configure(double sampleRate, double maxRoomMs)
{
    sampleRate_ = sampleRate > 1.0 && sampleRate < 1.0e7 ? sampleRate : 48000.0;
    maxRoomMs_ = std::clamp(finiteOr(maxRoomMs, 100.0), 1.0, 2000.0);
    const double maxRoomSamples = maxRoomMs_ * 0.001 * sampleRate_;
    // Fixed, mutually incommensurate spreads of the loop and diffusion delays.
    for (int c = 0; c < kN; ++c) {
        loopRatio_[static_cast<size_t>(c)] =
            std::pow(2.0, static_cast<double>(c) / (kN - 1) - 0.5) *
            (1.0 + 0.013 * std::sin(1.7 * (c + 1)));
    }
    uint32_t seed = 0x9e3779b9u;
    for (int s = 0; s < kDiffusionStages; ++s) {
        for (int c = 0; c < kN; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double jitter = static_cast<double>(seed >> 8) / 16777216.0;
            diffusionRatio_[static_cast<size_t>(s)][static_cast<size_t>(c)] =
                kDiffusionSpan * std::pow(0.6, s) * (c + jitter) / kN;
            diffusionFlip_[static_cast<size_t>(s)][static_cast<size_t>(c)] =
                (seed >> 3) & 1u ? -1 : 1;
        }
    }
    for (int s = 0; s < kDiffusionStages; ++s) {
        for (int c = 0; c < kN; ++c) {
            allocate(diffusion_[s][c], maxRoomSamples * kDiffusionSpan);
        }
    }
    // Line modulation never exceeds 1/8 of the shortest line (see derive); room for it here.
    for (int c = 0; c < kN; ++c) {
        allocate(loop_[c], maxRoomSamples * kMaxLoopRatio * 1.02 * 1.2);
        const double w = 2.0 * std::numbers::pi * kLfoMeanHz * (0.7 + 0.09 * c) / sampleRate_;
        lfoRotCos_[static_cast<size_t>(c)] = std::cos(w);
        lfoRotSin_[static_cast<size_t>(c)] = std::sin(w);
    }
    derive();
    reset();
}

void FdnReverb::setParams(const FdnReverbParams& p)
{
    const FdnReverbParams d;
    params_.roomMs = finiteOr(p.roomMs, d.roomMs);
    params_.rt20Seconds = finiteOr(p.rt20Seconds, d.rt20Seconds);
    params_.early = finiteOr(p.early, d.early);
    params_.detuneCents = finiteOr(p.detuneCents, d.detuneCents);
    params_.lowCutHz = finiteOr(p.lowCutHz, d.lowCutHz);
    params_.highCutHz = finiteOr(p.highCutHz, d.highCutHz);
    params_.lowDampRate = finiteOr(p.lowDampRate, d.lowDampRate);
    params_.highDampRate = finiteOr(p.highDampRate, d.highDampRate);
    derive();
}

void FdnReverb::derive()
{
    if (!configured()) {
        return;
    }
    FdnReverbParams& p = params_;
    p.roomMs = std::clamp(p.roomMs, 1.0, maxRoomMs_);
    p.rt20Seconds = std::clamp(p.rt20Seconds, 0.01, 100.0);
    p.early = std::clamp(p.early, 0.0, 2.0);
    p.detuneCents = std::clamp(p.detuneCents, 0.0, 50.0);
    p.lowCutHz = std::clamp(p.lowCutHz, 1.0, 0.45 * sampleRate_);
    p.highCutHz = std::clamp(p.highCutHz, p.lowCutHz, 0.49 * sampleRate_);
    // Rates below 1 would lift a band above the mid decay and could make the loop unstable.
    p.lowDampRate = std::clamp(p.lowDampRate, 1.0, 20.0);
    p.highDampRate = std::clamp(p.highDampRate, 1.0, 20.0);

    roomSamples_ = p.roomMs * 0.001 * sampleRate_;
    roomGlide_ = onePoleCoef(1.0 / 0.02, sampleRate_); // 20 ms glide
    decayPerSample_ = -std::log(10.0) / (p.rt20Seconds * sampleRate_);
    earlyGain_ = p.early;
    lowSplit_ = onePoleCoef(kLowSplitHz, sampleRate_);
    highSplit_ = onePoleCoef(kHighSplitHz, sampleRate_);
    // Pitch deviation of a sine-modulated delay: depth x omega (as a ratio); in cents about
    // 1731 x depth x omega.
    const double omega = 2.0 * std::numbers::pi * kLfoMeanHz / sampleRate_;
    const double shortest = roomSamples_ * loopRatio_[0];
    lfoDepth_ = std::min(p.detuneCents / (1731.23 * omega), 0.125 * shortest);
    for (int c = 0; c < kDiffusionStages; ++c) {
        for (int k = 0; k < kN; ++k) {
            diffusionDelay_[static_cast<size_t>(c)][static_cast<size_t>(k)] = static_cast<int>(
                diffusionRatio_[static_cast<size_t>(c)][static_cast<size_t>(k)] * roomSamples_);
        }
    }
    hpCoef_ = onePoleCoef(p.lowCutHz, sampleRate_);
    lpCoef_ = onePoleCoef(p.highCutHz, sampleRate_);
}

void FdnReverb::reset()
{
    for (auto& stage : diffusion_) {
        for (DelayLine& line : stage) {
            std::fill(line.buffer.begin(), line.buffer.end(), 0.0f);
            line.write = 0;
        }
    }
    for (DelayLine& line : loop_) {
        std::fill(line.buffer.begin(), line.buffer.end(), 0.0f);
        line.write = 0;
    }
    for (int c = 0; c < kN; ++c) {
        // Spread the starting phases so the lines do not move together.
        const double phase = 2.0 * std::numbers::pi * c / kN;
        lfoCos_[static_cast<size_t>(c)] = std::cos(phase);
        lfoSin_[static_cast<size_t>(c)] = std::sin(phase);
    }
    lowState_.fill(0.0);
    highState_.fill(0.0);
    allpass_.fill(0.0);
    roomSmoothed_ = roomSamples_;
    for (int c = 0; c < 2; ++c) {
        hpState_[c] = hpPrev_[c] = lpState_[c] = 0.0;
    }
}

void FdnReverb::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                        unsigned frames)
{
    if (!configured()) {
        for (unsigned i = 0; i < frames; ++i) {
            outLeft[i] = 0.0f;
            outRight[i] = 0.0f;
        }
        return;
    }
    // Loop gains for this block, from each line's current mean length.
    for (int c = 0; c < kN; ++c) {
        const size_t k = static_cast<size_t>(c);
        const double length = roomSmoothed_ * loopRatio_[k];
        const double mid = std::exp(decayPerSample_ * length);
        midGain_[k] = mid;
        lowBlend_[k] = std::pow(mid, params_.lowDampRate - 1.0);
        highBlend_[k] = std::pow(mid, params_.highDampRate - 1.0);
    }
    const double outScale = 1.0 / std::sqrt(static_cast<double>(kN));
    const double householder = 2.0 / kN;
    for (unsigned i = 0; i < frames; ++i) {
        roomSmoothed_ += (roomSamples_ - roomSmoothed_) * roomGlide_;
        double x[kN];
        for (int c = 0; c < kN; ++c) {
            x[c] = (c & 1) ? inRight[i] : inLeft[i];
        }
        // Early diffusion.
        for (int s = 0; s < kDiffusionStages; ++s) {
            for (int c = 0; c < kN; ++c) {
                DelayLine& line = diffusion_[s][c];
                line.buffer[line.write] = static_cast<float>(x[c]);
                const uint32_t read =
                    (line.write -
                     static_cast<uint32_t>(
                         diffusionDelay_[static_cast<size_t>(s)][static_cast<size_t>(c)])) &
                    line.mask;
                x[c] = line.buffer[read] *
                       diffusionFlip_[static_cast<size_t>(s)][static_cast<size_t>(c)];
                line.write = (line.write + 1) & line.mask;
            }
            hadamard8(x);
        }
        // Loop: read, damp, mix.
        double y[kN];
        double sum = 0.0;
        for (int c = 0; c < kN; ++c) {
            const size_t k = static_cast<size_t>(c);
            const double co = lfoCos_[k];
            const double si = lfoSin_[k];
            lfoCos_[k] = co * lfoRotCos_[k] - si * lfoRotSin_[k];
            lfoSin_[k] = si * lfoRotCos_[k] + co * lfoRotSin_[k];
            const double delay =
                std::max(1.0, roomSmoothed_ * loopRatio_[k] + lfoDepth_ * (1.0 + si));
            DelayLine& line = loop_[c];
            // Fractional delay by a first-order allpass (flat magnitude, so the tail keeps its
            // highs): integer part n, fraction f in [0.5, 1.5).
            const double whole = std::floor(delay - 0.5);
            const double f = delay - whole;
            const double eta = (1.0 - f) / (1.0 + f);
            const uint32_t n = static_cast<uint32_t>(static_cast<int64_t>(whole));
            const uint32_t i0 = (line.write - n) & line.mask;
            const uint32_t i1 = (i0 - 1) & line.mask;
            const double v = eta * line.buffer[i0] + line.buffer[i1] - eta * allpass_[k];
            allpass_[k] = v;
            // High damping: blend with a low-passed copy; low damping: blend with a high-passed
            // copy. Both blends have a gain of at most 1 at every frequency.
            highState_[k] += (v - highState_[k]) * highSplit_;
            const double h = highBlend_[k] * v + (1.0 - highBlend_[k]) * highState_[k];
            lowState_[k] += (h - lowState_[k]) * lowSplit_;
            const double l = lowBlend_[k] * h + (1.0 - lowBlend_[k]) * (h - lowState_[k]);
            y[c] = midGain_[k] * l;
            sum += y[c];
        }
        double wetL = 0.0;
        double wetR = 0.0;
        for (int c = 0; c < kN; ++c) {
            DelayLine& line = loop_[c];
            line.buffer[line.write] = static_cast<float>(y[c] - householder * sum + x[c]);
            line.write = (line.write + 1) & line.mask;
            wetL += kSignLeft[c] * (y[c] + earlyGain_ * x[c]);
            wetR += kSignRight[c] * (y[c] + earlyGain_ * x[c]);
        }
        wetL *= outScale;
        wetR *= outScale;
        // Output cuts: one-pole high-pass and low-pass.
        double w[2] = {wetL, wetR};
        for (int c = 0; c < 2; ++c) {
            hpState_[c] += (w[c] - hpState_[c]) * hpCoef_;
            const double hp = w[c] - hpState_[c];
            lpState_[c] += (hp - lpState_[c]) * lpCoef_;
            w[c] = lpState_[c];
        }
        outLeft[i] = static_cast<float>(w[0]);
        outRight[i] = static_cast<float>(w[1]);
    }
    // Keep the phasors on the unit circle.
    for (int c = 0; c < kN; ++c) {
        const size_t k = static_cast<size_t>(c);
        const double norm = 1.0 / std::sqrt(lfoCos_[k] * lfoCos_[k] + lfoSin_[k] * lfoSin_[k]);
        lfoCos_[k] *= norm;
        lfoSin_[k] *= norm;
    }
}

} // namespace vesk::dsp
