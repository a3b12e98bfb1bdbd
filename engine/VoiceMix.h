// The per-sample stage of a voice: after the interpolator, each output frame is scaled by the
// fades, runs through the high-pass and the low-pass and is added, panned, into the output pair.
//
// Design: the two-pole filters are recursions, so a plain loop waits on one multiply-add after
// another within a sample. Here every filter of the voice (high-pass and low-pass, per channel)
// is a lane of one vector, written as a step of its state-space form (the next states and the
// output are each one sum of the two states and the input), and the low-pass lanes run a few
// samples behind the high-pass lanes, so the lanes of one step never wait on each other. The
// result is that of running the filters one after another; only the rounding of the sums
// differs, far below the 24-bit output.
#pragma once

#include <cstdint>

namespace vesk {

// Two-pole state-variable filter coefficients (trapezoidal form, Butterworth damping).
struct SvfCoefficients
{
    double a1 = 0.0;
    double a2 = 0.0;
    double a3 = 0.0;
};

struct SvfState
{
    double s1 = 0.0;
    double s2 = 0.0;
};

// [any thread] Coefficients for a cut-off in Hz at a rate; the cut-off is held to 1 .. 0.49 x rate.
SvfCoefficients svfCoefficients(double cutoffHz, double sampleRate);

// The coefficients of the cut-offs met lately, for the voices of one pool: they follow the same
// cut-off knob, so a cut-off the host automates costs one tangent per pool rather than one per
// voice. Gives exactly what svfCoefficients gives. Belongs to whoever renders the pool.
class SvfCoefficientMemo
{
public:
    const SvfCoefficients& get(float cutoffHz, double sampleRate);

private:
    // Enough for the cut-offs a block of automation moves a filter through; beyond them, the
    // oldest entry goes.
    static constexpr int kSlots = 16;
    uint32_t hzBits_[kSlots] = {};
    SvfCoefficients coeffs_[kSlots];
    double rate_ = 0.0; // of every entry
    int count_ = 0;
    int next_ = 0; // the entry a new cut-off takes
};

// A stretch of frames with one set of parameters: the channel gains and the filters'
// coefficients (those of a filter that does not run are ignored).
struct VoiceMixSegment
{
    int frames = 0;
    double gainLeft = 1.0;
    double gainRight = 1.0;
    SvfCoefficients highPass;
    SvfCoefficients lowPass;
};

// Output frames of a voice, in segments that follow one another.
struct VoiceMixChunk
{
    const float* in[2] = {}; // the interpolator's output; in[1] is ignored for one channel
    int channels = 1;
    // Per-frame gain of the fades (null: 1 throughout).
    const double* fadeGain = nullptr;
    // Which filters run, throughout; a filter that does not run keeps its states.
    bool highPass = false;
    bool lowPass = false;
    SvfState* highPassState = nullptr; // one per channel
    SvfState* lowPassState = nullptr;  // one per channel
    const VoiceMixSegment* segments = nullptr;
    int segmentCount = 0;
    float* outLeft = nullptr; // added into
    float* outRight = nullptr;
};

// [audio thread] Adds the chunk into its outputs; returns the largest absolute value added to
// either channel. A single channel is filtered once and sent to both outputs. The filters run
// through the segments as one recursion, each segment with its own coefficients.
float mixVoiceChunk(const VoiceMixChunk& chunk);

} // namespace vesk
