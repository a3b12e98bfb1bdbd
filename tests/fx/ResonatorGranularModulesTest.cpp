// Micro Modal, Prism and Granular: resonances at the frequencies of their tables, safe handling
// of out-of-range knob values, the grain pool's limit and seeded, repeatable grains.
#include "ModuleRunner.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vesk {
namespace {

using test::ModuleRunner;

constexpr double kRate = 48000.0;
constexpr size_t kFft = 65536;

double levelNear(const std::vector<double>& spectrum, double f)
{
    const double binHz = kRate / kFft;
    double best = 0.0;
    for (size_t k = size_t(0.995 * f / binHz); k <= size_t(1.005 * f / binHz) + 1; ++k)
        best = std::max(best, spectrum[k]);
    return 20.0 * std::log10(best + 1e-30);
}

TEST(MicroModalFX, ResonatesAtTheMaterialsModeRatios)
{
    const double ratios[4][6] = {{1.0, 2.76, 5.4, 8.93, 13.34, 18.65},
                                 {1.0, 2.0, 2.4, 3.0, 4.5, 5.4},
                                 {1.0, 2.0, 3.51, 5.93, 8.54, 11.5},
                                 {1.0, 2.92, 5.4, 8.93, 13.5, 19.0}};
    for (int material = 0; material < 4; ++material) {
        ModuleRunner m(FXType::MicroModal);
        m.params[0] = -12.0f; // base 130.81 Hz
        m.params[1] = 1.0f;   // Q 150
        m.params[2] = material / 3.0f;
        m.params[3] = 1.0f;
        // An impulse: the output spectrum is the exact response of the six modes.
        std::vector<float> x(kFft, 0.0f);
        x[0] = 1.0f;
        const auto y = m.runMono(x);
        const auto spectrum = test::magnitudeSpectrum(y.data(), y.size(), kFft);
        for (double r : ratios[material]) {
            const double f = 130.8128 * r;
            // A mode stands well above the level 3 % beside it (Q 150: about 19 dB for a lone
            // mode, less where two modes are close).
            EXPECT_GT(levelNear(spectrum, f) - levelNear(spectrum, 1.03 * f), 10.0)
                << "material " << material << " ratio " << r;
        }
        EXPECT_EQ(m.counts.total(), 0u);
    }
}

TEST(MicroModalFX, OutOfRangeDecayAndMixStaySafe)
{
    for (float decay : {-5.0f, 40.0f, std::nanf("")}) {
        ModuleRunner m(FXType::MicroModal);
        m.params[1] = decay;
        m.params[3] = 7.0f;
        const auto y = m.runMono(test::noise(48000, 3, 0.5));
        for (float v : y)
            ASSERT_TRUE(std::isfinite(v)) << decay;
        EXPECT_LT(test::peak(y), 50.0) << decay;
    }
}

TEST(HarmonicPrismFX, PartialsSitOnTheHarmonicsAndSilenceAboveTheRange)
{
    ModuleRunner m(FXType::Prism);
    m.params[0] = -12.0f; // 130.81 Hz, all harmonics
    m.params[3] = 1.0f;
    const auto y = m.runMono(test::noise(kFft, 12, 0.5));
    const auto spectrum = test::magnitudeSpectrum(y.data(), y.size(), kFft);
    for (int h = 1; h <= 12; ++h) {
        const double f = 130.8128 * h;
        EXPECT_GT(levelNear(spectrum, f) - levelNear(spectrum, f + 65.4), 15.0) << h;
    }
    // Octaves material at +24 semitones: partials above 0.49 x rate fall silent, nothing folds.
    ModuleRunner high(FXType::Prism);
    high.params[0] = 24.0f;
    high.params[3] = 1.0f;
    high.params[5] = 1.0f;
    const auto z = high.runMono(test::noise(48000, 13, 0.5));
    for (float v : z)
        ASSERT_TRUE(std::isfinite(v));
}

TEST(GranulationFX, NeverPlaysMoreThan24Grains)
{
    // A constant input of 1 through grains at rate 1 and gain 1 sums their envelopes, each at
    // most 1: the output is the number of grains sounding, weighted. With the longest grains
    // (jittered up to 400 ms) at 80 per second, up to 32 would overlap without the limit.
    ModuleRunner m(FXType::Granular);
    m.params[0] = 1.0f;
    m.params[1] = 1.0f;
    m.params[2] = 1.0f;
    m.params[4] = 0.0f;
    const std::vector<float> one(96000, 1.0f);
    const auto y = m.runMono(one);
    EXPECT_LE(test::peak(y.data() + 24000, 72000), 24.0);
    EXPECT_GT(test::peak(y.data() + 24000, 72000), 8.0);
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(GranulationFX, NeutralGrainsReplayTheInputDelayed)
{
    // PanW 0, SizeJit 0, Pitch 0, VolJit 0, Spread 0: every grain is the input delayed by its
    // length minus one, under the parabolic envelope.
    ModuleRunner m(FXType::Granular);
    m.params[4] = 0.0f;
    const auto x = test::sine(500.0, kRate, 48000, 0.5);
    const auto y = m.runMono(x);
    EXPECT_NEAR(test::dominantFrequency(y.data() + 9600, 38400, kRate), 500.0, 2.0);
}

TEST(GranulationFX, TheSameInputGivesTheSameGrainsAfterAReset)
{
    // The generator restarts from its fixed seed on reset and in a new instance: same bits.
    const auto x = test::noise(48000, 44, 0.5);
    ModuleRunner a(FXType::Granular);
    ModuleRunner b(FXType::Granular);
    for (ModuleRunner* m : {&a, &b}) {
        m->params[2] = 0.7f;
        m->params[3] = 0.5f;
        m->params[5] = 1.0f;
        m->params[6] = 0.5f;
    }
    const auto first = a.run(x, x);
    a.reset();
    const auto second = a.run(x, x);
    const auto other = b.run(x, x);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, other);
}

} // namespace
} // namespace vesk
