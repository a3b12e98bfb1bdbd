#include "fx/dsp/Stft.h"

#include "engine/VectorValues.h"
#include "fx/dsp/FftwPlanner.h"

#include <fftw3.h>

#include <cmath>
#include <new>
#include <vector>

#if VESK_HAS_AVX2_BUILD
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk {

std::mutex& fftwPlannerMutex()
{
    static std::mutex m;
    return m;
}

namespace {

// Kaiser shape parameter: about 60 dB side lobes, main lobe a little over three bins wide.
constexpr double kKaiserBeta = 8.0;

constexpr int kChannels = Stft::kChannels;

// What a hop works on: the rings, the frames and the spectra of both channels.
struct HopArrays
{
    const float* window;
    float* history[kChannels];
    float* overlap[kChannels];
    float* frame[kChannels];
    float* re;
    float* im;
    float* spectrum[kChannels]; // interleaved complex, kBins each
};

} // namespace

// Both channels go through one complex transform of left + i*right, held as separate real and
// imaginary arrays (FFTW's split format, which its vector code handles as well as interleaved).
// One complex transform costs about as much as one real transform of the same length, so this
// halves the transform work of a hop; the two spectra are separated after the forward transform
// and combined again before the inverse one.
struct Stft::Plans
{
    float* block = nullptr;       // every array below, in one allocation
    float* frame[kChannels] = {}; // kWindow each: the windowed frames, and the inverse's output
    float* re = nullptr;          // kWindow: the complex spectrum of left + i*right
    float* im = nullptr;
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
    HopArrays arrays{}; // the Stft's arrays and these, for the hop's loops

    Plans() = default;
    Plans(const Plans&) = delete;
    Plans& operator=(const Plans&) = delete;
    // Also runs when the Stft constructor throws half way.
    ~Plans() { release(); }

    // Destroys the plans and frees the arrays; safe on a partly made set.
    void release()
    {
        if (forward != nullptr || inverse != nullptr) {
            std::lock_guard<std::mutex> lock(fftwPlannerMutex());
            if (forward != nullptr)
                fftwf_destroy_plan(forward);
            if (inverse != nullptr)
                fftwf_destroy_plan(inverse);
            forward = nullptr;
            inverse = nullptr;
        }
        fftwf_free(block);
        block = nullptr;
    }
};

Stft::Stft() : plans_(std::make_unique<Plans>())
{
    Plans& p = *plans_;
    // One block holds the window, the rings, the frames and the spectra. fftwf_alloc aligns it
    // for FFTW's vector code, and every array starts a whole number of cache lines further on.
    constexpr size_t kStride = kWindow;         // floats from one array to the next
    constexpr size_t kSpectrumFloats = 2 * 528; // kBins complex values, rounded up likewise
    constexpr size_t kArrays = 9;
    p.block = fftwf_alloc_real(kArrays * kStride + kChannels * kSpectrumFloats);
    if (p.block == nullptr)
        throw std::bad_alloc();
    std::fill(p.block, p.block + kArrays * kStride + kChannels * kSpectrumFloats, 0.0f);
    float* cursor = p.block;
    const auto take = [&cursor](size_t floats) {
        float* a = cursor;
        cursor += floats;
        return a;
    };
    window_ = take(kStride);
    for (int ch = 0; ch < kChannels; ++ch) {
        history_[ch] = take(kStride);
        overlap_[ch] = take(kStride);
        p.frame[ch] = take(kStride);
    }
    p.re = take(kStride);
    p.im = take(kStride);
    for (int ch = 0; ch < kChannels; ++ch)
        spectrum_[ch] = reinterpret_cast<Bin*>(take(kSpectrumFloats));
    p.arrays = {window_,
                {history_[0], history_[1]},
                {overlap_[0], overlap_[1]},
                {p.frame[0], p.frame[1]},
                p.re,
                p.im,
                {reinterpret_cast<float*>(spectrum_[0]), reinterpret_cast<float*>(spectrum_[1])}};
    static_assert(kSpectrumFloats >= 2 * kBins && (kSpectrumFloats * 4) % 64 == 0);
    static_assert((kStride * 4) % 64 == 0);

    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        const fftwf_iodim dims{kWindow, 1, 1};
        p.forward = fftwf_plan_guru_split_dft(1, &dims, 0, nullptr, p.frame[0], p.frame[1], p.re,
                                              p.im, FFTW_ESTIMATE);
        // FFTW's split transforms run forwards only; the inverse is the forward transform with
        // real and imaginary parts swapped on both sides.
        p.inverse = fftwf_plan_guru_split_dft(1, &dims, 0, nullptr, p.im, p.re, p.frame[1],
                                              p.frame[0], FFTW_ESTIMATE);
    }
    if (p.forward == nullptr || p.inverse == nullptr)
        throw std::bad_alloc();

    // Periodic Kaiser window, then scaled so that sum over the overlapping frames of w^2 is 1
    // at every sample (perfect reconstruction with the same window on both sides).
    std::vector<double> w(kWindow);
    const double norm = std::cyl_bessel_i(0.0, kKaiserBeta);
    for (int n = 0; n < kWindow; ++n) {
        const double r = (2.0 * n - kWindow) / kWindow;
        w[n] = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
    }
    for (int n = 0; n < kHop; ++n) {
        double sum = 0.0;
        for (int k = n; k < kWindow; k += kHop)
            sum += w[k] * w[k];
        const double scale = 1.0 / std::sqrt(sum);
        for (int k = n; k < kWindow; k += kHop)
            window_[k] = static_cast<float>(w[k] * scale);
    }
}

Stft::~Stft() = default;

void Stft::reset()
{
    for (int ch = 0; ch < kChannels; ++ch) {
        std::fill(history_[ch], history_[ch] + kWindow, 0.0f);
        std::fill(overlap_[ch], overlap_[ch] + kWindow, 0.0f);
        std::fill(spectrum_[ch], spectrum_[ch] + kBins, Bin{});
    }
    slot_ = 0;
    fill_ = 0;
}

namespace {

void magnitudesPortable(const float* x, float* out)
{
    int b = 0;
#if defined(__SSE2__)
    for (; b + 4 <= Stft::kBins; b += 4) {
        const __m128 a = _mm_loadu_ps(x + 2 * b);     // re0 im0 re1 im1
        const __m128 c = _mm_loadu_ps(x + 2 * b + 4); // re2 im2 re3 im3
        const __m128 a2 = _mm_mul_ps(a, a);
        const __m128 c2 = _mm_mul_ps(c, c);
        const __m128 re2 = _mm_shuffle_ps(a2, c2, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 im2 = _mm_shuffle_ps(a2, c2, _MM_SHUFFLE(3, 1, 3, 1));
        _mm_storeu_ps(out + b, _mm_sqrt_ps(_mm_add_ps(re2, im2)));
    }
#endif
    for (; b < Stft::kBins; ++b)
        out[b] = std::sqrt(x[2 * b] * x[2 * b] + x[2 * b + 1] * x[2 * b + 1]);
}

#if VESK_HAS_AVX2_BUILD
VESK_TARGET_AVX2_NO_FMA void magnitudesAvx2(const float* x, float* out)
{
    int b = 0;
    for (; b + 8 <= Stft::kBins; b += 8) {
        const __m256 a = _mm256_loadu_ps(x + 2 * b);     // bins 0..3, re and im
        const __m256 c = _mm256_loadu_ps(x + 2 * b + 8); // bins 4..7
        const __m256 a2 = _mm256_mul_ps(a, a);
        const __m256 c2 = _mm256_mul_ps(c, c);
        // Per 128-bit half: bins 0 1 4 5 | 2 3 6 7; the sums are put back in order below.
        const __m256 re2 = _mm256_shuffle_ps(a2, c2, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 im2 = _mm256_shuffle_ps(a2, c2, _MM_SHUFFLE(3, 1, 3, 1));
        const __m256 sum = _mm256_add_ps(re2, im2);
        const __m256 ordered =
            _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(sum), _MM_SHUFFLE(3, 1, 2, 0)));
        _mm256_storeu_ps(out + b, _mm256_sqrt_ps(ordered));
    }
    for (; b < Stft::kBins; ++b)
        out[b] = std::sqrt(x[2 * b] * x[2 * b] + x[2 * b + 1] * x[2 * b + 1]);
}
#endif

using MagnitudesFn = void (*)(const float*, float*);

const MagnitudesFn kMagnitudes = VESK_CHOOSE_BUILD(magnitudesAvx2, magnitudesPortable);

} // namespace

void Stft::magnitudes(const Bin* spectrum, float* out)
{
    kMagnitudes(reinterpret_cast<const float*>(spectrum), out);
}

namespace {

// The hop's loops are written once over four floats (the portable build: SSE or NEON
// registers) or eight (the AVX2 build). They only add, subtract, multiply and move values,
// without fused multiply-add, so both builds give the same bits.
using vec::Float4;
using vec::Float8;
using vec::kWidthOf;
using vec::load;
using vec::store;

// The values of p[0..w) in reverse order.
[[gnu::always_inline]] inline void loadReversed(Float4& v, const float* p)
{
    load(v, p);
    v = __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

[[gnu::always_inline]] inline void loadReversed(Float8& v, const float* p)
{
    load(v, p);
    v = __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
}

[[gnu::always_inline]] inline void storeReversed(float* p, const Float4& v)
{
    store(p, __builtin_shufflevector(v, v, 3, 2, 1, 0));
}

[[gnu::always_inline]] inline void storeReversed(float* p, const Float8& v)
{
    store(p, __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0));
}

// p[0..2w) = re0 im0 re1 im1 ...
[[gnu::always_inline]] inline void storeInterleaved(float* p, const Float4& re, const Float4& im)
{
    store(p, __builtin_shufflevector(re, im, 0, 4, 1, 5));
    store(p + 4, __builtin_shufflevector(re, im, 2, 6, 3, 7));
}

[[gnu::always_inline]] inline void storeInterleaved(float* p, const Float8& re, const Float8& im)
{
    store(p, __builtin_shufflevector(re, im, 0, 8, 1, 9, 2, 10, 3, 11));
    store(p + 8, __builtin_shufflevector(re, im, 4, 12, 5, 13, 6, 14, 7, 15));
}

[[gnu::always_inline]] inline void loadInterleaved(const float* p, Float4& re, Float4& im)
{
    Float4 a, c;
    load(a, p);
    load(c, p + 4);
    re = __builtin_shufflevector(a, c, 0, 2, 4, 6);
    im = __builtin_shufflevector(a, c, 1, 3, 5, 7);
}

[[gnu::always_inline]] inline void loadInterleaved(const float* p, Float8& re, Float8& im)
{
    Float8 a, c;
    load(a, p);
    load(c, p + 8);
    re = __builtin_shufflevector(a, c, 0, 2, 4, 6, 8, 10, 12, 14);
    im = __builtin_shufflevector(a, c, 1, 3, 5, 7, 9, 11, 13, 15);
}

constexpr int kWindow = Stft::kWindow;
constexpr int kHop = Stft::kHop;
constexpr unsigned kSlots = kWindow / kHop;

// Windows the last kWindow input samples of each channel into its frame. The frame is the ring's
// slots from the oldest (the one after `slot`, the slot just filled and played) to `slot`.
template <class V>
[[gnu::always_inline]] inline void windowFrames(const HopArrays& a, unsigned slot)
{
    constexpr int w = kWidthOf<V>;
    for (int ch = 0; ch < Stft::kChannels; ++ch) {
        for (unsigned k = 0; k < kSlots; ++k) {
            const float* h = a.history[ch] + ((slot + 1 + k) % kSlots) * kHop;
            const float* win = a.window + k * kHop;
            float* t = a.frame[ch] + k * kHop;
            for (int n = 0; n < kHop; n += w) {
                V x, y;
                load(x, h + n);
                load(y, win + n);
                store(t + n, x * y);
            }
        }
    }
}

// Z = L + i*R with L and R Hermitian, so L[b] = (Z[b] + conj Z[N-b]) / 2 and
// R[b] = (Z[b] - conj Z[N-b]) / 2i. Halving is exact, so each spectrum is the one a real
// transform of its channel gives, to rounding.
template <class V> [[gnu::always_inline]] inline void splitSpectra(const HopArrays& a)
{
    constexpr int w = kWidthOf<V>;
    const float* re = a.re;
    const float* im = a.im;
    float* l = a.spectrum[0];
    float* r = a.spectrum[1];
    l[0] = re[0];
    l[1] = 0.0f;
    r[0] = im[0];
    r[1] = 0.0f;
    int b = 1;
    for (; b + w <= kWindow / 2; b += w) {
        const int m = kWindow - b - (w - 1); // the mirror images of bins b + w - 1 .. b
        V reB, imB, reM, imM;
        load(reB, re + b);
        load(imB, im + b);
        loadReversed(reM, re + m);
        loadReversed(imM, im + m);
        storeInterleaved(l + 2 * b, 0.5f * (reB + reM), 0.5f * (imB - imM));
        storeInterleaved(r + 2 * b, 0.5f * (imB + imM), 0.5f * (reM - reB));
    }
    for (; b < kWindow / 2; ++b) {
        const int m = kWindow - b;
        l[2 * b] = 0.5f * (re[b] + re[m]);
        l[2 * b + 1] = 0.5f * (im[b] - im[m]);
        r[2 * b] = 0.5f * (im[b] + im[m]);
        r[2 * b + 1] = 0.5f * (re[m] - re[b]);
    }
    l[kWindow] = re[kWindow / 2];
    l[kWindow + 1] = 0.0f;
    r[kWindow] = im[kWindow / 2];
    r[kWindow + 1] = 0.0f;
}

// Y = L + i*R over the whole circle, with the upper half from the Hermitian symmetry of each
// spectrum; its inverse is left + i*right. As with a real inverse transform, the imaginary
// parts of the first and last bins are ignored.
template <class V> [[gnu::always_inline]] inline void joinSpectra(const HopArrays& a)
{
    constexpr int w = kWidthOf<V>;
    const float* l = a.spectrum[0];
    const float* r = a.spectrum[1];
    float* re = a.re;
    float* im = a.im;
    re[0] = l[0];
    im[0] = r[0];
    int b = 1;
    for (; b + w <= kWindow / 2; b += w) {
        const int m = kWindow - b - (w - 1);
        V lr, li, rr, ri;
        loadInterleaved(l + 2 * b, lr, li);
        loadInterleaved(r + 2 * b, rr, ri);
        store(re + b, lr - ri);
        store(im + b, li + rr);
        storeReversed(re + m, lr + ri);
        storeReversed(im + m, rr - li);
    }
    for (; b < kWindow / 2; ++b) {
        const int m = kWindow - b;
        re[b] = l[2 * b] - r[2 * b + 1];
        im[b] = l[2 * b + 1] + r[2 * b];
        re[m] = l[2 * b] + r[2 * b + 1];
        im[m] = r[2 * b] - l[2 * b + 1];
    }
    re[kWindow / 2] = l[kWindow];
    im[kWindow / 2] = r[kWindow];
}

// Windows the inverse transform's frames and adds them into the overlap-add rings. A frame's
// first three hops add to the sums of the frames before it; its last hop lands in `slot`, which
// has just been played out, and starts that slot's sum afresh. The slot after `slot` now has all
// its frames: it is played during the next hop.
template <class V> [[gnu::always_inline]] inline void overlapAdd(const HopArrays& a, unsigned slot)
{
    constexpr int w = kWidthOf<V>;
    V scale; // FFTW's inverse is unnormalised
    for (int c = 0; c < w; ++c)
        scale[c] = 1.0f / kWindow;
    for (int ch = 0; ch < Stft::kChannels; ++ch) {
        for (unsigned k = 0; k < kSlots; ++k) {
            float* acc = a.overlap[ch] + ((slot + 1 + k) % kSlots) * kHop;
            const float* win = a.window + k * kHop;
            const float* t = a.frame[ch] + k * kHop;
            const bool last = k + 1 == kSlots;
            for (int n = 0; n < kHop; n += w) {
                V x, y, sum;
                load(x, t + n);
                load(y, win + n);
                if (last)
                    sum = x * y * scale;
                else {
                    load(sum, acc + n);
                    sum += x * y * scale;
                }
                store(acc + n, sum);
            }
        }
    }
}

struct HopKernels
{
    void (*analyse)(const HopArrays&, unsigned, fftwf_plan);
    void (*synthesise)(const HopArrays&, unsigned, fftwf_plan);
};

void analysePortable(const HopArrays& a, unsigned slot, fftwf_plan forward)
{
    windowFrames<Float4>(a, slot);
    fftwf_execute(forward);
    splitSpectra<Float4>(a);
}

void synthesisePortable(const HopArrays& a, unsigned slot, fftwf_plan inverse)
{
    joinSpectra<Float4>(a);
    fftwf_execute(inverse);
    overlapAdd<Float4>(a, slot);
}

#if VESK_HAS_AVX2_BUILD
VESK_TARGET_AVX2_NO_FMA void analyseAvx2(const HopArrays& a, unsigned slot, fftwf_plan forward)
{
    windowFrames<Float8>(a, slot);
    fftwf_execute(forward);
    splitSpectra<Float8>(a);
}

VESK_TARGET_AVX2_NO_FMA void synthesiseAvx2(const HopArrays& a, unsigned slot, fftwf_plan inverse)
{
    joinSpectra<Float8>(a);
    fftwf_execute(inverse);
    overlapAdd<Float8>(a, slot);
}
#endif

const HopKernels kHopKernels = VESK_CHOOSE_BUILD((HopKernels{analyseAvx2, synthesiseAvx2}),
                                                 (HopKernels{analysePortable, synthesisePortable}));

} // namespace

void Stft::analyse()
{
    kHopKernels.analyse(plans_->arrays, slot_, plans_->forward);
}

void Stft::synthesise()
{
    kHopKernels.synthesise(plans_->arrays, slot_, plans_->inverse);
}

} // namespace vesk
