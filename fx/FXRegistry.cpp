// The registry of module types: thirty constant records in menu order, and the display mapping
// the editor applies to knob values.
#include "fx/FXModule.h"
#include "fx/FXKnobs.h"
#include "fx/FXVTables.h"

#include <cmath>
#include <cstdio>

namespace vesk {

namespace {

// Builds one record; the array references make the compiler check that every per-knob array of a
// type has exactly paramCount entries.
template <size_t N>
constexpr FXModuleInfo
record(FXType type, const char* name, uint32_t rows, const char* const (&names)[N],
       const float (&defaults)[N], const float (&mins)[N], const float (&maxs)[N],
       const int (&knobRows)[N], const char* const (&suffixes)[N], const int* steps,
       const bool* hideTicks, const float* displayMin, const float* displayMax,
       const DisplayCurve* curve, const int* precision, const DisplayFunction* custom)
{
    static_assert(N >= 1 && N <= static_cast<size_t>(kMaxFXParams),
                  "a module has at most 16 knobs");
    return FXModuleInfo{
        type,     name,      N,         rows,       names,
        defaults, mins,      maxs,      knobRows,   kModuleVTables[static_cast<size_t>(type) - 1],
        steps,    suffixes,  hideTicks, displayMin, displayMax,
        curve,    precision, custom};
}

} // namespace

namespace detail {

constexpr std::array<FXModuleInfo, kNumFXTypes> kRegistry = {
    record(FXType::EQ, "EQ", 2, EQFX::kParamNames, EQFX::kParamDefaults, EQFX::kParamMin,
           EQFX::kParamMax, EQFX::kParamRows, EQFX::kParamSuffixes, nullptr, nullptr,
           EQFX::kParamDisplayMin, EQFX::kParamDisplayMax, EQFX::kParamDisplayCurve,
           EQFX::kParamDisplayPrecision, nullptr),
    record(FXType::AirBoost, "Air Boost", 1, Air3FX::kParamNames, Air3FX::kParamDefaults,
           Air3FX::kParamMin, Air3FX::kParamMax, Air3FX::kParamRows, Air3FX::kParamSuffixes,
           nullptr, nullptr, Air3FX::kParamDisplayMin, Air3FX::kParamDisplayMax,
           Air3FX::kParamDisplayCurve, Air3FX::kParamDisplayPrecision, nullptr),
    record(FXType::BassBoost, "Bass Boost", 1, WeightFX::kParamNames, WeightFX::kParamDefaults,
           WeightFX::kParamMin, WeightFX::kParamMax, WeightFX::kParamRows, WeightFX::kParamSuffixes,
           nullptr, nullptr, WeightFX::kParamDisplayMin, WeightFX::kParamDisplayMax,
           WeightFX::kParamDisplayCurve, WeightFX::kParamDisplayPrecision, nullptr),
    record(FXType::Saturate, "Saturate", 2, SaturateFX::kParamNames, SaturateFX::kParamDefaults,
           SaturateFX::kParamMin, SaturateFX::kParamMax, SaturateFX::kParamRows,
           SaturateFX::kParamSuffixes, SaturateFX::kParamSteps, nullptr,
           SaturateFX::kParamDisplayMin, SaturateFX::kParamDisplayMax,
           SaturateFX::kParamDisplayCurve, SaturateFX::kParamDisplayPrecision, nullptr),
    record(FXType::Bitcrusher, "Bitcrusher", 1, BitcrusherFX::kParamNames,
           BitcrusherFX::kParamDefaults, BitcrusherFX::kParamMin, BitcrusherFX::kParamMax,
           BitcrusherFX::kParamRows, BitcrusherFX::kParamSuffixes, nullptr, nullptr,
           BitcrusherFX::kParamDisplayMin, BitcrusherFX::kParamDisplayMax,
           BitcrusherFX::kParamDisplayCurve, BitcrusherFX::kParamDisplayPrecision, nullptr),
    record(FXType::SubBeast, "SubBeast", 2, SubBeastFX::kParamNames, SubBeastFX::kParamDefaults,
           SubBeastFX::kParamMin, SubBeastFX::kParamMax, SubBeastFX::kParamRows,
           SubBeastFX::kParamSuffixes, nullptr, nullptr, SubBeastFX::kParamDisplayMin,
           SubBeastFX::kParamDisplayMax, SubBeastFX::kParamDisplayCurve,
           SubBeastFX::kParamDisplayPrecision, nullptr),
    record(FXType::RingMod, "RingMod", 1, RingModFX::kParamNames, RingModFX::kParamDefaults,
           RingModFX::kParamMin, RingModFX::kParamMax, RingModFX::kParamRows,
           RingModFX::kParamSuffixes, RingModFX::kParamSteps, nullptr, RingModFX::kParamDisplayMin,
           RingModFX::kParamDisplayMax, RingModFX::kParamDisplayCurve,
           RingModFX::kParamDisplayPrecision, nullptr),
    record(FXType::FreqShift, "FreqShift", 1, FreqShifterFX::kParamNames,
           FreqShifterFX::kParamDefaults, FreqShifterFX::kParamMin, FreqShifterFX::kParamMax,
           FreqShifterFX::kParamRows, FreqShifterFX::kParamSuffixes, nullptr, nullptr,
           FreqShifterFX::kParamDisplayMin, FreqShifterFX::kParamDisplayMax,
           FreqShifterFX::kParamDisplayCurve, FreqShifterFX::kParamDisplayPrecision,
           FreqShifterFX::kParamDisplayCustom),
    record(FXType::Barberpole, "Barberpole", 2, BarberpoleFX::kParamNames,
           BarberpoleFX::kParamDefaults, BarberpoleFX::kParamMin, BarberpoleFX::kParamMax,
           BarberpoleFX::kParamRows, BarberpoleFX::kParamSuffixes, BarberpoleFX::kParamSteps,
           nullptr, BarberpoleFX::kParamDisplayMin, BarberpoleFX::kParamDisplayMax,
           BarberpoleFX::kParamDisplayCurve, BarberpoleFX::kParamDisplayPrecision, nullptr),
    record(FXType::Disperser, "Disperser", 2, DisperserFX::kParamNames, DisperserFX::kParamDefaults,
           DisperserFX::kParamMin, DisperserFX::kParamMax, DisperserFX::kParamRows,
           DisperserFX::kParamSuffixes, nullptr, nullptr, DisperserFX::kParamDisplayMin,
           DisperserFX::kParamDisplayMax, DisperserFX::kParamDisplayCurve,
           DisperserFX::kParamDisplayPrecision, nullptr),
    record(FXType::Transient, "Transient", 1, TransientFX::kParamNames, TransientFX::kParamDefaults,
           TransientFX::kParamMin, TransientFX::kParamMax, TransientFX::kParamRows,
           TransientFX::kParamSuffixes, nullptr, nullptr, TransientFX::kParamDisplayMin,
           TransientFX::kParamDisplayMax, TransientFX::kParamDisplayCurve,
           TransientFX::kParamDisplayPrecision, nullptr),
    record(FXType::Tremolo, "Tremolo", 1, TremoloFX::kParamNames, TremoloFX::kParamDefaults,
           TremoloFX::kParamMin, TremoloFX::kParamMax, TremoloFX::kParamRows,
           TremoloFX::kParamSuffixes, nullptr, nullptr, TremoloFX::kParamDisplayMin,
           TremoloFX::kParamDisplayMax, TremoloFX::kParamDisplayCurve,
           TremoloFX::kParamDisplayPrecision, nullptr),
    record(FXType::Chorus, "Chorus", 1, ChorusFX::kParamNames, ChorusFX::kParamDefaults,
           ChorusFX::kParamMin, ChorusFX::kParamMax, ChorusFX::kParamRows, ChorusFX::kParamSuffixes,
           nullptr, nullptr, ChorusFX::kParamDisplayMin, ChorusFX::kParamDisplayMax,
           ChorusFX::kParamDisplayCurve, ChorusFX::kParamDisplayPrecision, nullptr),
    record(FXType::Flanger, "Flanger", 2, FlangerFX::kParamNames, FlangerFX::kParamDefaults,
           FlangerFX::kParamMin, FlangerFX::kParamMax, FlangerFX::kParamRows,
           FlangerFX::kParamSuffixes, nullptr, nullptr, FlangerFX::kParamDisplayMin,
           FlangerFX::kParamDisplayMax, FlangerFX::kParamDisplayCurve,
           FlangerFX::kParamDisplayPrecision, nullptr),
    record(FXType::Phaser, "Phaser", 1, PhaserFX::kParamNames, PhaserFX::kParamDefaults,
           PhaserFX::kParamMin, PhaserFX::kParamMax, PhaserFX::kParamRows, PhaserFX::kParamSuffixes,
           nullptr, nullptr, PhaserFX::kParamDisplayMin, PhaserFX::kParamDisplayMax,
           PhaserFX::kParamDisplayCurve, PhaserFX::kParamDisplayPrecision, nullptr),
    record(FXType::Pitch, "Pitch", 1, PitchFX::kParamNames, PitchFX::kParamDefaults,
           PitchFX::kParamMin, PitchFX::kParamMax, PitchFX::kParamRows, PitchFX::kParamSuffixes,
           PitchFX::kParamSteps, PitchFX::kParamHideStepTicks, PitchFX::kParamDisplayMin,
           PitchFX::kParamDisplayMax, PitchFX::kParamDisplayCurve, PitchFX::kParamDisplayPrecision,
           nullptr),
    record(FXType::TapeStartStop, "TapeStartStop", 1, TapeStartStopFX::kParamNames,
           TapeStartStopFX::kParamDefaults, TapeStartStopFX::kParamMin, TapeStartStopFX::kParamMax,
           TapeStartStopFX::kParamRows, TapeStartStopFX::kParamSuffixes, nullptr, nullptr, nullptr,
           nullptr, nullptr, nullptr, nullptr),
    record(FXType::Delay, "Delay", 1, DelayFX::kParamNames, DelayFX::kParamDefaults,
           DelayFX::kParamMin, DelayFX::kParamMax, DelayFX::kParamRows, DelayFX::kParamSuffixes,
           nullptr, nullptr, DelayFX::kParamDisplayMin, DelayFX::kParamDisplayMax,
           DelayFX::kParamDisplayCurve, DelayFX::kParamDisplayPrecision, nullptr),
    record(FXType::PitchDelay, "PitchDelay", 1, PitchDelayFX::kParamNames,
           PitchDelayFX::kParamDefaults, PitchDelayFX::kParamMin, PitchDelayFX::kParamMax,
           PitchDelayFX::kParamRows, PitchDelayFX::kParamSuffixes, nullptr, nullptr,
           PitchDelayFX::kParamDisplayMin, PitchDelayFX::kParamDisplayMax,
           PitchDelayFX::kParamDisplayCurve, PitchDelayFX::kParamDisplayPrecision, nullptr),
    record(FXType::Reverb, "Reverb", 1, ReverbFX::kParamNames, ReverbFX::kParamDefaults,
           ReverbFX::kParamMin, ReverbFX::kParamMax, ReverbFX::kParamRows, ReverbFX::kParamSuffixes,
           nullptr, nullptr, ReverbFX::kParamDisplayMin, ReverbFX::kParamDisplayMax,
           ReverbFX::kParamDisplayCurve, ReverbFX::kParamDisplayPrecision, nullptr),
    record(FXType::Haas, "Haas", 1, HaasFX::kParamNames, HaasFX::kParamDefaults, HaasFX::kParamMin,
           HaasFX::kParamMax, HaasFX::kParamRows, HaasFX::kParamSuffixes, nullptr, nullptr,
           HaasFX::kParamDisplayMin, HaasFX::kParamDisplayMax, HaasFX::kParamDisplayCurve,
           HaasFX::kParamDisplayPrecision, nullptr),
    record(FXType::Image, "Image", 1, ImageFX::kParamNames, ImageFX::kParamDefaults,
           ImageFX::kParamMin, ImageFX::kParamMax, ImageFX::kParamRows, ImageFX::kParamSuffixes,
           nullptr, nullptr, ImageFX::kParamDisplayMin, ImageFX::kParamDisplayMax,
           ImageFX::kParamDisplayCurve, ImageFX::kParamDisplayPrecision, nullptr),
    record(FXType::Halo, "Halo", 1, HaloFX::kParamNames, HaloFX::kParamDefaults, HaloFX::kParamMin,
           HaloFX::kParamMax, HaloFX::kParamRows, HaloFX::kParamSuffixes, HaloFX::kParamSteps,
           HaloFX::kParamHideStepTicks, HaloFX::kParamDisplayMin, HaloFX::kParamDisplayMax,
           HaloFX::kParamDisplayCurve, HaloFX::kParamDisplayPrecision, nullptr),
    record(FXType::MicroModal, "Micro Modal", 1, MicroModalFX::kParamNames,
           MicroModalFX::kParamDefaults, MicroModalFX::kParamMin, MicroModalFX::kParamMax,
           MicroModalFX::kParamRows, MicroModalFX::kParamSuffixes, MicroModalFX::kParamSteps,
           MicroModalFX::kParamHideStepTicks, MicroModalFX::kParamDisplayMin,
           MicroModalFX::kParamDisplayMax, MicroModalFX::kParamDisplayCurve,
           MicroModalFX::kParamDisplayPrecision, nullptr),
    record(FXType::Prism, "Prism", 2, HarmonicPrismFX::kParamNames, HarmonicPrismFX::kParamDefaults,
           HarmonicPrismFX::kParamMin, HarmonicPrismFX::kParamMax, HarmonicPrismFX::kParamRows,
           HarmonicPrismFX::kParamSuffixes, HarmonicPrismFX::kParamSteps,
           HarmonicPrismFX::kParamHideStepTicks, HarmonicPrismFX::kParamDisplayMin,
           HarmonicPrismFX::kParamDisplayMax, HarmonicPrismFX::kParamDisplayCurve,
           HarmonicPrismFX::kParamDisplayPrecision, nullptr),
    record(FXType::SpecBlur, "SpecBlur", 1, SpectralBlurFX::kParamNames,
           SpectralBlurFX::kParamDefaults, SpectralBlurFX::kParamMin, SpectralBlurFX::kParamMax,
           SpectralBlurFX::kParamRows, SpectralBlurFX::kParamSuffixes, nullptr, nullptr,
           SpectralBlurFX::kParamDisplayMin, SpectralBlurFX::kParamDisplayMax,
           SpectralBlurFX::kParamDisplayCurve, SpectralBlurFX::kParamDisplayPrecision, nullptr),
    record(FXType::SpecGate, "SpecGate", 1, SpectralGateHoldFX::kParamNames,
           SpectralGateHoldFX::kParamDefaults, SpectralGateHoldFX::kParamMin,
           SpectralGateHoldFX::kParamMax, SpectralGateHoldFX::kParamRows,
           SpectralGateHoldFX::kParamSuffixes, nullptr, nullptr,
           SpectralGateHoldFX::kParamDisplayMin, SpectralGateHoldFX::kParamDisplayMax,
           SpectralGateHoldFX::kParamDisplayCurve, SpectralGateHoldFX::kParamDisplayPrecision,
           nullptr),
    record(FXType::HPSS, "HPSS", 1, HPSSFX::kParamNames, HPSSFX::kParamDefaults, HPSSFX::kParamMin,
           HPSSFX::kParamMax, HPSSFX::kParamRows, HPSSFX::kParamSuffixes, nullptr, nullptr,
           HPSSFX::kParamDisplayMin, HPSSFX::kParamDisplayMax, HPSSFX::kParamDisplayCurve,
           HPSSFX::kParamDisplayPrecision, nullptr),
    record(FXType::Granular, "Granular", 2, GranulationFX::kParamNames,
           GranulationFX::kParamDefaults, GranulationFX::kParamMin, GranulationFX::kParamMax,
           GranulationFX::kParamRows, GranulationFX::kParamSuffixes, nullptr, nullptr,
           GranulationFX::kParamDisplayMin, GranulationFX::kParamDisplayMax,
           GranulationFX::kParamDisplayCurve, GranulationFX::kParamDisplayPrecision, nullptr),
    record(FXType::Doppler, "Doppler", 2, DopplerFX::kParamNames, DopplerFX::kParamDefaults,
           DopplerFX::kParamMin, DopplerFX::kParamMax, DopplerFX::kParamRows,
           DopplerFX::kParamSuffixes, nullptr, nullptr, DopplerFX::kParamDisplayMin,
           DopplerFX::kParamDisplayMax, DopplerFX::kParamDisplayCurve,
           DopplerFX::kParamDisplayPrecision, nullptr),
};

} // namespace detail

namespace {

// Index by id - 1 into kRegistry, so lookups do not depend on the menu order.
constexpr std::array<const FXModuleInfo*, kNumFXTypes> makeLookup()
{
    std::array<const FXModuleInfo*, kNumFXTypes> table{};
    for (const FXModuleInfo& info : detail::kRegistry) {
        table[static_cast<size_t>(info.type) - 1] = &info;
    }
    return table;
}

constexpr std::array<const FXModuleInfo*, kNumFXTypes> kLookup = makeLookup();

constexpr bool lookupComplete()
{
    for (size_t i = 0; i < kLookup.size(); ++i) {
        if (kLookup[i] == nullptr || static_cast<size_t>(kLookup[i]->type) != i + 1) {
            return false;
        }
    }
    return true;
}
static_assert(lookupComplete(), "every type id 1..30 has exactly one record");

} // namespace

const FXModuleInfo* getFXModuleInfo(uint32_t typeId)
{
    if (typeId < 1 || typeId > static_cast<uint32_t>(kNumFXTypes)) {
        return nullptr;
    }
    return kLookup[typeId - 1];
}

const FXModuleInfo* getFXModuleInfo(FXType type)
{
    return getFXModuleInfo(static_cast<uint32_t>(type));
}

float knobPosition(float value, float minValue, float maxValue)
{
    if (!(maxValue > minValue)) {
        return 0.0f;
    }
    const float t = (value - minValue) / (maxValue - minValue);
    if (!(t > 0.0f)) {
        return 0.0f;
    }
    return t < 1.0f ? t : 1.0f;
}

namespace {

bool hasDisplayMapping(const FXModuleInfo& info)
{
    return info.paramDisplayMin != nullptr && info.paramDisplayMax != nullptr &&
           info.paramDisplayCurve != nullptr;
}

} // namespace

float displayValue(const FXModuleInfo& info, uint32_t knob, float value)
{
    if (knob >= info.paramCount) {
        return 0.0f;
    }
    if (!hasDisplayMapping(info)) {
        return value;
    }
    const float t = knobPosition(value, info.paramMin[knob], info.paramMax[knob]);
    const float dmin = info.paramDisplayMin[knob];
    const float dmax = info.paramDisplayMax[knob];
    const float linear = dmin + t * (dmax - dmin);
    switch (info.paramDisplayCurve[knob]) {
    case DisplayCurve::Linear:
        return linear;
    case DisplayCurve::Square:
        return dmin + t * t * (dmax - dmin);
    case DisplayCurve::Quartic:
        return dmin + t * t * t * t * (dmax - dmin);
    case DisplayCurve::Exponential:
        return dmin > 0.0f ? dmin * std::pow(dmax / dmin, t) : linear;
    case DisplayCurve::Bipolar:
        return dmax * (2.0f * t - 1.0f);
    case DisplayCurve::Custom:
        if (info.paramDisplayCustom != nullptr && info.paramDisplayCustom[knob] != nullptr) {
            return info.paramDisplayCustom[knob](t);
        }
        return linear;
    }
    return linear;
}

char* formatDisplayValue(const FXModuleInfo& info, uint32_t knob, float value, char* buffer,
                         size_t bufferSize)
{
    if (buffer == nullptr || bufferSize == 0) {
        return buffer;
    }
    buffer[0] = '\0';
    if (knob >= info.paramCount) {
        return buffer;
    }
    int decimals = info.paramDisplayPrecision != nullptr ? info.paramDisplayPrecision[knob] : 1;
    decimals = decimals < 0 ? 0 : (decimals > 6 ? 6 : decimals);
    float d = displayValue(info, knob, value);
    if (!std::isfinite(d)) {
        d = 0.0f;
    }
    if (decimals == 0) {
        d = std::round(d);
    }
    if (d == 0.0f) {
        d = 0.0f; // no "-0"
    }
    const bool plus = hasDisplayMapping(info) &&
                      info.paramDisplayCurve[knob] == DisplayCurve::Bipolar && d > 0.0f;
    const char* suffix = info.paramSuffixes != nullptr ? info.paramSuffixes[knob] : "";
    std::snprintf(buffer, bufferSize, "%s%.*f%s%s", plus ? "+" : "", decimals,
                  static_cast<double>(d), suffix[0] != '\0' ? " " : "", suffix);
    return buffer;
}

float snapToSteps(float value, float minValue, float maxValue, int steps)
{
    if (steps < 2 || !(maxValue > minValue) || !std::isfinite(value)) {
        return value;
    }
    const float range = maxValue - minValue;
    float k = std::round((value - minValue) / range * static_cast<float>(steps - 1));
    k = k < 0.0f ? 0.0f : (k > static_cast<float>(steps - 1) ? static_cast<float>(steps - 1) : k);
    return minValue + range * k / static_cast<float>(steps - 1);
}

} // namespace vesk
