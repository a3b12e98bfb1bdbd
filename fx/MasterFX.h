// The master chain: three-band EQ, Enhance, Glue Reverb, Limiter, output gain, the fade-in of a
// captured tail and the final safety stages, run on every output sample after the two FX buses.
//
// Stage order and guarantees. The DC blocker sits before the limiter (it would otherwise push a
// square wave or a sine's onset above the ceiling), and after the output gain and the tail fade
// a last guard holds the ceiling scaled by the output gain while the limiter is active, clips to
// +-2 otherwise, and turns any non-finite sample into 0, so one bad value never leaves NaN in the
// output. The limiter's look-ahead, ceil(0.01 x rate) samples, is the plug-in's reported latency;
// it is present even while the chain is bypassed.
//
// Every setting is clamped to the range the editor offers and non-finite values are refused, so
// nothing outside the ranges the stages are built for ever reaches DSP. All buffers are sized in
// setSampleRate; process and softReset never allocate.
//
// Threads: settings change on the main thread under the instance's state mutex; process,
// softReset and reset run on the rendering thread under the same mutex; setSampleRate runs at
// activation, while no audio is processed.
#pragma once

#include "fx/ThreeBandEQ.h"
#include "fx/dsp/FdnReverb.h"
#include "fx/dsp/HalfBand2x.h"
#include "fx/dsp/Limiter.h"

#include <cstdint>
#include <vector>

namespace vesk {

inline constexpr int kMasterMaxBlock = 4096;

struct EnhanceParams
{
    float enhanceDrive = 0.0f;  // dB, -12..12
    float enhanceAmount = 0.0f; // percent, 0..100
    float enhanceShape = 0.0f;  // -50..50
    bool enhanceMulti = false;
    bool enhanceBypass = false;
};

struct ReverbParams
{
    float reverbSize = 0.2f;  // 0..1: room 10 + 90 x size ms
    float reverbDamp = 0.7f;  // 0..1
    float reverbDecay = 1.5f; // RT20, seconds, 0.3..5
    float reverbMix = 0.15f;  // 0..1
    float reverbWidth = 0.8f; // -1..1
    float reverbEarly = 1.0f; // 0..2
    bool reverbBypass = false;
};

struct LimiterParams
{
    float limiterThreshold = -3.0f; // dB, -30..0
    float limiterCeiling = -0.1f;   // dB, -12..0
    float limiterRelease = 100.0f;  // ms, 10..500
    bool limiterBypass = false;
};

// Plain-data image of the master settings (snapshot and saved state).
struct MasterFXState
{
    float eqLow = 0.0f;
    float eqMid = 0.0f;
    float eqHigh = 0.0f;
    uint8_t eqBypass = 0;
    float enhanceDrive = 0.0f;
    float enhanceAmount = 0.0f;
    float enhanceShape = 0.0f;
    uint8_t enhanceMulti = 0;
    uint8_t enhanceBypass = 0;
    float reverbSize = 0.2f;
    float reverbDamp = 0.7f;
    float reverbDecay = 1.5f;
    float reverbMix = 0.15f;
    float reverbWidth = 0.8f;
    float reverbEarly = 1.0f;
    uint8_t reverbBypass = 0;
    float limiterThreshold = -3.0f;
    float limiterCeiling = -0.1f;
    float limiterRelease = 100.0f;
    uint8_t limiterBypass = 0;
    float outputGainDb = 0.0f;
    uint8_t bypassed = 1;
};

// Oversampled waveshaper, optionally in three bands.
class Enhance
{
public:
    // [main thread] Allocates the 2x work buffers for kMasterMaxBlock frames.
    void setSampleRate(double rate);
    // [main thread] Stores the (already clamped) settings and derives the shaper.
    void setParams(const EnhanceParams& p);
    // [audio thread] In place; skipped when bypassed, when neither amount nor drive is above 0,
    // or when the block exceeds the capacity.
    void process(float* left, float* right, unsigned frames);
    // [audio thread] Clears the oversampler and the band states.
    void reset();

private:
    float shapeSample(float v) const;

    EnhanceParams params_;
    Oversampler2x oversampler_;
    double drive_ = 1.0;
    double amount_ = 0.0;
    double c0_ = 1.5, c1_ = 0.0, c2_ = -0.5, c3_ = 0.0625;
    double gLo_ = 0.0, gHi_ = 0.0, midScale_ = 1.0;
    double bandLo_[2] = {0.0, 0.0};
    double bandHi_[2] = {0.0, 0.0};
    std::vector<float> work_[2];
    double sampleRate_ = 48000.0;
};

// The glue reverb: the FDN reverb run fully wet and mixed with the dry signal in mid/side.
class Reverb
{
public:
    // [main thread] Sizes the reverb for the rate and the work buffers for kMasterMaxBlock.
    void setSampleRate(double rate);
    // [main thread]
    void setParams(const ReverbParams& p);
    // [audio thread] In place; does not run (its tail does not advance) when bypassed or the mix is
    // 0.
    void process(float* left, float* right, unsigned frames);
    // [audio thread]
    void reset();

private:
    ReverbParams params_;
    dsp::FdnReverb reverb_;
    std::vector<float> wet_[2];
};

// The master limiter stage: the look-ahead limiter with the chain's threshold and ceiling.
class Limiter
{
public:
    // [main thread] Sizes the look-ahead for the rate.
    void setSampleRate(double rate);
    // [main thread] transparent: the limiter or the whole chain is bypassed (unity input gain and
    // an output limit too high to act; the look-ahead delay stays).
    void setParams(const LimiterParams& p, bool transparent);
    // [audio thread]
    void process(float* left, float* right, unsigned frames);
    // [audio thread]
    void reset();
    int latencySamples() const { return limiter_.latencySamples(); }
    // Linear output limit in force (1e6 when transparent).
    float outputLimit() const { return outputLimit_; }

private:
    dsp::LookaheadLimiter limiter_;
    float outputLimit_ = 1.0e6f;
};

class MasterFX
{
public:
    MasterFX();

    // [main thread, not processing] Re-sizes every buffer for the rate.
    void setSampleRate(double rate);
    // [any thread] The look-ahead of the limiter: ceil(0.01 x rate) samples (441 at 44.1 kHz, 480
    // at 48 kHz). The plug-in reports it as its latency.
    int getLatencySamples() const { return limiter_.latencySamples(); }
    static int latencyForRate(double rate);

    // [main thread] Settings. Values are clamped to the editor's ranges; a non-finite value leaves
    // that setting unchanged. Each returns false when a value was refused.
    bool setEQ(float lowDb, float midDb, float highDb);
    void setEQBypass(bool flag);
    bool setEnhance(float driveDb, float amountPercent, float shape);
    void setEnhanceBypass(bool flag);
    void setEnhanceMulti(bool flag);
    bool setReverb(float size, float damp, float decaySeconds, float mix, float width, float early);
    void setReverbBypass(bool flag);
    bool setLimiter(float thresholdDb, float ceilingDb, float releaseMs);
    void setLimiterBypass(bool flag);
    bool setOutputGainDb(float db);
    void setBypassed(bool flag);

    // [main thread] All settings at once (state load); same checks as the setters.
    void applyState(const MasterFXState& s);
    // [any thread, under the state mutex]
    void exportState(MasterFXState& out) const;

    // [audio thread] In place, frames <= kMasterMaxBlock (longer blocks are processed in pieces).
    void process(float* left, float* right, unsigned frames);
    // [audio thread] Captures the next 10 ms of the chain's ring-out, clears every stage and fades
    // the capture out over the following blocks.
    void softReset();
    // [audio thread] Clears every stage without a tail (hard stop).
    void reset();

    // Settings, as last applied (read them; change them through the setters).
    ThreeBandEQParams eq;
    EnhanceParams enhance;
    ReverbParams reverb;
    LimiterParams limiter;
    float outputGainDb = 0.0f;
    bool bypassed = true;
    float outputGain = 1.0f; // linear; 0 at -48 dB and below

private:
    void processBlock(float* left, float* right, unsigned frames);
    void runStages(float* left, float* right, unsigned frames);
    void applyLimiterSettings();
    void clearStages();

    ThreeBandEQ eqEngine_;
    Enhance enhance_;
    Reverb reverb_;
    Limiter limiter_;
    double sampleRate_ = 48000.0;
    std::vector<float> tailLeft_;
    std::vector<float> tailRight_;
    int fadeLength_ = 0;
    int fadeRemaining_ = 0;
    int fadePosition_ = 0;
    float dcPrevIn_[2] = {0.0f, 0.0f};
    float dcPrevOut_[2] = {0.0f, 0.0f};
};

} // namespace vesk
