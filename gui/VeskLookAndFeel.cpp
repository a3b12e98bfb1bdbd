#include "VeskLookAndFeel.h"

#include "VeskFonts.h"

#include <algorithm>
#include <memory>

namespace vesk {

namespace {

juce::Colour c(uint32_t argb)
{
    return juce::Colour(argb);
}

} // namespace

VeskLookAndFeel::VeskLookAndFeel()
{
    setColourScheme({c(0xff2d2d30), c(0xff2d2d2d), c(0xff2d2d2d), c(0xff404040), c(0xffdadada),
                     c(0xff4a4a4a), c(0xffececec), c(0xff5a5a5a), c(0xffececec)});

    const std::pair<int, uint32_t> colours[] = {
        {juce::TextButton::buttonColourId, 0xff323232},
        {juce::TextButton::buttonOnColourId, 0xff4a4a4a},
        {juce::TextButton::textColourOffId, 0xffe4e4e4},
        {juce::TextButton::textColourOnId, 0xffffffff},
        {juce::TextEditor::backgroundColourId, 0xff3a3a3d},
        {juce::TextEditor::outlineColourId, 0xff3d3d3d},
        {juce::TextEditor::focusedOutlineColourId, 0xff5a5a5a},
        {juce::TextEditor::highlightColourId, 0xff264f78},
        {juce::TextEditor::highlightedTextColourId, 0xffffffff},
        {juce::CaretComponent::caretColourId, 0xff70c0ff},
        {juce::Label::textWhenEditingColourId, 0xffe4e4e4},
        {juce::Label::backgroundWhenEditingColourId, 0xff1a1a1a},
        {juce::Label::outlineWhenEditingColourId, 0xff3d3d3d},
        {juce::ComboBox::backgroundColourId, 0xff3a3a3d},
        {juce::ComboBox::outlineColourId, 0xff3d3d3d},
        {juce::ComboBox::arrowColourId, 0xffb0b0b0},
        {juce::PopupMenu::backgroundColourId, 0xff2d2d2d},
        {juce::PopupMenu::highlightedBackgroundColourId, 0xff3d3d3d},
        {juce::PopupMenu::textColourId, 0xffe4e4e4},
        {juce::PopupMenu::highlightedTextColourId, 0xffffffff},
        {juce::ScrollBar::thumbColourId, 0xff5a5a5a},
        {juce::ScrollBar::trackColourId, 0xff202020},
        {juce::ListBox::backgroundColourId, 0xff202020},
        {juce::ListBox::outlineColourId, 0xff2d2d2d},
        {juce::Slider::trackColourId, 0xff3d3d3d},
        {juce::Slider::thumbColourId, 0xffb0b0b0},
        {juce::Slider::backgroundColourId, 0xff2d2d2d},
        {juce::ToggleButton::tickColourId, 0xff70c0ff},
        {juce::ToggleButton::tickDisabledColourId, 0xff5a5a5a},
        {juce::ToggleButton::textColourId, 0xffe4e4e4},
        {juce::Label::textColourId, 0xffe4e4e4},
    };
    for (const auto& [id, argb] : colours)
        setColour(id, c(argb));
}

juce::Typeface::Ptr VeskLookAndFeel::getTypefaceForFont(const juce::Font& font)
{
    const juce::String name = font.getTypefaceName();
    if (fonts::embedded() &&
        (name == juce::Font::getDefaultSansSerifFontName() || name == fonts::kInterfaceName)) {
        if (auto face = fonts::interfaceTypeface(font.isBold()))
            return face;
    }
    return juce::LookAndFeel_V4::getTypefaceForFont(font);
}

juce::Font VeskLookAndFeel::getTextButtonFont(juce::TextButton&, int)
{
    return juce::Font(kTextHeight);
}

void VeskLookAndFeel::drawToggleButton(juce::Graphics& g, juce::ToggleButton& button,
                                       bool highlighted, bool down)
{
    constexpr float tick = 15.4f;
    drawTickBox(g, button, 4.0f, (float(button.getHeight()) - tick) * 0.5f, tick, tick,
                button.getToggleState(), button.isEnabled(), highlighted, down);

    g.setColour(button.findColour(juce::ToggleButton::textColourId));
    g.setFont(kTextHeight);
    if (!button.isEnabled())
        g.setOpacity(0.5f);
    const auto area = button.getLocalBounds().withTrimmedLeft(25).withTrimmedRight(2);
    if (area.getWidth() > 0)
        g.drawFittedText(button.getButtonText(), area, juce::Justification::centredLeft, 10, 1.0f);
}

juce::Font VeskLookAndFeel::getAlertWindowTitleFont()
{
    return juce::Font(16.0f, juce::Font::plain);
}

juce::Font VeskLookAndFeel::getAlertWindowMessageFont()
{
    return juce::Font(kTextHeight);
}

juce::Font VeskLookAndFeel::getPopupMenuFont()
{
    return juce::Font(kTextHeight).withExtraKerningFactor(0.02f);
}

void VeskLookAndFeel::getIdealPopupMenuItemSize(const juce::String& text, bool isSeparator,
                                                int standardHeight, int& idealWidth,
                                                int& idealHeight)
{
    juce::LookAndFeel_V4::getIdealPopupMenuItemSize(text, isSeparator, standardHeight, idealWidth,
                                                    idealHeight);
    if (!isSeparator)
        idealHeight += 2;
}

juce::Font VeskLookAndFeel::getComboBoxFont(juce::ComboBox&)
{
    return juce::Font(kTextHeight).withExtraKerningFactor(0.02f);
}

void VeskLookAndFeel::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                       float sliderPos, float minSliderPos, float maxSliderPos,
                                       juce::Slider::SliderStyle style, juce::Slider& slider)
{
    using Style = juce::Slider::SliderStyle;
    if (style != Style::LinearHorizontal && style != Style::TwoValueHorizontal &&
        style != Style::ThreeValueHorizontal) {
        juce::LookAndFeel_V4::drawLinearSlider(g, x, y, width, height, sliderPos, minSliderPos,
                                               maxSliderPos, style, slider);
        return;
    }
    constexpr float groove = 8.0f;
    const float grooveY = float(y) + (float(height) - groove) * 0.5f;
    g.setColour(slider.findColour(juce::Slider::backgroundColourId));
    g.fillRoundedRectangle(float(x), grooveY, float(width), groove, 4.0f);

    g.setColour(slider.findColour(juce::Slider::trackColourId).withAlpha(0.4f));
    if (style == Style::LinearHorizontal) {
        if (sliderPos - float(x) > 0.0f)
            g.fillRoundedRectangle(float(x), grooveY, sliderPos - float(x), groove, 4.0f);
    } else if (maxSliderPos > minSliderPos) {
        g.fillRoundedRectangle(minSliderPos, grooveY, maxSliderPos - minSliderPos, groove, 4.0f);
    }

    g.setColour(slider.findColour(juce::Slider::thumbColourId));
    const float thumbTop = float(y) + (float(height) - 16.0f) * 0.5f;
    const auto thumb = [&](float pos) {
        g.fillRoundedRectangle(pos - 3.0f, thumbTop, 6.0f, 16.0f, 3.0f);
    };
    if (style == Style::LinearHorizontal) {
        thumb(sliderPos);
    } else {
        thumb(minSliderPos);
        thumb(maxSliderPos);
        if (style == Style::ThreeValueHorizontal)
            thumb(sliderPos);
    }
}

juce::Label* VeskLookAndFeel::createSliderTextBox(juce::Slider& slider)
{
    std::unique_ptr<juce::Label> base(juce::LookAndFeel_V4::createSliderTextBox(slider));
    auto* label = new SliderTextBoxLabel();
    label->setJustificationType(base->getJustificationType());
    for (int id :
         {juce::Label::textColourId, juce::Label::backgroundColourId, juce::Label::outlineColourId})
        label->setColour(id, base->findColour(id));
    label->setFont(juce::Font(kTextHeight));
    label->setEditable(true, true, false);
    return label;
}

juce::Font VeskLookAndFeel::getSliderPopupFont(juce::Slider&)
{
    return juce::Font(kTextHeight);
}

juce::TextEditor* SliderTextBoxLabel::createEditorComponent()
{
    juce::TextEditor* editor = juce::Label::createEditorComponent();
    editor->setColour(juce::TextEditor::highlightColourId, juce::Colour(0xff264f78));
    editor->setColour(juce::TextEditor::highlightedTextColourId, juce::Colours::white);
    editor->setColour(juce::TextEditor::backgroundColourId, juce::Colour(0xff323232));
    editor->setColour(juce::TextEditor::outlineColourId, juce::Colour(0xff3d3d3d));
    editor->setColour(juce::TextEditor::focusedOutlineColourId, juce::Colour(0xff5a5a5a));
    return editor;
}

} // namespace vesk
