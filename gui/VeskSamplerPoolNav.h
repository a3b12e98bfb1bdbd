// The narrow column left of the pool list: one card per visible pool (number, name, solo and mute
// dots, a padlock while locked) and the "+" button that shows the next hidden pool. It only
// reports; the editor sends the commands and feeds the state back on every tick.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class VeskSamplerPoolNavCard : public juce::Component, public juce::SettableTooltipClient
{
public:
    explicit VeskSamplerPoolNavCard(int pool);

    std::function<void(int)> onSelect, onSolo, onMute, onClear, onRemove, onLock;

    int pool() const { return pool_; }
    // Each returns true when what the card shows changed (and repaints then).
    bool setPoolState(const juce::String& name, bool hasSamples);
    bool setFlags(bool solo, bool mute, bool locked);
    void setSelected(bool selected);
    bool selected() const { return selected_; }

    // The menu's entries and ids, for tests: 1 lock or unlock, 2 clear, 3 remove.
    juce::PopupMenu buildMenu() const;
    void menuChosen(int id);

    void paint(juce::Graphics&) override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;

    // A right click, or a press with Ctrl, opens the menu instead of selecting.
    static bool opensMenu(const juce::ModifierKeys& mods);
    static juce::Rectangle<int> soloDot();
    static juce::Rectangle<int> muteDot();

private:
    void showMenu();

    const int pool_;
    juce::String name_;
    bool selected_ = false;
    bool hasSamples_ = false;
    bool solo_ = false;
    bool mute_ = false;
    bool locked_ = false;
};

class VeskSamplerPoolNav : public juce::Component
{
public:
    VeskSamplerPoolNav();

    std::function<void(int)> onPoolSelected;
    std::function<void(int)> onSoloToggle;
    std::function<void(int)> onMuteToggle;
    std::function<void(int)> onClearPool;
    std::function<void(int)> onRemovePool;
    std::function<void()> onAddPool;
    std::function<void(int)> onLockToggle;

    // [main thread] From the snapshot, every tick.
    void setVisibleMask(uint8_t mask);
    void updatePoolState(int pool, const juce::String& name, bool hasSamples);
    void updateSoloMuteFreeze(int pool, bool solo, bool mute, bool locked);
    void setSelectedPool(int pool);
    int selectedPool() const { return selected_; }

    VeskSamplerPoolNavCard& card(int pool) { return *cards_[size_t(pool)]; }
    juce::TextButton& addButton() { return add_; }

    void paint(juce::Graphics&) override;
    void resized() override;

private:
    std::array<std::unique_ptr<VeskSamplerPoolNavCard>, 8> cards_;
    juce::TextButton add_;
    uint8_t visibleMask_ = 0x0F;
    int selected_ = 0;
};
