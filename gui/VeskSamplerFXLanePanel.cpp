#include "VeskSamplerFXLanePanel.h"

#include "VeskGuiLayout.h"

#include <algorithm>

namespace {

namespace ll = vesk::gui::layout::fxlane;

juce::Colour rgb(int r, int g, int b)
{
    return juce::Colour(uint8_t(r), uint8_t(g), uint8_t(b));
}

void paintBox(juce::Graphics& g, juce::Rectangle<int> box, bool on, juce::Colour onFill,
              juce::Colour onText, const juce::String& text, float fontSize, bool bold)
{
    g.setColour(on ? onFill : rgb(50, 52, 55));
    g.fillRoundedRectangle(box.toFloat(), 3.0f);
    g.setColour(on ? onText : rgb(120, 120, 125));
    g.setFont(juce::Font(fontSize, bold ? juce::Font::bold : juce::Font::plain));
    g.drawText(text, box, juce::Justification::centred, false);
}

} // namespace

VeskSamplerFXLanePanel::VeskSamplerFXLanePanel(int lane) : lane_(lane), container_(lane)
{
    viewport_.setScrollBarsShown(true, false);
    viewport_.setScrollBarThickness(vesk::gui::layout::kScrollBarThickness);
    viewport_.setViewedComponent(&container_, false);
    addAndMakeVisible(viewport_);
    setTooltip("FX Bus " + juce::String(lane + 1) + ": click the title to bypass; S solo, M mute" +
               (lane == 0 ? ", the arrow box routes to the master or to FX Bus 2" : ""));
}

juce::Rectangle<int> VeskSamplerFXLanePanel::routeBox() const
{
    return lane_ == 0 ? juce::Rectangle<int>(getWidth() - 80, 4, 28, 20) : juce::Rectangle<int>();
}

juce::Rectangle<int> VeskSamplerFXLanePanel::titleArea() const
{
    const int left = lane_ == 0 ? routeBox().getX() : soloBox().getX();
    return {0, 0, std::max(0, left - 3), ll::kHeaderHeight};
}

void VeskSamplerFXLanePanel::updateFromState(const vesk::FXLaneState& state, bool bus1ToMaster,
                                             const float* modulation, int modulationCount)
{
    const bool bypassed = state.bypassed != 0, muted = state.muted != 0, soloed = state.soloed != 0;
    const bool route = lane_ == 0 ? bus1ToMaster : route_;
    const bool changed =
        bypassed != bypassed_ || muted != muted_ || soloed != soloed_ || route != route_;
    bypassed_ = bypassed;
    muted_ = muted;
    soloed_ = soloed;
    route_ = route;
    const int before = container_.rebuildCount();
    container_.updateFromState(state, modulation, modulationCount);
    if (container_.rebuildCount() != before)
        resized();
    if (changed)
        repaint();
}

void VeskSamplerFXLanePanel::resized()
{
    viewport_.setBounds(0, ll::kViewportTop, getWidth(),
                        std::max(0, getHeight() - ll::kViewportTop));
    const int w = std::max(0, viewport_.getWidth() - viewport_.getScrollBarThickness());
    container_.setSize(w, std::max(viewport_.getHeight(), container_.preferredHeight()));
}

void VeskSamplerFXLanePanel::paint(juce::Graphics& g)
{
    const juce::Rectangle<float> body = getLocalBounds().toFloat().reduced(0.5f);
    g.setColour(bypassed_ ? rgb(32, 32, 35) : rgb(40, 42, 45));
    g.fillRoundedRectangle(body, 6.0f);
    g.setColour(bypassed_ ? rgb(55, 55, 60) : rgb(70, 72, 75));
    g.drawRoundedRectangle(body, 6.0f, 1.0f);

    const juce::Rectangle<float> light(8.0f, 9.0f, 10.0f, 10.0f);
    if (bypassed_) {
        g.setColour(rgb(80, 80, 85));
        g.drawEllipse(light, 1.5f);
    } else {
        g.setColour(rgb(100, 160, 255));
        g.fillEllipse(light);
    }
    g.setColour(bypassed_ ? rgb(100, 100, 105) : rgb(200, 200, 205));
    g.setFont(juce::Font(13.0f));
    g.drawText("FX Bus " + juce::String(lane_ + 1), 24, 0, 100, ll::kHeaderHeight,
               juce::Justification::centredLeft, true);

    const juce::Colour dark = rgb(30, 30, 30);
    paintBox(g, soloBox(), soloed_, rgb(180, 160, 50), dark, "S", 11.0f, true);
    paintBox(g, muteBox(), muted_, rgb(180, 60, 60), dark, "M", 11.0f, true);
    if (lane_ == 0)
        paintBox(g, routeBox(), true, route_ ? rgb(70, 130, 90) : rgb(50, 52, 55),
                 route_ ? rgb(200, 230, 210) : rgb(120, 120, 125),
                 juce::String::fromUTF8(route_ ? "\xe2\x86\x92 M" : "\xe2\x86\x92 2"), 10.0f,
                 false);
}

void VeskSamplerFXLanePanel::mouseDown(const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        return;
    const juce::Point<int> p = e.getPosition();
    if (muteBox().contains(p)) {
        if (onMuteToggle)
            onMuteToggle(!muted_);
    } else if (soloBox().contains(p)) {
        if (onSoloToggle)
            onSoloToggle(!soloed_);
    } else if (lane_ == 0 && routeBox().contains(p)) {
        if (onRouteToggle)
            onRouteToggle(!route_);
    } else if (titleArea().contains(p)) {
        if (onBypassToggle)
            onBypassToggle(!bypassed_);
    }
}
