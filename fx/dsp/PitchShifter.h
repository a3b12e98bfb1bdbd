// Real-time pitch and formant shifter for stereo blocks of 1..4096 frames, over Rubber Band's
// real-time R3 engine.
//
// The stretcher's own delay depends on the pitch scale, and its output arrives in bursts. This
// wrapper keeps a ring of the stretcher's output and reads it so that the total latency is the
// same constant, latencyFrames(), for every pitch and formant setting: the worst case of the
// stretcher's delay (two octaves down) plus one processing window. A caller can therefore align
// a dry path once, at construction. Everything is allocated in the constructor.
#pragma once

#include <memory>

namespace RubberBand {
class RubberBandStretcher;
}

namespace vesk {

class PitchShifter
{
public:
    static constexpr unsigned kMaxBlock = 4096;
    static constexpr float kMaxSemitones = 24.0f;

    // [main thread] Rates below 1 Hz count as 48000.
    explicit PitchShifter(double rateHz);
    // [main thread]
    ~PitchShifter();
    PitchShifter(const PitchShifter&) = delete;
    PitchShifter& operator=(const PitchShifter&) = delete;

    // Frames between an input sample and the output sample made from it; fixed at construction.
    unsigned latencyFrames() const { return latency_; }

    // [audio thread] Transposition and formant shift in semitones, clamped to +-24. The formants
    // move by pitch + formant semitones in total, so a formant shift of 0 moves them with the
    // pitch as a plain transposition would. Non-finite values count as 0.
    void setShift(float pitchSemitones, float formantSemitones);

    // [audio thread] Clears the stretcher and the output ring; the latency stays the same.
    void reset();

    // [audio thread] 1..kMaxBlock frames; other counts leave the outputs untouched. The inputs
    // may alias the outputs.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 unsigned frames);

private:
    long currentDelay() const; // the stretcher's own delay at the current pitch, in frames

    std::unique_ptr<RubberBand::RubberBandStretcher> stretcher_;
    std::unique_ptr<float[]> ring_;    // 2 x ringSize_: the stretcher's output by stream index
    std::unique_ptr<float[]> scratch_; // 2 x kMaxBlock: input copies and retrieval buffers
    unsigned ringSize_ = 0;            // power of two
    unsigned latency_ = 0;
    long startPad_ = 0;
    long long inputCount_ = 0;  // frames given to the stretcher since the reset
    long long outputCount_ = 0; // frames taken from the stretcher since the reset
    float pitch_ = 0.0f;
    float formant_ = 0.0f;
    bool formantsKept_ = false; // the stretcher's formant handling is on
    double rate_ = 48000.0;
};

} // namespace vesk
