// The two message rings from the editor into the engine, and the editor's handle onto them.
//
// Every change the editor makes travels as one message: a one-byte id and a packed little-endian
// payload. Triggers (Random, audition, Replay, stop) go into the small trigger ring, which the
// audio thread drains at the start of every block so a trigger sounds within one block. All other
// messages go into the command ring, which the main thread drains and applies under the state
// mutex; its writer asks the host for a main-thread callback after each message.
//
// Each ring has exactly one writer (the editor, on the host's main thread) and one reader, so two
// ever-growing counts suffice and no lock is needed: the writer fills the slot and then releases
// its count; the reader acquires it, copies the slot, then releases its own count, which the
// writer acquires before it reuses the slot. Each count sits alone on a cache line.
#pragma once

#include "plugin/Messages.h"
#include "plugin/VariationSetControl.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vesk {
struct VeskState;
struct FXLaneState;
} // namespace vesk

struct TriggerSlot
{
    int32_t type = 0;
    uint32_t size = 0; // payload bytes, at most 64
    uint8_t payload[vesk::kMaxTriggerPayload] = {};
};
static_assert(sizeof(TriggerSlot) == 72);

struct CommandSlot
{
    int32_t type = 0;
    uint32_t size = 0; // payload bytes, at most 4096
    uint8_t payload[vesk::kMaxCommandPayload] = {};
};
static_assert(sizeof(CommandSlot) == 4104);

struct CommandQueues
{
    static constexpr uint64_t kTriggerSlots = 64;
    static constexpr uint64_t kCommandSlots = 256;

    alignas(64) std::atomic<uint64_t> triggerWrite{0};
    alignas(64) std::atomic<uint64_t> triggerRead{0};
    alignas(64) TriggerSlot triggerSlots[kTriggerSlots];
    alignas(64) std::atomic<uint64_t> commandWrite{0};
    alignas(64) std::atomic<uint64_t> commandRead{0};
    alignas(64) CommandSlot commandSlots[kCommandSlots];
    void (*wake)(void*) = nullptr; // asks the host for a main-thread callback
    void* wakeContext = nullptr;
    std::atomic<int32_t> droppedCommands{0};

    // [main thread] Writer side. False (and counted as dropped) when the ring is full or the
    // payload does not fit a slot.
    bool writeTrigger(uint8_t type, const void* payload, uint32_t size);
    bool writeCommand(uint8_t type, const void* payload, uint32_t size);

    void countDropped() { droppedCommands.fetch_add(1, std::memory_order_relaxed); }
};

// A message the main thread is to execute: from the command ring, or forwarded by the audio
// thread when it found a non-trigger message in the trigger ring.
struct PendingCommand
{
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// The editor's handle: the rings and the published snapshots of one instance.
class VeskParamGestures;

struct VeskBackend
{
    CommandQueues* queues = nullptr;
    vesk::VeskState* snapshots = nullptr; // the first of the two buffers
    const std::atomic<int32_t>* published = nullptr;
    // [main thread] Where the editor tells the host about the knobs the user turns (the host
    // records automation from them); null without an instance.
    VeskParamGestures* gestures = nullptr;
    // Variation sets of the instance ("Export Set…"); null where there are none (tests).
    vesk::VariationSetControl* sets = nullptr;

    // [main thread] Message id 1: load a file into a pool. False when not sent (a path over
    // 4092 bytes, or a full ring; both are counted as dropped).
    bool SendLoadToPool(uint32_t pool, const std::string& path);

    // [main thread] Sends any message on the ring its id belongs to. Prefer msg::send with the
    // message's record.
    bool send(uint8_t type, const void* payload, uint32_t size);

    // [main thread] The published snapshot the editor may read now.
    const vesk::VeskState& current() const;
};

namespace vesk {

// [main thread] Message id 63 for one lane: its used slots as a transportable chain. False
// without sending when the lane index is above 1 or the chain does not fit one message (not
// counted); false when the ring is full (counted).
bool sendAppendLanePreset(VeskBackend& backend, uint8_t lane, const FXLaneState& state);
// [main thread] Both lanes, each when it has at least one slot; the AND of the results.
bool sendAppendLaneChainPreset(VeskBackend& backend, const FXLaneState (&lanes)[2]);

// True for the ids that travel on the trigger ring (5, 7, 8, 9, 10).
constexpr bool isTriggerMessage(uint8_t type)
{
    return type == CmdTrigger || (type >= CmdPlaySample && type <= CmdStopAll);
}

} // namespace vesk

namespace vesk::msg {

// [main thread] Sends one message, encoded from its record, on the ring its id belongs to (the
// trigger ring for 5 and 7-10, the command ring otherwise). False when it was not written: a full
// ring or a payload too big for one message, both counted as dropped.
template <class R> bool send(VeskBackend& backend, const R& message)
{
    static_assert(R::kMaxSize <=
                  (isTriggerMessage(R::kId) ? kMaxTriggerPayload : kMaxCommandPayload));
    if (!fits(message)) {
        if (backend.queues != nullptr)
            backend.queues->countDropped();
        return false;
    }
    if constexpr (R::kMaxSize == 0) {
        return backend.send(R::kId, nullptr, 0);
    } else {
        std::array<uint8_t, R::kMaxSize> payload;
        const uint32_t size = message.encode(payload.data());
        return backend.send(R::kId, payload.data(), size);
    }
}

} // namespace vesk::msg
