// What the editor sends, read back out of a real instance's rings, and how it follows the
// snapshot: banner, visible pools, pending selection.
#include "GuiTestSupport.h"

#include "gui/VeskSamplerEditor.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using vesk::test::decoded;
using vesk::test::drainRings;
using vesk::test::EditorInstance;
using vesk::test::RingMessage;

using EditorFixture = vesk::test::EditorTest;

TEST_F(EditorFixture, RandomTriggersCarryFreshSeedsOnTheTriggerRing)
{
    const uint64_t before = uint64_t(std::time(nullptr));
    editor->triggerRandom();
    editor->triggerRandom();
    const uint64_t after = uint64_t(std::time(nullptr));
    const auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 2u);
    const uint64_t s1 = decoded<vesk::msg::Trigger>(messages[0]).seed;
    const uint64_t s2 = decoded<vesk::msg::Trigger>(messages[1]).seed;
    // seed = time XOR (previous seed * 6364136223846793005 + 1), starting from 0.
    EXPECT_TRUE(s1 == (before ^ 1u) || s1 == (after ^ 1u));
    EXPECT_TRUE(s2 == (before ^ (s1 * 6364136223846793005ULL + 1)) ||
                s2 == (after ^ (s1 * 6364136223846793005ULL + 1)));
    EXPECT_NE(s1, s2);
    EXPECT_EQ(editor->lastSeed(), s2);
}

TEST_F(EditorFixture, SpaceStopsWhatSoundsAndReplaysWhatDoesNot)
{
    editor->togglePlayback();
    instance.published().playing.store(true);
    editor->tick();
    editor->togglePlayback();
    const auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].type, vesk::CmdReplay);
    EXPECT_EQ(messages[1].type, vesk::CmdStopAll);
    EXPECT_TRUE(messages[0].payload.empty());
}

TEST_F(EditorFixture, BulkEditsBecomeRangedParameterMessages)
{
    vesk::PoolState& p = instance.published().pools[1];
    p.sampleCount = 2;
    p.pan = {-30.0f, 0.25f, false};
    p.pitch = {2.0f, 0.5f, true};
    editor->tick();
    editor->applyQuickEnable(3, true);
    editor->applyReset(1);
    editor->applyQuickEnable(0, true); // "---" selects nothing
    const auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 7u);
    const auto pan = decoded<vesk::msg::SetPan>(messages[0]);
    EXPECT_EQ(pan.pool, 1u);
    EXPECT_EQ(pan.base, -30.0f);
    EXPECT_EQ(pan.range, 0.25f);
    EXPECT_TRUE(pan.enabled);
    const vesk::MessageId resetOrder[] = {vesk::CmdSetVolume, vesk::CmdSetPan,
                                          vesk::CmdSetPitch,  vesk::CmdSetDelay,
                                          vesk::CmdSetStart,  vesk::CmdSetReverseChance};
    for (size_t k = 0; k < 6; ++k)
        EXPECT_EQ(messages[1 + k].type, resetOrder[k]);
    const auto pitch = decoded<vesk::msg::SetPitch>(messages[3]);
    EXPECT_EQ(pitch.base, 0.0f);
    EXPECT_FALSE(pitch.enabled);
    EXPECT_EQ(decoded<vesk::msg::SetReverseChance>(messages[6]).percent, 0.0f);
}

TEST_F(EditorFixture, AFullTriggerRingCountsWhatItDrops)
{
    for (int i = 0; i < 70; ++i)
        editor->triggerRandom();
    // The ring holds 64; the audio thread (not running here) never drained it.
    EXPECT_EQ(instance.plugin->queues.droppedCommands.load(), 6);
}

TEST_F(EditorFixture, TheBannerMovesThePanelsDownWhileItShows)
{
    editor->tick();
    EXPECT_FALSE(editor->banner().isVisible());
    EXPECT_EQ(editor->topBar().getY(), 4);
    instance.published().missingFiles = 2;
    instance.published().droppedCommands = 1;
    editor->tick();
    EXPECT_TRUE(editor->banner().isVisible());
    EXPECT_EQ(editor->banner().getBounds(), juce::Rectangle<int>(0, 0, 1200, 24));
    EXPECT_EQ(editor->topBar().getY(), 28);
    EXPECT_EQ(editor->poolViewport().getBounds(), juce::Rectangle<int>(68, 72, 720, 588));
    EXPECT_TRUE(editor->banner().text().contains("    |    "));
    instance.published().missingFiles = 0;
    instance.published().droppedCommands = 0;
    editor->tick();
    EXPECT_FALSE(editor->banner().isVisible());
    EXPECT_EQ(editor->topBar().getY(), 4);
}

TEST_F(EditorFixture, RowsFollowTheVisibleMask)
{
    editor->tick();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(editor->poolRow(i).isVisible(), i < 4) << i;
    instance.published().visiblePools = 0b1000'0101;
    editor->tick();
    EXPECT_TRUE(editor->poolRow(0).isVisible());
    EXPECT_FALSE(editor->poolRow(1).isVisible());
    EXPECT_EQ(editor->poolRow(2).getY(), 154);
    EXPECT_EQ(editor->poolRow(7).getY(), 308);
    instance.published().visiblePools = 0;
    editor->tick();
    EXPECT_EQ(editor->poolViewport().getViewedComponent()->getHeight(), 0);
}

TEST_F(EditorFixture, APendingSelectionWaitsUntilItsPoolShows)
{
    editor->tick();
    editor->selectPoolWhenVisible(5);
    // Another change of the mask (pool 4 shows, 5 does not yet) leaves the selection pending.
    instance.published().visiblePools = 0x1F;
    editor->tick();
    EXPECT_EQ(editor->poolNav().selectedPool(), 0);
    instance.published().visiblePools = 0x3F;
    editor->tick();
    EXPECT_EQ(editor->poolNav().selectedPool(), 5);
    EXPECT_EQ(editor->poolViewport().getViewPositionY(),
              std::min(editor->poolRow(5).getY(),
                       editor->poolViewport().getViewedComponent()->getHeight() -
                           editor->poolViewport().getViewHeight()));
}

TEST_F(EditorFixture, OpeningAndTickingSendsNothing)
{
    for (int i = 0; i < 5; ++i)
        editor->tick();
    EXPECT_TRUE(drainRings(instance.plugin->queues).empty());
}

} // namespace
