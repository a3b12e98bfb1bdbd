// The envelope editor: scales, the preset table, the clipboard, and points added, dragged,
// reset and removed with the mouse, including the full envelope and neighbours that crowd.
#include "GuiTestSupport.h"
#include "KnobTestMouse.h"

#include "gui/VeskEnvelopeEditor.h"
#include "gui/VeskEnvelopePresets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace {

namespace env = vesk::gui::envelope;
using vesk::EnvelopeData;
using vesk::test::Mouse;

struct Editor
{
    VeskEnvelopeEditor e{3};
    std::vector<std::pair<int, EnvelopeData>> reports; // (tab, envelope)
    Mouse mouse{e};

    Editor()
    {
        e.setBounds(0, 0, 280, 122);
        auto record = [this](int tab) {
            return [this, tab](int pool, const EnvelopeData& d) {
                EXPECT_EQ(pool, 3);
                reports.push_back({tab, d});
            };
        };
        e.onVolEnvelope = record(0);
        e.onPanEnvelope = record(1);
        e.onPitchEnvelope = record(2);
        e.onHpfEnvelope = record(3);
        e.onLpfEnvelope = record(4);
    }
    // The plot point at time t and normalised height p.
    juce::Point<float> at(float t, float p) const
    {
        const auto r = e.plotArea();
        return {r.getX() + t * r.getWidth(), r.getBottom() - p * r.getHeight()};
    }
    void state(int tab, const EnvelopeData& d)
    {
        EnvelopeData all[5] = {};
        all[4].count = 0;
        for (int t = 0; t < 5; ++t)
            all[t] = t == tab ? d : e.envelope(t);
        e.updateFromState(all[0], all[1], all[2], all[3], all[4], 0.0f, 20000.0f, 0.0f, false);
    }
};

EnvelopeData points(std::initializer_list<vesk::EnvelopePoint> ps, bool enabled = true)
{
    EnvelopeData d;
    for (const auto& p : ps)
        d.points[d.count++] = p;
    d.enabled = enabled;
    return d;
}

bool everyXInside(const EnvelopeData& d)
{
    for (uint32_t i = 0; i < d.count && i < 64; ++i)
        if (!(d.points[i].x >= 0.0f && d.points[i].x <= 1.0f))
            return false;
    return true;
}

TEST(EnvelopeScales, MappingsBothWays)
{
    EXPECT_FLOAT_EQ(env::valueToNorm(env::kVol, 0.0f), 0.5f);
    EXPECT_FLOAT_EQ(env::valueToNorm(env::kPan, -100.0f), 0.0f);
    EXPECT_FLOAT_EQ(env::valueToNorm(env::kPitch, 12.0f), 1.0f);
    EXPECT_FLOAT_EQ(env::valueToNorm(env::kHpf, 20.0f), 0.0f);
    EXPECT_FLOAT_EQ(env::valueToNorm(env::kHpf, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(env::valueToNorm(env::kLpf, 20000.0f), 1.0f);
    EXPECT_NEAR(env::valueToNorm(env::kLpf, 632.456f), 0.5f, 1e-5f);
    EXPECT_FLOAT_EQ(env::normToValue(env::kHpf, 0.0f), 0.0f);
    EXPECT_NEAR(env::normToValue(env::kHpf, 0.5f), 632.456f, 0.01f); // 20 x 1000^0.5
    EXPECT_FLOAT_EQ(env::normToValue(env::kLpf, 1.0f), 20000.0f);
    EXPECT_FLOAT_EQ(env::normToValue(env::kVol, 0.25f), -6.0f);
    EXPECT_FLOAT_EQ(env::normToValue(env::kPan, 2.0f), 100.0f); // clamped first
    EXPECT_FLOAT_EQ(env::normToValue(env::kPan, NAN), -100.0f);
    EXPECT_FLOAT_EQ(env::scaleFor(env::kLpf).neutral, 20000.0f);
}

TEST(EnvelopePresets, TheTableHoldsTwentyEightShapesInCategoryRuns)
{
    ASSERT_EQ(vesk::gui::kNumEnvelopePresets, 28);
    const std::vector<std::string> order = {"Basic", "Dynamic", "Creative", "Filter", "SFX"};
    size_t category = 0;
    for (int n = 0; n < vesk::gui::kNumEnvelopePresets; ++n) {
        const auto& p = vesk::gui::kEnvelopePresets[n];
        SCOPED_TRACE(p.name);
        while (category < order.size() && order[category] != p.category)
            ++category;
        ASSERT_LT(category, order.size()) << "categories out of order";
        ASSERT_GE(p.count, 2u);
        ASSERT_LE(p.count, 18u);
        for (uint32_t i = 0; i < p.count; ++i) {
            EXPECT_GE(p.points[i].y, 0.0f);
            EXPECT_LE(p.points[i].y, 1.0f);
            if (i > 0) {
                EXPECT_GE(p.points[i].x, p.points[i - 1].x);
            }
        }
        EXPECT_EQ(p.points[0].x, 0.0f);
    }
    auto find = [](const char* name) {
        for (const auto& p : vesk::gui::kEnvelopePresets)
            if (std::string(p.name) == name)
                return &p;
        return static_cast<const vesk::gui::EnvelopePreset*>(nullptr);
    };
    ASSERT_NE(find("Wobble 8x"), nullptr);
    EXPECT_EQ(find("Wobble 8x")->count, 17u);
    EXPECT_EQ(find("Wobble 8x")->points[16].y, 1.0f);
    EXPECT_EQ(find("Tremolo 4x")->count, 9u);
    EXPECT_FLOAT_EQ(find("Tremolo 4x")->points[3].y, 0.3f);
    EXPECT_FLOAT_EQ(find("Tremolo 4x")->points[8].y, 0.55f);
    EXPECT_EQ(find("Stutter")->count, 18u);
    EXPECT_EQ(find("Steps")->count, 12u);
}

TEST(EnvelopeEditing, InsertRemoveAndLimitsWithoutADisplay)
{
    EnvelopeData d;
    EXPECT_EQ(env::insertPoint(d, 0.5f, 1.0f), 0);
    EXPECT_TRUE(d.enabled);
    EXPECT_EQ(env::insertPoint(d, 0.2f, 2.0f), 0);
    EXPECT_EQ(env::insertPoint(d, 0.9f, 3.0f), 2);
    EXPECT_FLOAT_EQ(d.points[1].x, 0.5f);
    EXPECT_TRUE(env::removePoint(d, 1));
    EXPECT_FALSE(env::removePoint(d, 7));
    EXPECT_FALSE(env::removePoint(d, -1));
    EXPECT_TRUE(env::removePoint(d, 0));
    EXPECT_TRUE(env::removePoint(d, 0));
    EXPECT_EQ(d.count, 0u);
    EXPECT_FALSE(d.enabled); // the last point removed

    EnvelopeData full;
    for (int i = 0; i < 64; ++i)
        env::insertPoint(full, float(i) / 64.0f, 0.0f);
    EXPECT_EQ(full.count, 64u);
    EXPECT_EQ(env::insertPoint(full, 0.5f, 1.0f), -1);
    EXPECT_EQ(full.count, 64u);

    struct Case
    {
        EnvelopeData d;
        int index;
        float lo, hi;
    };
    const Case cases[] = {
        {points({{0.2f, 0}, {0.5f, 0}}), 0, 0.0f, 0.499f},
        {points({{0.2f, 0}, {0.5f, 0}}), 1, 0.201f, 1.0f},
        {points({{0.0f, 0}, {0.0f, 0}}), 0, 0.0f, 0.0f}, // a second point at x = 0
        {points({{0.0f, 0}, {0.0f, 0}, {0.5f, 0}}), 1, 0.001f, 0.499f},
        {points({{0.3f, 0}, {0.3005f, 0}, {0.301f, 0}}), 1, 0.3005f, 0.3005f},
        {points({{0.8f, 0}, {0.2f, 0}, {0.5f, 0}}), 1, 0.65f, 0.65f}, // out of order
        {points({{NAN, 0}, {0.5f, 0}, {2.0f, 0}}), 1, 0.001f, 0.999f},
        {points({{0.5f, 0}, {1.0f, 0}, {1.0f, 0}}), 2, 1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        const env::Limits l = env::dragLimits(c.d, c.index);
        EXPECT_LE(l.lo, l.hi) << c.index;
        EXPECT_GE(l.lo, 0.0f);
        EXPECT_LE(l.hi, 1.0f);
        EXPECT_NEAR(l.lo, c.lo, 1e-5f) << c.d.points[0].x << " " << c.index;
        EXPECT_NEAR(l.hi, c.hi, 1e-5f) << c.d.points[0].x << " " << c.index;
    }
}

TEST(EnvelopeEditing, ClipboardMapsShapesBetweenScales)
{
    env::Clipboard clip;
    const EnvelopeData vol = points({{0.0f, -12.0f}, {0.5f, 12.0f}, {1.0f, 0.0f}});
    env::copyTo(clip, vol, env::kVol);
    EXPECT_TRUE(clip.hasContent);
    const EnvelopeData lpf = env::pasteFrom(clip, env::kLpf);
    ASSERT_EQ(lpf.count, 3u);
    EXPECT_EQ(lpf.points[0].y, 0.0f);     // the lowest Vol value: 0 Hz
    EXPECT_EQ(lpf.points[1].y, 20000.0f); // the highest: 20000 Hz
    EXPECT_NEAR(lpf.points[2].y, 632.456f, 0.01f);
    EXPECT_TRUE(lpf.enabled);
    env::copyTo(clip, EnvelopeData{}, env::kPan); // an empty envelope empties the clipboard
    EXPECT_FALSE(clip.hasContent);

    const EnvelopeData sweep = env::presetEnvelope(15, env::kHpf); // "Sweep Up"
    ASSERT_EQ(std::string(vesk::gui::kEnvelopePresets[15].name), "Sweep Up");
    ASSERT_EQ(sweep.count, 4u);
    EXPECT_NEAR(sweep.points[2].y, 20.0f * std::pow(1000.0f, 0.65f), 0.05f);
    EXPECT_EQ(sweep.points[0].y, 0.0f);
    EXPECT_EQ(env::presetEnvelope(28, env::kVol).count, 0u);
}

TEST(EnvelopeMouse, AClickAddsOnePointAndReportsIt)
{
    Editor ed;
    ed.mouse.click(ed.at(0.5f, 0.75f));
    ASSERT_EQ(ed.e.envelope(0).count, 1u);
    EXPECT_NEAR(ed.e.envelope(0).points[0].x, 0.5f, 0.01f);
    EXPECT_NEAR(ed.e.envelope(0).points[0].y, 6.0f, 0.3f);
    ASSERT_EQ(ed.reports.size(), 1u);
    EXPECT_EQ(ed.reports[0].second.count, 1u);
    EXPECT_TRUE(ed.reports[0].second.enabled);

    // The stale snapshot (no point yet) does not undo the edit; the confirmed one is taken.
    ed.state(0, EnvelopeData{});
    EXPECT_EQ(ed.e.envelope(0).count, 1u);
    ed.state(0, ed.reports[0].second);
    ed.state(0, EnvelopeData{}); // then the host's undo
    EXPECT_EQ(ed.e.envelope(0).count, 0u);
}

TEST(EnvelopeMouse, AFullEnvelopeTakesNoPointAndDragsNothing)
{
    Editor ed;
    EnvelopeData full;
    for (int i = 0; i < 64; ++i)
        env::insertPoint(full, float(i) / 63.0f, float(i % 2) * 6.0f);
    ed.state(0, full);
    // A press between points (none within 8 px at this height), then a drag and release.
    ed.mouse.press(ed.at(0.505f, 0.05f));
    ed.mouse.dragTo(ed.at(0.9f, 0.9f));
    ed.mouse.release(ed.at(0.9f, 0.9f));
    EXPECT_FALSE(ed.e.isDraggingPoint());
    ASSERT_EQ(ed.reports.size(), 1u); // reported once, unchanged
    EXPECT_TRUE(env::sameEnvelope(ed.reports[0].second, full));
    EXPECT_TRUE(env::sameEnvelope(ed.e.envelope(0), full));
    EXPECT_EQ(ed.e.envelope(0).count, 64u);
}

TEST(EnvelopeMouse, CrowdedOrUnsortedNeighboursKeepEveryXInside)
{
    {
        // A point at x = 0, then a second inserted at x = 0 before it, dragged both ways.
        Editor ed;
        ed.mouse.click(ed.at(0.0f, 0.5f));
        ed.mouse.press(ed.at(0.0f, 0.9f));
        for (float x : {-0.5f, 0.3f, 1.5f, -1.0f})
            ed.mouse.dragTo(ed.at(x, 0.2f));
        ed.mouse.release(ed.at(-1.0f, 0.2f));
        EXPECT_TRUE(everyXInside(ed.e.envelope(0)));
        EXPECT_EQ(ed.e.envelope(0).count, 2u);
    }
    {
        // Unsorted points from a state: each dragged far both ways.
        Editor ed;
        ed.state(0, points({{0.8f, 0.0f}, {0.2f, 6.0f}, {0.5f, -6.0f}, {0.5005f, 3.0f}}));
        for (int i = 0; i < 4; ++i) {
            const auto p = ed.e.pointPosition(i);
            ed.mouse.press(p);
            ed.mouse.dragTo({p.x - 500.0f, p.y});
            ed.mouse.dragTo({p.x + 500.0f, p.y});
            ed.mouse.release({p.x + 500.0f, p.y});
            ASSERT_TRUE(everyXInside(ed.e.envelope(0))) << i;
        }
    }
    {
        // The first point dragged right stops 0.001 before the second.
        Editor ed;
        ed.state(0, points({{0.1f, 0.0f}, {0.4f, 0.0f}}));
        ed.mouse.press(ed.e.pointPosition(0));
        ed.mouse.dragTo(ed.at(0.9f, 0.5f));
        ed.mouse.release(ed.at(0.9f, 0.5f));
        EXPECT_NEAR(ed.e.envelope(0).points[0].x, 0.399f, 1e-5f);
    }
}

TEST(EnvelopeMouse, TabsRightClicksAndDoubleClicks)
{
    Editor ed;
    // A right click on the empty Pan tab changes nothing.
    const auto panTab = ed.e.tabBounds(1).getCentre().toFloat();
    ed.mouse.click(panTab, Mouse::rightButton());
    EXPECT_TRUE(ed.reports.empty());
    EXPECT_EQ(ed.e.activeTab(), 0);
    // With points, it toggles the envelope and selects the tab.
    ed.state(1, points({{0.5f, 50.0f}}));
    ed.mouse.click(panTab, Mouse::rightButton());
    ASSERT_EQ(ed.reports.size(), 1u);
    EXPECT_EQ(ed.reports[0].first, 1);
    EXPECT_FALSE(ed.reports[0].second.enabled);
    EXPECT_EQ(ed.e.activeTab(), 1);
    // A double click on a point returns it to the neutral value.
    ed.mouse.doubleClick(ed.e.pointPosition(0));
    EXPECT_EQ(ed.e.envelope(1).points[0].y, 0.0f);
    EXPECT_EQ(ed.e.envelope(1).count, 1u);
    // LPF's neutral value is 20000 Hz.
    ed.mouse.click(ed.e.tabBounds(4).getCentre().toFloat());
    ed.state(4, points({{0.3f, 500.0f}}));
    ed.mouse.doubleClick(ed.e.pointPosition(0));
    EXPECT_EQ(ed.e.envelope(4).points[0].y, 20000.0f);
    // A right click on a point removes it; the last one disables the envelope.
    ed.mouse.click(ed.e.pointPosition(0), Mouse::rightButton());
    EXPECT_EQ(ed.e.envelope(4).count, 0u);
    EXPECT_FALSE(ed.reports.back().second.enabled);
}

TEST(EnvelopeMouse, MenuResultsGoToTheTabTheMenuOpenedOn)
{
    Editor ed;
    ed.state(0, points({{0.0f, -12.0f}, {1.0f, 12.0f}}));
    ed.e.applyMenuResult(VeskEnvelopeEditor::kCopy, 0);
    EXPECT_TRUE(ed.reports.empty()); // copying sends nothing
    ed.e.setActiveTab(2);            // the user moved on before the paste arrived
    ed.e.applyMenuResult(VeskEnvelopeEditor::kPaste, 4);
    ASSERT_EQ(ed.reports.size(), 1u);
    EXPECT_EQ(ed.reports[0].first, 4);
    EXPECT_EQ(ed.reports[0].second.points[0].y, 0.0f);
    EXPECT_EQ(ed.reports[0].second.points[1].y, 20000.0f);
    EXPECT_EQ(ed.e.activeTab(), 2);
    ed.e.applyMenuResult(VeskEnvelopeEditor::kPresetBase + 15, 3); // Sweep Up on HPF
    ASSERT_EQ(ed.e.envelope(3).count, 4u);
    ed.e.applyMenuResult(VeskEnvelopeEditor::kClearAll, 3);
    EXPECT_EQ(ed.e.envelope(3).count, 0u);
    ed.e.applyMenuResult(999, 3);
    ed.e.applyMenuResult(VeskEnvelopeEditor::kPaste, 7); // no such tab
    EXPECT_EQ(ed.reports.size(), 3u);
    EXPECT_EQ(ed.e.buildContextMenu().getNumItems(), 4); // Copy, Paste, Presets, Clear All
}

TEST(EnvelopeMouse, DimmedTakesNoClicks)
{
    Editor ed;
    ed.e.setDimmed(true);
    ed.mouse.click(ed.at(0.5f, 0.5f));
    EXPECT_TRUE(ed.reports.empty());
    ed.e.setDimmed(false);
    ed.mouse.click(ed.at(0.5f, 0.5f));
    EXPECT_EQ(ed.reports.size(), 1u);
}

TEST(EnvelopeRender, CurvePointsAndPlayHead)
{
    Editor ed;
    EnvelopeData vol = env::presetEnvelope(19, env::kVol); // Whoosh
    struct Bg : juce::Component
    {
        void paint(juce::Graphics& g) override
        {
            g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
        }
    } bg;
    bg.setSize(280, 122);
    bg.addAndMakeVisible(ed.e);
    ed.e.updateFromState(vol, {}, {}, {}, {}, 0.0f, 20000.0f, 0.4f, true);
    const juce::Image shot = vesk::test::render(bg);
    vesk::test::saveImage(shot, "envelope-whoosh");
    int curve = 0, head = 0;
    for (int y = 20; y < 122; ++y)
        for (int x = 0; x < 280; ++x) {
            const juce::Colour c = shot.getPixelAt(x, y);
            curve +=
                c.getRed() > 200 && c.getGreen() > 100 && c.getGreen() < 150 && c.getBlue() < 100;
            head += c.getRed() > 240 && c.getGreen() > 240 && c.getBlue() > 200;
        }
    EXPECT_GT(curve, 100);
    EXPECT_GT(head, 5);
    const int before = ed.e.repaintRequests();
    ed.e.updateFromState(vol, {}, {}, {}, {}, 0.0f, 20000.0f, 0.4f, true);
    EXPECT_EQ(ed.e.repaintRequests(), before); // nothing moved
    ed.e.updateFromState(vol, {}, {}, {}, {}, 0.0f, 20000.0f, 0.45f, true);
    EXPECT_GT(ed.e.repaintRequests(), before);
}

} // namespace
