// The strip that shows and edits one sample pool.
#pragma once

#include "plugin/VeskState.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

struct VeskBackend;

class VeskSamplerPoolRow : public juce::Component, private juce::Timer
{
public:
    enum class AudibleState
    {
        Normal = 0,
        Muted = 1,
        SoloedOut = 2,
    };

    explicit VeskSamplerPoolRow(int pool);
    ~VeskSamplerPoolRow() override;

    int pool() const { return pool_; }
    void setBackend(VeskBackend* backend) { backend_ = backend; }
    void updateFromState(const vesk::PoolState& state);
    void setFrozen(bool frozen);
    void setAudibleState(AudibleState state);
    // Flashes the row in a colour that fades out over about half a second.
    void setHighlight(juce::Colour colour);
    void updatePlayStopButton();

    void paint(juce::Graphics&) override;

private:
    void timerCallback() override;

    const int pool_;
    VeskBackend* backend_ = nullptr;
    juce::String name_;
    int sampleCount_ = 0;
    bool frozen_ = false;
    AudibleState audible_ = AudibleState::Normal;
    juce::Colour highlight_{0xff5080b8};
    float highlightStrength_ = 0.0f;
};
