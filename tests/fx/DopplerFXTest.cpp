// Doppler: the pass glides its pitch down through the closest point and ends; mix 0 and silence
// are exact; a trigger re-arms; the same input gives the same pass after a reset.
#include "ModuleRunner.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vesk {
namespace {

using test::ModuleRunner;

constexpr double kRate = 48000.0;

TEST(DopplerFX, APassGlidesItsPitchDownAndEnds)
{
    // Attack 0.5 (0.5 s), Tail 0.5 (0.76 s), Throw 0.5 (up to one octave each way).
    ModuleRunner m(FXType::Doppler);
    m.params[1] = 0.5f;
    m.params[2] = 0.5f;
    const size_t n = 3 * 48000;
    std::vector<float> x = test::sine(1000.0, kRate, n, 0.5, 0.3);
    const auto y = m.runMono(x);
    // Early in the approach the source sounds above 1 kHz, late in the recession below it.
    const double early = test::dominantFrequency(y.data() + 2400, 4800, kRate);
    const double late = test::dominantFrequency(y.data() + 48000, 4800, kRate);
    EXPECT_GT(early, 1150.0);
    EXPECT_LT(late, 900.0);
    // After attack + tail (1.26 s) plus the last grain the wet path is silent although the input
    // goes on: the pass has ended and no new one starts without silence or a trigger.
    EXPECT_LT(test::peak(y.data() + 72000, n - 72000), 1e-6);
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(DopplerFX, TriggerReArmsAndSilenceNeverStartsAPass)
{
    ModuleRunner m(FXType::Doppler);
    const std::vector<float> silence(48000, 0.0f);
    EXPECT_EQ(test::peak(m.runMono(silence)), 0.0);
    const auto x = test::sine(500.0, kRate, 96000, 0.5, 0.3);
    m.runMono(x);
    EXPECT_LT(test::peak(m.runMono(x)), 1e-6); // the pass is over
    m.trigger();
    EXPECT_GT(test::peak(m.runMono(x)), 0.05); // a new one started at once
}

TEST(DopplerFX, MixZeroIsDryAndResetRepeatsThePassBitForBit)
{
    ModuleRunner dry(FXType::Doppler);
    dry.params[7] = 0.0f;
    const auto x = test::noise(48000, 31, 0.5);
    EXPECT_EQ(dry.runMono(x), x);

    ModuleRunner m(FXType::Doppler);
    ModuleRunner other(FXType::Doppler);
    const auto first = m.runMono(x);
    m.reset();
    EXPECT_EQ(m.runMono(x), first);
    EXPECT_EQ(other.runMono(x), first);
}

} // namespace
} // namespace vesk
