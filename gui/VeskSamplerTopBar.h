// The strip across the top of the editor: transport, voice mode, exports, the bulk range tools,
// auto split and the FX-chain presets.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

struct VeskBackend;

class VeskSamplerTopBar : public juce::Component
{
public:
    VeskSamplerTopBar();

    std::function<void()> onRandom;
    std::function<void()> onReplay;
    std::function<void()> onStop;
    // "Export Set…": a right click on the export buttons; the argument is the bar itself (the
    // panel opens below its export area).
    std::function<void(juce::Component&)> onExportSet;
    void mouseDown(const juce::MouseEvent&) override;

    void setBackend(VeskBackend* backend) { backend_ = backend; }
    void setRetriggerMode(bool single);
    void setVoiceModeEnabled(bool enabled);
    void setAutoSplit(bool on);

    void paint(juce::Graphics&) override;

private:
    VeskBackend* backend_ = nullptr;
    bool single_ = true;
    bool voiceModeEnabled_ = true;
    bool autoSplit_ = false;
};
