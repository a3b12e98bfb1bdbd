#include "SincResampler.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstring>

namespace vesk {
namespace {

// Cut-off steps: table k passes up to 2^(-k/6) of the full band, down to 1/kMaxRatio.
constexpr int kStepsPerOctave = 6;
constexpr int kNumCutoffs = 5 * kStepsPerOctave + 1; // log2(kMaxRatio) octaves
static_assert(SincResampler::kMaxRatio == 32.0, "kNumCutoffs covers log2(kMaxRatio) octaves");

// Full-band cut-off as a fraction of the input rate: a little below Nyquist, so the transition
// band of the short kernel mostly lies under it.
constexpr double kFullBandCutoff = 0.5 * 0.95;
// Kaiser window shape: about 90 dB of stop-band rejection.
constexpr double kKaiserBeta = 9.0;

double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    const double q = x * x * 0.25;
    for (int k = 1; k < 64; ++k) {
        term *= q / (double(k) * double(k));
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

struct KernelTables
{
    alignas(64) float rows[kNumCutoffs][SincResampler::kPhases + 1][SincResampler::kTaps];

    KernelTables()
    {
        constexpr int kTaps = SincResampler::kTaps;
        constexpr int kHalf = SincResampler::kHalfTaps;
        const double i0Beta = besselI0(kKaiserBeta);
        for (int k = 0; k < kNumCutoffs; ++k) {
            const double fc = kFullBandCutoff * std::exp2(-double(k) / kStepsPerOctave);
            for (int p = 0; p <= SincResampler::kPhases; ++p) {
                const double frac = double(p) / SincResampler::kPhases;
                double row[kTaps];
                double sum = 0.0;
                for (int j = 0; j < kTaps; ++j) {
                    // Tap j sits at input offset j - (kHalf - 1) from the integer read position.
                    const double d = double(j - (kHalf - 1)) - frac;
                    const double x = 2.0 * fc * d;
                    const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
                    const double r = d / kHalf;
                    const double w =
                        r * r < 1.0 ? besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / i0Beta : 0.0;
                    row[j] = sinc * w;
                    sum += row[j];
                }
                // Unity gain at DC for every phase, so a fractional position never modulates the
                // level of low partials.
                for (int j = 0; j < kTaps; ++j)
                    rows[k][p][j] = float(row[j] / sum);
            }
        }
    }
};

const KernelTables& kernelTables()
{
    static const KernelTables tables;
    return tables;
}

} // namespace

SincResampler::SincResampler() : kernels_(&kernelTables().rows[0][0][0]) {}

const float* SincResampler::kernelRow(int cutoffIndex, int phase)
{
    return kernelTables()
        .rows[std::clamp(cutoffIndex, 0, kNumCutoffs - 1)][std::clamp(phase, 0, kPhases)];
}

int SincResampler::cutoffIndexForRatio(double ratio)
{
    if (!(ratio > 1.0))
        return 0;
    // The step at or below the wanted cut-off 1/ratio (a tiny tolerance keeps exact octaves on
    // their own step).
    const double steps = std::ceil(std::log2(ratio) * kStepsPerOctave - 1e-9);
    return std::clamp(int(steps), 0, kNumCutoffs - 1);
}

void SincResampler::reset()
{
    for (auto& channel : buffer_)
        std::fill(channel, channel + kHalfTaps, 0.0f);
    fill_ = kHalfTaps - 1;
    readIndex_ = kHalfTaps - 1;
    readFrac_ = 0.0;
}

void SincResampler::setRates(double inRateHz, double outRateHz)
{
    inRate_ = std::isfinite(inRateHz) ? std::max(inRateHz, 1.0) : 1.0;
    outRate_ = std::isfinite(outRateHz) ? std::max(outRateHz, 1.0) : 1.0;
    ratio_ = std::min(inRate_ / outRate_, kMaxRatio);
    cutoffIndex_ = cutoffIndexForRatio(ratio_);
}

void SincResampler::compact()
{
    // Keep kHalfTaps - 1 frames of history before the read position. When a large ratio has moved
    // the read position past the buffered input, drop everything; the caller then writes the
    // skipped frames, which are dropped by the next compaction.
    const int shift =
        std::min(int(std::min<int64_t>(readIndex_, INT32_MAX)) - (kHalfTaps - 1), fill_);
    if (shift <= 0)
        return;
    const int keep = fill_ - shift;
    for (auto& channel : buffer_)
        std::memmove(channel, channel + shift, size_t(keep) * sizeof(float));
    fill_ = keep;
    readIndex_ -= shift;
}

int SincResampler::inputNeeded(int outFrames)
{
    compact();
    if (outFrames <= 0)
        return 0;
    const double last = double(readIndex_) + readFrac_ + double(outFrames - 1) * ratio_;
    const double need = std::floor(last) + kHalfTaps + 1 - fill_;
    if (need <= 0.0)
        return 0;
    return int(std::min(need, double(kCapacity - fill_)));
}

void SincResampler::commitInput(int frames)
{
    fill_ += std::clamp(frames, 0, kCapacity - fill_);
}

int SincResampler::process(float* const* out, int channels, int maxFrames)
{
    channels = std::clamp(channels, 1, kMaxChannels);
    const float* const table = kernels_ + size_t(cutoffIndex_) * (kPhases + 1) * kTaps;
    int produced = 0;
    alignas(32) float w[kTaps];
    while (produced < maxFrames) {
        const int64_t i = readIndex_;
        if (i + kHalfTaps >= fill_)
            break;
        const double phase = readFrac_ * kPhases;
        const int ip = int(phase);
        const float t = float(phase - ip);
        const float* r0 = table + size_t(ip) * kTaps;
        const float* r1 = r0 + kTaps;
        for (int j = 0; j < kTaps; ++j)
            w[j] = r0[j] + t * (r1[j] - r0[j]);
        const int64_t base = i - (kHalfTaps - 1);
        for (int c = 0; c < channels; ++c) {
            const float* x = buffer_[c] + base;
            // Eight partial sums, so the compiler can keep them in vector registers.
            float acc[8] = {};
            for (int j = 0; j < kTaps; j += 8)
                for (int q = 0; q < 8; ++q)
                    acc[q] += w[j + q] * x[j + q];
            out[c][produced] =
                ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
        }
        ++produced;
        // The read position advances as a whole index and a fraction below 1, so its rounding
        // does not depend on where the buffer was last compacted: the output is the same
        // whatever sizes the caller's blocks have.
        readFrac_ += ratio_;
        const int whole = int(readFrac_); // readFrac_ >= 0: truncation is the floor
        readIndex_ += whole;
        readFrac_ -= double(whole);
    }
    return produced;
}

} // namespace vesk
