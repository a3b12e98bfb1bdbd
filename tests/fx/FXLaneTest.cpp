// The FX lane: slot bookkeeping, moves with module state, modulation, bypass, soft reset with the
// captured tail, trigger notification, the bus routing table, and no allocation on the audio path.
#include "fx/FXLane.h"
#include "fx/FXVTables.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vesk {
namespace {

// Test modules --------------------------------------------------------------------------------

// "Tag": remembers an id given at construction and the knob values of its last block, and counts
// resets; multiplies the signal by knob 0.
struct TagState
{
    int id;
    int resets;
    int destroyed;
    float seen[kMaxFXParams];
};
int gNextTag = 0;
int gDestroyed = 0;

const FXModuleVTable kTagVTable = {
    sizeof(TagState),
    [](void* s, double) { static_cast<TagState*>(s)->id = gNextTag++; },
    [](void*) { ++gDestroyed; },
    [](void* s) { ++static_cast<TagState*>(s)->resets; },
    [](void*, double) {},
    [](float* l, float* r, unsigned n, const float* p, void* s, double) {
        std::copy(p, p + kMaxFXParams, static_cast<TagState*>(s)->seen);
        for (unsigned i = 0; i < n; ++i) {
            l[i] *= p[0];
            r[i] *= p[0];
        }
    },
};
const float kTagMin[2] = {0.0f, -24.0f};
const float kTagMax[2] = {1.0f, 24.0f};

// "Ring": a one-pole resonator y = x + 0.999 y, so it keeps ringing after its input stops.
struct RingState
{
    double y[2];
};
const FXModuleVTable kRingVTable = {
    sizeof(RingState),
    [](void*, double) {},
    [](void*) {},
    [](void* s) { *static_cast<RingState*>(s) = RingState{}; },
    [](void*, double) {},
    [](float* l, float* r, unsigned n, const float*, void* s, double) {
        RingState& st = *static_cast<RingState*>(s);
        for (unsigned i = 0; i < n; ++i) {
            st.y[0] = l[i] + 0.999 * st.y[0];
            st.y[1] = r[i] + 0.999 * st.y[1];
            l[i] = static_cast<float>(st.y[0] * 0.01);
            r[i] = static_cast<float>(st.y[1] * 0.01);
        }
    },
};

int appendTag(FXLane& lane)
{
    return lane.appendSlot(static_cast<FXType>(200), &kTagVTable, kTagMin, kTagMax, 2);
}

int tagOf(const FXLane& lane, int index)
{
    return static_cast<const TagState*>(lane.slots[index].state)->id;
}

std::vector<int> tags(const FXLane& lane)
{
    std::vector<int> out;
    for (int i = 0; i < lane.slotCount; ++i) {
        out.push_back(tagOf(lane, i));
    }
    return out;
}

const TagState& tagState(const FXLane& lane, int index)
{
    return *static_cast<const TagState*>(lane.slots[index].state);
}

// Slot bookkeeping ----------------------------------------------------------------------------

TEST(FXLane, AppendStopsAtFortySlots)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    for (int i = 0; i < kMaxSlots; ++i) {
        ASSERT_EQ(appendTag(lane), i);
    }
    const std::vector<int> before = tags(lane);
    EXPECT_EQ(appendTag(lane), -1);
    EXPECT_EQ(lane.appendModule(1), -1);
    EXPECT_EQ(lane.slotCount, kMaxSlots);
    EXPECT_EQ(tags(lane), before);
}

TEST(FXLane, AppendModuleTakesTheRegistryDefaultsAndBounds)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    ASSERT_EQ(lane.appendModule(static_cast<uint32_t>(FXType::EQ)), 0);
    const FXModuleInfo& info = *getFXModuleInfo(FXType::EQ);
    const FXSlot& slot = lane.slots[0];
    EXPECT_EQ(slot.type, 1);
    EXPECT_EQ(slot.vtable, info.vtable);
    EXPECT_EQ(slot.paramMin, info.paramMin);
    EXPECT_EQ(slot.paramCount, info.paramCount);
    for (uint32_t k = 0; k < info.paramCount; ++k) {
        EXPECT_EQ(slot.params[k], info.paramDefaults[k]);
    }
    EXPECT_EQ(slot.params[info.paramCount], 0.0f);
    // Unknown types become empty-handed slots that process as nothing.
    ASSERT_EQ(lane.appendModule(31), 1);
    EXPECT_EQ(lane.slots[1].vtable, nullptr);
    EXPECT_EQ(lane.slots[1].state, nullptr);
    std::vector<float> l = test::noise(256, 1), r = l;
    const std::vector<float> x = l;
    lane.slots[0].bypassed = true;
    lane.processInternal(l.data(), r.data(), 256, nullptr);
    EXPECT_EQ(l, x);
}

TEST(FXLane, RemoveClosesTheGapAndKeepsModuleStates)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    for (int i = 0; i < 5; ++i) {
        appendTag(lane);
    }
    const std::vector<int> t = tags(lane);
    gDestroyed = 0;
    EXPECT_TRUE(lane.removeSlot(3));
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_EQ(tags(lane), (std::vector<int>{t[0], t[1], t[2], t[4]}));
    EXPECT_EQ(lane.slots[4].state, nullptr);
    EXPECT_EQ(lane.slots[4].type, 0);
    EXPECT_FALSE(lane.removeSlot(4));
    EXPECT_FALSE(lane.removeSlot(-1));
    EXPECT_EQ(lane.slotCount, 4);
}

TEST(FXLane, MoveWithinALane)
{
    struct Case
    {
        int from, to;
        std::vector<int> order; // positions of the original slots afterwards
        bool moved;
    };
    const Case cases[] = {
        {0, 3, {1, 2, 0, 3, 4}, true},  // insertion point 3 -> position 2
        {2, 2, {0, 1, 2, 3, 4}, false}, // onto itself
        {2, 3, {0, 1, 2, 3, 4}, false}, // just after itself
        {4, 0, {4, 0, 1, 2, 3}, true},   {1, 5, {0, 2, 3, 4, 1}, true}, // to the end
        {1, 6, {0, 1, 2, 3, 4}, false},  {5, 0, {0, 1, 2, 3, 4}, false},
        {-1, 0, {0, 1, 2, 3, 4}, false},
    };
    for (const Case& c : cases) {
        FXLane lane;
        lane.setSampleRate(48000.0);
        for (int i = 0; i < 5; ++i) {
            appendTag(lane);
        }
        const std::vector<int> t = tags(lane);
        std::vector<int> expected;
        for (int k : c.order) {
            expected.push_back(t[static_cast<size_t>(k)]);
        }
        EXPECT_EQ(FXLane::moveSlot(lane, c.from, lane, c.to), c.moved) << c.from << "->" << c.to;
        EXPECT_EQ(tags(lane), expected) << c.from << "->" << c.to;
    }
}

TEST(FXLane, MoveBetweenLanesChecksBeforeLifting)
{
    FXLane a, b;
    a.setSampleRate(48000.0);
    b.setSampleRate(48000.0);
    for (int i = 0; i < 3; ++i) {
        appendTag(a);
        appendTag(b);
    }
    a.slots[1].params[0] = 0.25f;
    a.slots[1].modSource[0] = 3;
    a.slots[1].modDepth[0] = -0.5f;
    const std::vector<int> ta = tags(a);
    const std::vector<int> tb = tags(b);

    // A destination index beyond the destination's slots is refused; nothing is lifted out.
    EXPECT_FALSE(FXLane::moveSlot(a, 1, b, 4));
    EXPECT_EQ(tags(a), ta);
    EXPECT_EQ(tags(b), tb);
    EXPECT_FALSE(FXLane::moveSlot(a, 3, b, 0)); // unused source

    // A valid move carries the block, values and bindings.
    EXPECT_TRUE(FXLane::moveSlot(a, 1, b, 1));
    EXPECT_EQ(tags(a), (std::vector<int>{ta[0], ta[2]}));
    EXPECT_EQ(tags(b), (std::vector<int>{tb[0], ta[1], tb[1], tb[2]}));
    EXPECT_EQ(b.slots[1].params[0], 0.25f);
    EXPECT_EQ(b.slots[1].modSource[0], 3);
    EXPECT_EQ(b.slots[1].modDepth[0], -0.5f);
    EXPECT_EQ(a.slots[2].state, nullptr);

    // Into a full lane: nothing happens.
    while (b.slotCount < kMaxSlots) {
        appendTag(b);
    }
    const std::vector<int> full = tags(b);
    EXPECT_FALSE(FXLane::moveSlot(a, 0, b, 0));
    EXPECT_EQ(tags(b), full);
    EXPECT_EQ(a.slotCount, 2);
}

TEST(FXLane, SettingsRefuseWhatTheSlotCannotHold)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    appendTag(lane); // two knobs
    EXPECT_TRUE(lane.setParam(0, 1, 3.0f));
    EXPECT_EQ(lane.slots[0].params[1], 3.0f);
    EXPECT_FALSE(lane.setParam(0, 1, NAN));
    EXPECT_FALSE(lane.setParam(0, 1, INFINITY));
    EXPECT_EQ(lane.slots[0].params[1], 3.0f);
    EXPECT_FALSE(lane.setParam(5, 0, 1.0f)); // slot 5 of a 1-slot lane
    EXPECT_FALSE(lane.setParam(0, 16, 1.0f));
    EXPECT_TRUE(lane.setParam(0, 0, 7.0f)); // stored as given, clamped only at run time
    EXPECT_EQ(lane.slots[0].params[0], 7.0f);

    // Bindings exist only for the knobs the module has.
    EXPECT_FALSE(lane.bindModulation(0, 2, 1, 0.5f));
    EXPECT_FALSE(lane.bindModulation(0, 15, 1, 0.5f));
    EXPECT_EQ(lane.slots[0].modSource[2], 0);
    EXPECT_TRUE(lane.bindModulation(0, 0, 0, 0.7f)); // None stores depth 0
    EXPECT_EQ(lane.slots[0].modDepth[0], 0.0f);
    EXPECT_TRUE(lane.bindModulation(0, 0, 3, -2.0f));
    EXPECT_EQ(lane.slots[0].modDepth[0], -1.0f);
    EXPECT_TRUE(lane.bindModulation(0, 0, 2, NAN));
    EXPECT_EQ(lane.slots[0].modDepth[0], -1.0f);
    EXPECT_TRUE(lane.bindModulation(0, 1, 7, 0.5f)); // outside the bus: None
    EXPECT_EQ(lane.slots[0].modSource[1], 0);
    EXPECT_EQ(lane.slots[0].modDepth[1], 0.0f);

    EXPECT_TRUE(lane.setSlotBypass(0, true));
    EXPECT_TRUE(lane.slots[0].bypassed);
    EXPECT_FALSE(lane.setSlotBypass(1, true));
}

TEST(FXLane, AppendChainEntry)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    const float values[3] = {0.1f, NAN, 0.9f};
    const uint8_t sources[3] = {3, 9, 1};
    const float depths[3] = {-4.0f, 0.5f, 0.25f};
    // Bass Boost has two knobs: the third transported value is ignored.
    EXPECT_EQ(lane.appendChainEntry(3, true, 3, values, sources, depths),
              FXLane::AppendResult::Appended);
    const FXSlot& s = lane.slots[0];
    EXPECT_EQ(s.params[0], 0.1f);
    EXPECT_EQ(s.params[1], getFXModuleInfo(3u)->paramDefaults[1]); // NaN keeps the default
    EXPECT_EQ(s.params[2], 0.0f);
    EXPECT_EQ(s.modSource[0], 3);
    EXPECT_EQ(s.modDepth[0], -1.0f);
    EXPECT_EQ(s.modSource[1], 0); // source 9 is outside the bus
    EXPECT_EQ(s.modDepth[1], 0.0f);
    EXPECT_EQ(s.modSource[2], 0);
    EXPECT_TRUE(s.bypassed);
    EXPECT_EQ(lane.appendChainEntry(31, false, 0, nullptr, nullptr, nullptr),
              FXLane::AppendResult::Skipped);
    EXPECT_EQ(lane.slotCount, 1);
    while (lane.slotCount < kMaxSlots) {
        appendTag(lane);
    }
    EXPECT_EQ(lane.appendChainEntry(1, false, 0, nullptr, nullptr, nullptr),
              FXLane::AppendResult::Full);
}

// Processing ---------------------------------------------------------------------------------

TEST(FXLane, ModulatedValuesAreClampedAndNeverWrittenBack)
{
    struct Case
    {
        uint8_t source;
        float depth;
        float bus;
        float expected;
    };
    // A 0..1 knob at 0.5: value + depth x (max - min) x bus, clamped.
    const Case cases[] = {
        {3, -0.5f, -0.5f, 0.75f}, // Bend -0.5
        {3, -0.5f, 1.0f, 0.0f},   // Bend +1: 0.5 - 0.5
        {3, 1.0f, 1.0f, 1.0f},    // 0.5 + 1, clamped to the maximum
        {1, 0.5f, 0.5f, 0.75f},   // Pressure
        {4, -1.0f, 1.0f, 0.0f},   // Velocity, clamped to the minimum
    };
    for (const Case& c : cases) {
        FXLane lane;
        lane.setSampleRate(48000.0);
        appendTag(lane);
        lane.slots[0].params[0] = 0.5f;
        lane.slots[0].params[1] = 3.0f;
        ASSERT_TRUE(lane.bindModulation(0, 0, c.source, c.depth));
        float bus[kModBusSize] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        bus[c.source] = c.bus;
        std::vector<float> l(64, 1.0f), r(64, 1.0f);
        lane.processInternal(l.data(), r.data(), 64, bus);
        EXPECT_FLOAT_EQ(tagState(lane, 0).seen[0], c.expected) << int(c.source) << " " << c.bus;
        EXPECT_FLOAT_EQ(l[10], c.expected);
        EXPECT_EQ(tagState(lane, 0).seen[1], 3.0f);
        EXPECT_EQ(lane.slots[0].params[0], 0.5f);
    }
    // A source of None with a stored depth runs unmodulated; so does a null bus.
    FXLane lane;
    lane.setSampleRate(48000.0);
    appendTag(lane);
    lane.slots[0].params[0] = 0.5f;
    lane.slots[0].modDepth[0] = 0.8f;
    const float bus[kModBusSize] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    std::vector<float> l(64, 1.0f), r(64, 1.0f);
    lane.processInternal(l.data(), r.data(), 64, bus);
    EXPECT_EQ(tagState(lane, 0).seen[0], 0.5f);
    lane.slots[0].modSource[0] = 2;
    lane.processInternal(l.data(), r.data(), 64, nullptr);
    EXPECT_EQ(tagState(lane, 0).seen[0], 0.5f);
    // A damaged binding with a source outside the bus is read as None.
    lane.slots[0].modSource[0] = 200;
    lane.processInternal(l.data(), r.data(), 64, bus);
    EXPECT_EQ(tagState(lane, 0).seen[0], 0.5f);
}

TEST(FXLane, BypassedSlotsAndLanes)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    appendTag(lane);
    lane.slots[0].params[0] = 0.5f;
    std::vector<float> l(32, 1.0f), r(32, 1.0f);
    lane.slots[0].bypassed = true;
    lane.processInternal(l.data(), r.data(), 32, nullptr);
    EXPECT_EQ(l[0], 1.0f);
    lane.slots[0].bypassed = false;
    lane.bypassed = true;
    lane.processInternal(l.data(), r.data(), 32, nullptr);
    EXPECT_EQ(l[0], 1.0f);
    lane.bypassed = false;
    lane.processInternal(l.data(), r.data(), 32, nullptr);
    EXPECT_EQ(l[0], 0.5f);
}

// Runs a burst through a lane holding one Ring module and returns the next frames after a soft
// reset with silent input.
std::vector<float> ringOutAfterSoftReset(double rate, bool bypassLane, int* resets = nullptr)
{
    FXLane lane;
    lane.setSampleRate(rate);
    lane.appendSlot(static_cast<FXType>(201), &kRingVTable, nullptr, nullptr, 0);
    appendTag(lane);
    lane.slots[1].params[0] = 1.0f;
    std::vector<float> l = test::sine(300.0, rate, 2048, 0.5, 0.3), r = l;
    lane.processInternal(l.data(), r.data(), 2048, nullptr);
    lane.bypassed = bypassLane;
    lane.softReset();
    if (resets != nullptr) {
        *resets = tagState(lane, 1).resets;
    }
    std::vector<float> out(2048, 0.0f), outR(2048, 0.0f);
    for (int a = 0; a < 2048; a += 256) {
        lane.processInternal(out.data() + a, outR.data() + a, 256, nullptr);
    }
    return out;
}

TEST(FXLane, SoftResetFadesTheCapturedTailLinearly)
{
    const double rate = 48000.0;
    // Reference ring-out: the same chain, continued with silence and no reset.
    FXLane ref;
    ref.setSampleRate(rate);
    ref.appendSlot(static_cast<FXType>(201), &kRingVTable, nullptr, nullptr, 0);
    std::vector<float> l = test::sine(300.0, rate, 2048, 0.5, 0.3), r = l;
    ref.processInternal(l.data(), r.data(), 2048, nullptr);
    std::vector<float> ring(480, 0.0f), ringR(480, 0.0f);
    ref.processInternal(ring.data(), ringR.data(), 480, nullptr);

    const std::vector<float> out = ringOutAfterSoftReset(rate, false);
    ASSERT_EQ(ring.size(), 480u);
    for (int i = 0; i < 480; ++i) {
        // First sample at full level, each later one 1/480 less.
        EXPECT_NEAR(out[static_cast<size_t>(i)], ring[static_cast<size_t>(i)] * (480 - i) / 480.0f,
                    1e-6f)
            << i;
    }
    EXPECT_GT(test::peak(out.data(), 100), 0.01);
    // After the 10 ms fade the reset chain is silent.
    EXPECT_EQ(test::peak(out.data() + 480, out.size() - 480), 0.0);
}

TEST(FXLane, BypassedLaneNeitherProcessesNorFadesButStillResets)
{
    int resets = 0;
    const std::vector<float> out = ringOutAfterSoftReset(48000.0, true, &resets);
    EXPECT_EQ(test::peak(out), 0.0);
    EXPECT_EQ(resets, 1);
}

TEST(FXLane, TailLengthFollowsTheRate)
{
    FXLane lane;
    for (auto [rate, n] : {std::pair{44100.0, 441}, {48000.0, 480}, {96000.0, 960}, {50.0, 1}}) {
        lane.setSampleRate(rate);
        EXPECT_EQ(lane.tailLength(), n) << rate;
    }
}

TEST(FXLane, TriggerNotificationReachesTheModulesThatRestart)
{
    // Every type that restarts on a trigger and is implemented gets its hook; the lane never
    // calls a hook on a module of a different layout.
    FXLane lane;
    lane.setSampleRate(48000.0);
    int hooked = 0;
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kNumFXTypes); ++id) {
        const FXModuleInfo& info = *getFXModuleInfo(id);
        const bool restarts = id == 17 || id == 20 || id == 29 || id == 30;
        if (!restarts) {
            EXPECT_EQ(kModuleTriggerHooks[id - 1], nullptr) << info.name;
        } else if (info.vtable != nullptr) {
            EXPECT_NE(kModuleTriggerHooks[id - 1], nullptr) << info.name;
            ++hooked;
        }
        if (info.vtable != nullptr) {
            lane.appendModule(id);
        }
    }
    lane.appendSlot(static_cast<FXType>(20), &kTagVTable, kTagMin, kTagMax, 2); // foreign layout
    test::AllocCounts counts;
    {
        test::ScopedAllocCount scope(counts);
        notifyTriggerInLane(lane);
    }
    EXPECT_EQ(counts.total(), 0u);
    if (hooked == 0) {
        GTEST_SKIP() << "no module that restarts on a trigger is implemented yet";
    }
}

TEST(FXLane, NotifiedModulesRestartWhileOthersCarryOn)
{
    // Two identical lanes get the same input; one is told of a trigger halfway. The modules that
    // restart on a trigger then sound different from their twin; the others do not notice.
    struct Case
    {
        uint32_t type;
        int knob;
        float value; // a setting under which the restart is audible
        bool restarts;
    };
    const Case cases[] = {
        {17, 1, 1.0f, true},  // TapeStartStop: a one-second start ramp plays again
        {20, 3, 0.35f, true}, // Reverb
        {29, 7, 1.0f, true},  // Doppler: a new pass
        {30, 0, 0.0f, true},  // HPSS: fresh analysis, one layer only
        {1, 2, 6.0f, false},  // EQ
        {6, 7, 1.0f, false},  // SubBeast
    };
    int checked = 0;
    for (const Case& c : cases) {
        const FXModuleInfo& info = *getFXModuleInfo(c.type);
        if (info.vtable == nullptr) {
            continue;
        }
        FXLane a, b;
        for (FXLane* lane : {&a, &b}) {
            lane->setSampleRate(48000.0);
            lane->appendModule(c.type);
            lane->setParam(0, c.knob, c.value);
        }
        const std::vector<float> x = test::noise(94 * 512, 12, 0.5);
        std::vector<float> la = x, ra = x, lb = x, rb = x;
        for (size_t i = 0; i < x.size(); i += 512) {
            if (i == 24064) {
                notifyTriggerInLane(b);
            }
            a.processInternal(la.data() + i, ra.data() + i, 512, nullptr);
            b.processInternal(lb.data() + i, rb.data() + i, 512, nullptr);
        }
        double diff = 0.0;
        for (size_t i = 24064; i < x.size(); ++i) {
            diff = std::max(diff, double(std::fabs(la[i] - lb[i])));
        }
        if (c.restarts) {
            EXPECT_GT(diff, 1e-3) << info.name;
        } else {
            EXPECT_EQ(diff, 0.0) << info.name;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(FXLane, AudioPathDoesNotAllocate)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    // Forty slots of the implemented modules, in registry order, some bound to the bus.
    while (lane.slotCount < kMaxSlots) {
        for (const FXModuleInfo& info : detail::kRegistry) {
            if (info.vtable != nullptr && lane.slotCount < kMaxSlots) {
                const int i = lane.appendModule(static_cast<uint32_t>(info.type));
                lane.bindModulation(i, 0, 3, 0.3f);
            }
        }
    }
    const float bus[kModBusSize] = {0.0f, 0.2f, 0.4f, -0.3f, 0.9f};
    std::vector<float> l = test::noise(4096, 3, 0.5), r = test::noise(4096, 4, 0.5);
    test::AllocCounts counts;
    {
        test::ScopedAllocCount scope(counts);
        lane.processInternal(l.data(), r.data(), 4096, bus);
        lane.softReset();
        notifyTriggerInLane(lane);
        lane.processInternal(l.data(), r.data(), 1024, bus);
        lane.resetModules();
    }
    EXPECT_EQ(counts.total(), 0u);
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](float v) { return std::isfinite(v); }));
}

TEST(FXLane, ExportStateCopiesTheUsedSlots)
{
    FXLane lane;
    lane.setSampleRate(48000.0);
    lane.appendModule(5);
    lane.appendModule(11);
    lane.setParam(1, 2, 0.7f);
    lane.bindModulation(1, 1, 4, 0.5f);
    lane.setSlotBypass(0, true);
    lane.muted = true;
    FXLaneState s;
    lane.exportState(s);
    EXPECT_EQ(s.slotCount, 2);
    EXPECT_EQ(s.muted, 1);
    EXPECT_EQ(s.soloed, 0);
    EXPECT_EQ(s.slots[0].type, 5);
    EXPECT_EQ(s.slots[0].bypassed, 1);
    EXPECT_EQ(s.slots[1].type, 11);
    EXPECT_EQ(s.slots[1].params[2], 0.7f);
    EXPECT_EQ(s.slots[1].modSource[1], 4);
    EXPECT_EQ(s.slots[1].modDepth[1], 0.5f);
    EXPECT_EQ(s.slots[2].type, 0);
}

// Routing -----------------------------------------------------------------------------------

// Renders one chunk the way the render loop does: pools on bus 1 play 300 Hz, pools on bus 2
// 700 Hz, pools routed to the master 1100 Hz. Both lanes hold a real EQ at 0 dB.
struct Heard
{
    bool bus1, bus2, direct;
};

Heard renderRouting(bool s1, bool m1, bool s2, bool m2, bool toMaster)
{
    const double rate = 48000.0;
    const unsigned n = 4096;
    FXLane lanes[2];
    for (FXLane& lane : lanes) {
        lane.setSampleRate(rate);
        lane.appendModule(static_cast<uint32_t>(FXType::EQ));
    }
    lanes[0].soloed = s1;
    lanes[0].muted = m1;
    lanes[1].soloed = s2;
    lanes[1].muted = m2;
    const LaneRouting route = computeLaneRouting(s1, m1, s2, m2, toMaster);
    std::vector<float> b1 = test::sine(300.0, rate, n, 0.3), b1r = b1;
    std::vector<float> b2 = test::sine(700.0, rate, n, 0.3), b2r = b2;
    std::vector<float> out = test::sine(1100.0, rate, n, 0.3), outR = out;
    if (route.silenceDirect) {
        std::fill(out.begin(), out.end(), 0.0f);
    }
    if (route.runBus1) {
        lanes[0].processInternal(b1.data(), b1r.data(), n, nullptr);
        std::vector<float>& dest = route.bus1ToOutput ? out : b2;
        for (unsigned i = 0; i < n; ++i) {
            dest[i] += b1[i];
        }
    }
    if (route.runBus2) {
        lanes[1].processInternal(b2.data(), b2r.data(), n, nullptr);
        for (unsigned i = 0; i < n; ++i) {
            out[i] += b2[i];
        }
    }
    auto present = [&](double hz) { return test::amplitudeAt(out, hz, rate) > 0.1; };
    return {present(300.0), present(700.0), present(1100.0)};
}

TEST(LaneRouting, TruthTableWithRealBuses)
{
    for (int bits = 0; bits < 32; ++bits) {
        const bool s1 = bits & 1, m1 = bits & 2, s2 = bits & 4, m2 = bits & 8, r = bits & 16;
        // The rules, written out independently of the routing code:
        const bool anySolo = s1 || s2;
        const bool serial = !r && !(s1 && !s2);
        const bool bus2Runs = !m2 && (s2 || !anySolo);
        const bool bus1Runs = !m1 && (serial ? bus2Runs : (s1 || !s2));
        Heard expected;
        expected.direct = !anySolo;
        expected.bus2 = bus2Runs;
        expected.bus1 = bus1Runs;
        const Heard heard = renderRouting(s1, m1, s2, m2, r);
        EXPECT_EQ(heard.bus1, expected.bus1) << bits;
        EXPECT_EQ(heard.bus2, expected.bus2) << bits;
        EXPECT_EQ(heard.direct, expected.direct) << bits;
    }
    // Bus 2 soloed, route "-> 2", bus 1 not muted: bus 1 is heard through bus 2, direct pools
    // are not; muting bus 2 then silences everything.
    const Heard soloed = renderRouting(false, false, true, false, false);
    EXPECT_TRUE(soloed.bus1);
    EXPECT_TRUE(soloed.bus2);
    EXPECT_FALSE(soloed.direct);
    const Heard muted = renderRouting(false, false, true, true, false);
    EXPECT_FALSE(muted.bus1 || muted.bus2 || muted.direct);
}

} // namespace
} // namespace vesk
