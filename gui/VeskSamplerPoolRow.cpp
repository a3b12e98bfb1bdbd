#include "VeskSamplerPoolRow.h"

#include "VeskPlaceholder.h"
#include "VeskText.h"

VeskSamplerPoolRow::VeskSamplerPoolRow(int pool) : pool_(pool)
{
    setOpaque(true);
}

VeskSamplerPoolRow::~VeskSamplerPoolRow()
{
    stopTimer();
}

void VeskSamplerPoolRow::updateFromState(const vesk::PoolState& state)
{
    const juce::String name = vesk::gui::textFromEngine(state.name, sizeof state.name);
    if (name != name_ || state.sampleCount != sampleCount_) {
        name_ = name;
        sampleCount_ = state.sampleCount;
        repaint();
    }
}

void VeskSamplerPoolRow::setFrozen(bool frozen)
{
    if (frozen != frozen_) {
        frozen_ = frozen;
        repaint();
    }
}

void VeskSamplerPoolRow::setAudibleState(AudibleState state)
{
    if (state != audible_) {
        audible_ = state;
        repaint();
    }
}

void VeskSamplerPoolRow::setHighlight(juce::Colour colour)
{
    highlight_ = colour;
    highlightStrength_ = 1.0f;
    startTimerHz(30);
    repaint();
}

void VeskSamplerPoolRow::updatePlayStopButton() {}

void VeskSamplerPoolRow::timerCallback()
{
    highlightStrength_ -= 0.08f;
    if (highlightStrength_ <= 0.0f) {
        highlightStrength_ = 0.0f;
        stopTimer();
    }
    repaint();
}

void VeskSamplerPoolRow::paint(juce::Graphics& g)
{
    juce::String title = "Pool " + juce::String(pool_ + 1);
    if (name_.isNotEmpty())
        title << " - " << name_;
    title << " (" << sampleCount_ << "/64)";
    vesk::gui::paintPlaceholder(g, getLocalBounds(), title);
    if (highlightStrength_ > 0.0f) {
        g.setColour(highlight_.withAlpha(0.6f * highlightStrength_));
        g.drawRect(getLocalBounds(), 2);
    }
}
