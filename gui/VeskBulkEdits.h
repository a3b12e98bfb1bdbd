// The top bar's three bulk edits of the random ranges (quick enable, reset, dice) as plain
// logic: what the editor sends for a snapshot, tested without a display.
#pragma once

#include "plugin/VeskState.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace vesk::gui {

// The five ranged parameters of a pool, in the order the bulk edits visit them.
enum class RangedParam : uint8_t
{
    Volume,
    Pan,
    Pitch,
    Delay,
    Start,
};

// One message of a bulk edit: a ranged parameter set to (base, range, enabled), or (for the
// reset of all ranges) the pool's reverse chance set to 0.
struct BulkEdit
{
    enum class Kind : uint8_t
    {
        Range,
        ReverseChanceOff,
    };
    Kind kind = Kind::Range;
    RangedParam param = RangedParam::Volume;
    uint32_t pool = 0;
    float base = 0.0f;
    float range = 0.0f;
    bool enabled = false;
};

// Range groups of the top bar's target list: 1 all five, 2 volume, 3 pan, 4 pitch, 5 delay,
// 6 start. Anything else selects nothing.
std::vector<RangedParam> paramsOfGroup(int group);

const ParamState& paramOf(const PoolState& pool, RangedParam p);

// Only pools that hold samples are touched, in pool order.
std::vector<BulkEdit> quickEnableEdits(const VeskState& state, int group, bool enabled);
std::vector<BulkEdit> resetEdits(const VeskState& state, int group);
// Each enabled parameter gets a new base and range from two draws of `random`.
std::vector<BulkEdit> diceEdits(const VeskState& state, juce::Random& random);

} // namespace vesk::gui
