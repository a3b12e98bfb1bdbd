// Stereo feedback-delay-network reverb, wet output only.
//
// The input is spread over eight channels and diffused by four stages of short delays and
// Hadamard mixes (the early reflections, whose level is a parameter), then fed into eight delay
// lines whose lengths spread over the room size, mixed by a Householder matrix. Each line's loop
// gain decays by 20 dB per RT20 seconds; low and high frequencies decay at multiples of that rate
// (the damping rates), slow modulation of the line lengths detunes the tail. Low and high cut shape
// the wet output. The two outputs take orthogonal sign patterns over the lines, so the tail is
// decorrelated between left and right.
//
// Buffers are sized by configure for a maximum room; setParams clamps everything to what those
// buffers and the loop's stability allow, so no parameter value can overrun or blow up the network.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesk::dsp {

struct FdnReverbParams
{
    double roomMs = 50.0;       // mean spacing of the loop delays
    double rt20Seconds = 1.0;   // time for the tail to fall by 20 dB
    double early = 1.0;         // level of the early reflections, 0..2
    double detuneCents = 3.0;   // depth of the line modulation
    double lowCutHz = 80.0;     // high-pass on the wet output
    double highCutHz = 12000.0; // low-pass on the wet output
    double lowDampRate = 1.5;   // lows decay this many times faster than the mids (>= 1)
    double highDampRate = 1.0;  // highs decay this many times faster than the mids (>= 1)
};

class FdnReverb
{
public:
    static constexpr int kChannels = 8;
    static constexpr int kDiffusionStages = 4;

    // [main thread] Allocates the delay lines for rooms up to maxRoomMs at this rate and clears
    // them.
    void configure(double sampleRate, double maxRoomMs);
    // [any thread] Parameters, clamped to the configured room and to stable loop gains. Takes
    // effect at once (the room size glides over a few milliseconds to avoid clicks).
    void setParams(const FdnReverbParams& p);
    // [audio thread] Clears all signal history; smoothed values snap to their targets.
    void reset();
    // [audio thread] Wet output of frames stereo samples; in and out may be the same buffers.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 unsigned frames);

    double maxRoomMs() const { return maxRoomMs_; }
    bool configured() const { return sampleRate_ > 0.0; }

private:
    // The delay memories of one group of eight lines in one allocation: line c at
    // [c * stride + t], t masked to a power-of-two length. The lines of a group share that length
    // and their write position; the stride is padded by a cache line per line so the eight lines
    // do not fall into the same cache sets.
    struct LineGroup
    {
        std::vector<float> buffer;
        uint32_t stride = 0;
        uint32_t mask = 0;
        uint32_t write = 0;
        float* line(int c) { return buffer.data() + static_cast<size_t>(c) * stride; }
    };
    // Frames handled per pass of process: the line read positions and allpass coefficients of a
    // pass are worked out first, then the network runs over them. Passes are counted from the
    // reverb's first frame (after a reset), not from each block's: the loop gains follow the
    // gliding room at the start of a pass and the phasors are renormalised at its end, so blocks
    // of any size give the same sound.
    static constexpr unsigned kChunk = 64;

    void derive();
    // The loop gains of each line from its current mean length.
    void updateLoopGains();
    static void allocate(LineGroup& group, double maxSamples);
    void diffuse(const float* inLeft, const float* inRight, unsigned frames);
    void planReads(unsigned frames);

    double sampleRate_ = 0.0;
    double maxRoomMs_ = 0.0;
    FdnReverbParams params_;

    // Early diffusion: fixed fractions of the room per stage and channel.
    LineGroup diffusion_[kDiffusionStages];
    std::array<std::array<double, kChannels>, kDiffusionStages> diffusionRatio_{};
    std::array<std::array<float, kChannels>, kDiffusionStages> diffusionFlip_{};
    std::array<std::array<uint32_t, kChannels>, kDiffusionStages> diffusionDelay_{};

    // Feedback loop.
    LineGroup loop_;
    std::array<double, kChannels> loopRatio_{};
    // Line modulation: one rotating phasor per line (cos, sin) and its per-sample rotation.
    std::array<double, kChannels> lfoCos_{};
    std::array<double, kChannels> lfoSin_{};
    std::array<double, kChannels> lfoRotCos_{};
    std::array<double, kChannels> lfoRotSin_{};
    double lfoDepth_ = 0.0;       // samples
    double roomSamples_ = 0.0;    // target
    double roomSmoothed_ = 0.0;   // glides towards the target
    double roomGlide_ = 0.0;      // per-sample coefficient
    double decayPerSample_ = 0.0; // ln gain per sample at the mid rate (negative)
    float lowSplit_ = 0.0f;       // one-pole coefficients of the damping band split
    float highSplit_ = 0.0f;
    std::array<float, kChannels> allpass_{}; // previous output of each line's allpass reader
    std::array<float, kChannels> lowState_{};
    std::array<float, kChannels> highState_{};
    std::array<float, kChannels> midGain_{};  // per line, per pass
    std::array<float, kChannels> lowBlend_{}; // low gain / mid gain
    std::array<float, kChannels> highBlend_{};
    double earlyGain_ = 1.0;
    unsigned passPos_ = 0;    // frames of the current pass already processed
    double gainsRoom_ = -1.0; // the room the loop gains were worked out for
    bool gainsStale_ = true;  // the parameters changed since

    // Per pass: the diffused input, and each line's integer read offset and allpass coefficient.
    alignas(64) float early_[kChunk][kChannels] = {};
    alignas(64) uint32_t readOffset_[kChunk][kChannels] = {};
    alignas(64) float readEta_[kChunk][kChannels] = {};

    // Output filters.
    double hpCoef_ = 0.0, lpCoef_ = 1.0;
    double hpState_[2] = {0.0, 0.0};
    double hpPrev_[2] = {0.0, 0.0};
    double lpState_[2] = {0.0, 0.0};
};

} // namespace vesk::dsp
