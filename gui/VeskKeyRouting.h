// Which global key the root component acts on: pure logic, tested without a display.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vesk::gui {

enum class RootKey
{
    None,
    Escape, // ask the host to hide the editor
    Space,  // stop when sounding, else replay
    Random, // R: a fresh random trigger
};

// A key without modifiers, and only when no text field has keyboard focus (typing a space or an
// "r" into a name must type it).
RootKey routeRootKey(const juce::KeyPress& key, bool textFieldFocused);

// Whether the component or one of its parents is a text field.
bool isInsideTextEditor(const juce::Component* component);

} // namespace vesk::gui
