// Look-ahead peak limiter, stereo, fully linked.
//
// The signal is delayed by the look-ahead L = ceil(attack x rate) samples. The gain each input
// frame needs (limit / peak, at most 1) is held at its minimum for L + 1 frames, released with a
// one-pole curve, and smoothed by two box filters whose spans add up to L. Every frame's gain is
// therefore fully reached by the time the frame leaves the delay line, so the output never
// exceeds the limit (apart from rounding, which the caller may clip). The latency is exactly L.
#pragma once

#include <vector>

namespace vesk::dsp {

struct LimiterSettings
{
    double attackMs = 10.0; // look-ahead and smoothing span; fixed at configure
    double holdMs = 0.0;    // extra hold of the gain minimum
    double releaseMs = 100.0;
    double inputGain = 1.0;   // linear
    double outputLimit = 1.0; // linear peak limit
};

class LookaheadLimiter
{
public:
    // [main thread] Allocates the delay and smoothing buffers for the rate, attack and the
    // longest hold. Clears all state.
    void configure(double sampleRate, double attackMs, double maxHoldMs = 0.0);
    // [any thread] Release, hold (up to the configured maximum), input gain and output limit.
    void setSettings(const LimiterSettings& s);
    // [audio thread] In place. Does nothing before configure.
    void process(float* left, float* right, unsigned frames);
    // [audio thread] Clears the delay line and the gain state.
    void reset();

    int latencySamples() const { return lookahead_; }
    static int lookaheadFor(double sampleRate, double attackMs);

private:
    double pushMinimum(double gain);
    double smooth(double gain);

    int lookahead_ = 0;
    int holdExtra_ = 0;
    int maxHoldExtra_ = 0;
    double sampleRate_ = 48000.0;
    double inputGain_ = 1.0;
    double outputLimit_ = 1.0;
    double releaseCoef_ = 0.0; // per-sample step towards a rising gain
    double envelope_ = 1.0;

    // Delay line of the audio (lookahead_ frames per channel).
    std::vector<float> delay_[2];
    int delayPos_ = 0;

    // Running minimum over the hold window: a monotonic queue of (frame, gain) in a ring.
    std::vector<double> minGain_;
    std::vector<long long> minFrame_;
    int minHead_ = 0;
    int minSize_ = 0;
    long long frame_ = 0;

    // Two box filters.
    std::vector<double> box1_, box2_;
    int box1Pos_ = 0, box2Pos_ = 0;
    double box1Sum_ = 0.0, box2Sum_ = 0.0;
};

} // namespace vesk::dsp
