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
#pragma once

#include <algorithm>
#include <complex>
#include <cstring>
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
    // called once per completed hop with the two spectra of kBins bins.
    template <class OnHop> void process(float* left, float* right, unsigned frames, OnHop&& onHop)
    {
        float* io[kChannels] = {left, right};
        unsigned done = 0;
        while (done < frames) {
            const unsigned n = std::min<unsigned>(frames - done, kHop - fill_);
            for (int ch = 0; ch < kChannels; ++ch) {
                float* x = io[ch] + done;
                std::memcpy(history_[ch] + (kWindow - kHop) + fill_, x, n * sizeof(float));
                std::memcpy(x, ready_[ch] + fill_, n * sizeof(float));
            }
            fill_ += n;
            done += n;
            if (fill_ == kHop) {
                analyse();
                onHop(spectrum_[0], spectrum_[1]);
                synthesise();
                fill_ = 0;
            }
        }
    }

    // The analysis/synthesis window (for tests and benchmarks).
    const float* window() const { return window_; }

private:
    void analyse();
    void synthesise();

    struct Plans;
    std::unique_ptr<Plans> plans_;
    float* window_ = nullptr;        // kWindow
    float* history_[kChannels] = {}; // kWindow: last 768 input samples, then the new hop
    float* overlap_[kChannels] = {}; // kWindow: overlap-add accumulator
    float* ready_[kChannels] = {};   // kHop: output of the hop being played
    Bin* spectrum_[kChannels] = {};  // kBins
    unsigned fill_ = 0;              // samples of the current hop taken so far
};

} // namespace vesk
