// The thin red strip at the top of the editor that tells the user about lost state, missing
// sample files and dropped commands.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vesk::gui {
// The banner's text for the snapshot's health figures; empty when all is well.
juce::String healthBannerText(bool stateUnread, int missingFiles, int droppedCommands);
} // namespace vesk::gui

class VeskHealthBanner : public juce::Component
{
public:
    VeskHealthBanner();

    const juce::String& text() const { return text_; }
    // False when the text did not change.
    bool setText(const juce::String& text);

    void paint(juce::Graphics&) override;

private:
    juce::String text_;
};
