#include "VeskKnobAutomation.h"

#include "plugin/Params.h"

namespace vesk::gui {

namespace {

// The row's knob order, and the parameter slot of each knob's value and spread (-1: none).
constexpr int kBaseSlot[] = {0, 2, 4, -1, 6, 9};
constexpr int kSpreadSlot[] = {1, 3, 5, -1, -1, -1};
constexpr int kKnobs = int(sizeof kBaseSlot / sizeof kBaseSlot[0]);

bool slotId(const int* slots, int pool, int knob, uint32_t& id)
{
    if (pool < 0 || pool >= 8 || knob < 0 || knob >= kKnobs || slots[knob] < 0)
        return false;
    id =
        uint32_t(params::kPoolBase + params::kGroupStride * uint32_t(pool) + uint32_t(slots[knob]));
    return params::find(id) != nullptr;
}

} // namespace

bool KnobAutomation::baseId(int pool, int knob, uint32_t& id)
{
    return slotId(kBaseSlot, pool, knob, id);
}

bool KnobAutomation::spreadId(int pool, int knob, uint32_t& id)
{
    return slotId(kSpreadSlot, pool, knob, id);
}

void KnobAutomation::dragStarted(int pool, int knob, double base, double spreadPercent)
{
    if (dragging_)
        dragEnded(pool_, knob_);
    dragging_ = true;
    pool_ = pool;
    knob_ = knob;
    base_ = {false, true, base};
    spread_ = {false, true, spreadPercent};
}

void KnobAutomation::move(Part& part, bool has, uint32_t id, double v, bool inDrag)
{
    if (!has)
        return;
    if (!inDrag) {
        if (begin)
            begin(id);
        if (value)
            value(id, v);
        if (end)
            end(id);
        return;
    }
    // A part takes part in the gesture once the drag moves it.
    if (part.known && v == part.last)
        return;
    if (!part.begun) {
        part.begun = true;
        if (begin)
            begin(id);
    }
    part.known = true;
    part.last = v;
    if (value)
        value(id, v);
}

void KnobAutomation::changed(int pool, int knob, double base, double spreadPercent)
{
    uint32_t b = 0, s = 0;
    const bool hasBase = baseId(pool, knob, b);
    const bool hasSpread = spreadId(pool, knob, s);
    const bool inDrag = dragging_ && pool == pool_ && knob == knob_;
    if (!inDrag) {
        // Outside a drag only what the snapshot cannot tell apart goes out: both parts.
        move(base_, hasBase, b, base, false);
        move(spread_, hasSpread, s, spreadPercent, false);
        return;
    }
    move(base_, hasBase, b, base, true);
    move(spread_, hasSpread, s, spreadPercent, true);
}

void KnobAutomation::dragEnded(int pool, int knob)
{
    if (!dragging_ || pool != pool_ || knob != knob_)
        return;
    uint32_t id = 0;
    if (base_.begun && baseId(pool, knob, id) && end)
        end(id);
    if (spread_.begun && spreadId(pool, knob, id) && end)
        end(id);
    dragging_ = false;
    base_ = {};
    spread_ = {};
}

} // namespace vesk::gui
