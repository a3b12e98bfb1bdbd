#include "VeskSamplerPoolNav.h"

#include "VeskPlaceholder.h"

VeskSamplerPoolNav::VeskSamplerPoolNav()
{
    setOpaque(true);
}

void VeskSamplerPoolNav::setVisibleMask(uint8_t mask)
{
    visibleMask_ = mask;
}

void VeskSamplerPoolNav::updatePoolState(int, const juce::String&, bool) {}

void VeskSamplerPoolNav::updateSoloMuteFreeze(int, bool, bool, bool) {}

void VeskSamplerPoolNav::setSelectedPool(int pool)
{
    if (pool >= 0 && pool < 8)
        selected_ = pool;
}

void VeskSamplerPoolNav::paint(juce::Graphics& g)
{
    vesk::gui::paintPlaceholder(g, getLocalBounds(), "Pools");
}
