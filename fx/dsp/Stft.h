// Short-time Fourier transform of a stereo stream for the spectral modules: window 1024, hop 256,
// 513 complex bins per channel, over FFTW3 in single precision.
//
// The analysis and synthesis windows are the same Kaiser window, scaled so that the squared
// windows of the four overlapping frames sum to exactly 1: with an untouched spectrum the output
// is the input delayed by kLatencyFrames, to rounding error. The forward transform is
// unnormalised, so a full-scale sine reads about 198 at its bin (half the window's sum).
//
// A hop's spectra are handed to the caller's per-hop function; the caller changes them in place.
// Everything is allocated and planned in the constructor, so `process` is real-time safe.
//
// The input history and the overlap-add accumulator are rings of four hop-sized slots, so a hop
// moves no samples around: the slot being filled with input is also the one being played. The two
// channels share one complex transform each way (left as the real part, right as the imaginary).
#pragma once

#include "engine/CpuFeatures.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>

namespace vesk {

class Stft
{
public:
    static constexpr int kChannels = 2;
    static constexpr int kWindow = 1024;
    static constexpr int kHop = 256;
    static constexpr int kBins = kWindow / 2 + 1;
    static constexpr int kLatencyFrames = kWindow;

    using Bin = std::complex<float>;

    // |z|^2 without the overflow-safe hypot that std::norm uses outside fast-math builds.
    static float power(Bin z) { return z.real() * z.real() + z.imag() * z.imag(); }

    // [any thread] out[b] = sqrt(power(spectrum[b])) for the kBins bins, four or eight bins at a
    // time where the processor allows (the library's sqrt cannot be vectorised while it may set
    // errno); the same values as the scalar expression.
    static void magnitudes(const Bin* spectrum, float* out);

    // [main thread] Makes the FFTW plans (under the planner lock) and every buffer.
    Stft();
    // [main thread]
    ~Stft();
    Stft(const Stft&) = delete;
    Stft& operator=(const Stft&) = delete;

    // [audio thread] Clears the input history, the overlap-add buffer and the pending output.
    void reset();

    // [audio thread] Processes `frames` samples of both channels in place; the output is the
    // resynthesised signal kLatencyFrames behind the input. `onHop(Bin* left, Bin* right)` is
    // called once per completed hop with the two spectra of kBins bins; they are only valid
    // during that call.
    template <class OnHop> void process(float* left, float* right, unsigned frames, OnHop&& onHop)
    {
        float* io[kChannels] = {left, right};
        unsigned done = 0;
        while (done < frames) {
            const unsigned n = std::min<unsigned>(frames - done, kHop - fill_);
            const unsigned at = slot_ * kHop + fill_;
            for (int ch = 0; ch < kChannels; ++ch) {
                float* x = io[ch] + done;
                // A sample that is not finite is taken as silence: the channels share their
                // transforms, and it would spoil every bin of both for a whole window.
                float* h = history_[ch] + at;
                for (unsigned i = 0; i < n; ++i)
                    h[i] = std::fabs(x[i]) <= kLargest ? x[i] : 0.0f;
                std::memcpy(x, overlap_[ch] + at, n * sizeof(float));
            }
            fill_ += n;
            done += n;
            if (fill_ == kHop) {
                analyse();
                onHop(spectrum_[0], spectrum_[1]);
                synthesise();
                fill_ = 0;
                slot_ = (slot_ + 1) % kSlots;
            }
        }
    }

    // The analysis/synthesis window (for tests and benchmarks).
    const float* window() const { return window_; }

private:
    void analyse();
    void synthesise();

    static constexpr unsigned kSlots = kWindow / kHop;
    static constexpr float kLargest = std::numeric_limits<float>::max();
    static_assert(kWindow % kHop == 0);

    struct Plans;
    std::unique_ptr<Plans> plans_;
    float* window_ = nullptr;        // kWindow
    float* history_[kChannels] = {}; // kSlots hops of input; slot_ is the newest
    float* overlap_[kChannels] = {}; // kSlots hops of overlap-add sums; slot_ is being played
    Bin* spectrum_[kChannels] = {};  // kBins
    unsigned slot_ = 0;              // the slot the current hop is read into and played from
    unsigned fill_ = 0;              // samples of the current hop taken so far
};

// The heap state of a spectral effect that follows one envelope per bin and channel.
struct StftEnvelopes
{
    Stft stft;
    float envelope[Stft::kChannels][Stft::kBins] = {};
    double rate = 48000.0;

    // [audio thread] Clears the transform's buffers and the envelopes.
    void clear()
    {
        stft.reset();
        std::fill(&envelope[0][0], &envelope[0][0] + Stft::kChannels * Stft::kBins, 0.0f);
    }
};

} // namespace vesk
