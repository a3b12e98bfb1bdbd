// How a panel that is not built yet shows its place: a dark rectangle with its name.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vesk::gui {

void paintPlaceholder(juce::Graphics& g, juce::Rectangle<int> bounds, const juce::String& title);

} // namespace vesk::gui
