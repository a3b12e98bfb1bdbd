// The FX module contract and the registry of module types.
//
// An FX module is not a class: it is a constant table of five free functions over an opaque
// state block that the lane allocates zero-filled (FXModuleVTable). This keeps the module set
// open (a module is one source file defining a namespace with a kVTable), keeps every call on the
// audio path a plain indirect call with no object model behind it, and lets the lane own all
// memory: a module may allocate in construct/setSampleRate (main thread) but never in process.
//
// The registry (FXRegistry.cpp) is the single catalogue every other part consults for a type's
// name, knobs, ranges, defaults and display mapping. Type ids are stored in saved states and
// presets and never change.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vesk {

// Module type id. Travels as one unsigned byte in slots, commands and saved states; 0 = empty.
enum class FXType : uint32_t
{
    None = 0,
    EQ = 1,
    AirBoost = 2,
    BassBoost = 3,
    Saturate = 4,
    Bitcrusher = 5,
    SubBeast = 6,
    RingMod = 7,
    FreqShift = 8,
    Barberpole = 9,
    Disperser = 10,
    Transient = 11,
    Tremolo = 12,
    Chorus = 13,
    Flanger = 14,
    Phaser = 15,
    Pitch = 16,
    TapeStartStop = 17,
    Delay = 18,
    PitchDelay = 19,
    Reverb = 20,
    Haas = 21,
    Image = 22,
    Halo = 23,
    MicroModal = 24,
    Prism = 25,
    SpecBlur = 26,
    SpecGate = 27,
    Granular = 28,
    Doppler = 29,
    HPSS = 30,
};

inline constexpr int kNumFXTypes = 30;
// Knob values carried per slot; a module reads only its first paramCount of them.
inline constexpr int kMaxFXParams = 16;

// How the editor maps a knob position onto its display range. Display only: the engine never
// uses it.
enum class DisplayCurve : uint8_t
{
    Linear = 0,
    Square = 1,
    Quartic = 2,
    Exponential = 3,
    Bipolar = 4,
    Custom = 5,
};

using DisplayFunction = float (*)(float knobPosition);

struct FXModuleVTable
{
    // Bytes of the module's state block (the lane allocates it zero-filled). Never 0 for the
    // registered types.
    uint64_t stateSize;
    // [main thread] Initialises the zero-filled block for the given rate. May allocate.
    void (*construct)(void* state, double sampleRate);
    // [main thread] Releases what construct allocated; the lane frees the block itself.
    void (*destroy)(void* state);
    // [audio thread] Clears all signal history, keeps the configuration. Must not allocate.
    void (*reset)(void* state);
    // [main thread, not processing] Re-derives rate-dependent quantities. May reallocate.
    void (*setSampleRate)(void* state, double sampleRate);
    // [audio thread] Processes frames stereo samples in place. params points at the slot's 16
    // knob values (already modulated and clamped by the lane). Must not allocate or block.
    void (*process)(float* left, float* right, unsigned frames, const float* params, void* state,
                    double sampleRate);
};

// [audio thread] Told that a trigger may start a new sound (see notifyTriggerInLane). Only the
// types that restart something on a trigger have one (kModuleTriggerHooks); must not allocate.
using FXTriggerFunction = void (*)(void* state);

// One registry record. Optional arrays are null for a type that has none; every array has
// paramCount entries, and no code reads past that count.
struct FXModuleInfo
{
    FXType type;
    const char* name;    // display name; also the module's key in FX-chain presets
    uint32_t paramCount; // 2..8, never more than kMaxFXParams
    uint32_t rowCount;   // card rows, 1 or 2
    const char* const* paramNames;
    const float* paramDefaults;
    const float* paramMin;
    const float* paramMax;
    const int* paramRows;
    const FXModuleVTable* vtable; // null while a type has no implementation
    const int* paramSteps;        // optional; below 2 = continuous
    const char* const* paramSuffixes;
    const bool* paramHideStepTicks;            // optional
    const float* paramDisplayMin;              // optional (with max and curve)
    const float* paramDisplayMax;              // optional
    const DisplayCurve* paramDisplayCurve;     // optional
    const int* paramDisplayPrecision;          // optional; absent = 1 decimal
    const DisplayFunction* paramDisplayCustom; // optional; entries may be null
};

// [any thread] The record of a type, or null outside 1..30.
const FXModuleInfo* getFXModuleInfo(FXType type);
// [any thread] Same, for a type id as it travels in bytes and saved states.
const FXModuleInfo* getFXModuleInfo(uint32_t typeId);

namespace detail {
// All thirty records in menu order: ids 1..27, then 30, 28, 29.
extern const std::array<FXModuleInfo, kNumFXTypes> kRegistry;
} // namespace detail

// [any thread] Knob position t in 0..1 of a value: clamp((v - min) / (max - min), 0, 1); 0 when
// max <= min or v is not a number.
float knobPosition(float value, float minValue, float maxValue);

// [any thread] The number the editor shows for a knob value (the display mapping of the knob's
// curve); the raw value when the knob has no display mapping.
float displayValue(const FXModuleInfo& info, uint32_t knob, float value);

// [any thread] The knob's display text: the display value with the knob's decimals, a blank and
// its suffix; Bipolar positive values carry a leading "+". Writes at most bufferSize bytes
// (always terminated) and returns buffer. Does not allocate. An out-of-range knob gives "".
char* formatDisplayValue(const FXModuleInfo& info, uint32_t knob, float value, char* buffer,
                         size_t bufferSize);

// [any thread] The editor's snapping of a stepped knob (steps >= 2); other values are returned
// unchanged.
float snapToSteps(float value, float minValue, float maxValue, int steps);

} // namespace vesk
