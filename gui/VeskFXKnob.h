// The rotary control of the FX cards and the master strip: an inner knob for the value and, in
// modulation mode, an outer ring showing the knob's modulation binding, whose depth is dragged
// on the mini ring in the top-left corner and whose source is chosen with a right click.
//
// Its interface follows the editor's dual-ring knob, so the cards can take that knob in its place.
// Between an edit and the snapshot that reports it the knob keeps showing the user's value.
#pragma once

#include "fx/FXModule.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>

class VeskFXKnob : public juce::Component
{
public:
    enum class OuterMode
    {
        Random = 0,
        Modulation = 1,
    };

    explicit VeskFXKnob(const juce::String& label);

    // value, outer range (unused here, 0) and flag (unused here, false).
    std::function<void(float value, float range, bool enabled)> onValueChanged;
    std::function<void(uint8_t source, float depth)> onModBindingChanged;

    void setRange(float minValue, float maxValue, float defaultValue);
    void setSuffix(const juce::String& suffix);
    void setShowValue(bool show);
    void setRightClickEnabled(bool enabled) { rightClick_ = enabled; }
    void setHideOuterRing(bool hide);
    void setStepCount(int steps);
    void setHideStepTicks(bool hide);
    void setDisplayMapping(float displayMin, float displayMax, vesk::DisplayCurve curve,
                           int precision, vesk::DisplayFunction custom);
    void setOuterMode(OuterMode mode);
    void setDimmed(bool dimmed);

    // [main thread] From the snapshot: ignored while dragging, and while an edit waits for the
    // snapshot to report it.
    void setValue(float value, float range = 0.0f, bool enabled = false);
    void setModBinding(uint8_t source, float depth);
    void setLiveModValue(float value);

    float value() const { return value_; }
    uint8_t modSource() const { return source_; }
    float modDepth() const { return depth_; }
    bool dimmed() const { return dimmed_; }
    OuterMode outerMode() const { return mode_; }
    bool rightClickEnabled() const { return rightClick_; }
    juce::String getValueText() const;
    juce::Point<int> getMiniRingCentre() const { return {6, 6}; }
    juce::Rectangle<float> getKnobBounds() const;

    // The modulation menu's result (1 none, 2..5 a source, 99 reset depth; 0 nothing).
    void modMenuChosen(int id);

    void paint(juce::Graphics&) override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    void mouseDoubleClick(const juce::MouseEvent&) override;

private:
    enum class Drag
    {
        None,
        Value,
        Depth,
    };
    float snap(float v) const;
    float angleFor(float v) const;
    void commitValue(float v);
    void commitBinding(uint8_t source, float depth);
    bool inMiniRing(juce::Point<int> p) const;

    const juce::String label_;
    juce::String suffix_;
    float min_ = 0.0f, max_ = 100.0f, default_ = 0.0f;
    float value_ = 0.0f;
    bool showValue_ = false;
    bool rightClick_ = true;
    bool hideOuter_ = false;
    int steps_ = 0;
    bool hideTicks_ = false;
    bool hasMapping_ = false;
    float displayMin_ = 0.0f, displayMax_ = 1.0f;
    vesk::DisplayCurve curve_ = vesk::DisplayCurve::Linear;
    int precision_ = 1;
    vesk::DisplayFunction custom_ = nullptr;
    OuterMode mode_ = OuterMode::Random;
    bool dimmed_ = false;
    uint8_t source_ = 0;
    float depth_ = 0.0f;
    float live_ = 0.0f;

    bool valuePending_ = false;
    float pendingValue_ = 0.0f;
    bool bindingPending_ = false;
    uint8_t pendingSource_ = 0;
    float pendingDepth_ = 0.0f;

    Drag drag_ = Drag::None;
    float dragStart_ = 0.0f;
};
