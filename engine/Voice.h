// One direct-playback voice: plays a sample region once, at a pitch, after a delay, following the
// pool's knobs live.
//
// Design: a plain object with everything inline (the resampler's buffers included), so the
// sampler holds its 32 voices in a fixed array and the audio thread never allocates to trigger or
// play them. A voice keeps pointers to its pool's centre values, envelopes and cut-offs rather
// than copies, so turning a knob moves every playing voice while each keeps its own random
// offsets.
//
// Lifetime: `sample` and the other pointers point into the pool. Whoever removes or replaces a
// pool's regions while a voice may still read them must keep the old list (and its audio) alive
// until the voice is idle; a region that stops being playable ends the voice at its next render.
#pragma once

#include "SamplePool.h"
#include "SampleData.h"
#include "SincResampler.h"
#include "VoiceMix.h"

#include <cstdint>

namespace vesk {

// Points inside one render at which the knobs a voice reads move (host automation within a
// block): before the voice renders frame `frames[i]` of the call, it calls `apply(context, i)`,
// which changes the values its knob pointers point at. The voice sounds exactly as if the render
// had been cut into separate calls at those frames with the knobs set between them, but pays its
// per-call costs (set-up, the filters' pipeline, the mix) once. Changes at or past the render's
// end, or after the voice has ended, are not applied.
struct KnobChanges
{
    static constexpr uint8_t kMovesPitch = 1;

    const uint32_t* frames = nullptr; // ascending
    uint32_t count = 0;
    void (*apply)(void* context, uint32_t index) = nullptr;
    void* context = nullptr;
    // Per change, what it moves (kMovesPitch: the value the pitch pointer points at); a change
    // without the bit must leave that value exactly as it is. Null: any change may move it.
    const uint8_t* moves = nullptr;
};

class Voice
{
public:
    static constexpr int32_t kIdle = 0;
    static constexpr int32_t kPlaying = 1;
    static constexpr int32_t kStopping = 2;
    // Output frames per block of parameter updates (volume, pan, pitch, envelopes, filters).
    static constexpr uint32_t kChunkFrames = 2048;
    // While an envelope is on, the parameters are updated every this many output frames counted
    // from the voice's first frame, whatever the blocks it is rendered in.
    static constexpr uint32_t kEnvelopeStepFrames = 64;
    // The pitch is held within this range of semitones wherever it is used.
    static constexpr float kMinPitchSemitones = -120.0f;
    static constexpr float kMaxPitchSemitones = 60.0f;

    // [audio thread] [main thread, under the state mutex] Starts playing `sample` (a region of a
    // pool's list). Pointers point into the pool and may be null (null knobs count as 0 dB,
    // centre, no transposition, filters off; null envelopes are off). An unplayable region leaves
    // the voice idle. A busy voice is restarted at once, without a fade.
    // volumeOffsetDb, panOffset (percent), pitchOffset (semitones): this trigger's deviations from
    // the knobs. delayMs: wait before the first sample. startPercent: 0..100 of the region.
    // sampleRate: engine rate in Hz. fadeIn, fadeOut: fractions 0..0.5 of the expected output
    // length.
    void trigger(const SampleData* sample, const float* volumeBase, float volumeOffsetDb,
                 const float* panBase, float panOffset, const float* pitchBase, float pitchOffset,
                 float delayMs, float startPercent, bool reverse, double sampleRate,
                 const EnvelopeData* volumeEnv, const EnvelopeData* panEnv,
                 const EnvelopeData* pitchEnv, const float* hpfHz, const float* lpfHz,
                 const EnvelopeData* hpfEnv, const EnvelopeData* lpfEnv, float fadeIn,
                 float fadeOut);

    // [audio thread] [main thread, offline render] Adds up to `frames` samples into left and right
    // (never clears them). Returns the largest absolute value added to either channel. `changes`
    // (may be null) moves the knobs inside the call.
    float render(float* left, float* right, uint32_t frames, const KnobChanges* changes = nullptr);

    // [audio thread] [main thread, under the state mutex] Starts the stop fade: 5 ms at the
    // engine rate, at least 16 samples. Only a playing voice (state 1) starts it.
    void beginStop();

    bool isActive() const { return state != kIdle; }

    // 0..1 along the run for the playhead: position over the region's playable length (so a
    // reversed voice runs from 1 to 0); 0 when idle, stopping or unplayable.
    float playbackProgress() const;
    // 0..1 progress of the envelopes along the run; 0 when not playing or the run is empty.
    float envelopeProgress() const;

    // Fields, in the order of the engine's data model.
    const SampleData* sample = nullptr; // region being played; null when idle
    SincResampler resampler;
    int64_t position = 0;        // next region frame to feed, from the region's start
    int64_t delayRemaining = 0;  // output samples still to wait
    int64_t fadeInRemaining = 0; // output samples
    int64_t fadeInLength = 0;    // output samples
    int64_t fadeOutLength = 0;   // output samples
    int64_t fadeOutStart = 0;    // output index at which the fade-out begins
    int64_t outputCount = 0;     // output samples produced since the trigger
    int32_t stopRemaining = 0;   // output samples
    int32_t stopLength = 0;      // output samples
    bool reverse = false;
    const float* volumeBase = nullptr; // dB
    const float* panBase = nullptr;    // percent -100..100
    const float* pitchBase = nullptr;  // semitones
    float volumeOffsetDb = 0.0f;
    float panOffset = 0.0f;   // percent
    float pitchOffset = 0.0f; // semitones
    const EnvelopeData* volumeEnv = nullptr;
    const EnvelopeData* panEnv = nullptr;
    const EnvelopeData* pitchEnv = nullptr;
    double sampleRate = 48000.0; // engine rate, Hz
    double fileRate = 48000.0;   // rate of the region's audio, Hz
    int64_t startPosition = 0;
    uint64_t runLength = 0; // frames from the start position to the region end, playing direction
    const float* hpfHz = nullptr;
    const float* lpfHz = nullptr;
    const EnvelopeData* hpfEnv = nullptr;
    const EnvelopeData* lpfEnv = nullptr;
    SvfCoefficients hpCoeffs;
    SvfCoefficients lpCoeffs;
    SvfState hpState[2];
    SvfState lpState[2];
    int32_t state = kIdle;
    // Zeros still to feed after the region's end, so its last frames leave the interpolator.
    int32_t tailRemaining = 0;
    // The parameters last computed: channel gains and which filters run.
    double gainL = 0.0;
    double gainR = 0.0;
    bool useHp = false;
    bool useLp = false;
    // Shared by the voices of a pool (null: each works its coefficients out alone).
    SvfCoefficientMemo* filterMemo = nullptr;

private:
    // What updateParameters() last worked out, keyed by what it was taken of (NaN: not yet).
    struct ParameterCache
    {
        static constexpr float kNone = __builtin_nanf("");
        float volumeDb = kNone;
        double volumeGain = 1.0;
        float envelopeDb = kNone;
        double envelopeGain = 1.0;
        double pan = double(kNone);
        double cosTheta = 0.0, sinTheta = 0.0;
        float highPassHz = kNone;
        float lowPassHz = kNone;
        double semitones = double(kNone);
        double pitchFactor = 1.0;
    };
    ParameterCache cache;

    void end();
    // Knobs and envelopes at the current position into the gains, filters and pitch.
    void updateParameters();
};

// [any thread] Value of a breakpoint envelope at progress t (0..1). `startValue` is where the
// curve begins before its first point (0 for volume, pan and pitch; the knob's cut-off for the
// filters).
float evaluateEnvelope(const EnvelopeData& env, float t, float startValue);

} // namespace vesk
