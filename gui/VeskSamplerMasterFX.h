// The master strip below the pools: enhancer, glue reverb, limiter, EQ and output.
#pragma once

#include "fx/MasterFX.h"

#include <juce_gui_basics/juce_gui_basics.h>

class VeskSamplerMasterFX : public juce::Component
{
public:
    VeskSamplerMasterFX();

    void updateFromState(const vesk::MasterFXState& state);
    void paint(juce::Graphics&) override;
};
