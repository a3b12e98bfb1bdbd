#include "VeskFXKnob.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kStartAngle = -0.75f * kPi; // 7:30, clockwise from 12 o'clock
constexpr float kSweep = 1.5f * kPi;
constexpr int kTextHeight = 14;
constexpr uint32_t kModGlow = 0xffd08040, kModLine = 0xfff0a040, kModDot = 0xffffd080;

const char* const kSourceNames[] = {"None", "Pressure", "Slide", "Bend", "Velocity"};

} // namespace

VeskFXKnob::VeskFXKnob(const juce::String& label) : label_(label) {}

void VeskFXKnob::setRange(float minValue, float maxValue, float defaultValue)
{
    min_ = minValue;
    max_ = maxValue;
    default_ = defaultValue;
    value_ = std::clamp(value_, std::min(min_, max_), std::max(min_, max_));
    repaint();
}

void VeskFXKnob::setSuffix(const juce::String& suffix)
{
    suffix_ = suffix;
}

void VeskFXKnob::setShowValue(bool show)
{
    showValue_ = show;
}

void VeskFXKnob::setHideOuterRing(bool hide)
{
    hideOuter_ = hide;
}

void VeskFXKnob::setStepCount(int steps)
{
    steps_ = steps >= 2 ? steps : 0;
    value_ = snap(value_);
}

void VeskFXKnob::setHideStepTicks(bool hide)
{
    hideTicks_ = hide;
}

void VeskFXKnob::setDisplayMapping(float displayMin, float displayMax, vesk::DisplayCurve curve,
                                   int precision, vesk::DisplayFunction custom)
{
    hasMapping_ = true;
    displayMin_ = displayMin;
    displayMax_ = displayMax;
    curve_ = curve;
    precision_ = precision;
    custom_ = custom;
}

void VeskFXKnob::setOuterMode(OuterMode mode)
{
    mode_ = mode;
    repaint();
}

void VeskFXKnob::setDimmed(bool dimmed)
{
    if (dimmed == dimmed_)
        return;
    dimmed_ = dimmed;
    repaint();
}

float VeskFXKnob::snap(float v) const
{
    return steps_ >= 2 ? vesk::snapToSteps(v, min_, max_, steps_) : v;
}

void VeskFXKnob::setValue(float value, float, bool)
{
    if (drag_ != Drag::None || !std::isfinite(value))
        return;
    if (valuePending_) {
        if (value != pendingValue_)
            return;
        valuePending_ = false;
    }
    if (value == value_)
        return;
    value_ = value;
    repaint();
}

void VeskFXKnob::setModBinding(uint8_t source, float depth)
{
    if (drag_ != Drag::None || !std::isfinite(depth))
        return;
    depth = source == 0 ? 0.0f : std::clamp(depth, -1.0f, 1.0f);
    if (bindingPending_) {
        if (source != pendingSource_ || std::fabs(depth - pendingDepth_) > 1e-6f)
            return;
        bindingPending_ = false;
    }
    if (source == source_ && depth == depth_)
        return;
    source_ = source;
    depth_ = depth;
    repaint();
}

void VeskFXKnob::setLiveModValue(float value)
{
    if (mode_ != OuterMode::Modulation || !std::isfinite(value))
        return;
    if (source_ == 0)
        value = 0.0f;
    if (std::fabs(value - live_) <= 0.005f && !(value == 0.0f && live_ != 0.0f))
        return;
    live_ = value;
    repaint();
}

juce::String VeskFXKnob::getValueText() const
{
    const float t = vesk::knobPosition(value_, min_, max_);
    if (steps_ >= 2) {
        if (suffix_.isNotEmpty())
            return juce::String(juce::roundToInt(value_)) + " " + suffix_;
        const int index = max_ > min_ ? juce::roundToInt(t * float(steps_ - 1)) : 0;
        return juce::String(index + 1) + "/" + juce::String(steps_);
    }
    const auto withSuffix = [this](const juce::String& number) {
        return suffix_.isNotEmpty() ? number + " " + suffix_ : number;
    };
    if (hasMapping_) {
        float shown = displayMin_ + t * (displayMax_ - displayMin_);
        switch (curve_) {
        case vesk::DisplayCurve::Square:
            shown = displayMin_ + t * t * (displayMax_ - displayMin_);
            break;
        case vesk::DisplayCurve::Quartic:
            shown = displayMin_ + t * t * t * t * (displayMax_ - displayMin_);
            break;
        case vesk::DisplayCurve::Exponential:
            if (displayMin_ > 0.0f)
                shown = displayMin_ * std::pow(displayMax_ / displayMin_, t);
            break;
        case vesk::DisplayCurve::Bipolar:
            shown = displayMax_ * (2.0f * t - 1.0f);
            break;
        case vesk::DisplayCurve::Custom:
            if (custom_ != nullptr)
                shown = custom_(t);
            break;
        case vesk::DisplayCurve::Linear:
            break;
        }
        juce::String number = precision_ < 1 ? juce::String(juce::roundToInt(shown))
                                             : juce::String(shown, precision_);
        if (curve_ == vesk::DisplayCurve::Bipolar && shown > 0.0f)
            number = "+" + number;
        return withSuffix(number);
    }
    if (suffix_ == "dB" && value_ <= min_ + 0.1f)
        return "-inf dB";
    return withSuffix(juce::String(value_, 1));
}

juce::Rectangle<float> VeskFXKnob::getKnobBounds() const
{
    const int text = std::min(getHeight(), kTextHeight);
    const float side = float(std::min(getWidth(), getHeight() - text));
    return juce::Rectangle<float>(side, side)
        .withCentre({getWidth() * 0.5f, (getHeight() - text) * 0.5f});
}

float VeskFXKnob::angleFor(float v) const
{
    return kStartAngle + kSweep * vesk::knobPosition(v, min_, max_);
}

bool VeskFXKnob::inMiniRing(juce::Point<int> p) const
{
    return p.getDistanceFrom(getMiniRingCentre()) <= 5;
}

void VeskFXKnob::commitValue(float v)
{
    v = snap(std::clamp(v, std::min(min_, max_), std::max(min_, max_)));
    value_ = v;
    pendingValue_ = v;
    valuePending_ = true;
    repaint();
    if (onValueChanged)
        onValueChanged(v, 0.0f, false);
}

void VeskFXKnob::commitBinding(uint8_t source, float depth)
{
    depth = source == 0 ? 0.0f : std::clamp(depth, -1.0f, 1.0f);
    source_ = source;
    depth_ = depth;
    pendingSource_ = source;
    pendingDepth_ = depth;
    bindingPending_ = true;
    repaint();
    if (onModBindingChanged)
        onModBindingChanged(source, depth);
}

void VeskFXKnob::modMenuChosen(int id)
{
    if (id == 99) {
        commitBinding(source_, 0.0f);
    } else if (id >= 1 && id <= 5) {
        const uint8_t source = uint8_t(id - 1);
        commitBinding(source, source == 0 ? 0.0f : depth_);
    }
}

void VeskFXKnob::mouseDown(const juce::MouseEvent& e)
{
    drag_ = Drag::None;
    if (e.mods.isPopupMenu())
        return;
    const bool modulation = mode_ == OuterMode::Modulation;
    if (!hideOuter_ && modulation && source_ != 0 && inMiniRing(e.getPosition())) {
        drag_ = Drag::Depth;
        dragStart_ = depth_;
        return;
    }
    if (!dimmed_ && getKnobBounds().getCentre().getDistanceFrom(e.position) <=
                        0.38f * getKnobBounds().getWidth()) {
        drag_ = Drag::Value;
        dragStart_ = value_;
    }
}

void VeskFXKnob::mouseDrag(const juce::MouseEvent& e)
{
    if (drag_ == Drag::None)
        return;
    float delta = float(e.getMouseDownY() - e.y) * 0.3f;
    if (e.mods.isShiftDown())
        delta *= 0.1f;
    if (drag_ == Drag::Value) {
        const float v = snap(std::clamp(dragStart_ + delta * (max_ - min_) / 100.0f,
                                        std::min(min_, max_), std::max(min_, max_)));
        if (v != value_) {
            value_ = v;
            repaint();
            if (onValueChanged)
                onValueChanged(v, 0.0f, false);
        }
    } else {
        const float d = std::clamp(dragStart_ + delta * 0.01f, -1.0f, 1.0f);
        if (d != depth_) {
            depth_ = d;
            repaint();
            if (onModBindingChanged)
                onModBindingChanged(source_, d);
        }
    }
}

void VeskFXKnob::mouseUp(const juce::MouseEvent& e)
{
    if (drag_ == Drag::Value) {
        pendingValue_ = value_;
        valuePending_ = true;
    } else if (drag_ == Drag::Depth) {
        pendingSource_ = source_;
        pendingDepth_ = depth_;
        bindingPending_ = true;
    }
    const bool dragged = drag_ != Drag::None;
    drag_ = Drag::None;
    if (dragged || !e.mods.isPopupMenu() || !rightClick_ || dimmed_ ||
        mode_ != OuterMode::Modulation)
        return;
    juce::PopupMenu menu;
    menu.addItem(1, "None", true, source_ == 0);
    menu.addSeparator();
    menu.addItem(2, "MPE Pressure", true, source_ == 1);
    menu.addItem(3, "MPE Slide", true, source_ == 2);
    menu.addItem(4, "MPE Bend", true, source_ == 3);
    menu.addItem(5, "Note Velocity", true, source_ == 4);
    menu.addSeparator();
    menu.addItem(99, "Reset depth", source_ != 0, false);
    juce::Component::SafePointer<VeskFXKnob> self(this);
    menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this), [self](int id) {
        if (self != nullptr)
            self->modMenuChosen(id);
    });
}

void VeskFXKnob::mouseDoubleClick(const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu() || dimmed_)
        return;
    if (mode_ == OuterMode::Modulation && source_ != 0 && inMiniRing(e.getPosition())) {
        commitBinding(source_, 0.0f);
        return;
    }
    if (getKnobBounds().getCentre().getDistanceFrom(e.position) <=
        0.38f * getKnobBounds().getWidth())
        commitValue(default_);
}

void VeskFXKnob::paint(juce::Graphics& g)
{
    const float a = dimmed_ ? 0.4f : 1.0f;
    const juce::Colour text = findColour(juce::Label::textColourId);
    const juce::Colour bg = findColour(juce::ResizableWindow::backgroundColourId);
    const juce::Rectangle<float> knob = getKnobBounds();
    const juce::Point<float> c = knob.getCentre();
    const float s = knob.getWidth();

    const int strip = std::min(getHeight(), kTextHeight);
    g.setColour(text.withAlpha(0.8f * a));
    g.setFont(juce::Font(12.0f).withExtraKerningFactor(0.03f));
    g.drawText(showValue_ ? getValueText() : label_, 0, getHeight() - strip, getWidth(), strip,
               juce::Justification::centredTop, true);

    const bool modulation = mode_ == OuterMode::Modulation && !hideOuter_;
    if (modulation && source_ != 0 && depth_ != 0.0f) {
        const float r = 0.4f * s;
        const float span = max_ - min_;
        const float lo = std::min(min_, max_), hi = std::max(min_, max_);
        const float end = std::clamp(value_ + depth_ * span, lo, hi);
        juce::Path arc;
        arc.addCentredArc(c.x, c.y, r, r, 0.0f, angleFor(value_), angleFor(end), true);
        g.setColour(juce::Colour(kModGlow).withAlpha(0.3f * a));
        g.strokePath(arc, juce::PathStrokeType(5.0f, juce::PathStrokeType::curved,
                                               juce::PathStrokeType::rounded));
        g.setColour(juce::Colour(kModLine).withAlpha(a));
        g.strokePath(arc, juce::PathStrokeType(1.5f, juce::PathStrokeType::curved,
                                               juce::PathStrokeType::rounded));
        const float dotAngle = angleFor(std::clamp(value_ + depth_ * span * live_, lo, hi));
        const juce::Point<float> dot = c.getPointOnCircumference(r, dotAngle);
        g.setColour(juce::Colour(kModDot).withAlpha(a));
        g.fillEllipse(juce::Rectangle<float>(3.5f, 3.5f).withCentre(dot));
    }

    const float r = 0.32f * s;
    g.setColour(bg.brighter(0.25f).withAlpha(a));
    g.fillEllipse(juce::Rectangle<float>(2 * r, 2 * r).withCentre(c));
    g.setColour(bg.brighter(0.5f).withAlpha(a));
    g.drawEllipse(juce::Rectangle<float>(2 * r, 2 * r).withCentre(c), 1.0f);

    if (steps_ >= 2 && !hideTicks_) {
        const int current =
            juce::roundToInt(vesk::knobPosition(value_, min_, max_) * float(steps_ - 1));
        for (int i = 0; i < steps_; ++i) {
            const float angle = kStartAngle + kSweep * float(i) / float(steps_ - 1);
            g.setColour(text.withAlpha((i == current ? 0.9f : 0.35f) * a));
            g.drawLine(juce::Line<float>(c.getPointOnCircumference(r + 1.5f, angle),
                                         c.getPointOnCircumference(r + 4.5f, angle)),
                       1.0f);
        }
    }

    g.setColour(text.withAlpha(0.9f * a));
    const float angle = angleFor(value_);
    g.drawLine(juce::Line<float>(c.getPointOnCircumference(0.3f * r, angle),
                                 c.getPointOnCircumference(0.85f * r, angle)),
               2.0f);

    if (modulation && source_ != 0) {
        g.setColour(juce::Colour(kModLine).withAlpha(a));
        g.drawEllipse(3.0f, 3.0f, 6.0f, 6.0f, 1.5f);
    }
    if (modulation && drag_ == Drag::Depth) {
        g.setColour(juce::Colours::white.withAlpha(0.9f));
        g.setFont(10.0f);
        const juce::String tip = juce::String(kSourceNames[source_ < 5 ? source_ : 0]) + " " +
                                 (depth_ >= 0.0f ? "+" : "") +
                                 juce::String(juce::roundToInt(depth_ * 100.0f)) + "%";
        g.drawText(tip, 0, 0, getWidth(), 12, juce::Justification::centredRight, false);
    }
}
