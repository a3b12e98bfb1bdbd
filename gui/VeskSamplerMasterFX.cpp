#include "VeskSamplerMasterFX.h"

#include "VeskGuiLayout.h"

#include <algorithm>
#include <cmath>

namespace {

namespace ml = vesk::gui::layout::master;

// A second at the editor's 30 Hz: an edit the engine did not take as sent is given up then.
constexpr int kPendingTicks = 30;

juce::Colour rgb(int r, int g, int b)
{
    return juce::Colour(uint8_t(r), uint8_t(g), uint8_t(b));
}

FXKnobConfig knob(const char* name, const char* suffix, float min, float max, float def,
                  bool showValue = false)
{
    FXKnobConfig c;
    c.name = name;
    c.suffix = suffix;
    c.min = min;
    c.max = max;
    c.defaultValue = def;
    c.showValue = showValue;
    return c;
}

// Which knobs of the reverb card show percent of a stored fraction (all but the decay).
bool reverbPercent(int k)
{
    return k != 2;
}

} // namespace

VeskSamplerMasterFX::VeskSamplerMasterFX()
{
    setOpaque(false);
    const auto make = [this](int c, const char* title, bool power,
                             const std::vector<FXKnobConfig>& knobs) {
        auto card = std::make_unique<VeskSamplerFXCard>(title, power);
        card->setHideOuterRing(true);
        card->setupKnobs(knobs);
        for (int k = 0; k < card->knobCount(); ++k)
            card->knob(k).setRightClickEnabled(false);
        card->onKnobChanged = [this, c](int k, float v) { knobChanged(c, k, v); };
        addAndMakeVisible(*card);
        cards_[size_t(c)] = std::move(card);
        groups_[size_t(c)].size = int(knobs.size());
    };
    make(EQ, "EQ", true,
         {knob("Low", "dB", -12, 12, 0), knob("Mid", "dB", -12, 12, 0),
          knob("High", "dB", -12, 12, 0)});
    make(Enhance, "Enhance", true,
         {knob("Drive", "dB", -12, 12, 0), knob("Amount", "%", 0, 100, 0),
          knob("Shape", "", -50, 50, 0)});
    make(Reverb, "Glue Reverb", true,
         {knob("Size", "%", 0, 100, 20), knob("Damp", "%", 0, 100, 70),
          knob("Decay", "s", 0.3f, 5, 1.5f), knob("Dry/Wet", "%", 0, 100, 15),
          knob("Width", "", -100, 100, 80), knob("Early", "%", 0, 200, 100)});
    make(Limiter, "Limiter", true,
         {knob("Thresh", "dB", -30, 0, -3), knob("Ceiling", "dB", -12, 0, -0.1f),
          knob("Release", "ms", 10, 500, 100)});
    make(Output, "Output", false, {knob("", "dB", -48, 6, 0, true)});
    cards_[Enhance]->setToggle("Multi");

    cards_[EQ]->onBypassToggle = [this](bool) {
        if (onEqBypassToggle)
            onEqBypassToggle(!moduleBypassed_[EQ]);
    };
    cards_[Enhance]->onBypassToggle = [this](bool) {
        if (onEnhanceBypassToggle)
            onEnhanceBypassToggle(!moduleBypassed_[Enhance]);
    };
    cards_[Enhance]->onToggleChanged = [this](bool on) {
        if (onEnhanceMultiToggle)
            onEnhanceMultiToggle(on);
    };
    cards_[Reverb]->onBypassToggle = [this](bool) {
        if (onReverbBypassToggle)
            onReverbBypassToggle(!moduleBypassed_[Reverb]);
    };
    cards_[Limiter]->onBypassToggle = [this](bool) {
        if (onLimiterBypassToggle)
            onLimiterBypassToggle(!moduleBypassed_[Limiter]);
    };
    updateFromState(vesk::MasterFXState{});
}

void VeskSamplerMasterFX::knobChanged(int c, int k, float shown)
{
    Group& g = groups_[size_t(c)];
    if (k < 0 || k >= g.size || !std::isfinite(shown))
        return;
    g.values[size_t(k)] = c == Reverb && reverbPercent(k) ? shown / 100.0f : shown;
    g.pendingTicks = kPendingTicks;
    sendGroup(c);
}

void VeskSamplerMasterFX::sendGroup(int c)
{
    const auto& v = groups_[size_t(c)].values;
    switch (c) {
    case EQ:
        if (onEqChanged)
            onEqChanged(v[0], v[1], v[2]);
        break;
    case Enhance:
        if (onEnhanceChanged)
            onEnhanceChanged(v[0], v[1], v[2]);
        break;
    case Reverb:
        if (onReverbChanged)
            onReverbChanged(v[0], v[1], v[2], v[3], v[4], v[5]);
        break;
    case Limiter:
        if (onLimiterChanged)
            onLimiterChanged(v[0], v[1], v[2]);
        break;
    case Output:
        if (onOutputGainChanged)
            onOutputGainChanged(v[0]);
        break;
    default:
        break;
    }
}

void VeskSamplerMasterFX::takeGroup(int c, const float* engine)
{
    Group& g = groups_[size_t(c)];
    if (g.pendingTicks > 0) {
        bool agrees = true;
        for (int k = 0; k < g.size; ++k)
            agrees = agrees && std::fabs(engine[k] - g.values[size_t(k)]) <= 1e-5f;
        if (!agrees && --g.pendingTicks > 0)
            return;
        g.pendingTicks = 0;
    }
    for (int k = 0; k < g.size; ++k)
        g.values[size_t(k)] = engine[k];
    VeskSamplerFXCard& card = *cards_[size_t(c)];
    for (int k = 0; k < g.size; ++k)
        card.setKnobValue(k, c == Reverb && reverbPercent(k) ? engine[k] * 100.0f : engine[k]);
}

void VeskSamplerMasterFX::forgetPendingEdits()
{
    for (Group& g : groups_)
        g.pendingTicks = 0;
    for (auto& card : cards_)
        for (int k = 0; k < card->knobCount(); ++k)
            card->knob(k).forgetPendingEdits();
}

void VeskSamplerMasterFX::updateFromState(const vesk::MasterFXState& s)
{
    const bool bypassed = s.bypassed != 0;
    const bool changed = bypassed != bypassed_ || !painted_;
    bypassed_ = bypassed;
    painted_ = true;
    cards_[EQ]->setBypassed(bypassed || s.eqBypass != 0);
    cards_[Enhance]->setBypassed(bypassed || s.enhanceBypass != 0);
    cards_[Reverb]->setBypassed(bypassed || s.reverbBypass != 0);
    cards_[Limiter]->setBypassed(bypassed || s.limiterBypass != 0);
    cards_[Output]->setBypassed(false);
    moduleBypassed_ = {s.eqBypass != 0, s.enhanceBypass != 0, s.reverbBypass != 0,
                       s.limiterBypass != 0, false};
    cards_[Enhance]->setToggleState(s.enhanceMulti != 0);

    const float eq[] = {s.eqLow, s.eqMid, s.eqHigh};
    const float enhance[] = {s.enhanceDrive, s.enhanceAmount, s.enhanceShape};
    const float reverb[] = {s.reverbSize, s.reverbDamp,  s.reverbDecay,
                            s.reverbMix,  s.reverbWidth, s.reverbEarly};
    const float limiter[] = {s.limiterThreshold, s.limiterCeiling, s.limiterRelease};
    const float output[] = {s.outputGainDb};
    takeGroup(EQ, eq);
    takeGroup(Enhance, enhance);
    takeGroup(Reverb, reverb);
    takeGroup(Limiter, limiter);
    takeGroup(Output, output);
    if (changed)
        repaint();
}

void VeskSamplerMasterFX::resized()
{
    const int w = getWidth();
    const int y = ml::kCardTop, h = std::max(0, getHeight() - ml::kCardTop - ml::kCardBottomPad);
    cards_[EQ]->setBounds(ml::kEqX, y, VeskSamplerFXCard::getRecommendedWidth(3), h);
    cards_[Enhance]->setBounds(ml::kEnhanceX, y, VeskSamplerFXCard::getRecommendedWidth(3), h);
    cards_[Reverb]->setBounds(ml::kReverbX, y, VeskSamplerFXCard::getRecommendedWidth(6), h);
    cards_[Limiter]->setBounds(ml::kLimiterX, y, VeskSamplerFXCard::getRecommendedWidth(3), h);
    cards_[Output]->setBounds(w - ml::kOutputInset, y, ml::kOutputWidth, h);
}

void VeskSamplerMasterFX::paint(juce::Graphics& g)
{
    const juce::Rectangle<float> body = getLocalBounds().toFloat().reduced(2.0f);
    g.setColour(bypassed_ ? rgb(35, 35, 38) : rgb(40, 42, 45));
    g.fillRoundedRectangle(body, 8.0f);
    g.setColour(bypassed_ ? rgb(60, 60, 65) : rgb(80, 85, 90));
    g.drawRoundedRectangle(body, 8.0f, 1.5f);
    const juce::Rectangle<float> light(8.0f, 8.0f, 12.0f, 12.0f);
    if (bypassed_) {
        g.setColour(rgb(80, 80, 85));
        g.drawEllipse(light, 2.0f);
    } else {
        g.setColour(rgb(80, 200, 80));
        g.fillEllipse(light);
    }
    g.setColour(bypassed_ ? rgb(120, 120, 125) : rgb(200, 200, 205));
    g.setFont(juce::Font(13.0f));
    g.drawText("Master FX", 28, 8, 100, 14, juce::Justification::centredLeft, true);
}

void VeskSamplerMasterFX::mouseDown(const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        return;
    const juce::Point<int> p = e.getPosition();
    if (juce::Rectangle<int>(8, 8, 16, 16).contains(p) ||
        juce::Rectangle<int>(28, 8, 80, 20).contains(p)) {
        if (onMasterBypassToggle)
            onMasterBypassToggle(!bypassed_);
    }
}
