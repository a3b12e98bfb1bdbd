// Knob tables of every module type: labels, ranges, defaults, card rows, steps and display
// mapping. Each module namespace owns its arrays under fixed names (kParamMin, kParamMax, ...), so
// a module's source, the registry and the preset code all read the same constants.
//
// Normalised knobs store 0..1 and the module maps them; EQ frequencies and gains, the pitch knobs
// of Pitch, Halo, Micro Modal and Prism, all TapeStartStop knobs, Image "Width" and HPSS "Sharp"
// store physical values.
#pragma once

#include "fx/FXModule.h"

namespace vesk {

namespace FreqShifterFX {
// Display of the Shift knob in Hz: a = 2t - 1, 100 a / (1.1 - a^2); -1000 Hz at 0, 0 at the
// centre, +1000 Hz at 1.
inline float knobToShiftHz(float t)
{
    t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    const float a = 2.0f * t - 1.0f;
    return 100.0f * a / (1.1f - a * a);
}
} // namespace FreqShifterFX

namespace EQFX {
inline constexpr uint32_t kParamCount = 5;
inline constexpr const char* kParamNames[] = {"Lo|Mid", "Mid|Hi", "Low", "Mid", "High"};
inline constexpr float kParamDefaults[] = {120.0f, 4200.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMin[] = {50.0f, 1000.0f, -24.0f, -24.0f, -24.0f};
inline constexpr float kParamMax[] = {1000.0f, 12000.0f, 24.0f, 24.0f, 24.0f};
inline constexpr int kParamRows[] = {0, 0, 1, 1, 1};
inline constexpr const char* kParamSuffixes[] = {"Hz", "Hz", "dB", "dB", "dB"};
inline constexpr float kParamDisplayMin[] = {50.0f, 1000.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1000.0f, 12000.0f, 24.0f, 24.0f, 24.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Bipolar, DisplayCurve::Bipolar,
                                                      DisplayCurve::Bipolar};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 1, 1, 1};
} // namespace EQFX

namespace Air3FX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Air", "Ground"};
inline constexpr float kParamDefaults[] = {0.6f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {100.0f, 200.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0};
} // namespace Air3FX

namespace WeightFX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Freq", "Weight"};
inline constexpr float kParamDefaults[] = {0.3f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "%"};
inline constexpr float kParamDisplayMin[] = {20.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {120.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0};
} // namespace WeightFX

namespace SaturateFX {
inline constexpr uint32_t kParamCount = 5;
inline constexpr const char* kParamNames[] = {"Drive", "Reso", "Mode", "Out", "Mix"};
inline constexpr float kParamDefaults[] = {0.4f, 0.794f, 0.0f, 1.0f, 1.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 1, 1};
inline constexpr int kParamSteps[] = {0, 0, 5, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"dB", "%", "", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {12.0f, 100.0f, 1.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {1, 0, 0, 0, 0};
} // namespace SaturateFX

namespace BitcrusherFX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Rate", "Rez"};
inline constexpr float kParamDefaults[] = {0.85f, 0.85f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0};
} // namespace BitcrusherFX

namespace SubBeastFX {
inline constexpr uint32_t kParamCount = 8;
inline constexpr const char* kParamNames[] = {"Tune", "Snap",  "Drop",   "Sweep",
                                              "Tone", "Drive", "Motion", "Mix"};
inline constexpr float kParamDefaults[] = {0.7f, 0.8f, 0.35f, 0.55f, 0.0f, 0.35f, 0.15f, 1.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0, 1, 1, 1, 1};
inline constexpr const char* kParamSuffixes[] = {"Hz", "ms", "st", "ms", "%", "%", "%", "%"};
inline constexpr float kParamDisplayMin[] = {30.0f, 200.0f, 0.0f, 200.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {80.0f,  30.0f,  24.0f,  5.0f,
                                             100.0f, 100.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {
    DisplayCurve::Exponential, DisplayCurve::Exponential, DisplayCurve::Linear,
    DisplayCurve::Exponential, DisplayCurve::Linear,      DisplayCurve::Linear,
    DisplayCurve::Linear,      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 1, 0, 0, 0, 0, 0};
} // namespace SubBeastFX

namespace RingModFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Freq", "Wave", "Mix"};
inline constexpr float kParamDefaults[] = {0.6667f, 0.0f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr int kParamSteps[] = {0, 5, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "", "%"};
inline constexpr float kParamDisplayMin[] = {1.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1000.0f, 1.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Exponential,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0};
} // namespace RingModFX

namespace FreqShifterFX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Shift", "Mix"};
inline constexpr float kParamDefaults[] = {0.6f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "%"};
inline constexpr float kParamDisplayMin[] = {-1000.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1000.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Custom, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0};
inline constexpr DisplayFunction kParamDisplayCustom[] = {&knobToShiftHz, nullptr};
} // namespace FreqShifterFX

namespace BarberpoleFX {
inline constexpr uint32_t kParamCount = 5;
inline constexpr const char* kParamNames[] = {"Rate", "Dir", "Depth", "Feedback", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 0.0f, 0.7f, 0.0f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 1, 1};
inline constexpr int kParamSteps[] = {0, 2, 0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "", "%", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.02f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {0.5f, 1.0f, 100.0f, 85.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Exponential,
                                                      DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {2, 0, 0, 0, 0};
} // namespace BarberpoleFX

namespace DisperserFX {
inline constexpr uint32_t kParamCount = 5;
inline constexpr const char* kParamNames[] = {"Freq", "Spread", "Amount", "Q", "Drive"};
inline constexpr float kParamDefaults[] = {0.4f, 0.0f, 0.4f, 0.4f, 0.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 1, 1, 1};
inline constexpr const char* kParamSuffixes[] = {"Hz", "oct", "stg", "Q", "%"};
inline constexpr float kParamDisplayMin[] = {30.0f, 0.0f, 0.0f, 0.5f, 0.0f};
inline constexpr float kParamDisplayMax[] = {600.0f, 2.5f, 32.0f, 8.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Exponential,
                                                      DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 2, 0, 1, 0};
} // namespace DisperserFX

namespace TransientFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Trim", "Shape", "Focus"};
inline constexpr float kParamDefaults[] = {0.5f, 0.5f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"dB", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {12.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Bipolar, DisplayCurve::Bipolar,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {1, 0, 0};
} // namespace TransientFX

namespace TremoloFX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Speed", "Depth"};
inline constexpr float kParamDefaults[] = {0.5f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "%"};
inline constexpr float kParamDisplayMin[] = {1.4f, 0.0f};
inline constexpr float kParamDisplayMax[] = {15.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Quartic, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {1, 0};
} // namespace TremoloFX

namespace ChorusFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Rate", "Depth", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 0.5f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {6.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Quartic, DisplayCurve::Quartic,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {2, 0, 0};
} // namespace ChorusFX

namespace FlangerFX {
inline constexpr uint32_t kParamCount = 5;
inline constexpr const char* kParamNames[] = {"Delay", "Rate", "Depth", "FB", "Mix"};
inline constexpr float kParamDefaults[] = {0.3f, 0.4f, 0.6f, 0.7f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 1, 1};
inline constexpr const char* kParamSuffixes[] = {"ms", "Hz", "%", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.1f, 0.05f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {15.0f, 5.0f, 100.0f, 95.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Exponential,
                                                      DisplayCurve::Square, DisplayCurve::Linear,
                                                      DisplayCurve::Bipolar, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {2, 2, 0, 0, 0};
} // namespace FlangerFX

namespace PhaserFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"Rate", "Depth", "FB", "Mix"};
inline constexpr float kParamDefaults[] = {0.3f, 0.7f, 0.5f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"Hz", "oct", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.05f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {8.0f, 2.5f, 95.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Square, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {2, 2, 0, 0};
} // namespace PhaserFX

namespace PitchFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Pitch", "Formant", "Mix"};
inline constexpr float kParamDefaults[] = {0.0f, 0.0f, 1.0f};
inline constexpr float kParamMin[] = {-24.0f, -24.0f, 0.0f};
inline constexpr float kParamMax[] = {24.0f, 24.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr int kParamSteps[] = {49, 49, 0};
inline constexpr bool kParamHideStepTicks[] = {true, true, false};
inline constexpr const char* kParamSuffixes[] = {"st", "st", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1.0f, 1.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0};
} // namespace PitchFX

namespace TapeStartStopFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"StartT", "Start", "StopT", "Stop"};
inline constexpr float kParamDefaults[] = {0.0f, 0.0f, 1.0f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.05f, 0.05f};
inline constexpr float kParamMax[] = {10.0f, 3.0f, 10.0f, 3.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"s", "s", "s", "s"};
} // namespace TapeStartStopFX

namespace DelayFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Time", "FB", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 0.4f, 0.4f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"ms", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1500.0f, 95.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Square, DisplayCurve::Linear,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0};
} // namespace DelayFX

namespace PitchDelayFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"Pitch", "Time", "FB", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 0.4f, 0.3f, 0.4f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"st", "ms", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {12.0f, 1500.0f, 95.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Bipolar, DisplayCurve::Square,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {1, 0, 0, 0};
} // namespace PitchDelayFX

namespace ReverbFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"Size", "Decay", "Damp", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 0.4f, 0.6f, 0.35f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"ms", "s", "%", "%"};
inline constexpr float kParamDisplayMin[] = {20.0f, 0.3f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {200.0f, 6.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 1, 0, 0};
} // namespace ReverbFX

namespace HaasFX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Time", "Side"};
inline constexpr float kParamDefaults[] = {0.5f, 0.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"ms", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {40.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Bipolar};
inline constexpr int kParamDisplayPrecision[] = {1, 0};
} // namespace HaasFX

namespace ImageFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Width", "M Pan", "S Pan"};
inline constexpr float kParamDefaults[] = {100.0f, 0.5f, 0.5f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {200.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"%", "%", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {200.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Bipolar,
                                                      DisplayCurve::Bipolar};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0};
} // namespace ImageFX

namespace HaloFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"Pitch", "Decay", "Voice", "Mix"};
inline constexpr float kParamDefaults[] = {0.0f, 0.7f, 0.25f, 0.5f};
inline constexpr float kParamMin[] = {-24.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {24.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr int kParamSteps[] = {49, 0, 5, 0};
inline constexpr bool kParamHideStepTicks[] = {true, false, false, false};
inline constexpr const char* kParamSuffixes[] = {"st", "%", "", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1.0f, 100.0f, 1.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0, 0};
} // namespace HaloFX

namespace MicroModalFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"Pitch", "Decay", "Mat", "Mix"};
inline constexpr float kParamDefaults[] = {0.0f, 0.6f, 0.0f, 0.5f};
inline constexpr float kParamMin[] = {-24.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {24.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr int kParamSteps[] = {49, 0, 4, 0};
inline constexpr bool kParamHideStepTicks[] = {true, false, false, false};
inline constexpr const char* kParamSuffixes[] = {"st", "%", "", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1.0f, 100.0f, 1.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0, 0};
} // namespace MicroModalFX

namespace HarmonicPrismFX {
inline constexpr uint32_t kParamCount = 6;
inline constexpr const char* kParamNames[] = {"Pitch", "Focus", "Brill", "Mix", "Body", "Mat"};
inline constexpr float kParamDefaults[] = {0.0f, 0.6f, 0.5f, 0.5f, 0.5f, 0.0f};
inline constexpr float kParamMin[] = {-24.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {24.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 1, 1, 1, 0, 0};
inline constexpr int kParamSteps[] = {49, 0, 0, 0, 0, 4};
inline constexpr bool kParamHideStepTicks[] = {true, false, false, false, false, false};
inline constexpr const char* kParamSuffixes[] = {"st", "Q", "%", "%", "%", ""};
inline constexpr float kParamDisplayMin[] = {0.0f, 30.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {1.0f, 300.0f, 100.0f, 100.0f, 100.0f, 1.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear,
                                                      DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0, 0, 0, 0};
} // namespace HarmonicPrismFX

namespace SpectralBlurFX {
inline constexpr uint32_t kParamCount = 2;
inline constexpr const char* kParamNames[] = {"Time", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 1.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0};
inline constexpr const char* kParamSuffixes[] = {"ms", "%"};
inline constexpr float kParamDisplayMin[] = {5.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {2000.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Exponential,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0};
} // namespace SpectralBlurFX

namespace SpectralGateHoldFX {
inline constexpr uint32_t kParamCount = 3;
inline constexpr const char* kParamNames[] = {"Thresh", "Reduce", "Smooth"};
inline constexpr float kParamDefaults[] = {0.5f, 0.0f, 0.2f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"dB", "%", "ms"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.0f, 1.0f};
inline constexpr float kParamDisplayMax[] = {30.0f, 100.0f, 500.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {DisplayCurve::Bipolar, DisplayCurve::Linear,
                                                      DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {1, 0, 0};
} // namespace SpectralGateHoldFX

namespace GranulationFX {
inline constexpr uint32_t kParamCount = 8;
inline constexpr const char* kParamNames[] = {"Density", "Size", "SizeJit", "Pitch",
                                              "Spread",  "PanW", "VolJit",  "Mix"};
inline constexpr float kParamDefaults[] = {0.4f, 0.3f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 1.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0, 1, 1, 1, 1};
inline constexpr const char* kParamSuffixes[] = {"g/s", "ms", "%", "st", "%", "%", "%", "%"};
inline constexpr float kParamDisplayMin[] = {5.0f, 10.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {80.0f,  200.0f, 100.0f, 12.0f,
                                             100.0f, 100.0f, 100.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {
    DisplayCurve::Linear, DisplayCurve::Linear, DisplayCurve::Linear, DisplayCurve::Linear,
    DisplayCurve::Linear, DisplayCurve::Linear, DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0, 1, 0, 0, 0, 0};
} // namespace GranulationFX

namespace DopplerFX {
inline constexpr uint32_t kParamCount = 8;
inline constexpr const char* kParamNames[] = {"Throw", "Attack",  "Tail", "Proximity",
                                              "Rate",  "Density", "Size", "Mix"};
inline constexpr float kParamDefaults[] = {0.5f, 0.27f, 0.4f, 0.6f, 1.0f, 0.5f, 0.4f, 1.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0, 1, 1, 1, 1};
inline constexpr const char* kParamSuffixes[] = {"st", "s", "s", "%", "%", "g/s", "ms", "%"};
inline constexpr float kParamDisplayMin[] = {0.0f, 0.005f, 0.01f, 0.0f, 25.0f, 10.0f, 20.0f, 0.0f};
inline constexpr float kParamDisplayMax[] = {24.0f,  2.0f,   3.0f,   100.0f,
                                             100.0f, 120.0f, 300.0f, 100.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {
    DisplayCurve::Linear, DisplayCurve::Square, DisplayCurve::Square, DisplayCurve::Linear,
    DisplayCurve::Linear, DisplayCurve::Linear, DisplayCurve::Linear, DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 2, 2, 0, 0, 0, 0, 0};
} // namespace DopplerFX

namespace HPSSFX {
inline constexpr uint32_t kParamCount = 4;
inline constexpr const char* kParamNames[] = {"Layer", "Time", "Width", "Sharp"};
inline constexpr float kParamDefaults[] = {0.5f, 0.63f, 0.44f, 2.0f};
inline constexpr float kParamMin[] = {0.0f, 0.0f, 0.0f, 1.0f};
inline constexpr float kParamMax[] = {1.0f, 1.0f, 1.0f, 8.0f};
inline constexpr int kParamRows[] = {0, 0, 0, 0};
inline constexpr const char* kParamSuffixes[] = {"%", "ms", "Hz", "x"};
inline constexpr float kParamDisplayMin[] = {0.0f, 20.0f, 100.0f, 1.0f};
inline constexpr float kParamDisplayMax[] = {100.0f, 500.0f, 4000.0f, 8.0f};
inline constexpr DisplayCurve kParamDisplayCurve[] = {
    DisplayCurve::Bipolar, DisplayCurve::Exponential, DisplayCurve::Exponential,
    DisplayCurve::Linear};
inline constexpr int kParamDisplayPrecision[] = {0, 0, 0, 1};
} // namespace HPSSFX

} // namespace vesk
