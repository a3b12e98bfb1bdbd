// The editor's typefaces.
//
// On Linux JUCE finds fonts only in the folders fonts.conf names, skips font collections and has
// no glyph fallback, so a Chinese banner or a Cyrillic sample name would come out as boxes. The
// editor therefore carries its fonts inside the plug-in (a Latin interface face in two weights and
// a CJK face, embedded from Debian's font packages by the build) and draws every string through
// a typeface that takes each character from the first face that has it. On macOS the system
// interface font and the system's own fallback are used.
#pragma once

#include <juce_graphics/juce_graphics.h>

namespace vesk::fonts {

// The typeface name the editor's fonts carry ("Vesk Sans"), also the look-and-feel's default
// sans-serif name where the fonts are embedded.
extern const char* const kInterfaceName;

// True when the fonts are built into this plug-in.
bool embedded();

// [main thread] The interface typeface for a regular or bold font, or null without embedded
// fonts. Made on first use and kept until releaseTypefaces().
juce::Typeface::Ptr interfaceTypeface(bool bold);

// Whether a character would be drawn from a real glyph (of either face), not as a box.
bool hasGlyph(juce::juce_wchar c);

// [main thread] Drops the typefaces (at runtime shutdown).
void releaseTypefaces();

} // namespace vesk::fonts
