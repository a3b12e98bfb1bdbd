// The interface fonts, taken by the build from the installed font packages and assembled into
// the plug-in's read-only data (never copied into the source tree). The paths come from CMake.
#include "VeskEmbeddedFonts.h"

#if defined(VESK_FONT_SANS) && defined(VESK_FONT_SANS_BOLD) && defined(VESK_FONT_CJK)

#if defined(__APPLE__)
#define VESK_FONT_SECTION ".const_data\n"
#define VESK_SYMBOL(name) "_" #name
#define VESK_HIDE(name) ".private_extern _" #name "\n"
#else
#define VESK_FONT_SECTION ".section .rodata.vesk_fonts,\"a\"\n"
#define VESK_SYMBOL(name) #name
#define VESK_HIDE(name) ".hidden " #name "\n"
#endif

#define VESK_INCBIN(name, path)                                                                    \
    __asm__(VESK_FONT_SECTION                                                                      \
            ".balign 16\n"                                                                         \
            ".globl " VESK_SYMBOL(name) "\n" VESK_HIDE(name)                                       \
                VESK_SYMBOL(name) ":\n"                                                            \
                                  ".incbin \"" path "\"\n"                                         \
                                  ".globl " VESK_SYMBOL(name##_end) "\n" VESK_HIDE(name##_end)     \
                                      VESK_SYMBOL(name##_end) ":\n"                                \
                                                              ".byte 0\n"                          \
                                                              ".previous\n")

VESK_INCBIN(vesk_font_sans, VESK_FONT_SANS);
VESK_INCBIN(vesk_font_sans_bold, VESK_FONT_SANS_BOLD);
VESK_INCBIN(vesk_font_cjk, VESK_FONT_CJK);

extern "C" {
extern const unsigned char vesk_font_sans[], vesk_font_sans_end[];
extern const unsigned char vesk_font_sans_bold[], vesk_font_sans_bold_end[];
extern const unsigned char vesk_font_cjk[], vesk_font_cjk_end[];
}

namespace vesk::fonts {

EmbeddedFont sansRegular()
{
    return {vesk_font_sans, size_t(vesk_font_sans_end - vesk_font_sans)};
}
EmbeddedFont sansBold()
{
    return {vesk_font_sans_bold, size_t(vesk_font_sans_bold_end - vesk_font_sans_bold)};
}
EmbeddedFont cjk()
{
    return {vesk_font_cjk, size_t(vesk_font_cjk_end - vesk_font_cjk)};
}

} // namespace vesk::fonts

#else

namespace vesk::fonts {
EmbeddedFont sansRegular()
{
    return {nullptr, 0};
}
EmbeddedFont sansBold()
{
    return {nullptr, 0};
}
EmbeddedFont cjk()
{
    return {nullptr, 0};
}
} // namespace vesk::fonts

#endif
