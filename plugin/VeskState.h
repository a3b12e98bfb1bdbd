// The published snapshot: everything the editor shows, as plain data without pointers.
//
// The main thread builds a complete picture in a staging copy, copies it into the buffer the
// editor is not reading and publishes that buffer's index (release). The audio thread writes a
// handful of live values (levels, activity, progress, modulation) into both buffers after every
// block. Those live fields are atomics accessed with relaxed ordering, so the two writers and the
// editor's copy never form a data race; every other field is written only on the main thread.
#pragma once

#include "engine/Config.h"
#include "engine/SamplePool.h"
#include "fx/FXLane.h"
#include "fx/MasterFX.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <type_traits>

namespace vesk {

// A float the audio thread and the main thread may both write (display values).
class LiveFloat
{
public:
    float load() const { return v_.load(std::memory_order_relaxed); }
    void store(float x) { v_.store(x, std::memory_order_relaxed); }
    LiveFloat& operator=(const LiveFloat& o)
    {
        store(o.load());
        return *this;
    }
    LiveFloat() = default;
    LiveFloat(const LiveFloat& o) : v_(o.load()) {}

private:
    std::atomic<float> v_{0.0f};
};

class LiveBool
{
public:
    bool load() const { return v_.load(std::memory_order_relaxed); }
    void store(bool x) { v_.store(x, std::memory_order_relaxed); }
    LiveBool& operator=(const LiveBool& o)
    {
        store(o.load());
        return *this;
    }
    LiveBool() = default;
    LiveBool(const LiveBool& o) : v_(o.load()) {}

private:
    std::atomic<bool> v_{false};
};

// The waveform overview of a pool's displayed file: most of the snapshot's megabyte. A copy
// takes the points only when the revision differs (or is 0, an overview nobody numbered), so
// publishing and the editor's 30 Hz copy do not move 112 KB per pool while it stays the same.
struct OverviewPoints
{
    uint64_t revision = 0;
    float points[kOverviewPeaks] = {};

    OverviewPoints() = default;
    OverviewPoints(const OverviewPoints&) = default;
    OverviewPoints& operator=(const OverviewPoints& o)
    {
        if (o.revision == 0 || o.revision != revision) {
            revision = o.revision;
            std::copy(std::begin(o.points), std::end(o.points), std::begin(points));
        }
        return *this;
    }
    float& operator[](size_t i) { return points[i]; }
    const float& operator[](size_t i) const { return points[i]; }
    float* begin() { return points; }
    float* end() { return points + kOverviewPeaks; }
    const float* begin() const { return points; }
    const float* end() const { return points + kOverviewPeaks; }
};

struct ParamState
{
    float base = 0.0f;
    float range = 0.0f;
    bool enabled = false;
};

struct PoolState
{
    int32_t sampleCount = 0;
    char sampleNames[kMaxSamplesPerPool][64] = {};
    uint8_t sampleMissing[kMaxSamplesPerPool] = {};
    LiveFloat level;
    LiveBool active;
    ParamState pitch, volume, pan, delay, start;
    float reverseChance = 0.0f;
    bool frozen = false;
    uint8_t outputRoute = 0;
    char name[kPoolNameSize] = {};
    uint32_t displayedSample = 0;
    LiveFloat playbackProgress;
    LiveFloat envelopeProgress;
    float durationMs = 0.0f;
    float peaks[kDisplayPeaks] = {};
    OverviewPoints overview;
    float lastGain = 0.0f;
    float lastVolumeBase = 0.0f;
    float lastStart = 0.0f;
    float lastStartBase = 0.0f;
    int64_t regionOffset = 0;
    uint64_t regionLength = 0;
    uint64_t fileFrames = 0;
    EnvelopeData volumeEnv, panEnv, pitchEnv;
    float hpfHz = 0.0f;
    float lpfHz = 0.0f;
    EnvelopeData hpfEnv, lpfEnv;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    bool pitchTrack = false;
    bool grainCloud = false;
    float volumeOffsetDb = 0.0f;
    float panOffset = 0.0f;
    float pitchOffset = 0.0f;
};

struct VeskState
{
    PoolState pools[kNumPools];
    LiveBool playing;
    bool retriggerMode = false;
    bool autoSplit = false;
    MasterFXState master;
    FXLaneState lanes[kNumLanes];
    bool bus1ToMaster = false;
    uint8_t visiblePools = 0;
    uint8_t soloMask = 0;
    uint8_t muteMask = 0;
    uint8_t freezeMask = 0;
    LiveFloat modulation[kModBusSize];
    bool stateUnread = false;
    int32_t missingFiles = 0;
    int32_t droppedCommands = 0;
    // Counts the states the host loaded: edits the editor still waits for give way to it.
    uint32_t stateLoads = 0;
    // The last export's line: where the files went and how many, or why nothing was written.
    char exportReport[512] = {};
    bool exportFailed = false;
};

// The live atomics must not need a lock, or the audio thread could block on them.
static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace vesk
