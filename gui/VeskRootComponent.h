// The editor window's root: carries the editor, routes the global keys (Esc, Space, R), ends
// text entry on a click outside a text field, and watches the display scale every 500 ms.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

class VeskRootComponent : public juce::Component, private juce::Timer
{
public:
    // hostScale: the scale the host gave for this instance, or 0 when it gave none.
    explicit VeskRootComponent(std::function<double()> hostScale = {});
    ~VeskRootComponent() override;

    std::function<bool()> onSpaceKey;
    std::function<bool()> onRandomKey;
    std::function<bool()> onEscapeKey;
    std::function<void()> onScaleChanged;

    // The scale the window system wants now: the host's, else the platform's, else 1.
    double scaleFactor() const;
    // The scale the window currently wears (the last one applied).
    double appliedScale() const { return lastScale_; }
    // [main thread] Takes the current scale: resizes the native window and, when `notify`, tells
    // onScaleChanged that it changed (not when the host itself just set it).
    void refreshScale(bool notify = true);

    void setContent(std::unique_ptr<juce::Component> content);
    juce::Component* content() const { return content_.get(); }

    void resized() override;
    void paint(juce::Graphics&) override;
    bool keyPressed(const juce::KeyPress&) override;
    void mouseDown(const juce::MouseEvent&) override;
    float getDesktopScaleFactor() const override;

private:
    void timerCallback() override;
    double platformScale() const;

    std::function<double()> hostScale_;
    std::unique_ptr<juce::Component> content_;
    double lastScale_ = 1.0;
};
