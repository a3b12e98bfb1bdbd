#include "fx/dsp/FdnReverb.h"

#include "engine/VectorValues.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::dsp {

namespace {

constexpr int kN = FdnReverb::kChannels;
constexpr double kLowSplitHz = 250.0;
constexpr double kHighSplitHz = 4000.0;
constexpr double kLfoMeanHz = 0.5;
constexpr double kMaxLoopRatio = 1.5;
constexpr double kDiffusionSpan = 0.4; // first stage spans 40 % of the room, later ones less

// Eight lanes, one per line; the compiler maps the arithmetic onto whatever vector unit there is.
// Vector values stay inside the functions that use them (no passing by value).
using Double8 = double __attribute__((vector_size(64)));
using vec::Float8;
using Int8 = int32_t __attribute__((vector_size(32)));

using vec::load;
using vec::store;

double finiteOr(double v, double fallback)
{
    return std::isfinite(v) ? v : fallback;
}

// In-place 8-point Hadamard transform, not normalised.
inline void hadamard8(float* x)
{
    const float a0 = x[0] + x[4], a1 = x[1] + x[5], a2 = x[2] + x[6], a3 = x[3] + x[7];
    const float b0 = x[0] - x[4], b1 = x[1] - x[5], b2 = x[2] - x[6], b3 = x[3] - x[7];
    const float c0 = a0 + a2, c1 = a1 + a3, c2 = a0 - a2, c3 = a1 - a3;
    const float d0 = b0 + b2, d1 = b1 + b3, d2 = b0 - b2, d3 = b1 - b3;
    x[0] = c0 + c1;
    x[1] = c0 - c1;
    x[2] = c2 + c3;
    x[3] = c2 - c3;
    x[4] = d0 + d1;
    x[5] = d0 - d1;
    x[6] = d2 + d3;
    x[7] = d2 - d3;
}

double onePoleCoef(double hz, double rate)
{
    return 1.0 - std::exp(-2.0 * std::numbers::pi * hz / rate);
}

} // namespace

void FdnReverb::allocate(LineGroup& group, double maxSamples)
{
    uint32_t size = 16;
    while (static_cast<double>(size) < maxSamples + 4.0) {
        size *= 2;
    }
    group.stride = size + 16;
    group.buffer.assign(static_cast<size_t>(group.stride) * kN, 0.0f);
    group.mask = size - 1;
    group.write = 0;
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
                (seed >> 3) & 1u ? -1.0f : 1.0f;
        }
    }
    for (LineGroup& stage : diffusion_) {
        allocate(stage, maxRoomSamples * kDiffusionSpan);
    }
    // Line modulation never exceeds 1/8 of the shortest line (see derive); room for it here.
    allocate(loop_, maxRoomSamples * kMaxLoopRatio * 1.02 * 1.2);
    for (int c = 0; c < kN; ++c) {
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
    gainsStale_ = true;
    lowSplit_ = static_cast<float>(onePoleCoef(kLowSplitHz, sampleRate_));
    highSplit_ = static_cast<float>(onePoleCoef(kHighSplitHz, sampleRate_));
    // Pitch deviation of a sine-modulated delay: depth x omega (as a ratio); in cents about
    // 1731 x depth x omega.
    const double omega = 2.0 * std::numbers::pi * kLfoMeanHz / sampleRate_;
    const double shortest = roomSamples_ * loopRatio_[0];
    lfoDepth_ = std::min(p.detuneCents / (1731.23 * omega), 0.125 * shortest);
    for (int c = 0; c < kDiffusionStages; ++c) {
        for (int k = 0; k < kN; ++k) {
            diffusionDelay_[static_cast<size_t>(c)][static_cast<size_t>(k)] = static_cast<uint32_t>(
                diffusionRatio_[static_cast<size_t>(c)][static_cast<size_t>(k)] * roomSamples_);
        }
    }
    hpCoef_ = onePoleCoef(p.lowCutHz, sampleRate_);
    lpCoef_ = onePoleCoef(p.highCutHz, sampleRate_);
}

void FdnReverb::reset()
{
    for (LineGroup& stage : diffusion_) {
        std::fill(stage.buffer.begin(), stage.buffer.end(), 0.0f);
        stage.write = 0;
    }
    std::fill(loop_.buffer.begin(), loop_.buffer.end(), 0.0f);
    loop_.write = 0;
    for (int c = 0; c < kN; ++c) {
        // Spread the starting phases so the lines do not move together.
        const double phase = 2.0 * std::numbers::pi * c / kN;
        lfoCos_[static_cast<size_t>(c)] = std::cos(phase);
        lfoSin_[static_cast<size_t>(c)] = std::sin(phase);
    }
    lowState_.fill(0.0f);
    highState_.fill(0.0f);
    allpass_.fill(0.0f);
    roomSmoothed_ = roomSamples_;
    for (int c = 0; c < 2; ++c) {
        hpState_[c] = hpPrev_[c] = lpState_[c] = 0.0;
    }
    passPos_ = 0;
    gainsStale_ = true;
}

void FdnReverb::updateLoopGains()
{
    for (int c = 0; c < kN; ++c) {
        const size_t k = static_cast<size_t>(c);
        const double length = roomSmoothed_ * loopRatio_[k];
        const double mid = std::exp(decayPerSample_ * length);
        midGain_[k] = static_cast<float>(mid);
        lowBlend_[k] = static_cast<float>(std::pow(mid, params_.lowDampRate - 1.0));
        highBlend_[k] = static_cast<float>(std::pow(mid, params_.highDampRate - 1.0));
    }
    gainsRoom_ = roomSmoothed_;
    gainsStale_ = false;
}

// The early diffusion only sees the input, so a whole pass of it runs ahead of the loop, one stage
// at a time.
void FdnReverb::diffuse(const float* inLeft, const float* inRight, unsigned frames)
{
    for (unsigned i = 0; i < frames; ++i) {
        for (int c = 0; c < kN; c += 2) {
            early_[i][c] = inLeft[i];
            early_[i][c + 1] = inRight[i];
        }
    }
    for (int s = 0; s < kDiffusionStages; ++s) {
        LineGroup& stage = diffusion_[s];
        const uint32_t mask = stage.mask;
        float* line[kN];
        uint32_t delay[kN];
        float flip[kN];
        for (int c = 0; c < kN; ++c) {
            line[c] = stage.line(c);
            delay[c] = diffusionDelay_[static_cast<size_t>(s)][static_cast<size_t>(c)];
            // The sign flip and the Hadamard mix's normalisation in one factor.
            flip[c] = diffusionFlip_[static_cast<size_t>(s)][static_cast<size_t>(c)] *
                      0.35355339059327373f;
        }
        uint32_t write = stage.write;
        for (unsigned i = 0; i < frames; ++i) {
            float x[kN];
            for (int c = 0; c < kN; ++c) {
                line[c][write] = early_[i][c];
            }
            // A delay of 0 reads the sample just written.
            for (int c = 0; c < kN; ++c) {
                x[c] = line[c][(write - delay[c]) & mask] * flip[c];
            }
            hadamard8(x);
            for (int c = 0; c < kN; ++c) {
                early_[i][c] = x[c];
            }
            write = (write + 1) & mask;
        }
        stage.write = write;
    }
}

// Read offsets and allpass coefficients of the modulated loop delays for a pass.
void FdnReverb::planReads(unsigned frames)
{
    Double8 co, si, rotCos, rotSin, ratio;
    load(co, lfoCos_.data());
    load(si, lfoSin_.data());
    load(rotCos, lfoRotCos_.data());
    load(rotSin, lfoRotSin_.data());
    load(ratio, loopRatio_.data());
    const double depth = lfoDepth_;
    double room = roomSmoothed_;
    for (unsigned i = 0; i < frames; ++i) {
        room += (roomSamples_ - room) * roomGlide_;
        const Double8 s = si;
        si = s * rotCos + co * rotSin;
        co = co * rotCos - s * rotSin;
        Double8 delay = room * ratio + depth * (1.0 + s);
        delay = delay > 1.0 ? delay : 1.0;
        // Fractional delay by a first-order allpass (flat magnitude, so the tail keeps its
        // highs): integer part n, fraction f in [0.5, 1.5). The delay is at least 1, so
        // truncation is the floor here.
        const Int8 whole = __builtin_convertvector(delay - 0.5, Int8);
        const Float8 f =
            __builtin_convertvector(delay - __builtin_convertvector(whole, Double8), Float8);
        const Float8 eta = (1.0f - f) / (1.0f + f);
        store(readEta_[i], eta);
        store(readOffset_[i], whole);
    }
    roomSmoothed_ = room;
    store(lfoCos_.data(), co);
    store(lfoSin_.data(), si);
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
    const float householder = 2.0f / kN;
    const float earlyGain = static_cast<float>(earlyGain_);
    const double outScale = 1.0 / std::sqrt(static_cast<double>(kN));
    const uint32_t mask = loop_.mask;
    const size_t stride = loop_.stride;
    float* const lines = loop_.buffer.data();
    Float8 ap, lowS, highS, mid, lowB, highB;
    load(ap, allpass_.data());
    load(lowS, lowState_.data());
    load(highS, highState_.data());
    Float8 lowRest, highRest;
    auto loadGains = [&] {
        load(mid, midGain_.data());
        load(lowB, lowBlend_.data());
        load(highB, highBlend_.data());
        lowRest = 1.0f - lowB;
        highRest = 1.0f - highB;
    };
    loadGains();
    const float lowSplit = lowSplit_;
    const float highSplit = highSplit_;

    for (unsigned done = 0; done < frames;) {
        // Loop gains at the start of a pass, when the room or the parameters moved.
        if (passPos_ == 0 && (gainsStale_ || roomSmoothed_ != gainsRoom_)) {
            updateLoopGains();
            loadGains();
        }
        const unsigned n = std::min(kChunk - passPos_, frames - done);
        diffuse(inLeft + done, inRight + done, n);
        planReads(n);
        uint32_t write = loop_.write;
        for (unsigned i = 0; i < n; ++i) {
            // Loop: read, damp, mix.
            float read0[kN], read1[kN];
            for (size_t c = 0; c < kN; ++c) {
                const float* line = lines + c * stride;
                const uint32_t i0 = (write - readOffset_[i][c]) & mask;
                read0[c] = line[i0];
                read1[c] = line[(i0 - 1) & mask];
            }
            Float8 b0, b1, eta, x;
            load(b0, read0);
            load(b1, read1);
            load(eta, readEta_[i]);
            load(x, early_[i]);
            const Float8 v = eta * (b0 - ap) + b1;
            ap = v;
            // High damping: blend with a low-passed copy; low damping: blend with a high-passed
            // copy. Both blends have a gain of at most 1 at every frequency.
            highS += (v - highS) * highSplit;
            const Float8 h = highB * v + highRest * highS;
            lowS += (h - lowS) * lowSplit;
            const Float8 l = lowB * h + lowRest * (h - lowS);
            const Float8 y = mid * l;
            const float sum = ((y[0] + y[4]) + (y[1] + y[5])) + ((y[2] + y[6]) + (y[3] + y[7]));
            float feed[kN];
            store(feed, y - householder * sum + x);
            for (size_t c = 0; c < kN; ++c) {
                lines[c * stride + write] = feed[c];
            }
            write = (write + 1) & mask;
            // Output sign patterns: two orthogonal rows of an 8 x 8 Hadamard matrix.
            const Float8 e = y + earlyGain * x;
            const float even = (e[0] + e[2]) + (e[4] + e[6]);
            const float odd = (e[1] + e[3]) + (e[5] + e[7]);
            double w[2] = {(double(even) + odd) * outScale, (double(even) - odd) * outScale};
            // Output cuts: one-pole high-pass and low-pass.
            for (int c = 0; c < 2; ++c) {
                hpState_[c] += (w[c] - hpState_[c]) * hpCoef_;
                const double hp = w[c] - hpState_[c];
                lpState_[c] += (hp - lpState_[c]) * lpCoef_;
                w[c] = lpState_[c];
            }
            outLeft[done + i] = static_cast<float>(w[0]);
            outRight[done + i] = static_cast<float>(w[1]);
        }
        loop_.write = write;
        done += n;
        passPos_ += n;
        if (passPos_ == kChunk) {
            passPos_ = 0;
            // Keep the phasors on the unit circle.
            for (int c = 0; c < kN; ++c) {
                const size_t k = static_cast<size_t>(c);
                const double norm =
                    1.0 / std::sqrt(lfoCos_[k] * lfoCos_[k] + lfoSin_[k] * lfoSin_[k]);
                lfoCos_[k] *= norm;
                lfoSin_[k] *= norm;
            }
        }
    }
    store(allpass_.data(), ap);
    store(lowState_.data(), lowS);
    store(highState_.data(), highS);
}

} // namespace vesk::dsp
