// Font files built into the plug-in (VeskEmbeddedFonts.cpp), each as bytes and a size.
#pragma once

#include <cstddef>

namespace vesk::fonts {

struct EmbeddedFont
{
    const unsigned char* data;
    size_t size;
};

// Empty (null, 0) where the build embeds no fonts.
EmbeddedFont sansRegular();
EmbeddedFont sansBold();
EmbeddedFont cjk();

} // namespace vesk::fonts
