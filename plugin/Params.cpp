#include "Params.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vesk::params {

namespace {

constexpr uint32_t kContinuous = CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_MODULATABLE;
constexpr uint32_t kSwitch = CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_STEPPED;

struct SlotDef
{
    Kind kind;
    const char* label;
    double minValue, maxValue, defaultValue;
    uint32_t flags;
};

// The slots of one pool and one bus, in id order (the slot is the id's last two digits).
constexpr SlotDef kPoolSlotDefs[kPoolSlots] = {
    {Kind::PoolVolume, "Volume", -48.0, 12.0, 0.0, kContinuous},
    {Kind::PoolVolumeRandom, "Volume Random", 0.0, 100.0, 0.0, kContinuous},
    {Kind::PoolPan, "Pan", -100.0, 100.0, 0.0, kContinuous},
    {Kind::PoolPanRandom, "Pan Random", 0.0, 100.0, 0.0, kContinuous},
    {Kind::PoolPitch, "Pitch", -12.0, 12.0, 0.0, kContinuous},
    {Kind::PoolPitchRandom, "Pitch Random", 0.0, 100.0, 0.0, kContinuous},
    {Kind::PoolStart, "Start", 0.0, 100.0, 0.0, kContinuous},
    {Kind::PoolHpf, "HPF", 0.0, 20000.0, 0.0, kContinuous},
    {Kind::PoolLpf, "LPF", 0.0, 20000.0, 20000.0, kContinuous},
    {Kind::PoolReverse, "Reverse", 0.0, 100.0, 0.0, kContinuous},
    {Kind::PoolMute, "Mute", 0.0, 1.0, 0.0, kSwitch},
    {Kind::PoolSolo, "Solo", 0.0, 1.0, 0.0, kSwitch},
};
constexpr SlotDef kBusSlotDefs[kBusSlots] = {
    {Kind::BusBypass, "Bypass", 0.0, 1.0, 0.0, kSwitch},
    {Kind::BusMute, "Mute", 0.0, 1.0, 0.0, kSwitch},
    {Kind::BusSolo, "Solo", 0.0, 1.0, 0.0, kSwitch},
};
constexpr SlotDef kMasterSlotDefs[kMasterSlots] = {
    {Kind::MasterOutput, "Master Output", -48.0, 6.0, 0.0, kContinuous},
    {Kind::MasterBypass, "Master Bypass", 0.0, 1.0, 1.0, kSwitch},
    {Kind::LimiterCeiling, "Limiter Ceiling", -12.0, 0.0, -0.1, kContinuous},
};

ParamDef make(clap_id id, const SlotDef& s, int index, const char* module, const char* prefix)
{
    ParamDef d;
    d.id = id;
    d.kind = s.kind;
    d.index = int8_t(index);
    if (prefix != nullptr)
        std::snprintf(d.name, sizeof d.name, "%s %s", prefix, s.label);
    else
        std::snprintf(d.name, sizeof d.name, "%s", s.label);
    std::snprintf(d.module, sizeof d.module, "%s", module);
    d.minValue = s.minValue;
    d.maxValue = s.maxValue;
    d.defaultValue = s.defaultValue;
    d.flags = s.flags;
    return d;
}

std::array<ParamDef, kCount> buildTable()
{
    std::array<ParamDef, kCount> t{};
    size_t k = 0;
    char group[32];
    for (int p = 0; p < 8; ++p) {
        std::snprintf(group, sizeof group, "Pool %d", p + 1);
        for (uint32_t s = 0; s < kPoolSlots; ++s)
            t[k++] =
                make(kPoolBase + kGroupStride * clap_id(p) + s, kPoolSlotDefs[s], p, group, group);
    }
    for (int b = 0; b < 2; ++b) {
        std::snprintf(group, sizeof group, "FX Bus %d", b + 1);
        for (uint32_t s = 0; s < kBusSlots; ++s)
            t[k++] =
                make(kBusBase + kGroupStride * clap_id(b) + s, kBusSlotDefs[s], b, group, group);
    }
    for (uint32_t s = 0; s < kMasterSlots; ++s)
        t[k++] = make(kMasterBase + s, kMasterSlotDefs[s], -1, "Master", nullptr);
    return t;
}

const std::array<ParamDef, kCount>& theTable()
{
    static const std::array<ParamDef, kCount> t = buildTable();
    return t;
}

bool isRandom(Kind k)
{
    return k == Kind::PoolVolumeRandom || k == Kind::PoolPanRandom || k == Kind::PoolPitchRandom;
}

bool isSwitch(const ParamDef& def)
{
    return def.stepped();
}

const char* suffixOf(Kind k)
{
    switch (k) {
    case Kind::PoolVolume:
    case Kind::PoolVolumeRandom:
    case Kind::MasterOutput:
    case Kind::LimiterCeiling:
        return "dB";
    case Kind::PoolPan:
    case Kind::PoolPanRandom:
    case Kind::PoolStart:
    case Kind::PoolReverse:
        return "%";
    case Kind::PoolPitch:
    case Kind::PoolPitchRandom:
        return "st";
    case Kind::PoolHpf:
    case Kind::PoolLpf:
        return "Hz";
    default:
        return "";
    }
}

// The filters are off at the ends of their ranges: the high-pass at 0, the low-pass at 20000.
bool filterOff(Kind k, double v)
{
    return (k == Kind::PoolHpf && v <= 0.0) || (k == Kind::PoolLpf && v >= 20000.0);
}

bool equalsWord(const char* a, const char* word)
{
    size_t n = std::strlen(word);
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != word[i])
            return false;
    for (const char* rest = a + n; *rest != '\0'; ++rest)
        if (!std::isspace(static_cast<unsigned char>(*rest)))
            return false;
    return true;
}

} // namespace

const ParamDef* table()
{
    return theTable().data();
}

int indexOf(clap_id id)
{
    if (id >= kPoolBase && id < kPoolBase + 8 * kGroupStride) {
        const uint32_t slot = (id - kPoolBase) % kGroupStride;
        const uint32_t pool = (id - kPoolBase) / kGroupStride;
        return slot < kPoolSlots ? int(pool * kPoolSlots + slot) : -1;
    }
    if (id >= kBusBase && id < kBusBase + 2 * kGroupStride) {
        const uint32_t slot = (id - kBusBase) % kGroupStride;
        const uint32_t bus = (id - kBusBase) / kGroupStride;
        return slot < kBusSlots ? int(8 * kPoolSlots + bus * kBusSlots + slot) : -1;
    }
    if (id >= kMasterBase && id < kMasterBase + kMasterSlots)
        return int(8 * kPoolSlots + 2 * kBusSlots + (id - kMasterBase));
    return -1;
}

const ParamDef* find(clap_id id)
{
    const int i = indexOf(id);
    return i >= 0 ? &theTable()[size_t(i)] : nullptr;
}

bool sanitize(const ParamDef& def, double value, double& out)
{
    if (std::isnan(value))
        return false;
    value = std::clamp(value, def.minValue, def.maxValue);
    if (isSwitch(def))
        value = value >= 0.5 ? 1.0 : 0.0;
    out = value;
    return true;
}

bool sanitizeModulation(const ParamDef& def, double amount, double& out)
{
    if (!std::isfinite(amount))
        return false;
    const double span = def.maxValue - def.minValue;
    out = std::clamp(amount, -span, span);
    return true;
}

double randomSpanPerPercent(Kind kind)
{
    switch (kind) {
    case Kind::PoolVolumeRandom:
        return 20.0 / 100.0;
    case Kind::PoolPanRandom:
        return 100.0 / 100.0;
    case Kind::PoolPitchRandom:
        return 12.0 / 100.0;
    default:
        return 0.0;
    }
}

bool formatValue(const ParamDef& def, double value, char* out, size_t size)
{
    if (out == nullptr || size == 0)
        return false;
    double v = 0.0;
    if (!sanitize(def, value, v))
        v = def.defaultValue;
    const char* suffix = suffixOf(def.kind);
    if (isSwitch(def)) {
        std::snprintf(out, size, "%s", v >= 0.5 ? "On" : "Off");
    } else if (isRandom(def.kind)) {
        // As the knob's outer ring tells it: the spread either side, in the knob's unit.
        std::snprintf(out, size, "\xC2\xB1%.1f %s", v * randomSpanPerPercent(def.kind), suffix);
    } else if (def.kind == Kind::PoolHpf || def.kind == Kind::PoolLpf) {
        if (filterOff(def.kind, v))
            std::snprintf(out, size, "Off");
        else
            std::snprintf(out, size, "%.0f Hz", v);
    } else if ((def.kind == Kind::PoolVolume || def.kind == Kind::MasterOutput) &&
               v <= def.minValue + 0.1) {
        // The bottom of a volume is silence.
        std::snprintf(out, size, "-inf dB");
    } else {
        // One decimal; a value that rounds to zero shows no minus sign.
        const double shown = std::fabs(v) < 0.05 ? 0.0 : v;
        std::snprintf(out, size, "%.1f %s", shown, suffix);
    }
    return true;
}

bool parseValue(const ParamDef& def, const char* text, double& out)
{
    if (text == nullptr)
        return false;
    const char* s = text;
    while (std::isspace(static_cast<unsigned char>(*s)))
        ++s;
    if (isSwitch(def) || def.kind == Kind::PoolHpf || def.kind == Kind::PoolLpf) {
        if (equalsWord(s, "off")) {
            out = isSwitch(def) ? 0.0 : (def.kind == Kind::PoolHpf ? 0.0 : 20000.0);
            return true;
        }
        if (isSwitch(def) && equalsWord(s, "on")) {
            out = 1.0;
            return true;
        }
    }
    if ((def.kind == Kind::PoolVolume || def.kind == Kind::MasterOutput) &&
        std::strncmp(s, "-inf", 4) == 0) {
        out = def.minValue;
        return true;
    }
    // "±" before a spread, "+" before a positive number.
    if (std::strncmp(s, "\xC2\xB1", 2) == 0)
        s += 2;
    else if (*s == '+')
        ++s;
    char* end = nullptr;
    double v = std::strtod(s, &end);
    if (end == s || !std::isfinite(v))
        return false;
    while (std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    if ((def.kind == Kind::PoolHpf || def.kind == Kind::PoolLpf) && (*end == 'k' || *end == 'K'))
        v *= 1000.0;
    if (isRandom(def.kind))
        v /= randomSpanPerPercent(def.kind);
    return sanitize(def, v, out);
}

} // namespace vesk::params
