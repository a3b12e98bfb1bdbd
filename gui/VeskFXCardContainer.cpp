#include "VeskFXCardContainer.h"

#include "VeskGuiLayout.h"

#include "plugin/CommandQueues.h"
#include "plugin/Messages.h"
#include "plugin/VeskState.h"

#include <algorithm>

namespace {

namespace cl = vesk::gui::layout::fxcard;

int slotCountOf(const vesk::FXLaneState& state)
{
    return std::min<int>(state.slotCount, cl::kMaxCards);
}

} // namespace

VeskSamplerFXCardContainer::VeskSamplerFXCardContainer(int lane) : lane_(lane)
{
    add_.setButtonText("+");
    add_.setTooltip("Add a module to FX Bus " + juce::String(lane + 1));
    add_.onClick = [this] { showAddFXMenu(); };
    addAndMakeVisible(add_);
    resized();
}

void VeskSamplerFXCardContainer::updateFromState(const vesk::FXLaneState& state,
                                                 const float* liveModulation, int count)
{
    const int n = slotCountOf(state);
    bool same = n == lastCount_;
    for (int i = 0; same && i < n; ++i)
        same = state.slots[i].type == lastTypes_[size_t(i)];
    if (!same) {
        rebuildCards(state);
        lastCount_ = n;
        for (int i = 0; i < n; ++i)
            lastTypes_[size_t(i)] = state.slots[i].type;
        resized();
    }
    updateCardValues(state);
    if (liveModulation != nullptr && count > 0)
        for (auto& c : cards_)
            c->setLiveModBus(liveModulation, count);
}

void VeskSamplerFXCardContainer::rebuildCards(const vesk::FXLaneState& state)
{
    ++rebuilds_;
    cards_.clear();
    const int n = slotCountOf(state);
    cards_.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        const vesk::FXModuleInfo* info = vesk::getFXModuleInfo(uint32_t(state.slots[i].type));
        auto card = std::make_unique<VeskSamplerFXCard>(
            info != nullptr ? juce::String::fromUTF8(info->name) : juce::String("(empty)"), true);
        card->setSlotIdentity(lane_, i, info != nullptr ? int(state.slots[i].type) : 0);
        card->setRowCount(info != nullptr ? int(info->rowCount) : 1);
        card->setupKnobs(FXKnobConfig::fromRegistry(info));
        card->setModulationEnabled(true);

        const uint8_t lane = uint8_t(lane_), slot = uint8_t(i);
        card->onRemove = [this, lane, slot] {
            if (backend_ != nullptr)
                vesk::msg::send(*backend_, vesk::msg::RemoveFxSlot{lane, slot});
        };
        // The power light toggles the module's own flag: under a bypassed lane every card
        // shows bypassed, yet its light must still switch the module.
        card->onBypassToggle = [this, lane, slot](bool) {
            if (backend_ != nullptr)
                vesk::msg::send(*backend_,
                                vesk::msg::SetFxSlotBypass{lane, slot, !slotBypassed_[slot]});
        };
        card->onKnobChanged = [this, lane, slot](int knob, float value) {
            if (backend_ != nullptr)
                vesk::msg::send(*backend_, vesk::msg::SetFxParam{lane, slot, uint8_t(knob), value});
        };
        card->onKnobModBinding = [this, lane, slot](int knob, uint8_t source, float depth) {
            if (backend_ != nullptr)
                vesk::msg::send(*backend_, vesk::msg::BindFxModulation{lane, slot, uint8_t(knob),
                                                                       source, depth});
        };
        addAndMakeVisible(*card);
        cards_.push_back(std::move(card));
    }
    add_.toFront(false);
}

void VeskSamplerFXCardContainer::updateCardValues(const vesk::FXLaneState& state)
{
    const int n = std::min(slotCountOf(state), cardCount());
    for (int i = 0; i < n; ++i) {
        const vesk::FXSlotState& slot = state.slots[i];
        VeskSamplerFXCard& c = *cards_[size_t(i)];
        slotBypassed_[size_t(i)] = slot.bypassed != 0;
        c.setBypassed(state.bypassed != 0 || slot.bypassed != 0);
        // Only the knobs the card has: an unknown type has none.
        const int knobs = std::min(c.knobCount(), vesk::kMaxFXParams);
        for (int j = 0; j < knobs; ++j) {
            c.setKnobValue(j, slot.params[j]);
            c.setKnobModBinding(j, slot.modSource[j], slot.modDepth[j]);
        }
    }
}

void VeskSamplerFXCardContainer::showAddFXMenu()
{
    juce::PopupMenu menu;
    for (const vesk::FXModuleInfo& info : vesk::detail::kRegistry)
        menu.addItem(int(info.type), juce::String::fromUTF8(info.name));
    juce::Component::SafePointer<VeskSamplerFXCardContainer> self(this);
    menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(&add_), [self](int id) {
        if (self != nullptr)
            self->addMenuChosen(id);
    });
}

void VeskSamplerFXCardContainer::addMenuChosen(int fxType)
{
    if (fxType <= 0 || vesk::getFXModuleInfo(uint32_t(fxType)) == nullptr || backend_ == nullptr)
        return;
    vesk::msg::send(*backend_, vesk::msg::AddFxSlot{uint8_t(lane_), uint8_t(fxType)});
}

int VeskSamplerFXCardContainer::preferredHeight() const
{
    int h = cl::kCardGap;
    for (const auto& c : cards_)
        h += c->preferredHeight() + cl::kCardGap;
    return h + cl::kAddButtonHeight;
}

void VeskSamplerFXCardContainer::resized()
{
    const int w = std::max(0, getWidth() - 2 * cl::kCardX);
    int y = cl::kCardGap;
    for (auto& c : cards_) {
        c->setBounds(cl::kCardX, y, w, c->preferredHeight());
        y += c->preferredHeight() + cl::kCardGap;
    }
    add_.setBounds(cl::kCardX, y, w, cl::kAddButtonHeight);
}

// ---------------------------------------------------------------------------------------------
// Drag and drop

int VeskSamplerFXCardContainer::computeInsertIndexFromY(int y) const
{
    int top = cl::kCardGap;
    for (int i = 0; i < cardCount(); ++i) {
        const int h = cards_[size_t(i)]->preferredHeight();
        if (top + h / 2 >= y)
            return i;
        top += h + cl::kCardGap;
    }
    return cardCount();
}

int VeskSamplerFXCardContainer::computeIndicatorYFromIdx(int index) const
{
    index = std::clamp(index, 0, cardCount());
    if (index == 0)
        return 2;
    int y = cl::kCardGap;
    for (int i = 0; i < index; ++i)
        y += cards_[size_t(i)]->preferredHeight() + cl::kCardGap;
    return y - cl::kCardGap + 2;
}

int VeskSamplerFXCardContainer::currentSlotType(int lane, int slot) const
{
    if (lane < 0 || lane >= vesk::kNumLanes || slot < 0 || slot >= cl::kMaxCards)
        return 0;
    if (backend_ != nullptr && backend_->snapshots != nullptr) {
        const vesk::FXLaneState& state = backend_->current().lanes[lane];
        return slot < slotCountOf(state) ? state.slots[slot].type : 0;
    }
    return lane == lane_ && slot < lastCount_ ? lastTypes_[size_t(slot)] : 0;
}

VeskSamplerFXCardContainer::Move
VeskSamplerFXCardContainer::moveForDrop(const juce::var& description, int insertIndex) const
{
    Move m;
    if (insertIndex < 0 || !description.isObject() ||
        description.getProperty("type", {}).toString() != "fxCard")
        return m;
    const juce::var lane = description.getProperty("lane", {});
    const juce::var slot = description.getProperty("slot", {});
    const juce::var type = description.getProperty("fxType", {});
    if (!(lane.isInt() || lane.isInt64()) || !(slot.isInt() || slot.isInt64()) ||
        !(type.isInt() || type.isInt64()))
        return m;
    m.fromLane = int(lane);
    m.fromSlot = int(slot);
    m.toIndex = insertIndex;
    if (m.fromLane < 0 || m.fromLane >= vesk::kNumLanes || m.fromSlot < 0)
        return m;
    // Dropped back onto its own place.
    if (m.fromLane == lane_ && (insertIndex == m.fromSlot || insertIndex == m.fromSlot + 1))
        return m;
    // The slot changed under the drag: the card dragged is no longer there.
    if (int(type) <= 0 || currentSlotType(m.fromLane, m.fromSlot) != int(type))
        return m;
    m.valid = true;
    return m;
}

bool VeskSamplerFXCardContainer::isInterestedInDragSource(const SourceDetails& d)
{
    return d.description.isObject() && d.description.getProperty("type", {}).toString() == "fxCard";
}

void VeskSamplerFXCardContainer::setDropIndex(int index)
{
    const int y = index >= 0 ? computeIndicatorYFromIdx(index) : -1;
    if (index == insertIndex_ && y == indicatorY_)
        return;
    insertIndex_ = index;
    indicatorY_ = y;
    repaint();
}

void VeskSamplerFXCardContainer::itemDragEnter(const SourceDetails& d)
{
    setDropIndex(computeInsertIndexFromY(d.localPosition.y));
}

void VeskSamplerFXCardContainer::itemDragMove(const SourceDetails& d)
{
    setDropIndex(computeInsertIndexFromY(d.localPosition.y));
}

void VeskSamplerFXCardContainer::itemDragExit(const SourceDetails&)
{
    setDropIndex(-1);
}

void VeskSamplerFXCardContainer::itemDropped(const SourceDetails& d)
{
    const int index = computeInsertIndexFromY(d.localPosition.y);
    setDropIndex(-1);
    const Move m = moveForDrop(d.description, index);
    if (!m.valid || backend_ == nullptr)
        return;
    vesk::msg::send(*backend_, vesk::msg::MoveFxSlot{uint8_t(m.fromLane), uint8_t(m.fromSlot),
                                                     uint8_t(lane_), uint8_t(m.toIndex)});
}

void VeskSamplerFXCardContainer::paint(juce::Graphics&) {}

void VeskSamplerFXCardContainer::paintOverChildren(juce::Graphics& g)
{
    if (indicatorY_ < 0)
        return;
    g.setColour(juce::Colour(uint8_t(100), uint8_t(160), uint8_t(255)));
    g.fillRect(6, indicatorY_ - 1, std::max(0, getWidth() - 12), 2);
}
