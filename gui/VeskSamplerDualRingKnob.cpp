#include "VeskSamplerDualRingKnob.h"

#include <algorithm>
#include <cmath>

namespace vesk::gui::knob {

namespace {
constexpr float kPi = 3.14159265358979f;
constexpr float kStartAngle = -0.75f * kPi;
constexpr float kTravel = 1.5f * kPi;

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}
} // namespace

float position(float v, float min, float max)
{
    return vesk::knobPosition(v, min, max);
}

float angleForValue(float v, float min, float max)
{
    return kStartAngle + position(v, min, max) * kTravel;
}

float valueForAngle(float angle, float min, float max)
{
    if (!std::isfinite(angle) || !(max > min))
        return min;
    const float t = clampf((angle - kStartAngle) / kTravel, 0.0f, 1.0f);
    return min + t * (max - min);
}

float snap(float v, float min, float max, int steps)
{
    if (!std::isfinite(v))
        v = min;
    if (max > min)
        v = clampf(v, min, max);
    return vesk::snapToSteps(v, min, max, steps);
}

int stepIndex(float v, float min, float max, int steps)
{
    if (steps < 2 || !(max > min))
        return 0;
    const float k = std::round(position(v, min, max) * float(steps - 1));
    return int(clampf(k, 0.0f, float(steps - 1)));
}

float dragDelta(float pressY, float currentY, bool fine)
{
    return (pressY - currentY) * 0.3f * (fine ? 0.1f : 1.0f);
}

float dragValue(float start, float delta, float min, float max, int steps)
{
    const float span = max > min ? max - min : 0.0f;
    return snap(start + delta * span / 100.0f, min, max, steps);
}

float dragRange(float start, float delta)
{
    return clampf(start + delta, 0.0f, 100.0f);
}

float dragDepth(float start, float delta)
{
    return clampf(start + delta * 0.01f, -1.0f, 1.0f);
}

juce::String withSuffix(const juce::String& number, const juce::String& suffix)
{
    return suffix.isEmpty() ? number : number + " " + suffix;
}

namespace {
// A number with decimals, never "-0".
juce::String number(float v, int decimals)
{
    if (!std::isfinite(v))
        v = 0.0f;
    if (decimals <= 0)
        v = std::round(v);
    if (v == 0.0f)
        v = 0.0f;
    return decimals <= 0 ? juce::String(int(v)) : juce::String(v, decimals);
}

// The FX registry computes a knob's display value; a knob with its own mapping goes through the
// same code as a one-knob record, so FX cards and pool knobs can never disagree.
float mappedValue(const TextConfig& c, float v)
{
    const float minV = c.min, maxV = c.max;
    const float dmin = c.mapping.displayMin, dmax = c.mapping.displayMax;
    const vesk::DisplayCurve curve = c.mapping.curve;
    const vesk::DisplayFunction custom = c.mapping.custom;
    vesk::FXModuleInfo info{};
    info.paramCount = 1;
    info.paramMin = &minV;
    info.paramMax = &maxV;
    info.paramDisplayMin = &dmin;
    info.paramDisplayMax = &dmax;
    info.paramDisplayCurve = &curve;
    info.paramDisplayCustom = &custom;
    return vesk::displayValue(info, 0, v);
}
} // namespace

juce::String valueText(const TextConfig& c, float v)
{
    if (c.steps >= 2) {
        if (c.suffix.isNotEmpty())
            return withSuffix(number(v, 0), c.suffix);
        const int index = c.max > c.min ? stepIndex(v, c.min, c.max, c.steps) + 1 : 1;
        return juce::String(index) + "/" + juce::String(c.steps);
    }
    if (c.mapping.present) {
        const float shown = mappedValue(c, v);
        const int decimals = c.mapping.precision < 1 ? 0 : std::min(c.mapping.precision, 6);
        juce::String text = number(shown, decimals);
        if (c.mapping.curve == vesk::DisplayCurve::Bipolar && text.getFloatValue() > 0.0f)
            text = "+" + text;
        return withSuffix(text, c.suffix);
    }
    if (c.suffix == "dB" && v <= c.min + 0.1f)
        return "-inf dB";
    return withSuffix(number(v, 1), c.suffix);
}

juce::String sourceName(vesk::ModSource source)
{
    switch (source) {
    case vesk::ModSource::None:
        return "None";
    case vesk::ModSource::Pressure:
        return "Pressure";
    case vesk::ModSource::Slide:
        return "Slide";
    case vesk::ModSource::Bend:
        return "Bend";
    case vesk::ModSource::Velocity:
        return "Velocity";
    }
    return "None";
}

} // namespace vesk::gui::knob

namespace {

namespace knob = vesk::gui::knob;
using vesk::gui::nearlyEqual;
using vesk::gui::pendingClockMs;
using vesk::gui::spanTolerance;

constexpr int kTextStrip = 14;
constexpr float kMiniRingRadius = 5.0f;

juce::Point<float> onCircle(juce::Point<float> c, float r, float angle)
{
    return {c.x + r * std::sin(angle), c.y - r * std::cos(angle)};
}

void strokeArc(juce::Graphics& g, juce::Point<float> c, float r, float a1, float a2,
               juce::Colour glow, juce::Colour line, float alpha)
{
    if (a1 > a2)
        std::swap(a1, a2);
    juce::Path arc;
    arc.addCentredArc(c.x, c.y, r, r, 0.0f, a1, a2, true);
    g.setColour(glow.withMultipliedAlpha(0.3f * alpha));
    g.strokePath(arc, juce::PathStrokeType(5.0f, juce::PathStrokeType::curved,
                                           juce::PathStrokeType::rounded));
    g.setColour(line.withMultipliedAlpha(alpha));
    g.strokePath(arc, juce::PathStrokeType(1.5f, juce::PathStrokeType::curved,
                                           juce::PathStrokeType::rounded));
}

} // namespace

// The value tooltip: a bubble beside the knob that fades out on its own.
class VeskSamplerDualRingKnob::Bubble : public juce::BubbleComponent, private juce::Timer
{
public:
    Bubble()
    {
        setAlwaysOnTop(true);
        setInterceptsMouseClicks(false, false);
    }

    void show(juce::Component& target, const juce::String& text, int milliseconds)
    {
        if (text != text_) {
            text_ = text;
            repaint();
        }
        expiry_ = juce::Time::getMillisecondCounter() + juce::uint32(milliseconds);
        juce::Desktop::getInstance().getAnimator().cancelAnimation(this, false);
        setAlpha(1.0f);
        setPosition(&target);
        setVisible(true);
        startTimer(100);
    }
    void hide()
    {
        stopTimer();
        setVisible(false);
    }

    void getContentSize(int& w, int& h) override
    {
        w = int(std::ceil(font().getStringWidthFloat(text_))) + 8;
        h = int(std::ceil(font().getHeight())) + 4;
    }
    void paintContent(juce::Graphics& g, int w, int h) override
    {
        g.setColour(juce::Colours::white);
        g.setFont(font());
        g.drawText(text_, 0, 0, w, h, juce::Justification::centred, false);
    }

private:
    static juce::Font font() { return juce::Font(12.0f); }
    void timerCallback() override
    {
        if (juce::Time::getMillisecondCounter() < expiry_)
            return;
        stopTimer();
        juce::Desktop::getInstance().getAnimator().fadeOut(this, 150);
    }

    juce::String text_;
    juce::uint32 expiry_ = 0;
};

VeskSamplerDualRingKnob::VeskSamplerDualRingKnob(const juce::String& label)
    : label_(label), bubble_(std::make_unique<Bubble>())
{}

VeskSamplerDualRingKnob::~VeskSamplerDualRingKnob() = default;

// ---------------------------------------------------------------------------------------------
// Set-up

void VeskSamplerDualRingKnob::setRange(float min, float max, float defaultValue)
{
    min_ = min;
    max_ = max;
    default_ = defaultValue;
    repaint();
}

void VeskSamplerDualRingKnob::setSuffix(const juce::String& suffix)
{
    suffix_ = suffix;
    repaint();
}

void VeskSamplerDualRingKnob::setDisplayMapping(float displayMin, float displayMax,
                                                vesk::DisplayCurve curve, int precision,
                                                vesk::DisplayFunction custom)
{
    mapping_ = {true, displayMin, displayMax, curve, precision, custom};
    repaint();
}

void VeskSamplerDualRingKnob::setRandomRange(float span)
{
    randomSpan_ = span;
}

void VeskSamplerDualRingKnob::setStepCount(int steps)
{
    steps = steps < 2 ? 0 : steps;
    if (steps == steps_)
        return;
    steps_ = steps;
    value_ = snapToStep(value_);
    repaint();
}

void VeskSamplerDualRingKnob::setHideStepTicks(bool hide)
{
    if (hide != hideStepTicks_) {
        hideStepTicks_ = hide;
        repaint();
    }
}

void VeskSamplerDualRingKnob::setShowValue(bool show)
{
    if (show != showValue_) {
        showValue_ = show;
        repaint();
    }
}

void VeskSamplerDualRingKnob::setDimmed(bool dimmed)
{
    if (dimmed == dimmed_)
        return;
    dimmed_ = dimmed;
    if (dimmed_ && dragMode_ != DragMode::None) {
        // The drag the knob was in ends with what it sent.
        if (dragChanged_) {
            if (dragMode_ == DragMode::Outer && outerMode_ == OuterMode::Modulation)
                makeBindingPending();
            else
                makePending();
        }
        dragMode_ = DragMode::None;
        endGesture();
        hideTooltip();
    }
    repaint();
}

void VeskSamplerDualRingKnob::setRightClickEnabled(bool enabled)
{
    rightClickEnabled_ = enabled;
}

void VeskSamplerDualRingKnob::setHideOuterRing(bool hide)
{
    if (hide != hideOuterRing_) {
        hideOuterRing_ = hide;
        repaint();
    }
}

void VeskSamplerDualRingKnob::setOuterMode(OuterMode mode)
{
    if (mode != outerMode_) {
        outerMode_ = mode;
        repaint();
    }
}

// ---------------------------------------------------------------------------------------------
// State from the engine

void VeskSamplerDualRingKnob::setValue(float value, float range, bool enabled)
{
    if (dragMode_ != DragMode::None)
        return;
    if (!std::isfinite(value))
        value = default_;
    if (!std::isfinite(range))
        range = 0.0f;
    const float valueTol = spanTolerance(min_, max_);
    const float rangeTol = spanTolerance(0.0f, 100.0f);
    const Edit engine{value, range, enabled};
    if (pending_.offer(engine, pendingClockMs(), [&](const Edit& e, const Edit& p) {
            return nearlyEqual(e.value, p.value, valueTol) &&
                   nearlyEqual(e.range, p.range, rangeTol) && e.enabled == p.enabled;
        }))
        return;
    if (value == value_ && range == range_ && enabled == enabled_)
        return;
    value_ = value;
    range_ = range;
    enabled_ = enabled;
    repaint();
}

void VeskSamplerDualRingKnob::setModBinding(uint8_t source, float depth)
{
    if (dragMode_ != DragMode::None)
        return;
    const auto src = source <= uint8_t(vesk::ModSource::Velocity) ? vesk::ModSource(source)
                                                                  : vesk::ModSource::None;
    depth = std::isfinite(depth) ? std::clamp(depth, -1.0f, 1.0f) : 0.0f;
    if (src == vesk::ModSource::None)
        depth = 0.0f;
    if (pendingBinding_.offer(
            {src, depth}, pendingClockMs(), [](const Binding& e, const Binding& p) {
                return e.source == p.source && nearlyEqual(e.depth, p.depth, 1.0e-6f);
            }))
        return;
    if (src == modSource_ && depth == modDepth_)
        return;
    modSource_ = src;
    modDepth_ = depth;
    repaint();
}

void VeskSamplerDualRingKnob::setLiveRandomOffset(float offset)
{
    if (outerMode_ != OuterMode::Random)
        return;
    if (!std::isfinite(offset))
        offset = 0.0f;
    const float threshold = max_ > min_ ? 0.005f * (max_ - min_) : 0.005f;
    // A return to exactly 0 always shows: the dot disappears.
    if (std::fabs(offset - liveRandomOffset_) > threshold ||
        (offset == 0.0f) != (liveRandomOffset_ == 0.0f)) {
        liveRandomOffset_ = offset;
        repaint();
    }
}

void VeskSamplerDualRingKnob::setLiveModValue(float value)
{
    if (outerMode_ != OuterMode::Modulation)
        return;
    if (!std::isfinite(value))
        value = 0.0f;
    if (modSource_ == vesk::ModSource::None) {
        if (liveModValue_ != 0.0f) {
            liveModValue_ = 0.0f;
            repaint();
        }
        return;
    }
    if (std::fabs(value - liveModValue_) > 0.005f) {
        liveModValue_ = value;
        repaint();
    }
}

// ---------------------------------------------------------------------------------------------
// Queries

juce::String VeskSamplerDualRingKnob::getValueText() const
{
    return knob::valueText({min_, max_, steps_, suffix_, mapping_}, value_);
}

int VeskSamplerDualRingKnob::currentStepIndex() const
{
    return knob::stepIndex(value_, min_, max_, steps_);
}

float VeskSamplerDualRingKnob::snapToStep(float v) const
{
    return knob::snap(v, min_, max_, steps_);
}

juce::Rectangle<float> VeskSamplerDualRingKnob::getKnobBounds() const
{
    const int strip = std::min(getHeight(), kTextStrip);
    const float s = float(std::max(0, std::min(getWidth(), getHeight() - strip)));
    const juce::Rectangle<float> area(0.0f, 0.0f, float(getWidth()), float(getHeight() - strip));
    return juce::Rectangle<float>(s, s).withCentre(area.getCentre());
}

float VeskSamplerDualRingKnob::getAngleForValue(float v) const
{
    return knob::angleForValue(v, min_, max_);
}

float VeskSamplerDualRingKnob::getValueForAngle(float angle) const
{
    return knob::valueForAngle(angle, min_, max_);
}

bool VeskSamplerDualRingKnob::isPointInInnerRing(juce::Point<float> p) const
{
    const auto b = getKnobBounds();
    return p.getDistanceFrom(b.getCentre()) <= 0.38f * b.getWidth();
}

bool VeskSamplerDualRingKnob::isPointInMiniRing(juce::Point<float> p) const
{
    return p.getDistanceFrom(getMiniRingCentre()) <= kMiniRingRadius;
}

bool VeskSamplerDualRingKnob::outerActive() const
{
    if (hideOuterRing_)
        return false;
    return outerMode_ == OuterMode::Modulation ? modSource_ != vesk::ModSource::None : enabled_;
}

juce::String VeskSamplerDualRingKnob::getTooltipText() const
{
    const bool outerText = dragMode_ == DragMode::Outer ||
                           (dragMode_ == DragMode::None && hoverMiniRing_ && outerActive());
    if (!outerText)
        return getValueText();
    if (outerMode_ == OuterMode::Modulation)
        return knob::sourceName(modSource_) + " " + (modDepth_ >= 0.0f ? "+" : "") +
               juce::String(int(std::round(modDepth_ * 100.0f))) + "%";
    return knob::withSuffix(juce::String::fromUTF8("\xc2\xb1") +
                                juce::String(range_ * randomSpan_ / 100.0f, 1),
                            suffix_);
}

// ---------------------------------------------------------------------------------------------
// Outgoing

void VeskSamplerDualRingKnob::sendValueChanged()
{
    if (onValueChanged)
        onValueChanged(value_, range_, enabled_);
}

void VeskSamplerDualRingKnob::sendModBindingChanged()
{
    if (onModBindingChanged)
        onModBindingChanged(uint8_t(modSource_), modDepth_);
}

void VeskSamplerDualRingKnob::makePending()
{
    pending_.set({value_, range_, enabled_}, pendingClockMs());
}

void VeskSamplerDualRingKnob::makeBindingPending()
{
    pendingBinding_.set({modSource_, modDepth_}, pendingClockMs());
}

void VeskSamplerDualRingKnob::beginGesture()
{
    if (gestureOpen_)
        return;
    gestureOpen_ = true;
    if (onDragStart)
        onDragStart();
}

void VeskSamplerDualRingKnob::endGesture()
{
    if (!gestureOpen_)
        return;
    gestureOpen_ = false;
    if (onDragEnd)
        onDragEnd();
}

void VeskSamplerDualRingKnob::applyModMenuResult(int id)
{
    Binding b{modSource_, modDepth_};
    if (id == 99) {
        if (modSource_ == vesk::ModSource::None)
            return;
        b.depth = 0.0f;
    } else if (id >= 1 && id <= 5) {
        b.source = vesk::ModSource(id - 1);
        if (b.source == vesk::ModSource::None)
            b.depth = 0.0f;
    } else {
        return; // dismissed
    }
    beginGesture();
    modSource_ = b.source;
    modDepth_ = b.depth;
    makeBindingPending();
    sendModBindingChanged();
    endGesture();
    repaint();
}

// ---------------------------------------------------------------------------------------------
// Tooltip

void VeskSamplerDualRingKnob::showTooltip()
{
    if (dragMode_ == DragMode::Outer && !outerActive())
        return;
    juce::Component* top = getTopLevelComponent();
    if (top == nullptr || top == this || !isShowing())
        return;
    if (bubble_->getParentComponent() != top)
        top->addChildComponent(*bubble_);
    bubble_->show(*this, getTooltipText(), 2000);
}

void VeskSamplerDualRingKnob::hideTooltip()
{
    bubble_->hide();
}

// ---------------------------------------------------------------------------------------------
// Mouse

void VeskSamplerDualRingKnob::mouseEnter(const juce::MouseEvent& e)
{
    hovered_ = true;
    hoverMiniRing_ = isPointInMiniRing(e.position);
    showTooltip();
}

void VeskSamplerDualRingKnob::mouseExit(const juce::MouseEvent&)
{
    hovered_ = false;
    hoverMiniRing_ = false;
    if (dragMode_ == DragMode::None)
        hideTooltip();
}

void VeskSamplerDualRingKnob::mouseMove(const juce::MouseEvent& e)
{
    const bool over = isPointInMiniRing(e.position) && outerActive();
    if (over != (hoverMiniRing_ && outerActive())) {
        hoverMiniRing_ = isPointInMiniRing(e.position);
        showTooltip();
    }
    hoverMiniRing_ = isPointInMiniRing(e.position);
}

void VeskSamplerDualRingKnob::mouseDown(const juce::MouseEvent& e)
{
    pressPos_ = e.position;
    dragChanged_ = false;
    if (e.mods.isPopupMenu())
        return;
    if (dimmed_)
        return;
    if (isPointInMiniRing(e.position) && !hideOuterRing_) {
        if (outerMode_ == OuterMode::Modulation && modSource_ != vesk::ModSource::None) {
            dragMode_ = DragMode::Outer;
            dragStart_ = modDepth_;
        } else if (outerMode_ == OuterMode::Random && enabled_) {
            dragMode_ = DragMode::Outer;
            dragStart_ = range_;
        }
        if (dragMode_ == DragMode::Outer)
            showTooltip();
        return;
    }
    if (isPointInInnerRing(e.position)) {
        dragMode_ = DragMode::Value;
        dragStart_ = value_;
        showTooltip();
    }
}

void VeskSamplerDualRingKnob::mouseDrag(const juce::MouseEvent& e)
{
    if (dragMode_ == DragMode::None)
        return;
    const float delta = knob::dragDelta(pressPos_.y, e.position.y, e.mods.isShiftDown());
    if (dragMode_ == DragMode::Value) {
        const float v = knob::dragValue(dragStart_, delta, min_, max_, steps_);
        if (v == value_)
            return;
        beginGesture();
        value_ = v;
        dragChanged_ = true;
        sendValueChanged();
    } else if (outerMode_ == OuterMode::Random) {
        const float r = knob::dragRange(dragStart_, delta);
        if (r == range_)
            return;
        beginGesture();
        range_ = r;
        dragChanged_ = true;
        sendValueChanged();
    } else {
        const float d = knob::dragDepth(dragStart_, delta);
        if (d == modDepth_)
            return;
        beginGesture();
        modDepth_ = d;
        dragChanged_ = true;
        sendModBindingChanged();
    }
    repaint();
    showTooltip();
}

void VeskSamplerDualRingKnob::mouseUp(const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu() && rightClickEnabled_ && !dimmed_) {
        if (e.mouseWasDraggedSinceMouseDown())
            return;
        if (outerMode_ == OuterMode::Random) {
            beginGesture();
            enabled_ = !enabled_;
            makePending();
            sendValueChanged();
            endGesture();
            repaint();
        } else {
            juce::PopupMenu menu;
            menu.addItem(1, "None", true, modSource_ == vesk::ModSource::None);
            menu.addSeparator();
            menu.addItem(2, "MPE Pressure", true, modSource_ == vesk::ModSource::Pressure);
            menu.addItem(3, "MPE Slide", true, modSource_ == vesk::ModSource::Slide);
            menu.addItem(4, "MPE Bend", true, modSource_ == vesk::ModSource::Bend);
            menu.addItem(5, "Note Velocity", true, modSource_ == vesk::ModSource::Velocity);
            menu.addSeparator();
            menu.addItem(99, "Reset depth", modSource_ != vesk::ModSource::None);
            juce::Component::SafePointer<VeskSamplerDualRingKnob> self(this);
            menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this),
                               [self](int id) {
                                   if (self != nullptr)
                                       self->applyModMenuResult(id);
                               });
        }
        return;
    }
    if (dragMode_ != DragMode::None && dragChanged_) {
        if (dragMode_ == DragMode::Outer && outerMode_ == OuterMode::Modulation)
            makeBindingPending();
        else
            makePending();
    }
    dragMode_ = DragMode::None;
    dragChanged_ = false;
    endGesture();
    if (!hovered_)
        hideTooltip();
    repaint();
}

void VeskSamplerDualRingKnob::mouseDoubleClick(const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu() || dimmed_)
        return;
    if (isPointInMiniRing(e.position)) {
        // Only an active outer ring has something to reset; a hidden or inactive one would
        // send an edit that changes nothing and still marks the project changed.
        if (!outerActive())
            return;
        if (outerMode_ == OuterMode::Modulation) {
            if (modDepth_ == 0.0f)
                return;
            beginGesture();
            modDepth_ = 0.0f;
            makeBindingPending();
            sendModBindingChanged();
        } else {
            if (range_ == 0.0f)
                return;
            beginGesture();
            range_ = 0.0f;
            makePending();
            sendValueChanged();
        }
        endGesture();
        repaint();
        return;
    }
    if (isPointInInnerRing(e.position)) {
        const float v = snapToStep(default_);
        if (v == value_)
            return;
        beginGesture();
        value_ = v;
        makePending();
        sendValueChanged();
        endGesture();
        repaint();
    }
}

// ---------------------------------------------------------------------------------------------
// Painting

void VeskSamplerDualRingKnob::paint(juce::Graphics& g)
{
    const float a = dimmed_ ? 0.4f : 1.0f;
    const juce::Colour text = findColour(juce::Label::textColourId);
    const juce::Colour bg = findColour(juce::ResizableWindow::backgroundColourId);
    const auto bounds = getKnobBounds();
    const juce::Point<float> c = bounds.getCentre();
    const float s = bounds.getWidth();
    const float span = max_ - min_;
    auto angle = [this](float v) { return getAngleForValue(v); };
    auto clampV = [this](float v) { return max_ > min_ ? std::clamp(v, min_, max_) : min_; };

    // 1. Text.
    const int strip = std::min(getHeight(), kTextStrip);
    g.setColour(text.withMultipliedAlpha(0.8f * a));
    g.setFont(juce::Font(12.0f).withExtraKerningFactor(0.03f));
    g.drawText(showValue_ ? getValueText() : label_,
               juce::Rectangle<int>(0, getHeight() - strip, getWidth(), strip),
               juce::Justification::centredTop, false);
    if (s <= 0.0f)
        return;

    // 2. Outer ring.
    const float ringR = 0.4f * s;
    if (!hideOuterRing_) {
        if (outerMode_ == OuterMode::Modulation) {
            if (modSource_ != vesk::ModSource::None && modDepth_ != 0.0f) {
                strokeArc(g, c, ringR, angle(value_), angle(clampV(value_ + modDepth_ * span)),
                          juce::Colour(0xffd08040), juce::Colour(0xfff0a040), a);
                const auto dot =
                    onCircle(c, ringR, angle(clampV(value_ + modDepth_ * span * liveModValue_)));
                g.setColour(juce::Colour(0xffffd080).withMultipliedAlpha(a));
                g.fillEllipse(juce::Rectangle<float>(3.5f, 3.5f).withCentre(dot));
            }
        } else if (enabled_ && range_ > 0.0f) {
            const float e = range_ * randomSpan_ / 100.0f;
            strokeArc(g, c, ringR, angle(clampV(value_ - e)), angle(clampV(value_ + e)),
                      juce::Colour(0xff4090d0), juce::Colour(0xff60b0f0), a);
            if (liveRandomOffset_ != 0.0f) {
                const auto dot = onCircle(c, ringR, angle(clampV(value_ + liveRandomOffset_)));
                g.setColour(juce::Colour(0xff80c8ff).withMultipliedAlpha(a));
                g.fillEllipse(juce::Rectangle<float>(3.5f, 3.5f).withCentre(dot));
            }
        }
    }

    // 3. Body.
    const float r = 0.32f * s;
    const auto body = juce::Rectangle<float>(2.0f * r, 2.0f * r).withCentre(c);
    g.setColour(bg.brighter(0.25f).withMultipliedAlpha(a));
    g.fillEllipse(body);
    g.setColour(bg.brighter(0.5f).withMultipliedAlpha(a));
    g.drawEllipse(body, 1.0f);

    // 4. Step ticks.
    if (steps_ >= 2 && !hideStepTicks_) {
        const int current = currentStepIndex();
        for (int i = 0; i < steps_; ++i) {
            const float t = float(i) / float(steps_ - 1);
            const float ang = knob::angleForValue(t, 0.0f, 1.0f);
            g.setColour(text.withMultipliedAlpha((i == current ? 0.9f : 0.35f) * a));
            g.drawLine(juce::Line<float>(onCircle(c, r + 1.5f, ang), onCircle(c, r + 4.5f, ang)),
                       1.0f);
        }
    }

    // 5. Pointer.
    const float ang = angle(value_);
    g.setColour(text.withMultipliedAlpha(0.9f * a));
    g.drawLine(juce::Line<float>(onCircle(c, 0.3f * r, ang), onCircle(c, 0.85f * r, ang)), 2.0f);

    // 6. Mini ring.
    if (!hideOuterRing_) {
        const auto mini = juce::Rectangle<float>(6.0f, 6.0f).withCentre(getMiniRingCentre());
        if (outerMode_ == OuterMode::Modulation && modSource_ != vesk::ModSource::None) {
            g.setColour(juce::Colour(0xfff0a040).withMultipliedAlpha(a));
            g.drawEllipse(mini, 1.5f);
        } else if (outerMode_ == OuterMode::Random && enabled_) {
            g.setColour(juce::Colour(0xff40a0e0).withMultipliedAlpha(a));
            g.drawEllipse(mini, 1.5f);
        }
    }
}
