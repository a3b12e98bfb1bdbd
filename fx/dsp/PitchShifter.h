// Real-time pitch and formant shifter for stereo blocks of 1..4096 frames: a phase vocoder that
// moves the partials of each frame in frequency.
//
// Design: each hop's spectrum is cut into regions, one around each spectral peak. A region is
// moved to where its peak's frequency times the pitch scale falls (upwards it also widens by the
// scale, as everything in it moves in proportion), and its bins are all turned by the same phase,
// the peak's own phase advance as a partial at the new frequency. Locking the phases around the
// peaks keeps each partial one coherent sinusoid. The time axis is never stretched, so the
// latency is the frame length at every setting and through every movement of the pitch: a caller
// aligns a dry path once.
//
// Phases are taken at the centre of the frame, so moving a region by whole bins does not move its
// sound in time. The window is 2048 samples at 44.1 and 48 kHz (scaled with the rate), eight
// windows overlap, and the frame holds the window with zeros on either side: a finer grid of bins
// for the peaks, and a latency of 2560 samples at those rates.
//
// A formant shift is a gain per output bin: the input's envelope through its stronger peaks is
// measured, and the output is scaled from the envelope that moved with the partials to the
// envelope moved by the formant scale. Everything is allocated and planned in the constructor.
#pragma once

#include <cstdint>
#include <memory>

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
    unsigned latencyFrames() const;

    // [audio thread] Transposition and formant shift in semitones, clamped to +-24. The formants
    // move by pitch + formant semitones in total, so a formant shift of 0 moves them with the
    // pitch as a plain transposition would. Non-finite values count as 0. Takes effect from the
    // next hop.
    void setShift(float pitchSemitones, float formantSemitones);

    // [audio thread] Clears the frames, the phases and the pending output.
    void reset();

    // [audio thread] 1..kMaxBlock frames; other counts leave the outputs untouched. The inputs
    // may alias the outputs.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 unsigned frames);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vesk
