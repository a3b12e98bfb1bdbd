#include "CommandQueues.h"

#include "Messages.h"
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
    if (queues == nullptr)
        return false;
    if (path.size() > sizeof(CommandSlot::payload) - 4) {
        queues->countDropped();
        return false;
    }
    uint8_t payload[sizeof(CommandSlot::payload)];
    vesk::putU32(payload, pool);
    std::memcpy(payload + 4, path.data(), path.size());
    return queues->writeCommand(vesk::CmdLoadToPool, payload, uint32_t(4 + path.size()));
}

const vesk::VeskState& VeskBackend::current() const
{
    const int32_t i = published != nullptr ? published->load(std::memory_order_acquire) : 0;
    return snapshots[i == 1 ? 1 : 0];
}

namespace vesk {

bool sendAppendLanePreset(VeskBackend& backend, uint8_t lane, const FXLaneState& state)
{
    if (lane > 1)
        return false;
    uint8_t payload[sizeof(CommandSlot::payload)];
    size_t size = 2;
    payload[0] = lane;
    uint8_t count = 0;
    const int slots = std::min<int>(state.slotCount, kMaxSlots);
    for (int i = 0; i < slots; ++i) {
        const FXSlotState& slot = state.slots[i];
        const FXModuleInfo* info = getFXModuleInfo(uint32_t(slot.type));
        if (slot.type == 0 || info == nullptr)
            continue;
        const uint32_t n = std::min<uint32_t>(info->paramCount, kMaxFXParams);
        const size_t entry = 3 + 9 * size_t(n);
        if (size + entry > sizeof payload)
            return false;
        uint8_t* p = payload + size;
        p[0] = slot.type;
        p[1] = slot.bypassed;
        p[2] = uint8_t(n);
        p += 3;
        for (uint32_t k = 0; k < n; ++k, p += 4)
            putF32(p, slot.params[k]);
        for (uint32_t k = 0; k < n; ++k)
            *p++ = slot.modSource[k];
        for (uint32_t k = 0; k < n; ++k, p += 4)
            putF32(p, slot.modDepth[k]);
        size += entry;
        ++count;
    }
    payload[1] = count;
    return backend.queues != nullptr &&
           backend.queues->writeCommand(CmdAppendFxChain, payload, uint32_t(size));
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
