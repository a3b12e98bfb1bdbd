// The pitch and formant shifter the Pitch module used before it had one of its own, kept for the
// benchmarks as the quality reference: stereo blocks of 1..4096 frames, over Rubber Band's
// real-time R3 engine.
//
// The stretcher only time-stretches: by the pitch scale s, with its pitch left at 1 (and, while a
// formant shift is set, its formant envelope moved by the formant scale). Our own interpolator
// then reads the stretched stream s times faster, which puts the pitch back to s and the timing
// back to that of the input. This costs about half of letting the stretcher transpose, whose
// built-in resampler runs at every setting.
//
// Reading the stretched stream at the right place is what keeps the latency constant. After each
// block the wrapper notes how far the stretcher's analysis has got through the input (from the
// input it still waits for) and how much output it has made; those pairs map input time onto the
// stretched stream exactly, including every ratio change at the hop where the stretcher applied
// it. The reader follows that map `latencyFrames()` behind the input: the worst case of the
// stretcher's delay two octaves down plus one window. A caller can therefore align a dry path
// once, at construction. Everything is allocated in the constructor.
#pragma once

#include "engine/SincResampler.h"

#include <cstdint>
#include <memory>

namespace RubberBand {
class RubberBandStretcher;
}

namespace vesk::bench {

class StretchPitchShifter
{
public:
    static constexpr unsigned kMaxBlock = 4096;
    static constexpr float kMaxSemitones = 24.0f;

    // [main thread] Rates below 1 Hz count as 48000.
    explicit StretchPitchShifter(double rateHz);
    // [main thread]
    ~StretchPitchShifter();
    StretchPitchShifter(const StretchPitchShifter&) = delete;
    StretchPitchShifter& operator=(const StretchPitchShifter&) = delete;

    // Frames between an input sample and the output sample made from it; fixed at construction.
    unsigned latencyFrames() const { return latency_; }

    // [audio thread] Transposition and formant shift in semitones, clamped to +-24. The formants
    // move by pitch + formant semitones in total, so a formant shift of 0 moves them with the
    // pitch as a plain transposition would. Non-finite values count as 0.
    void setShift(float pitchSemitones, float formantSemitones);

    // [audio thread] Clears the stretcher, the stream and the reader; the latency stays the same.
    void reset();

    // [audio thread] 1..kMaxBlock frames; other counts leave the outputs untouched. The inputs
    // may alias the outputs.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 unsigned frames);

private:
    // Where the stretcher's analysis stood after a block: the next hop analyses the input window
    // starting at `input`, and the stretched stream held `output` frames before it.
    struct MapPoint
    {
        int64_t input;
        int64_t output;
    };

    void pad();
    void collectOutput();
    void notePosition();
    void read(float* outLeft, float* outRight, unsigned frames);
    void feedReader(int frames);
    double slopeAt(int64_t x, int64_t* segmentEnd);

    std::unique_ptr<RubberBand::RubberBandStretcher> stretcher_;
    std::unique_ptr<SincResampler> reader_;
    std::unique_ptr<float[]> ring_;      // 2 x ringSize_: the stretched stream by stream index
    std::unique_ptr<float[]> silence_;   // kMaxBlock zeros for the start pad
    std::unique_ptr<MapPoint[]> points_; // kPoints, oldest at pointsHead_
    unsigned ringSize_ = 0;              // power of two
    unsigned latency_ = 0;
    int64_t windowSource_ = 0; // input frames the stretcher analyses per hop
    int64_t origin_ = 0;       // hop start to frame centre, in input and stream frames alike
    int64_t startPad_ = 0;     // silent frames given to the stretcher after a reset
    int64_t inputCount_ = 0;   // frames given to the stretcher since the reset, pad included
    int64_t outputCount_ = 0;  // frames taken from the stretcher since the reset
    unsigned pointsHead_ = 0;
    unsigned pointsCount_ = 0;
    bool padPending_ = true; // the silent start is still to be given
    bool reading_ = false;   // the reader has started on the stream
    int64_t nextFeed_ = 0;   // stream index of the next frame given to the reader
    float pitch_ = 0.0f;
    float formant_ = 0.0f;
    bool formantsKept_ = false; // the stretcher's formant handling is on
    double rate_ = 48000.0;
};

} // namespace vesk::bench
