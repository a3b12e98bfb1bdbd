// The editor's one rotary control: an inner knob for a value and an outer ring that shows and
// edits either the value's random spread (pool parameters) or a modulation binding with its
// depth (FX knobs). The mini ring in the top-left corner is the outer ring's handle.
//
// The knob shows the engine's last confirmed values and the user's edit until the engine reports
// it (VeskPendingValue). Values from the engine never fire a callback; callbacks fire only from
// the user's gestures, each gesture framed by onDragStart / onDragEnd so that host automation
// can group it.
#pragma once

#include "VeskPendingValue.h"

#include "fx/FXLane.h"
#include "fx/FXModule.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace vesk::gui::knob {

// The knob's value maths, without a display. [any thread]

// Position 0..1 of v in min..max; 0 when max <= min or v is not a number.
float position(float v, float min, float max);
// The angle of v in radians, clockwise from 12 o'clock: -0.75 pi at the minimum (7:30),
// +0.75 pi at the maximum (4:30). Always finite.
float angleForValue(float v, float min, float max);
// The value at an angle (clamped to the 270 degrees of travel).
float valueForAngle(float angle, float min, float max);
// The nearest of steps evenly spaced values (steps < 2: v clamped to min..max).
float snap(float v, float min, float max, int steps);
// Index 0..steps-1 of the step nearest to v (0 for a continuous knob or an empty span).
int stepIndex(float v, float min, float max, int steps);
// Mouse travel as knob units: (press y - current y) x 0.3, a tenth of that with Shift.
float dragDelta(float pressY, float currentY, bool fine);
// The value after a drag of delta from start.
float dragValue(float start, float delta, float min, float max, int steps);
// The random range (0..100 %) after a drag of delta from start.
float dragRange(float start, float delta);
// The modulation depth (-1..1) after a drag of delta from start.
float dragDepth(float start, float delta);
// A number text with its unit: "12.0 dB"; with an empty suffix just the number (one rule for
// every knob and FX card).
juce::String withSuffix(const juce::String& number, const juce::String& suffix);

struct DisplayMapping
{
    bool present = false;
    float displayMin = 0.0f;
    float displayMax = 1.0f;
    vesk::DisplayCurve curve = vesk::DisplayCurve::Linear;
    int precision = 1;
    vesk::DisplayFunction custom = nullptr;
};

struct TextConfig
{
    float min = 0.0f;
    float max = 100.0f;
    int steps = 0;
    juce::String suffix;
    DisplayMapping mapping;
};

// The knob's value text for value v.
juce::String valueText(const TextConfig& config, float v);
// The name of a modulation source as the tooltip shows it.
juce::String sourceName(vesk::ModSource source);

} // namespace vesk::gui::knob

class VeskSamplerDualRingKnob : public juce::Component
{
public:
    enum class OuterMode : uint8_t
    {
        Random = 0,
        Modulation = 1,
    };

    explicit VeskSamplerDualRingKnob(const juce::String& label);
    ~VeskSamplerDualRingKnob() override;

    // value, outer range (0..100 %), randomisation flag.
    std::function<void(float value, float range, bool enabled)> onValueChanged;
    std::function<void(uint8_t source, float depth)> onModBindingChanged;
    // Around every user gesture that may change the knob (a drag, a double click, a toggle or
    // menu choice): start before its first change, end after its last.
    std::function<void()> onDragStart;
    std::function<void()> onDragEnd;

    // Set-up.
    void setRange(float min, float max, float defaultValue);
    void setSuffix(const juce::String& suffix);
    void setDisplayMapping(float displayMin, float displayMax, vesk::DisplayCurve curve,
                           int precision, vesk::DisplayFunction custom = nullptr);
    void setRandomRange(float span);
    void setStepCount(int steps);
    void setHideStepTicks(bool hide);
    void setShowValue(bool show);
    void setDimmed(bool dimmed);
    void setRightClickEnabled(bool enabled);
    void setHideOuterRing(bool hide);
    void setOuterMode(OuterMode mode);

    // State from the engine: never notifies.
    void setValue(float value, float range, bool enabled);
    void setModBinding(uint8_t source, float depth);
    void setLiveRandomOffset(float offset);
    void setLiveModValue(float value);

    // Queries.
    juce::String getValueText() const;
    int currentStepIndex() const;
    float snapToStep(float v) const;
    juce::Rectangle<float> getKnobBounds() const;
    juce::Point<float> getMiniRingCentre() const { return {6.0f, 6.0f}; }
    float getAngleForValue(float v) const;
    float getValueForAngle(float angle) const;
    bool isPointInInnerRing(juce::Point<float> p) const;
    bool isPointInMiniRing(juce::Point<float> p) const;
    juce::String getTooltipText() const;

    float getValue() const { return value_; }
    float getRange() const { return range_; }
    bool isRandomEnabled() const { return enabled_; }
    uint8_t getModSource() const { return uint8_t(modSource_); }
    float getModDepth() const { return modDepth_; }
    bool isDimmed() const { return dimmed_; }
    bool isDragging() const { return dragMode_ != DragMode::None; }
    bool hasPendingValue() const { return pending_.active(); }
    // The host loaded a state: the next snapshot is shown as it is.
    void forgetPendingEdits()
    {
        pending_.clear();
        pendingBinding_.clear();
    }

    // Outgoing.
    void sendValueChanged();
    void sendModBindingChanged();

    // Menu result of the modulation menu (tests drive it without a menu).
    void applyModMenuResult(int id);

    void paint(juce::Graphics&) override;
    void mouseEnter(const juce::MouseEvent&) override;
    void mouseExit(const juce::MouseEvent&) override;
    void mouseMove(const juce::MouseEvent&) override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    void mouseDoubleClick(const juce::MouseEvent&) override;

private:
    enum class DragMode : uint8_t
    {
        None = 0,
        Value = 1,
        Outer = 2,
    };
    struct Edit
    {
        float value = 0.0f, range = 0.0f;
        bool enabled = false;
    };
    struct Binding
    {
        vesk::ModSource source = vesk::ModSource::None;
        float depth = 0.0f;
    };

    bool outerActive() const;
    void makePending();
    void makeBindingPending();
    void showTooltip();
    void hideTooltip();
    void beginGesture();
    void endGesture();

    juce::String label_;
    juce::String suffix_;
    float min_ = 0.0f, max_ = 100.0f, default_ = 0.0f;
    float randomSpan_ = 100.0f;
    float value_ = 0.0f, range_ = 0.0f;
    bool enabled_ = false;
    bool hovered_ = false;
    bool showValue_ = false;
    bool dimmed_ = false;
    bool rightClickEnabled_ = true;
    bool hideOuterRing_ = false;
    int steps_ = 0;
    bool hideStepTicks_ = false;
    vesk::gui::knob::DisplayMapping mapping_;
    vesk::gui::VeskPendingValue<Edit> pending_;
    OuterMode outerMode_ = OuterMode::Random;
    vesk::ModSource modSource_ = vesk::ModSource::None;
    float modDepth_ = 0.0f;
    vesk::gui::VeskPendingValue<Binding> pendingBinding_;
    float liveModValue_ = 0.0f;
    float liveRandomOffset_ = 0.0f;
    DragMode dragMode_ = DragMode::None;
    bool dragChanged_ = false;
    bool gestureOpen_ = false;
    float dragStart_ = 0.0f;
    juce::Point<float> pressPos_;
    bool hoverMiniRing_ = false;
    class Bubble;
    std::unique_ptr<Bubble> bubble_;
};
