// The master strip below the pools: the master power switch and five fixed cards, "EQ",
// "Enhance", "Glue Reverb", "Limiter" and "Output".
//
// Each master command carries a whole parameter group, so the panel keeps each group's values
// itself: an edit updates the kept group and sends all of it, and a snapshot replaces the kept
// group only once it agrees with the edits (or after a second without agreement, when the engine
// settled elsewhere). Two knobs of one card moved before the next snapshot thus both stay.
#pragma once

#include "VeskFXCard.h"

#include "fx/MasterFX.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>

class VeskSamplerMasterFX : public juce::Component
{
public:
    VeskSamplerMasterFX();

    std::function<void(bool)> onMasterBypassToggle;
    std::function<void(float low, float mid, float high)> onEqChanged;
    std::function<void(bool)> onEqBypassToggle;
    std::function<void(float drive, float amount, float shape)> onEnhanceChanged;
    std::function<void(bool)> onEnhanceBypassToggle;
    std::function<void(bool)> onEnhanceMultiToggle;
    std::function<void(float size, float damp, float decay, float mix, float width, float early)>
        onReverbChanged;
    std::function<void(bool)> onReverbBypassToggle;
    std::function<void(float threshold, float ceiling, float release)> onLimiterChanged;
    std::function<void(bool)> onLimiterBypassToggle;
    std::function<void(float gainDb)> onOutputGainChanged;

    // [main thread] Every tick.
    void updateFromState(const vesk::MasterFXState& state);
    // The host loaded a state: every card shows the next snapshot as it is.
    void forgetPendingEdits();

    enum Card
    {
        EQ = 0,
        Enhance,
        Reverb,
        Limiter,
        Output,
        kCardCount
    };
    VeskSamplerFXCard& card(int c) { return *cards_[size_t(c)]; }
    bool masterBypassed() const { return bypassed_; }

    void paint(juce::Graphics&) override;
    void resized() override;
    void mouseDown(const juce::MouseEvent&) override;

private:
    // One card's group as the engine takes it (reverb fractions, not percent).
    struct Group
    {
        std::array<float, 6> values{};
        int size = 0;
        int pendingTicks = 0; // > 0 while an edit waits for the snapshot
    };
    void knobChanged(int card, int knob, float shownValue);
    void sendGroup(int card);
    void takeGroup(int card, const float* engineValues);

    std::array<std::unique_ptr<VeskSamplerFXCard>, kCardCount> cards_;
    std::array<Group, kCardCount> groups_;
    bool bypassed_ = true;
    // Each card's own flag: its power light toggles it even while the master bypass dims it.
    std::array<bool, kCardCount> moduleBypassed_{};
    bool painted_ = false;
};
