#include "VeskBulkEdits.h"

#include <algorithm>

namespace vesk::gui {

namespace {

constexpr RangedParam kAll[] = {RangedParam::Volume, RangedParam::Pan, RangedParam::Pitch,
                                RangedParam::Delay, RangedParam::Start};

BulkEdit rangeEdit(RangedParam p, int pool, float base, float range, bool enabled)
{
    BulkEdit e;
    e.param = p;
    e.pool = uint32_t(pool);
    e.base = base;
    e.range = range;
    e.enabled = enabled;
    return e;
}

} // namespace

std::vector<RangedParam> paramsOfGroup(int group)
{
    if (group == 1)
        return {std::begin(kAll), std::end(kAll)};
    if (group >= 2 && group <= 6)
        return {kAll[group - 2]};
    return {};
}

const ParamState& paramOf(const PoolState& pool, RangedParam p)
{
    switch (p) {
    case RangedParam::Volume:
        return pool.volume;
    case RangedParam::Pan:
        return pool.pan;
    case RangedParam::Pitch:
        return pool.pitch;
    case RangedParam::Delay:
        return pool.delay;
    case RangedParam::Start:
        break;
    }
    return pool.start;
}

std::vector<BulkEdit> quickEnableEdits(const VeskState& state, int group, bool enabled)
{
    std::vector<BulkEdit> edits;
    const auto params = paramsOfGroup(group);
    for (int i = 0; i < kNumPools; ++i) {
        const PoolState& pool = state.pools[i];
        if (pool.sampleCount == 0)
            continue;
        for (RangedParam p : params) {
            const ParamState& s = paramOf(pool, p);
            edits.push_back(rangeEdit(p, i, s.base, s.range, enabled));
        }
    }
    return edits;
}

std::vector<BulkEdit> resetEdits(const VeskState& state, int group)
{
    std::vector<BulkEdit> edits;
    const auto params = paramsOfGroup(group);
    for (int i = 0; i < kNumPools; ++i) {
        if (state.pools[i].sampleCount == 0 || params.empty())
            continue;
        for (RangedParam p : params)
            edits.push_back(rangeEdit(p, i, 0.0f, 0.0f, false));
        if (group == 1) {
            BulkEdit e;
            e.kind = BulkEdit::Kind::ReverseChanceOff;
            e.pool = uint32_t(i);
            edits.push_back(e);
        }
    }
    return edits;
}

std::vector<BulkEdit> diceEdits(const VeskState& state, juce::Random& random)
{
    // Base span and its lower and upper bound for pan, pitch, delay and start; the step is the
    // range's share of the span, or a tenth of the span when the range is below 0.1.
    struct Span
    {
        float span, lo, hi;
    };
    const auto spanOf = [](RangedParam p) {
        switch (p) {
        case RangedParam::Pan:
            return Span{100.0f, -100.0f, 100.0f};
        case RangedParam::Pitch:
            return Span{12.0f, -12.0f, 12.0f};
        case RangedParam::Delay:
            return Span{3000.0f, 0.0f, 3000.0f};
        default:
            return Span{100.0f, 0.0f, 100.0f};
        }
    };
    std::vector<BulkEdit> edits;
    for (int i = 0; i < kNumPools; ++i) {
        const PoolState& pool = state.pools[i];
        if (pool.sampleCount == 0)
            continue;
        for (RangedParam p : kAll) {
            const ParamState& s = paramOf(pool, p);
            if (!s.enabled)
                continue;
            const float u1 = random.nextFloat();
            const float u2 = random.nextFloat();
            float base;
            if (p == RangedParam::Volume) {
                // A fresh level in [-14, 6) dB, whatever the old one was.
                base = -4.0f + 10.0f * (2.0f * u1 - 1.0f);
            } else {
                const Span sp = spanOf(p);
                const float step = s.range < 0.1f ? sp.span * 0.1f : s.range * sp.span;
                base = std::clamp(s.base + step * (2.0f * u1 - 1.0f), sp.lo, sp.hi);
            }
            const float range = std::clamp(s.range + 0.2f * (2.0f * u2 - 1.0f), 0.1f, 1.0f);
            edits.push_back(rangeEdit(p, i, base, range, true));
        }
    }
    return edits;
}

} // namespace vesk::gui
