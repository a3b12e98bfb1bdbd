// Text crossing between the engine's fixed byte fields and the editor's strings.
#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <string>

namespace vesk::gui {

// A zero-terminated (or full) byte field from the engine as text: UTF-8, with a character cut
// off at the end of the field dropped and any invalid byte shown as U+FFFD. Never asserts.
juce::String textFromEngine(const char* bytes, size_t capacity);

// The longest prefix of `utf8` that is at most maxBytes long and ends on a character boundary.
std::string truncateUtf8(const std::string& utf8, size_t maxBytes);

} // namespace vesk::gui
