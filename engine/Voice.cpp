#include "Voice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vesk {
namespace {

constexpr double kLn10Over20 = 2.302585092994046 / 20.0;
constexpr float kMinVolumeDb = -48.0f; // below this the knob means silence
constexpr float kSilentDb = -150.0f;
constexpr float kMaxVolumeDb = 6.0f;
// Highest level a volume envelope may add; the editor offers up to +12 dB.
constexpr float kMaxEnvelopeDb = 24.0f;
constexpr double kMaxCount = 4.0e18; // bound for sample counts computed in double

float finiteOr(float v, float fallback)
{
    return std::isfinite(v) ? v : fallback;
}
float readOr(const float* p, float fallback)
{
    return p != nullptr ? finiteOr(*p, fallback) : fallback;
}

bool envelopeOn(const EnvelopeData* env)
{
    return env != nullptr && env->active();
}

int64_t truncCount(double v)
{
    if (!(v > 0.0))
        return 0;
    return int64_t(std::min(v, kMaxCount));
}

} // namespace

float evaluateEnvelope(const EnvelopeData& env, float t, float startValue)
{
    const uint32_t n = std::min<uint32_t>(env.count, kMaxEnvelopePoints);
    if (n == 0)
        return 0.0f;
    const EnvelopePoint* p = env.points;
    float v = 0.0f;
    if (t <= p[0].x) {
        v = p[0].x > 0.0f ? startValue + (t / p[0].x) * (p[0].y - startValue) : p[0].y;
    } else if (t >= p[n - 1].x) {
        v = p[n - 1].y;
    } else {
        for (uint32_t i = 0; i + 1 < n; ++i) {
            const float x0 = p[i].x;
            const float x1 = p[i + 1].x;
            if (x0 <= t && t <= x1) {
                v = x1 - x0 > 0.0f ? p[i].y + (t - x0) / (x1 - x0) * (p[i + 1].y - p[i].y) : p[i].y;
                break;
            }
        }
    }
    // Points come from saved state and messages: a non-finite value counts as no change.
    return std::isfinite(v) ? v : startValue;
}

void Voice::trigger(const SampleData* sample_, const float* volumeBase_, float volumeOffsetDb_,
                    const float* panBase_, float panOffset_, const float* pitchBase_,
                    float pitchOffset_, float delayMs, float startPercent, bool reverse_,
                    double sampleRate_, const EnvelopeData* volumeEnv_, const EnvelopeData* panEnv_,
                    const EnvelopeData* pitchEnv_, const float* hpfHz_, const float* lpfHz_,
                    const EnvelopeData* hpfEnv_, const EnvelopeData* lpfEnv_, float fadeIn,
                    float fadeOut)
{
    const uint64_t length = sample_ != nullptr ? playableLength(*sample_) : 0;
    if (length == 0) {
        end();
        return;
    }
    sample = sample_;
    volumeBase = volumeBase_;
    panBase = panBase_;
    pitchBase = pitchBase_;
    volumeOffsetDb = finiteOr(volumeOffsetDb_, 0.0f);
    panOffset = finiteOr(panOffset_, 0.0f);
    pitchOffset = finiteOr(pitchOffset_, 0.0f);
    volumeEnv = volumeEnv_;
    panEnv = panEnv_;
    pitchEnv = pitchEnv_;
    hpfHz = hpfHz_;
    lpfHz = lpfHz_;
    hpfEnv = hpfEnv_;
    lpfEnv = lpfEnv_;
    reverse = reverse_;
    sampleRate = std::isfinite(sampleRate_) && sampleRate_ >= 1.0 ? sampleRate_ : 48000.0;
    const double rate = sample_->audio->sampleRate;
    fileRate = std::isfinite(rate) && rate >= 1.0 ? rate : sampleRate;

    // Start frame in double and clamped, so a long file or an odd percentage cannot overflow or
    // start outside the region.
    const double percent = std::clamp(double(finiteOr(startPercent, 0.0f)), 0.0, 100.0);
    const int64_t len = int64_t(length);
    const int64_t o = std::clamp<int64_t>(int64_t(percent * double(len) * 0.01), 0, len);
    position = reverse ? len - 1 - o : o;
    startPosition = position;
    runLength = uint64_t(len - o);

    delayRemaining = truncCount(sampleRate * double(finiteOr(delayMs, 0.0f)) * 0.001);

    const double semis = std::clamp(double(readOr(pitchBase, 0.0f) + pitchOffset),
                                    double(kMinPitchSemitones), double(kMaxPitchSemitones));
    const double p = std::exp2(semis / 12.0);
    const double expected = truncCount(sampleRate * double(runLength) / (fileRate * p));

    const double fin = std::clamp(double(finiteOr(fadeIn, 0.0f)), 0.0, 0.5);
    const double fout = std::clamp(double(finiteOr(fadeOut, 0.0f)), 0.0, 0.5);
    fadeInLength = truncCount(fin * expected);
    if (o > 0)
        fadeInLength = std::max(fadeInLength, truncCount(sampleRate * 0.005));
    fadeInRemaining = fadeInLength;
    fadeOutLength = truncCount(fout * expected);
    fadeOutStart = int64_t(expected) >= fadeOutLength ? int64_t(expected) - fadeOutLength : 0;

    outputCount = 0;
    stopRemaining = 0;
    stopLength = 0;
    hpState[0] = hpState[1] = SvfState{};
    lpState[0] = lpState[1] = SvfState{};
    resampler.reset();
    resampler.setRates(fileRate * p, sampleRate);
    cache = ParameterCache{};
    tailRemaining = SincResampler::kHalfTaps;
    state = kPlaying;
}

void Voice::beginStop()
{
    if (state != kPlaying)
        return;
    stopLength = std::max(int32_t(std::min(sampleRate * 0.005, 1e6)), int32_t(16));
    stopRemaining = stopLength;
    state = kStopping;
}

void Voice::end()
{
    state = kIdle;
    sample = nullptr;
}

float Voice::playbackProgress() const
{
    if (state != kPlaying || sample == nullptr)
        return 0.0f;
    const uint64_t length = playableLength(*sample);
    if (length == 0)
        return 0.0f;
    return std::clamp(float(double(position) / double(length)), 0.0f, 1.0f);
}

float Voice::envelopeProgress() const
{
    if (state != kPlaying || runLength == 0)
        return 0.0f;
    const double moved =
        reverse ? double(startPosition - position) : double(position - startPosition);
    return std::clamp(float(moved / double(runLength)), 0.0f, 1.0f);
}

void Voice::updateParameters()
{
    // Each transcendental is worked out again only when what it is taken of has changed (with
    // an envelope on, this runs every 64 frames and most inputs stay put).
    ParameterCache& k = cache;
    float v = readOr(volumeBase, 0.0f) + volumeOffsetDb;
    v = v < kMinVolumeDb ? kSilentDb : std::min(v, kMaxVolumeDb);
    if (!(v == k.volumeDb)) {
        k.volumeDb = v;
        k.volumeGain = std::exp(double(v) * kLn10Over20);
    }
    const double g = k.volumeGain;
    const float panKnob = readOr(panBase, 0.0f) + panOffset;
    double pan = panKnob < -100.0f ? -1.0 : double(std::min(panKnob, 100.0f)) * 0.01;
    double semis = double(readOr(pitchBase, 0.0f)) + double(pitchOffset);

    // Progress along the run, for the envelopes.
    const bool anyEnvelope = envelopeOn(volumeEnv) || envelopeOn(panEnv) || envelopeOn(pitchEnv) ||
                             envelopeOn(hpfEnv) || envelopeOn(lpfEnv);
    float t = 0.0f;
    if (anyEnvelope && state == kPlaying && runLength > 0) {
        const double moved =
            reverse ? double(startPosition - position) : double(position - startPosition);
        t = std::clamp(float(moved / double(runLength)), 0.0f, 1.0f);
    }
    if (envelopeOn(pitchEnv))
        semis += evaluateEnvelope(*pitchEnv, t, 0.0f);
    double m = 1.0;
    if (envelopeOn(volumeEnv)) {
        const float db = std::min(evaluateEnvelope(*volumeEnv, t, 0.0f), kMaxEnvelopeDb);
        if (!(db == k.envelopeDb)) {
            k.envelopeDb = db;
            k.envelopeGain = std::exp(double(db) * kLn10Over20);
        }
        m = k.envelopeGain;
    }
    if (envelopeOn(panEnv))
        pan = std::clamp(pan + double(evaluateEnvelope(*panEnv, t, 0.0f)) * 0.01, -1.0, 1.0);

    if (!(pan == k.pan)) {
        k.pan = pan;
        const double theta = (pan + 1.0) * M_PI * 0.25;
        k.cosTheta = std::cos(theta);
        k.sinTheta = std::sin(theta);
    }
    gainL = m * k.cosTheta * g * M_SQRT2;
    gainR = m * k.sinTheta * g * M_SQRT2;

    float h = readOr(hpfHz, 0.0f);
    float l = readOr(lpfHz, 20000.0f);
    if (envelopeOn(hpfEnv))
        h = evaluateEnvelope(*hpfEnv, t, h);
    if (envelopeOn(lpfEnv))
        l = evaluateEnvelope(*lpfEnv, t, l);
    useHp = h > 0.0f;
    useLp = l < 20000.0f;
    if (useHp && !(h == k.highPassHz)) {
        k.highPassHz = h;
        hpCoeffs =
            filterMemo != nullptr ? filterMemo->get(h, sampleRate) : svfCoefficients(h, sampleRate);
    }
    if (useLp && !(l == k.lowPassHz)) {
        k.lowPassHz = l;
        lpCoeffs =
            filterMemo != nullptr ? filterMemo->get(l, sampleRate) : svfCoefficients(l, sampleRate);
    }

    semis = std::clamp(semis, double(kMinPitchSemitones), double(kMaxPitchSemitones));
    if (!(semis == k.semitones)) {
        k.semitones = semis;
        k.pitchFactor = std::exp2(semis / 12.0);
    }
    const double inRate = std::max(fileRate * k.pitchFactor, 1.0);
    const double outRate = std::max(sampleRate, 1.0);
    if (inRate != resampler.inRate() || outRate != resampler.outRate())
        resampler.setRates(inRate, outRate);
}

float Voice::render(float* left, float* right, uint32_t frames, const KnobChanges* changes)
{
    if (state != kPlaying && state != kStopping)
        return 0.0f;
    const uint64_t length = sample != nullptr ? playableLength(*sample) : 0;
    if (length == 0) {
        // The region was emptied under the voice: nothing more can sound.
        end();
        return 0.0f;
    }
    // A stop that arrives before the first sample has nothing to fade.
    if (state == kStopping && delayRemaining > 0) {
        end();
        return 0.0f;
    }

    uint32_t written = 0;
    if (delayRemaining >= 1) {
        const int64_t d = std::min<int64_t>(delayRemaining, frames);
        delayRemaining -= d;
        written = uint32_t(d);
        if (written >= frames)
            return 0.0f;
    }

    const RawAudioData& audio = *sample->audio;
    const int64_t len = int64_t(length);
    const int64_t base = regionStart(*sample);
    const int channels = audio.channels == 2 ? 2 : 1;
    const float* srcL = audio.left.data();
    const int64_t sizeL = int64_t(audio.left.size());
    const float* srcR = channels == 2 ? audio.right.data() : nullptr;
    const int64_t sizeR = channels == 2 ? int64_t(audio.right.size()) : 0;

    // Copies region frames [first, first + n) (or downwards from `first` when reversed) into the
    // resampler, reading 0 outside a channel.
    auto feedChannel = [&](float* dst, const float* src, int64_t size, int64_t first, int n) {
        if (!reverse) {
            const int64_t a = base + first;
            const int64_t lo = std::clamp<int64_t>(a, 0, size);
            const int64_t hi = std::clamp<int64_t>(a + n, 0, size);
            int k = 0;
            for (; k < int(lo - a) && k < n; ++k)
                dst[k] = 0.0f;
            if (hi > lo) {
                std::memcpy(dst + k, src + lo, size_t(hi - lo) * sizeof(float));
                k += int(hi - lo);
            }
            for (; k < n; ++k)
                dst[k] = 0.0f;
        } else {
            const int64_t a = base + first;
            for (int k = 0; k < n; ++k) {
                const int64_t idx = a - k;
                dst[k] = idx >= 0 && idx < size ? src[idx] : 0.0f;
            }
        }
    };

    // Interpolated frames gather in these buffers, with the parameters of each stretch, and go
    // through the fades, filters and mix together: with an envelope the parameters change every
    // few dozen frames, and the filters then still run as one recursion.
    alignas(32) float outL[kChunkFrames];
    alignas(32) float outR[kChunkFrames];
    alignas(32) double fadeGain[kChunkFrames];
    float* const outs[2] = {outL, outR};
    constexpr int kMaxSegments = int(kChunkFrames / kEnvelopeStepFrames) + 8;
    // Left unset: every segment is written whole before it is used, and this runs for every
    // render of every voice.
    union SegmentStore
    {
        SegmentStore() {}
        VoiceMixSegment items[kMaxSegments];
    } segmentStore;
    VoiceMixSegment* const segments = segmentStore.items;
    int segmentCount = 0;
    int batched = 0;
    uint32_t batchStart = written;
    bool batchFading = false, batchHp = false, batchLp = false;
    float peak = 0.0f;
    auto flush = [&] {
        if (segmentCount > 0) {
            VoiceMixChunk mix;
            mix.in[0] = outL;
            mix.in[1] = outR;
            mix.channels = channels;
            mix.fadeGain = batchFading ? fadeGain : nullptr;
            mix.highPass = batchHp;
            mix.lowPass = batchLp;
            mix.highPassState = hpState;
            mix.lowPassState = lpState;
            mix.segments = segments;
            mix.segmentCount = segmentCount;
            mix.outLeft = left + batchStart;
            mix.outRight = right + batchStart;
            peak = std::max(peak, mixVoiceChunk(mix));
        }
        batchStart += uint32_t(batched);
        batched = 0;
        segmentCount = 0;
        batchFading = false;
    };

    // With an envelope on, the parameters move on a grid of the voice's own output frames, so
    // the sound does not depend on the blocks it is rendered in; otherwise they follow the knobs
    // at every chunk.
    const bool stepped = envelopeOn(volumeEnv) || envelopeOn(panEnv) || envelopeOn(pitchEnv) ||
                         envelopeOn(hpfEnv) || envelopeOn(lpfEnv);
    // Knob changes inside the call: each stretch starts where a separate call would.
    const uint32_t changeCount =
        changes != nullptr && changes->apply != nullptr && changes->frames != nullptr
            ? changes->count
            : 0;
    uint32_t nextChange = 0;
    // Without an envelope the interpolator's rate moves only with the pitch knob, so it runs on
    // past changes that leave the pitch alone: frames made ahead wait at outs[c] + batched.
    const uint8_t* const moves = changes != nullptr ? changes->moves : nullptr;
    uint32_t nextPitchChange = 0;
    int ready = 0;
    bool dry = false; // the input ran out while the frames ahead were made
    while (written < frames) {
        while (nextChange < changeCount && changes->frames[nextChange] <= written)
            changes->apply(changes->context, nextChange++);
        const uint32_t until =
            nextChange < changeCount ? std::min(changes->frames[nextChange], frames) : frames;
        uint32_t chunk = std::min(until - written, kChunkFrames);
        const uint32_t intoStep =
            stepped ? uint32_t(outputCount % int64_t(kEnvelopeStepFrames)) : 0;
        if (stepped)
            chunk = std::min(chunk, kEnvelopeStepFrames - intoStep);

        if (!stepped || intoStep == 0)
            updateParameters();
        // A stretch joins the gathered ones while they have room and the same filters run.
        if (segmentCount > 0 &&
            (uint32_t(batched) + chunk > kChunkFrames || segmentCount == kMaxSegments ||
             useHp != batchHp || useLp != batchLp)) {
            const int from = batched;
            flush();
            for (int c = 0; c < channels && ready > 0; ++c)
                std::memmove(outs[c], outs[c] + from, size_t(ready) * sizeof(float));
        }
        batchHp = useHp;
        batchLp = useLp;
        float* const at[2] = {outs[0] + batched, outs[1] + batched};

        // How far the interpolator may run at its present rate: this chunk, or on to the next
        // change of the pitch (within the call and the gathering buffers).
        uint32_t ahead = chunk;
        if (!stepped && moves != nullptr && ready == 0) {
            while (nextPitchChange < changeCount &&
                   (nextPitchChange < nextChange ||
                    (moves[nextPitchChange] & KnobChanges::kMovesPitch) == 0))
                ++nextPitchChange;
            const uint32_t to = nextPitchChange < changeCount
                                    ? std::min(changes->frames[nextPitchChange], frames)
                                    : frames;
            // (Changes out of order count as at this chunk's end.)
            ahead = std::max(chunk, std::min(to > written ? to - written : 0u,
                                             kChunkFrames - uint32_t(batched)));
        }

        // Pull frames through the interpolator until they are all there or the input runs out.
        int produced = ready;
        bool exhausted = dry;
        while (produced < int(ahead) && !exhausted) {
            const int want = int(ahead) - produced;
            int need = resampler.inputNeeded(want);
            int fed = 0;
            if (need > 0) {
                const int64_t avail = reverse ? std::max<int64_t>(position + 1, 0)
                                              : std::max<int64_t>(len - position, 0);
                const int n = int(std::min<int64_t>(need, avail));
                if (n > 0) {
                    feedChannel(resampler.inputWrite(0), srcL, sizeL, position, n);
                    if (channels == 2)
                        feedChannel(resampler.inputWrite(1), srcR, sizeR, position, n);
                    position += reverse ? -n : n;
                    fed = n;
                }
                // Past the region's end, a few zeros let its last frames through the kernel.
                const int zeros = std::min(need - fed, int(tailRemaining));
                if (zeros > 0) {
                    for (int c = 0; c < channels; ++c)
                        std::fill(resampler.inputWrite(c) + fed,
                                  resampler.inputWrite(c) + fed + zeros, 0.0f);
                    tailRemaining -= zeros;
                    fed += zeros;
                }
                resampler.commitInput(fed);
            }
            float* const dst[2] = {at[0] + produced, at[1] + produced};
            const int got = resampler.process(dst, channels, want);
            produced += got;
            if (got == 0) {
                exhausted = true;
                break;
            }
        }
        // This chunk takes its frames; the rest wait for the next ones.
        dry = exhausted;
        ready = std::max(produced - int(chunk), 0);
        produced -= ready;
        exhausted = exhausted && produced < int(chunk);

        // Per sample: fades and stop fade (a gain of exactly 1 where none runs).
        const bool fading =
            fadeInRemaining >= 1 || state == kStopping ||
            (fadeOutLength >= 1 && produced > 0 && outputCount + produced - 1 >= fadeOutStart);
        if (fading && !batchFading) {
            std::fill(fadeGain, fadeGain + batched, 1.0);
            batchFading = true;
        }
        if (batchFading) {
            double* gainAt = fadeGain + batched;
            const double fadeInLen = double(fadeInLength);
            const double fadeOutLen = double(fadeOutLength);
            const double stopLen = double(std::max(stopLength, int32_t(1)));
            for (int i = 0; i < produced; ++i) {
                double gainAll = 1.0;
                if (fadeInRemaining >= 1) {
                    gainAll *= 1.0 - double(fadeInRemaining) / fadeInLen;
                    --fadeInRemaining;
                }
                const int64_t count = outputCount + i;
                if (fadeOutLength >= 1 && count >= fadeOutStart) {
                    const int64_t into = count - fadeOutStart;
                    gainAll *= into >= fadeOutLength ? 0.0 : 1.0 - double(into) / fadeOutLen;
                }
                if (state == kStopping) {
                    gainAll *= stopRemaining < 1 ? 0.0 : double(stopRemaining) / stopLen;
                    --stopRemaining;
                }
                gainAt[i] = gainAll;
            }
        }
        outputCount += produced;

        if (produced > 0) {
            VoiceMixSegment& seg = segments[segmentCount++];
            seg.frames = produced;
            seg.gainLeft = gainL;
            seg.gainRight = gainR;
            seg.highPass = hpCoeffs;
            seg.lowPass = lpCoeffs;
            batched += produced;
        }
        written += uint32_t(produced);

        if (state == kStopping && stopRemaining < 1) {
            flush();
            end();
            break;
        }
        if (exhausted || produced < int(chunk)) {
            flush();
            end();
            break;
        }
    }
    flush();
    return peak;
}

} // namespace vesk
