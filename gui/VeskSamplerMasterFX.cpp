#include "VeskSamplerMasterFX.h"

#include "VeskPlaceholder.h"

VeskSamplerMasterFX::VeskSamplerMasterFX()
{
    setOpaque(true);
}

void VeskSamplerMasterFX::updateFromState(const vesk::MasterFXState&) {}

void VeskSamplerMasterFX::paint(juce::Graphics& g)
{
    vesk::gui::paintPlaceholder(g, getLocalBounds(), "Master");
}
