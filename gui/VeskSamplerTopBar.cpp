#include "VeskSamplerTopBar.h"

#include "VeskPlaceholder.h"

VeskSamplerTopBar::VeskSamplerTopBar()
{
    setOpaque(true);
}

void VeskSamplerTopBar::setRetriggerMode(bool single)
{
    single_ = single;
}

void VeskSamplerTopBar::setVoiceModeEnabled(bool enabled)
{
    voiceModeEnabled_ = enabled;
}

void VeskSamplerTopBar::setAutoSplit(bool on)
{
    autoSplit_ = on;
}

void VeskSamplerTopBar::paint(juce::Graphics& g)
{
    vesk::gui::paintPlaceholder(g, getLocalBounds(), "Top Bar");
}
