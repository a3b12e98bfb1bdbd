// Which module types have an implementation: one entry per type id, in id order. A type whose
// entry is null is listed in the registry but cannot be added to a lane yet.
//
// The table is a constant expression (addresses of the modules' kVTable constants), so the
// registry records that point into it are constant-initialised and usable from any static
// initialiser. To register a new module, define its kVTable in fx/modules/<Name>FX.cpp and replace
// its nullptr below by the address.
#pragma once

#include "fx/FXModule.h"

namespace vesk {

namespace EQFX {
extern const FXModuleVTable kVTable;
}
namespace Air3FX {
extern const FXModuleVTable kVTable;
}
namespace WeightFX {
extern const FXModuleVTable kVTable;
}
namespace SaturateFX {
extern const FXModuleVTable kVTable;
}
namespace BitcrusherFX {
extern const FXModuleVTable kVTable;
}
namespace SubBeastFX {
extern const FXModuleVTable kVTable;
}
namespace RingModFX {
extern const FXModuleVTable kVTable;
}
namespace FreqShifterFX {
extern const FXModuleVTable kVTable;
}
namespace BarberpoleFX {
extern const FXModuleVTable kVTable;
}
namespace DisperserFX {
extern const FXModuleVTable kVTable;
}
namespace TransientFX {
extern const FXModuleVTable kVTable;
}
namespace TremoloFX {
extern const FXModuleVTable kVTable;
}
namespace ChorusFX {
extern const FXModuleVTable kVTable;
}
namespace FlangerFX {
extern const FXModuleVTable kVTable;
}
namespace PhaserFX {
extern const FXModuleVTable kVTable;
}
namespace PitchFX {
extern const FXModuleVTable kVTable;
}
namespace TapeStartStopFX {
extern const FXModuleVTable kVTable;
void notifyTrigger(void* state);
} // namespace TapeStartStopFX
namespace DelayFX {
extern const FXModuleVTable kVTable;
}
namespace PitchDelayFX {
extern const FXModuleVTable kVTable;
}
namespace ReverbFX {
extern const FXModuleVTable kVTable;
void notifyTrigger(void* state);
} // namespace ReverbFX
namespace HaasFX {
extern const FXModuleVTable kVTable;
}
namespace ImageFX {
extern const FXModuleVTable kVTable;
}
namespace HaloFX {
extern const FXModuleVTable kVTable;
}
namespace MicroModalFX {
extern const FXModuleVTable kVTable;
}
namespace HarmonicPrismFX {
extern const FXModuleVTable kVTable;
}
namespace SpectralBlurFX {
extern const FXModuleVTable kVTable;
}
namespace SpectralGateHoldFX {
extern const FXModuleVTable kVTable;
}
namespace GranulationFX {
extern const FXModuleVTable kVTable;
}
namespace DopplerFX {
extern const FXModuleVTable kVTable;
void notifyTrigger(void* state);
} // namespace DopplerFX
namespace HPSSFX {
extern const FXModuleVTable kVTable;
void notifyTrigger(void* state);
} // namespace HPSSFX

inline constexpr std::array<const FXModuleVTable*, kNumFXTypes> kModuleVTables = {
    &EQFX::kVTable,               // 1
    &Air3FX::kVTable,             // 2
    &WeightFX::kVTable,           // 3
    &SaturateFX::kVTable,         // 4
    &BitcrusherFX::kVTable,       // 5
    &SubBeastFX::kVTable,         // 6
    &RingModFX::kVTable,          // 7
    &FreqShifterFX::kVTable,      // 8
    &BarberpoleFX::kVTable,       // 9
    &DisperserFX::kVTable,        // 10
    &TransientFX::kVTable,        // 11
    &TremoloFX::kVTable,          // 12
    &ChorusFX::kVTable,           // 13
    &FlangerFX::kVTable,          // 14
    &PhaserFX::kVTable,           // 15
    &PitchFX::kVTable,            // 16
    &TapeStartStopFX::kVTable,    // 17
    &DelayFX::kVTable,            // 18
    &PitchDelayFX::kVTable,       // 19
    &ReverbFX::kVTable,           // 20
    &HaasFX::kVTable,             // 21
    &ImageFX::kVTable,            // 22
    &HaloFX::kVTable,             // 23
    &MicroModalFX::kVTable,       // 24
    &HarmonicPrismFX::kVTable,    // 25
    &SpectralBlurFX::kVTable,     // 26
    &SpectralGateHoldFX::kVTable, // 27
    &GranulationFX::kVTable,      // 28
    &DopplerFX::kVTable,          // 29
    &HPSSFX::kVTable,             // 30
};

// Trigger notification per type id, in id order: the function the lane calls on a slot's state
// block after a trigger (TapeStartStop, Reverb, Doppler and HPSS restart something; all other
// types ignore triggers and keep nullptr). Those four define `notifyTrigger` (declared above) in
// their source and put its address here.
inline constexpr std::array<FXTriggerFunction, kNumFXTypes> kModuleTriggerHooks = {
    nullptr,                         // 1 EQFX
    nullptr,                         // 2 Air3FX
    nullptr,                         // 3 WeightFX
    nullptr,                         // 4 SaturateFX
    nullptr,                         // 5 BitcrusherFX
    nullptr,                         // 6 SubBeastFX
    nullptr,                         // 7 RingModFX
    nullptr,                         // 8 FreqShifterFX
    nullptr,                         // 9 BarberpoleFX
    nullptr,                         // 10 DisperserFX
    nullptr,                         // 11 TransientFX
    nullptr,                         // 12 TremoloFX
    nullptr,                         // 13 ChorusFX
    nullptr,                         // 14 FlangerFX
    nullptr,                         // 15 PhaserFX
    nullptr,                         // 16 PitchFX
    &TapeStartStopFX::notifyTrigger, // 17
    nullptr,                         // 18 DelayFX
    nullptr,                         // 19 PitchDelayFX
    &ReverbFX::notifyTrigger,        // 20
    nullptr,                         // 21 HaasFX
    nullptr,                         // 22 ImageFX
    nullptr,                         // 23 HaloFX
    nullptr,                         // 24 MicroModalFX
    nullptr,                         // 25 HarmonicPrismFX
    nullptr,                         // 26 SpectralBlurFX
    nullptr,                         // 27 SpectralGateHoldFX
    nullptr,                         // 28 GranulationFX
    &DopplerFX::notifyTrigger,       // 29
    &HPSSFX::notifyTrigger,          // 30
};

} // namespace vesk
