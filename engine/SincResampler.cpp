#include "SincResampler.h"

#include "CpuFeatures.h"

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

// Each phase's row is stored with its step to the next phase's row beside it, so a frame reads
// the two halves of one 256-byte stretch and interpolates between phases with one multiply-add
// per tap. The step is the same float subtraction the interpolation would make, so the weights
// are the same to the bit. The row after the last phase (row 0 moved by one tap) follows on its
// own, for kernelRow.
struct KernelTables
{
    static constexpr int kTaps = SincResampler::kTaps;
    static constexpr int kPhases = SincResampler::kPhases;
    static constexpr size_t kTableFloats = size_t(kPhases) * 2 * kTaps;

    alignas(64) float rows[kNumCutoffs][kPhases][2][kTaps];
    alignas(64) float lastRow[kNumCutoffs][kTaps];

    KernelTables()
    {
        constexpr int kHalf = SincResampler::kHalfTaps;
        const double i0Beta = besselI0(kKaiserBeta);
        for (int k = 0; k < kNumCutoffs; ++k) {
            const double fc = kFullBandCutoff * std::exp2(-double(k) / kStepsPerOctave);
            float prev[kTaps] = {};
            for (int p = 0; p <= kPhases; ++p) {
                const double frac = double(p) / kPhases;
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
                float* dst = p < kPhases ? rows[k][p][0] : lastRow[k];
                for (int j = 0; j < kTaps; ++j)
                    dst[j] = float(row[j] / sum);
                if (p > 0)
                    for (int j = 0; j < kTaps; ++j)
                        rows[k][p - 1][1][j] = dst[j] - prev[j];
                std::copy(dst, dst + kTaps, prev);
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

SincResampler::SincResampler() : kernels_(&kernelTables().rows[0][0][0][0]) {}

const float* SincResampler::kernelRow(int cutoffIndex, int phase)
{
    const KernelTables& tables = kernelTables();
    const int k = std::clamp(cutoffIndex, 0, kNumCutoffs - 1);
    const int p = std::clamp(phase, 0, kPhases);
    return p < kPhases ? tables.rows[k][p][0] : tables.lastRow[k];
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
    readFrac_ = 0;
}

void SincResampler::setRates(double inRateHz, double outRateHz)
{
    inRate_ = std::isfinite(inRateHz) ? std::max(inRateHz, 1.0) : 1.0;
    outRate_ = std::isfinite(outRateHz) ? std::max(outRateHz, 1.0) : 1.0;
    ratio_ = std::min(inRate_ / outRate_, kMaxRatio);
    const double whole = std::floor(ratio_);
    ratioWhole_ = int64_t(whole);
    // The fraction below 1 in units of 2^-64; a value that rounds up to 2^64 stays just below.
    ratioFrac_ = uint64_t(std::min((ratio_ - whole) * 0x1p64, 0x1p64 - 2048.0));
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
    // The history moves back to the buffer's start only once the read position is well into
    // it (or the space runs short): a voice asks before every stretch it renders, and the
    // stretches are short while the host automates it.
    if (readIndex_ >= kCompactAfter || fill_ > kCapacity - kCompactAfter)
        compact();
    if (outFrames <= 0)
        return 0;
    // The whole part of the position of the last of the frames, exactly as process() will step.
    using Wide = unsigned __int128;
    const Wide steps = unsigned(outFrames - 1);
    const Wide fraction = Wide(readFrac_) + steps * ratioFrac_;
    const int64_t last =
        readIndex_ + int64_t(steps) * ratioWhole_ + int64_t(uint64_t(fraction >> 64));
    const int64_t need = last + kHalfTaps + 1 - fill_;
    if (need <= 0)
        return 0;
    if (need > kCapacity - fill_)
        compact(); // moves the read position and the end alike: `need` stays
    return int(std::min<int64_t>(need, kCapacity - fill_));
}

void SincResampler::commitInput(int frames)
{
    fill_ += std::clamp(frames, 0, kCapacity - fill_);
}

namespace {

// Eight floats as one value; the compiler maps the arithmetic onto whatever vector unit the
// function is compiled for (two SSE or NEON registers, or one AVX register).
using Float8 = float __attribute__((vector_size(32)));
using Float4 = float __attribute__((vector_size(16)));

// Vector values are passed by reference: these helpers are inlined into functions built for
// different vector units, and a by-value vector would have a different calling convention in each.
[[gnu::always_inline]] inline void load8(Float8& v, const float* p)
{
    std::memcpy(&v, p, sizeof v);
}

[[gnu::always_inline]] inline float sum8(const Float8& v)
{
    Float4 lo, hi;
    std::memcpy(&lo, &v, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&v) + sizeof lo, sizeof hi);
    const Float4 s = lo + hi;
    return (s[0] + s[2]) + (s[1] + s[3]);
}

// One output frame: the kernel row for fraction t between the row at r and the next one (whose
// step from it follows the row), applied to kTaps input frames from x[c] for each channel.
template <int Channels>
[[gnu::always_inline]] inline void interpolateFrame(const float* r, float t, const float* const* x,
                                                    float* const* out, int at)
{
    constexpr int kTaps = SincResampler::kTaps;
    static_assert(kTaps == 32, "the frame kernel is written for four groups of eight taps");
    const float* step = r + kTaps;
    Float8 w[4];
    for (int k = 0; k < 4; ++k) {
        Float8 a, d;
        load8(a, r + 8 * k);
        load8(d, step + 8 * k);
        w[k] = a + t * d;
    }
    Float8 acc[Channels];
    for (int c = 0; c < Channels; ++c) {
        Float8 x0, x1, x2, x3;
        load8(x0, x[c]);
        load8(x1, x[c] + 8);
        load8(x2, x[c] + 16);
        load8(x3, x[c] + 24);
        acc[c] = (w[0] * x0 + w[1] * x1) + (w[2] * x2 + w[3] * x3);
    }
    if constexpr (Channels == 1) {
        out[0][at] = sum8(acc[0]);
    } else {
        // Both sums at once, in the order sum8 adds: halves, then (0 + 2) + (1 + 3).
        Float4 l0, l1, r0, r1;
        std::memcpy(&l0, &acc[0], sizeof l0);
        std::memcpy(&l1, reinterpret_cast<const char*>(&acc[0]) + sizeof l0, sizeof l1);
        std::memcpy(&r0, &acc[1], sizeof r0);
        std::memcpy(&r1, reinterpret_cast<const char*>(&acc[1]) + sizeof r0, sizeof r1);
        const Float4 sl = l0 + l1;
        const Float4 sr = r0 + r1;
        const Float4 u = __builtin_shufflevector(sl, sr, 0, 1, 4, 5) +
                         __builtin_shufflevector(sl, sr, 2, 3, 6, 7);
        const Float4 v = u + __builtin_shufflevector(u, u, 1, 0, 3, 2);
        out[0][at] = v[0];
        out[1][at] = v[2];
    }
}

struct ReadPosition
{
    int64_t index;
    uint64_t frac; // units of 2^-64
};

struct Step
{
    int64_t whole;
    uint64_t frac;
};

template <int Channels>
[[gnu::always_inline]] inline int interpolateRun(const float* table, const float* const* buffers,
                                                 int fill, ReadPosition& pos, Step step,
                                                 float* const* out, int maxFrames)
{
    constexpr int kTaps = SincResampler::kTaps;
    constexpr int kHalfTaps = SincResampler::kHalfTaps;
    static_assert(SincResampler::kPhases == 256, "the phase is the fraction's top eight bits");
    int64_t index = pos.index;
    uint64_t frac = pos.frac;
    int produced = 0;
    while (produced < maxFrames && index + kHalfTaps < fill) {
        // Top eight bits: the kernel row; the next 24: where between it and the next one.
        const int ip = int(frac >> 56);
        const float t = float(uint32_t(frac >> 32) & 0xFFFFFFu) * 0x1p-24f;
        const int64_t base = index - (kHalfTaps - 1);
        const float* x[Channels];
        for (int c = 0; c < Channels; ++c)
            x[c] = buffers[c] + base;
        interpolateFrame<Channels>(table + size_t(ip) * 2 * kTaps, t, x, out, produced);
        ++produced;
        const uint64_t next = frac + step.frac;
        index += step.whole + int64_t(next < frac);
        frac = next;
    }
    pos = {index, frac};
    return produced;
}

using RunFn = int (*)(const float*, const float* const*, int, int, ReadPosition&, Step,
                      float* const*, int);

int runPortable(const float* table, const float* const* buffers, int channels, int fill,
                ReadPosition& pos, Step step, float* const* out, int maxFrames)
{
    if (channels == 1)
        return interpolateRun<1>(table, buffers, fill, pos, step, out, maxFrames);
    return interpolateRun<2>(table, buffers, fill, pos, step, out, maxFrames);
}

#if VESK_HAS_AVX2_BUILD
// The same loop for processors with AVX2 and fused multiply-add, chosen at run time so the build
// still runs on any x86-64.
VESK_TARGET_AVX2 int runAvx2(const float* table, const float* const* buffers, int channels,
                             int fill, ReadPosition& pos, Step step, float* const* out,
                             int maxFrames)
{
    if (channels == 1)
        return interpolateRun<1>(table, buffers, fill, pos, step, out, maxFrames);
    return interpolateRun<2>(table, buffers, fill, pos, step, out, maxFrames);
}
#endif

const RunFn kRun = VESK_CHOOSE_BUILD(runAvx2, runPortable);

} // namespace

int SincResampler::process(float* const* out, int channels, int maxFrames)
{
    channels = std::clamp(channels, 1, kMaxChannels);
    const float* const table = kernels_ + size_t(cutoffIndex_) * KernelTables::kTableFloats;
    const float* const buffers[kMaxChannels] = {buffer_[0], buffer_[1]};
    ReadPosition pos{readIndex_, readFrac_};
    const int produced =
        kRun(table, buffers, channels, fill_, pos, Step{ratioWhole_, ratioFrac_}, out, maxFrames);
    readIndex_ = pos.index;
    readFrac_ = pos.frac;
    return produced;
}

} // namespace vesk
