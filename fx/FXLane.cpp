#include "fx/FXLane.h"

#include "fx/FXVTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

namespace vesk {

namespace {

constexpr std::align_val_t kStateAlignment{64};

void* allocateState(uint64_t bytes)
{
    void* block = ::operator new(static_cast<size_t>(bytes), kStateAlignment);
    std::memset(block, 0, static_cast<size_t>(bytes));
    return block;
}

void freeState(void* block)
{
    ::operator delete(block, kStateAlignment);
}

int tailSamplesFor(double rate)
{
    const double n = 0.01 * rate;
    return n >= 1.0 && n < 1.0e7 ? static_cast<int>(n) : 1;
}

float clampDepth(float depth)
{
    if (std::isnan(depth)) {
        return -1.0f;
    }
    return std::clamp(depth, -1.0f, 1.0f);
}

bool runnable(const FXSlot& slot)
{
    return slot.type != 0 && !slot.bypassed && slot.vtable != nullptr &&
           slot.vtable->process != nullptr &&
           (slot.state != nullptr || slot.vtable->stateSize == 0);
}

} // namespace

FXLane::FXLane() = default;

FXLane::~FXLane()
{
    for (FXSlot& slot : slots) {
        destroySlot(slot);
    }
}

void FXLane::destroySlot(FXSlot& slot)
{
    if (slot.state != nullptr) {
        if (slot.vtable != nullptr && slot.vtable->destroy != nullptr) {
            slot.vtable->destroy(slot.state);
        }
        freeState(slot.state);
    }
    slot = FXSlot{};
}

int FXLane::appendSlot(FXType type, const FXModuleVTable* vtable, const float* paramMin,
                       const float* paramMax, uint32_t paramCount, PreparedModule* prepared)
{
    if (slotCount >= kMaxSlots || slotCount < 0) {
        return -1;
    }
    FXSlot& slot = slots[slotCount];
    destroySlot(slot);
    slot.type = static_cast<uint8_t>(type);
    slot.paramMin = paramMin;
    slot.paramMax = paramMax;
    slot.paramCount = (paramMin != nullptr && paramMax != nullptr)
                          ? std::min<uint32_t>(paramCount, kMaxFXParams)
                          : 0;
    if (vtable != nullptr) {
        if (prepared != nullptr && prepared->vtable == vtable && prepared->state != nullptr &&
            prepared->rate == sampleRate) {
            slot.state = prepared->state;
            slot.vtable = vtable;
            prepared->state = nullptr;
            prepared->vtable = nullptr;
        } else if (vtable->stateSize > 0) {
            slot.state = allocateState(vtable->stateSize);
            slot.vtable = vtable;
            if (vtable->construct != nullptr) {
                vtable->construct(slot.state, sampleRate);
            }
        } else {
            slot.vtable = vtable;
        }
    }
    return slotCount++;
}

int FXLane::appendModule(uint32_t typeId, PreparedModule* prepared)
{
    const FXModuleInfo* info = getFXModuleInfo(typeId);
    if (info == nullptr) {
        return appendSlot(static_cast<FXType>(typeId & 0xFFu), nullptr, nullptr, nullptr, 0);
    }
    const int index = appendSlot(info->type, info->vtable, info->paramMin, info->paramMax,
                                 info->paramCount, prepared);
    if (index >= 0) {
        const uint32_t n = std::min<uint32_t>(info->paramCount, kMaxFXParams);
        std::copy(info->paramDefaults, info->paramDefaults + n, slots[index].params);
    }
    return index;
}

FXLane::AppendResult FXLane::appendChainEntry(uint32_t typeId, bool bypass, uint32_t n,
                                              const float* values, const uint8_t* sources,
                                              const float* depths, PreparedModule* prepared)
{
    if (slotCount >= kMaxSlots) {
        return AppendResult::Full;
    }
    const FXModuleInfo* info = getFXModuleInfo(typeId);
    if (info == nullptr || info->vtable == nullptr) {
        return AppendResult::Skipped;
    }
    const int index = appendModule(typeId, prepared);
    if (index < 0) {
        return AppendResult::Full;
    }
    FXSlot& slot = slots[index];
    const uint32_t count = std::min(slot.paramCount, n);
    for (uint32_t k = 0; k < count; ++k) {
        if (values != nullptr && std::isfinite(values[k])) {
            slot.params[k] = values[k];
        }
        const uint8_t source = sources != nullptr ? sources[k] : 0;
        if (source == 0 || source >= kModBusSize) {
            slot.modSource[k] = 0;
            slot.modDepth[k] = 0.0f;
        } else {
            slot.modSource[k] = source;
            slot.modDepth[k] = clampDepth(depths != nullptr ? depths[k] : 0.0f);
        }
    }
    slot.bypassed = bypass;
    return AppendResult::Appended;
}

PreparedModule FXLane::prepareModule(uint32_t typeId, double rate)
{
    PreparedModule module;
    const FXModuleInfo* info = getFXModuleInfo(typeId);
    if (info == nullptr || info->vtable == nullptr || info->vtable->stateSize == 0) {
        return module;
    }
    module.vtable = info->vtable;
    module.rate = rate;
    module.state = allocateState(info->vtable->stateSize);
    if (info->vtable->construct != nullptr) {
        info->vtable->construct(module.state, rate);
    }
    return module;
}

void FXLane::discardPrepared(PreparedModule& module)
{
    if (module.state != nullptr) {
        if (module.vtable != nullptr && module.vtable->destroy != nullptr) {
            module.vtable->destroy(module.state);
        }
        freeState(module.state);
    }
    module = PreparedModule{};
}

void FXLane::destroyDetached(FXSlot& slot)
{
    PreparedModule module{slot.vtable, slot.state, 0.0};
    discardPrepared(module);
    slot = FXSlot{};
}

bool FXLane::removeSlot(int index, FXSlot* detached)
{
    if (index < 0 || index >= slotCount) {
        return false;
    }
    if (detached != nullptr) {
        *detached = slots[index];
        slots[index] = FXSlot{};
    } else {
        destroySlot(slots[index]);
    }
    for (int i = index; i + 1 < slotCount; ++i) {
        slots[i] = slots[i + 1];
    }
    slots[slotCount - 1] = FXSlot{}; // its block now belongs to the position below
    --slotCount;
    return true;
}

bool FXLane::moveSlot(FXLane& source, int sourceIndex, FXLane& dest, int destIndex)
{
    if (&source == &dest) {
        FXLane& lane = source;
        if (sourceIndex < 0 || sourceIndex >= lane.slotCount) {
            return false;
        }
        const int target = sourceIndex < destIndex ? destIndex - 1 : destIndex;
        if (target == sourceIndex || target < 0 || target >= lane.slotCount) {
            return false;
        }
        const FXSlot moved = lane.slots[sourceIndex];
        if (sourceIndex < target) {
            for (int i = sourceIndex; i < target; ++i) {
                lane.slots[i] = lane.slots[i + 1];
            }
        } else {
            for (int i = sourceIndex; i > target; --i) {
                lane.slots[i] = lane.slots[i - 1];
            }
        }
        lane.slots[target] = moved;
        return true;
    }
    // Check everything before the slot leaves its lane, so it is never left half-moved.
    if (dest.slotCount >= kMaxSlots || sourceIndex < 0 || sourceIndex >= source.slotCount ||
        destIndex < 0 || destIndex > dest.slotCount) {
        return false;
    }
    const FXSlot moved = source.slots[sourceIndex];
    for (int i = sourceIndex; i + 1 < source.slotCount; ++i) {
        source.slots[i] = source.slots[i + 1];
    }
    source.slots[source.slotCount - 1] = FXSlot{};
    --source.slotCount;

    // The position past the end is empty by invariant, so nothing is overwritten below.
    for (int i = dest.slotCount; i > destIndex; --i) {
        dest.slots[i] = dest.slots[i - 1];
    }
    dest.slots[destIndex] = moved;
    ++dest.slotCount;
    if (moved.state != nullptr && moved.vtable != nullptr &&
        moved.vtable->setSampleRate != nullptr && dest.sampleRate != source.sampleRate) {
        moved.vtable->setSampleRate(moved.state, dest.sampleRate);
    }
    return true;
}

bool FXLane::setSlotBypass(int index, bool flag)
{
    if (index < 0 || index >= slotCount) {
        return false;
    }
    slots[index].bypassed = flag;
    return true;
}

bool FXLane::setParam(int index, int knob, float value)
{
    if (index < 0 || index >= slotCount || knob < 0 || knob >= kMaxFXParams ||
        !std::isfinite(value)) {
        return false;
    }
    slots[index].params[knob] = value;
    return true;
}

bool FXLane::bindModulation(int index, int knob, uint8_t source, float depth)
{
    if (index < 0 || index >= slotCount || knob < 0) {
        return false;
    }
    FXSlot& slot = slots[index];
    if (static_cast<uint32_t>(knob) >= slot.paramCount) {
        return false;
    }
    if (source == 0 || source >= kModBusSize) {
        slot.modSource[knob] = 0;
        slot.modDepth[knob] = 0.0f;
    } else {
        slot.modSource[knob] = source;
        slot.modDepth[knob] = clampDepth(depth);
    }
    return true;
}

void FXLane::setSampleRate(double rate)
{
    if (!(rate > 0.0) || !std::isfinite(rate)) {
        return;
    }
    sampleRate = rate;
    for (int i = 0; i < slotCount; ++i) {
        FXSlot& slot = slots[i];
        if (slot.state != nullptr && slot.vtable != nullptr &&
            slot.vtable->setSampleRate != nullptr) {
            slot.vtable->setSampleRate(slot.state, rate);
        }
    }
    const int n = tailSamplesFor(rate);
    tailLeft.assign(static_cast<size_t>(n), 0.0f);
    tailRight.assign(static_cast<size_t>(n), 0.0f);
    fadeLength = 0;
    fadeRemaining = 0;
    fadePosition = 0;
}

void FXLane::buildValues(const FXSlot& slot, const float* modBus, float* out) const
{
    const uint32_t count = slot.paramCount;
    for (uint32_t k = 0; k < static_cast<uint32_t>(kMaxFXParams); ++k) {
        float v = slot.params[k];
        if (k < count) {
            const float lo = slot.paramMin[k];
            const float hi = slot.paramMax[k];
            const uint8_t source = slot.modSource[k];
            if (modBus != nullptr && source != 0 && source < kModBusSize &&
                slot.modDepth[k] != 0.0f) {
                v += slot.modDepth[k] * (hi - lo) * modBus[source];
                v = std::isnan(v) ? lo : std::clamp(v, lo, hi);
            } else if (!std::isfinite(v)) {
                v = lo;
            }
        } else if (!std::isfinite(v)) {
            v = 0.0f;
        }
        out[k] = v;
    }
}

void FXLane::fadeTail(float* left, float* right, unsigned frames)
{
    if (fadeRemaining <= 0 || fadeLength <= 0) {
        return;
    }
    const int n = std::min<int>(fadeRemaining, static_cast<int>(frames));
    const float scale = 1.0f / static_cast<float>(fadeLength);
    for (int i = 0; i < n; ++i) {
        const float gain = static_cast<float>(fadeRemaining - i) * scale;
        left[i] += tailLeft[static_cast<size_t>(fadePosition + i)] * gain;
        right[i] += tailRight[static_cast<size_t>(fadePosition + i)] * gain;
    }
    fadePosition += n;
    fadeRemaining -= n;
}

void FXLane::processInternal(float* left, float* right, unsigned frames, const float* modBus)
{
    if (bypassed || frames == 0) {
        return;
    }
    float values[kMaxFXParams];
    for (int i = 0; i < slotCount; ++i) {
        const FXSlot& slot = slots[i];
        if (!runnable(slot)) {
            continue;
        }
        buildValues(slot, modBus, values);
        slot.vtable->process(left, right, frames, values, slot.state, sampleRate);
    }
    fadeTail(left, right, frames);
}

void FXLane::resetModules()
{
    for (int i = 0; i < slotCount; ++i) {
        FXSlot& slot = slots[i];
        if (slot.state != nullptr && slot.vtable != nullptr && slot.vtable->reset != nullptr) {
            slot.vtable->reset(slot.state);
        }
    }
}

void FXLane::softReset()
{
    const int n = tailLength();
    if (bypassed || slotCount == 0 || n == 0) {
        resetModules();
        fadeLength = 0;
        fadeRemaining = 0;
        fadePosition = 0;
        return;
    }
    std::fill(tailLeft.begin(), tailLeft.end(), 0.0f);
    std::fill(tailRight.begin(), tailRight.end(), 0.0f);
    float values[kMaxFXParams];
    for (int i = 0; i < slotCount; ++i) {
        const FXSlot& slot = slots[i];
        if (!runnable(slot)) {
            continue;
        }
        buildValues(slot, nullptr, values);
        slot.vtable->process(tailLeft.data(), tailRight.data(), static_cast<unsigned>(n), values,
                             slot.state, sampleRate);
    }
    resetModules();
    fadeLength = n;
    fadeRemaining = n;
    fadePosition = 0;
}

void FXLane::exportState(FXLaneState& out) const
{
    out.bypassed = bypassed ? 1 : 0;
    out.muted = muted ? 1 : 0;
    out.soloed = soloed ? 1 : 0;
    const int count = std::clamp(slotCount, 0, kMaxSlots);
    out.slotCount = static_cast<uint8_t>(count);
    for (int i = 0; i < kMaxSlots; ++i) {
        FXSlotState& s = out.slots[i];
        if (i >= count) {
            s = FXSlotState{};
            continue;
        }
        const FXSlot& slot = slots[i];
        s.type = slot.type;
        s.bypassed = slot.bypassed ? 1 : 0;
        std::copy(std::begin(slot.params), std::end(slot.params), s.params);
        std::copy(std::begin(slot.modSource), std::end(slot.modSource), s.modSource);
        std::copy(std::begin(slot.modDepth), std::end(slot.modDepth), s.modDepth);
    }
}

void notifyTriggerInLane(FXLane& lane)
{
    for (int i = 0; i < lane.slotCount; ++i) {
        FXSlot& slot = lane.slots[i];
        if (slot.state == nullptr || slot.type < 1 || slot.type > kNumFXTypes) {
            continue;
        }
        const FXTriggerFunction hook = kModuleTriggerHooks[slot.type - 1u];
        // Only the registered module of that type knows the hook's state layout.
        if (hook != nullptr && slot.vtable == kModuleVTables[slot.type - 1u]) {
            hook(slot.state);
        }
    }
}

LaneRouting computeLaneRouting(bool solo1, bool mute1, bool solo2, bool mute2, bool bus1ToMaster)
{
    LaneRouting r;
    const bool anySolo = solo1 || solo2;
    r.silenceDirect = anySolo;
    const bool audible1 = !mute1 && (solo1 || !anySolo);
    const bool audible2 = !mute2 && (solo2 || !anySolo);
    r.bus1ToOutput = bus1ToMaster || (solo1 && !solo2);
    r.runBus1 = r.bus1ToOutput ? audible1 : (!mute1 && audible2);
    r.runBus2 = audible2;
    return r;
}

} // namespace vesk
