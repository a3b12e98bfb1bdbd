#include "VeskSamplerTopBar.h"

#include "VeskGuiLayout.h"
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

// Export Set…: a right click on the export area (the export buttons forward their mouse events
// here with addMouseListener(this, false)).
void VeskSamplerTopBar::mouseDown(const juce::MouseEvent& e)
{
    const int x = e.getEventRelativeTo(this).x;
    if (e.mods.isPopupMenu() && x >= vesk::gui::layout::kExportAreaX &&
        x < vesk::gui::layout::kExportAreaRight && onExportSet)
        onExportSet(*this);
}
