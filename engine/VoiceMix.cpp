#include "VoiceMix.h"

#include "CpuFeatures.h"

#include <algorithm>
#include <initializer_list>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace vesk {

namespace {

constexpr double kSvfDamping = 1.4142135623730951; // sqrt(2): Butterworth

using Double2 = double __attribute__((vector_size(16)));
using Double4 = double __attribute__((vector_size(32)));

// One step of a trapezoidal SVF with states (s1, s2) and input x, as sums of the three:
//   bp = a1 s1 + a2 (x - s2),  lp = s2 + a2 s1 + a3 (x - s2)
//   s1' = 2 bp - s1,  s2' = 2 lp - s2
//   high-pass out = x - k bp - lp,  low-pass out = lp.
// A vector of V holds one value per lane; unused lanes have all-zero coefficients.
template <class V> struct SvfSteps
{
    V m11{}, m12{}, b1{}; // s1' = m11 s1 + m12 s2 + b1 x
    V m21{}, m22{}, b2{}; // s2' = m21 s1 + m22 s2 + b2 x
    V c1{}, c2{}, d{};    // out = c1 s1 + c2 s2 + d x

    void setLane(int lane, const SvfCoefficients& c, bool highPass)
    {
        const double a1 = c.a1, a2 = c.a2, a3 = c.a3;
        m11[lane] = 2.0 * a1 - 1.0;
        m12[lane] = -2.0 * a2;
        b1[lane] = 2.0 * a2;
        m21[lane] = 2.0 * a2;
        m22[lane] = 1.0 - 2.0 * a3;
        b2[lane] = 2.0 * a3;
        if (highPass) {
            c1[lane] = -kSvfDamping * a1 - a2;
            c2[lane] = kSvfDamping * a2 - 1.0 + a3;
            d[lane] = 1.0 - kSvfDamping * a2 - a3;
        } else {
            c1[lane] = a2;
            c2[lane] = 1.0 - a3;
            d[lane] = a3;
        }
    }
};

// How many samples the low-pass lanes run behind the high-pass lanes: enough that a high-pass
// output has long been stored when its low-pass step loads it.
constexpr int kSkew = 3;
constexpr int kRing = 4; // power of two above kSkew
static_assert(kRing > kSkew && (kRing & (kRing - 1)) == 0);

// The frame kernel, for a lane layout:
//   both filters: lanes [0, C) high-pass of each channel, lanes [C, 2C) low-pass;
//   one filter:   lanes [0, C) that filter;
//   no filter:    no lanes.
template <int C, bool Hp, bool Lp, bool Fade, class V>
[[gnu::always_inline]] inline float mixKernel(const VoiceMixChunk& k)
{
    constexpr int kFilters = int(Hp) + int(Lp);
    static_assert(C * kFilters <= int(sizeof(V) / sizeof(double)));
    const VoiceMixSegment* segs = k.segments;
    const int segCount = k.segmentCount;
    int n = 0;
    for (int s = 0; s < segCount; ++s)
        n += segs[s].frames;
    const float* in0 = k.in[0];
    const float* in1 = C == 2 ? k.in[1] : k.in[0];
    const double* fade = k.fadeGain;
    float* outL = k.outLeft;
    float* outR = k.outRight;
    float peak = 0.0f;
    double gainL = 1.0, gainR = 1.0; // of the segment being emitted

    auto input = [&](int c, int j) __attribute__((always_inline))
    {
        const double x = double(c == 0 ? in0[j] : in1[j]);
        if constexpr (Fade)
            return x * fade[j];
        else
            return x;
    };
    auto emit = [&](int i, double yL, double yR) __attribute__((always_inline))
    {
        const float addL = float(gainL * yL);
        const float addR = float(gainR * yR);
        outL[i] += addL;
        outR[i] += addR;
        peak = std::max(peak, std::max(std::fabs(addL), std::fabs(addR)));
    };

    if constexpr (kFilters == 0) {
        for (int s = 0, i = 0; s < segCount; ++s) {
            gainL = segs[s].gainLeft;
            gainR = segs[s].gainRight;
            for (const int end = i + segs[s].frames; i < end; ++i) {
                const double xL = input(0, i);
                emit(i, xL, C == 2 ? input(1, i) : xL);
            }
        }
        return peak;
    } else {
        SvfSteps<V> m;
        V s1{}, s2{};
        SvfState* states[2] = {Hp ? k.highPassState : k.lowPassState, k.lowPassState};
        for (int f = 0; f < kFilters; ++f)
            for (int c = 0; c < C; ++c) {
                s1[f * C + c] = states[f][c].s1;
                s2[f * C + c] = states[f][c].s2;
            }
        // The lanes of filter f take the coefficients of segment s (unless they are those of
        // the segment before: most segments move only the gains, or the other filter).
        auto useSegment = [&](int f, int s) __attribute__((always_inline))
        {
            const bool high = Hp && f == 0;
            const SvfCoefficients& c = high ? segs[s].highPass : segs[s].lowPass;
            if (s > 0) {
                const SvfCoefficients& b = high ? segs[s - 1].highPass : segs[s - 1].lowPass;
                if (std::memcmp(&c, &b, sizeof c) == 0)
                    return;
            }
            for (int lane = 0; lane < C; ++lane)
                m.setLane(f * C + lane, c, high);
        };

        auto step = [&](const V& x, V& y) __attribute__((always_inline))
        {
            y = m.c1 * s1 + (m.c2 * s2 + m.d * x);
            const V n1 = m.m11 * s1 + (m.m12 * s2 + m.b1 * x);
            const V n2 = m.m22 * s2 + (m.m21 * s1 + m.b2 * x);
            s1 = n1;
            s2 = n2;
        };

        if constexpr (kFilters == 1) {
            for (int s = 0, i = 0; s < segCount; ++s) {
                useSegment(0, s);
                gainL = segs[s].gainLeft;
                gainR = segs[s].gainRight;
                for (const int end = i + segs[s].frames; i < end; ++i) {
                    V x{}, y;
                    for (int c = 0; c < C; ++c)
                        x[c] = input(c, i);
                    step(x, y);
                    emit(i, y[0], y[C - 1]);
                }
            }
        } else {
            // Step j runs the high-pass on frame j and the low-pass on frame j - kSkew, which
            // reads the high-pass output stored kSkew steps before. Each half takes the
            // coefficients of the segment its own frame lies in, so the low-pass lanes change
            // segments kSkew steps after the high-pass lanes.
            double ring[kRing][C] = {};
            int hpSeg = 0, lpSeg = 0;   // segments of frames j and j - kSkew
            int hpEnd = segs[0].frames; // first frame after hpSeg
            int lpEnd = segs[0].frames; // first frame after lpSeg
            useSegment(0, 0);
            useSegment(1, 0);
            gainL = segs[0].gainLeft;
            gainR = segs[0].gainRight;
            // Moves either half on to the segment of its next frame.
            auto advance = [&](int j) __attribute__((always_inline))
            {
                while (j < n && j >= hpEnd && hpSeg + 1 < segCount) {
                    hpEnd += segs[++hpSeg].frames;
                    useSegment(0, hpSeg);
                }
                const int i = j - kSkew;
                while (i >= 0 && i >= lpEnd && lpSeg + 1 < segCount) {
                    lpEnd += segs[++lpSeg].frames;
                    useSegment(1, lpSeg);
                    gainL = segs[lpSeg].gainLeft;
                    gainR = segs[lpSeg].gainRight;
                }
            };
            auto edgeStep = [&](int j) __attribute__((always_inline))
            {
                advance(j);
                const bool high = j < n;
                const bool low = j >= kSkew;
                V x{}, y;
                for (int c = 0; c < C; ++c) {
                    x[c] = high ? input(c, j) : 0.0;
                    x[C + c] = low ? ring[(j - kSkew) & (kRing - 1)][c] : 0.0;
                }
                const V keep1 = s1, keep2 = s2;
                step(x, y);
                for (int c = 0; c < C; ++c) {
                    if (high)
                        ring[j & (kRing - 1)][c] = y[c];
                    else
                        s1[c] = keep1[c], s2[c] = keep2[c];
                    if (!low)
                        s1[C + c] = keep1[C + c], s2[C + c] = keep2[C + c];
                }
                if (low)
                    emit(j - kSkew, y[C], y[2 * C - 1]);
            };
            const int head = std::min(kSkew, n);
            for (int j = 0; j < head; ++j)
                edgeStep(j);
            for (int j = kSkew; j < n;) {
                advance(j);
                // Up to the next change of either half's segment.
                const int runEnd = std::min({n, hpEnd, lpEnd + kSkew});
                for (; j < runEnd; ++j) {
                    V x, y;
                    for (int c = 0; c < C; ++c) {
                        x[c] = input(c, j);
                        x[C + c] = ring[(j - kSkew) & (kRing - 1)][c];
                    }
                    step(x, y);
                    for (int c = 0; c < C; ++c)
                        ring[j & (kRing - 1)][c] = y[c];
                    emit(j - kSkew, y[C], y[2 * C - 1]);
                }
            }
            for (int j = std::max(n, kSkew); j < n + kSkew; ++j)
                edgeStep(j);
        }

        for (int f = 0; f < kFilters; ++f)
            for (int c = 0; c < C; ++c) {
                states[f][c].s1 = s1[f * C + c];
                states[f][c].s2 = s2[f * C + c];
            }
        return peak;
    }
}

using MixFn = float (*)(const VoiceMixChunk&);

// The kernel of every layout, indexed by [channels - 1][high-pass][low-pass][fade].
struct MixTable
{
    MixFn fns[2][2][2][2];
};

template <template <int, bool, bool, bool> class Build> constexpr MixTable makeTable()
{
    return {{{{{Build<1, false, false, false>::run, Build<1, false, false, true>::run},
               {Build<1, false, true, false>::run, Build<1, false, true, true>::run}},
              {{Build<1, true, false, false>::run, Build<1, true, false, true>::run},
               {Build<1, true, true, false>::run, Build<1, true, true, true>::run}}},
             {{{Build<2, false, false, false>::run, Build<2, false, false, true>::run},
               {Build<2, false, true, false>::run, Build<2, false, true, true>::run}},
              {{Build<2, true, false, false>::run, Build<2, true, false, true>::run},
               {Build<2, true, true, false>::run, Build<2, true, true, true>::run}}}}};
}

// Both filters of two channels fill four lanes; anything less fits in two.
template <int C, bool Hp, bool Lp>
using LanesFor = std::conditional_t<C*(int(Hp) + int(Lp)) <= 2, Double2, Double4>;

template <int C, bool Hp, bool Lp, bool Fade> struct Portable
{
    static float run(const VoiceMixChunk& k)
    {
        return mixKernel<C, Hp, Lp, Fade, LanesFor<C, Hp, Lp>>(k);
    }
};
constexpr MixTable kPortable = makeTable<Portable>();

#if VESK_HAS_AVX2_BUILD
// The same kernels for processors with AVX2 and fused multiply-add.
template <int C, bool Hp, bool Lp, bool Fade> struct Avx2
{
    VESK_TARGET_AVX2 static float run(const VoiceMixChunk& k)
    {
        return mixKernel<C, Hp, Lp, Fade, LanesFor<C, Hp, Lp>>(k);
    }
};
constexpr MixTable kAvx2 = makeTable<Avx2>();
#endif

const MixTable* const kTable = VESK_CHOOSE_BUILD(&kAvx2, &kPortable);

} // namespace

SvfCoefficients svfCoefficients(double cutoffHz, double sampleRate)
{
    const double f = std::clamp(cutoffHz, 1.0, 0.49 * sampleRate);
    const double g = std::tan(M_PI * f / sampleRate);
    SvfCoefficients c;
    c.a1 = 1.0 / (1.0 + g * (g + kSvfDamping));
    c.a2 = g * c.a1;
    c.a3 = g * c.a2;
    return c;
}

const SvfCoefficients& SvfCoefficientMemo::get(float cutoffHz, double sampleRate)
{
    uint32_t bits;
    std::memcpy(&bits, &cutoffHz, sizeof bits);
    if (!(sampleRate == rate_)) {
        rate_ = sampleRate;
        count_ = next_ = 0;
    }
    for (int i = 0; i < count_; ++i)
        if (hzBits_[i] == bits)
            return coeffs_[i];
    const int i = next_;
    next_ = (next_ + 1) % kSlots;
    count_ = std::max(count_, next_ == 0 ? kSlots : next_);
    hzBits_[i] = bits;
    coeffs_[i] = svfCoefficients(double(cutoffHz), sampleRate);
    return coeffs_[i];
}

float mixVoiceChunk(const VoiceMixChunk& chunk)
{
    if (chunk.segmentCount <= 0)
        return 0.0f;
    const int c = chunk.channels == 2 ? 1 : 0;
    const int hp = chunk.highPass ? 1 : 0;
    const int lp = chunk.lowPass ? 1 : 0;
    const int fade = chunk.fadeGain != nullptr ? 1 : 0;
    return kTable->fns[c][hp][lp][fade](chunk);
}

} // namespace vesk
