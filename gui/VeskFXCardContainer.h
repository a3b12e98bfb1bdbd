// The scrolled column of one FX bus's cards, with the "+" button that adds a module. It sends
// its cards' edits itself through the backend, and takes dropped cards from either bus.
//
// Cards are rebuilt only when the lane's slot list changes (count or any type); otherwise values
// and bindings update in place, so a knob drag is not interrupted by the 30 Hz refresh. A drop
// moves a module only when the slot the drag started from still holds the dragged module's type:
// a rebuild during the drag (a preset appended, a card removed) then moves nothing.
#pragma once

#include "VeskFXCard.h"

#include "fx/FXLane.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

struct VeskBackend;

class VeskSamplerFXCardContainer : public juce::Component, public juce::DragAndDropTarget
{
public:
    explicit VeskSamplerFXCardContainer(int lane);

    void setBackend(VeskBackend* backend) { backend_ = backend; }
    int lane() const { return lane_; }

    // [main thread] Every tick.
    void updateFromState(const vesk::FXLaneState& state, const float* liveModulation, int count);
    void rebuildCards(const vesk::FXLaneState& state);
    void updateCardValues(const vesk::FXLaneState& state);
    void showAddFXMenu();
    // What the add menu's result does (0: nothing chosen, or the container went away).
    void addMenuChosen(int fxType);
    int preferredHeight() const;

    int cardCount() const { return int(cards_.size()); }
    VeskSamplerFXCard& card(int i) { return *cards_[size_t(i)]; }
    juce::TextButton& addButton() { return add_; }
    int rebuildCount() const { return rebuilds_; }

    int computeInsertIndexFromY(int y) const;
    int computeIndicatorYFromIdx(int index) const;
    int indicatorY() const { return indicatorY_; }

    // Whether a drop of this description at this index sends a move, and which.
    struct Move
    {
        bool valid = false;
        int fromLane = 0, fromSlot = 0, toIndex = 0;
    };
    Move moveForDrop(const juce::var& description, int insertIndex) const;

    bool isInterestedInDragSource(const SourceDetails&) override;
    void itemDragEnter(const SourceDetails&) override;
    void itemDragMove(const SourceDetails&) override;
    void itemDragExit(const SourceDetails&) override;
    void itemDropped(const SourceDetails&) override;

    void paint(juce::Graphics&) override;
    void paintOverChildren(juce::Graphics&) override;
    void resized() override;

private:
    void setDropIndex(int index);
    // The type a lane's slot holds now, from the engine's current snapshot (0 when none).
    int currentSlotType(int lane, int slot) const;

    const int lane_;
    VeskBackend* backend_ = nullptr;
    std::vector<std::unique_ptr<VeskSamplerFXCard>> cards_;
    juce::TextButton add_;
    int lastCount_ = -1;
    std::array<uint8_t, vesk::kMaxSlots> lastTypes_{};
    std::array<bool, vesk::kMaxSlots> slotBypassed_{};
    int indicatorY_ = -1;
    int insertIndex_ = -1;
    int rebuilds_ = 0;
};
