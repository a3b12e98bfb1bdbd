// The parameters a host sees (clap.params): a fixed table with stable ids.
//
// Design: a host stores automation, controller mappings and modulation by parameter id, in its
// projects, for as long as they live. So the ids come from this table and never change: a new
// parameter gets a new id, an id that was once offered is never given to anything else. Ids are
// grouped so that they can be worked out rather than searched for:
//
//   pool p (0..7):  1000 + 100 p + slot, slots
//                     0 Volume          dB     -48 .. 12      default 0
//                     1 Volume Random   ±dB    0 .. 100 %     (100 % = ±20 dB)
//                     2 Pan             %      -100 .. 100    default 0
//                     3 Pan Random      ±%     0 .. 100 %     (100 % = ±100 %)
//                     4 Pitch           st     -12 .. 12      default 0
//                     5 Pitch Random    ±st    0 .. 100 %     (100 % = ±12 st)
//                     6 Start           %      0 .. 100       default 0
//                     7 HPF             Hz     0 .. 20000     default 0 (off)
//                     8 LPF             Hz     0 .. 20000     default 20000 (off)
//                     9 Reverse         %      0 .. 100       default 0
//                    10 Mute            switch
//                    11 Solo            switch
//   FX bus b (0..1): 2000 + 100 b + slot: 0 Bypass, 1 Mute, 2 Solo (switches)
//   master:          3000 Master Output (dB, -48 .. 6, default 0), 3001 Master Bypass (switch,
//                    default on), 3002 Limiter Ceiling (dB, -12 .. 0, default -0.1)
//
// Ranges and units are the editor's knobs'. The values are the engine's own fields (the random
// spreads are stored as 0..1 and offered as percent, as the knobs' outer rings show them), so a
// parameter adds nothing to the saved state. Continuous parameters take CLAP's non-destructive
// modulation on top of their value; switches are stepped.
//
// This file is plain data and text: no instance, no thread rules.
#pragma once

#include "plugin/clap/Clap12.h"

#include <clap/ext/params.h>

#include <cstddef>
#include <cstdint>

namespace vesk::params {

enum class Kind : uint8_t
{
    PoolVolume,
    PoolVolumeRandom,
    PoolPan,
    PoolPanRandom,
    PoolPitch,
    PoolPitchRandom,
    PoolStart,
    PoolHpf,
    PoolLpf,
    PoolReverse,
    PoolMute,
    PoolSolo,
    BusBypass,
    BusMute,
    BusSolo,
    MasterOutput,
    MasterBypass,
    LimiterCeiling,
};

inline constexpr uint32_t kPoolSlots = 12;
inline constexpr uint32_t kBusSlots = 3;
inline constexpr uint32_t kMasterSlots = 3;
inline constexpr uint32_t kCount = 8 * kPoolSlots + 2 * kBusSlots + kMasterSlots;

inline constexpr clap_id kPoolBase = 1000;
inline constexpr clap_id kBusBase = 2000;
inline constexpr clap_id kMasterBase = 3000;
inline constexpr clap_id kGroupStride = 100;

struct ParamDef
{
    clap_id id = CLAP_INVALID_ID;
    Kind kind = Kind::PoolVolume;
    int8_t index = -1; // the pool (0..7) or the bus (0..1); -1 for the master
    char name[CLAP_NAME_SIZE] = {};
    char module[CLAP_PATH_SIZE] = {};
    double minValue = 0.0;
    double maxValue = 1.0;
    double defaultValue = 0.0;
    uint32_t flags = 0;

    bool stepped() const { return (flags & CLAP_PARAM_IS_STEPPED) != 0; }
    bool modulatable() const { return (flags & CLAP_PARAM_IS_MODULATABLE) != 0; }
};

// Every parameter, in the order the host lists them.
const ParamDef* table();
// The position of `id` in the table, or -1 for an id this plug-in does not offer.
int indexOf(clap_id id);
// The parameter with `id`, or null.
const ParamDef* find(clap_id id);

// The value a host may set: NaN gives false (ignored), everything else is clamped into the
// range (±inf to its ends); a switch is 0 or 1 (at or above 0.5 is on).
bool sanitize(const ParamDef& def, double value, double& out);
// A modulation amount: false for a non-finite one; clamped to ± the parameter's span.
bool sanitizeModulation(const ParamDef& def, double amount, double& out);

// The value as the editor shows it ("-inf dB", "-12.0 dB", "±5.0 dB", "8000 Hz", "Off", "On").
// Writes a terminated text of at most size - 1 bytes; false when size is 0.
bool formatValue(const ParamDef& def, double value, char* out, size_t size);
// The value a text means: a number in the parameter's unit (a unit after it is optional; Hz
// takes "k"), "-inf" for the bottom of a dB range, "Off"/"On" for switches and the filters.
// Clamped to the range; false when the text is none of these.
bool parseValue(const ParamDef& def, const char* text, double& out);

// The value units one percent of a random spread covers (0.2 dB, 1 %, 0.12 st); 0 for others.
double randomSpanPerPercent(Kind kind);

} // namespace vesk::params
