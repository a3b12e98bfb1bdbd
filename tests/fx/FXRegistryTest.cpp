// The registry of module types: lookup, menu order, knob tables and display texts.
#include "fx/FXModule.h"
#include "fx/FXKnobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace vesk {
namespace {

std::string text(FXType type, uint32_t knob, float value)
{
    char buffer[64];
    return formatDisplayValue(*getFXModuleInfo(type), knob, value, buffer, sizeof(buffer));
}

TEST(FXRegistry, LookupCoversIdsOneToThirtyOnly)
{
    EXPECT_EQ(getFXModuleInfo(FXType::None), nullptr);
    EXPECT_EQ(getFXModuleInfo(31u), nullptr);
    EXPECT_EQ(getFXModuleInfo(0xFFFFFFFFu), nullptr);
    const FXModuleInfo* hpss = getFXModuleInfo(30u);
    ASSERT_NE(hpss, nullptr);
    EXPECT_STREQ(hpss->name, "HPSS");
    EXPECT_EQ(hpss->type, FXType::HPSS);
    // HPSS is the 28th record of the menu-ordered array, yet id 30 finds it.
    EXPECT_EQ(hpss, &detail::kRegistry[27]);
    for (uint32_t id = 1; id <= 30; ++id) {
        const FXModuleInfo* info = getFXModuleInfo(id);
        ASSERT_NE(info, nullptr) << id;
        EXPECT_EQ(static_cast<uint32_t>(info->type), id);
    }
}

TEST(FXRegistry, MenuOrderNamesAndKnobCounts)
{
    struct Expected
    {
        uint32_t id;
        const char* name;
        uint32_t knobs;
        uint32_t rows;
    };
    // Menu order: ids 1..27, then HPSS before Granular and Doppler.
    const Expected expected[] = {
        {1, "EQ", 5, 2},          {2, "Air Boost", 2, 1},      {3, "Bass Boost", 2, 1},
        {4, "Saturate", 5, 2},    {5, "Bitcrusher", 2, 1},     {6, "SubBeast", 8, 2},
        {7, "RingMod", 3, 1},     {8, "FreqShift", 2, 1},      {9, "Barberpole", 5, 2},
        {10, "Disperser", 5, 2},  {11, "Transient", 3, 1},     {12, "Tremolo", 2, 1},
        {13, "Chorus", 3, 1},     {14, "Flanger", 5, 2},       {15, "Phaser", 4, 1},
        {16, "Pitch", 3, 1},      {17, "TapeStartStop", 4, 1}, {18, "Delay", 3, 1},
        {19, "PitchDelay", 4, 1}, {20, "Reverb", 4, 1},        {21, "Haas", 2, 1},
        {22, "Image", 3, 1},      {23, "Halo", 4, 1},          {24, "Micro Modal", 4, 1},
        {25, "Prism", 6, 2},      {26, "SpecBlur", 2, 1},      {27, "SpecGate", 3, 1},
        {30, "HPSS", 4, 1},       {28, "Granular", 8, 2},      {29, "Doppler", 8, 2},
    };
    ASSERT_EQ(std::size(expected), detail::kRegistry.size());
    for (size_t i = 0; i < std::size(expected); ++i) {
        const FXModuleInfo& info = detail::kRegistry[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(static_cast<uint32_t>(info.type), expected[i].id);
        EXPECT_STREQ(info.name, expected[i].name);
        EXPECT_EQ(info.paramCount, expected[i].knobs);
        EXPECT_EQ(info.rowCount, expected[i].rows);
    }
}

TEST(FXRegistry, EveryRecordIsConsistent)
{
    for (const FXModuleInfo& info : detail::kRegistry) {
        SCOPED_TRACE(info.name);
        ASSERT_GE(info.paramCount, 2u);
        ASSERT_LE(info.paramCount, static_cast<uint32_t>(kMaxFXParams));
        ASSERT_NE(info.paramNames, nullptr);
        ASSERT_NE(info.paramDefaults, nullptr);
        ASSERT_NE(info.paramMin, nullptr);
        ASSERT_NE(info.paramMax, nullptr);
        ASSERT_NE(info.paramRows, nullptr);
        ASSERT_NE(info.paramSuffixes, nullptr);
        for (uint32_t k = 0; k < info.paramCount; ++k) {
            EXPECT_LT(info.paramMin[k], info.paramMax[k]) << k;
            EXPECT_GE(info.paramDefaults[k], info.paramMin[k]) << k;
            EXPECT_LE(info.paramDefaults[k], info.paramMax[k]) << k;
            EXPECT_LT(static_cast<uint32_t>(info.paramRows[k]), info.rowCount) << k;
            EXPECT_GT(std::strlen(info.paramNames[k]), 0u) << k;
        }
        if (info.vtable != nullptr) {
            EXPECT_GT(info.vtable->stateSize, 0u);
        }
    }
}

TEST(FXRegistry, KnobTablesOfSelectedTypes)
{
    const FXModuleInfo& eq = *getFXModuleInfo(FXType::EQ);
    EXPECT_STREQ(eq.paramNames[0], "Lo|Mid");
    EXPECT_STREQ(eq.paramNames[1], "Mid|Hi");
    EXPECT_FLOAT_EQ(eq.paramDefaults[1], 4200.0f);
    EXPECT_FLOAT_EQ(eq.paramMin[2], -24.0f);
    const FXModuleInfo& pitch = *getFXModuleInfo(FXType::Pitch);
    ASSERT_NE(pitch.paramSteps, nullptr);
    ASSERT_NE(pitch.paramHideStepTicks, nullptr);
    EXPECT_EQ(pitch.paramSteps[0], 49);
    EXPECT_TRUE(pitch.paramHideStepTicks[0]);
    EXPECT_FALSE(pitch.paramHideStepTicks[2]);
    const FXModuleInfo& tape = *getFXModuleInfo(FXType::TapeStartStop);
    EXPECT_EQ(tape.paramDisplayMin, nullptr);
    EXPECT_EQ(tape.paramDisplayCurve, nullptr);
    EXPECT_FLOAT_EQ(tape.paramMin[2], 0.05f);
    const FXModuleInfo& hpss = *getFXModuleInfo(FXType::HPSS);
    EXPECT_FLOAT_EQ(hpss.paramDefaults[3], 2.0f);
    EXPECT_FLOAT_EQ(hpss.paramMin[3], 1.0f);
    EXPECT_FLOAT_EQ(hpss.paramMax[3], 8.0f);
    EXPECT_EQ(getFXModuleInfo(FXType::Image)->paramMax[0], 200.0f);
}

TEST(FXRegistry, DisplayTexts)
{
    struct Case
    {
        FXType type;
        uint32_t knob;
        float value;
        const char* expected;
    };
    const Case cases[] = {
        // FreqShift Shift (Custom): a = 0.2, 100 * 0.2 / (1.1 - 0.04) = 18.87 -> 19.
        {FXType::FreqShift, 0, 0.6f, "19 Hz"},
        {FXType::FreqShift, 0, 0.5f, "0 Hz"},
        {FXType::FreqShift, 0, 1.0f, "1000 Hz"},
        {FXType::FreqShift, 0, 0.0f, "-1000 Hz"},
        // Linear: 50 + 0.5 * 950.
        {FXType::EQ, 0, 525.0f, "525 Hz"},
        // Bipolar over -24..24 with dmax 24: +6 dB shows a plus sign, one decimal.
        {FXType::EQ, 2, 6.0f, "+6.0 dB"},
        {FXType::EQ, 2, -12.0f, "-12.0 dB"},
        {FXType::EQ, 2, 0.0f, "0.0 dB"},
        // Exponential: 30 * (80/30)^0.5 = 48.99 -> 49.
        {FXType::SubBeast, 0, 0.5f, "49 Hz"},
        // Exponential running downwards: 200 * (30/200)^1 = 30.
        {FXType::SubBeast, 1, 1.0f, "30 ms"},
        // Exponential 0.02..0.5 at the left end, two decimals.
        {FXType::Barberpole, 0, 0.0f, "0.02 Hz"},
        // Square: 1500 * 0.5^2 = 375.
        {FXType::Delay, 0, 0.5f, "375 ms"},
        // Quartic: 1.4 + 0.5^4 * 13.6 = 2.25 -> one decimal.
        {FXType::Tremolo, 0, 0.5f, "2.2 Hz"},
        // Air Boost Ground shows 0..200 % over 0..1.
        {FXType::AirBoost, 1, 0.5f, "100 %"},
        // Transient Trim, Bipolar over 0..1 with dmax 12.
        {FXType::Transient, 0, 0.75f, "+6.0 dB"},
        // Empty suffix: no trailing blank.
        {FXType::Saturate, 2, 1.0f, "1"},
        // No display mapping: raw value with one decimal.
        {FXType::TapeStartStop, 2, 1.0f, "1.0 s"},
        // Values outside the range clamp to the ends of the display.
        {FXType::Reverb, 0, 5.0f, "200 ms"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(c.type, c.knob, c.value), c.expected)
            << getFXModuleInfo(c.type)->name << " knob " << c.knob << " value " << c.value;
    }
    // An out-of-range knob gives an empty text; a tiny buffer is still terminated.
    EXPECT_EQ(text(FXType::EQ, 5, 1.0f), "");
    char tiny[3];
    formatDisplayValue(*getFXModuleInfo(FXType::EQ), 0, 525.0f, tiny, sizeof(tiny));
    EXPECT_EQ(std::strlen(tiny), 2u);
}

TEST(FXRegistry, DisplayEdgeCases)
{
    // A knob whose maximum equals its minimum sits at position 0 and shows its display minimum.
    EXPECT_EQ(knobPosition(3.0f, 1.0f, 1.0f), 0.0f);
    EXPECT_EQ(knobPosition(NAN, 0.0f, 1.0f), 0.0f);
    FXModuleInfo flat = *getFXModuleInfo(FXType::Reverb);
    const float same[] = {0.5f, 0.5f, 0.5f, 0.5f};
    flat.paramMin = same;
    flat.paramMax = same;
    EXPECT_FLOAT_EQ(displayValue(flat, 0, 0.9f), 20.0f);
    // An Exponential curve whose display minimum is 0 or below shows like Linear.
    FXModuleInfo expo = *getFXModuleInfo(FXType::Reverb);
    const DisplayCurve curves[] = {DisplayCurve::Exponential, DisplayCurve::Linear,
                                   DisplayCurve::Linear, DisplayCurve::Linear};
    const float dmin[] = {0.0f, 0.3f, 0.0f, 0.0f};
    expo.paramDisplayCurve = curves;
    expo.paramDisplayMin = dmin;
    EXPECT_FLOAT_EQ(displayValue(expo, 0, 0.5f), 100.0f); // 0 + 0.5 * 200
}

TEST(FXRegistry, SteppedKnobsSnap)
{
    // 49 steps over -24..24 give whole semitones.
    EXPECT_FLOAT_EQ(snapToSteps(7.4f, -24.0f, 24.0f, 49), 7.0f);
    EXPECT_FLOAT_EQ(snapToSteps(-30.0f, -24.0f, 24.0f, 49), -24.0f);
    // 5 steps over 0..1: 0, 0.25, 0.5, 0.75, 1.
    EXPECT_FLOAT_EQ(snapToSteps(0.6f, 0.0f, 1.0f, 5), 0.5f);
    EXPECT_FLOAT_EQ(snapToSteps(0.9f, 0.0f, 1.0f, 5), 1.0f);
    // Continuous knobs are left alone.
    EXPECT_FLOAT_EQ(snapToSteps(0.6f, 0.0f, 1.0f, 0), 0.6f);
}

} // namespace
} // namespace vesk
