#include "fx/MasterFX.h"

#include <algorithm>
#include <cmath>

namespace vesk {

namespace {

constexpr double kReverbMaxRoomMs = 100.0; // 10 + 90 x size at size 1
constexpr double kLimiterAttackMs = 10.0;
constexpr float kFinalClip = 2.0f;

int tailSamplesFor(double rate)
{
    const double n = 0.01 * rate;
    return n >= 1.0 && n < 1.0e7 ? static_cast<int>(n) : 1;
}

// Clamps a finite value into [lo, hi]; refuses (returns false) a non-finite one.
bool clampInto(float v, float lo, float hi, float& out)
{
    if (!std::isfinite(v)) {
        return false;
    }
    out = std::clamp(v, lo, hi);
    return true;
}

} // namespace

// Reverb stage ----------------------------------------------------------------------------------

void Reverb::setSampleRate(double rate)
{
    reverb_.configure(rate, kReverbMaxRoomMs);
    for (auto& w : wet_) {
        w.assign(static_cast<size_t>(kMasterMaxBlock), 0.0f);
    }
    setParams(params_);
}

void Reverb::setParams(const ReverbParams& p)
{
    params_ = p;
    dsp::FdnReverbParams f;
    f.roomMs = 10.0 + 90.0 * p.reverbSize;
    f.rt20Seconds = p.reverbDecay;
    f.early = p.reverbEarly;
    f.detuneCents = 3.0;
    f.lowCutHz = 80.0;
    f.highCutHz = 12000.0;
    f.lowDampRate = 1.5;
    f.highDampRate = 1.0 + 9.0 * p.reverbDamp;
    reverb_.setParams(f);
}

void Reverb::reset()
{
    reverb_.reset();
}

void Reverb::process(float* left, float* right, unsigned frames)
{
    if (params_.reverbBypass || !(params_.reverbMix > 0.0f) || frames == 0 ||
        frames > static_cast<unsigned>(kMasterMaxBlock) || wet_[0].size() < frames) {
        return;
    }
    float* wl = wet_[0].data();
    float* wr = wet_[1].data();
    reverb_.process(left, right, wl, wr, frames);
    const float mix = params_.reverbMix;
    const float width = params_.reverbWidth;
    for (unsigned i = 0; i < frames; ++i) {
        const float mid = 0.5f * (wl[i] + wr[i]);
        const float side = 0.5f * (wl[i] - wr[i]);
        left[i] = (1.0f - mix) * left[i] + mix * (mid + width * side);
        right[i] = (1.0f - mix) * right[i] + mix * (mid - width * side);
    }
}

// Limiter stage ---------------------------------------------------------------------------------

void Limiter::setSampleRate(double rate)
{
    limiter_.configure(rate, kLimiterAttackMs);
}

void Limiter::setParams(const LimiterParams& p, bool transparent)
{
    dsp::LimiterSettings s;
    s.attackMs = kLimiterAttackMs;
    s.holdMs = 0.0;
    s.releaseMs = p.limiterRelease;
    if (transparent) {
        s.inputGain = 1.0;
        s.outputLimit = 1.0e6;
    } else {
        s.inputGain = std::pow(10.0, (p.limiterCeiling - p.limiterThreshold) / 20.0);
        s.outputLimit = std::pow(10.0, p.limiterCeiling / 20.0);
    }
    outputLimit_ = static_cast<float>(s.outputLimit);
    limiter_.setSettings(s);
}

void Limiter::process(float* left, float* right, unsigned frames)
{
    limiter_.process(left, right, frames);
}

void Limiter::reset()
{
    limiter_.reset();
}

// Master chain ----------------------------------------------------------------------------------

MasterFX::MasterFX()
{
    eq.shaped = true;
    setSampleRate(48000.0);
}

int MasterFX::latencyForRate(double rate)
{
    return dsp::LookaheadLimiter::lookaheadFor(rate, kLimiterAttackMs);
}

void MasterFX::setSampleRate(double rate)
{
    if (!(rate > 1.0) || !std::isfinite(rate)) {
        return;
    }
    sampleRate_ = rate;
    eqEngine_.setSampleRate(rate);
    eqEngine_.setParams(eq);
    enhance_.setSampleRate(rate);
    enhance_.setParams(enhance);
    reverb_.setSampleRate(rate);
    reverb_.setParams(reverb);
    limiter_.setSampleRate(rate);
    applyLimiterSettings();
    const int n = tailSamplesFor(rate);
    tailLeft_.assign(static_cast<size_t>(n), 0.0f);
    tailRight_.assign(static_cast<size_t>(n), 0.0f);
    fadeLength_ = fadeRemaining_ = fadePosition_ = 0;
    dcPrevIn_[0] = dcPrevIn_[1] = dcPrevOut_[0] = dcPrevOut_[1] = 0.0f;
}

bool MasterFX::setEQ(float lowDb, float midDb, float highDb)
{
    bool ok = clampInto(lowDb, -12.0f, 12.0f, eq.lowGainDb);
    ok = clampInto(midDb, -12.0f, 12.0f, eq.midGainDb) && ok;
    ok = clampInto(highDb, -12.0f, 12.0f, eq.highGainDb) && ok;
    eq.lowMidHz = 120.0f;
    eq.midHighHz = 4200.0f;
    eq.shaped = true;
    eqEngine_.setParams(eq);
    return ok;
}

void MasterFX::setEQBypass(bool flag)
{
    eq.bypass = flag;
    eqEngine_.setParams(eq);
}

bool MasterFX::setEnhance(float driveDb, float amountPercent, float shape)
{
    bool ok = clampInto(driveDb, -12.0f, 12.0f, enhance.enhanceDrive);
    ok = clampInto(amountPercent, 0.0f, 100.0f, enhance.enhanceAmount) && ok;
    ok = clampInto(shape, -50.0f, 50.0f, enhance.enhanceShape) && ok;
    enhance_.setParams(enhance);
    return ok;
}

void MasterFX::setEnhanceBypass(bool flag)
{
    enhance.enhanceBypass = flag;
    enhance_.setParams(enhance);
}

void MasterFX::setEnhanceMulti(bool flag)
{
    enhance.enhanceMulti = flag;
    enhance_.setParams(enhance);
}

bool MasterFX::setReverb(float size, float damp, float decaySeconds, float mix, float width,
                         float early)
{
    bool ok = clampInto(size, 0.0f, 1.0f, reverb.reverbSize);
    ok = clampInto(damp, 0.0f, 1.0f, reverb.reverbDamp) && ok;
    ok = clampInto(decaySeconds, 0.3f, 5.0f, reverb.reverbDecay) && ok;
    ok = clampInto(mix, 0.0f, 1.0f, reverb.reverbMix) && ok;
    ok = clampInto(width, -1.0f, 1.0f, reverb.reverbWidth) && ok;
    ok = clampInto(early, 0.0f, 2.0f, reverb.reverbEarly) && ok;
    reverb_.setParams(reverb);
    return ok;
}

void MasterFX::setReverbBypass(bool flag)
{
    reverb.reverbBypass = flag;
    reverb_.setParams(reverb);
}

bool MasterFX::setLimiter(float thresholdDb, float ceilingDb, float releaseMs)
{
    bool ok = clampInto(thresholdDb, -30.0f, 0.0f, limiter.limiterThreshold);
    ok = clampInto(ceilingDb, -12.0f, 0.0f, limiter.limiterCeiling) && ok;
    ok = clampInto(releaseMs, 10.0f, 500.0f, limiter.limiterRelease) && ok;
    applyLimiterSettings();
    return ok;
}

void MasterFX::setLimiterBypass(bool flag)
{
    limiter.limiterBypass = flag;
    applyLimiterSettings();
}

bool MasterFX::setOutputGainDb(float db)
{
    if (!clampInto(db, -48.0f, 6.0f, outputGainDb)) {
        return false;
    }
    outputGain = outputGainDb > -48.0f ? std::pow(10.0f, outputGainDb / 20.0f) : 0.0f;
    return true;
}

void MasterFX::setBypassed(bool flag)
{
    bypassed = flag;
    applyLimiterSettings();
}

void MasterFX::applyLimiterSettings()
{
    limiter_.setParams(limiter, bypassed || limiter.limiterBypass);
}

void MasterFX::applyState(const MasterFXState& s)
{
    setEQ(s.eqLow, s.eqMid, s.eqHigh);
    setEQBypass(s.eqBypass != 0);
    enhance.enhanceMulti = s.enhanceMulti != 0;
    enhance.enhanceBypass = s.enhanceBypass != 0;
    setEnhance(s.enhanceDrive, s.enhanceAmount, s.enhanceShape);
    reverb.reverbBypass = s.reverbBypass != 0;
    setReverb(s.reverbSize, s.reverbDamp, s.reverbDecay, s.reverbMix, s.reverbWidth, s.reverbEarly);
    limiter.limiterBypass = s.limiterBypass != 0;
    setLimiter(s.limiterThreshold, s.limiterCeiling, s.limiterRelease);
    setOutputGainDb(s.outputGainDb);
    setBypassed(s.bypassed != 0);
}

void MasterFX::exportState(MasterFXState& out) const
{
    out.eqLow = eq.lowGainDb;
    out.eqMid = eq.midGainDb;
    out.eqHigh = eq.highGainDb;
    out.eqBypass = eq.bypass ? 1 : 0;
    out.enhanceDrive = enhance.enhanceDrive;
    out.enhanceAmount = enhance.enhanceAmount;
    out.enhanceShape = enhance.enhanceShape;
    out.enhanceMulti = enhance.enhanceMulti ? 1 : 0;
    out.enhanceBypass = enhance.enhanceBypass ? 1 : 0;
    out.reverbSize = reverb.reverbSize;
    out.reverbDamp = reverb.reverbDamp;
    out.reverbDecay = reverb.reverbDecay;
    out.reverbMix = reverb.reverbMix;
    out.reverbWidth = reverb.reverbWidth;
    out.reverbEarly = reverb.reverbEarly;
    out.reverbBypass = reverb.reverbBypass ? 1 : 0;
    out.limiterThreshold = limiter.limiterThreshold;
    out.limiterCeiling = limiter.limiterCeiling;
    out.limiterRelease = limiter.limiterRelease;
    out.limiterBypass = limiter.limiterBypass ? 1 : 0;
    out.outputGainDb = outputGainDb;
    out.bypassed = bypassed ? 1 : 0;
}

void MasterFX::runStages(float* left, float* right, unsigned frames)
{
    if (!bypassed) {
        eqEngine_.process(left, right, frames); // does nothing while the EQ is bypassed
        enhance_.process(left, right, frames);
        reverb_.process(left, right, frames);
    }
}

void MasterFX::process(float* left, float* right, unsigned frames)
{
    while (frames > 0) {
        const unsigned n = std::min(frames, static_cast<unsigned>(kMasterMaxBlock));
        processBlock(left, right, n);
        left += n;
        right += n;
        frames -= n;
    }
}

void MasterFX::processBlock(float* left, float* right, unsigned frames)
{
    // A non-finite input sample would stay in every filter memory of the chain: it enters as 0.
    for (unsigned i = 0; i < frames; ++i) {
        if (!std::isfinite(left[i])) {
            left[i] = 0.0f;
        }
        if (!std::isfinite(right[i])) {
            right[i] = 0.0f;
        }
    }
    runStages(left, right, frames);

    // DC blocker, before the limiter so that nothing after the limiter can lift a sample above
    // the ceiling. Time constant about 1000 samples.
    float* io[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        float xPrev = dcPrevIn_[c];
        float yPrev = dcPrevOut_[c];
        float* x = io[c];
        for (unsigned i = 0; i < frames; ++i) {
            const float in = x[i];
            float y = in - xPrev + 0.999f * yPrev;
            if (!std::isfinite(y)) {
                y = 0.0f; // a non-finite input must not stay in the memories
            }
            xPrev = std::isfinite(in) ? in : 0.0f;
            yPrev = y;
            x[i] = y;
        }
        dcPrevIn_[c] = xPrev;
        dcPrevOut_[c] = yPrev;
    }

    limiter_.process(left, right, frames);

    const float gain = outputGain;
    for (unsigned i = 0; i < frames; ++i) {
        left[i] *= gain;
        right[i] *= gain;
    }

    if (fadeRemaining_ > 0 && fadeLength_ > 0) {
        const int n = std::min(fadeRemaining_, static_cast<int>(frames));
        const float scale = 1.0f / static_cast<float>(fadeLength_);
        for (int i = 0; i < n; ++i) {
            const float g = static_cast<float>(fadeRemaining_ - i) * scale;
            left[i] += tailLeft_[static_cast<size_t>(fadePosition_ + i)] * g;
            right[i] += tailRight_[static_cast<size_t>(fadePosition_ + i)] * g;
        }
        fadePosition_ += n;
        fadeRemaining_ -= n;
    }

    // Final guard: the ceiling (scaled by the output gain) while the limiter acts, +-2 always, and
    // 0 for anything non-finite.
    float limit = kFinalClip;
    if (!bypassed && !limiter.limiterBypass) {
        limit = std::min(limit, limiter_.outputLimit() * gain);
    }
    for (int c = 0; c < 2; ++c) {
        float* x = io[c];
        for (unsigned i = 0; i < frames; ++i) {
            const float v = x[i];
            x[i] = std::isfinite(v) ? std::clamp(v, -limit, limit) : 0.0f;
        }
    }
}

void MasterFX::clearStages()
{
    eqEngine_.reset();
    enhance_.reset();
    reverb_.reset();
    limiter_.reset();
    fadeLength_ = fadeRemaining_ = fadePosition_ = 0;
}

void MasterFX::reset()
{
    clearStages();
    // A hard stop leaves nothing to decay: the DC blocker's memories go too.
    for (int c = 0; c < 2; ++c) {
        dcPrevIn_[c] = 0.0f;
        dcPrevOut_[c] = 0.0f;
    }
}

void MasterFX::softReset()
{
    const int n = static_cast<int>(tailLeft_.size());
    if (n == 0) {
        clearStages();
        return;
    }
    std::fill(tailLeft_.begin(), tailLeft_.end(), 0.0f);
    std::fill(tailRight_.begin(), tailRight_.end(), 0.0f);
    float* l = tailLeft_.data();
    float* r = tailRight_.data();
    // n is at most 0.01 x rate, far below the block capacity of every stage.
    runStages(l, r, static_cast<unsigned>(n));
    limiter_.process(l, r, static_cast<unsigned>(n));
    for (int i = 0; i < n; ++i) {
        l[i] *= outputGain;
        r[i] *= outputGain;
    }
    clearStages();
    fadeLength_ = n;
    fadeRemaining_ = n;
    fadePosition_ = 0;
}

} // namespace vesk
