// One FX module as a card: title, power light (bypass), close cross, an optional toggle and one
// knob per module parameter, in one or two rows. Cards of a lane carry their slot identity and
// can be dragged by their header onto either lane; the master strip's cards have none.
#pragma once

#include "VeskSamplerDualRingKnob.h"

#include "fx/FXModule.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The editor's description of one module knob, read from the module's registry record.
struct FXKnobConfig
{
    juce::String name;
    juce::String suffix;
    float min = 0.0f, max = 1.0f;
    float defaultValue = 0.0f;
    bool showValue = false;
    int row = 0;
    int stepCount = 0;
    bool hideStepTicks = false;
    bool hasDisplayMapping = false;
    float displayMin = 0.0f, displayMax = 1.0f;
    vesk::DisplayCurve displayCurve = vesk::DisplayCurve::Linear;
    int precision = 1;
    vesk::DisplayFunction customDisplay = nullptr;

    // One config per parameter of the module, in parameter order; empty for null.
    static std::vector<FXKnobConfig> fromRegistry(const vesk::FXModuleInfo* info);
};

class VeskSamplerFXCard : public juce::Component
{
public:
    using Knob = VeskSamplerDualRingKnob;

    VeskSamplerFXCard(const juce::String& title, bool hasPowerLight);

    std::function<void(bool bypassed)> onBypassToggle;
    std::function<void(bool on)> onToggleChanged;
    std::function<void(int knob, float value)> onKnobChanged;
    std::function<void(int knob, uint8_t source, float depth)> onKnobModBinding;
    std::function<void()> onRemove;

    void setupKnobs(const std::vector<FXKnobConfig>& configs);
    // lane and slot of the card in its lane; -1 when the card is not part of a lane. The module
    // type goes with a dragged card so that a drop can check the slot still holds it.
    void setSlotIdentity(int lane, int slot, int fxType = 0);
    int lane() const { return lane_; }
    int slot() const { return slot_; }
    void setRowCount(int rows);
    int preferredHeight() const;
    static int getRecommendedWidth(int knobCount);
    void setModulationEnabled(bool enabled);
    void setKnobValue(int knob, float value);
    void setKnobModBinding(int knob, uint8_t source, float depth);
    void setLiveModBus(const float* values, int count);
    void setHideOuterRing(bool hide);
    void setBypassed(bool bypassed);
    bool bypassed() const { return bypassed_; }
    void setToggle(const juce::String& text);
    void setToggleState(bool on);
    bool toggleState() const { return toggleOn_; }

    const juce::String& title() const { return title_; }
    int knobCount() const { return int(knobs_.size()); }
    Knob& knob(int i) { return *knobs_[size_t(i)]; }

    // Hit rectangles.
    juce::Rectangle<int> headerArea() const { return {0, 0, getWidth(), 24}; }
    juce::Rectangle<int> powerArea() const { return {6, 6, 14, 16}; }
    juce::Rectangle<int> closeArea() const { return {getWidth() - 18, 8, 12, 12}; }
    juce::Rectangle<int> titleArea() const;
    juce::Rectangle<int> toggleArea() const;

    // The drag description of a card ("type" "fxCard", "lane", "slot", "fxType").
    juce::var dragDescription() const;

    void paint(juce::Graphics&) override;
    void resized() override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    void mouseMove(const juce::MouseEvent&) override;
    void mouseExit(const juce::MouseEvent&) override;

private:
    bool hasIdentity() const { return lane_ >= 0 && slot_ >= 0; }
    int titleX() const { return hasPowerLight_ ? 22 : 6; }

    const juce::String title_;
    const bool hasPowerLight_;
    bool bypassed_ = false;
    juce::String toggleText_;
    bool toggleOn_ = false;
    bool hideOuterRings_ = false;
    std::vector<std::unique_ptr<Knob>> knobs_;
    std::vector<int> knobRows_;
    int rowCount_ = 1;
    int lane_ = -1, slot_ = -1, fxType_ = 0;
    bool closePressed_ = false, powerPressed_ = false, dragArmed_ = false, closeHover_ = false;
};
