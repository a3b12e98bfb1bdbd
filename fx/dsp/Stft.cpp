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

struct Stft::Plans
{
    float* time = nullptr; // kWindow: the windowed frame, and the inverse transform's output
    fftwf_complex* spectra[kChannels] = {}; // kBins each; the transforms work on them directly
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
        fftwf_free(time);
        time = nullptr;
        for (fftwf_complex*& s : spectra) {
            fftwf_free(s);
            s = nullptr;
        }
    }
};

Stft::Stft() : plans_(std::make_unique<Plans>())
{
    Plans& p = *plans_;
    // fftwf_alloc gives every array FFTW's preferred alignment, so the plans made here may be
    // executed on any of them.
    p.time = fftwf_alloc_real(kWindow);
    bool ok = p.time != nullptr;
    for (fftwf_complex*& s : p.spectra) {
        s = fftwf_alloc_complex(kBins);
        ok = ok && s != nullptr;
    }
    if (!ok)
        throw std::bad_alloc();
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        p.forward = fftwf_plan_dft_r2c_1d(kWindow, p.time, p.spectra[0], FFTW_ESTIMATE);
        p.inverse = fftwf_plan_dft_c2r_1d(kWindow, p.spectra[0], p.time, FFTW_ESTIMATE);
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

void Stft::analyse()
{
    Plans& p = *plans_;
    float* time = p.time;
    for (int ch = 0; ch < kChannels; ++ch) {
        // The frame is the ring's slots from the oldest (the one after slot_) to slot_.
        for (unsigned k = 0; k < kSlots; ++k) {
            const float* h = history_[ch] + ((slot_ + 1 + k) % kSlots) * kHop;
            const float* w = window_ + k * kHop;
            float* t = time + k * kHop;
            for (int n = 0; n < kHop; ++n)
                t[n] = h[n] * w[n];
        }
        fftwf_execute_dft_r2c(p.forward, time, p.spectra[ch]);
    }
}

void Stft::synthesise()
{
    Plans& p = *plans_;
    constexpr float kInverseScale = 1.0f / kWindow; // FFTW's inverse is unnormalised
    const float* time = p.time;
    for (int ch = 0; ch < kChannels; ++ch) {
        // The inverse transform overwrites the spectrum, which is not needed after the hop.
        fftwf_execute_dft_c2r(p.inverse, p.spectra[ch], p.time);
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
