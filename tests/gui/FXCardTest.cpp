// FX cards, their container and the lane panels, the master strip and the preset popup, inside a
// real editor over an in-process instance: what each gesture sends and what each panel shows.
#include "GuiTestSupport.h"
#include "PanelTestSupport.h"

#include "gui/VeskFxChainPresetPopup.h"
#include "gui/VeskSamplerEditor.h"

#include "fx/VeskLanePresetIO.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using vesk::test::clickAt;
using vesk::test::decoded;
using vesk::test::drainRings;
using vesk::test::EditorInstance;
using vesk::test::pumpMessages;
using vesk::test::RingMessage;

struct PanelFixture : vesk::test::EditorTest
{
    void SetUp() override
    {
        EditorTest::SetUp();
        editor->tick();
    }
    vesk::FXLaneState& lane(int i) { return instance.published().lanes[i]; }
    // Puts modules of these types into a lane of the published snapshot, with their defaults.
    void setLane(int i, std::initializer_list<vesk::FXType> types)
    {
        vesk::FXLaneState& l = lane(i);
        l.slotCount = 0;
        for (vesk::FXType t : types) {
            vesk::FXSlotState& s = l.slots[l.slotCount++];
            s = {};
            s.type = uint8_t(t);
            if (const vesk::FXModuleInfo* info = vesk::getFXModuleInfo(t))
                for (uint32_t k = 0; k < info->paramCount; ++k)
                    s.params[k] = info->paramDefaults[k];
        }
    }
    VeskSamplerFXCardContainer& container(int i) { return editor->lanePanel(i).container(); }
};

// --- Cards ---------------------------------------------------------------------------------------

using FXCardGui = PanelFixture;

TEST_F(FXCardGui, KnobConfigsAreReadFromTheRegistryForEveryModule)
{
    for (const vesk::FXModuleInfo& info : vesk::detail::kRegistry) {
        const auto configs = FXKnobConfig::fromRegistry(&info);
        ASSERT_EQ(configs.size(), size_t(info.paramCount)) << info.name;
        for (uint32_t k = 0; k < info.paramCount; ++k) {
            const FXKnobConfig& c = configs[k];
            EXPECT_EQ(c.name, juce::String::fromUTF8(info.paramNames[k])) << info.name;
            EXPECT_EQ(c.min, info.paramMin[k]);
            EXPECT_EQ(c.max, info.paramMax[k]);
            EXPECT_EQ(c.defaultValue, info.paramDefaults[k]);
            EXPECT_EQ(c.row, info.paramRows != nullptr ? info.paramRows[k] : 0);
            EXPECT_FALSE(c.showValue);
            EXPECT_EQ(c.hasDisplayMapping, info.paramDisplayCurve != nullptr);
        }
    }
    EXPECT_TRUE(FXKnobConfig::fromRegistry(nullptr).empty());
}

TEST_F(FXCardGui, SizesAndKnobPlaces)
{
    const int widths[] = {90, 90, 140, 190, 230, 280, 330, 330};
    for (int n = 1; n <= 7; ++n)
        EXPECT_EQ(VeskSamplerFXCard::getRecommendedWidth(n), widths[n]) << n;
    VeskSamplerFXCard card("Test", true);
    std::vector<FXKnobConfig> knobs(3);
    card.setupKnobs(knobs);
    card.setRowCount(1);
    card.setSize(190, card.preferredHeight());
    EXPECT_EQ(card.preferredHeight(), 91);
    // Spacing min(52, (190 - 44) / 2) = 52 around the centre 95.
    EXPECT_EQ(card.knob(0).getBounds(), juce::Rectangle<int>(95 - 52 - 22, 24, 44, 61));
    EXPECT_EQ(card.knob(1).getBounds(), juce::Rectangle<int>(95 - 22, 24, 44, 61));
    EXPECT_EQ(card.knob(2).getBounds(), juce::Rectangle<int>(95 + 52 - 22, 24, 44, 61));
    card.setRowCount(2);
    EXPECT_EQ(card.preferredHeight(), 152);
}

TEST_F(FXCardGui, PowerTitleCloseAndToggleReportOnlyWhereTheyMay)
{
    VeskSamplerFXCard card("Delay", true);
    card.setSize(190, 91);
    int removes = 0, toggles = 0;
    std::vector<bool> bypasses;
    card.onRemove = [&] { ++removes; };
    card.onBypassToggle = [&](bool b) { bypasses.push_back(b); };
    card.onToggleChanged = [&](bool) { ++toggles; };
    clickAt(card, 190 - 12, 14); // close box without a slot identity: nothing
    EXPECT_EQ(removes, 0);
    card.setSlotIdentity(0, 2, int(vesk::FXType::Delay));
    clickAt(card, 190 - 12, 14);
    EXPECT_EQ(removes, 1);
    clickAt(card, 12, 12); // power light
    clickAt(card, 30, 12); // title
    card.setBypassed(true);
    clickAt(card, 12, 12);
    EXPECT_EQ(bypasses, (std::vector<bool>{true, true, false}));
    card.setToggle("Multi");
    clickAt(card, card.toggleArea().getCentreX(), 12); // bypassed: the toggle is dead
    EXPECT_EQ(toggles, 0);
    card.setBypassed(false);
    clickAt(card, card.toggleArea().getCentreX(), 12);
    EXPECT_EQ(toggles, 1);
    const juce::var d = card.dragDescription();
    EXPECT_EQ(d["type"].toString(), "fxCard");
    EXPECT_EQ(int(d["lane"]), 0);
    EXPECT_EQ(int(d["slot"]), 2);
    EXPECT_EQ(int(d["fxType"]), int(vesk::FXType::Delay));
}

// --- Container and lane panel --------------------------------------------------------------------

using FXLaneGui = PanelFixture;

TEST_F(FXLaneGui, CardsFollowTheLaneAndSendTheirEdits)
{
    setLane(0, {vesk::FXType::Delay, vesk::FXType::Chorus});
    editor->tick();
    ASSERT_EQ(container(0).cardCount(), 2);
    EXPECT_EQ(container(0).card(0).title(), "Delay");
    const int rebuilds = container(0).rebuildCount();
    lane(0).slots[0].params[0] = 0.25f;
    editor->tick();
    EXPECT_EQ(container(0).rebuildCount(), rebuilds) << "a value change rebuilds nothing";
    EXPECT_EQ(container(0).card(0).knob(0).getValue(), 0.25f);

    VeskSamplerFXCard& chorus = container(0).card(1);
    chorus.onKnobChanged(1, 0.5f);
    chorus.onKnobModBinding(0, 1, 0.4f);
    chorus.onBypassToggle(true);
    chorus.onRemove();
    container(1).addMenuChosen(int(vesk::FXType::Delay));
    container(1).addMenuChosen(0); // the menu dismissed
    const auto m = sent();
    ASSERT_EQ(m.size(), 5u);
    const auto p = decoded<vesk::msg::SetFxParam>(m[0]);
    EXPECT_EQ(p.lane, 0);
    EXPECT_EQ(p.slot, 1);
    EXPECT_EQ(p.knob, 1);
    EXPECT_EQ(p.value, 0.5f);
    const auto b = decoded<vesk::msg::BindFxModulation>(m[1]);
    EXPECT_EQ(b.source, 1);
    EXPECT_EQ(b.depth, 0.4f);
    EXPECT_TRUE(decoded<vesk::msg::SetFxSlotBypass>(m[2]).bypassed);
    EXPECT_EQ(decoded<vesk::msg::RemoveFxSlot>(m[3]).slot, 1);
    const auto add = decoded<vesk::msg::AddFxSlot>(m[4]);
    EXPECT_EQ(add.lane, 1);
    EXPECT_EQ(add.fxType, uint8_t(vesk::FXType::Delay));
}

TEST_F(FXLaneGui, FortyCardsAllReachableAndAnUnknownTypeIsAnEmptyCard)
{
    vesk::FXLaneState& l = lane(1);
    l.slotCount = 41; // more than a lane holds: readers clamp
    for (int i = 0; i < 41; ++i)
        l.slots[i < 40 ? i : 39].type = uint8_t(1 + i % 30);
    l.slots[5].type = 99;
    l.slots[5].params[0] = 7.0f;
    editor->tick();
    ASSERT_EQ(container(1).cardCount(), 40);
    EXPECT_EQ(container(1).card(5).title(), "(empty)");
    EXPECT_EQ(container(1).card(5).knobCount(), 0);
    juce::Viewport& vp = editor->lanePanel(1).viewport();
    EXPECT_EQ(container(1).getHeight(), container(1).preferredHeight());
    vp.setViewPosition(0, container(1).getHeight());
    const juce::Rectangle<int> last = container(1).card(39).getBounds();
    EXPECT_TRUE(vp.getViewArea().contains(last)) << "the fortieth card scrolls into view";
    EXPECT_TRUE(vp.getViewArea().contains(container(1).addButton().getBounds()));
}

TEST_F(FXLaneGui, DropsMoveOnlyWhatStillSitsWhereTheDragBegan)
{
    setLane(0, {vesk::FXType::Delay, vesk::FXType::Chorus, vesk::FXType::Reverb});
    setLane(1, {vesk::FXType::Haas});
    editor->tick();
    VeskSamplerFXCardContainer& own = container(0);
    VeskSamplerFXCardContainer& other = container(1);
    const juce::var chorus = own.card(1).dragDescription();
    // Insert points from y: above the first card's centre 0, between cards 1, 2, below all 3.
    const int h = own.card(0).preferredHeight();
    EXPECT_EQ(own.computeInsertIndexFromY(0), 0);
    EXPECT_EQ(own.computeInsertIndexFromY(4 + h / 2 + 1), 1);
    EXPECT_EQ(own.computeInsertIndexFromY(10000), 3);
    EXPECT_EQ(own.computeIndicatorYFromIdx(0), 2);
    EXPECT_EQ(own.computeIndicatorYFromIdx(1), 4 + h + 4 - 4 + 2);

    EXPECT_FALSE(own.moveForDrop(chorus, 1).valid) << "onto its own place";
    EXPECT_FALSE(own.moveForDrop(chorus, 2).valid) << "just below itself";
    const auto up = own.moveForDrop(chorus, 0);
    EXPECT_TRUE(up.valid);
    const auto across = other.moveForDrop(chorus, 0);
    EXPECT_TRUE(across.valid);
    EXPECT_EQ(across.fromLane, 0);
    EXPECT_EQ(across.fromSlot, 1);
    EXPECT_EQ(across.toIndex, 0);
    // A preset appended or a card removed during the drag: slot 1 now holds another module.
    setLane(0, {vesk::FXType::Delay, vesk::FXType::Reverb});
    editor->tick();
    EXPECT_FALSE(other.moveForDrop(chorus, 0).valid);
    juce::var notACard(new juce::DynamicObject());
    notACard.getDynamicObject()->setProperty("type", "file");
    EXPECT_FALSE(other.moveForDrop(notACard, 0).valid);
    EXPECT_TRUE(sent().empty());
}

TEST_F(FXLaneGui, HeaderBoxesReportAndABypassedLaneDimsEveryCard)
{
    setLane(0, {vesk::FXType::Delay});
    setLane(1, {vesk::FXType::Delay});
    instance.published().bus1ToMaster = true;
    lane(1).muted = 1;
    editor->tick();
    VeskSamplerFXLanePanel& p0 = editor->lanePanel(0);
    VeskSamplerFXLanePanel& p1 = editor->lanePanel(1);
    EXPECT_TRUE(p1.routeBox().isEmpty()) << "FX Bus 2 has no routing box";
    clickAt(p0, 40, 14);                         // title: bypass
    clickAt(p0, p0.soloBox().getCentreX(), 14);  // solo
    clickAt(p0, p0.routeBox().getCentreX(), 14); // routing
    clickAt(p1, p1.muteBox().getCentreX(), 14);  // mute (was muted)
    clickAt(p1, p1.getWidth() - 66, 14);         // where bus 1's routing box is: title
    const auto m = sent();
    ASSERT_EQ(m.size(), 5u);
    EXPECT_TRUE(decoded<vesk::msg::SetLaneBypass>(m[0]).on);
    EXPECT_TRUE(decoded<vesk::msg::SetLaneSolo>(m[1]).on);
    EXPECT_FALSE(decoded<vesk::msg::SetBus1ToMaster>(m[2]).on);
    const auto mute = decoded<vesk::msg::SetLaneMute>(m[3]);
    EXPECT_EQ(mute.lane, 1);
    EXPECT_FALSE(mute.on);
    EXPECT_EQ(decoded<vesk::msg::SetLaneBypass>(m[4]).lane, 1);

    EXPECT_FALSE(container(0).card(0).bypassed());
    lane(0).bypassed = 1;
    editor->tick();
    EXPECT_TRUE(container(0).card(0).bypassed());
    EXPECT_TRUE(container(0).card(0).knob(0).isDimmed());
    EXPECT_FALSE(container(1).card(0).bypassed());
    // Its power light still switches the module itself, though the lane dims the card.
    clickAt(container(0).card(0), 12, 12);
    const auto power = sent();
    ASSERT_EQ(power.size(), 1u);
    EXPECT_TRUE(decoded<vesk::msg::SetFxSlotBypass>(power[0]).bypassed);
}

TEST_F(FXLaneGui, KnobModulationMenuAndMiniRingDragBindAndSetTheDepth)
{
    setLane(0, {vesk::FXType::Delay});
    editor->tick();
    VeskSamplerFXCard::Knob& k = container(0).card(0).knob(0);
    k.applyModMenuResult(2); // "MPE Pressure"
    // The mini ring at (6, 6): 50 px up is 50 x 0.3 x 0.01 = +0.15 of depth.
    vesk::test::dragFromTo(k, {6, 6}, {6, -44});
    const auto m = sent();
    ASSERT_GE(m.size(), 2u);
    const auto bind = decoded<vesk::msg::BindFxModulation>(m[0]);
    EXPECT_EQ(bind.source, 1);
    EXPECT_EQ(bind.depth, 0.0f);
    const auto last = decoded<vesk::msg::BindFxModulation>(m.back());
    EXPECT_EQ(last.source, 1);
    EXPECT_NEAR(last.depth, 0.15f, 1e-5f);
    // The snapshot still carries the old binding for a tick: the knob keeps the user's.
    editor->tick();
    EXPECT_NEAR(k.getModDepth(), 0.15f, 1e-5f);
}

TEST_F(FXLaneGui, TwoBusesWithCardsRender)
{
    setLane(0, {vesk::FXType::Delay, vesk::FXType::Chorus, vesk::FXType::Reverb});
    setLane(1, {vesk::FXType::Saturate, vesk::FXType::Haas});
    lane(0).slots[1].bypassed = 1;
    lane(0).slots[0].modSource[0] = 1;
    lane(0).slots[0].modDepth[0] = 0.5f;
    lane(1).soloed = 1;
    instance.published().visiblePools = 0x0F;
    instance.published().master.bypassed = 0;
    editor->tick();
    const juce::Image image = vesk::test::render(*editor);
    vesk::test::saveImage(image, "editor-buses-and-master");
    // A bypassed card's body, a live card's body.
    const juce::Rectangle<int> c1 = container(0).card(1).getBoundsInParent();
    const juce::Point<int> at =
        editor->getLocalPoint(&container(0), c1.getPosition()) + juce::Point<int>(3, 40);
    EXPECT_EQ(image.getPixelAt(at.x, at.y).getARGB(),
              juce::Colour(uint8_t(32), uint8_t(32), uint8_t(35)).getARGB());
}

// --- Master strip --------------------------------------------------------------------------------

using MasterGui = PanelFixture;

TEST_F(MasterGui, AKnobSendsItsWholeGroupAndTwoQuickEditsBothStay)
{
    vesk::MasterFXState& s = instance.published().master;
    s.eqLow = -3.0f;
    s.eqHigh = 4.0f;
    editor->tick();
    VeskSamplerMasterFX& m = editor->masterPanel();
    m.card(VeskSamplerMasterFX::EQ).onKnobChanged(1, 2.0f);  // Mid
    m.card(VeskSamplerMasterFX::EQ).onKnobChanged(0, -6.0f); // Low, before the snapshot moved
    editor->tick();                                          // still the old values in the snapshot
    m.card(VeskSamplerMasterFX::Reverb).onKnobChanged(3, 40.0f); // Dry/Wet 40 %
    m.card(VeskSamplerMasterFX::Reverb).onKnobChanged(2, 2.5f);  // Decay 2.5 s
    auto msgs = sent();
    ASSERT_EQ(msgs.size(), 4u);
    auto eq = decoded<vesk::msg::SetMasterEQ>(msgs[0]);
    EXPECT_EQ(eq.lowDb, -3.0f);
    EXPECT_EQ(eq.midDb, 2.0f);
    EXPECT_EQ(eq.highDb, 4.0f);
    eq = decoded<vesk::msg::SetMasterEQ>(msgs[1]);
    EXPECT_EQ(eq.lowDb, -6.0f);
    EXPECT_EQ(eq.midDb, 2.0f) << "the first edit is kept";
    EXPECT_EQ(eq.highDb, 4.0f);
    auto rv = decoded<vesk::msg::SetMasterReverb>(msgs[3]);
    EXPECT_NEAR(rv.mix, 0.4f, 1e-6f);
    EXPECT_EQ(rv.decaySeconds, 2.5f);
    EXPECT_NEAR(rv.size, 0.2f, 1e-6f);

    // The engine takes them: the snapshot agrees and rules again.
    s.eqLow = -6.0f;
    s.eqMid = 2.0f;
    editor->tick();
    s.eqMid = 1.0f;
    editor->tick();
    m.card(VeskSamplerMasterFX::EQ).onKnobChanged(2, 0.0f);
    msgs = sent();
    ASSERT_EQ(msgs.size(), 1u);
    eq = decoded<vesk::msg::SetMasterEQ>(msgs[0]);
    EXPECT_EQ(eq.midDb, 1.0f);
    EXPECT_EQ(eq.highDb, 0.0f);
}

TEST_F(MasterGui, PowerSwitchesAndTheBypassedLook)
{
    vesk::MasterFXState& s = instance.published().master;
    s.bypassed = 1;
    editor->tick();
    VeskSamplerMasterFX& m = editor->masterPanel();
    for (int c : {0, 1, 2, 3})
        EXPECT_TRUE(m.card(c).bypassed()) << c;
    EXPECT_FALSE(m.card(VeskSamplerMasterFX::Output).bypassed());
    EXPECT_FALSE(m.card(VeskSamplerMasterFX::Output).knob(0).isDimmed());
    clickAt(m, 14, 14);                                    // the master power light
    clickAt(m.card(VeskSamplerMasterFX::Limiter), 12, 12); // the limiter's own
    clickAt(m.card(VeskSamplerMasterFX::Enhance), 12, 12);
    s.bypassed = 0;
    editor->tick();
    clickAt(m.card(VeskSamplerMasterFX::Enhance),
            m.card(VeskSamplerMasterFX::Enhance).toggleArea().getCentreX(), 12); // "Multi"
    const auto msgs = sent();
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_FALSE(decoded<vesk::msg::SetMasterBypass>(msgs[0]).on);
    EXPECT_TRUE(decoded<vesk::msg::SetMasterLimiterBypass>(msgs[1]).on);
    EXPECT_TRUE(decoded<vesk::msg::SetMasterEnhanceBypass>(msgs[2]).on);
    EXPECT_TRUE(decoded<vesk::msg::SetMasterEnhanceMulti>(msgs[3]).on);
    EXPECT_FLOAT_EQ(m.card(VeskSamplerMasterFX::Reverb).knob(3).getValue(),
                    15.0f); // 0.15 shown as 15
}

// --- Preset popup --------------------------------------------------------------------------------

struct PresetGui : PanelFixture
{
    juce::TemporaryFile home;
    std::string savedHome;
    void SetUp() override
    {
        PanelFixture::SetUp();
        if (const char* h = std::getenv("HOME"))
            savedHome = h;
        ASSERT_TRUE(home.getFile().createDirectory());
        setenv("HOME", home.getFile().getFullPathName().toRawUTF8(), 1);
    }
    void TearDown() override
    {
        home.getFile().deleteRecursively();
        setenv("HOME", savedHome.c_str(), 1);
    }
};

TEST_F(PresetGui, HeightNameFieldAndSaveButton)
{
    VeskFxChainPresetPopup popup;
    EXPECT_EQ(popup.getWidth(), 300);
    EXPECT_EQ(popup.getHeight(), 170); // 128 without rows, at least 170
    EXPECT_TRUE(popup.emptyLabel().isVisible());
    std::vector<juce::String> names;
    for (int i = 0; i < 25; ++i)
        names.push_back("P" + juce::String(i));
    popup.setPresets(names);
    EXPECT_EQ(popup.getHeight(), 700);
    EXPECT_FALSE(popup.emptyLabel().isVisible());
    juce::Viewport& vp = popup.listViewport();
    vp.setViewPosition(0, 100000);
    EXPECT_TRUE(vp.getViewArea().contains(popup.row(24).getBounds()))
        << "the 25th row scrolls: " << vp.getViewArea().toString() << " "
        << popup.row(24).getBounds().toString();

    juce::StringArray saved;
    popup.onSave = [&](const juce::String& n) { saved.add(n); };
    popup.nameEditor().setText("   ", juce::sendNotification);
    pumpMessages();
    EXPECT_FALSE(popup.saveButton().isEnabled());
    popup.nameEditor().setText("  Chain A ", juce::sendNotification);
    pumpMessages();
    EXPECT_TRUE(popup.saveButton().isEnabled());
    popup.nameEditor().onReturnKey();
    pumpMessages();
    EXPECT_EQ(saved.joinIntoString("|"), "Chain A");
    EXPECT_TRUE(popup.nameEditor().isEmpty());
    EXPECT_FALSE(popup.saveButton().isEnabled());
}

TEST_F(PresetGui, SaveListAppendAndDeleteThroughTheTopBar)
{
    setLane(0, {vesk::FXType::Delay});
    setLane(1, {vesk::FXType::Chorus, vesk::FXType::Haas});
    editor->tick();
    VeskSamplerTopBar& bar = editor->topBar();
    bar.showPresetPopup();
    VeskFxChainPresetPopup* popup = bar.presetPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->emptyLabel().isVisible());
    popup->onSave("Chain A");
    EXPECT_TRUE(vesk::getVeskFxChainDir().getChildFile("Chain A.veskfxchain").existsAsFile());
    pumpMessages(); // the list refreshes asynchronously
    ASSERT_EQ(popup->rowCount(), 1);
    EXPECT_EQ(popup->row(0).name(), "Chain A");

    popup->row(0).onClick();
    auto m = sent();
    ASSERT_EQ(m.size(), 2u) << "one append per bus";
    EXPECT_EQ(m[0].type, vesk::CmdAppendFxChain);

    popup->row(0).deleteButton().triggerClick();
    pumpMessages();
    EXPECT_FALSE(vesk::getVeskFxChainDir().getChildFile("Chain A.veskfxchain").exists());
    EXPECT_EQ(popup->rowCount(), 0);
    EXPECT_TRUE(popup->emptyLabel().isVisible());

    // Closing the editor with the popup open is safe.
    editor.reset();
    pumpMessages();
}

} // namespace
