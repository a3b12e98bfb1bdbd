#include "fx/dsp/Stft.h"

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

} // namespace

// Both channels go through one complex transform of left + i*right, held as separate real and
// imaginary arrays (FFTW's split format, which its vector code handles as well as interleaved).
// One complex transform costs about as much as one real transform of the same length, so this
// halves the transform work of a hop; the two spectra are separated after the forward transform
// and combined again before the inverse one.
struct Stft::Plans
{
    float* frame[kChannels] = {}; // kWindow each: the windowed frames, and the inverse's output
    float* re = nullptr;          // kWindow: the complex spectrum of left + i*right
    float* im = nullptr;
    fftwf_complex* spectra[kChannels] = {}; // kBins each, the callers' spectra
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
    std::vector<float> storage; // the window, the input history and the overlap-add rings

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
        for (float** a : {&frame[0], &frame[1], &re, &im}) {
            fftwf_free(*a);
            *a = nullptr;
        }
        for (fftwf_complex*& s : spectra) {
            fftwf_free(s);
            s = nullptr;
        }
    }
};

Stft::Stft() : plans_(std::make_unique<Plans>())
{
    Plans& p = *plans_;
    // fftwf_alloc gives every array FFTW's preferred alignment.
    bool ok = true;
    for (float** a : {&p.frame[0], &p.frame[1], &p.re, &p.im}) {
        *a = fftwf_alloc_real(kWindow);
        ok = ok && *a != nullptr;
    }
    for (fftwf_complex*& s : p.spectra) {
        s = fftwf_alloc_complex(kBins);
        ok = ok && s != nullptr;
    }
    if (!ok)
        throw std::bad_alloc();
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

    const size_t floats = kWindow + kChannels * 2 * kWindow;
    p.storage.assign(floats, 0.0f);
    float* cursor = p.storage.data();
    window_ = cursor;
    cursor += kWindow;
    for (int ch = 0; ch < kChannels; ++ch) {
        history_[ch] = cursor;
        cursor += kWindow;
        overlap_[ch] = cursor;
        cursor += kWindow;
        spectrum_[ch] = reinterpret_cast<Bin*>(p.spectra[ch]);
        std::fill(spectrum_[ch], spectrum_[ch] + kBins, Bin{});
    }

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

// Four floats as one value (SSE or NEON registers), for the loops that pair each bin with its
// mirror image, which the compiler leaves scalar.
using Float4 = float __attribute__((vector_size(16)));

inline Float4 load4(const float* p)
{
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float* p, Float4 v)
{
    std::memcpy(p, &v, sizeof v);
}

inline Float4 reversed(Float4 v)
{
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

// p[0..7] = re0 im0 re1 im1 re2 im2 re3 im3.
inline void storeInterleaved(float* p, Float4 re, Float4 im)
{
    store4(p, __builtin_shufflevector(re, im, 0, 4, 1, 5));
    store4(p + 4, __builtin_shufflevector(re, im, 2, 6, 3, 7));
}

inline void loadInterleaved(const float* p, Float4& re, Float4& im)
{
    const Float4 a = load4(p);
    const Float4 c = load4(p + 4);
    re = __builtin_shufflevector(a, c, 0, 2, 4, 6);
    im = __builtin_shufflevector(a, c, 1, 3, 5, 7);
}

} // namespace

void Stft::analyse()
{
    Plans& p = *plans_;
    for (int ch = 0; ch < kChannels; ++ch) {
        // The frame is the ring's slots from the oldest (the one after slot_) to slot_.
        for (unsigned k = 0; k < kSlots; ++k) {
            const float* h = history_[ch] + ((slot_ + 1 + k) % kSlots) * kHop;
            const float* w = window_ + k * kHop;
            float* t = p.frame[ch] + k * kHop;
            for (int n = 0; n < kHop; ++n)
                t[n] = h[n] * w[n];
        }
    }
    fftwf_execute(p.forward);

    // Z = L + i*R with L and R Hermitian, so L[b] = (Z[b] + conj Z[N-b]) / 2 and
    // R[b] = (Z[b] - conj Z[N-b]) / 2i. Halving is exact, so each spectrum is the one a real
    // transform of its channel gives, to rounding.
    const float* re = p.re;
    const float* im = p.im;
    float* l = reinterpret_cast<float*>(p.spectra[0]);
    float* r = reinterpret_cast<float*>(p.spectra[1]);
    l[0] = re[0];
    l[1] = 0.0f;
    r[0] = im[0];
    r[1] = 0.0f;
    int b = 1;
    for (; b + 4 <= kWindow / 2; b += 4) {
        const int m = kWindow - b - 3; // bins N-b-3 .. N-b, the mirror images of b+3 .. b
        const Float4 reB = load4(re + b);
        const Float4 imB = load4(im + b);
        const Float4 reM = reversed(load4(re + m));
        const Float4 imM = reversed(load4(im + m));
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

void Stft::synthesise()
{
    Plans& p = *plans_;
    // Y = L + i*R over the whole circle, with the upper half from the Hermitian symmetry of each
    // spectrum; its inverse is left + i*right. As with a real inverse transform, the imaginary
    // parts of the first and last bins are ignored.
    const float* l = reinterpret_cast<const float*>(p.spectra[0]);
    const float* r = reinterpret_cast<const float*>(p.spectra[1]);
    float* re = p.re;
    float* im = p.im;
    re[0] = l[0];
    im[0] = r[0];
    int b = 1;
    for (; b + 4 <= kWindow / 2; b += 4) {
        const int m = kWindow - b - 3;
        Float4 lr, li, rr, ri;
        loadInterleaved(l + 2 * b, lr, li);
        loadInterleaved(r + 2 * b, rr, ri);
        store4(re + b, lr - ri);
        store4(im + b, li + rr);
        store4(re + m, reversed(lr + ri));
        store4(im + m, reversed(rr - li));
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
    fftwf_execute(p.inverse);

    constexpr float kInverseScale = 1.0f / kWindow; // FFTW's inverse is unnormalised
    for (int ch = 0; ch < kChannels; ++ch) {
        const float* time = p.frame[ch];
        // The frame's first three hops add to the sums of the frames before it; its last hop
        // lands in slot_, which has just been played out, and starts that slot's sum afresh.
        // The slot after slot_ now has all its frames: it is played during the next hop.
        for (unsigned k = 0; k < kSlots; ++k) {
            float* acc = overlap_[ch] + ((slot_ + 1 + k) % kSlots) * kHop;
            const float* w = window_ + k * kHop;
            const float* t = time + k * kHop;
            if (k + 1 < kSlots) {
                for (int n = 0; n < kHop; ++n)
                    acc[n] += t[n] * w[n] * kInverseScale;
            } else {
                for (int n = 0; n < kHop; ++n)
                    acc[n] = t[n] * w[n] * kInverseScale;
            }
        }
    }
}

} // namespace vesk
