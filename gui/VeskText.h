// Text crossing between the engine's fixed byte fields and the editor's strings.
#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <string>

namespace vesk::gui {

// A zero-terminated (or full) byte field from the engine as text: UTF-8, with a character cut
// off at the end of the field dropped and any invalid byte shown as U+FFFD. Never asserts.
juce::String textFromEngine(const char* bytes, size_t capacity);

} // namespace vesk::gui
