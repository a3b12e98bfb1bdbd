// The top bar and the pool navigation inside a real editor over an in-process instance: what each
// control sends, how the bar keeps the user's choice until the snapshot agrees, and how they look.
#include "GuiTestSupport.h"
#include "PanelTestSupport.h"

#include "gui/VeskSamplerEditor.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using vesk::test::clickAt;
using vesk::test::decoded;
using vesk::test::drainRings;
using vesk::test::EditorInstance;
using vesk::test::RingMessage;

struct TopBarGui : vesk::test::EditorTest
{
    void SetUp() override
    {
        EditorTest::SetUp();
        editor->tick();
    }
    VeskSamplerTopBar& bar() { return editor->topBar(); }
};

TEST_F(TopBarGui, ControlsSitWhereTheBarsTableSaysAndCarryTheirGlyphs)
{
    VeskSamplerTopBar& b = bar();
    ASSERT_EQ(b.getWidth(), 1192);
    struct Case
    {
        juce::Component* c;
        juce::Rectangle<int> bounds;
    };
    const Case cases[] = {
        {&b.randomButton(), {12, 4, 28, 32}},       {&b.replayButton(), {46, 4, 28, 32}},
        {&b.stopButton(), {80, 4, 28, 32}},         {&b.voiceModeBox(), {128, 4, 75, 32}},
        {&b.exportStemsButton(), {223, 4, 64, 32}}, {&b.exportMixButton(), {293, 4, 52, 32}},
        {&b.rangeTargetBox(), {365, 4, 75, 32}},    {&b.onButton(), {446, 4, 32, 32}},
        {&b.offButton(), {478, 4, 32, 32}},         {&b.resetButton(), {516, 4, 28, 32}},
        {&b.diceButton(), {550, 4, 28, 32}},        {&b.presetsButton(), {1154, 4, 28, 32}},
        {&b.autoSplitButton(), {1049, 4, 85, 32}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.c->getBounds(), c.bounds) << c.c->getName();
    EXPECT_EQ(b.randomButton().getButtonText(), juce::String::fromUTF8("\xe2\x96\xb6"));
    EXPECT_EQ(b.replayButton().getButtonText(), juce::String::fromUTF8("\xe2\x86\xbb"));
    EXPECT_EQ(b.stopButton().getButtonText(), juce::String::fromUTF8("\xe2\x96\xa0"));
    EXPECT_EQ(b.exportStemsButton().getButtonText(), juce::String::fromUTF8("\xe2\x86\x93 Stems"));
    EXPECT_EQ(b.diceButton().getButtonText(), juce::String::fromUTF8("\xe2\x9a\x84"));
    EXPECT_EQ(b.presetsButton().getTooltip(), "FX Bus Chain Presets");
    // Every button says what it does.
    for (juce::Button* button :
         {(juce::Button*)&b.randomButton(), (juce::Button*)&b.replayButton(),
          (juce::Button*)&b.stopButton(), (juce::Button*)&b.exportStemsButton(),
          (juce::Button*)&b.exportMixButton(), (juce::Button*)&b.onButton(),
          (juce::Button*)&b.offButton(), (juce::Button*)&b.resetButton(),
          (juce::Button*)&b.diceButton(), (juce::Button*)&b.autoSplitButton(),
          (juce::Button*)&b.presetsButton()})
        EXPECT_TRUE(button->getTooltip().isNotEmpty()) << button->getName();
    EXPECT_TRUE(b.voiceModeBox().getTooltip().isNotEmpty());
}

TEST_F(TopBarGui, TransportAndExportsBecomeTheirMessages)
{
    bar().randomButton().triggerClick();
    bar().replayButton().triggerClick();
    bar().stopButton().triggerClick();
    bar().exportStemsButton().triggerClick();
    bar().exportMixButton().triggerClick();
    vesk::test::pumpMessages();
    const auto m = sent();
    ASSERT_EQ(m.size(), 5u);
    // Triggers travel on the trigger ring, which drains first.
    EXPECT_EQ(decoded<vesk::msg::Trigger>(m[0]).seed, editor->lastSeed());
    EXPECT_EQ(m[1].type, vesk::CmdReplay);
    EXPECT_EQ(m[2].type, vesk::CmdStopAll);
    EXPECT_EQ(m[3].type, vesk::CmdRenderStems);
    EXPECT_EQ(m[4].type, vesk::CmdRenderMix);
}

TEST_F(TopBarGui, RangeToolsActOnlyWithATargetButDiceAlways)
{
    vesk::PoolState& p = instance.published().pools[0];
    p.sampleCount = 1;
    p.volume = {-6.0f, 0.5f, true};
    p.pan = {10.0f, 0.2f, false};
    editor->tick();
    bar().onButton().triggerClick();
    bar().offButton().triggerClick();
    bar().resetButton().triggerClick();
    vesk::test::pumpMessages();
    EXPECT_TRUE(sent().empty()) << "\"---\" selects nothing";

    bar().diceButton().triggerClick();
    vesk::test::pumpMessages();
    auto m = sent();
    ASSERT_EQ(m.size(), 1u); // only the enabled volume range re-rolls
    const auto vol = decoded<vesk::msg::SetVolume>(m[0]);
    EXPECT_GE(vol.range, 0.1f);
    EXPECT_LE(vol.range, 1.0f);

    bar().rangeTargetBox().setSelectedId(4); // "Pan"
    bar().onButton().triggerClick();
    vesk::test::pumpMessages();
    bar().rangeTargetBox().setSelectedId(2); // "ALL"
    bar().resetButton().triggerClick();
    vesk::test::pumpMessages();
    m = sent();
    ASSERT_EQ(m.size(), 7u);
    const auto pan = decoded<vesk::msg::SetPan>(m[0]);
    EXPECT_TRUE(pan.enabled);
    EXPECT_EQ(pan.base, 10.0f);
    EXPECT_EQ(m[6].type, vesk::CmdSetReverseChance);
}

TEST_F(TopBarGui, VoiceModeAndAutoSplitKeepTheUsersChoiceUntilTheSnapshotAgrees)
{
    instance.published().retriggerMode = true;
    editor->tick();
    EXPECT_EQ(bar().voiceModeBox().getSelectedId(), 1);
    bar().voiceModeBox().setSelectedId(2); // "Poly", as a user picks it
    bar().autoSplitButton().triggerClick();
    vesk::test::pumpMessages();
    auto m = sent();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_FALSE(decoded<vesk::msg::SetRetriggerMode>(m[0]).on);
    EXPECT_TRUE(decoded<vesk::msg::SetAutoSplit>(m[1]).on);

    editor->tick(); // the engine has not taken them yet
    EXPECT_EQ(bar().voiceModeBox().getSelectedId(), 2);
    EXPECT_TRUE(bar().autoSplitButton().getToggleState());

    instance.published().retriggerMode = false;
    instance.published().autoSplit = true;
    editor->tick(); // agreed: from now on the snapshot rules again
    instance.published().retriggerMode = true;
    instance.published().autoSplit = false;
    editor->tick();
    EXPECT_EQ(bar().voiceModeBox().getSelectedId(), 1);
    EXPECT_FALSE(bar().autoSplitButton().getToggleState());
    EXPECT_TRUE(sent().empty()) << "state to controls never notifies";

    EXPECT_TRUE(bar().voiceModeBox().isEnabled());
    instance.published().playing.store(true);
    editor->tick();
    EXPECT_FALSE(bar().voiceModeBox().isEnabled());
}

TEST_F(TopBarGui, TheBarRendersWithItsSeparators)
{
    const juce::Image image = vesk::test::render(bar());
    vesk::test::saveImage(image, "topbar");
    // A separator at x = 213 in the label colour at 0.3 alpha over the window background.
    const juce::Colour sep = image.getPixelAt(213, 20);
    const juce::Colour gap = image.getPixelAt(216, 20);
    EXPECT_NE(sep.getARGB(), gap.getARGB());
}

// --- The navigation ------------------------------------------------------------------------------

struct PoolNavGui : TopBarGui
{
    VeskSamplerPoolNav& nav() { return editor->poolNav(); }
    void show(uint8_t mask)
    {
        instance.published().visiblePools = mask;
        editor->tick();
    }
};

TEST_F(PoolNavGui, PlusShowsTheFirstHiddenPoolAndSelectsItOnceVisible)
{
    struct Case
    {
        uint8_t mask;
        uint32_t expected;
    };
    for (const Case c : {Case{0x0F, 4}, Case{0x0B, 2}, Case{0x00, 0}, Case{0x7F, 7}}) {
        show(c.mask);
        nav().addButton().triggerClick();
        vesk::test::pumpMessages();
        const auto m = sent();
        ASSERT_EQ(m.size(), 1u);
        const auto v = decoded<vesk::msg::SetPoolVisible>(m[0]);
        EXPECT_EQ(v.pool, c.expected);
        EXPECT_TRUE(v.on);
        show(uint8_t(c.mask | (1u << c.expected)));
        EXPECT_EQ(nav().selectedPool(), int(c.expected));
        EXPECT_TRUE(nav().card(int(c.expected)).isVisible());
    }
    show(0xFF);
    EXPECT_FALSE(nav().addButton().isVisible());
    show(0x0F);
    EXPECT_TRUE(nav().addButton().isVisible());
    EXPECT_EQ(nav().card(3).getBounds(), juce::Rectangle<int>(4, 4 + 3 * 64, 52, 60));
}

TEST_F(PoolNavGui, DotsAndAltClickToggleTheInverseOfTheSnapshotsBits)
{
    instance.published().soloMask = 0b0010;
    instance.published().muteMask = 0b0100;
    editor->tick();
    VeskSamplerPoolNavCard& c1 = nav().card(1);
    VeskSamplerPoolNavCard& c2 = nav().card(2);
    clickAt(c1, 10, 10); // solo dot
    clickAt(c2, 10, 24); // mute dot
    clickAt(c2, 30, 40,
            juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier |
                               juce::ModifierKeys::altModifier));
    const auto m = sent();
    ASSERT_EQ(m.size(), 3u);
    auto solo = decoded<vesk::msg::SetPoolSolo>(m[0]);
    EXPECT_EQ(solo.pool, 1u);
    EXPECT_FALSE(solo.on); // was soloed
    auto mute = decoded<vesk::msg::SetPoolMute>(m[1]);
    EXPECT_EQ(mute.pool, 2u);
    EXPECT_FALSE(mute.on);
    solo = decoded<vesk::msg::SetPoolSolo>(m[2]);
    EXPECT_EQ(solo.pool, 2u);
    EXPECT_TRUE(solo.on);
    // Neither a dot nor Alt-click selects the card.
    EXPECT_EQ(nav().selectedPool(), 0);
}

TEST_F(PoolNavGui, AClickSelectsButCtrlClickOpensTheMenuInstead)
{
    VeskSamplerPoolNavCard& c3 = nav().card(3);
    EXPECT_TRUE(VeskSamplerPoolNavCard::opensMenu(juce::ModifierKeys(
        juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::ctrlModifier)));
    EXPECT_TRUE(VeskSamplerPoolNavCard::opensMenu(vesk::test::kRight));
    EXPECT_FALSE(VeskSamplerPoolNavCard::opensMenu(vesk::test::kLeft));
    clickAt(c3, 30, 40);
    EXPECT_EQ(nav().selectedPool(), 3);
    EXPECT_TRUE(nav().card(3).selected());
    EXPECT_FALSE(nav().card(0).selected());
    EXPECT_TRUE(sent().empty());
}

TEST_F(PoolNavGui, TheMenuLocksClearsAndRemovesAndNothingOnDismissal)
{
    instance.published().freezeMask = 0b0001;
    editor->tick();
    VeskSamplerPoolNavCard& c0 = nav().card(0);
    juce::StringArray items;
    const juce::PopupMenu menu = c0.buildMenu();
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
        items.add(it.getItem().isSeparator ? "-" : it.getItem().text);
    EXPECT_EQ(items.joinIntoString("|"), "Unlock Pool|-|Clear Pool|Remove Pool");
    c0.menuChosen(0); // dismissed, or the card died with its menu open
    c0.menuChosen(1);
    c0.menuChosen(2);
    c0.menuChosen(3);
    nav().card(1).menuChosen(1);
    const auto m = sent();
    ASSERT_EQ(m.size(), 4u);
    auto lock = decoded<vesk::msg::SetPoolFreeze>(m[0]);
    EXPECT_EQ(lock.pool, 0u);
    EXPECT_FALSE(lock.on);
    EXPECT_EQ(decoded<vesk::msg::ClearPool>(m[1]).pool, 0u);
    EXPECT_EQ(decoded<vesk::msg::RemovePool>(m[2]).pool, 0u);
    lock = decoded<vesk::msg::SetPoolFreeze>(m[3]);
    EXPECT_EQ(lock.pool, 1u);
    EXPECT_TRUE(lock.on);
}

TEST_F(PoolNavGui, SoloMuteAndLockShowOnTheCards)
{
    std::strcpy(instance.published().pools[0].name, "Kick");
    instance.published().pools[0].sampleCount = 3;
    instance.published().soloMask = 0b0001;
    instance.published().muteMask = 0b0100;
    instance.published().freezeMask = 0b1000;
    editor->tick();
    const juce::Image image = vesk::test::render(nav());
    vesk::test::saveImage(image, "poolnav-solo-mute-lock");
    const auto near = [](juce::Colour a, uint32_t rgb) {
        const juce::Colour b(rgb);
        return std::abs(a.getRed() - b.getRed()) < 24 &&
               std::abs(a.getGreen() - b.getGreen()) < 24 &&
               std::abs(a.getBlue() - b.getBlue()) < 24;
    };
    // Card 0 at (4, 4): its solo dot centre at (15, 15) green, body soloed blue.
    EXPECT_TRUE(near(image.getPixelAt(4 + 11, 4 + 11), 0xff4caf50));
    EXPECT_TRUE(near(image.getPixelAt(4 + 8, 4 + 45), 0xff2a4a6a));
    // Card 2's mute dot red; card 3's padlock body grey near its top right.
    EXPECT_TRUE(near(image.getPixelAt(4 + 11, 4 + 128 + 25), 0xfff44336));
    EXPECT_TRUE(near(image.getPixelAt(4 + 52 - 14, 4 + 192 + 13), 0xffa0a0a0));
}

} // namespace
