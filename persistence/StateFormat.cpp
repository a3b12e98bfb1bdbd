#include "StateFormat.h"

#include "fx/FXModule.h"

#include <algorithm>
#include <cstring>

namespace vesk {

namespace {

// Bytes of the smallest records, for checking counts against what remains.
constexpr uint64_t kEnvelopePointBytes = 8;
constexpr uint64_t kSlotMinBytes = 3; // type, bypass, k = 0

// Randomizer centre limits: wider than the editor's knobs, but never able to overflow a draw.
struct RandomizerLimits
{
    float baseMin;
    float baseMax;
};
constexpr RandomizerLimits kPitchLimits{-96.0f, 96.0f};   // semitones
constexpr RandomizerLimits kVolumeLimits{-150.0f, 24.0f}; // dB
constexpr RandomizerLimits kPanLimits{-100.0f, 100.0f};   // percent
constexpr RandomizerLimits kDelayLimits{0.0f, 3000.0f};   // ms
constexpr RandomizerLimits kStartLimits{0.0f, 100.0f};    // percent

bool serializeRandomizer(StateSerializer& s, ParamRandomizer& r, RandomizerLimits limits)
{
    const bool ok = s.io(r.base) && s.io(r.range) && s.ioBool(r.enabled);
    if (!s.writing) {
        r.base = sanitizeFloat(r.base, limits.baseMin, limits.baseMax, 0.0f);
        r.range = sanitizeFloat(r.range, 0.0f, 1.0f, 0.0f);
    }
    return ok;
}

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

} // namespace

bool isSaneStateRate(double rateHz)
{
    return std::isfinite(rateHz) && rateHz >= kMinStateRateHz && rateHz <= kMaxStateRateHz;
}

std::string storedSamplePath(const std::string& path, const std::string& projectRoot)
{
    const std::string prefix = kProjectPathPrefix;
    if (projectRoot.empty() || path.empty() || path.rfind(prefix, 0) == 0) {
        return path;
    }
    if (path.size() > projectRoot.size() && path.compare(0, projectRoot.size(), projectRoot) == 0 &&
        isSeparator(path[projectRoot.size()])) {
        return prefix + path.substr(projectRoot.size() + 1);
    }
    return path;
}

std::string resolveStoredSamplePath(const std::string& stored, const std::string& currentRoot,
                                    const std::string& storedRoot, FileExistsFunction exists)
{
    const std::string prefix = kProjectPathPrefix;
    if (stored.size() >= prefix.size() && stored.compare(0, prefix.size(), prefix) == 0) {
        const std::string rel = stored.substr(prefix.size());
        for (const std::string* root : {&currentRoot, &storedRoot}) {
            if (!root->empty()) {
                std::string candidate = *root + "/" + rel;
                if (exists(candidate)) {
                    return candidate;
                }
            }
        }
        return {};
    }
    return exists(stored) ? stored : std::string();
}

std::string utf8Prefix(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return text;
    }
    size_t end = maxBytes;
    // Step back over continuation bytes to the start of the sequence that straddles the cut.
    size_t lead = end;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) {
        --lead;
    }
    if (lead < end || (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        end = lead;
    }
    return text.substr(0, end);
}

bool serializeEnvelope(StateSerializer& s, EnvelopeData& env)
{
    if (s.writing) {
        uint32_t count = std::min<uint32_t>(env.count, kMaxEnvelopePoints);
        if (!s.io(count) || !s.ioBool(env.enabled)) {
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (!s.io(env.points[i].x) || !s.io(env.points[i].y)) {
                return false;
            }
        }
        return true;
    }
    uint32_t count = 0;
    bool enabled = false;
    if (!s.io(count) || !s.ioBool(enabled) || !s.fitsCount(count, kEnvelopePointBytes)) {
        return false;
    }
    EnvelopeData read;
    read.enabled = enabled;
    read.count = std::min<uint32_t>(count, kMaxEnvelopePoints);
    float previousX = 0.0f;
    for (uint32_t i = 0; i < count; ++i) {
        EnvelopePoint p;
        if (!s.io(p.x) || !s.io(p.y)) {
            return false;
        }
        if (i < static_cast<uint32_t>(kMaxEnvelopePoints)) {
            p.x = std::max(previousX, sanitizeFloat(p.x, 0.0f, 1.0f, previousX));
            p.y = sanitizeFloat(p.y, -20000.0f, 20000.0f, 0.0f);
            previousX = p.x;
            read.points[i] = p;
        }
    }
    env = read;
    return true;
}

bool serializePoolSettings(StateSerializer& s, SamplePool& pool)
{
    if (!serializeRandomizer(s, pool.pitch, kPitchLimits) ||
        !serializeRandomizer(s, pool.volume, kVolumeLimits) ||
        !serializeRandomizer(s, pool.pan, kPanLimits) ||
        !serializeRandomizer(s, pool.delay, kDelayLimits) ||
        !serializeRandomizer(s, pool.start, kStartLimits)) {
        return false;
    }
    if (!s.io(pool.reverseChance)) {
        return false;
    }
    if (!s.writing) {
        pool.reverseChance = sanitizeFloat(pool.reverseChance, 0.0f, 100.0f, 100.0f);
    }

    std::string name(pool.name, strnlen(pool.name, sizeof pool.name));
    if (!s.ioString(name)) {
        return false;
    }
    if (!s.writing) {
        const std::string kept = utf8Prefix(name, kPoolNameSize - 1);
        std::memset(pool.name, 0, sizeof pool.name);
        std::memcpy(pool.name, kept.data(), kept.size());
    }

    if (!serializeEnvelope(s, pool.volumeEnv) || !serializeEnvelope(s, pool.panEnv) ||
        !serializeEnvelope(s, pool.pitchEnv)) {
        return false;
    }
    if (!s.io(pool.hpfHz) || !s.io(pool.lpfHz)) {
        return false;
    }
    if (!s.writing) {
        pool.hpfHz = sanitizeFloat(pool.hpfHz, 0.0f, 20000.0f, 0.0f);
        pool.lpfHz = sanitizeFloat(pool.lpfHz, 0.0f, 20000.0f, 20000.0f);
    }
    if (!serializeEnvelope(s, pool.hpfEnv) || !serializeEnvelope(s, pool.lpfEnv)) {
        return false;
    }

    uint8_t route = static_cast<uint8_t>(pool.outputRoute);
    if (!s.io(route)) {
        return false;
    }
    if (!s.writing) {
        pool.outputRoute = poolRouteFromByte(route);
    }
    if (!s.io(pool.fadeIn) || !s.io(pool.fadeOut)) {
        return false;
    }
    if (!s.writing) {
        pool.fadeIn = sanitizeFloat(pool.fadeIn, 0.0f, 0.5f, 0.0f);
        pool.fadeOut = sanitizeFloat(pool.fadeOut, 0.0f, 0.5f, 0.0f);
    }
    return s.ioBool(pool.pitchTrack) && s.ioBool(pool.grainCloud);
}

namespace {

bool writeLane(StateSerializer& s, FXLane& lane)
{
    uint8_t count = static_cast<uint8_t>(std::clamp<int32_t>(lane.slotCount, 0, kMaxSlots));
    if (!s.ioBool(lane.bypassed) || !s.ioBool(lane.muted) || !s.ioBool(lane.soloed) ||
        !s.io(count)) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        FXSlot& slot = lane.slots[i];
        const FXModuleInfo* info = getFXModuleInfo(uint32_t(slot.type));
        uint8_t k = info != nullptr
                        ? static_cast<uint8_t>(std::min<uint32_t>(info->paramCount, kMaxFXParams))
                        : 0;
        if (!s.io(slot.type) || !s.ioBool(slot.bypassed) || !s.io(k)) {
            return false;
        }
        for (int p = 0; p < k; ++p) {
            if (!s.io(slot.params[p])) {
                return false;
            }
        }
        for (int p = 0; p < k; ++p) {
            if (!s.io(slot.modSource[p]) || !s.io(slot.modDepth[p])) {
                return false;
            }
        }
    }
    return true;
}

struct SlotRecord
{
    uint8_t type = 0;
    bool bypassed = false;
    uint8_t k = 0;
    float values[kMaxFXParams] = {};
    uint8_t sources[kMaxFXParams] = {};
    float depths[kMaxFXParams] = {};
};

bool readSlotRecord(StateSerializer& s, SlotRecord& r)
{
    if (!s.io(r.type) || !s.ioBool(r.bypassed) || !s.io(r.k)) {
        return false;
    }
    for (int p = 0; p < r.k; ++p) {
        float v = 0.0f;
        if (!s.io(v)) {
            return false;
        }
        if (p < kMaxFXParams) {
            r.values[p] = v;
        }
    }
    for (int p = 0; p < r.k; ++p) {
        uint8_t source = 0;
        float depth = 0.0f;
        if (!s.io(source) || !s.io(depth)) {
            return false;
        }
        if (p < kMaxFXParams) {
            r.sources[p] = source;
            r.depths[p] = depth;
        }
    }
    return true;
}

void applySlotRecord(FXLane& lane, const SlotRecord& r)
{
    const int index = lane.appendModule(r.type);
    if (index < 0) {
        return;
    }
    FXSlot& slot = lane.slots[index];
    const int stored = std::min<int>(r.k, kMaxFXParams);
    for (uint32_t p = 0; p < kMaxFXParams; ++p) {
        if (p >= slot.paramCount) {
            slot.params[p] = 0.0f;
            slot.modSource[p] = 0;
            slot.modDepth[p] = 0.0f;
            continue;
        }
        const float lo = slot.paramMin[p];
        const float hi = slot.paramMax[p];
        const float fallback = slot.params[p]; // the registry default
        const float value = int(p) < stored ? r.values[p] : 0.0f;
        slot.params[p] = sanitizeFloat(value, lo, hi, fallback);
        const uint8_t source = int(p) < stored ? r.sources[p] : 0;
        if (source == 0 || source >= kModBusSize) {
            slot.modSource[p] = 0;
            slot.modDepth[p] = 0.0f;
        } else {
            slot.modSource[p] = source;
            slot.modDepth[p] = sanitizeFloat(r.depths[p], -1.0f, 1.0f, 0.0f);
        }
    }
    slot.bypassed = r.bypassed;
}

bool readLane(StateSerializer& s, FXLane& lane)
{
    while (lane.slotCount > 0) {
        lane.removeSlot(lane.slotCount - 1);
    }
    bool bypassed = false, muted = false, soloed = false;
    uint8_t count = 0;
    if (!s.ioBool(bypassed) || !s.ioBool(muted) || !s.ioBool(soloed) || !s.io(count) ||
        !s.fitsCount(count, kSlotMinBytes)) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        SlotRecord record;
        if (!readSlotRecord(s, record)) {
            return false;
        }
        if (i < kMaxSlots) {
            applySlotRecord(lane, record);
        }
    }
    lane.bypassed = bypassed;
    lane.muted = muted;
    lane.soloed = soloed;
    return true;
}

} // namespace

bool serializeLane(StateSerializer& s, FXLane& lane)
{
    return s.writing ? writeLane(s, lane) : readLane(s, lane);
}

bool serializeFrozenParams(StateSerializer& s, VoiceParams& params, const SamplePool& pool)
{
    if (s.writing) {
        if (!s.ioBool(params.valid)) {
            return false;
        }
        if (!params.valid) {
            return true;
        }
        uint32_t index = static_cast<uint32_t>(std::min<uint64_t>(params.sampleIndex, 0xFFFFFFFFu));
        return s.io(index) && s.io(params.pitchRatio) && s.io(params.gain) && s.io(params.pan) &&
               s.io(params.delayMs) && s.io(params.startPercent) && s.ioBool(params.reverse);
    }
    bool valid = false;
    if (!s.ioBool(valid)) {
        return false;
    }
    VoiceParams read;
    if (!valid) {
        params = read;
        return true;
    }
    uint32_t index = 0;
    if (!s.io(index) || !s.io(read.pitchRatio) || !s.io(read.gain) || !s.io(read.pan) ||
        !s.io(read.delayMs) || !s.io(read.startPercent) || !s.ioBool(read.reverse)) {
        return false;
    }
    read.valid = true;
    read.sampleIndex = index;
    // 2^(+-8 octaves) and the draw's gain limits (+6 dB cap).
    read.pitchRatio = sanitizeFloat(read.pitchRatio, 1.0f / 256.0f, 256.0f, 1.0f);
    read.gain = sanitizeFloat(read.gain, 0.0f, 1.9952623f, 1.0f);
    read.pan = sanitizeFloat(read.pan, -100.0f, 100.0f, 0.0f);
    read.delayMs = sanitizeFloat(read.delayMs, 0.0f, 3000.0f, 0.0f);
    read.startPercent = sanitizeFloat(read.startPercent, 0.0f, 100.0f, 0.0f);

    // The voice plays centre + deviation, so the deviations are what make the draw sound the
    // same: recover them from the stored draw and the pool's centres read just before.
    const float pitchSemitones = 12.0f * std::log2(read.pitchRatio);
    read.pitchOffset = pitchSemitones - pool.pitch.base;
    const float volumeDb = read.gain > 0.0f ? 20.0f * std::log10(read.gain) : -150.0f;
    read.volumeOffsetDb = std::max(volumeDb, -150.0f) - pool.volume.base;
    read.panOffset = read.pan - pool.pan.base;
    params = read;
    return true;
}

bool writeSaltChunk(StateSerializer& s, uint64_t salt)
{
    if (!s.writing)
        return false;
    uint32_t tag = kSaltChunkTag;
    uint32_t length = 8;
    return s.io(tag) && s.io(length) && s.io(salt);
}

bool readSaltChunk(StateSerializer& s, uint64_t& salt)
{
    if (s.writing)
        return false;
    for (;;) {
        uint32_t tag = 0;
        uint32_t length = 0;
        if (s.remaining() < 8 || !s.io(tag) || !s.io(length) || length > s.remaining())
            return false;
        if (tag == kSaltChunkTag && length == 8) {
            uint64_t value = 0;
            if (!s.io(value))
                return false;
            salt = value;
            return true;
        }
        s.position += length;
    }
}

} // namespace vesk
