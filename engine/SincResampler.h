// 32-tap windowed-sinc interpolator for playing samples at any pitch.
//
// Design: a pull model with its buffers inline, so a voice can own one and play on the audio
// thread without ever allocating. The caller asks how many input frames the next N output frames
// need (inputNeeded), writes them straight into the resampler's buffer (inputWrite +
// commitInput), then takes up to N frames (process). Rates may change between calls without a
// reset; the read phase carries over, so a pitch glide has no click.
//
// The kernel is a Kaiser-windowed sinc, tabulated at 256 fractional phases and interpolated
// linearly between them. Its cut-off follows the ratio: when pitching up (more input frames than
// output frames), the cut-off drops to the output's Nyquist frequency so high partials do not fold
// back. Kernels for the cut-offs are built once per process, in steps of a sixth of an octave,
// when the first resampler is constructed (so never on the audio thread, and not merely because
// the library was loaded), and shared read-only by every resampler; the step at or below the
// wanted cut-off is used.
//
// The read position is a whole index and a 64-bit fraction, so it advances by exact integer
// steps: the output is the same whatever sizes the caller's blocks have, and the step from one
// frame to the next is one add with carry.
//
// Timing: the first output frame lines up with the first input frame (no latency). To produce an
// output at input position x the resampler needs the frames up to x + 16, so the last 16 frames
// of a sound come out only when the caller pads its input with zeros past the end.
#pragma once

#include <cstdint>

namespace vesk {

class SincResampler
{
public:
    static constexpr int kTaps = 32;
    static constexpr int kHalfTaps = kTaps / 2;
    static constexpr int kPhases = 256;
    static constexpr int kMaxChannels = 2;
    // Input frames the buffer holds (history included); one call consumes at most this many.
    static constexpr int kCapacity = 4096 + kTaps;
    // Highest ratio of input to output frames the resampler accepts; higher ratios are clamped.
    static constexpr double kMaxRatio = 32.0;

    // [main thread] [worker] The first construction in a process builds the shared kernels.
    SincResampler();

    // [any thread] Clears the history and the read phase; rates stay.
    void reset();

    // [audio thread] Input and output rates in Hz (each at least 1). Keeps the history and phase.
    void setRates(double inRateHz, double outRateHz);
    double inRate() const { return inRate_; }
    double outRate() const { return outRate_; }
    // Input frames per output frame.
    double ratio() const { return ratio_; }

    // [audio thread] How many more input frames must be written so that `outFrames` output frames
    // can be produced; limited by the free space, so a large request may need several rounds.
    int inputNeeded(int outFrames);
    // [audio thread] Where the next input frames of a channel go; up to inputSpace() frames.
    float* inputWrite(int channel) { return buffer_[channel] + fill_; }
    int inputSpace() const { return kCapacity - fill_; }
    // [audio thread] Declares that `frames` frames were written at inputWrite() of every channel.
    void commitInput(int frames);

    // [audio thread] Produces up to maxFrames output frames from the buffered input into
    // out[0..channels-1]; returns how many it produced (fewer when the input runs short).
    int process(float* const* out, int channels, int maxFrames);

    // Input frames buffered ahead of the read position (the kernel's look-ahead included).
    double bufferedAhead() const
    {
        return double(fill_ - readIndex_) - double(readFrac_) * 0x1p-64;
    }

    // Kernel row (kTaps weights) for a fractional phase index 0..kPhases (row kPhases is row 0
    // moved by one tap), for table `cutoffIndex` (0 = full band); rows of neighbouring phases are
    // not stored side by side. For tests and benchmarks; [main thread] on first use.
    static const float* kernelRow(int cutoffIndex, int phase);
    // Table index whose cut-off suits a ratio of input to output frames.
    static int cutoffIndexForRatio(double ratio);

private:
    // Read positions from which the next request moves the history back to the start.
    static constexpr int kCompactAfter = 512;
    void compact();

    const float* kernels_ = nullptr; // the shared kernel tables
    float buffer_[kMaxChannels][kCapacity] = {};
    int fill_ = kHalfTaps - 1;          // frames held; the first kHalfTaps - 1 are silent history
    int64_t readIndex_ = kHalfTaps - 1; // whole part of the read position in the buffer
    uint64_t readFrac_ = 0;             // fractional part, in units of 2^-64
    double inRate_ = 48000.0;
    double outRate_ = 48000.0;
    double ratio_ = 1.0;
    int64_t ratioWhole_ = 1; // the ratio as a whole part and a fraction in units of 2^-64
    uint64_t ratioFrac_ = 0;
    int cutoffIndex_ = 0;
};

} // namespace vesk
