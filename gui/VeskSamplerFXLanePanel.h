// One FX bus as a column: a header with power (the title), solo, mute and, on FX Bus 1, the
// routing box, above the scrolled column of the bus's cards. The header only reports; the flags
// change when the snapshot brings them.
#pragma once

#include "VeskFXCardContainer.h"

#include "fx/FXLane.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

struct VeskBackend;

class VeskSamplerFXLanePanel : public juce::Component, public juce::SettableTooltipClient
{
public:
    explicit VeskSamplerFXLanePanel(int lane);

    std::function<void(bool)> onBypassToggle;
    std::function<void(bool)> onMuteToggle;
    std::function<void(bool)> onSoloToggle;
    std::function<void(bool)> onRouteToggle;

    int lane() const { return lane_; }
    void setBackend(VeskBackend* backend) { container_.setBackend(backend); }
    // [main thread] Every tick.
    void updateFromState(const vesk::FXLaneState& state, bool bus1ToMaster, const float* modulation,
                         int modulationCount);

    VeskSamplerFXCardContainer& container() { return container_; }
    juce::Viewport& viewport() { return viewport_; }
    bool bypassed() const { return bypassed_; }

    juce::Rectangle<int> muteBox() const { return {getWidth() - 26, 4, 20, 20}; }
    juce::Rectangle<int> soloBox() const { return {getWidth() - 49, 4, 20, 20}; }
    // Empty on FX Bus 2.
    juce::Rectangle<int> routeBox() const;
    juce::Rectangle<int> titleArea() const;

    void paint(juce::Graphics&) override;
    void resized() override;
    void mouseDown(const juce::MouseEvent&) override;

private:
    const int lane_;
    bool bypassed_ = false, muted_ = false, soloed_ = false, route_ = false;
    juce::Viewport viewport_;
    VeskSamplerFXCardContainer container_;
};
