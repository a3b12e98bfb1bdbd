// The look-and-feel and the editor's frame rendered offscreen: colours, the banner, glyphs.
#include "GuiTestSupport.h"

#include "gui/VeskFonts.h"
#include "gui/VeskHealthBanner.h"
#include "gui/VeskLookAndFeel.h"
#include "gui/VeskSamplerEditor.h"

#include <gtest/gtest.h>

namespace {

using vesk::test::render;
using vesk::test::saveImage;

bool sameImage(const juce::Image& a, const juce::Image& b)
{
    if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight())
        return false;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt(x, y) != b.getPixelAt(x, y))
                return false;
    return true;
}

juce::Image renderText(const juce::String& text, int width, int height, float fontHeight)
{
    juce::Image image(juce::Image::ARGB, width, height, true);
    juce::Graphics g(image);
    g.fillAll(juce::Colours::black);
    g.setColour(juce::Colours::white);
    g.setFont(juce::Font(fontHeight));
    g.drawSingleLineText(text, 2, int(height * 0.75f));
    return image;
}

TEST(EditorFonts, EveryCharacterOfTheBannersIsAGlyphNotABox)
{
    ASSERT_TRUE(vesk::fonts::embedded());
    const juce::String text = vesk::gui::healthBannerText(true, 12, 34);
    // A code point neither face has: what a missing glyph looks like.
    const juce::Image box =
        renderText(juce::String::charToString(juce::juce_wchar(0x10FFFD)), 24, 24, 16.0f);
    int checked = 0;
    for (auto p = text.getCharPointer(); !p.isEmpty();) {
        const juce::juce_wchar c = p.getAndAdvance();
        if (c <= 0x20)
            continue;
        EXPECT_TRUE(vesk::fonts::hasGlyph(c)) << "U+" << std::hex << int(c);
        const juce::Image cell = renderText(juce::String::charToString(c), 24, 24, 16.0f);
        EXPECT_FALSE(sameImage(cell, box)) << "U+" << std::hex << int(c) << " drawn as a box";
        ++checked;
    }
    EXPECT_GT(checked, 100);
    EXPECT_FALSE(vesk::fonts::hasGlyph(0x10FFFD));
}

TEST(EditorFonts, MixedScriptsLineUpOnOneBaseline)
{
    // Latin from the interface face, CJK from the fallback at the same em size: a CJK
    // character is about one em wide, a Latin "n" about half of that.
    const juce::Font font(20.0f);
    const float cjk = font.getStringWidthFloat(juce::String::fromUTF8("雨"));
    const float latin = font.getStringWidthFloat("n");
    EXPECT_GT(cjk, 14.0f);
    EXPECT_LT(cjk, 24.0f);
    EXPECT_GT(cjk, 1.5f * latin);
    const float mixed = font.getStringWidthFloat(juce::String::fromUTF8("n雨n"));
    EXPECT_NEAR(mixed, cjk + 2 * latin, 0.5f);
    saveImage(renderText(juce::String::fromUTF8("Kick 雨 Дождь ✓ ▶ ↻ ■ ⚄ ☰"), 320, 32, 20.0f),
              "mixed-scripts");
}

TEST(EditorLookAndFeel, AToggleNarrowerThan27DrawsNoText)
{
    juce::ToggleButton withText("Auto Split"), withoutText("");
    for (auto* b : {&withText, &withoutText})
        b->setBounds(0, 0, 26, 24);
    EXPECT_TRUE(sameImage(render(withText), render(withoutText)));
    withText.setSize(100, 24);
    withoutText.setSize(100, 24);
    EXPECT_FALSE(sameImage(render(withText), render(withoutText)));
}

TEST(EditorLookAndFeel, ATwoValueSliderWithCoincidingThumbsHasNoFilledSpan)
{
    const auto slider = [](juce::Colour track, double lo, double hi) {
        auto s = std::make_unique<juce::Slider>(juce::Slider::TwoValueHorizontal,
                                                juce::Slider::NoTextBox);
        s->setRange(0.0, 1.0);
        s->setMinAndMaxValues(lo, hi, juce::dontSendNotification);
        s->setColour(juce::Slider::trackColourId, track);
        s->setBounds(0, 0, 120, 20);
        return s;
    };
    // The track colour shows only in a filled span.
    auto plain = slider(juce::Colour(0xff3d3d3d), 0.5, 0.5);
    auto red = slider(juce::Colours::red, 0.5, 0.5);
    EXPECT_TRUE(sameImage(render(*plain), render(*red)));
    auto spanPlain = slider(juce::Colour(0xff3d3d3d), 0.2, 0.8);
    auto spanRed = slider(juce::Colours::red, 0.2, 0.8);
    EXPECT_FALSE(sameImage(render(*spanPlain), render(*spanRed)));
}

TEST(EditorLookAndFeel, MenuRowsAreTwoTallerSeparatorsAreNot)
{
    vesk::VeskLookAndFeel vesk;
    juce::LookAndFeel_V4 base;
    for (bool separator : {false, true}) {
        int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
        vesk.getIdealPopupMenuItemSize("Sweep Up", separator, 24, w1, h1);
        base.getIdealPopupMenuItemSize("Sweep Up", separator, 24, w2, h2);
        EXPECT_EQ(h1, separator ? h2 : h2 + 2);
    }
    EXPECT_EQ(vesk.findColour(juce::ResizableWindow::backgroundColourId).getARGB(), 0xff2d2d30u);
    EXPECT_EQ(vesk.findColour(juce::Label::textColourId).getARGB(), 0xffe4e4e4u);
    EXPECT_EQ(vesk.findColour(juce::PopupMenu::highlightedBackgroundColourId).getARGB(),
              0xff3d3d3du);
}

TEST(EditorFrame, BannerAndPanelsAtTheirPlaces)
{
    vesk::test::EditorInstance instance;
    VeskSamplerEditor editor(instance.backend());
    editor.setSize(1200, 800);
    editor.tick();
    const juce::Image calm = render(editor);
    saveImage(calm, "editor-frame");
    // Window background between the panels, the face of the top bar's first button (16..44).
    EXPECT_EQ(calm.getPixelAt(2, 2).getARGB(), 0xff2d2d30u);
    EXPECT_NE(calm.getPixelAt(20, 12).getARGB(), 0xff2d2d30u);
    EXPECT_EQ(calm.getPixelAt(66, 300).getARGB(), 0xff2d2d30u); // gap between nav and pools

    instance.published().missingFiles = 2;
    instance.published().stateUnread = true;
    editor.tick();
    const juce::Image alarmed = render(editor);
    saveImage(alarmed, "editor-banner");
    EXPECT_EQ(alarmed.getPixelAt(0, 0).getARGB(), 0xffb23a1eu);
    EXPECT_EQ(alarmed.getPixelAt(1199, 23).getARGB(), 0xffb23a1eu);
    EXPECT_NE(alarmed.getPixelAt(20, 36).getARGB(), 0xff2d2d30u); // the top bar moved down
    EXPECT_EQ(alarmed.getPixelAt(20, 30).getARGB(), 0xff2d2d30u);
    // White text on the banner.
    int white = 0;
    for (int x = 10; x < 600; ++x)
        for (int y = 4; y < 20; ++y)
            white += alarmed.getPixelAt(x, y).getBrightness() > 0.9f;
    EXPECT_GT(white, 200);
}

} // namespace
