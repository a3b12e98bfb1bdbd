// The pending-value rule: a control shows the user's edit until the engine reports it, within a
// tolerance of the units sent, and gives up on an edit the engine never confirms.
#include "gui/VeskPendingValue.h"

#include <gtest/gtest.h>

#include <cmath>

using vesk::gui::nearlyEqual;
using vesk::gui::spanTolerance;
using vesk::gui::VeskPendingValue;

namespace {

// A range edited in percent travels as r / 100 and comes back multiplied by 100.
float roundTripPercent(float r)
{
    const volatile float sent = r / 100.0f;
    return sent * 100.0f;
}

auto rangeMatch = [](float engine, float pending) {
    return nearlyEqual(engine, pending, spanTolerance(0.0f, 100.0f));
};

} // namespace

TEST(PendingValueTest, KeepsTheEditUntilTheEngineAgrees)
{
    VeskPendingValue<float> pending;
    EXPECT_FALSE(pending.active());
    EXPECT_EQ(pending.resolve(3.0f, 0.0), 3.0f); // nothing pending: the engine drives

    pending.set(7.0f, 100.0);
    EXPECT_EQ(pending.resolve(3.0f, 110.0), 7.0f); // old snapshot: keep the user's value
    EXPECT_TRUE(pending.active());
    EXPECT_EQ(pending.resolve(7.0f, 140.0), 7.0f); // confirmed
    EXPECT_FALSE(pending.active());
    EXPECT_EQ(pending.resolve(2.0f, 150.0), 2.0f); // and the engine drives again (undo, dice)
}

TEST(PendingValueTest, AnUnconfirmedEditExpiresAfterASecond)
{
    VeskPendingValue<float> pending;
    pending.set(7.0f, 1000.0);
    EXPECT_TRUE(pending.offer(3.0f, 1000.0 + 999.0));
    EXPECT_FALSE(pending.offer(3.0f, 1000.0 + VeskPendingValue<float>::kExpiryMs));
    EXPECT_EQ(pending.resolve(3.0f, 2100.0), 3.0f);

    // A new edit restarts the wait.
    pending.set(8.0f, 5000.0);
    EXPECT_EQ(pending.resolve(3.0f, 5500.0), 8.0f);
    pending.set(9.0f, 5900.0);
    EXPECT_EQ(pending.resolve(3.0f, 6800.0), 9.0f);
    EXPECT_EQ(pending.resolve(3.0f, 6900.0), 3.0f);
}

TEST(PendingValueTest, EveryPercentRangeRoundTripIsConfirmed)
{
    // Exact equality fails for a good share of these; the tolerance must accept every one, and
    // still tell neighbouring values a user can set (0.1 % apart with Shift) from each other.
    int inexact = 0;
    for (int i = 0; i <= 100000; ++i) {
        const float r = static_cast<float>(i) * 0.001f;
        const float back = roundTripPercent(r);
        if (back != r)
            ++inexact;
        VeskPendingValue<float> pending;
        pending.set(r, 0.0);
        ASSERT_FALSE(pending.offer(back, 1.0, rangeMatch)) << "range " << r << " back " << back;
    }
    EXPECT_GT(inexact, 1000); // the fault this guards against is real
    EXPECT_FALSE(rangeMatch(50.0f, 50.1f));
    EXPECT_FALSE(rangeMatch(0.0f, 0.01f));
}

TEST(PendingValueTest, ToleranceCases)
{
    struct Case
    {
        float a, b, min, max;
        bool equal;
    };
    const Case cases[] = {
        {1.0f, 1.0f, 0.0f, 100.0f, true},
        {-48.0f, -48.0f + 1.0e-4f, -48.0f, 12.0f, true},
        {-48.0f, -47.99f, -48.0f, 12.0f, false},
        {1000.0f, 1000.05f, 0.0f, 20000.0f, true},
        {1000.0f, 1001.0f, 0.0f, 20000.0f, false},
        {5.0f, 5.0f, 5.0f, 5.0f, true}, // empty span: still a usable tolerance
        {5.0f, 5.1f, 5.0f, 5.0f, false},
        {NAN, 1.0f, 0.0f, 1.0f, false}, // never confirmed by a broken value
        {INFINITY, INFINITY, 0.0f, 1.0f, true},
        {0.0f, 1.0f, 0.0f, INFINITY, false}, // non-finite span: tight tolerance
    };
    for (const Case& c : cases)
        EXPECT_EQ(nearlyEqual(c.a, c.b, spanTolerance(c.min, c.max)), c.equal)
            << c.a << " vs " << c.b << " over " << c.min << ".." << c.max;
}

TEST(PendingValueTest, CompositeValuesWithTheirOwnMatch)
{
    struct Knob
    {
        float value, range;
        bool enabled;
    };
    auto match = [](const Knob& e, const Knob& p) {
        return nearlyEqual(e.value, p.value, spanTolerance(-12.0f, 12.0f)) &&
               nearlyEqual(e.range, p.range, spanTolerance(0.0f, 100.0f)) && e.enabled == p.enabled;
    };
    VeskPendingValue<Knob> pending;
    pending.set({7.2f, 30.0f, true}, 0.0);
    EXPECT_TRUE(pending.offer({7.2f, 30.0f, false}, 10.0, match)); // flag not yet applied
    EXPECT_TRUE(pending.offer({0.0f, 30.0f, true}, 20.0, match));
    EXPECT_FALSE(pending.offer({7.2f, roundTripPercent(30.0f), true}, 30.0, match));
}

TEST(PendingValueTest, AClockThatRunsBackwardsDoesNotPinTheEdit)
{
    VeskPendingValue<int> pending;
    pending.set(4, 1.0e9);
    EXPECT_FALSE(pending.offer(1, 0.0));
    EXPECT_EQ(pending.resolve(1, 0.0), 1);
}

TEST(PendingValueTest, ClockAdvances)
{
    const double a = vesk::gui::pendingClockMs();
    const double b = vesk::gui::pendingClockMs();
    EXPECT_LE(a, b);
}
