#include "VeskFonts.h"

#include "VeskEmbeddedFonts.h"

#if !defined(__APPLE__)
#include <ft2build.h>
#include FT_FREETYPE_H
#endif

#include <memory>

namespace vesk::fonts {

const char* const kInterfaceName = "Vesk Sans";

#if defined(__APPLE__)

bool embedded()
{
    return false;
}
juce::Typeface::Ptr interfaceTypeface(bool)
{
    return nullptr;
}
bool hasGlyph(juce::juce_wchar)
{
    return true;
}
void releaseTypefaces() {}

#else

namespace {

// One embedded face: JUCE's typeface for drawing, FreeType's face for asking which characters it
// has and how large its glyphs are.
struct Face
{
    juce::Typeface::Ptr typeface;
    FT_Face ft = nullptr;
    float emFraction = 1.0f; // units per em over (ascender - descender): JUCE's glyph scale

    bool has(juce::juce_wchar c) const
    {
        return ft != nullptr && FT_Get_Char_Index(ft, FT_ULong(c)) != 0;
    }
};

// Glyph numbers of the fallback face carry this bit (characters end below 0x110000).
constexpr int kFallbackGlyph = 0x200000;

// Draws each character from the primary face when it has it, else from the fallback, with the
// fallback's glyphs scaled to the primary's em size so mixed text lines up.
class FallbackTypeface final : public juce::Typeface
{
public:
    FallbackTypeface(const juce::String& style, const Face& primary, const Face& fallback)
        : juce::Typeface(kInterfaceName, style), primary_(primary), fallback_(fallback),
          scale_(fallback.emFraction > 0.0f ? primary.emFraction / fallback.emFraction : 1.0f)
    {}

    float getAscent() const override { return primary_.typeface->getAscent(); }
    float getDescent() const override { return primary_.typeface->getDescent(); }
    float getHeightToPointsFactor() const override
    {
        return primary_.typeface->getHeightToPointsFactor();
    }

    float getStringWidth(const juce::String& text) override
    {
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        getGlyphPositions(text, glyphs, offsets);
        return offsets.isEmpty() ? 0.0f : offsets.getLast();
    }

    void getGlyphPositions(const juce::String& text, juce::Array<int>& glyphs,
                           juce::Array<float>& xOffsets) override
    {
        xOffsets.add(0.0f);
        float x = 0.0f;
        auto p = text.getCharPointer();
        while (!p.isEmpty()) {
            // One run of characters from the same face, so kerning inside it still applies.
            const bool fromFallback = usesFallback(*p);
            auto runStart = p;
            int count = 0;
            while (!p.isEmpty() && usesFallback(*p) == fromFallback) {
                p.getAndAdvance();
                ++count;
            }
            const juce::String run(runStart, size_t(count));
            juce::Array<int> runGlyphs;
            juce::Array<float> runOffsets;
            const Face& face = fromFallback ? fallback_ : primary_;
            face.typeface->getGlyphPositions(run, runGlyphs, runOffsets);
            const float s = fromFallback ? scale_ : 1.0f;
            for (int i = 0; i < runGlyphs.size(); ++i) {
                glyphs.add(fromFallback ? (runGlyphs[i] | kFallbackGlyph) : runGlyphs[i]);
                xOffsets.add(x + runOffsets[i + 1] * s);
            }
            if (!runOffsets.isEmpty())
                x += runOffsets.getLast() * s;
        }
    }

    bool getOutlineForGlyph(int glyphNumber, juce::Path& path) override
    {
        if ((glyphNumber & kFallbackGlyph) == 0)
            return primary_.typeface->getOutlineForGlyph(glyphNumber, path);
        if (!fallback_.typeface->getOutlineForGlyph(glyphNumber & ~kFallbackGlyph, path))
            return false;
        path.applyTransform(juce::AffineTransform::scale(scale_));
        return true;
    }

private:
    bool usesFallback(juce::juce_wchar c) const
    {
        return c > 0x20 && !primary_.has(c) && fallback_.has(c);
    }

    Face primary_;
    Face fallback_;
    float scale_;
};

struct Registry
{
    FT_Library library = nullptr;
    Face regular, bold, cjk;
    juce::Typeface::Ptr composite[2];
    bool boldIsRegular = false; // no bold face: bold text uses the regular one
    bool tried = false;

    ~Registry() { release(); }

    bool load(Face& face, EmbeddedFont font)
    {
        if (font.data == nullptr || font.size == 0)
            return false;
        if (FT_New_Memory_Face(library, font.data, FT_Long(font.size), 0, &face.ft) != 0) {
            face.ft = nullptr;
            return false;
        }
        const float height = float(face.ft->ascender - face.ft->descender);
        face.emFraction = height > 0.0f ? float(face.ft->units_per_EM) / height : 1.0f;
        face.typeface = juce::Typeface::createSystemTypefaceFor(font.data, font.size);
        return face.typeface != nullptr;
    }

    bool ensure()
    {
        if (tried)
            return composite[0] != nullptr;
        tried = true;
        if (FT_Init_FreeType(&library) != 0) {
            library = nullptr;
            return false;
        }
        if (!load(regular, sansRegular()) || !load(cjk, fonts::cjk()))
            return false;
        if (!load(bold, sansBold())) {
            bold = regular;
            boldIsRegular = true;
        }
        composite[0] = new FallbackTypeface("Regular", regular, cjk);
        composite[1] = new FallbackTypeface("Bold", bold, cjk);
        return true;
    }

    void release()
    {
        composite[0] = composite[1] = nullptr;
        for (Face* f : {&regular, &bold, &cjk}) {
            f->typeface = nullptr;
            if (f->ft != nullptr && !(f == &bold && boldIsRegular))
                FT_Done_Face(f->ft);
            f->ft = nullptr;
        }
        boldIsRegular = false;
        if (library != nullptr)
            FT_Done_FreeType(library);
        library = nullptr;
        tried = false;
    }
};

Registry& registry()
{
    static Registry r;
    return r;
}

} // namespace

bool embedded()
{
    return sansRegular().data != nullptr && fonts::cjk().data != nullptr;
}

juce::Typeface::Ptr interfaceTypeface(bool bold)
{
    Registry& r = registry();
    return r.ensure() ? r.composite[bold ? 1 : 0] : nullptr;
}

bool hasGlyph(juce::juce_wchar c)
{
    Registry& r = registry();
    return r.ensure() && (r.regular.has(c) || r.cjk.has(c));
}

void releaseTypefaces()
{
    registry().release();
}

#endif

} // namespace vesk::fonts
