// The pool row: its logic without a display, the messages its controls send through a real
// instance's rings, what it takes from the snapshot (and that taking it sends nothing), and the
// row rendered offscreen.
#include "GuiTestSupport.h"
#include "KnobTestMouse.h"

#include "gui/VeskSamplerEditor.h"
#include "gui/VeskSamplerPoolRow.h"

#include "support/InProcessPlugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>

namespace {

namespace rl = vesk::gui::rowlogic;
using vesk::test::decoded;
using vesk::test::drainRings;
using vesk::test::EditorInstance;
using vesk::test::Mouse;
using vesk::test::RingMessage;

bool validUtf8(const std::string& s)
{
    return juce::CharPointer_UTF8::isValidString(s.data(), int(s.size()));
}

// ---------------------------------------------------------------------------------------------
// Logic

TEST(PoolRowGuiLogic, Texts)
{
    EXPECT_EQ(rl::samplesButtonText(2, 12), "3 (12/64)");
    EXPECT_EQ(rl::routeText(0), "Bus 1");
    EXPECT_EQ(rl::routeText(1), "Bus 2");
    EXPECT_EQ(rl::routeText(2), "Master");
    EXPECT_EQ(rl::routeText(9), "Master");
    for (const char* yes : {"a.wav", "/x/B.WAV", "c.Wav"})
        EXPECT_TRUE(rl::isWavFile(yes)) << yes;
    for (const char* no : {"c.txt", "wav", "a.wave", "a.wav.txt", ""})
        EXPECT_FALSE(rl::isWavFile(no)) << no;
}

TEST(PoolRowGuiLogic, NamesAreCutAtACharacterBoundary)
{
    // 30 ASCII bytes, then a three-byte character across byte 31, then more.
    const std::string name = std::string(30, 'k') + "\xe9\x9b\xa8" + "1234567";
    ASSERT_EQ(name.size(), 40u);
    const std::string cut = rl::truncateUtf8(name, 31);
    EXPECT_EQ(cut, std::string(30, 'k'));
    EXPECT_TRUE(validUtf8(cut));
    for (size_t limit = 0; limit <= 40; ++limit) {
        const std::string c = rl::truncateUtf8(name, limit);
        EXPECT_LE(c.size(), limit);
        EXPECT_TRUE(validUtf8(c)) << limit;
    }
    EXPECT_EQ(rl::truncateUtf8("short", 31), "short");
}

TEST(PoolRowGuiLogic, LevelMeter)
{
    const juce::String idle = juce::String::fromUTF8("-\xe2\x88\x9e");
    struct Case
    {
        float peak;
        juce::String text;
        uint32_t colour;
    };
    const Case cases[] = {
        {0.0f, idle, 0xff808080},    {1.0e-6f, idle, 0xff808080}, {0.0005f, idle, 0xff808080},
        {NAN, idle, 0xff808080},     {0.5f, "-6.0", 0xffffcc00},  {1.0f, "0.0", 0xffff6060},
        {0.1f, "-20.0", 0xff60cc60}, {0.8f, "-1.9", 0xffff6060},
    };
    for (const Case& c : cases) {
        const rl::LevelDisplay d = rl::levelDisplay(c.peak);
        EXPECT_EQ(d.text, c.text) << c.peak;
        EXPECT_EQ(d.colour, c.colour) << c.peak;
    }
}

TEST(PoolRowGuiLogic, RegionsStayInsideTheFile)
{
    struct Case
    {
        int64_t start, length;
        uint64_t frames;
        rl::Region expected;
    };
    const Case cases[] = {
        {0, 0, 1000, {0, 1000}},      // 0: to the end
        {100, 200, 1000, {100, 480}}, // at least 480
        {700, 200, 1000, {700, 300}}, // fewer than 480 after the start: all of them
        {999, 5, 1000, {999, 1}},
        {5000, 100, 1000, {999, 1}}, // a start past the end stays inside
        {-50, 600, 1000, {0, 600}},
        {10, 5000, 1000, {10, 990}},
        {0, 100, 0, {0, 0}}, // a missing file: nothing
        {INT64_MAX, INT64_MAX, UINT64_MAX, {INT64_MAX - 1, 1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rl::clampRegion(c.start, c.length, c.frames), c.expected)
            << c.start << " + " << c.length << " of " << c.frames;

    // Ten wheel steps each way and drags of any length on a 1000-frame file.
    for (int dir : {1, -1}) {
        rl::Region r{200, 800};
        for (int i = 0; i < 10; ++i) {
            r = rl::wheelRegion(r, dir, 1000);
            EXPECT_GE(r.start, 0);
            EXPECT_GE(r.length, std::min<int64_t>(480, 1000 - r.start));
            EXPECT_LE(r.start + r.length, 1000);
        }
        EXPECT_EQ(r.length, dir > 0 ? 480 : 800);
    }
    for (float dx : {-5000.0f, -100.0f, -1.0f, 0.0f, 3.0f, 280.0f, 1e9f, NAN}) {
        const rl::Region r = rl::dragRegion({300, 480}, dx, 280.0f, 1000);
        EXPECT_GE(r.start, 0) << dx;
        EXPECT_LE(r.start + r.length, 1000) << dx;
        EXPECT_EQ(r.length, 480) << dx;
    }
    EXPECT_EQ(rl::dragRegion({300, 480}, 28.0f, 280.0f, 1000).start, 252); // 48 frames back
    EXPECT_EQ(rl::dragRegion({300, 480}, 10.0f, 280.0f, 0), (rl::Region{0, 0}));
}

TEST(PoolRowGuiLogic, FadesAndPositions)
{
    EXPECT_FLOAT_EQ(rl::dragFade(0.1f, 28.0f, 280.0f, true), 0.2f);
    EXPECT_FLOAT_EQ(rl::dragFade(0.1f, 28.0f, 280.0f, false), 0.0f);
    EXPECT_FLOAT_EQ(rl::dragFade(0.1f, 5000.0f, 280.0f, true), 0.5f);
    EXPECT_FLOAT_EQ(rl::dragFade(0.1f, -5000.0f, 280.0f, false), 0.5f);
    EXPECT_FLOAT_EQ(rl::dragFade(0.1f, NAN, 280.0f, true), 0.1f);

    vesk::PoolState s;
    s.volume = {-6.0f, 0.0f, false};
    EXPECT_NEAR(rl::displayGain(s), 0.501f, 1e-3f);
    s.volume.base = -48.0f;
    EXPECT_EQ(rl::displayGain(s), 0.0f);
    s.volume = {0.0f, 0.5f, true};
    s.lastGain = 0.5f;
    s.lastVolumeBase = -6.0f; // turned up by 6 dB since the trigger
    EXPECT_NEAR(rl::displayGain(s), 0.998f, 1e-2f);

    s.start = {25.0f, 0.0f, false};
    EXPECT_FLOAT_EQ(rl::positionLine(s, false), 0.25f);
    s.start = {30.0f, 0.2f, true};
    s.lastStart = 40.0f;
    s.lastStartBase = 25.0f;
    EXPECT_FLOAT_EQ(rl::positionLine(s, false), 0.45f);
    s.playbackProgress.store(0.7f);
    EXPECT_FLOAT_EQ(rl::positionLine(s, true), 0.7f);
    s.playbackProgress.store(NAN);
    EXPECT_FLOAT_EQ(rl::positionLine(s, true), 0.0f);
}

// ---------------------------------------------------------------------------------------------
// In the editor, on a real instance

struct PoolRowGui : vesk::test::EditorTest
{
    VeskSamplerPoolRow& row(int p = 0) { return editor->poolRow(p); }
    vesk::PoolState& pool(int p = 0) { return instance.published().pools[p]; }
    // One main-thread pass of the instance (applies the editor's messages, publishes).
    void engineTick()
    {
        VeskPlugin::clapOnMainThread(&instance.plugin->clapPlugin);
        editor->tick();
    }
    void fill(vesk::PoolState& p, int samples) { vesk::test::fillPublishedPool(p, samples, 77); }
};

TEST_F(PoolRowGui, TakingTheSnapshotSendsNothing)
{
    // An empty pool name, filters at their ends, a named pool with filters set, envelopes,
    // toggles on: ticks from the snapshot never fire a callback.
    fill(pool(0), 3);
    std::snprintf(pool(1).name, sizeof pool(1).name, "Kick");
    pool(1).hpfHz = 250.0f;
    pool(1).lpfHz = 8000.0f;
    pool(1).grainCloud = true;
    pool(1).pitchTrack = true;
    pool(1).volume = {-6.0f, 0.37f, true};
    pool(1).volumeEnv.count = 2;
    pool(1).volumeEnv.enabled = true;
    pool(1).volumeEnv.points[1] = {1.0f, -12.0f};
    pool(1).fadeIn = 0.2f;
    instance.published().visiblePools = 0xFF;
    for (int i = 0; i < 5; ++i)
        editor->tick();
    EXPECT_TRUE(drainRings(instance.plugin->queues).empty());
    EXPECT_EQ(row(0).nameLabel().getText(), "Pool 1");
    EXPECT_EQ(row(1).nameLabel().getText(), "Kick");
    EXPECT_EQ(row(1).hpfSlider().getValue(), 250.0);
    EXPECT_EQ(row(1).lpfSlider().getValue(), 8000.0);
    EXPECT_TRUE(row(1).grainCloudButton().getToggleState());
    EXPECT_FLOAT_EQ(row(1).knob(VeskSamplerPoolRow::kVol).getRange(), 37.0f);
    EXPECT_EQ(row(1).envelopeEditor().envelope(0).count, 2u);
}

TEST_F(PoolRowGui, RepaintsOnlyOnChange)
{
    fill(pool(0), 2);
    editor->tick();
    const int rowBefore = row(0).repaintRequests();
    const int envBefore = row(0).envelopeEditor().repaintRequests();
    for (int i = 0; i < 10; ++i)
        editor->tick();
    EXPECT_EQ(row(0).repaintRequests(), rowBefore);
    EXPECT_EQ(row(0).envelopeEditor().repaintRequests(), envBefore);

    // The play head moving repaints the waveform and the envelope's head.
    pool(0).active.store(true);
    pool(0).volumeEnv.count = 1;
    pool(0).volumeEnv.enabled = true;
    editor->tick();
    const int r = row(0).repaintRequests(), e = row(0).envelopeEditor().repaintRequests();
    pool(0).playbackProgress.store(0.3f);
    pool(0).envelopeProgress.store(0.3f);
    editor->tick();
    EXPECT_GT(row(0).repaintRequests(), r);
    EXPECT_GT(row(0).envelopeEditor().repaintRequests(), e);
}

TEST_F(PoolRowGui, KnobDragsBecomeRangedMessagesInFractions)
{
    fill(pool(0), 1);
    editor->tick();
    VeskSamplerDualRingKnob& pitch = row(0).knob(VeskSamplerPoolRow::kPitch);
    Mouse(pitch).dragBy(pitch.getKnobBounds().getCentre(), -100.0f);
    auto messages = drainRings(instance.plugin->queues);
    ASSERT_FALSE(messages.empty());
    const auto last = decoded<vesk::msg::SetPitch>(messages.back());
    EXPECT_EQ(last.pool, 0u);
    EXPECT_NEAR(last.base, 7.2f, 1e-4f);

    VeskSamplerDualRingKnob& vol = row(0).knob(VeskSamplerPoolRow::kVol);
    Mouse(vol).click(vol.getKnobBounds().getCentre(), Mouse::rightButton());
    Mouse(vol).dragBy(vol.getMiniRingCentre(), -50.0f); // range 15 %
    messages = drainRings(instance.plugin->queues);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_TRUE(decoded<vesk::msg::SetVolume>(messages.front()).enabled);
    const auto v = decoded<vesk::msg::SetVolume>(messages.back());
    EXPECT_NEAR(v.range, 0.15f, 1e-6f);
    EXPECT_TRUE(v.enabled);

    VeskSamplerDualRingKnob& rev = row(0).knob(VeskSamplerPoolRow::kRev);
    Mouse(rev).dragBy(rev.getKnobBounds().getCentre(), -20.0f);
    Mouse(rev).click(rev.getKnobBounds().getCentre(), Mouse::rightButton()); // off for Rev
    messages = drainRings(instance.plugin->queues);
    ASSERT_FALSE(messages.empty());
    for (const auto& m : messages)
        EXPECT_EQ(m.type, vesk::CmdSetReverseChance);
    EXPECT_FLOAT_EQ(decoded<vesk::msg::SetReverseChance>(messages.back()).percent, 6.0f);
}

TEST_F(PoolRowGui, AfterEveryDragAStateLoadMovesTheKnob)
{
    // Drags of twenty lengths on the Vol knob's value and range, each applied by the engine;
    // then the host loads a state with other values, and the knob must show them.
    fill(pool(0), 1);
    editor->tick();
    std::vector<uint8_t> saved;
    ASSERT_TRUE(vesk::test::saveState(*instance.plugin, saved));
    VeskSamplerDualRingKnob& vol = row(0).knob(VeskSamplerPoolRow::kVol);
    Mouse(vol).click(vol.getKnobBounds().getCentre(), Mouse::rightButton());
    engineTick();
    for (int i = 1; i <= 20; ++i) {
        SCOPED_TRACE(i);
        Mouse(vol).dragBy(vol.getKnobBounds().getCentre(), -float(i) * 3.7f);
        Mouse(vol).dragBy(vol.getMiniRingCentre(), -float(i) * 1.9f);
        engineTick();
        engineTick();
        EXPECT_FALSE(vol.hasPendingValue()) << "the engine's value did not confirm the edit";
        const vesk::PoolState& now = instance.published().pools[0];
        EXPECT_NEAR(vol.getValue(), now.volume.base, 1e-4f);
        ASSERT_TRUE(vesk::test::loadState(*instance.plugin, saved.data(), saved.size()));
        engineTick();
        EXPECT_FLOAT_EQ(vol.getValue(), instance.published().pools[0].volume.base);
        EXPECT_FLOAT_EQ(vol.getRange(), instance.published().pools[0].volume.range * 100.0f);
        Mouse(vol).click(vol.getKnobBounds().getCentre(), Mouse::rightButton());
        engineTick();
    }
}

TEST_F(PoolRowGui, AnEditStillQueuedWhenTheHostLoadsGivesWayToTheLoadedState)
{
    // The user drags, and the host loads a state before its next main-thread pass: the edit
    // came first, so the loaded value is the one that stays.
    fill(pool(0), 1);
    editor->tick();
    std::vector<uint8_t> saved;
    ASSERT_TRUE(vesk::test::saveState(*instance.plugin, saved));
    const float loaded = instance.plugin->sampler.pools[0].volume.base;
    VeskSamplerDualRingKnob& vol = row(0).knob(VeskSamplerPoolRow::kVol);
    Mouse(vol).dragBy(vol.getKnobBounds().getCentre(), -40.0f);
    ASSERT_TRUE(vesk::test::loadState(*instance.plugin, saved.data(), saved.size()));
    engineTick();
    engineTick();
    EXPECT_FLOAT_EQ(instance.published().pools[0].volume.base, loaded);
    EXPECT_FLOAT_EQ(vol.getValue(), loaded);
}

TEST_F(PoolRowGui, TogglesSlidersAndTheirPendingValues)
{
    fill(pool(0), 1);
    editor->tick();
    row(0).grainCloudButton().onClick(); // what a click runs
    auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(decoded<vesk::msg::SetGrainCloud>(messages[0]).on);
    editor->tick(); // the snapshot has not caught up: the toggle keeps the user's value
    EXPECT_TRUE(row(0).grainCloudButton().getToggleState());
    EXPECT_TRUE(row(0).knob(VeskSamplerPoolRow::kDelay).isDimmed());
    EXPECT_FALSE(row(0).knob(VeskSamplerPoolRow::kDelay).isEnabled());
    EXPECT_TRUE(row(0).envelopeEditor().isDimmed());
    pool(0).grainCloud = true;
    editor->tick();
    pool(0).grainCloud = false; // undo in the host
    editor->tick();
    EXPECT_FALSE(row(0).grainCloudButton().getToggleState());
    EXPECT_FALSE(row(0).knob(VeskSamplerPoolRow::kDelay).isDimmed());

    // The HPF slider sends a frequency and is locked while an HPF envelope has points.
    row(0).hpfSlider().setValue(1000.0, juce::sendNotificationSync);
    messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FLOAT_EQ(decoded<vesk::msg::SetHpf>(messages[0]).hz, 1000.0f);
    EXPECT_TRUE(row(0).hpfSlider().isEnabled());
    pool(0).hpfHz = 1000.0f;
    pool(0).hpfEnv.count = 1;
    pool(0).hpfEnv.enabled = true;
    editor->tick();
    EXPECT_FALSE(row(0).hpfSlider().isEnabled());
}

TEST_F(PoolRowGui, MenusApplyOnlyToTheSampleTheyShowed)
{
    fill(pool(0), 3);
    editor->tick();
    const juce::String second = "/s/file1.wav";
    // The list changed under the open menu: index 1 now holds another file.
    std::snprintf(pool(0).sampleNames[1], 64, "/s/other.wav");
    editor->tick();
    row(0).applySampleMenuResult(4, 1, second);
    EXPECT_TRUE(drainRings(instance.plugin->queues).empty());
    // Out of range after a removal, and a mismatched id.
    pool(0).sampleCount = 1;
    editor->tick();
    row(0).applySampleMenuResult(6, 2, "/s/file2.wav");
    row(0).applySampleMenuResult(2, 1, "/s/other.wav");
    EXPECT_TRUE(drainRings(instance.plugin->queues).empty());
    // The same file at the same index: Delete removes exactly it; Preview plays it.
    pool(0).sampleCount = 3;
    editor->tick();
    row(0).applySampleMenuResult(4, 1, "/s/other.wav");
    row(0).applySampleMenuResult(1, 0, "/s/file0.wav");
    auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(decoded<vesk::msg::PlaySample>(messages[0]).sampleIndex, 0u);
    EXPECT_EQ(decoded<vesk::msg::RemoveSample>(messages[1]).sampleIndex, 1u);

    row(0).applyRouteMenuResult(3);
    row(0).applyRouteMenuResult(0); // dismissed
    messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(decoded<vesk::msg::SetPoolRoute>(messages[0]).route, vesk::PoolRoute::Master);

    const juce::PopupMenu menu = row(0).buildSampleMenu();
    EXPECT_GE(menu.getNumItems(), 4); // header, separator, three files
}

TEST_F(PoolRowGui, DropsLoadWavFilesInDropOrder)
{
    juce::StringArray files{"/d/a.wav", "/d/B.WAV", "/d/c.txt"};
    EXPECT_TRUE(row(2).isInterestedInFileDrag(files));
    EXPECT_FALSE(row(2).isInterestedInFileDrag(juce::StringArray{"/d/c.txt"}));
    row(2).filesDropped(files, 10, 10);
    const auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(decoded<vesk::msg::LoadToPool>(messages[0]).path, "/d/a.wav");
    EXPECT_EQ(decoded<vesk::msg::LoadToPool>(messages[1]).path, "/d/B.WAV");
    EXPECT_EQ(decoded<vesk::msg::LoadToPool>(messages[1]).pool, 2u);
}

TEST_F(PoolRowGui, WaveformRegionFadesAndTheLocalRegion)
{
    fill(pool(0), 2);
    pool(0).fileFrames = 1000;
    pool(0).regionLength = 1000;
    editor->tick();
    VeskSamplerPoolRow& r = row(0);
    Mouse mouse(r);
    // Ten Alt + wheel steps in, then an Alt + drag far right.
    for (int i = 0; i < 10; ++i)
        mouse.wheel({100.0f, 80.0f}, 1.0f, Mouse::alt());
    mouse.press({100.0f, 80.0f}, juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier |
                                                    juce::ModifierKeys::altModifier));
    mouse.dragTo({-900.0f, 80.0f});
    mouse.release({-900.0f, 80.0f});
    auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 11u);
    for (const auto& m : messages) {
        const auto region = decoded<vesk::msg::SetSampleRegion>(m);
        EXPECT_GE(region.offset, 0);
        EXPECT_GE(int64_t(region.length), std::min<int64_t>(480, 1000 - region.offset));
        EXPECT_LE(region.offset + int64_t(region.length), 1000);
    }
    EXPECT_TRUE(r.localRegionActive());
    // "<" / ">" shows another sample: the local region of the first goes, and nothing more is
    // sent for it.
    pool(0).displayedSample = 1;
    editor->tick();
    EXPECT_FALSE(r.localRegionActive());
    EXPECT_EQ(r.shownRegion(), (rl::Region{0, 1000}));

    // A fade handle dragged far right stops at 0.5 and is kept until the state shows it.
    mouse.press({40.0f, 30.0f});
    mouse.dragTo({2000.0f, 30.0f});
    mouse.release({2000.0f, 30.0f});
    messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FLOAT_EQ(decoded<vesk::msg::SetFadeIn>(messages[0]).fraction, 0.5f);
    editor->tick();
    EXPECT_FLOAT_EQ(r.shownFadeIn(), 0.5f);

    // A missing file (0 frames) takes no region edit.
    pool(0).fileFrames = 0;
    editor->tick();
    mouse.wheel({100.0f, 80.0f}, 1.0f, Mouse::alt());
    EXPECT_TRUE(drainRings(instance.plugin->queues).empty());
}

TEST_F(PoolRowGui, BrokenSnapshotValuesDrawWithoutHarm)
{
    // Values no engine should publish: the row shows something sane and sends nothing.
    vesk::PoolState& p = pool(0);
    fill(p, 2);
    p.sampleCount = 9999;
    p.displayedSample = 5000;
    p.durationMs = 3.0e38f;
    p.fadeIn = NAN;
    p.fadeOut = INFINITY;
    p.hpfHz = NAN;
    p.lpfHz = -INFINITY;
    p.volume = {NAN, NAN, true};
    p.lastGain = INFINITY;
    p.playbackProgress.store(NAN);
    p.envelopeProgress.store(INFINITY);
    p.peaks[3] = NAN;
    p.regionOffset = INT64_MIN;
    p.regionLength = UINT64_MAX;
    p.volumeEnv.count = 5000;
    p.volumeEnv.enabled = true;
    p.volumeEnv.points[0] = {NAN, INFINITY};
    p.level.store(NAN);
    p.active.store(true);
    editor->tick();
    editor->tick();
    const juce::Image shot = vesk::test::render(row(0));
    EXPECT_EQ(shot.getWidth(), 714);
    EXPECT_TRUE(drainRings(instance.plugin->queues).empty());
    EXPECT_LE(row(0).shownRegion().start + row(0).shownRegion().length, int64_t(p.fileFrames));
    EXPECT_EQ(row(0).envelopeEditor().envelope(0).count, 64u);
}

TEST_F(PoolRowGui, PreviousNextAndPlayStop)
{
    fill(pool(0), 1);
    editor->tick();
    EXPECT_FALSE(row(0).previousButton().isVisible());
    fill(pool(0), 2);
    editor->tick();
    EXPECT_TRUE(row(0).previousButton().isVisible());
    EXPECT_FALSE(row(0).previousButton().isEnabled());
    EXPECT_TRUE(row(0).nextButton().isEnabled());
    row(0).nextButton().onClick();
    row(0).playStopButton().onClick();
    const auto messages = drainRings(instance.plugin->queues);
    ASSERT_EQ(messages.size(), 2u);
    // The trigger ring is read first.
    EXPECT_EQ(decoded<vesk::msg::PlaySample>(messages[0]).pool, 0u);
    EXPECT_EQ(decoded<vesk::msg::SelectSample>(messages[1]).sampleIndex, 1u);
}

TEST_F(PoolRowGui, RowRenderedWithWaveformRegionFadesAndEnvelope)
{
    vesk::PoolState& p = pool(0);
    fill(p, 2);
    std::snprintf(p.name, sizeof p.name, "Rain");
    p.fadeIn = 0.15f;
    p.fadeOut = 0.25f;
    p.start = {30.0f, 0.0f, false};
    p.volume = {0.0f, 0.3f, true};
    p.lastGain = 1.0f;
    p.pitch = {3.0f, 0.5f, true};
    p.volumeEnv.count = 4;
    p.volumeEnv.enabled = true;
    p.volumeEnv.points[0] = {0.0f, -12.0f};
    p.volumeEnv.points[1] = {0.2f, 6.0f};
    p.volumeEnv.points[2] = {0.6f, 0.0f};
    p.volumeEnv.points[3] = {1.0f, -12.0f};
    p.level.store(0.5f);
    editor->tick();
    VeskSamplerPoolRow& r = row(0);
    const juce::Image shot = vesk::test::render(r);
    vesk::test::saveImage(shot, "pool-row");
    EXPECT_EQ(r.levelLabel().getText(), "-6.0");
    // The waveform's outline in the area, and a fade gradient near its left edge.
    int outline = 0;
    for (int y = 24; y < 134; ++y)
        for (int x = 4; x < 284; ++x) {
            const juce::Colour c = shot.getPixelAt(x, y);
            outline += std::abs(c.getRed() - 0xa0) < 40 && std::abs(c.getGreen() - 0xc0) < 40 &&
                       std::abs(c.getBlue() - 0xe0) < 40;
        }
    EXPECT_GT(outline, 50);

    editor->tick();
    r.setAudibleState(VeskSamplerPoolRow::AudibleState::Muted);
    const juce::Image muted = vesk::test::render(r);
    vesk::test::saveImage(muted, "pool-row-muted");
    const juce::Colour probe = muted.getPixelAt(20, 40);
    EXPECT_LT(probe.getBrightness(), 0.12f); // darkened under the overlay
    r.setAudibleState(VeskSamplerPoolRow::AudibleState::SoloedOut);
    const juce::Colour solo = vesk::test::render(r).getPixelAt(20, 40);
    EXPECT_LT(solo.getBrightness(), shot.getPixelAt(20, 40).getBrightness());
    EXPECT_GT(solo.getBrightness(), probe.getBrightness());
}

double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

TEST_F(PoolRowGui, EightRowsRepaintOnlyWhilePlayHeadsMove)
{
    // All eight rows visible and full. An unchanged snapshot repaints nothing; moving play
    // heads repaint every row. The cost of both is printed as a fraction of the 33 ms tick
    // (for the record only: timings never decide a test).
    instance.published().visiblePools = 0xFF;
    for (int i = 0; i < 8; ++i) {
        fill(pool(i), 4);
        pool(i).volumeEnv = vesk::gui::envelope::presetEnvelope(19, 0);
    }
    editor->tick();
    editor->tick();
    std::array<int, 8> before{};
    for (int i = 0; i < 8; ++i)
        before[size_t(i)] = row(i).repaintRequests() + row(i).envelopeEditor().repaintRequests();
    constexpr int kTicks = 60;
    double t0 = threadSeconds();
    for (int k = 0; k < kTicks; ++k)
        editor->tick();
    const double idle = (threadSeconds() - t0) / kTicks * 30.0;
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(row(i).repaintRequests() + row(i).envelopeEditor().repaintRequests(),
                  before[size_t(i)])
            << "row " << i << " repainted with nothing changed";

    juce::Image image(juce::Image::RGB, 714, 150, false);
    for (int i = 0; i < 8; ++i)
        pool(i).active.store(true);
    t0 = threadSeconds();
    for (int k = 0; k < kTicks; ++k) {
        for (int i = 0; i < 8; ++i) {
            pool(i).playbackProgress.store(float(k) / kTicks);
            pool(i).envelopeProgress.store(float(k) / kTicks);
        }
        editor->tick();
        // What the window repaints: each row's waveform area and envelope editor.
        for (int i = 0; i < 8; ++i) {
            juce::Graphics g(image);
            juce::RectangleList<int> dirty(juce::Rectangle<int>(4, 24, 280, 122));
            dirty.add(row(i).envelopeEditor().getBounds());
            g.reduceClipRegion(dirty);
            row(i).paintEntireComponent(g, true);
        }
    }
    const double playing = (threadSeconds() - t0) / kTicks * 30.0;
    for (int i = 0; i < 8; ++i)
        EXPECT_GT(row(i).repaintRequests(), before[size_t(i)]);
    std::printf("pool rows, 8 visible: idle tick %.4f of the tick, moving play heads %.4f "
                "(tick and repaint of every waveform and envelope)\n",
                idle, playing);
    RecordProperty("idle_tick_fraction", std::to_string(idle));
    RecordProperty("playing_tick_fraction", std::to_string(playing));
}

} // namespace
