// One sample pool: its regions, random ranges, envelopes, filters and what the last trigger drew.
#pragma once

#include "Config.h"
#include "SampleData.h"
#include "XS64Rand.h"

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace vesk {

// One randomised parameter. `range` is the spread 0..1; the scale (semitones, dB, ...) comes
// from the caller.
struct ParamRandomizer
{
    float base = 0.0f;
    float range = 0.0f;
    bool enabled = false;
    int32_t lastQuadrant = -1; // quarter of the spread drawn last; -1 before the first draw

    // Two-sided draw around base: base + scale * range * [-1, 1).
    float evaluate(XS64Rand& rng, float scale);
    // One-sided draw above base: base + scale * range * [0, 1).
    float evaluateUnipolar(XS64Rand& rng, float scale);
};

struct EnvelopePoint
{
    float x = 0.0f; // position 0..1 along the voice's run
    float y = 0.0f; // value in the unit of the envelope's target
};

// A breakpoint envelope. The editor sends it as one 520-byte image, copied as is.
struct EnvelopeData
{
    EnvelopePoint points[kMaxEnvelopePoints] = {};
    uint32_t count = 0;
    bool enabled = false;

    bool active() const { return enabled && count > 0; }
};
static_assert(sizeof(EnvelopeData) == 520, "the envelope image is part of the message format");
static_assert(std::is_trivially_copyable_v<EnvelopeData>);

enum class PoolRoute : uint8_t
{
    Bus1 = 0,
    Bus2 = 1,
    Master = 2,
};

// Stored routes of 3 or more read back as Bus1.
inline PoolRoute poolRouteFromByte(uint32_t v)
{
    return v <= 2 ? static_cast<PoolRoute>(v) : PoolRoute::Bus1;
}

// What the last trigger of a pool drew, for the editor and for Replay.
struct LastTrigger
{
    bool hasValue = false; // an overview rebuild is pending
    float durationMs = 0.0f;
    int32_t sampleIndex = 0;
    float gain = 1.0f;
    float volumeBase = 0.0f;
    float startPercent = 0.0f;
    float startBase = 0.0f;
    float pitchRatio = 1.0f;
    float pitchBase = 0.0f;
    float pan = 0.0f;
    float panBase = 0.0f;
    float delayMs = 0.0f;
    float delayBase = 0.0f;
    bool reverse = false;
};

// [main thread] A revision number no overview has had before in this process: the snapshot's
// copies skip an overview whose revision they already hold.
inline uint64_t nextOverviewRevision()
{
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

struct SamplePool
{
    std::vector<SampleData> samples; // at most kMaxSamplesPerPool are ever used
    ParamRandomizer pitch;           // semitones, spread range * 12
    ParamRandomizer volume;          // dB, spread range * 20
    ParamRandomizer pan;             // percent -100..100, spread range * 100
    ParamRandomizer delay;           // ms 0..3000, one-sided, range * 3000
    ParamRandomizer start;           // percent of the region 0..100, one-sided, range * 100
    float reverseChance = 0.0f;      // percent 0..100
    char name[kPoolNameSize] = {};
    int32_t lastPick = -1;
    int32_t prevPick = -1;
    float peaks[kDisplayPeaks] = {};
    float overview[kOverviewPeaks] = {};
    uint64_t overviewRevision = nextOverviewRevision(); // changes with every new overview
    LastTrigger lastTrigger;
    PoolRoute outputRoute = PoolRoute::Bus1;
    EnvelopeData volumeEnv; // dB, added to the volume
    EnvelopeData panEnv;    // pan percent, added to the pan
    EnvelopeData pitchEnv;  // semitones, added to the pitch
    float hpfHz = 0.0f;     // 0..20000; 0 or below is off
    float lpfHz = 20000.0f; // 0..20000; 20000 or above is off
    EnvelopeData hpfEnv;    // Hz, replaces hpfHz while active
    EnvelopeData lpfEnv;    // Hz, replaces lpfHz while active
    float fadeIn = 0.0f;    // fraction of the voice's output length, 0..0.5
    float fadeOut = 0.0f;   // fraction of the voice's output length, 0..0.5
    bool pitchTrack = false;
    bool grainCloud = false;
};

// The knobs of a pool its playing voices follow (volume, pan and pitch centres, the filters'
// cut-offs): what host automation moves inside a block.
struct PoolKnobs
{
    float volumeDb = 0.0f;
    float pan = 0.0f;
    float pitch = 0.0f;
    float hpfHz = 0.0f;
    float lpfHz = 20000.0f;

    static PoolKnobs of(const SamplePool& pool)
    {
        return {pool.volume.base, pool.pan.base, pool.pitch.base, pool.hpfHz, pool.lpfHz};
    }
    void applyTo(SamplePool& pool) const
    {
        pool.volume.base = volumeDb;
        pool.pan.base = pan;
        pool.pitch.base = pitch;
        pool.hpfHz = hpfHz;
        pool.lpfHz = lpfHz;
    }
};

} // namespace vesk
