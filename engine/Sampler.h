// The sampler: eight pools, their voices, the shared grain slots and what the last triggers drew.
//
// Design: everything the audio thread touches lives inline in this one object (pools, 32 voices,
// 512 grain slots, per-pool tables, the cached display peaks of every region), so triggering and
// playing never allocate. Only the sample lists and the decoded audio they share are on the heap,
// and those are changed and freed on the main thread only.
//
// Threads. Triggers, walk clouds, voice and grain rendering and stop run under the instance's
// state mutex: on the audio thread (which takes the mutex with try_lock once per block) or on the
// main thread for commands. isPlaying() and the progress queries may also be read without the
// mutex, for display; a grain slot's `active` flag is written last when the slot is filled.
//
// Region lifetime (who may point into a sample list). Voices and grains hold raw pointers to the
// SampleData entries of a pool's list, and through them read the decoded audio the entries keep
// alive. So, on the main thread and under the state mutex:
//   - before anything removes, replaces or reorders entries of a pool's list (clear, remove a
//     sample, remove the pool, load a state), call beginSampleListChange(pool): the pool's voices
//     and the grains reading its regions are cut at once (no fade, because the audio they would
//     fade out is about to go), so nothing points into the list any more;
//   - after the change, call endSampleListChange(pool): the list's storage is reserved for 64
//     entries again and the cached peaks follow the new list;
//   - appending (appendSample) needs neither: the storage is reserved for the most entries a list
//     may hold, so an append never moves the entries voices are reading. Should the reserve ever
//     be missing, appendSample cuts the pool's playback before it grows the list.
//   - changing a region's offset or length in place (setRegion) needs neither: the entry stays
//     where it is and keeps its audio; a voice past the new end stops at its next block.
// clearPool, resetPool, removeSample, setRegion and appendSample do all of this themselves. The
// audio thread never frees audio: it copies no shared pointer, and the lists, which own the audio
// (together with the raw-audio cache and the peak cache below), only shrink on the main thread.
//
// Display peaks. The 280 peaks a trigger shows for its region are computed when the region enters
// the list or changes (appendSample, setRegion, endSampleListChange; off the audio thread, or by
// the loader on the worker); the trigger copies the cached values, so its cost does not grow with
// the length of the region. Should a region have changed behind the sampler's back, the trigger
// does not scan it either: it marks the pool's peaks pending and refreshPendingPeaks() fills them
// on the main thread.
#pragma once

#include "Config.h"
#include "Grain.h"
#include "SampleData.h"
#include "SamplePool.h"
#include "Voice.h"
#include "VoiceParams.h"
#include "XS64Rand.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vesk {

// Cached display peaks of one region, valid for the audio, offset and length they were made from.
// Holding the audio keeps its address from being reused while the entry exists.
struct RegionPeaks
{
    std::shared_ptr<const RawAudioData> audio;
    int64_t offset = 0;
    uint64_t length = 0;
    float values[kDisplayPeaks] = {};

    bool matches(const SampleData& region) const
    {
        return audio != nullptr && audio == region.audio && offset == region.offset &&
               length == region.length;
    }
};

class Sampler
{
public:
    // Fields, in the order of the engine's data model.
    SamplePool pools[kNumPools];
    Voice voices[kNumPools][kVoicesPerPool];
    CloudGrain grains[kMaxGrains];
    double grainRate = 48000.0; // engine rate used when grains play, Hz
    float poolPeak[kNumPools] = {};
    int32_t stealCursor[kNumPools] = {};
    WalkState walks[kNumPools];
    VoiceParams lastParams[kNumPools];
    uint8_t freezeMask = 0; // bit i: pool i is locked and replays frozenParams[i]
    VoiceParams frozenParams[kNumPools];
    double sampleRate = 48000.0; // engine output rate, Hz
    uint64_t lastSeed = 0;
    bool retriggerMode = true; // true "Single", false "Poly"
    uint8_t soloMask = 0;
    uint8_t muteMask = 0;

    // Cached display peaks, index-aligned with each pool's list (entries past the list are
    // empty). Kept up to date by the list operations below.
    RegionPeaks regionPeaks[kNumPools][kMaxSamplesPerPool];
    // Set by a trigger whose region had no fresh cached peaks; refreshPendingPeaks() fills them.
    bool peaksPending[kNumPools] = {};
    // The filter coefficients each pool's voices met lately, shared among them.
    SvfCoefficientMemo filterMemos[kNumPools];

    // [main thread] Reserves the storage of every pool's list.
    Sampler();
    Sampler(const Sampler&) = delete;
    Sampler& operator=(const Sampler&) = delete;

    // [main thread, not while the audio thread renders] Engine rate for voices and grains, Hz.
    void setSampleRate(double rateHz);

    // ---- Drawing and triggering. [audio thread] [main thread], under the state mutex. ----

    // Triggers every pool that holds samples: direct pools start a voice with fresh (or, when
    // locked, frozen) parameters, grain-cloud pools that are not muted or soloed out emit a walk
    // cloud. Seeds 0 and 1 give the same trigger.
    void trigger(uint64_t seed, int note);

    // The trigger of a message seed in an instance with this salt: draws from drawSeed(salt,
    // seed) (TriggerSeed.h); lastSeed shows the message seed. Every path that turns a message
    // seed into sound goes through here, so the same instance and seed give the same draw.
    void triggerSalted(uint64_t salt, uint64_t seed, int note);

    // Draws one trigger's parameters for a pool; updates its pick history and the randomizers'
    // last quarters. The number and order of generator steps are fixed: stored seeds replay.
    static VoiceParams evaluatePoolParams(SamplePool& pool, XS64Rand& rng, int note);

    // Starts one voice of the pool ("Single": cuts voice 0 and fades the others; "Poly": the
    // first idle voice, else steals in turn) and records the trigger for the editor.
    void triggerVoiceAndUpdateCache(int pool, const VoiceParams& params);

    // Emits walk clouds for the listed pools, continuing the generator's sequence.
    void emitWalkCloud(XS64Rand& rng, const int* poolList, int count, int note);

    // Audition: plays one sample of a pool on voice 0 with the pool's centre values and no
    // randomisation; the other voices of the pool fade out. Ignored for an invalid pool or
    // index or an unplayable region.
    void playSample(int pool, int sampleIndex);

    // Replays every pool's last fresh draw as a direct voice, with the current knob values.
    void replay();

    // Stops one pool: its playing voices fade out, its walk is reset; emitted grains play out.
    void stopPool(int pool);

    // Stops everything: voices fade out, grains and walks end at once.
    void stop();

    // Cuts everything at once: voices, grains and walks end without a fade, nothing is left to
    // play later (the track's mute).
    void cut();

    // ---- Rendering. [audio thread] [main thread], under the state mutex. ----

    // Adds the pool's four voices into left/right for `frames` samples; returns the largest
    // absolute value added (0 for an invalid pool).
    float renderPoolVoices(int pool, float* left, float* right, uint32_t frames);

    // The same with the pool's knobs moving inside the block: they hold `start` from frame 0 and
    // cutKnobs[i] from cutFrames[i] on (ascending; cuts at or past `frames` are left out). Sounds
    // exactly like rendering the block in pieces at those frames and setting the knobs between
    // them, at a fraction of the cost. Afterwards the knobs hold the last values given.
    float renderPoolVoices(int pool, float* left, float* right, uint32_t frames,
                           const PoolKnobs& start, const uint32_t* cutFrames,
                           const PoolKnobs* cutKnobs, uint32_t cutCount);

    // Runs the pool's voices for `frames` samples and discards the sound (a muted or soloed-out
    // pool keeps time).
    void renderPoolVoicesSilently(int pool, uint32_t frames);

    // Plays every active grain for `frames` samples, adding into FX bus 1's input, then advances
    // the walks. Grains ignore mute, solo and their pool's route once emitted. The two buffers
    // must not overlap.
    void renderGrains(float* bus1Left, float* bus1Right, uint32_t frames);

    // True when the pool is heard: its mute bit is clear and no other pool is soloed over it.
    bool isPoolAudible(int pool) const;

    // ---- Offline render of the last trigger (exports). ----

    // One pool's dry render; both channels have the same length.
    struct PoolRenderResult
    {
        std::vector<float> left;
        std::vector<float> right;
        bool hasAudio = false; // at least one frame was rendered
    };

    // [main thread, under the state mutex] What each audible pool last played (a locked pool its
    // frozen draw); the default, invalid record for the other pools.
    void captureOfflineRenderPlan(std::array<VoiceParams, kNumPools>& plan) const;
    // [main thread] Plays each planned pool once on a fresh voice at rateHz, in 512-frame blocks,
    // reading the pools' live settings; returns the number of pools with audio.
    int renderAllPoolsOffline(const std::array<VoiceParams, kNumPools>& plan,
                              std::array<PoolRenderResult, kNumPools>& out, double rateHz) const;
    // [main thread] One pool's part of it; false when the pool rendered nothing.
    static bool renderPoolOffline(const SamplePool& pool, const VoiceParams& params, double rateHz,
                                  PoolRenderResult& out);

    // ---- Queries. [any thread]; without the mutex the answer is for display only. ----

    bool isPlaying() const;
    float getPoolPlaybackProgress(int pool) const;
    float getPoolEnvelopeProgress(int pool) const;

    // [any thread] The 280 display peaks of a region: per bin the largest absolute sample of
    // either channel; all zero for an unplayable region. Reads the whole region.
    static void generateWaveformPeaks(const SampleData& region, float* out280);

    // ---- Changing the pools. [main thread], under the state mutex. ----

    // See the note at the top of this file.
    void beginSampleListChange(int pool);
    void endSampleListChange(int pool);

    // Appends a region when the list holds fewer than 64; returns whether it did. `peaks`, when
    // given, are the region's display peaks computed beforehand (by the loader, off the main
    // thread); otherwise they are computed here.
    bool appendSample(int pool, SampleData region, const float* peaks = nullptr);

    // Removes one region (later ones move down); out-of-range indices are ignored. Sounds reading
    // the removed region or a later one are cut; those on earlier regions play on. Returns
    // whether a region was removed. The pool's last-trigger record and draws stay as they are.
    bool removeSample(int pool, int sampleIndex);

    // Sets a region's offset and length and refreshes its cached peaks (and the pool's displayed
    // peaks when it is the displayed region). Returns false for an invalid index.
    bool setRegion(int pool, int sampleIndex, int64_t offset, uint64_t length);

    // "Clear Pool": releases every region, zeroes the displayed peaks and part of the last-trigger
    // record; settings, name and overview stay.
    void clearPool(int pool);

    // "Remove Pool": the pool returns to its defaults, with its solo, mute and lock bits, its
    // draws, peak level, steal cursor and walk reset.
    void resetPool(int pool);

    // Locks ("Lock Pool") a pool to its last fresh draw, or unlocks it. A pool that has never
    // played cannot be locked; returns whether the pool is locked afterwards.
    bool setPoolLocked(int pool, bool locked);

    // Fills the displayed peaks of pools whose trigger found no fresh cached peaks.
    void refreshPendingPeaks();

    // Copies the cached peaks of a region into the pool's displayed peaks, or marks them pending.
    // [audio thread] [main thread], under the state mutex; O(280).
    void showRegionPeaks(int pool, int sampleIndex);

private:
    // Cuts at once the pool's voices and grains that read entries from fromIndex on (all of them
    // for 0); the walk is reset too when the whole pool is cut.
    void cutPoolPlayback(int pool, size_t fromIndex = 0);
    void resetWalk(int pool);
    void refreshRegionPeaks(int pool);
};

} // namespace vesk
