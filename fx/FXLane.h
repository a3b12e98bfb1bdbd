// One FX bus: an ordered chain of up to 40 module slots processing a stereo buffer in place.
//
// The lane owns its modules' state blocks and is the only code that calls the module function
// tables. Slots are plain data held inline (values, modulation bindings, the block and its table
// travel together when a slot moves), so processing never allocates: the modulated knob values are
// built in a local array per slot and the tail buffers are sized only on a rate change.
//
// Threads: every mutation runs on the main thread under the instance's state mutex; processing,
// soft reset and trigger notification run on the audio thread under the same mutex (an offline
// render's private lanes belong to its worker). No field needs atomic access.
#pragma once

#include "engine/Config.h"
#include "fx/FXModule.h"

#include <cstdint>
#include <vector>

namespace vesk {

// Source of a knob's modulation: an index into the five-entry modulation bus.
enum class ModSource : uint8_t
{
    None = 0,
    Pressure = 1, // 0..1
    Slide = 2,    // 0..1
    Bend = 3,     // -1..1
    Velocity = 4, // 0..1
};

struct FXSlot
{
    uint8_t type = 0; // FXType id, 0 = empty
    bool bypassed = false;
    float params[kMaxFXParams] = {};      // knob values in the registry's units
    uint8_t modSource[kMaxFXParams] = {}; // ModSource per knob
    float modDepth[kMaxFXParams] = {};    // -1..1, 0 when the source is None
    void* state = nullptr;                // owned, zero-filled, stateSize bytes
    const FXModuleVTable* vtable = nullptr;
    const float* paramMin = nullptr; // the registry's kParamMin of the type (paramCount entries)
    const float* paramMax = nullptr;
    uint32_t paramCount = 0; // knobs the type has; bounds and bindings exist only below it
};

// Plain-data image of a slot, as published to the editor and carried by presets.
struct FXSlotState
{
    uint8_t type = 0;
    uint8_t bypassed = 0;
    float params[kMaxFXParams] = {};
    uint8_t modSource[kMaxFXParams] = {};
    float modDepth[kMaxFXParams] = {};
};

struct FXLaneState
{
    uint8_t bypassed = 0;
    uint8_t muted = 0;
    uint8_t soloed = 0;
    uint8_t slotCount = 0; // 0..40; readers clamp it
    FXSlotState slots[kMaxSlots];
};

// A module's state block built before the state mutex is taken: constructing some modules is
// slow (a pitch shifter builds its whole engine), and the audio thread must not lose blocks to it.
struct PreparedModule
{
    const FXModuleVTable* vtable = nullptr;
    void* state = nullptr; // owned until a slot takes it
    double rate = 0.0;     // the rate it was constructed at
};

class FXLane
{
public:
    // What happened to one entry of a transported chain.
    enum class AppendResult
    {
        Appended,
        Skipped, // unknown type or a type without an implementation
        Full,
    };

    FXLane();
    ~FXLane();
    FXLane(const FXLane&) = delete;
    FXLane& operator=(const FXLane&) = delete;

    // [main thread] Takes position slotCount (destroying whatever module it still held), stores the
    // type, table and bounds, allocates and constructs the state block. Returns the position, or -1
    // when 40 slots are in use. paramCount is the number of knobs the bounds cover.
    // `prepared`, when it holds a block of this table built at the lane's rate, is taken instead
    // of building one here.
    int appendSlot(FXType type, const FXModuleVTable* vtable, const float* paramMin,
                   const float* paramMax, uint32_t paramCount, PreparedModule* prepared = nullptr);
    // [main thread] appendSlot with the registry's record of typeId (none outside 1..30: an
    // empty-handed slot that processes as nothing), then the record's defaults.
    int appendModule(uint32_t typeId, PreparedModule* prepared = nullptr);
    // [main thread] One entry of a transported chain: n values, sources and depths for the first
    // knobs. Types outside 1..30 or without an implementation are skipped; non-finite values keep
    // the default; sources above 4 become None.
    AppendResult appendChainEntry(uint32_t typeId, bool bypass, uint32_t n, const float* values,
                                  const uint8_t* sources, const float* depths,
                                  PreparedModule* prepared = nullptr);
    // [main thread] Destroys the slot's module and closes the gap. False for an unused index.
    // With `detached`, the slot's module is handed over instead of destroyed, so the caller can
    // destroy it after releasing the state mutex (destroyDetached).
    bool removeSlot(int index, FXSlot* detached = nullptr);

    // [main thread, without the state mutex] Builds the state block of a type at a rate; empty
    // for types without an implementation or without state.
    static PreparedModule prepareModule(uint32_t typeId, double rate);
    // [main thread] Destroys a prepared block no slot took.
    static void discardPrepared(PreparedModule& module);
    // [main thread] Destroys the module of a slot removed with `detached`.
    static void destroyDetached(FXSlot& slot);
    // [main thread] Moves a slot with its module state; destIndex is an insertion point counted
    // before the removal. Returns true when something moved. Indices are checked before anything is
    // lifted out: a cross-lane destination beyond the destination's slot count is refused.
    static bool moveSlot(FXLane& source, int sourceIndex, FXLane& dest, int destIndex);

    // [main thread] Per-slot settings; each returns false and changes nothing when refused (unused
    // slot, knob outside the type's knobs, non-finite value).
    bool setSlotBypass(int index, bool flag);
    bool setParam(int index, int knob, float value);
    // A source above 4 becomes None; depth 0 for None, else clamped to -1..1 (NaN gives -1).
    bool bindModulation(int index, int knob, uint8_t source, float depth);

    // [main thread, not processing] Stores the rate, re-derives every module's rate-dependent state
    // and re-sizes the 10 ms tail buffers (allocates).
    void setSampleRate(double rate);

    // [audio thread] Runs the chain in place over frames (at most what the caller's buffers hold)
    // and adds the fading tail. modBus: the five modulation values, or null for unmodulated knobs.
    void processInternal(float* left, float* right, unsigned frames, const float* modBus);
    // [audio thread] Captures the next 10 ms of the chain's ring-out into the tail, resets every
    // module and starts fading the tail out over the following blocks.
    void softReset();
    // [audio thread] Clears every module's history without a tail (hard stop).
    void resetModules();

    // [main thread] The lane's plain-data image.
    void exportState(FXLaneState& out) const;

    int tailLength() const { return static_cast<int>(tailLeft.size()); }

    bool bypassed = false;
    FXSlot slots[kMaxSlots];
    int32_t slotCount = 0;
    double sampleRate = 48000.0;
    bool muted = false;
    bool soloed = false;
    std::vector<float> tailLeft;
    std::vector<float> tailRight;
    int32_t fadeLength = 0;
    int32_t fadeRemaining = 0;
    int32_t fadePosition = 0;

private:
    void destroySlot(FXSlot& slot);
    void buildValues(const FXSlot& slot, const float* modBus, float* out) const;
    void fadeTail(float* left, float* right, unsigned frames);
};

// [audio thread] Tells every used slot with a state block (bypassed ones included) that a trigger
// may have started a sound; only the types with a trigger hook react.
void notifyTriggerInLane(FXLane& lane);

// Which buses run and where bus 1 goes, from the lane flags and the bus 1 route (true: bus 1 to
// the master, "-> M"; false: bus 1 feeds bus 2, "-> 2").
struct LaneRouting
{
    bool silenceDirect = false; // a bus is soloed: pools routed straight to the master are dropped
    bool runBus1 = false;
    bool bus1ToOutput = false; // false: bus 1 is added to bus 2's input
    bool runBus2 = false;
};

// [any thread]
LaneRouting computeLaneRouting(bool solo1, bool mute1, bool solo2, bool mute2, bool bus1ToMaster);

} // namespace vesk
