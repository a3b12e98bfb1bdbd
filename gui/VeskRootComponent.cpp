#include "VeskRootComponent.h"

#include "VeskGuiLayout.h"
#include "VeskGuiLog.h"
#include "VeskJuceRuntime.h"
#include "VeskKeyRouting.h"

#include <cmath>

VeskRootComponent::VeskRootComponent(std::function<double()> hostScale)
    : hostScale_(std::move(hostScale))
{
    setOpaque(true);
    setWantsKeyboardFocus(true);
    lastScale_ = scaleFactor();
    startTimer(vesk::gui::layout::kScaleWatchMs);
}

VeskRootComponent::~VeskRootComponent()
{
    stopTimer();
    if (content_ != nullptr)
        content_->removeMouseListener(this);
}

double VeskRootComponent::platformScale() const
{
#if defined(__APPLE__)
    if (auto* peer = getPeer())
        if (peer->getPlatformScaleFactor() > 0.0)
            return peer->getPlatformScaleFactor();
#endif
    return vesk::guiPrimaryDisplayScale();
}

double VeskRootComponent::scaleFactor() const
{
    const double host = hostScale_ ? hostScale_() : 0.0;
    if (host > 0.0)
        return host;
    const double platform = platformScale();
    return platform > 0.0 ? platform : 1.0;
}

float VeskRootComponent::getDesktopScaleFactor() const
{
#if defined(__APPLE__)
    return juce::Component::getDesktopScaleFactor();
#else
    // JUCE scales the native window by this times its own display scale (1 inside a plug-in).
    const double native = getPeer() != nullptr ? getPeer()->getPlatformScaleFactor() : 1.0;
    return float(lastScale_ / (native > 0.0 ? native : 1.0));
#endif
}

void VeskRootComponent::refreshScale(bool notify)
{
    const double s = scaleFactor();
    if (std::abs(s - lastScale_) < 0.001)
        return;
    lastScale_ = s;
#if !defined(__APPLE__)
    // The native window takes its size from the scale: apply it to the peer again.
    if (auto* peer = getPeer()) {
        const float k = getDesktopScaleFactor();
        peer->setBounds(
            getBounds().toFloat().transformedBy(juce::AffineTransform::scale(k)).toNearestInt(),
            false);
        repaint();
    }
#endif
    if (notify && onScaleChanged)
        onScaleChanged();
}

void VeskRootComponent::timerCallback()
{
    refreshScale();
}

void VeskRootComponent::setContent(std::unique_ptr<juce::Component> content)
{
    if (content_ != nullptr) {
        content_->removeMouseListener(this);
        removeChildComponent(content_.get());
        content_.reset();
    }
    content_ = std::move(content);
    if (content_ != nullptr) {
        content_->addMouseListener(this, true);
        addAndMakeVisible(*content_);
        content_->setBounds(getLocalBounds());
    }
}

void VeskRootComponent::resized()
{
    if (content_ != nullptr)
        content_->setBounds(getLocalBounds());
}

void VeskRootComponent::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(vesk::gui::colours::kRootBackground));
}

bool VeskRootComponent::keyPressed(const juce::KeyPress& key)
{
    using vesk::gui::RootKey;
    const bool inText =
        vesk::gui::isInsideTextEditor(juce::Component::getCurrentlyFocusedComponent());
    const std::function<bool()>* handler = nullptr;
    switch (vesk::gui::routeRootKey(key, inText)) {
    case RootKey::Escape:
        handler = &onEscapeKey;
        break;
    case RootKey::Space:
        handler = &onSpaceKey;
        break;
    case RootKey::Random:
        handler = &onRandomKey;
        break;
    case RootKey::None:
        break;
    }
    if (handler != nullptr && *handler && (*handler)())
        return true;
    return juce::Component::keyPressed(key);
}

void VeskRootComponent::mouseDown(const juce::MouseEvent& e)
{
    const auto at = e.getEventRelativeTo(this).getPosition();
    vesk::guiLog("root: mouse down at %d,%d", at.x, at.y);
    if (vesk::gui::isInsideTextEditor(e.originalComponent))
        return;
    // A click outside a text field ends text entry.
    if (vesk::gui::isInsideTextEditor(juce::Component::getCurrentlyFocusedComponent()))
        juce::Component::unfocusAllComponents();
}
