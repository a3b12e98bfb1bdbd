#include "VeskSamplerFXLanePanel.h"

#include "VeskPlaceholder.h"

VeskSamplerFXLanePanel::VeskSamplerFXLanePanel(int lane) : lane_(lane)
{
    setOpaque(true);
}

void VeskSamplerFXLanePanel::updateFromState(const vesk::FXLaneState&, bool, const float*, int) {}

void VeskSamplerFXLanePanel::paint(juce::Graphics& g)
{
    vesk::gui::paintPlaceholder(g, getLocalBounds(), "FX Bus " + juce::String(lane_ + 1));
}
