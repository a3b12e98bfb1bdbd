// Every message from the editor into the engine: its id, the packed little-endian field
// accessors, and one typed record per id with its encoder and decoder side by side.
//
// A message is a one-byte id and a payload whose fields follow each other without padding. The
// records below are the only place that knows the offsets: the editor and our tools build
// payloads with `encode`, the main-thread dispatcher and the audio thread read them with
// `decode`, and one round-trip test binds both directions for every id. A decoder checks the
// length and copies the fields, nothing more: which pools, lanes, knobs and values are accepted,
// and how values are clamped, is the receiver's business. A payload longer than its record is
// accepted and the rest ignored, except where a record's last field runs to the end (a path, a
// name, the entries of a chain).
#pragma once

#include "engine/SamplePool.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vesk {

enum MessageId : uint8_t
{
    CmdLoadToPool = 1,
    CmdClearPool = 2,
    CmdRemovePool = 3,
    CmdRemoveSample = 4,
    CmdTrigger = 5,
    CmdPlaySample = 7,
    CmdReplay = 8,
    CmdStopPool = 9,
    CmdStopAll = 10,
    CmdRenderStems = 12,
    CmdRenderMix = 13,
    CmdSetPitch = 14,
    CmdSetVolume = 15,
    CmdSetPan = 16,
    CmdSetDelay = 17,
    CmdSetStart = 18,
    CmdSetReverseChance = 19,
    CmdSetMasterOutputGain = 20,
    CmdSetMasterBypass = 21,
    CmdSetMasterEQ = 22,
    CmdSetMasterEQBypass = 23,
    CmdSetMasterEnhance = 24,
    CmdSetMasterEnhanceBypass = 25,
    CmdSetMasterEnhanceMulti = 26,
    CmdSetMasterReverb = 27,
    CmdSetMasterReverbBypass = 28,
    CmdSetMasterLimiter = 29,
    CmdSetMasterLimiterBypass = 30,
    CmdRenamePool = 31,
    CmdSetRetriggerMode = 32,
    CmdSetAutoSplit = 33,
    CmdSetPoolVisible = 34,
    CmdSetPoolSolo = 35,
    CmdSetPoolMute = 36,
    CmdSetPoolFreeze = 37,
    CmdSetSampleRegion = 38,
    CmdSelectSample = 39,
    CmdSetVolumeEnv = 40,
    CmdSetPoolRoute = 41,
    CmdSetLaneBypass = 42,
    CmdSetLaneMute = 43,
    CmdSetLaneSolo = 44,
    CmdSetBus1ToMaster = 45,
    CmdSetPanEnv = 46,
    CmdSetPitchEnv = 47,
    CmdSetHpf = 48,
    CmdSetLpf = 49,
    CmdSetHpfEnv = 50,
    CmdSetLpfEnv = 51,
    CmdSetFadeIn = 52,
    CmdSetFadeOut = 53,
    CmdSetPitchTrack = 54,
    CmdSetGrainCloud = 55,
    CmdAddFxSlot = 56,
    CmdRemoveFxSlot = 57,
    CmdSetFxSlotBypass = 58,
    CmdSetFxParam = 59,
    CmdMoveFxSlot = 61,
    CmdBindFxModulation = 62,
    CmdAppendFxChain = 63,
};

// Packed little-endian fields (the platforms we build for are little-endian).
inline uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t getU64(const uint8_t* p)
{
    return uint64_t(getU32(p)) | uint64_t(getU32(p + 4)) << 32;
}
inline int64_t getI64(const uint8_t* p)
{
    return static_cast<int64_t>(getU64(p));
}
inline float getF32(const uint8_t* p)
{
    const uint32_t bits = getU32(p);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}
inline void putU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void putU64(uint8_t* p, uint64_t v)
{
    putU32(p, uint32_t(v));
    putU32(p + 4, uint32_t(v >> 32));
}
inline void putF32(uint8_t* p, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    putU32(p, bits);
}

// The largest payloads the rings carry (one slot's payload field).
inline constexpr uint32_t kMaxTriggerPayload = 64;
inline constexpr uint32_t kMaxCommandPayload = 4096;

} // namespace vesk

// The records. Each has:
//   kId                     the message id;
//   kSize                   the payload size (fixed-size records), and kMaxSize, the most bytes
//                           `encode` writes, to size a buffer;
//   encode(out)             writes the payload into out (room for kMaxSize bytes) and returns its
//                           size;
//   decode(payload, size, out)  false when the payload is too short for the record.
// Variable-length records (LoadToPool, RenamePool, AppendFxChain) also have size(), the bytes
// their payload takes, and fits(); one that does not fit kMaxSize encodes nothing and returns 0.
// Pools are 0..7 as uint32, lanes 0..1 as one byte; a flag byte is true when non-zero.
namespace vesk::msg {

// Decodes a payload as the record R.
template <class R> bool decode(const uint8_t* payload, uint32_t size, R& out)
{
    return R::decode(payload, size, out);
}

// True when the record can be encoded into one message (always, for fixed-size records).
template <class R> bool fits(const R& message)
{
    if constexpr (requires { message.fits(); })
        return message.fits();
    else
        return true;
}

// 8 CmdReplay, 10 CmdStopAll, 12 CmdRenderStems, 13 CmdRenderMix: no payload.
template <MessageId Id> struct NoPayload
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 0;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t encode(uint8_t*) const { return 0; }
    static bool decode(const uint8_t*, uint32_t, NoPayload&) { return true; }
    bool operator==(const NoPayload&) const = default;
};
using Replay = NoPayload<CmdReplay>;           // replay the last draw with the current knobs
using StopAll = NoPayload<CmdStopAll>;         // stop every voice and walk
using RenderStems = NoPayload<CmdRenderStems>; // export the last trigger, one file per pool
using RenderMix = NoPayload<CmdRenderMix>;     // export the last trigger as one mix

// 2 CmdClearPool, 3 CmdRemovePool, 9 CmdStopPool: a pool.
template <MessageId Id> struct PoolOnly
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 4;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, PoolOnly& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        return true;
    }
    bool operator==(const PoolOnly&) const = default;
};
using ClearPool = PoolOnly<CmdClearPool>;   // drop the samples, keep the settings
using RemovePool = PoolOnly<CmdRemovePool>; // reset the pool and hide it
using StopPool = PoolOnly<CmdStopPool>;     // fade out the pool's voices (trigger ring)

// 4 CmdRemoveSample, 7 CmdPlaySample, 39 CmdSelectSample: a pool and a sample of it.
template <MessageId Id> struct PoolSample
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    uint32_t sampleIndex = 0; // position in the pool's sample list

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        putU32(out + 4, sampleIndex);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, PoolSample& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.sampleIndex = getU32(p + 4);
        return true;
    }
    bool operator==(const PoolSample&) const = default;
};
using RemoveSample = PoolSample<CmdRemoveSample>;
using PlaySample = PoolSample<CmdPlaySample>; // audition one sample (trigger ring)
using SelectSample = PoolSample<CmdSelectSample>;

// 1 CmdLoadToPool: a pool, then the file's path to the end of the payload (no terminator). A
// relative path is resolved against the project folder by the receiver.
struct LoadToPool
{
    static constexpr MessageId kId = CmdLoadToPool;
    static constexpr uint32_t kMaxSize = kMaxCommandPayload; // a path of at most 4092 bytes

    uint32_t pool = 0;
    std::string path;

    size_t size() const { return 4 + path.size(); }
    bool fits() const { return size() <= kMaxSize; }
    uint32_t encode(uint8_t* out) const
    {
        if (!fits())
            return 0;
        putU32(out, pool);
        std::memcpy(out + 4, path.data(), path.size());
        return uint32_t(size());
    }
    static bool decode(const uint8_t* p, uint32_t size, LoadToPool& out)
    {
        if (size < 4)
            return false;
        out.pool = getU32(p);
        out.path.assign(reinterpret_cast<const char*>(p + 4), size - 4);
        return true;
    }
    bool operator==(const LoadToPool&) const = default;
};

// 5 CmdTrigger: one random trigger of every pool.
struct Trigger
{
    static constexpr MessageId kId = CmdTrigger;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kMaxSize = kSize;

    uint64_t seed = 0; // seeds every pool's draw

    uint32_t encode(uint8_t* out) const
    {
        putU64(out, seed);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, Trigger& out)
    {
        if (size < kSize)
            return false;
        out.seed = getU64(p);
        return true;
    }
    bool operator==(const Trigger&) const = default;
};

// 14 CmdSetPitch, 15 CmdSetVolume, 16 CmdSetPan, 17 CmdSetDelay, 18 CmdSetStart: one of a pool's
// randomised parameters.
template <MessageId Id> struct RangedParam
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 13;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    float base = 0.0f;  // centre, in the parameter's unit (see the aliases)
    float range = 0.0f; // random spread 0..1
    bool enabled = false;

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        putF32(out + 4, base);
        putF32(out + 8, range);
        out[12] = enabled ? 1 : 0;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, RangedParam& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.base = getF32(p + 4);
        out.range = getF32(p + 8);
        out.enabled = p[12] != 0;
        return true;
    }
    bool operator==(const RangedParam&) const = default;
};
using SetPitch = RangedParam<CmdSetPitch>;   // base in semitones
using SetVolume = RangedParam<CmdSetVolume>; // base in dB
using SetPan = RangedParam<CmdSetPan>;       // base in percent, -100 left .. +100 right
using SetDelay = RangedParam<CmdSetDelay>;   // base in ms 0..3000
using SetStart = RangedParam<CmdSetStart>;   // base in percent of the region 0..100

// 19 CmdSetReverseChance.
struct SetReverseChance
{
    static constexpr MessageId kId = CmdSetReverseChance;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    float percent = 0.0f; // chance of playing backwards, 0..100

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        putF32(out + 4, percent);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetReverseChance& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.percent = getF32(p + 4);
        return true;
    }
    bool operator==(const SetReverseChance&) const = default;
};

// 48 CmdSetHpf, 49 CmdSetLpf: a pool's filter cut-off.
template <MessageId Id> struct FilterCutoff
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    float hz = 0.0f; // 0..20000; high-pass off at 0, low-pass off at 20000

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        putF32(out + 4, hz);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, FilterCutoff& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.hz = getF32(p + 4);
        return true;
    }
    bool operator==(const FilterCutoff&) const = default;
};
using SetHpf = FilterCutoff<CmdSetHpf>;
using SetLpf = FilterCutoff<CmdSetLpf>;

// 52 CmdSetFadeIn, 53 CmdSetFadeOut: a pool's fade length.
template <MessageId Id> struct Fade
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    float fraction = 0.0f; // of the voice's output length, 0..0.5

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        putF32(out + 4, fraction);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, Fade& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.fraction = getF32(p + 4);
        return true;
    }
    bool operator==(const Fade&) const = default;
};
using SetFadeIn = Fade<CmdSetFadeIn>;
using SetFadeOut = Fade<CmdSetFadeOut>;

// 31 CmdRenamePool: a pool, then the name's bytes to the end of the payload (the receiver keeps
// the first 31).
struct RenamePool
{
    static constexpr MessageId kId = CmdRenamePool;
    static constexpr uint32_t kMaxSize = kMaxCommandPayload;

    uint32_t pool = 0;
    std::string name; // UTF-8, no terminator

    size_t size() const { return 4 + name.size(); }
    bool fits() const { return size() <= kMaxSize; }
    uint32_t encode(uint8_t* out) const
    {
        if (!fits())
            return 0;
        putU32(out, pool);
        std::memcpy(out + 4, name.data(), name.size());
        return uint32_t(size());
    }
    static bool decode(const uint8_t* p, uint32_t size, RenamePool& out)
    {
        if (size < 4)
            return false;
        out.pool = getU32(p);
        out.name.assign(reinterpret_cast<const char*>(p + 4), size - 4);
        return true;
    }
    bool operator==(const RenamePool&) const = default;
};

// One flag byte: 21, 23, 25, 26, 28, 30 (master chain), 32 CmdSetRetriggerMode,
// 33 CmdSetAutoSplit, 45 CmdSetBus1ToMaster.
template <MessageId Id> struct Flag
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 1;
    static constexpr uint32_t kMaxSize = kSize;

    bool on = false;

    uint32_t encode(uint8_t* out) const
    {
        out[0] = on ? 1 : 0;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, Flag& out)
    {
        if (size < kSize)
            return false;
        out.on = p[0] != 0;
        return true;
    }
    bool operator==(const Flag&) const = default;
};
using SetMasterBypass = Flag<CmdSetMasterBypass>;
using SetMasterEQBypass = Flag<CmdSetMasterEQBypass>;
using SetMasterEnhanceBypass = Flag<CmdSetMasterEnhanceBypass>;
using SetMasterEnhanceMulti = Flag<CmdSetMasterEnhanceMulti>; // multiband enhance
using SetMasterReverbBypass = Flag<CmdSetMasterReverbBypass>;
using SetMasterLimiterBypass = Flag<CmdSetMasterLimiterBypass>;
using SetRetriggerMode = Flag<CmdSetRetriggerMode>; // on: "Single"
using SetAutoSplit = Flag<CmdSetAutoSplit>;         // split later loads at their pauses
using SetBus1ToMaster = Flag<CmdSetBus1ToMaster>;   // on: bus 1 to the master ("-> M")

// A pool and a flag byte: 34 CmdSetPoolVisible, 35 CmdSetPoolSolo, 36 CmdSetPoolMute,
// 37 CmdSetPoolFreeze, 54 CmdSetPitchTrack, 55 CmdSetGrainCloud.
template <MessageId Id> struct PoolFlag
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 5;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    bool on = false;

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        out[4] = on ? 1 : 0;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, PoolFlag& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.on = p[4] != 0;
        return true;
    }
    bool operator==(const PoolFlag&) const = default;
};
using SetPoolVisible = PoolFlag<CmdSetPoolVisible>;
using SetPoolSolo = PoolFlag<CmdSetPoolSolo>;
using SetPoolMute = PoolFlag<CmdSetPoolMute>;
using SetPoolFreeze = PoolFlag<CmdSetPoolFreeze>; // lock the pool on its last draw
using SetPitchTrack = PoolFlag<CmdSetPitchTrack>; // follow the played note
using SetGrainCloud = PoolFlag<CmdSetGrainCloud>; // walk cloud of grains instead of one voice

// 38 CmdSetSampleRegion: where a sample's region lies in its file.
struct SetSampleRegion
{
    static constexpr MessageId kId = CmdSetSampleRegion;
    static constexpr uint32_t kSize = 24;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    uint32_t sampleIndex = 0;
    int64_t offset = 0;  // first frame in the file; negative counts as 0
    uint64_t length = 0; // frames; 0 means to the end of the file

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        putU32(out + 4, sampleIndex);
        putU64(out + 8, uint64_t(offset));
        putU64(out + 16, length);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetSampleRegion& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.sampleIndex = getU32(p + 4);
        out.offset = getI64(p + 8);
        out.length = getU64(p + 16);
        return true;
    }
    bool operator==(const SetSampleRegion&) const = default;
};

// 40 CmdSetVolumeEnv, 46 CmdSetPanEnv, 47 CmdSetPitchEnv, 50 CmdSetHpfEnv, 51 CmdSetLpfEnv: a
// pool, then the envelope's 520-byte image (64 points of x and y, the count, the enabled byte,
// three zero bytes).
template <MessageId Id> struct Envelope
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 4 + 520;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    EnvelopeData envelope; // count as sent: the receiver limits it to the points

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        uint8_t* image = out + 4;
        for (int i = 0; i < kMaxEnvelopePoints; ++i) {
            putF32(image + 8 * i, envelope.points[i].x);
            putF32(image + 8 * i + 4, envelope.points[i].y);
        }
        putU32(image + 512, envelope.count);
        image[516] = envelope.enabled ? 1 : 0;
        image[517] = image[518] = image[519] = 0;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, Envelope& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        const uint8_t* image = p + 4;
        for (int i = 0; i < kMaxEnvelopePoints; ++i) {
            out.envelope.points[i].x = getF32(image + 8 * i);
            out.envelope.points[i].y = getF32(image + 8 * i + 4);
        }
        out.envelope.count = getU32(image + 512);
        out.envelope.enabled = image[516] != 0;
        return true;
    }
    bool operator==(const Envelope& o) const
    {
        if (pool != o.pool || envelope.count != o.envelope.count ||
            envelope.enabled != o.envelope.enabled)
            return false;
        for (int i = 0; i < kMaxEnvelopePoints; ++i)
            if (envelope.points[i].x != o.envelope.points[i].x ||
                envelope.points[i].y != o.envelope.points[i].y)
                return false;
        return true;
    }
};
static_assert(sizeof(EnvelopeData) == 520);
using SetVolumeEnv = Envelope<CmdSetVolumeEnv>; // y in dB, added to the volume
using SetPanEnv = Envelope<CmdSetPanEnv>;       // y in pan percent, added to the pan
using SetPitchEnv = Envelope<CmdSetPitchEnv>;   // y in semitones, added to the pitch
using SetHpfEnv = Envelope<CmdSetHpfEnv>;       // y in Hz, replaces the high-pass cut-off
using SetLpfEnv = Envelope<CmdSetLpfEnv>;       // y in Hz, replaces the low-pass cut-off

// 41 CmdSetPoolRoute: where a pool's voices go.
struct SetPoolRoute
{
    static constexpr MessageId kId = CmdSetPoolRoute;
    static constexpr uint32_t kSize = 5;
    static constexpr uint32_t kMaxSize = kSize;

    uint32_t pool = 0;
    PoolRoute route = PoolRoute::Bus1; // one byte; the receiver accepts 0..2

    uint32_t encode(uint8_t* out) const
    {
        putU32(out, pool);
        out[4] = uint8_t(route);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetPoolRoute& out)
    {
        if (size < kSize)
            return false;
        out.pool = getU32(p);
        out.route = PoolRoute(p[4]);
        return true;
    }
    bool operator==(const SetPoolRoute&) const = default;
};

// 20 CmdSetMasterOutputGain.
struct SetMasterOutputGain
{
    static constexpr MessageId kId = CmdSetMasterOutputGain;
    static constexpr uint32_t kSize = 4;
    static constexpr uint32_t kMaxSize = kSize;

    float db = 0.0f; // -48 and below is silence

    uint32_t encode(uint8_t* out) const
    {
        putF32(out, db);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetMasterOutputGain& out)
    {
        if (size < kSize)
            return false;
        out.db = getF32(p);
        return true;
    }
    bool operator==(const SetMasterOutputGain&) const = default;
};

// 22 CmdSetMasterEQ: the three bands' gains.
struct SetMasterEQ
{
    static constexpr MessageId kId = CmdSetMasterEQ;
    static constexpr uint32_t kSize = 12;
    static constexpr uint32_t kMaxSize = kSize;

    float lowDb = 0.0f;
    float midDb = 0.0f;
    float highDb = 0.0f;

    uint32_t encode(uint8_t* out) const
    {
        putF32(out, lowDb);
        putF32(out + 4, midDb);
        putF32(out + 8, highDb);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetMasterEQ& out)
    {
        if (size < kSize)
            return false;
        out.lowDb = getF32(p);
        out.midDb = getF32(p + 4);
        out.highDb = getF32(p + 8);
        return true;
    }
    bool operator==(const SetMasterEQ&) const = default;
};

// 24 CmdSetMasterEnhance.
struct SetMasterEnhance
{
    static constexpr MessageId kId = CmdSetMasterEnhance;
    static constexpr uint32_t kSize = 12;
    static constexpr uint32_t kMaxSize = kSize;

    float driveDb = 0.0f;
    float amountPercent = 0.0f;
    float shape = 0.0f;

    uint32_t encode(uint8_t* out) const
    {
        putF32(out, driveDb);
        putF32(out + 4, amountPercent);
        putF32(out + 8, shape);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetMasterEnhance& out)
    {
        if (size < kSize)
            return false;
        out.driveDb = getF32(p);
        out.amountPercent = getF32(p + 4);
        out.shape = getF32(p + 8);
        return true;
    }
    bool operator==(const SetMasterEnhance&) const = default;
};

// 27 CmdSetMasterReverb.
struct SetMasterReverb
{
    static constexpr MessageId kId = CmdSetMasterReverb;
    static constexpr uint32_t kSize = 24;
    static constexpr uint32_t kMaxSize = kSize;

    float size = 0.0f;
    float damp = 0.0f;
    float decaySeconds = 0.0f;
    float mix = 0.0f;
    float width = 0.0f;
    float early = 0.0f;

    uint32_t encode(uint8_t* out) const
    {
        putF32(out, size);
        putF32(out + 4, damp);
        putF32(out + 8, decaySeconds);
        putF32(out + 12, mix);
        putF32(out + 16, width);
        putF32(out + 20, early);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t length, SetMasterReverb& out)
    {
        if (length < kSize)
            return false;
        out.size = getF32(p);
        out.damp = getF32(p + 4);
        out.decaySeconds = getF32(p + 8);
        out.mix = getF32(p + 12);
        out.width = getF32(p + 16);
        out.early = getF32(p + 20);
        return true;
    }
    bool operator==(const SetMasterReverb&) const = default;
};

// 29 CmdSetMasterLimiter.
struct SetMasterLimiter
{
    static constexpr MessageId kId = CmdSetMasterLimiter;
    static constexpr uint32_t kSize = 12;
    static constexpr uint32_t kMaxSize = kSize;

    float thresholdDb = 0.0f;
    float ceilingDb = 0.0f;
    float releaseMs = 0.0f;

    uint32_t encode(uint8_t* out) const
    {
        putF32(out, thresholdDb);
        putF32(out + 4, ceilingDb);
        putF32(out + 8, releaseMs);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetMasterLimiter& out)
    {
        if (size < kSize)
            return false;
        out.thresholdDb = getF32(p);
        out.ceilingDb = getF32(p + 4);
        out.releaseMs = getF32(p + 8);
        return true;
    }
    bool operator==(const SetMasterLimiter&) const = default;
};

// 42 CmdSetLaneBypass, 43 CmdSetLaneMute, 44 CmdSetLaneSolo: a lane and a flag byte.
template <MessageId Id> struct LaneFlag
{
    static constexpr MessageId kId = Id;
    static constexpr uint32_t kSize = 2;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t lane = 0; // FX bus 1 or 2 as 0 or 1
    bool on = false;

    uint32_t encode(uint8_t* out) const
    {
        out[0] = lane;
        out[1] = on ? 1 : 0;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, LaneFlag& out)
    {
        if (size < kSize)
            return false;
        out.lane = p[0];
        out.on = p[1] != 0;
        return true;
    }
    bool operator==(const LaneFlag&) const = default;
};
using SetLaneBypass = LaneFlag<CmdSetLaneBypass>;
using SetLaneMute = LaneFlag<CmdSetLaneMute>;
using SetLaneSolo = LaneFlag<CmdSetLaneSolo>;

// 56 CmdAddFxSlot: a module of a registry type appended to a lane.
struct AddFxSlot
{
    static constexpr MessageId kId = CmdAddFxSlot;
    static constexpr uint32_t kSize = 2;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t lane = 0;
    uint8_t fxType = 0; // FXType 1..30

    uint32_t encode(uint8_t* out) const
    {
        out[0] = lane;
        out[1] = fxType;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, AddFxSlot& out)
    {
        if (size < kSize)
            return false;
        out.lane = p[0];
        out.fxType = p[1];
        return true;
    }
    bool operator==(const AddFxSlot&) const = default;
};

// 57 CmdRemoveFxSlot.
struct RemoveFxSlot
{
    static constexpr MessageId kId = CmdRemoveFxSlot;
    static constexpr uint32_t kSize = 2;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t lane = 0;
    uint8_t slot = 0; // position in the lane

    uint32_t encode(uint8_t* out) const
    {
        out[0] = lane;
        out[1] = slot;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, RemoveFxSlot& out)
    {
        if (size < kSize)
            return false;
        out.lane = p[0];
        out.slot = p[1];
        return true;
    }
    bool operator==(const RemoveFxSlot&) const = default;
};

// 58 CmdSetFxSlotBypass.
struct SetFxSlotBypass
{
    static constexpr MessageId kId = CmdSetFxSlotBypass;
    static constexpr uint32_t kSize = 3;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t lane = 0;
    uint8_t slot = 0;
    bool bypassed = false;

    uint32_t encode(uint8_t* out) const
    {
        out[0] = lane;
        out[1] = slot;
        out[2] = bypassed ? 1 : 0;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetFxSlotBypass& out)
    {
        if (size < kSize)
            return false;
        out.lane = p[0];
        out.slot = p[1];
        out.bypassed = p[2] != 0;
        return true;
    }
    bool operator==(const SetFxSlotBypass&) const = default;
};

// 59 CmdSetFxParam: one knob of a slot (the value's float sits at an odd offset).
struct SetFxParam
{
    static constexpr MessageId kId = CmdSetFxParam;
    static constexpr uint32_t kSize = 7;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t lane = 0;
    uint8_t slot = 0;
    uint8_t knob = 0;   // 0..15
    float value = 0.0f; // in the registry's unit of that knob

    uint32_t encode(uint8_t* out) const
    {
        out[0] = lane;
        out[1] = slot;
        out[2] = knob;
        putF32(out + 3, value);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, SetFxParam& out)
    {
        if (size < kSize)
            return false;
        out.lane = p[0];
        out.slot = p[1];
        out.knob = p[2];
        out.value = getF32(p + 3);
        return true;
    }
    bool operator==(const SetFxParam&) const = default;
};

// 61 CmdMoveFxSlot: within a lane or into the other one.
struct MoveFxSlot
{
    static constexpr MessageId kId = CmdMoveFxSlot;
    static constexpr uint32_t kSize = 4;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t fromLane = 0;
    uint8_t fromSlot = 0;
    uint8_t toLane = 0;
    uint8_t toIndex = 0; // insertion index in the destination lane, before the move

    uint32_t encode(uint8_t* out) const
    {
        out[0] = fromLane;
        out[1] = fromSlot;
        out[2] = toLane;
        out[3] = toIndex;
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, MoveFxSlot& out)
    {
        if (size < kSize)
            return false;
        out.fromLane = p[0];
        out.fromSlot = p[1];
        out.toLane = p[2];
        out.toIndex = p[3];
        return true;
    }
    bool operator==(const MoveFxSlot&) const = default;
};

// 62 CmdBindFxModulation: a knob follows one of the five modulation sources.
struct BindFxModulation
{
    static constexpr MessageId kId = CmdBindFxModulation;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kMaxSize = kSize;

    uint8_t lane = 0;
    uint8_t slot = 0;
    uint8_t knob = 0;   // 0..15
    uint8_t source = 0; // ModSource 0..4: None, Pressure, Slide, Bend, Velocity
    float depth = 0.0f; // -1..1

    uint32_t encode(uint8_t* out) const
    {
        out[0] = lane;
        out[1] = slot;
        out[2] = knob;
        out[3] = source;
        putF32(out + 4, depth);
        return kSize;
    }
    static bool decode(const uint8_t* p, uint32_t size, BindFxModulation& out)
    {
        if (size < kSize)
            return false;
        out.lane = p[0];
        out.slot = p[1];
        out.knob = p[2];
        out.source = p[3];
        out.depth = getF32(p + 4);
        return true;
    }
    bool operator==(const BindFxModulation&) const = default;
};

// One module of an FX chain: 3 + 9 * knobCount bytes (type, bypass, knobCount, the values, the
// sources, the depths).
struct FxChainEntry
{
    static constexpr uint32_t kMaxKnobs = 16;

    uint8_t fxType = 0; // FXType 1..30; the receiver skips others
    bool bypassed = false;
    uint8_t knobCount = 0;           // knobs carried, at most kMaxKnobs
    float values[kMaxKnobs] = {};    // in the registry's units
    uint8_t sources[kMaxKnobs] = {}; // ModSource per knob
    float depths[kMaxKnobs] = {};    // modulation depth per knob, -1..1
    // Knobs from knobCount on are not sent, and zero when decoded.

    size_t size() const { return 3 + 9 * size_t(knobCount); }
    bool operator==(const FxChainEntry&) const = default;
};

// 63 CmdAppendFxChain: a lane, the entry count, then the entries back to back. Built from a
// lane's state by sendAppendLanePreset.
struct AppendFxChain
{
    static constexpr MessageId kId = CmdAppendFxChain;
    static constexpr uint32_t kMaxSize = kMaxCommandPayload;

    uint8_t lane = 0;
    std::vector<FxChainEntry> entries; // at most 255
    // Decoded only: the payload ended inside the entry after the last decoded one (or that entry
    // claimed more than 16 knobs). The receiver keeps what came before.
    bool truncated = false;

    size_t size() const
    {
        size_t n = 2;
        for (const FxChainEntry& e : entries)
            n += e.size();
        return n;
    }
    bool fits() const
    {
        if (entries.size() > 255)
            return false;
        for (const FxChainEntry& e : entries)
            if (e.knobCount > FxChainEntry::kMaxKnobs)
                return false;
        return size() <= kMaxSize;
    }
    uint32_t encode(uint8_t* out) const
    {
        if (!fits())
            return 0;
        out[0] = lane;
        out[1] = uint8_t(entries.size());
        uint8_t* p = out + 2;
        for (const FxChainEntry& e : entries) {
            const uint32_t n = e.knobCount;
            p[0] = e.fxType;
            p[1] = e.bypassed ? 1 : 0;
            p[2] = uint8_t(n);
            p += 3;
            for (uint32_t k = 0; k < n; ++k, p += 4)
                putF32(p, e.values[k]);
            for (uint32_t k = 0; k < n; ++k)
                *p++ = e.sources[k];
            for (uint32_t k = 0; k < n; ++k, p += 4)
                putF32(p, e.depths[k]);
        }
        return uint32_t(p - out);
    }
    static bool decode(const uint8_t* p, uint32_t size, AppendFxChain& out)
    {
        if (size < 2)
            return false;
        out.lane = p[0];
        out.entries.clear();
        out.truncated = false;
        const uint32_t count = p[1];
        out.entries.reserve(std::min<uint32_t>(count, (size - 2) / 3));
        uint32_t offset = 2;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t left = size - offset;
            const uint32_t n = left >= 3 ? p[offset + 2] : 0;
            if (left < 3 || n > FxChainEntry::kMaxKnobs || left < 3 + 9 * n) {
                out.truncated = true;
                break;
            }
            const uint8_t* q = p + offset;
            FxChainEntry& e = out.entries.emplace_back();
            e.fxType = q[0];
            e.bypassed = q[1] != 0;
            e.knobCount = uint8_t(n);
            for (uint32_t k = 0; k < n; ++k) {
                e.values[k] = getF32(q + 3 + 4 * k);
                e.sources[k] = q[3 + 4 * n + k];
                e.depths[k] = getF32(q + 3 + 5 * n + 4 * k);
            }
            offset += 3 + 9 * n;
        }
        return true;
    }
    bool operator==(const AppendFxChain&) const = default;
};

} // namespace vesk::msg
