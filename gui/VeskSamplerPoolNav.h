// The narrow column left of the pool list: one card per visible pool and the "+" button.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>

class VeskSamplerPoolNav : public juce::Component
{
public:
    VeskSamplerPoolNav();

    void setVisibleMask(uint8_t mask);
    void updatePoolState(int pool, const juce::String& name, bool hasSamples);
    void updateSoloMuteFreeze(int pool, bool solo, bool mute, bool locked);
    void setSelectedPool(int pool);
    int selectedPool() const { return selected_; }

    void paint(juce::Graphics&) override;

private:
    uint8_t visibleMask_ = 0x0F;
    int selected_ = 0;
};
