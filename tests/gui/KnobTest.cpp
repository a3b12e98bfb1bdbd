// The dual-ring knob: its value maths and texts without a display, its gestures driven straight
// into the component, the pending rule, and its painting rendered offscreen.
#include "GuiTestSupport.h"
#include "KnobTestMouse.h"

#include "gui/VeskSamplerDualRingKnob.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace {

namespace knob = vesk::gui::knob;
using vesk::test::Mouse;
constexpr float kPi = 3.14159265358979f;

// A pool knob as the row sets it up, 44 x 61.
struct PoolKnob
{
    VeskSamplerDualRingKnob k{"Pitch"};
    struct Change
    {
        float value, range;
        bool enabled;
    };
    std::vector<Change> changes;
    std::vector<std::string> gestures; // "start", "change", "end" in order
    Mouse mouse{k};

    PoolKnob(float min = -12.0f, float max = 12.0f, const char* suffix = "st", float span = 12.0f)
    {
        k.setRange(min, max, 0.0f);
        k.setSuffix(suffix);
        k.setRandomRange(span);
        k.setBounds(0, 0, 44, 61);
        k.onValueChanged = [this](float v, float r, bool e) {
            changes.push_back({v, r, e});
            gestures.push_back("change");
        };
        k.onDragStart = [this] { gestures.push_back("start"); };
        k.onDragEnd = [this] { gestures.push_back("end"); };
    }
    juce::Point<float> centre() const { return k.getKnobBounds().getCentre(); }
};

TEST(KnobMaths, AnglesRunClockwiseOver270DegreesAndAreNeverNaN)
{
    EXPECT_FLOAT_EQ(knob::angleForValue(0.0f, 0.0f, 100.0f), -0.75f * kPi);
    EXPECT_FLOAT_EQ(knob::angleForValue(50.0f, 0.0f, 100.0f), 0.0f); // 12 o'clock
    EXPECT_FLOAT_EQ(knob::angleForValue(100.0f, 0.0f, 100.0f), 0.75f * kPi);
    EXPECT_FLOAT_EQ(knob::angleForValue(500.0f, 0.0f, 100.0f), 0.75f * kPi); // clamped
    // An empty or inverted span and non-numbers: the minimum's angle, never NaN.
    for (float v : {5.0f, NAN, INFINITY, -INFINITY}) {
        EXPECT_FLOAT_EQ(knob::angleForValue(v, 5.0f, 5.0f), -0.75f * kPi);
        EXPECT_TRUE(std::isfinite(knob::angleForValue(v, 0.0f, 1.0f)));
    }
    EXPECT_FLOAT_EQ(knob::angleForValue(1.0f, 2.0f, 1.0f), -0.75f * kPi);
    for (float v : {-12.0f, -3.5f, 0.0f, 11.0f})
        EXPECT_NEAR(knob::valueForAngle(knob::angleForValue(v, -12.0f, 12.0f), -12.0f, 12.0f), v,
                    1e-4f);
    EXPECT_FLOAT_EQ(knob::valueForAngle(NAN, 0.0f, 1.0f), 0.0f);
}

TEST(KnobMaths, SnappingAndDrags)
{
    EXPECT_FLOAT_EQ(knob::snap(0.4f, 0.0f, 1.0f, 4), 1.0f / 3.0f);
    EXPECT_EQ(knob::stepIndex(0.4f, 0.0f, 1.0f, 4), 1);
    EXPECT_FLOAT_EQ(knob::snap(7.0f, 0.0f, 1.0f, 4), 1.0f);
    EXPECT_FLOAT_EQ(knob::snap(0.37f, 0.0f, 1.0f, 0), 0.37f);
    EXPECT_FLOAT_EQ(knob::snap(NAN, 2.0f, 3.0f, 0), 2.0f);
    EXPECT_EQ(knob::stepIndex(3.0f, 3.0f, 3.0f, 4), 0);

    // 100 px upwards: 30 knob units, 3 with Shift; on 0..100 that is the value itself.
    EXPECT_FLOAT_EQ(knob::dragDelta(100.0f, 0.0f, false), 30.0f);
    EXPECT_FLOAT_EQ(knob::dragDelta(100.0f, 0.0f, true), 3.0f);
    EXPECT_FLOAT_EQ(knob::dragValue(0.0f, 30.0f, 0.0f, 100.0f, 0), 30.0f);
    // Pitch -12..12: 30 % of 24 semitones = 7.2, 0.72 with Shift.
    EXPECT_NEAR(knob::dragValue(0.0f, 30.0f, -12.0f, 12.0f, 0), 7.2f, 1e-5f);
    EXPECT_NEAR(knob::dragValue(0.0f, 3.0f, -12.0f, 12.0f, 0), 0.72f, 1e-5f);
    EXPECT_FLOAT_EQ(knob::dragValue(10.0f, 300.0f, -12.0f, 12.0f, 0), 12.0f);
    EXPECT_FLOAT_EQ(knob::dragRange(90.0f, 30.0f), 100.0f);
    EXPECT_FLOAT_EQ(knob::dragRange(10.0f, -30.0f), 0.0f);
    EXPECT_FLOAT_EQ(knob::dragDepth(0.5f, 30.0f), 0.8f);
    EXPECT_FLOAT_EQ(knob::dragDepth(-0.9f, -30.0f), -1.0f);
}

TEST(KnobMaths, ValueTexts)
{
    using vesk::DisplayCurve;
    struct Case
    {
        knob::TextConfig config;
        float value;
        const char* text;
    };
    auto mapped = [](float dmin, float dmax, DisplayCurve c, int precision, const char* suffix) {
        knob::TextConfig t{0.0f, 1.0f, 0, suffix, {}};
        t.mapping = {true, dmin, dmax, c, precision, nullptr};
        return t;
    };
    const Case cases[] = {
        {{-48.0f, 12.0f, 0, "dB", {}}, -47.95f, "-inf dB"},
        {{-48.0f, 12.0f, 0, "dB", {}}, -12.0f, "-12.0 dB"},
        {{-48.0f, 12.0f, 0, "dB", {}}, 0.0f, "0.0 dB"},
        {{-12.0f, 12.0f, 0, "st", {}}, 7.2f, "7.2 st"},
        {{0.0f, 1.0f, 4, "", {}}, 0.4f, "2/4"},
        {{0.0f, 1.0f, 4, "", {}}, 1.0f, "4/4"},
        {{1.0f, 1.0f, 4, "", {}}, 1.0f, "1/4"},
        {{0.0f, 8.0f, 9, "x", {}}, 3.0f, "3 x"},
        {{0.0f, 100.0f, 0, "", {}}, 42.26f, "42.3"}, // no suffix: no trailing blank
        {{5.0f, 5.0f, 0, "%", {}}, 5.0f, "5.0 %"},
        {mapped(20.0f, 20000.0f, DisplayCurve::Exponential, 0, "Hz"), 0.5f, "632 Hz"},
        {mapped(0.0f, 100.0f, DisplayCurve::Square, 1, "%"), 0.5f, "25.0 %"},
        {mapped(0.0f, 100.0f, DisplayCurve::Quartic, 0, ""), 0.5f, "6"},
        {mapped(0.0f, 50.0f, DisplayCurve::Bipolar, 0, "ct"), 1.0f, "+50 ct"},
        {mapped(0.0f, 50.0f, DisplayCurve::Bipolar, 0, "ct"), 0.0f, "-50 ct"},
        {mapped(0.0f, 50.0f, DisplayCurve::Bipolar, 1, "ct"), 0.5f, "0.0 ct"},
        {mapped(0.0f, 10.0f, DisplayCurve::Linear, 2, "s"), 0.25f, "2.50 s"},
        {mapped(0.0f, 10.0f, DisplayCurve::Custom, 1, "s"), 0.25f, "2.5 s"}, // no function
    };
    for (const Case& c : cases)
        EXPECT_EQ(knob::valueText(c.config, c.value), juce::String(c.text))
            << "value " << c.value << " suffix '" << c.config.suffix << "'";
    // One rule for the empty suffix everywhere.
    EXPECT_EQ(knob::withSuffix("3", ""), "3");
    EXPECT_EQ(knob::withSuffix("3", "ms"), "3 ms");
}

TEST(KnobGestures, DragUpSetsTheValueBetweenOneStartAndOneEnd)
{
    PoolKnob p;
    p.mouse.dragBy(p.centre(), -100.0f);
    ASSERT_FALSE(p.changes.empty());
    EXPECT_NEAR(p.changes.back().value, 7.2f, 1e-4f);
    EXPECT_EQ(p.gestures.front(), "start");
    EXPECT_EQ(p.gestures.back(), "end");
    EXPECT_EQ(std::count(p.gestures.begin(), p.gestures.end(), "start"), 1);
    EXPECT_EQ(std::count(p.gestures.begin(), p.gestures.end(), "end"), 1);
    EXPECT_TRUE(p.k.hasPendingValue());

    PoolKnob fine;
    fine.mouse.dragBy(fine.centre(), -100.0f, Mouse::shift());
    EXPECT_NEAR(fine.changes.back().value, 0.72f, 1e-4f);

    // A press and release without movement changes nothing and opens no gesture.
    PoolKnob still;
    still.mouse.click(still.centre());
    EXPECT_TRUE(still.gestures.empty());
    EXPECT_FALSE(still.k.hasPendingValue());
}

TEST(KnobGestures, KeepsTheDraggedValueUntilTheEngineAgreesThenFollowsTheEngine)
{
    PoolKnob p;
    p.mouse.dragBy(p.centre(), -100.0f);
    const float dragged = p.k.getValue();
    p.k.setValue(0.0f, 0.0f, false); // the snapshot before the command arrived
    EXPECT_EQ(p.k.getValue(), dragged);
    p.k.setValue(dragged, 0.0f, false); // confirmed
    EXPECT_FALSE(p.k.hasPendingValue());
    p.k.setValue(-3.0f, 0.0f, false); // a state load, undo or dice
    EXPECT_EQ(p.k.getValue(), -3.0f);
    EXPECT_TRUE(p.changes.size() >= 1);
    const size_t sent = p.changes.size();
    p.k.setValue(4.0f, 20.0f, true);
    EXPECT_EQ(p.changes.size(), sent); // engine values never notify
}

TEST(KnobGestures, ARangeThatComesBackInexactStillConfirms)
{
    // The range travels as r / 100 and returns multiplied by 100; many values do not survive
    // exactly, and the knob must not stay deaf to the engine afterwards.
    int checked = 0;
    for (float r = 1.0f; r <= 100.0f; r += 0.37f) {
        PoolKnob p(-48.0f, 12.0f, "dB", 20.0f);
        p.k.setValue(0.0f, 0.0f, true);
        p.mouse.press(p.k.getMiniRingCentre());
        p.mouse.dragTo({6.0f, 6.0f - r / 0.3f});
        p.mouse.release({6.0f, 6.0f - r / 0.3f});
        const float range = p.k.getRange();
        const volatile float sent = range / 100.0f;
        p.k.setValue(0.0f, sent * 100.0f, true);
        ASSERT_FALSE(p.k.hasPendingValue()) << "range " << range;
        p.k.setValue(0.0f, 0.0f, false);
        ASSERT_EQ(p.k.getRange(), 0.0f);
        ++checked;
    }
    EXPECT_GT(checked, 200);
}

TEST(KnobGestures, AnEditTheEngineNeverConfirmsExpires)
{
    PoolKnob p;
    p.mouse.dragBy(p.centre(), -50.0f);
    p.k.setValue(0.0f, 0.0f, false);
    EXPECT_NE(p.k.getValue(), 0.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    p.k.setValue(0.0f, 0.0f, false);
    EXPECT_EQ(p.k.getValue(), 0.0f);
}

TEST(KnobGestures, RightClickTogglesRandomisationOnlyWhenAllowed)
{
    PoolKnob p;
    p.mouse.click(p.centre(), Mouse::rightButton());
    ASSERT_EQ(p.changes.size(), 1u);
    EXPECT_TRUE(p.changes[0].enabled);
    EXPECT_EQ((std::vector<std::string>{"start", "change", "end"}), p.gestures);

    PoolKnob off;
    off.k.setRightClickEnabled(false);
    off.mouse.click(off.centre(), Mouse::rightButton());
    EXPECT_TRUE(off.changes.empty());

    PoolKnob dimmed;
    dimmed.k.setDimmed(true);
    dimmed.mouse.click(dimmed.centre(), Mouse::rightButton());
    dimmed.mouse.dragBy(dimmed.centre(), -80.0f);
    dimmed.mouse.doubleClick(dimmed.centre());
    EXPECT_TRUE(dimmed.changes.empty());
}

TEST(KnobGestures, MiniRingDragsTheRangeOnlyWhileRandomisationIsOn)
{
    PoolKnob p(-48.0f, 12.0f, "dB", 20.0f);
    p.mouse.dragBy(p.k.getMiniRingCentre(), -60.0f);
    EXPECT_TRUE(p.changes.empty()); // off: nothing to drag
    p.k.setValue(-6.0f, 0.0f, true);
    p.mouse.press(p.k.getMiniRingCentre());
    p.mouse.dragTo({6.0f, 6.0f - 60.0f});
    // While the ring is dragged the tooltip shows the spread in the value's unit: 18 % of 20 dB.
    EXPECT_EQ(p.k.getTooltipText(), juce::String::fromUTF8("\xc2\xb1") + "3.6 dB");
    p.mouse.release({6.0f, 6.0f - 60.0f});
    ASSERT_FALSE(p.changes.empty());
    EXPECT_FLOAT_EQ(p.changes.back().range, 18.0f);
    EXPECT_FLOAT_EQ(p.changes.back().value, -6.0f);
    EXPECT_EQ(p.k.getTooltipText(), "-6.0 dB");
}

TEST(KnobGestures, DoubleClicksResetOnlyWhatCanChange)
{
    // Inner ring: back to the default.
    PoolKnob p;
    p.k.setValue(5.0f, 40.0f, true);
    p.mouse.doubleClick(p.centre());
    ASSERT_FALSE(p.changes.empty());
    EXPECT_EQ(p.changes.back().value, 0.0f);
    EXPECT_EQ(p.changes.back().range, 40.0f);

    // Mini ring of an active ring: range 0, value kept.
    PoolKnob active;
    active.k.setValue(5.0f, 40.0f, true);
    active.mouse.doubleClick(active.k.getMiniRingCentre());
    ASSERT_FALSE(active.changes.empty());
    EXPECT_EQ(active.changes.back().range, 0.0f);
    EXPECT_EQ(active.changes.back().value, 5.0f);

    // Mini ring of an inactive or hidden ring, or an inner ring already at its default: no
    // edit at all (an edit would mark the project changed for nothing).
    PoolKnob inactive;
    inactive.k.setValue(5.0f, 40.0f, false);
    inactive.mouse.doubleClick(inactive.k.getMiniRingCentre());
    PoolKnob hidden;
    hidden.k.setValue(5.0f, 40.0f, true);
    hidden.k.setHideOuterRing(true);
    hidden.mouse.doubleClick(hidden.k.getMiniRingCentre());
    PoolKnob atDefault;
    atDefault.mouse.doubleClick(atDefault.centre());
    EXPECT_TRUE(inactive.changes.empty());
    EXPECT_TRUE(hidden.changes.empty());
    EXPECT_TRUE(atDefault.changes.empty());
    EXPECT_TRUE(inactive.gestures.empty());
}

TEST(KnobGestures, ModulationBindingMenuResultsAndPending)
{
    VeskSamplerDualRingKnob k("Cut");
    k.setBounds(0, 0, 44, 61);
    k.setOuterMode(VeskSamplerDualRingKnob::OuterMode::Modulation);
    std::vector<std::pair<int, float>> sent;
    k.onModBindingChanged = [&](uint8_t s, float d) { sent.push_back({s, d}); };
    k.setModBinding(2, 0.5f);
    EXPECT_EQ(k.getTooltipText(), k.getValueText());
    k.applyModMenuResult(99); // reset depth, keep the source
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::pair<int, float>{2, 0.0f}));
    k.setModBinding(2, 0.5f); // stale snapshot: kept
    EXPECT_EQ(k.getModDepth(), 0.0f);
    k.setModBinding(2, 0.0f);
    k.setModBinding(3, 0.25f);
    EXPECT_EQ(k.getModSource(), 3);
    k.applyModMenuResult(1); // None: depth 0
    EXPECT_EQ(sent.back(), (std::pair<int, float>{0, 0.0f}));
    k.applyModMenuResult(0); // dismissed
    EXPECT_EQ(sent.size(), 2u);
    k.setModBinding(0, 0.0f);
    k.setModBinding(200, 0.7f); // out-of-range source from outside: None, depth 0
    EXPECT_EQ(k.getModSource(), 0);
    EXPECT_EQ(k.getModDepth(), 0.0f);
}

TEST(KnobGestures, StepCountSnapsTheValue)
{
    VeskSamplerDualRingKnob k("Mode");
    k.setRange(0.0f, 1.0f, 0.0f);
    k.setValue(0.4f, 0.0f, false);
    k.setStepCount(4);
    EXPECT_FLOAT_EQ(k.getValue(), 1.0f / 3.0f);
    EXPECT_EQ(k.getValueText(), "2/4");
    EXPECT_EQ(k.currentStepIndex(), 1);
    k.setStepCount(1);
    EXPECT_EQ(k.getValueText(), "0.3");
}

// ---------------------------------------------------------------------------------------------
// Painting

int countPixels(const juce::Image& image, juce::Colour target, int tolerance)
{
    int n = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x) {
            const juce::Colour c = image.getPixelAt(x, y);
            if (c.getAlpha() > 200 && std::abs(c.getRed() - target.getRed()) <= tolerance &&
                std::abs(c.getGreen() - target.getGreen()) <= tolerance &&
                std::abs(c.getBlue() - target.getBlue()) <= tolerance)
                ++n;
        }
    return n;
}

TEST(KnobRender, RingsShowWhatIsSet)
{
    struct Look
    {
        const char* name;
        std::function<void(VeskSamplerDualRingKnob&)> setUp;
    };
    juce::Component strip;
    const std::vector<Look> looks = {
        {"plain", [](auto& k) { k.setValue(-6.0f, 0.0f, false); }},
        {"random", [](auto& k) { k.setValue(3.0f, 50.0f, true); }},
        {"random-offset",
         [](auto& k) {
             k.setValue(3.0f, 50.0f, true);
             k.setLiveRandomOffset(-4.0f);
         }},
        {"stepped",
         [](auto& k) {
             k.setRange(0.0f, 1.0f, 0.0f);
             k.setSuffix("");
             k.setStepCount(5);
             k.setValue(0.5f, 0.0f, false);
             k.setShowValue(true);
         }},
        {"modulation",
         [](auto& k) {
             k.setOuterMode(VeskSamplerDualRingKnob::OuterMode::Modulation);
             k.setModBinding(1, 0.4f);
             k.setLiveModValue(0.5f);
         }},
        {"dimmed",
         [](auto& k) {
             k.setValue(3.0f, 50.0f, true);
             k.setDimmed(true);
         }},
        {"empty-span",
         [](auto& k) {
             k.setRange(5.0f, 5.0f, 5.0f);
             k.setValue(5.0f, 10.0f, true);
         }},
    };
    std::vector<std::unique_ptr<VeskSamplerDualRingKnob>> knobs;
    for (size_t i = 0; i < looks.size(); ++i) {
        auto k = std::make_unique<VeskSamplerDualRingKnob>(looks[i].name);
        k->setRange(-12.0f, 12.0f, 0.0f);
        k->setSuffix("st");
        k->setRandomRange(12.0f);
        k->setBounds(int(i) * 48, 0, 44, 61);
        looks[i].setUp(*k);
        strip.addAndMakeVisible(*k);
        knobs.push_back(std::move(k));
    }
    strip.setSize(int(looks.size()) * 48, 61);
    struct Bg : juce::Component
    {
        void paint(juce::Graphics& g) override
        {
            g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
        }
    } bg;
    bg.setSize(strip.getWidth(), strip.getHeight());
    bg.addAndMakeVisible(strip);
    strip.setBounds(bg.getLocalBounds());
    const juce::Image all = vesk::test::render(bg);
    vesk::test::saveImage(all, "knobs");

    auto one = [&](size_t i) { return vesk::test::render(*knobs[i]); };
    const juce::Colour blue(0xff60b0f0), orange(0xfff0a040);
    EXPECT_EQ(countPixels(one(0), blue, 24), 0);
    EXPECT_GT(countPixels(one(1), blue, 24), 20);
    EXPECT_GT(countPixels(one(2), juce::Colour(0xff80c8ff), 20), 3);
    EXPECT_GT(countPixels(one(4), orange, 24), 20);
    EXPECT_EQ(countPixels(one(5), blue, 24), 0); // dimmed: the arc at 40 %
    EXPECT_EQ(knobs[3]->getValueText(), "3/5");
    EXPECT_TRUE(std::isfinite(knobs[6]->getAngleForValue(5.0f)));
}

} // namespace
