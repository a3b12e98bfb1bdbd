// The editor's one look-and-feel: a dark grey palette, 14-point text, and its own toggle
// buttons, horizontal linear sliders and slider text boxes. Installed once per process as JUCE's
// default (VeskJuceRuntime), so every widget, menu, alert and scroll bar of the editor takes its
// colours and fonts from here; no component sets a look-and-feel of its own.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vesk {

class VeskLookAndFeel : public juce::LookAndFeel_V4
{
public:
    VeskLookAndFeel();

    juce::Font getTextButtonFont(juce::TextButton&, int buttonHeight) override;
    void drawToggleButton(juce::Graphics&, juce::ToggleButton&, bool highlighted,
                          bool down) override;
    juce::Font getAlertWindowTitleFont() override;
    juce::Font getAlertWindowMessageFont() override;
    juce::Font getPopupMenuFont() override;
    void getIdealPopupMenuItemSize(const juce::String& text, bool isSeparator, int standardHeight,
                                   int& idealWidth, int& idealHeight) override;
    juce::Font getComboBoxFont(juce::ComboBox&) override;
    void drawLinearSlider(juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle,
                          juce::Slider&) override;
    juce::Label* createSliderTextBox(juce::Slider&) override;
    juce::Font getSliderPopupFont(juce::Slider&) override;

    // The embedded interface typefaces for every font of the default family.
    juce::Typeface::Ptr getTypefaceForFont(const juce::Font&) override;

    static constexpr float kTextHeight = 14.0f;
};

// The slider's editable value box: a label whose editor carries the editor's text colours.
class SliderTextBoxLabel : public juce::Label
{
public:
    SliderTextBoxLabel() : juce::Label({}, {}) {}

protected:
    juce::TextEditor* createEditorComponent() override;
};

} // namespace vesk
