#include "CommandQueues.h"

#include "VeskState.h"
#include "fx/FXLane.h"
#include "fx/FXModule.h"

#include <algorithm>

namespace {

template <typename Slot, uint64_t K>
bool writeRing(std::atomic<uint64_t>& writeCount, std::atomic<uint64_t>& readCount,
               Slot (&slots)[K], uint8_t type, const void* payload, uint32_t size)
{
    const uint64_t w = writeCount.load(std::memory_order_relaxed);
    const uint64_t r = readCount.load(std::memory_order_acquire);
    if (w - r >= K || size > sizeof(slots[0].payload) || (size > 0 && payload == nullptr))
        return false;
    Slot& slot = slots[w % K];
    slot.type = type;
    slot.size = size;
    if (size > 0)
        std::memcpy(slot.payload, payload, size);
    writeCount.store(w + 1, std::memory_order_release);
    return true;
}

} // namespace

bool CommandQueues::writeTrigger(uint8_t type, const void* payload, uint32_t size)
{
    if (!writeRing(triggerWrite, triggerRead, triggerSlots, type, payload, size)) {
        countDropped();
        return false;
    }
    return true;
}

bool CommandQueues::writeCommand(uint8_t type, const void* payload, uint32_t size)
{
    if (!writeRing(commandWrite, commandRead, commandSlots, type, payload, size)) {
        countDropped();
        return false;
    }
    if (wake != nullptr)
        wake(wakeContext);
    return true;
}

bool VeskBackend::send(uint8_t type, const void* payload, uint32_t size)
{
    if (queues == nullptr)
        return false;
    return vesk::isTriggerMessage(type) ? queues->writeTrigger(type, payload, size)
                                        : queues->writeCommand(type, payload, size);
}

bool VeskBackend::SendLoadToPool(uint32_t pool, const std::string& path)
{
    return vesk::msg::send(*this, vesk::msg::LoadToPool{pool, path});
}

const vesk::VeskState& VeskBackend::current() const
{
    const int32_t i = published != nullptr ? published->load(std::memory_order_acquire) : 0;
    return snapshots[i == 1 ? 1 : 0];
}

namespace vesk {

bool sendAppendLanePreset(VeskBackend& backend, uint8_t lane, const FXLaneState& state)
{
    static_assert(msg::FxChainEntry::kMaxKnobs == uint32_t(kMaxFXParams));
    if (lane > 1)
        return false;
    msg::AppendFxChain chain;
    chain.lane = lane;
    const int slots = std::min<int>(state.slotCount, kMaxSlots);
    chain.entries.reserve(size_t(slots));
    for (int i = 0; i < slots; ++i) {
        const FXSlotState& slot = state.slots[i];
        const FXModuleInfo* info = getFXModuleInfo(uint32_t(slot.type));
        if (slot.type == 0 || info == nullptr)
            continue;
        msg::FxChainEntry& entry = chain.entries.emplace_back();
        entry.fxType = slot.type;
        entry.bypassed = slot.bypassed != 0;
        entry.knobCount = uint8_t(std::min<uint32_t>(info->paramCount, kMaxFXParams));
        for (uint32_t k = 0; k < entry.knobCount; ++k) {
            entry.values[k] = slot.params[k];
            entry.sources[k] = slot.modSource[k];
            entry.depths[k] = slot.modDepth[k];
        }
    }
    // A chain too big for one message is refused here, without counting it as dropped.
    if (!chain.fits())
        return false;
    return msg::send(backend, chain);
}

bool sendAppendLaneChainPreset(VeskBackend& backend, const FXLaneState (&lanes)[2])
{
    bool ok = true;
    for (uint8_t lane = 0; lane < 2; ++lane)
        if (lanes[lane].slotCount > 0)
            ok = sendAppendLanePreset(backend, lane, lanes[lane]) && ok;
    return ok;
}

} // namespace vesk
