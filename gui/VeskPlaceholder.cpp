#include "VeskPlaceholder.h"

#include "VeskGuiLayout.h"

namespace vesk::gui {

void paintPlaceholder(juce::Graphics& g, juce::Rectangle<int> bounds, const juce::String& title)
{
    g.setColour(juce::Colour(colours::kPlaceholder));
    g.fillRect(bounds);
    g.setColour(juce::Colour(colours::kPlaceholderEdge));
    g.drawRect(bounds, 1);
    g.setColour(juce::Colour(colours::kLabelText).withAlpha(0.35f));
    g.setFont(12.0f);
    g.drawText(title, bounds.reduced(6), juce::Justification::topLeft, true);
}

} // namespace vesk::gui
