#include "Sampler.h"

#include "CpuFeatures.h"
#include "TriggerSeed.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#if VESK_HAS_AVX2_BUILD
#include <immintrin.h>
#endif

namespace vesk {

namespace {

constexpr double kDbToNeper = 0.11512925464970228420089957273422; // ln(10) / 20
constexpr uint64_t kOutputMultiplier = 0x2545F4914F6CDD1DULL;
constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2 = 1.41421356237309504880;

// Grain pitch is held within the range a voice accepts, so a wild knob value cannot overflow the
// read position.
constexpr double kMinGrainSemitones = -120.0;
constexpr double kMaxGrainSemitones = 60.0;

float clampf(float x, float lo, float hi)
{
    return x < lo ? lo : (x > hi ? hi : x);
}

// Truncation toward zero; a value that is not a number reads as 0 and huge values saturate.
int64_t truncToInt64(double x)
{
    if (!(x == x))
        return 0;
    if (x >= 9.0e18)
        return INT64_C(9000000000000000000);
    if (x <= -9.0e18)
        return -INT64_C(9000000000000000000);
    return static_cast<int64_t>(x);
}

// The uniform number [0, 1) of a generator state that has already been stepped to.
double uniformOfState(uint64_t state)
{
    return static_cast<double>((state * kOutputMultiplier) >> 11) * 0x1.0p-53;
}

double bipolarOfState(uint64_t state)
{
    return uniformOfState(state) * 2.0 - 1.0;
}

double bipolarDraw(XS64Rand& rng)
{
    rng.next();
    return bipolarOfState(rng.state);
}

// Linear gain of a level in dB, silent below `floorDb` (and for a level that is not a number),
// at most +6 dB.
float gainOfDb(double db, double floorDb)
{
    const double limited = !(db >= floorDb) ? -150.0 : std::min(db, 6.0);
    return static_cast<float>(std::exp(limited * kDbToNeper));
}

// Indices of the playable regions among the first 64 of a list, ascending.
int collectPlayable(const SamplePool& pool, int* out)
{
    const size_t n = std::min<size_t>(pool.samples.size(), kMaxSamplesPerPool);
    int count = 0;
    for (size_t i = 0; i < n; ++i)
        if (isPlayable(pool.samples[i]))
            out[count++] = static_cast<int>(i);
    return count;
}

float durationMsOf(const SampleData& region)
{
    const uint64_t frames = playableLength(region);
    if (frames == 0 || !(region.audio->sampleRate > 0.0))
        return 0.0f;
    return static_cast<float>(static_cast<double>(frames) * 1000.0 / region.audio->sampleRate);
}

bool validPool(int pool)
{
    return pool >= 0 && pool < kNumPools;
}

// Hann window 0.5 - 0.5 cos(2 pi t) at t = i / kHannSteps, for linear interpolation. The error
// against the exact window stays below 2e-7. The table runs on past the window's end so nine
// neighbouring entries can be loaded from any step of the window.
constexpr int kHannSteps = 4096;
constexpr int kHannEntries = kHannSteps + 16;

struct HannTable
{
    // The window's values, then from kHannEntries on its slopes: values[i + 1] - values[i],
    // scaled by 2^-24 (exactly) to take a 24-bit fraction as it is.
    float values[2 * kHannEntries];
    HannTable()
    {
        for (int i = 0; i < kHannEntries; ++i)
            values[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * i / kHannSteps));
        for (int i = 0; i + 1 < kHannEntries; ++i)
            values[kHannEntries + i] = (values[i + 1] - values[i]) * 0x1p-24f;
        values[2 * kHannEntries - 1] = 0.0f;
    }
};

const HannTable& hannTable()
{
    static const HannTable table;
    return table;
}

} // namespace

Sampler::Sampler()
{
    hannTable(); // built here, on the main thread, not at the first grain
    for (SamplePool& pool : pools)
        pool.samples.reserve(kMaxSamplesPerPool);
    for (int p = 0; p < kNumPools; ++p)
        for (Voice& voice : voices[p])
            voice.filterMemo = &filterMemos[p];
}

void Sampler::setSampleRate(double rateHz)
{
    if (!(rateHz > 0.0) || !std::isfinite(rateHz))
        return;
    sampleRate = rateHz;
    grainRate = rateHz;
}

// ---------------------------------------------------------------------------------------------
// Drawing

VoiceParams Sampler::evaluatePoolParams(SamplePool& pool, XS64Rand& rng, int note)
{
    VoiceParams params;
    int playable[kMaxSamplesPerPool];
    const int count = collectPlayable(pool, playable);
    if (count == 0)
        return params;

    int pick;
    if (count == 1) {
        pick = playable[0];
    } else {
        int candidates[kMaxSamplesPerPool];
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const int index = playable[i];
            if (index == pool.lastPick)
                continue;
            if (count >= 3 && index == pool.prevPick)
                continue;
            candidates[n++] = index;
        }
        if (n == 1)
            pick = candidates[0];
        else
            pick = candidates[rng.next() % static_cast<uint64_t>(n)];
    }
    pool.prevPick = pool.lastPick;
    pool.lastPick = pick;
    params.sampleIndex = static_cast<uint64_t>(pick);

    float pitch = pool.pitch.evaluate(rng, 12.0f);
    if (pool.pitchTrack)
        pitch += static_cast<float>(note - 60);
    params.pitchOffset = pitch - pool.pitch.base;
    params.pitchRatio = static_cast<float>(std::pow(2.0, static_cast<double>(pitch) / 12.0));

    const float volume = pool.volume.evaluate(rng, 20.0f);
    params.volumeOffsetDb = volume - pool.volume.base;
    params.gain = gainOfDb(volume, -60.0);

    const float pan = pool.pan.evaluate(rng, 100.0f);
    params.panOffset = pan - pool.pan.base;
    const float delay = pool.delay.evaluateUnipolar(rng, 3000.0f);
    params.pan = clampf(pan, -100.0f, 100.0f);
    params.delayMs = clampf(delay, 0.0f, 3000.0f);
    params.startPercent = clampf(pool.start.evaluateUnipolar(rng, 100.0f), 0.0f, 100.0f);

    if (pool.reverseChance >= 100.0f)
        params.reverse = true;
    else if (pool.reverseChance <= 0.0f)
        params.reverse = false;
    else
        params.reverse = rng.uniform() * 100.0 < static_cast<double>(pool.reverseChance);

    params.valid = true;
    return params;
}

// ---------------------------------------------------------------------------------------------
// Triggering

void Sampler::trigger(uint64_t seed, int note)
{
    lastSeed = seed;
    XS64Rand rng;
    rng.state = seed > 1 ? seed : 1;

    int clouds[kNumPools];
    int cloudCount = 0;
    for (int i = 0; i < kNumPools; ++i) {
        SamplePool& pool = pools[i];
        if (pool.samples.empty())
            continue;
        const unsigned bit = 1u << i;
        if (pool.grainCloud) {
            if ((muteMask & bit) != 0 || (soloMask != 0 && (soloMask & bit) == 0))
                continue;
            clouds[cloudCount++] = i;
            continue;
        }
        if ((freezeMask & bit) != 0 && frozenParams[i].valid) {
            const VoiceParams& frozen = frozenParams[i];
            if (frozen.sampleIndex < pool.samples.size() &&
                isPlayable(pool.samples[frozen.sampleIndex]))
                triggerVoiceAndUpdateCache(i, frozen);
            continue;
        }
        const VoiceParams params = evaluatePoolParams(pool, rng, note);
        if (!params.valid)
            continue;
        lastParams[i] = params;
        triggerVoiceAndUpdateCache(i, params);
    }
    if (cloudCount > 0)
        emitWalkCloud(rng, clouds, cloudCount, note);
}

void Sampler::triggerSalted(uint64_t salt, uint64_t seed, int note)
{
    trigger(drawSeed(salt, seed), note);
    lastSeed = seed;
}

void Sampler::triggerVoiceAndUpdateCache(int poolIndex, const VoiceParams& params)
{
    if (!validPool(poolIndex))
        return;
    SamplePool& pool = pools[poolIndex];
    if (params.sampleIndex >= pool.samples.size())
        return;
    Voice* voicesOfPool = voices[poolIndex];

    Voice* voice;
    if (retriggerMode) {
        for (int v = 0; v < kVoicesPerPool; ++v)
            voicesOfPool[v].beginStop();
        voice = &voicesOfPool[0];
    } else {
        voice = nullptr;
        for (int v = 0; v < kVoicesPerPool && voice == nullptr; ++v)
            if (!voicesOfPool[v].isActive())
                voice = &voicesOfPool[v];
        if (voice == nullptr) {
            int32_t& cursor = stealCursor[poolIndex];
            cursor = ((cursor % kVoicesPerPool) + kVoicesPerPool) % kVoicesPerPool;
            voice = &voicesOfPool[cursor];
            cursor = (cursor + 1) % kVoicesPerPool;
        }
    }

    const SampleData& region = pool.samples[params.sampleIndex];
    voice->trigger(&region, &pool.volume.base, params.volumeOffsetDb, &pool.pan.base,
                   params.panOffset, &pool.pitch.base, params.pitchOffset, params.delayMs,
                   params.startPercent, params.reverse, sampleRate, &pool.volumeEnv, &pool.panEnv,
                   &pool.pitchEnv, &pool.hpfHz, &pool.lpfHz, &pool.hpfEnv, &pool.lpfEnv,
                   pool.fadeIn, pool.fadeOut);

    LastTrigger& last = pool.lastTrigger;
    last.sampleIndex = static_cast<int32_t>(params.sampleIndex);
    last.durationMs = durationMsOf(region);
    showRegionPeaks(poolIndex, static_cast<int>(params.sampleIndex));
    last.gain = params.gain;
    last.pitchRatio = params.pitchRatio;
    last.pan = params.pan;
    last.delayMs = params.delayMs;
    last.startPercent = params.startPercent;
    last.reverse = params.reverse;
    last.volumeBase = pool.volume.base;
    last.pitchBase = pool.pitch.base;
    last.panBase = pool.pan.base;
    last.delayBase = pool.delay.base;
    last.startBase = pool.start.base;
    last.hasValue = true;
}

void Sampler::emitWalkCloud(XS64Rand& rng, const int* poolList, int count, int note)
{
    const double sr = grainRate;
    const double spacingExact = sr * 30.0 * 0.001;
    const int64_t spacing = std::max<int64_t>(truncToInt64(spacingExact), 1);
    const double positionJitter = sr * 20.0 * 0.001;
    const double delayJitter = sr * 10.0 * 0.001;
    int freeSlotHint = 0;

    for (int c = 0; c < count; ++c) {
        const int i = poolList[c];
        if (!validPool(i))
            continue;
        SamplePool& pool = pools[i];
        int playable[kMaxSamplesPerPool];
        const int playableCount = collectPlayable(pool, playable);
        if (playableCount == 0)
            continue;

        int regionIndex = -1;
        if ((freezeMask & (1u << i)) != 0 && frozenParams[i].valid)
            for (int k = 0; k < playableCount; ++k)
                if (static_cast<uint64_t>(playable[k]) == frozenParams[i].sampleIndex)
                    regionIndex = playable[k];
        if (regionIndex < 0) {
            regionIndex = playable[rng.next() % static_cast<uint64_t>(playableCount)];
            lastParams[i].sampleIndex = static_cast<uint64_t>(regionIndex);
            lastParams[i].valid = true;
        }
        const SampleData& region = pool.samples[static_cast<size_t>(regionIndex)];
        const int64_t length = static_cast<int64_t>(playableLength(region));

        bool backwards;
        if (pool.reverseChance >= 100.0f)
            backwards = true;
        else if (pool.reverseChance <= 0.0f)
            backwards = false;
        else
            backwards = static_cast<double>(pool.reverseChance) > rng.uniform() * 100.0;
        const int direction = backwards ? -1 : 1;

        const double startPercent = clampf(pool.start.base, 0.0f, 100.0f);
        int64_t start = truncToInt64(static_cast<double>(length) * startPercent * 0.01);
        start = std::clamp<int64_t>(start, 0, length - 1);

        const int64_t distance = backwards ? start : length - start;
        const int64_t grainCount =
            std::clamp<int64_t>(truncToInt64(static_cast<double>(distance) / spacingExact), 1, 100);

        WalkState& walk = walks[i];
        walk.active = true;
        walk.startFrame = start;
        walk.regionLength = static_cast<uint64_t>(length);
        walk.direction = static_cast<float>(direction);
        walk.steps = 0;
        walk.distance = std::max<int64_t>(distance, 1);

        double pitchCentre = pool.pitch.base;
        if (pool.pitchTrack)
            pitchCentre += note - 60;
        const double volumeCentre = static_cast<double>(pool.volume.base) - 12.0;
        const double panCentre = static_cast<double>(pool.pan.base) * 0.01;

        for (int64_t k = 0; k < grainCount; ++k) {
            const uint64_t s1 = (rng.next(), rng.state);
            const uint64_t s2 = (rng.next(), rng.state);
            const uint64_t s3 = (rng.next(), rng.state);

            const int64_t offset = truncToInt64(static_cast<double>(direction * k * spacing) +
                                                bipolarOfState(s1) * positionJitter);
            const int64_t position = std::clamp<int64_t>(start + offset, 0, length - 1);

            double semitones = pitchCentre;
            if (pool.pitch.enabled)
                semitones += bipolarDraw(rng) * 12.0 * pool.pitch.range;
            if (!(semitones == semitones))
                semitones = 0.0;
            semitones = std::clamp(semitones, kMinGrainSemitones, kMaxGrainSemitones);
            const float rate = static_cast<float>(std::pow(2.0, semitones / 12.0));

            double volume = volumeCentre;
            if (pool.volume.enabled)
                volume += bipolarDraw(rng) * 20.0 * pool.volume.range;
            const float gain = gainOfDb(volume, -48.0);

            double pan = panCentre;
            if (pool.pan.enabled)
                pan += bipolarDraw(rng) * pool.pan.range;
            pan = !(pan == pan) ? 0.0 : std::clamp(pan, -1.0, 1.0);
            const double theta = (pan + 1.0) * kPi * 0.25;

            const int64_t grainLength =
                truncToInt64(sr * (uniformOfState(s3) * 150.0 + 100.0) * 0.001);
            if (grainLength <= 0)
                continue;
            const int64_t delay =
                std::max<int64_t>(k * spacing + truncToInt64(bipolarOfState(s2) * delayJitter), 0);

            // First inactive slot. Slots before the hint were found busy (or filled) earlier in
            // this call and nothing frees a slot meanwhile, so starting there finds the same one.
            for (; freeSlotHint < kMaxGrains; ++freeSlotHint) {
                CloudGrain& grain = grains[freeSlotHint];
                if (grain.active.load(std::memory_order_relaxed))
                    continue;
                grain.sample = &region;
                grain.startFrame = position;
                grain.rate = rate;
                grain.lengthSamples = grainLength;
                grain.delaySamples = delay;
                grain.gain = gain;
                grain.panL = static_cast<float>(std::cos(theta) * kSqrt2);
                grain.panR = static_cast<float>(std::sin(theta) * kSqrt2);
                grain.elapsed = 0;
                grain.pool = i;
                grain.active.store(true, std::memory_order_release);
                ++freeSlotHint;
                break;
            }
        }
    }
}

void Sampler::playSample(int poolIndex, int sampleIndex)
{
    if (!validPool(poolIndex) || sampleIndex < 0)
        return;
    SamplePool& pool = pools[poolIndex];
    if (static_cast<size_t>(sampleIndex) >= pool.samples.size())
        return;
    const SampleData& region = pool.samples[static_cast<size_t>(sampleIndex)];
    if (!isPlayable(region))
        return;

    for (Voice& voice : voices[poolIndex])
        voice.beginStop();
    const float delayMs = clampf(pool.delay.base, 0.0f, 3000.0f);
    const float startPercent = clampf(pool.start.base, 0.0f, 100.0f);
    const bool reverse = pool.reverseChance >= 50.0f;
    voices[poolIndex][0].trigger(
        &region, &pool.volume.base, 0.0f, &pool.pan.base, 0.0f, &pool.pitch.base, 0.0f, delayMs,
        startPercent, reverse, sampleRate, &pool.volumeEnv, &pool.panEnv, &pool.pitchEnv,
        &pool.hpfHz, &pool.lpfHz, &pool.hpfEnv, &pool.lpfEnv, pool.fadeIn, pool.fadeOut);

    LastTrigger& last = pool.lastTrigger;
    last.sampleIndex = sampleIndex;
    last.durationMs = durationMsOf(region);
    showRegionPeaks(poolIndex, sampleIndex);
    last.gain = gainOfDb(pool.volume.base, -48.0);
    last.volumeBase = pool.volume.base;
    last.startPercent = startPercent;
    last.startBase = pool.start.base;
}

void Sampler::replay()
{
    for (int j = 0; j < kNumPools; ++j) {
        SamplePool& pool = pools[j];
        const VoiceParams& drawn = lastParams[j];
        if (pool.samples.empty() || !drawn.valid || drawn.sampleIndex >= pool.samples.size() ||
            !isPlayable(pool.samples[drawn.sampleIndex]))
            continue;
        const LastTrigger& last = pool.lastTrigger;

        VoiceParams p;
        p.sampleIndex = drawn.sampleIndex;
        p.reverse = last.reverse;
        p.valid = true;
        p.pitchRatio =
            pool.pitch.enabled
                ? static_cast<float>(
                      last.pitchRatio *
                      std::pow(2.0, (double(pool.pitch.base) - double(last.pitchBase)) / 12.0))
                : static_cast<float>(std::pow(2.0, double(pool.pitch.base) / 12.0));
        p.gain =
            pool.volume.enabled
                ? static_cast<float>(
                      last.gain *
                      std::exp((double(pool.volume.base) - double(last.volumeBase)) * kDbToNeper))
                : gainOfDb(pool.volume.base, -48.0);
        const float pan =
            pool.pan.enabled ? last.pan + (pool.pan.base - last.panBase) : pool.pan.base;
        p.pan = clampf(pan, -100.0f, 100.0f);
        const float delay = pool.delay.enabled ? last.delayMs + (pool.delay.base - last.delayBase)
                                               : pool.delay.base;
        p.delayMs = clampf(delay, 0.0f, 3000.0f);
        const float start = pool.start.enabled
                                ? last.startPercent + (pool.start.base - last.startBase)
                                : pool.start.base;
        p.startPercent = clampf(start, 0.0f, 100.0f);
        p.volumeOffsetDb = pool.volume.enabled ? drawn.volumeOffsetDb : 0.0f;
        p.panOffset = pool.pan.enabled ? drawn.panOffset : 0.0f;
        p.pitchOffset = pool.pitch.enabled ? drawn.pitchOffset : 0.0f;
        triggerVoiceAndUpdateCache(j, p);
    }
}

void Sampler::resetWalk(int pool)
{
    WalkState& walk = walks[pool];
    walk.active = false;
    walk.startFrame = 0;
    walk.regionLength = 0;
    walk.direction = 1.0f;
    walk.steps = 0;
    walk.distance = 0;
}

void Sampler::stopPool(int pool)
{
    if (!validPool(pool))
        return;
    for (Voice& voice : voices[pool])
        voice.beginStop();
    resetWalk(pool);
}

void Sampler::stop()
{
    for (int i = 0; i < kNumPools; ++i) {
        for (Voice& voice : voices[i])
            voice.beginStop();
        resetWalk(i);
    }
    for (CloudGrain& grain : grains)
        grain.active.store(false, std::memory_order_relaxed);
}

void Sampler::cut()
{
    for (int i = 0; i < kNumPools; ++i)
        cutPoolPlayback(i);
    for (CloudGrain& grain : grains)
        grain.active.store(false, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// Rendering

float Sampler::renderPoolVoices(int pool, float* left, float* right, uint32_t frames)
{
    if (!validPool(pool))
        return 0.0f;
    float peak = 0.0f;
    for (Voice& voice : voices[pool])
        if (voice.isActive())
            peak = std::max(peak, voice.render(left, right, frames));
    poolPeak[pool] = peak;
    return peak;
}

float Sampler::renderPoolVoices(int pool, float* left, float* right, uint32_t frames,
                                const PoolKnobs& start, const uint32_t* cutFrames,
                                const PoolKnobs* cutKnobs, uint32_t cutCount)
{
    if (!validPool(pool))
        return 0.0f;
    SamplePool& p = pools[pool];
    if (cutFrames == nullptr || cutKnobs == nullptr)
        cutCount = 0;
    struct Cuts
    {
        SamplePool* pool;
        const PoolKnobs* knobs;
        static void apply(void* context, uint32_t index)
        {
            const Cuts* c = static_cast<const Cuts*>(context);
            c->knobs[index].applyTo(*c->pool);
        }
    } cuts{&p, cutKnobs};
    KnobChanges changes{cutFrames, cutCount, &Cuts::apply, &cuts};
    // Which cuts move the pitch: the voices' interpolators run on past the others.
    constexpr uint32_t kMaxMoves = 256;
    uint8_t moves[kMaxMoves];
    if (cutCount <= kMaxMoves) {
        float pitch = start.pitch;
        for (uint32_t i = 0; i < cutCount; ++i) {
            const float next = cutKnobs[i].pitch;
            moves[i] = std::memcmp(&next, &pitch, sizeof pitch) != 0 ? KnobChanges::kMovesPitch : 0;
            pitch = next;
        }
        changes.moves = moves;
    }
    float peak = 0.0f;
    for (Voice& voice : voices[pool]) {
        if (!voice.isActive())
            continue;
        start.applyTo(p);
        peak = std::max(peak, voice.render(left, right, frames, &changes));
    }
    (cutCount > 0 ? cutKnobs[cutCount - 1] : start).applyTo(p);
    poolPeak[pool] = peak;
    return peak;
}

void Sampler::renderPoolVoicesSilently(int pool, uint32_t frames)
{
    if (!validPool(pool))
        return;
    constexpr uint32_t kScratchFrames = 1024;
    float scratchLeft[kScratchFrames];
    float scratchRight[kScratchFrames];
    for (Voice& voice : voices[pool]) {
        for (uint32_t done = 0; done < frames && voice.isActive();) {
            const uint32_t n = std::min(kScratchFrames, frames - done);
            std::memset(scratchLeft, 0, n * sizeof(float));
            std::memset(scratchRight, 0, n * sizeof(float));
            voice.render(scratchLeft, scratchRight, n);
            done += n;
        }
    }
    poolPeak[pool] = 0.0f;
}

namespace {

enum class GrainChannels
{
    Mono,        // one channel, read for both sides
    Stereo,      // both channels cover the region
    StereoShort, // the right channel ends inside the region: reads past it are 0
};

// One grain's playback over one block in 32.32 fixed point: output sample i is grain sample
// x0 + i, which reads the source at position + rateStep * (x0 + i) / 2^32 and the window at
// windowStep * (x0 + i) / 2^32 steps. Both are exact products of the grain sample index, so the
// sound does not depend on how the output is cut into blocks.
struct GrainPlayback
{
    const float* hann = nullptr; // HannTable::values
    const float* left = nullptr;
    const float* right = nullptr; // null when the right channel has no frames from the region on
    int64_t leftFrames = 0;       // readable frames of each channel from the region's start
    int64_t rightFrames = 0;
    int64_t position = 0; // region frame of grain sample 0
    int64_t x0 = 0;       // grain sample of output sample 0
    uint64_t rateStep = 0;
    uint64_t windowStep = 0;
    float gainL = 0.0f;
    float gainR = 0.0f;
};

constexpr double kFixedOne = 4294967296.0;       // 2^32
constexpr float kFracScale = 1.0f / 16777216.0f; // 2^-24

// The first grain sample whose read point has advanced `room` frames or more, that is
// (rateStep * x) >> 32 >= room, for room from 1 to 2^30 (where the products stay far inside 64
// bits).
int64_t firstSampleAdvanced(uint64_t rateStep, int64_t room)
{
    if (rateStep == 0)
        return INT64_MAX;
    // (rateStep * x) >> 32 < room exactly while x < ceil(room * 2^32 / rateStep).
    const uint64_t bound = static_cast<uint64_t>(room) << 32;
    return static_cast<int64_t>(bound / rateStep + (bound % rateStep != 0 ? 1 : 0));
}

// The end of the output samples [first, last) whose read point lies before the region's last
// frame `lastFrame`. The read point only moves forwards, so the first sample past it ends the
// grain's sound (the grain still runs out its length in silence).
int64_t audibleEnd(const GrainPlayback& g, int64_t lastFrame, int64_t first, int64_t last)
{
    const int64_t room = std::min<int64_t>(lastFrame - g.position, int64_t{1} << 30);
    if (room <= 0)
        return first;
    const int64_t xEnd = firstSampleAdvanced(g.rateStep, room);
    return xEnd >= g.x0 + last ? last : std::max(xEnd - g.x0, first);
}

// The top 24 bits of a 32.32 position's fraction, as a float in [0, 2^24): exact, and far finer
// than the interpolation needs.
float fraction24(uint64_t fixed)
{
    return static_cast<float>(static_cast<uint32_t>(fixed) >> 8);
}

// Adds output samples [first, last) of a grain, all of which read inside the region, one at a
// time: the build for processors without AVX2 and fused multiply-add.
template <GrainChannels kChannels>
void addGrainScalar(const GrainPlayback& g, int64_t first, int64_t last, float* __restrict outLeft,
                    float* __restrict outRight)
{
    const float* __restrict hann = g.hann;
    const float* __restrict srcLeft = g.left;
    const float* __restrict srcRight = g.right;
    uint64_t r = g.rateStep * static_cast<uint64_t>(g.x0 + first);
    uint64_t t = g.windowStep * static_cast<uint64_t>(g.x0 + first);
    for (int64_t i = first; i < last; ++i, r += g.rateStep, t += g.windowStep) {
        const int64_t f = g.position + static_cast<int64_t>(r >> 32);
        const float frac = fraction24(r) * kFracScale;
        const uint64_t ti = t >> 32;
        const float w = hann[ti] + hann[kHannEntries + ti] * fraction24(t);

        const float a = srcLeft[f];
        const float sl = a + (srcLeft[f + 1] - a) * frac;
        float sr = sl;
        if constexpr (kChannels == GrainChannels::Stereo) {
            const float b = srcRight[f];
            sr = b + (srcRight[f + 1] - b) * frac;
        } else if constexpr (kChannels == GrainChannels::StereoShort) {
            const float b0 = f < g.rightFrames ? srcRight[f] : 0.0f;
            const float b1 = f + 1 < g.rightFrames ? srcRight[f + 1] : 0.0f;
            sr = b0 + (b1 - b0) * frac;
        }
        outLeft[i] += g.gainL * w * sl;
        outRight[i] += g.gainR * w * sr;
    }
}

#if VESK_HAS_AVX2_BUILD
// The same eight output samples at a time. Every sample goes through the same instructions,
// whether its chunk is whole or the block's last, partly masked one, and the multiply-adds are
// fused explicitly rather than left to the compiler: a sample's value does not depend on where
// the host's blocks begin.
//
// Lane j of a chunk is step * j past the chunk's first sample; these hold the whole part of
// step * j plus one, and its fraction.
struct LaneSteps
{
    __m256i wholePlusOne;
    __m256i fraction;
};

[[gnu::always_inline]] VESK_TARGET_AVX2 inline void laneSteps(LaneSteps& lanes, uint64_t step)
{
    alignas(32) int32_t whole[8];
    alignas(32) int32_t fraction[8];
    for (int j = 0; j < 8; ++j) {
        const uint64_t s = step * static_cast<uint64_t>(j);
        whole[j] = static_cast<int32_t>(s >> 32) + 1;
        fraction[j] = static_cast<int32_t>(static_cast<uint32_t>(s));
    }
    lanes.wholePlusOne = _mm256_load_si256(reinterpret_cast<const __m256i*>(whole));
    lanes.fraction = _mm256_load_si256(reinterpret_cast<const __m256i*>(fraction));
}

// Each lane's offset from the chunk's whole position and the top 24 bits of its fraction as a
// float, from `sum`, the fraction of each lane's position: that of the chunk's first sample plus
// the lane's fraction step, wrapped to 32 bits.
[[gnu::always_inline]] VESK_TARGET_AVX2 inline void
lanePositions(const LaneSteps& lanes, const __m256i& sum, __m256i& offset, __m256& fraction)
{
    // The 32-bit sum wrapped (the lane is one frame further on) exactly where it came out below
    // the lane's fraction step.
    const __m256i noCarry = _mm256_cmpeq_epi32(_mm256_max_epu32(sum, lanes.fraction), sum);
    offset = _mm256_add_epi32(lanes.wholePlusOne, noCarry);
    fraction = _mm256_cvtepi32_ps(_mm256_srli_epi32(sum, 8));
}

// How far apart a chunk's eight source frames can lie, fixed for a grain by its rate: within
// nine frames (rates up to 1), seventeen (up to about 2), thirty-three (up to about 4), or any
// distance.
enum class SourceSpan
{
    Nine,
    Seventeen,
    ThirtyThree,
    Any,
};

// The frames at `offset` and `offset + 1` from src for each lane, where `readable` frames may be
// read from src on: frames past it read as 0, and lanes outside `lanes` may read anything but
// touch no memory outside. Without kChecked the caller has made sure the span lies inside
// `readable`.
template <SourceSpan kSpan, bool kChecked>
[[gnu::always_inline]] VESK_TARGET_AVX2 inline void
readPairs(const float* src, int64_t readable, const __m256i& offset, const __m256i& lanes,
          __m256& a, __m256& b)
{
    if (kSpan == SourceSpan::Nine && (!kChecked || readable >= 9)) {
        // One load for each side, spread by a permute.
        a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(src), offset);
        b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(src + 1), offset);
        return;
    }
    if (kSpan == SourceSpan::Seventeen && (!kChecked || readable >= 17)) {
        // Two loads for each side, lanes past the first eight frames taken from the second.
        const __m256 second = _mm256_castsi256_ps(_mm256_slli_epi32(offset, 28));
        a = _mm256_blendv_ps(_mm256_permutevar8x32_ps(_mm256_loadu_ps(src), offset),
                             _mm256_permutevar8x32_ps(_mm256_loadu_ps(src + 8), offset), second);
        b = _mm256_blendv_ps(_mm256_permutevar8x32_ps(_mm256_loadu_ps(src + 1), offset),
                             _mm256_permutevar8x32_ps(_mm256_loadu_ps(src + 9), offset), second);
        return;
    }
    if (kSpan == SourceSpan::ThirtyThree && (!kChecked || readable >= 33)) {
        // Four loads for each side, picked by the offset's bits 3 and 4.
        const __m256 odd = _mm256_castsi256_ps(_mm256_slli_epi32(offset, 28));
        const __m256 upper = _mm256_castsi256_ps(_mm256_slli_epi32(offset, 27));
        __m256 part[4];
        for (int k = 0; k < 4; ++k)
            part[k] = _mm256_permutevar8x32_ps(_mm256_loadu_ps(src + 8 * k), offset);
        a = _mm256_blendv_ps(_mm256_blendv_ps(part[0], part[1], odd),
                             _mm256_blendv_ps(part[2], part[3], odd), upper);
        for (int k = 0; k < 4; ++k)
            part[k] = _mm256_permutevar8x32_ps(_mm256_loadu_ps(src + 1 + 8 * k), offset);
        b = _mm256_blendv_ps(_mm256_blendv_ps(part[0], part[1], odd),
                             _mm256_blendv_ps(part[2], part[3], odd), upper);
        return;
    }
    {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(readable, INT32_MAX));
        const __m256i inA =
            _mm256_and_si256(lanes, _mm256_cmpgt_epi32(_mm256_set1_epi32(n), offset));
        const __m256i inB =
            _mm256_and_si256(lanes, _mm256_cmpgt_epi32(_mm256_set1_epi32(n - 1), offset));
        a = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), src, offset, _mm256_castsi256_ps(inA), 4);
        b = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), src + 1, offset, _mm256_castsi256_ps(inB),
                                     4);
    }
}

// The Hann window at `steps` table steps from its middle, for grains shorter than the table,
// whose lanes lie too far apart to be loaded together: cos^2(pi q) with q = steps / kHannSteps,
// by the cosine's series up to x^12. Its error stays below 1.6e-7, within that of the table.
[[gnu::always_inline]] VESK_TARGET_AVX2 inline void hannFromMiddle(__m256& w, const __m256& steps)
{
    const __m256 x = _mm256_mul_ps(steps, _mm256_set1_ps(static_cast<float>(kPi / kHannSteps)));
    const __m256 y = _mm256_mul_ps(x, x);
    __m256 c = _mm256_set1_ps(1.0f / 479001600.0f);
    c = _mm256_fmadd_ps(c, y, _mm256_set1_ps(-1.0f / 3628800.0f));
    c = _mm256_fmadd_ps(c, y, _mm256_set1_ps(1.0f / 40320.0f));
    c = _mm256_fmadd_ps(c, y, _mm256_set1_ps(-1.0f / 720.0f));
    c = _mm256_fmadd_ps(c, y, _mm256_set1_ps(1.0f / 24.0f));
    c = _mm256_fmadd_ps(c, y, _mm256_set1_ps(-0.5f));
    c = _mm256_fmadd_ps(c, y, _mm256_set1_ps(1.0f));
    w = _mm256_mul_ps(c, c);
}

// What a grain's chunks share, held in locals so that the stores to the output cannot be taken
// to change it.
struct ChunkConstants
{
    LaneSteps readLanes;
    LaneSteps windowLanes;
    __m256 gainL;
    __m256 gainR;
    const float* hann;
    const float* left;
    const float* right;
    int64_t leftFrames;
    int64_t rightFrames;
    int64_t position;
};

// Adds output samples [i, i + 8) whose first has read point r and window position t, with lane
// fractions readSum and windowSum (see lanePositions); only the lanes in `lanes` when kMasked.
// kChecked: whether the source span may run past the readable frames. kNarrowWindow: below one
// table step per sample, so the eight lanes' window positions lie within nine table entries;
// otherwise the window is computed. Every chunk of a grain goes through the same arithmetic.
template <GrainChannels kChannels, SourceSpan kSpan, bool kNarrowWindow, bool kMasked,
          bool kChecked>
[[gnu::always_inline]] VESK_TARGET_AVX2 inline void
addChunk(const ChunkConstants& c, int64_t i, uint64_t r, uint64_t t, const __m256i& readSum,
         const __m256i& windowSum, const __m256i& lanes, float* __restrict outLeft,
         float* __restrict outRight)
{
    __m256i windowOffset;
    __m256 tf;
    lanePositions(c.windowLanes, windowSum, windowOffset, tf);
    __m256 w;
    if constexpr (kNarrowWindow) {
        const float* h = c.hann + (t >> 32);
        const __m256 h0 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(h), windowOffset);
        const __m256 slope =
            _mm256_permutevar8x32_ps(_mm256_loadu_ps(h + kHannEntries), windowOffset);
        w = _mm256_fmadd_ps(slope, tf, h0);
    } else {
        // Table steps from the window's middle.
        const __m256i whole = _mm256_add_epi32(
            _mm256_set1_epi32(static_cast<int32_t>(t >> 32) - kHannSteps / 2), windowOffset);
        const __m256 steps =
            _mm256_fmadd_ps(tf, _mm256_set1_ps(kFracScale), _mm256_cvtepi32_ps(whole));
        hannFromMiddle(w, steps);
    }

    const int64_t f = c.position + static_cast<int64_t>(r >> 32);
    __m256i offset;
    __m256 frac;
    lanePositions(c.readLanes, readSum, offset, frac);
    frac = _mm256_mul_ps(frac, _mm256_set1_ps(kFracScale));
    __m256 a, b;
    readPairs<kSpan, kChecked>(c.left + f, c.leftFrames - f, offset, lanes, a, b);
    const __m256 sl = _mm256_fmadd_ps(_mm256_sub_ps(b, a), frac, a);
    __m256 sr = sl;
    if constexpr (kChannels == GrainChannels::Stereo) {
        readPairs<kSpan, kChecked>(c.right + f, c.rightFrames - f, offset, lanes, a, b);
        sr = _mm256_fmadd_ps(_mm256_sub_ps(b, a), frac, a);
    } else if constexpr (kChannels == GrainChannels::StereoShort) {
        const int64_t readable = c.rightFrames - f;
        if (readable > 0) {
            readPairs<kSpan, true>(c.right + f, readable, offset, lanes, a, b);
        } else {
            a = _mm256_setzero_ps();
            b = _mm256_setzero_ps();
        }
        sr = _mm256_fmadd_ps(_mm256_sub_ps(b, a), frac, a);
    }

    const __m256 weightLeft = _mm256_mul_ps(c.gainL, w);
    const __m256 weightRight = _mm256_mul_ps(c.gainR, w);
    if constexpr (kMasked) {
        _mm256_maskstore_ps(
            outLeft + i, lanes,
            _mm256_fmadd_ps(weightLeft, sl, _mm256_maskload_ps(outLeft + i, lanes)));
        _mm256_maskstore_ps(
            outRight + i, lanes,
            _mm256_fmadd_ps(weightRight, sr, _mm256_maskload_ps(outRight + i, lanes)));
    } else {
        _mm256_storeu_ps(outLeft + i,
                         _mm256_fmadd_ps(weightLeft, sl, _mm256_loadu_ps(outLeft + i)));
        _mm256_storeu_ps(outRight + i,
                         _mm256_fmadd_ps(weightRight, sr, _mm256_loadu_ps(outRight + i)));
    }
}

template <GrainChannels kChannels, SourceSpan kSpan, bool kNarrowWindow>
VESK_TARGET_AVX2 void addGrainAvx2(const GrainPlayback& g, int64_t first, int64_t last,
                                   float* __restrict outLeft, float* __restrict outRight)
{
    ChunkConstants c;
    laneSteps(c.readLanes, g.rateStep);
    laneSteps(c.windowLanes, g.windowStep);
    c.gainL = _mm256_set1_ps(g.gainL);
    c.gainR = _mm256_set1_ps(g.gainR);
    c.hann = g.hann;
    c.left = g.left;
    c.right = g.right;
    c.leftFrames = g.leftFrames;
    c.rightFrames = g.rightFrames;
    c.position = g.position;
    uint64_t r = g.rateStep * static_cast<uint64_t>(g.x0 + first);
    uint64_t t = g.windowStep * static_cast<uint64_t>(g.x0 + first);
    const uint64_t rateChunk = g.rateStep * 8;
    const uint64_t windowChunk = g.windowStep * 8;
    // The lanes' fractions move on by the fraction of eight steps from chunk to chunk.
    __m256i readSum =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(r)), c.readLanes.fraction);
    __m256i windowSum =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(t)), c.windowLanes.fraction);
    const __m256i readSumStep = _mm256_set1_epi32(static_cast<int32_t>(rateChunk));
    const __m256i windowSumStep = _mm256_set1_epi32(static_cast<int32_t>(windowChunk));

    // Chunks starting before `spanEnd` have their source span inside both channels' frames.
    int64_t spanEnd = first;
    if constexpr (kSpan != SourceSpan::Any) {
        const int64_t span = kSpan == SourceSpan::Nine        ? 9
                             : kSpan == SourceSpan::Seventeen ? 17
                                                              : 33;
        const int64_t frames = kChannels == GrainChannels::Stereo
                                   ? std::min(c.leftFrames, c.rightFrames)
                                   : c.leftFrames;
        const int64_t room = std::min<int64_t>(frames - span + 1 - c.position, int64_t{1} << 30);
        if (room > 0) {
            const int64_t xEnd = firstSampleAdvanced(g.rateStep, room);
            spanEnd = xEnd >= g.x0 + last ? last : std::max(xEnd - g.x0, first);
        }
    }

    const __m256i all = _mm256_set1_epi32(-1);
    int64_t i = first;
    const int64_t wholeSpanEnd = std::min(spanEnd, last - 7);
    for (; i < wholeSpanEnd; i += 8) {
        addChunk<kChannels, kSpan, kNarrowWindow, false, false>(c, i, r, t, readSum, windowSum, all,
                                                                outLeft, outRight);
        r += rateChunk;
        t += windowChunk;
        readSum = _mm256_add_epi32(readSum, readSumStep);
        windowSum = _mm256_add_epi32(windowSum, windowSumStep);
    }
    for (; last - i >= 8; i += 8) {
        addChunk<kChannels, kSpan, kNarrowWindow, false, true>(c, i, r, t, readSum, windowSum, all,
                                                               outLeft, outRight);
        r += rateChunk;
        t += windowChunk;
        readSum = _mm256_add_epi32(readSum, readSumStep);
        windowSum = _mm256_add_epi32(windowSum, windowSumStep);
    }
    if (i < last) {
        const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(last - i)),
                                                 _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        addChunk<kChannels, kSpan, kNarrowWindow, true, true>(c, i, r, t, readSum, windowSum, lanes,
                                                              outLeft, outRight);
    }
}

template <GrainChannels kChannels, bool kNarrowWindow>
void addGrainAvx2Span(const GrainPlayback& g, int64_t first, int64_t last, float* outLeft,
                      float* outRight)
{
    // The largest distance of a chunk's last lane from its first frame.
    const uint64_t span = (0xFFFFFFFFu + g.rateStep * 7) >> 32;
    if (span < 8)
        addGrainAvx2<kChannels, SourceSpan::Nine, kNarrowWindow>(g, first, last, outLeft, outRight);
    else if (span < 16)
        addGrainAvx2<kChannels, SourceSpan::Seventeen, kNarrowWindow>(g, first, last, outLeft,
                                                                      outRight);
    else if (span < 32)
        addGrainAvx2<kChannels, SourceSpan::ThirtyThree, kNarrowWindow>(g, first, last, outLeft,
                                                                        outRight);
    else
        addGrainAvx2<kChannels, SourceSpan::Any, kNarrowWindow>(g, first, last, outLeft, outRight);
}

const bool kGrainsEightWide = hasAvx2Fma();
#endif

template <GrainChannels kChannels>
void addGrain(const GrainPlayback& g, int64_t first, int64_t last, float* outLeft, float* outRight)
{
#if VESK_HAS_AVX2_BUILD
    if (kGrainsEightWide) {
        if (g.windowStep < (uint64_t{1} << 32))
            addGrainAvx2Span<kChannels, true>(g, first, last, outLeft, outRight);
        else
            addGrainAvx2Span<kChannels, false>(g, first, last, outLeft, outRight);
        return;
    }
#endif
    addGrainScalar<kChannels>(g, first, last, outLeft, outRight);
}

} // namespace

void Sampler::renderGrains(float* bus1Left, float* bus1Right, uint32_t frames)
{
    const HannTable& hann = hannTable();
    const int64_t n = frames;
    for (CloudGrain& grain : grains) {
        if (!grain.active.load(std::memory_order_relaxed))
            continue;
        const SampleData* region = grain.sample;
        const uint64_t regionLength = region != nullptr ? playableLength(*region) : 0;
        if (regionLength == 0 || grain.lengthSamples <= 0) {
            grain.active.store(false, std::memory_order_relaxed);
            continue;
        }
        const int64_t length = static_cast<int64_t>(regionLength);
        const RawAudioData& audio = *region->audio;
        const int64_t start = regionStart(*region);

        const int64_t end = grain.delaySamples + grain.lengthSamples;
        const int64_t first = std::max<int64_t>(grain.delaySamples - grain.elapsed, 0);
        const int64_t last = std::min<int64_t>(end - grain.elapsed, n);
        if (first < last) {
            GrainPlayback g;
            g.hann = hann.values;
            g.left = audio.left.data() + start;
            g.leftFrames = static_cast<int64_t>(audio.left.size()) - start;
            g.position = grain.startFrame;
            g.x0 = grain.elapsed - grain.delaySamples;
            g.rateStep = static_cast<uint64_t>(static_cast<double>(grain.rate) * kFixedOne);
            g.windowStep = static_cast<uint64_t>(kHannSteps * kFixedOne /
                                                 static_cast<double>(grain.lengthSamples));
            g.gainL = grain.panL * grain.gain;
            g.gainR = grain.panR * grain.gain;
            const int64_t stop = audibleEnd(g, length - 1, first, last);
            if (first < stop) {
                if (audio.channels != 2) {
                    addGrain<GrainChannels::Mono>(g, first, stop, bus1Left, bus1Right);
                } else {
                    // Frames of the right channel that exist from the region's start on.
                    g.rightFrames = static_cast<int64_t>(audio.right.size()) - start;
                    g.right = g.rightFrames > 0 ? audio.right.data() + start : nullptr;
                    if (g.rightFrames >= length)
                        addGrain<GrainChannels::Stereo>(g, first, stop, bus1Left, bus1Right);
                    else
                        addGrain<GrainChannels::StereoShort>(g, first, stop, bus1Left, bus1Right);
                }
            }
        }

        grain.elapsed += n;
        if (grain.elapsed >= end)
            grain.active.store(false, std::memory_order_relaxed);
    }

    for (WalkState& walk : walks) {
        if (!walk.active)
            continue;
        walk.steps += n;
        if (walk.steps >= walk.distance)
            walk.active = false;
    }
}

bool Sampler::isPoolAudible(int pool) const
{
    if (!validPool(pool))
        return false;
    const unsigned bit = 1u << pool;
    return (muteMask & bit) == 0 && (soloMask == 0 || (soloMask & bit) != 0);
}

// ---------------------------------------------------------------------------------------------
// Queries

bool Sampler::isPlaying() const
{
    for (const auto& voicesOfPool : voices)
        for (const Voice& voice : voicesOfPool)
            if (voice.state != Voice::kIdle)
                return true;
    for (const CloudGrain& grain : grains)
        if (grain.active.load(std::memory_order_acquire))
            return true;
    return false;
}

float Sampler::getPoolPlaybackProgress(int pool) const
{
    if (!validPool(pool))
        return 0.0f;
    for (const Voice& voice : voices[pool]) {
        if (voice.state == Voice::kIdle)
            continue;
        return voice.state == Voice::kPlaying ? std::clamp(voice.playbackProgress(), 0.0f, 1.0f)
                                              : 0.0f;
    }
    const WalkState& walk = walks[pool];
    if (walk.active && walk.regionLength > 0) {
        const double p = (static_cast<double>(walk.startFrame) +
                          static_cast<double>(walk.steps) * walk.direction) /
                         static_cast<double>(walk.regionLength);
        return static_cast<float>(std::clamp(p, 0.0, 1.0));
    }
    return 0.0f;
}

float Sampler::getPoolEnvelopeProgress(int pool) const
{
    if (!validPool(pool))
        return 0.0f;
    for (const Voice& voice : voices[pool]) {
        if (voice.state == Voice::kIdle)
            continue;
        return voice.state == Voice::kPlaying ? std::clamp(voice.envelopeProgress(), 0.0f, 1.0f)
                                              : 0.0f;
    }
    return 0.0f;
}

void Sampler::generateWaveformPeaks(const SampleData& region, float* out280)
{
    std::fill(out280, out280 + kDisplayPeaks, 0.0f);
    const uint64_t length = playableLength(region);
    if (length == 0)
        return;
    const RawAudioData& audio = *region.audio;
    const uint64_t start = static_cast<uint64_t>(regionStart(region));
    const float* left = audio.left.data();
    const uint64_t leftSize = audio.left.size();
    const bool stereo = audio.channels == 2;
    const float* right = audio.right.data();
    const uint64_t rightSize = audio.right.size();
    for (uint64_t bin = 0; bin < static_cast<uint64_t>(kDisplayPeaks); ++bin) {
        const uint64_t from = start + bin * length / kDisplayPeaks;
        const uint64_t to = start + (bin + 1) * length / kDisplayPeaks;
        float peak = 0.0f;
        for (uint64_t f = from; f < to && f < leftSize; ++f)
            peak = std::max(peak, std::fabs(left[f]));
        if (stereo)
            for (uint64_t f = from; f < to && f < rightSize; ++f)
                peak = std::max(peak, std::fabs(right[f]));
        out280[bin] = peak;
    }
}

// ---------------------------------------------------------------------------------------------
// Changing the pools

void Sampler::cutPoolPlayback(int pool, size_t fromIndex)
{
    const std::vector<SampleData>& samples = pools[pool].samples;
    // True for a region at or after fromIndex, and for anything not in the list at all.
    auto affected = [&](const SampleData* region) {
        if (region == nullptr)
            return false;
        const SampleData* begin = samples.data();
        const SampleData* end = begin + samples.size();
        if (region < begin || region >= end)
            return true;
        return static_cast<size_t>(region - begin) >= fromIndex;
    };
    for (Voice& voice : voices[pool]) {
        if (fromIndex == 0 || affected(voice.sample)) {
            voice.state = Voice::kIdle;
            voice.sample = nullptr;
        }
    }
    for (CloudGrain& grain : grains)
        if (grain.pool == pool && (fromIndex == 0 || affected(grain.sample)))
            grain.active.store(false, std::memory_order_relaxed);
    if (fromIndex == 0)
        resetWalk(pool);
}

void Sampler::beginSampleListChange(int pool)
{
    if (validPool(pool))
        cutPoolPlayback(pool);
}

void Sampler::endSampleListChange(int pool)
{
    if (!validPool(pool))
        return;
    if (pools[pool].samples.capacity() < static_cast<size_t>(kMaxSamplesPerPool))
        pools[pool].samples.reserve(kMaxSamplesPerPool);
    refreshRegionPeaks(pool);
}

void Sampler::refreshRegionPeaks(int pool)
{
    RegionPeaks* cache = regionPeaks[pool];
    std::vector<RegionPeaks> old(kMaxSamplesPerPool);
    for (int i = 0; i < kMaxSamplesPerPool; ++i)
        old[static_cast<size_t>(i)] = std::move(cache[i]);

    const std::vector<SampleData>& samples = pools[pool].samples;
    const size_t used = std::min<size_t>(samples.size(), kMaxSamplesPerPool);
    for (size_t i = 0; i < kMaxSamplesPerPool; ++i) {
        RegionPeaks& entry = cache[i];
        entry = RegionPeaks{};
        if (i >= used)
            continue;
        const SampleData& region = samples[i];
        auto found = std::find_if(old.begin(), old.end(),
                                  [&](const RegionPeaks& r) { return r.matches(region); });
        if (found != old.end()) {
            entry = std::move(*found);
            found->audio.reset();
            continue;
        }
        if (region.audio == nullptr)
            continue;
        entry.audio = region.audio;
        entry.offset = region.offset;
        entry.length = region.length;
        generateWaveformPeaks(region, entry.values);
    }
    // `old` releases the audio of regions that left the list here, on the main thread.
}

bool Sampler::appendSample(int pool, SampleData region, const float* peaks)
{
    if (!validPool(pool))
        return false;
    std::vector<SampleData>& samples = pools[pool].samples;
    if (samples.size() >= static_cast<size_t>(kMaxSamplesPerPool))
        return false;
    if (samples.size() == samples.capacity()) {
        // Growing would move the entries voices read: stop reading them first.
        cutPoolPlayback(pool);
        samples.reserve(kMaxSamplesPerPool);
    }
    samples.push_back(std::move(region));
    const SampleData& added = samples.back();
    RegionPeaks& entry = regionPeaks[pool][samples.size() - 1];
    entry = RegionPeaks{};
    if (added.audio != nullptr) {
        entry.audio = added.audio;
        entry.offset = added.offset;
        entry.length = added.length;
        if (peaks != nullptr)
            std::copy(peaks, peaks + kDisplayPeaks, entry.values);
        else
            generateWaveformPeaks(added, entry.values);
    }
    return true;
}

bool Sampler::removeSample(int pool, int sampleIndex)
{
    if (!validPool(pool) || sampleIndex < 0 ||
        static_cast<size_t>(sampleIndex) >= pools[pool].samples.size())
        return false;
    // Entries before the removed one stay where they are: only what reads it or a later entry
    // is cut.
    cutPoolPlayback(pool, static_cast<size_t>(sampleIndex));
    std::vector<SampleData>& samples = pools[pool].samples;
    samples.erase(samples.begin() + sampleIndex);
    endSampleListChange(pool);
    return true;
}

bool Sampler::setRegion(int pool, int sampleIndex, int64_t offset, uint64_t length)
{
    if (!validPool(pool) || sampleIndex < 0 ||
        static_cast<size_t>(sampleIndex) >= pools[pool].samples.size())
        return false;
    SamplePool& p = pools[pool];
    // The entry stays where it is and keeps its audio, so voices may go on reading it; a voice
    // past the new end stops at its next block.
    SampleData& region = p.samples[static_cast<size_t>(sampleIndex)];
    region.offset = offset;
    region.length = length;
    if (sampleIndex < kMaxSamplesPerPool) {
        RegionPeaks& entry = regionPeaks[pool][sampleIndex];
        entry = RegionPeaks{};
        if (region.audio != nullptr) {
            entry.audio = region.audio;
            entry.offset = offset;
            entry.length = length;
            generateWaveformPeaks(region, entry.values);
        }
    }
    if (p.lastTrigger.sampleIndex == sampleIndex) {
        p.lastTrigger.durationMs = durationMsOf(region);
        generateWaveformPeaks(region, p.peaks);
        peaksPending[pool] = false;
    }
    return true;
}

void Sampler::clearPool(int pool)
{
    if (!validPool(pool))
        return;
    beginSampleListChange(pool);
    SamplePool& p = pools[pool];
    p.samples.clear();
    endSampleListChange(pool);
    std::fill(std::begin(p.peaks), std::end(p.peaks), 0.0f);
    p.lastTrigger.durationMs = 0.0f;
    p.lastTrigger.sampleIndex = 0;
    p.lastTrigger.gain = 1.0f;
    p.lastTrigger.volumeBase = 0.0f;
    peaksPending[pool] = false;
}

void Sampler::resetPool(int pool)
{
    if (!validPool(pool))
        return;
    beginSampleListChange(pool);
    SamplePool* p = &pools[pool];
    std::destroy_at(p); // constructed in place: the pool is too large for a stack temporary
    std::construct_at(p);
    endSampleListChange(pool);
    const uint8_t keep = static_cast<uint8_t>(~(1u << pool));
    soloMask &= keep;
    muteMask &= keep;
    freezeMask &= keep;
    lastParams[pool] = VoiceParams{};
    frozenParams[pool] = VoiceParams{};
    poolPeak[pool] = 0.0f;
    stealCursor[pool] = 0;
    peaksPending[pool] = false;
}

bool Sampler::setPoolLocked(int pool, bool locked)
{
    if (!validPool(pool))
        return false;
    const uint8_t bit = static_cast<uint8_t>(1u << pool);
    if (!locked) {
        freezeMask &= static_cast<uint8_t>(~bit);
        return false;
    }
    if (lastParams[pool].valid) {
        frozenParams[pool] = lastParams[pool];
        freezeMask |= bit;
    }
    return (freezeMask & bit) != 0;
}

void Sampler::showRegionPeaks(int pool, int sampleIndex)
{
    if (!validPool(pool))
        return;
    const SamplePool& p = pools[pool];
    if (sampleIndex >= 0 && sampleIndex < kMaxSamplesPerPool &&
        static_cast<size_t>(sampleIndex) < p.samples.size()) {
        const RegionPeaks& entry = regionPeaks[pool][sampleIndex];
        if (entry.matches(p.samples[static_cast<size_t>(sampleIndex)])) {
            std::memcpy(pools[pool].peaks, entry.values, sizeof(entry.values));
            peaksPending[pool] = false;
            return;
        }
        if (p.samples[static_cast<size_t>(sampleIndex)].audio == nullptr) {
            std::memset(pools[pool].peaks, 0, sizeof(pools[pool].peaks));
            peaksPending[pool] = false;
            return;
        }
    }
    peaksPending[pool] = true;
}

void Sampler::refreshPendingPeaks()
{
    for (int pool = 0; pool < kNumPools; ++pool) {
        if (!peaksPending[pool])
            continue;
        peaksPending[pool] = false;
        SamplePool& p = pools[pool];
        const int index = p.lastTrigger.sampleIndex;
        if (index < 0 || static_cast<size_t>(index) >= p.samples.size())
            continue;
        const SampleData& region = p.samples[static_cast<size_t>(index)];
        if (index < kMaxSamplesPerPool && region.audio != nullptr) {
            RegionPeaks& entry = regionPeaks[pool][index];
            if (!entry.matches(region)) {
                entry = RegionPeaks{};
                entry.audio = region.audio;
                entry.offset = region.offset;
                entry.length = region.length;
                generateWaveformPeaks(region, entry.values);
            }
            std::memcpy(p.peaks, entry.values, sizeof(entry.values));
        } else {
            generateWaveformPeaks(region, p.peaks);
        }
    }
}

} // namespace vesk
