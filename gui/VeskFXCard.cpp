#include "VeskFXCard.h"

#include "VeskGuiLayout.h"

#include <algorithm>
#include <utility>

namespace {

namespace cl = vesk::gui::layout::fxcard;

juce::Colour rgb(int r, int g, int b)
{
    return juce::Colour(uint8_t(r), uint8_t(g), uint8_t(b));
}

} // namespace

std::vector<FXKnobConfig> FXKnobConfig::fromRegistry(const vesk::FXModuleInfo* info)
{
    std::vector<FXKnobConfig> out;
    if (info == nullptr)
        return out;
    const uint32_t n = std::min<uint32_t>(info->paramCount, vesk::kMaxFXParams);
    out.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        FXKnobConfig c;
        c.name = juce::String::fromUTF8(info->paramNames[i]);
        c.suffix = info->paramSuffixes != nullptr && info->paramSuffixes[i] != nullptr
                       ? juce::String::fromUTF8(info->paramSuffixes[i])
                       : juce::String();
        c.min = info->paramMin[i];
        c.max = info->paramMax[i];
        c.defaultValue = info->paramDefaults[i];
        c.row = info->paramRows != nullptr ? info->paramRows[i] : 0;
        c.stepCount = info->paramSteps != nullptr ? info->paramSteps[i] : 0;
        c.hideStepTicks = info->paramHideStepTicks != nullptr && info->paramHideStepTicks[i];
        c.hasDisplayMapping = info->paramDisplayMin != nullptr &&
                              info->paramDisplayMax != nullptr &&
                              info->paramDisplayCurve != nullptr;
        if (c.hasDisplayMapping) {
            c.displayMin = info->paramDisplayMin[i];
            c.displayMax = info->paramDisplayMax[i];
            c.displayCurve = info->paramDisplayCurve[i];
        }
        c.precision = info->paramDisplayPrecision != nullptr ? info->paramDisplayPrecision[i] : 1;
        c.customDisplay =
            info->paramDisplayCustom != nullptr ? info->paramDisplayCustom[i] : nullptr;
        out.push_back(c);
    }
    return out;
}

VeskSamplerFXCard::VeskSamplerFXCard(const juce::String& title, bool hasPowerLight)
    : title_(title), hasPowerLight_(hasPowerLight)
{}

void VeskSamplerFXCard::setupKnobs(const std::vector<FXKnobConfig>& configs)
{
    knobs_.clear();
    knobRows_.clear();
    for (size_t i = 0; i < configs.size(); ++i) {
        const FXKnobConfig& c = configs[i];
        auto k = std::make_unique<Knob>(c.name);
        k->setRange(c.min, c.max, c.defaultValue);
        k->setSuffix(c.suffix);
        k->setShowValue(c.showValue);
        k->setRightClickEnabled(false);
        k->setHideOuterRing(hideOuterRings_);
        k->setStepCount(c.stepCount);
        k->setHideStepTicks(c.hideStepTicks);
        if (c.hasDisplayMapping)
            k->setDisplayMapping(c.displayMin, c.displayMax, c.displayCurve, c.precision,
                                 c.customDisplay);
        k->setValue(c.defaultValue, 0.0f, false);
        const int index = int(i);
        k->onValueChanged = [this, index](float value, float, bool) {
            if (onKnobChanged)
                onKnobChanged(index, value);
        };
        k->onModBindingChanged = [this, index](uint8_t source, float depth) {
            if (onKnobModBinding)
                onKnobModBinding(index, source, depth);
        };
        k->setDimmed(bypassed_);
        addAndMakeVisible(*k);
        knobs_.push_back(std::move(k));
        knobRows_.push_back(c.row);
    }
    resized();
}

void VeskSamplerFXCard::setSlotIdentity(int lane, int slot, int fxType)
{
    lane_ = lane;
    slot_ = slot;
    fxType_ = fxType;
}

void VeskSamplerFXCard::setRowCount(int rows)
{
    rowCount_ = std::max(1, rows);
    resized();
}

int VeskSamplerFXCard::preferredHeight() const
{
    return rowCount_ * cl::kKnobHeight + cl::kBottomPad;
}

int VeskSamplerFXCard::getRecommendedWidth(int knobCount)
{
    static constexpr int kWidths[] = {90, 140, 190, 230, 280};
    return knobCount >= 1 && knobCount <= 5 ? kWidths[knobCount - 1] : 330;
}

void VeskSamplerFXCard::setModulationEnabled(bool enabled)
{
    for (auto& k : knobs_) {
        k->setOuterMode(enabled ? Knob::OuterMode::Modulation : Knob::OuterMode::Random);
        k->setHideOuterRing(enabled ? false : hideOuterRings_);
        k->setRightClickEnabled(enabled);
    }
}

void VeskSamplerFXCard::setKnobValue(int knob, float value)
{
    if (knob >= 0 && knob < knobCount())
        knobs_[size_t(knob)]->setValue(value, 0.0f, false);
}

void VeskSamplerFXCard::setKnobModBinding(int knob, uint8_t source, float depth)
{
    if (knob >= 0 && knob < knobCount())
        knobs_[size_t(knob)]->setModBinding(source, depth);
}

void VeskSamplerFXCard::setLiveModBus(const float* values, int count)
{
    for (auto& k : knobs_) {
        const int source = k->getModSource();
        k->setLiveModValue(values != nullptr && source < count ? values[source] : 0.0f);
    }
}

void VeskSamplerFXCard::setHideOuterRing(bool hide)
{
    hideOuterRings_ = hide;
    for (auto& k : knobs_)
        k->setHideOuterRing(hide);
}

void VeskSamplerFXCard::setBypassed(bool bypassed)
{
    if (bypassed == bypassed_)
        return;
    bypassed_ = bypassed;
    for (auto& k : knobs_) {
        k->setEnabled(!bypassed);
        k->setDimmed(bypassed);
    }
    repaint();
}

void VeskSamplerFXCard::setToggle(const juce::String& text)
{
    toggleText_ = text;
    repaint();
}

void VeskSamplerFXCard::setToggleState(bool on)
{
    if (on == toggleOn_)
        return;
    toggleOn_ = on;
    repaint();
}

juce::Rectangle<int> VeskSamplerFXCard::titleArea() const
{
    const int w = juce::Font(12.0f).getStringWidth(title_) + 4;
    return {titleX(), 6, w, 16};
}

juce::Rectangle<int> VeskSamplerFXCard::toggleArea() const
{
    if (toggleText_.isEmpty())
        return {};
    const int w = juce::Font(11.0f).getStringWidth(toggleText_) + 10;
    return {titleArea().getRight() + 6, 6, w, 16};
}

juce::var VeskSamplerFXCard::dragDescription() const
{
    auto* o = new juce::DynamicObject();
    o->setProperty("type", "fxCard");
    o->setProperty("lane", lane_);
    o->setProperty("slot", slot_);
    o->setProperty("fxType", fxType_);
    return juce::var(o);
}

void VeskSamplerFXCard::resized()
{
    const int w = getWidth();
    for (int r = 0; r < rowCount_; ++r) {
        std::vector<Knob*> row;
        for (size_t i = 0; i < knobs_.size(); ++i)
            if (std::clamp(knobRows_[i], 0, rowCount_ - 1) == r)
                row.push_back(knobs_[i].get());
        const int n = int(row.size());
        if (n == 0)
            continue;
        const int y = cl::kHeaderHeight + cl::kKnobHeight * r;
        if (n == 1) {
            row[0]->setBounds(w / 2 - cl::kKnobWidth / 2, y, cl::kKnobWidth, cl::kKnobHeight);
            continue;
        }
        const int s = w < 45 ? 0 : std::min(cl::kKnobSpacing, (w - cl::kKnobWidth) / (n - 1));
        const int first = (w - (n - 1) * s) / 2;
        for (int k = 0; k < n; ++k)
            row[size_t(k)]->setBounds(first + k * s - cl::kKnobWidth / 2, y, cl::kKnobWidth,
                                      cl::kKnobHeight);
    }
}

void VeskSamplerFXCard::paint(juce::Graphics& g)
{
    const juce::Rectangle<float> body = getLocalBounds().toFloat().reduced(0.5f);
    g.setColour(bypassed_ ? rgb(32, 32, 35) : rgb(45, 47, 50));
    g.fillRoundedRectangle(body, 6.0f);
    g.setColour(bypassed_ ? rgb(55, 55, 60) : rgb(70, 72, 75));
    g.drawRoundedRectangle(body, 6.0f, 1.0f);

    if (hasPowerLight_) {
        const juce::Rectangle<float> light(6.0f, 8.0f, 10.0f, 10.0f);
        if (bypassed_) {
            g.setColour(rgb(80, 80, 85));
            g.drawEllipse(light, 1.5f);
        } else {
            g.setColour(rgb(80, 200, 80));
            g.fillEllipse(light);
        }
    }
    g.setColour(bypassed_ ? rgb(100, 100, 105) : rgb(180, 180, 185));
    g.setFont(juce::Font(12.0f));
    g.drawText(title_, titleX(), 6, 100, 14, juce::Justification::centredLeft, true);

    if (toggleText_.isNotEmpty()) {
        const juce::Rectangle<float> box = toggleArea().toFloat();
        const juce::Colour fill = bypassed_   ? rgb(40, 40, 45)
                                  : toggleOn_ ? rgb(60, 120, 80)
                                              : rgb(50, 52, 55);
        const juce::Colour text = bypassed_   ? rgb(80, 80, 85)
                                  : toggleOn_ ? rgb(220, 220, 225)
                                              : rgb(140, 140, 145);
        g.setColour(fill);
        g.fillRoundedRectangle(box, 3.0f);
        g.setColour(text);
        g.setFont(juce::Font(11.0f));
        g.drawText(toggleText_, box, juce::Justification::centred, false);
    }

    if (hasIdentity()) {
        const juce::Rectangle<float> x = closeArea().toFloat().reduced(3.0f);
        g.setColour(bypassed_     ? rgb(70, 70, 75)
                    : closeHover_ ? rgb(220, 110, 110)
                                  : rgb(130, 130, 135));
        g.drawLine(x.getX(), x.getY(), x.getRight(), x.getBottom(), 1.5f);
        g.drawLine(x.getRight(), x.getY(), x.getX(), x.getBottom(), 1.5f);
    }
}

void VeskSamplerFXCard::mouseDown(const juce::MouseEvent& e)
{
    closePressed_ = powerPressed_ = dragArmed_ = false;
    if (e.mods.isPopupMenu()) {
        if (!onRemove)
            return;
        juce::PopupMenu menu;
        menu.addItem(1, "Remove");
        juce::Component::SafePointer<VeskSamplerFXCard> self(this);
        menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this), [self](int id) {
            if (self != nullptr && id == 1 && self->onRemove)
                self->onRemove();
        });
        return;
    }
    const juce::Point<int> p = e.getPosition();
    if (hasIdentity() && closeArea().contains(p)) {
        closePressed_ = true;
        return;
    }
    if (hasPowerLight_ && (powerArea().contains(p) || titleArea().contains(p)))
        powerPressed_ = true;
    if (toggleText_.isNotEmpty() && !bypassed_ && toggleArea().contains(p)) {
        if (onToggleChanged)
            onToggleChanged(!toggleOn_);
        return;
    }
    if (hasIdentity() && headerArea().contains(p))
        dragArmed_ = true;
}

void VeskSamplerFXCard::mouseDrag(const juce::MouseEvent& e)
{
    if (!dragArmed_ || e.getDistanceFromDragStart() < cl::kDragThreshold)
        return;
    auto* container = juce::DragAndDropContainer::findParentDragContainerFor(this);
    if (container == nullptr || container->isDragAndDropActive())
        return;
    dragArmed_ = false;
    powerPressed_ = false; // a drag is not a click on the title
    container->startDragging(dragDescription(), this);
}

void VeskSamplerFXCard::mouseUp(const juce::MouseEvent& e)
{
    const juce::Point<int> p = e.getPosition();
    const bool close = std::exchange(closePressed_, false);
    const bool power = std::exchange(powerPressed_, false);
    dragArmed_ = false;
    if (e.mods.isPopupMenu())
        return;
    if (close && closeArea().contains(p)) {
        if (onRemove)
            onRemove(); // may delete this card through its owner: nothing after it
        return;
    }
    if (power && (powerArea().contains(p) || titleArea().contains(p)) && onBypassToggle)
        onBypassToggle(!bypassed_);
}

void VeskSamplerFXCard::mouseMove(const juce::MouseEvent& e)
{
    const bool hover = hasIdentity() && closeArea().contains(e.getPosition());
    if (hover != closeHover_) {
        closeHover_ = hover;
        repaint();
    }
}

void VeskSamplerFXCard::mouseExit(const juce::MouseEvent&)
{
    if (closeHover_) {
        closeHover_ = false;
        repaint();
    }
}
