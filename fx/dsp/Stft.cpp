#include "fx/dsp/Stft.h"

#include "fx/dsp/FftwPlanner.h"

#include <fftw3.h>

#include <cmath>
#include <new>
#include <vector>

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
    float* time = nullptr;         // kWindow
    fftwf_complex* freq = nullptr; // kBins
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
    std::vector<float> storage; // all the float buffers of the Stft, in one block
    std::vector<Bin> spectra;   // kChannels x kBins
};

Stft::Stft() : plans_(std::make_unique<Plans>())
{
    Plans& p = *plans_;
    p.time = fftwf_alloc_real(kWindow);
    p.freq = fftwf_alloc_complex(kBins);
    if (p.time == nullptr || p.freq == nullptr) {
        fftwf_free(p.time);
        fftwf_free(p.freq);
        throw std::bad_alloc();
    }
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        p.forward = fftwf_plan_dft_r2c_1d(kWindow, p.time, p.freq, FFTW_ESTIMATE);
        p.inverse = fftwf_plan_dft_c2r_1d(kWindow, p.freq, p.time, FFTW_ESTIMATE);
    }

    const size_t floats = kWindow + kChannels * (2 * kWindow + kHop);
    p.storage.assign(floats, 0.0f);
    p.spectra.assign(kChannels * kBins, Bin{});
    float* cursor = p.storage.data();
    window_ = cursor;
    cursor += kWindow;
    for (int ch = 0; ch < kChannels; ++ch) {
        history_[ch] = cursor;
        cursor += kWindow;
        overlap_[ch] = cursor;
        cursor += kWindow;
        ready_[ch] = cursor;
        cursor += kHop;
        spectrum_[ch] = p.spectra.data() + ch * kBins;
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

Stft::~Stft()
{
    Plans& p = *plans_;
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        if (p.forward != nullptr)
            fftwf_destroy_plan(p.forward);
        if (p.inverse != nullptr)
            fftwf_destroy_plan(p.inverse);
    }
    fftwf_free(p.time);
    fftwf_free(p.freq);
}

void Stft::reset()
{
    for (int ch = 0; ch < kChannels; ++ch) {
        std::fill(history_[ch], history_[ch] + kWindow, 0.0f);
        std::fill(overlap_[ch], overlap_[ch] + kWindow, 0.0f);
        std::fill(ready_[ch], ready_[ch] + kHop, 0.0f);
        std::fill(spectrum_[ch], spectrum_[ch] + kBins, Bin{});
    }
    fill_ = 0;
}

void Stft::analyse()
{
    Plans& p = *plans_;
    for (int ch = 0; ch < kChannels; ++ch) {
        const float* h = history_[ch];
        for (int n = 0; n < kWindow; ++n)
            p.time[n] = h[n] * window_[n];
        fftwf_execute(p.forward);
        std::memcpy(static_cast<void*>(spectrum_[ch]), p.freq, kBins * sizeof(Bin));
        // The oldest hop leaves the history; the next hop is appended behind the rest.
        std::memmove(history_[ch], history_[ch] + kHop, (kWindow - kHop) * sizeof(float));
    }
}

void Stft::synthesise()
{
    Plans& p = *plans_;
    constexpr float kInverseScale = 1.0f / kWindow; // FFTW's inverse is unnormalised
    for (int ch = 0; ch < kChannels; ++ch) {
        std::memcpy(p.freq, static_cast<const void*>(spectrum_[ch]), kBins * sizeof(Bin));
        fftwf_execute(p.inverse);
        float* acc = overlap_[ch];
        for (int n = 0; n < kWindow; ++n)
            acc[n] += p.time[n] * window_[n] * kInverseScale;
        // The first hop of the accumulator has all its frames now: it is the next output.
        std::memcpy(ready_[ch], acc, kHop * sizeof(float));
        std::memmove(acc, acc + kHop, (kWindow - kHop) * sizeof(float));
        std::fill(acc + (kWindow - kHop), acc + kWindow, 0.0f);
    }
}

} // namespace vesk
