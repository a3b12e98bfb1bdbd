// One FX bus as a column: title with power, solo and mute, and the bus's cards.
#pragma once

#include "fx/FXLane.h"

#include <juce_gui_basics/juce_gui_basics.h>

class VeskSamplerFXLanePanel : public juce::Component
{
public:
    explicit VeskSamplerFXLanePanel(int lane);

    int lane() const { return lane_; }
    void updateFromState(const vesk::FXLaneState& state, bool bus1ToMaster, const float* modulation,
                         int modulationCount);
    void paint(juce::Graphics&) override;

private:
    const int lane_;
};
