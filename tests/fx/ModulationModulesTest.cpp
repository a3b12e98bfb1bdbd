// The modulation modules: frequency shifting with its image rejection, ring-modulation
// sidebands, and the identities each module promises at its neutral settings.
#include "ModuleRunner.h"
#include "fx/FXKnobs.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace vesk {
namespace {

using test::ModuleRunner;

constexpr double kRate = 48000.0;

// A sine that never hits an exact zero, so denormal guards never replace a sample.
std::vector<float> tone(double hz, size_t frames, double amplitude = 0.5)
{
    return test::sine(hz, kRate, frames, amplitude, 0.3);
}

double db(double x)
{
    return 20.0 * std::log10(x);
}

// Knob position of a FreqShift shift in Hz (inverse of knobToShiftHz): a^2 s + 100 a - 1.1 s = 0.
float shiftKnobFor(double hz)
{
    const double a = hz == 0.0 ? 0.0 : (-100.0 + std::sqrt(1e4 + 4.4 * hz * hz)) / (2.0 * hz);
    return static_cast<float>((a + 1.0) / 2.0);
}

TEST(FreqShifterFX, ShiftsUpAndDownWithTheImageFarBelow)
{
    const struct
    {
        double shiftHz;
        double expectHz;
        double imageHz;
    } cases[] = {{100.0, 1100.0, 900.0}, {-100.0, 900.0, 1100.0}, {450.0, 1450.0, 550.0}};
    for (const auto& c : cases) {
        ModuleRunner m(FXType::FreqShift);
        m.params[0] = shiftKnobFor(c.shiftHz);
        ASSERT_NEAR(FreqShifterFX::knobToShiftHz(m.params[0]), c.shiftHz, 0.01);
        m.params[1] = 1.0f;
        const size_t n = 48000;
        const auto y = m.runMono(tone(1000.0, n));
        const float* tail = y.data() + n / 2;
        const double wanted = test::amplitudeAt(tail, n / 2, c.expectHz, kRate);
        const double image = test::amplitudeAt(tail, n / 2, c.imageHz, kRate);
        const double carrier = test::amplitudeAt(tail, n / 2, 1000.0, kRate);
        EXPECT_NEAR(wanted, 0.5, 0.01) << c.shiftHz;
        EXPECT_LT(db(image / wanted), -40.0) << c.shiftHz;
        EXPECT_LT(db(carrier / wanted), -40.0) << c.shiftHz;
        EXPECT_EQ(m.counts.total(), 0u);
    }
}

// A steady shift keeps its frequency and level over minutes of running.
TEST(FreqShifterFX, SteadyShiftHoldsItsFrequencyAndLevelForMinutes)
{
    for (double shiftHz : {273.0, -273.0}) {
        ModuleRunner m(FXType::FreqShift);
        m.params[0] = shiftKnobFor(shiftHz);
        m.params[1] = 1.0f;
        // 1000 Hz repeats every 48 samples, so one-second pieces join without a seam.
        const auto x = tone(1000.0, 48000);
        std::vector<float> y;
        for (int second = 0; second < 120; ++second)
            y = m.runMono(x, 512);
        const double hz = 1000.0 + FreqShifterFX::knobToShiftHz(m.params[0]);
        const double wanted = test::amplitudeAt(y.data(), y.size(), hz, kRate);
        const double image = test::amplitudeAt(y.data(), y.size(), 2000.0 - hz, kRate);
        EXPECT_NEAR(wanted, 0.5, 0.01) << shiftHz;
        EXPECT_LT(db(image / wanted), -40.0) << shiftHz;
    }
}

TEST(FreqShifterFX, MixZeroReturnsTheInputOnceTheGlideHasEnded)
{
    ModuleRunner m(FXType::FreqShift);
    m.params[1] = 0.0f;
    const auto x = test::noise(9600, 7, 0.5);
    const auto y = m.runMono(x);
    // The first block starts at the knob values; nothing glides.
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_EQ(y[i], x[i]) << i;
}

TEST(FreqShifterFX, ZeroShiftAtFullMixIsAnAllPass)
{
    ModuleRunner m(FXType::FreqShift);
    m.params[0] = 0.5f;
    m.params[1] = 1.0f;
    for (double hz : {50.0, 1000.0, 15000.0}) {
        m.reset();
        const auto y = m.runMono(tone(hz, 24000));
        EXPECT_NEAR(test::amplitudeAt(y.data() + 12000, 12000, hz, kRate), 0.5, 0.005) << hz;
    }
}

TEST(RingModFX, SineTimesSineGivesTheTwoSidebands)
{
    ModuleRunner m(FXType::RingMod);
    m.params[0] = 2.0f / 3.0f; // 1000^(2/3) = 100 Hz
    m.params[1] = 0.0f;        // sine
    m.params[2] = 1.0f;
    const size_t n = 48000;
    const auto y = m.runMono(tone(1000.0, n));
    // After the mix has glided to 1 (0.005 per sample), out = x c: 0.25 at 900 and 1100 Hz.
    const float* tail = y.data() + n / 2;
    EXPECT_NEAR(test::amplitudeAt(tail, n / 2, 900.0, kRate), 0.25, 0.01);
    EXPECT_NEAR(test::amplitudeAt(tail, n / 2, 1100.0, kRate), 0.25, 0.01);
    EXPECT_LT(test::amplitudeAt(tail, n / 2, 1000.0, kRate), 0.005);
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(RingModFX, MixZeroConvergesToTheDrySignal)
{
    ModuleRunner m(FXType::RingMod);
    m.params[2] = 0.0f;
    const auto x = tone(440.0, 9600);
    const auto y = m.runMono(x);
    // The mix starts at 0.5 and falls by 0.5% per sample: after 4800 samples it is below 1e-10.
    EXPECT_LT(test::errorDb(x.data() + 4800, y.data() + 4800, 4800), -150.0);
}

// Modules whose neutral setting must leave the signal alone (to float rounding).
struct Identity
{
    const char* name;
    FXType type;
    std::vector<std::pair<int, float>> knobs;
    size_t settle; // samples to skip while smoothed values reach their targets
    double maxErrorDb;
};

// The Disperser's stages, written plainly: one sample at a time through every stage, with the
// knobs and the 5 ms glide of its frequency and damping as the module reads them.
class PlainDisperser
{
public:
    void process(float* l, float* r, unsigned frames, const float* k)
    {
        const auto unit = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
        const int stages = int(std::lround(unit(k[2]) * 32));
        if (stages == 0)
            return;
        const double fc = 30.0 * std::pow(20.0, double(unit(k[0])));
        const double gTarget =
            std::tan(std::numbers::pi * std::min(0.5 * kRate - 100.0, fc) / kRate);
        const double q = unit(k[3]);
        const double kTarget = 1.0 / (2.0 * std::max(0.5 + 7.5 * q * q * q, 0.1));
        const float spread = unit(k[1]);
        double mult[32];
        for (int i = 0; i < stages; ++i)
            mult[i] = spread > 0.001f && stages != 1
                          ? std::exp2(2.5 * spread * (2.0 * i / (stages - 1) - 1.0))
                          : 1.0;
        const float driveKnob = unit(k[4]);
        const double drive = 1.0 + 9.0 * driveKnob * driveKnob;
        const double sm = 1.0 - std::exp(-1.0 / (0.005 * kRate));
        const auto settle = [](double& v, double target) {
            if (std::abs(target - v) <= 1e-12 * std::abs(target))
                v = target;
        };
        float* io[2] = {l, r};
        for (unsigned n = 0; n < frames; ++n) {
            // Whether the glide has arrived is decided every 512 frames from the start.
            if (frame_++ % 512 == 0) {
                settle(g_, gTarget);
                settle(k_, kTarget);
            }
            if (g_ != gTarget || k_ != kTarget) {
                g_ += (gTarget - g_) * sm;
                k_ += (kTarget - k_) * sm;
            }
            for (int c = 0; c < 2; ++c) {
                double v = io[c][n];
                for (int i = 0; i < stages; ++i) {
                    const double gi = g_ * mult[i];
                    const double h = 1.0 / (gi * gi + 2.0 * k_ * gi + 1.0);
                    const double rest = (s1_[i][c] - gi * s2_[i][c]) * h;
                    const double bp = gi * h * v + rest;
                    v = (1.0 - 4.0 * k_ * (gi * h)) * v - 4.0 * k_ * rest;
                    const double n1 = 2.0 * bp - s1_[i][c];
                    const double n2 = s2_[i][c] + 2.0 * gi * bp;
                    s1_[i][c] = std::abs(n1) < 1e-20 ? 0.0f : float(n1);
                    s2_[i][c] = std::abs(n2) < 1e-20 ? 0.0f : float(n2);
                }
                io[c][n] = float(driveKnob > 0.001f ? std::tanh(drive * v) : v);
            }
        }
    }

private:
    float s1_[32][2] = {};
    float s2_[32][2] = {};
    double g_ = 0.0;
    double k_ = 0.0;
    uint64_t frame_ = 0;
};

// The module runs its stages as a pipeline over whole chunks; the sound must be exactly that of
// the plain loop, while the knobs glide, the number of stages changes (stages left out keep their
// state) and blocks of any size cut across its chunks.
TEST(DisperserFX, SoundsExactlyLikeItsStagesRunOneAfterAnother)
{
    static constexpr unsigned kSizes[] = {512, 1, 64, 4096, 513, 1000, 37, 2048};
    const struct
    {
        const char* name;
        float knobs[5];
        bool moving;
    } cases[] = {
        {"defaults", {0.4f, 0.0f, 0.4f, 0.4f, 0.0f}, false},
        {"all stages, spread", {0.7f, 0.6f, 1.0f, 0.8f, 0.0f}, false},
        {"one stage, driven", {0.1f, 0.3f, 0.03f, 0.2f, 0.5f}, false},
        {"every knob moving", {}, true},
    };
    for (const auto& tc : cases) {
        ModuleRunner module(FXType::Disperser);
        PlainDisperser plain;
        std::vector<float> l = test::noise(size_t(kRate), 5, 0.5);
        std::vector<float> r = test::noise(size_t(kRate), 6, 0.5);
        std::vector<float> pl = l, pr = r;
        uint32_t seed = 7;
        for (size_t pos = 0, k = 0; pos < l.size(); ++k) {
            const unsigned n = unsigned(std::min<size_t>(kSizes[k % 8], l.size() - pos));
            std::copy(tc.knobs, tc.knobs + 5, module.params);
            if (tc.moving)
                for (float& knob : module.params) {
                    seed = seed * 1664525u + 1013904223u;
                    knob = float(seed >> 8) / 16777216.0f;
                }
            module.processBlock(l.data() + pos, r.data() + pos, n);
            plain.process(pl.data() + pos, pr.data() + pos, n, module.params);
            pos += n;
        }
        EXPECT_TRUE(l == pl && r == pr) << tc.name;
        EXPECT_EQ(module.counts.total(), 0u) << tc.name;
    }
}

TEST(ModulationModules, NeutralSettingsAreTransparent)
{
    const Identity cases[] = {
        {"Barberpole depth 0, feedback 0, mix 0",
         FXType::Barberpole,
         {{2, 0.0f}, {3, 0.0f}, {4, 0.0f}},
         8000,
         -120.0},
        {"Disperser amount below 1/64", FXType::Disperser, {{2, 0.01f}}, 0, -300.0},
        {"Tremolo depth 0", FXType::Tremolo, {{1, 0.0f}}, 24000, -100.0},
        {"Phaser mix 0", FXType::Phaser, {{3, 0.0f}}, 0, -300.0},
        {"Flanger mix 0", FXType::Flanger, {{4, 0.0f}}, 0, -300.0},
        {"Chorus mix 0", FXType::Chorus, {{2, 0.0f}}, 0, -300.0},
    };
    for (const Identity& c : cases) {
        ModuleRunner m(c.type);
        for (auto [k, v] : c.knobs)
            m.params[k] = v;
        const auto x = test::noise(48000, 3, 0.5);
        const auto y = m.runMono(x);
        const size_t n = x.size() - c.settle;
        double err = 0.0;
        for (size_t i = c.settle; i < x.size(); ++i)
            err = std::max(err, std::abs(double(y[i]) - x[i]));
        EXPECT_LT(err > 0.0 ? db(err) : -400.0, c.maxErrorDb) << c.name << " over " << n;
        EXPECT_EQ(m.counts.total(), 0u) << c.name;
    }
}

TEST(ModulationModules, DefaultsChangeTheSoundAndStayBounded)
{
    for (FXType t : {FXType::Barberpole, FXType::Disperser, FXType::Tremolo, FXType::Chorus,
                     FXType::Flanger, FXType::Phaser}) {
        ModuleRunner m(t);
        const auto x = test::noise(48000, 5, 0.5);
        const auto y = m.runMono(x);
        EXPECT_LT(test::errorDb(x.data(), y.data(), x.size()), -1.0) << int(t);
        EXPECT_LT(test::peak(y), 4.0) << int(t);
        EXPECT_EQ(m.counts.total(), 0u) << int(t);
    }
}

TEST(TremoloFX, DepthModulatesTheLevel)
{
    ModuleRunner m(FXType::Tremolo);
    m.params[0] = 1.0f; // fastest
    m.params[1] = 1.0f;
    const auto y = m.runMono(tone(1000.0, 96000));
    // Envelope over 10 ms windows: the quietest window is far below the loudest.
    double lo = 1e9;
    double hi = 0.0;
    for (size_t a = 48000; a + 480 <= y.size(); a += 480) {
        const double r = test::rms(y.data() + a, 480);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
    }
    EXPECT_LT(db(lo / hi), -6.0);
}

TEST(FlangerFX, DelayNeverDropsBelowOneSample)
{
    // Shortest delay and full depth: the swing would go negative without the floor; the output
    // stays finite and bounded.
    ModuleRunner m(FXType::Flanger);
    m.params[0] = 0.0f;
    m.params[2] = 1.0f;
    m.params[3] = 1.0f;
    const auto y = m.runMono(test::noise(48000, 9, 0.5));
    for (float v : y)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_LT(test::peak(y), 20.0);
}

} // namespace
} // namespace vesk
