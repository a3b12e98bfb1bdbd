#include "VeskText.h"

#include <cstring>

namespace vesk::gui {

namespace {

// Length of the UTF-8 sequence a lead byte starts, or 0 for a byte that cannot start one.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool continuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// The code point of a complete, well-formed sequence, or -1.
int32_t decode(const unsigned char* p, int n)
{
    int32_t cp = 0;
    switch (n) {
    case 1:
        return p[0];
    case 2:
        cp = int32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
        return cp >= 0x80 ? cp : -1;
    case 3:
        cp = int32_t(p[0] & 0x0F) << 12 | int32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? cp : -1;
    case 4:
        cp = int32_t(p[0] & 0x07) << 18 | int32_t(p[1] & 0x3F) << 12 | int32_t(p[2] & 0x3F) << 6 |
             (p[3] & 0x3F);
        return cp >= 0x10000 && cp <= 0x10FFFF ? cp : -1;
    default:
        return -1;
    }
}

} // namespace

juce::String textFromEngine(const char* bytes, size_t capacity)
{
    if (bytes == nullptr || capacity == 0)
        return {};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t end = 0;
    while (end < capacity && p[end] != 0)
        ++end;
    juce::String out;
    out.preallocateBytes(end + 4);
    for (size_t i = 0; i < end;) {
        const int n = sequenceLength(p[i]);
        bool complete = n > 0 && i + size_t(n) <= end;
        for (int k = 1; complete && k < n; ++k)
            complete = continuation(p[i + size_t(k)]);
        const int32_t cp = complete ? decode(p + i, n) : -1;
        if (cp >= 0) {
            out += juce::String::charToString(juce::juce_wchar(cp));
            i += size_t(n);
            continue;
        }
        // A sequence cut off by the end of the field is dropped; anything else malformed shows.
        bool cutAtEnd = n > 0 && i + size_t(n) > end;
        for (size_t k = i + 1; cutAtEnd && k < end; ++k)
            cutAtEnd = continuation(p[k]);
        if (cutAtEnd)
            break;
        out += juce::String::charToString(juce::juce_wchar(0xFFFD));
        ++i;
    }
    return out;
}

} // namespace vesk::gui
