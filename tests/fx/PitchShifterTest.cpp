#include "fx/dsp/PitchShifter.h"

#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace vesk {
namespace {

constexpr double kRate = 48000.0;

// Runs a mono signal through both channels in blocks of varying size; returns the left output.
std::vector<float> run(PitchShifter& ps, const std::vector<float>& x, unsigned maxBlock = 4096)
{
    static constexpr unsigned kSizes[] = {512, 1, 4096, 100, 2048, 33, 777, 4096};
    std::vector<float> l = x;
    std::vector<float> r = x;
    size_t pos = 0;
    for (int k = 0; pos < x.size(); ++k) {
        const unsigned n = static_cast<unsigned>(
            std::min<size_t>(std::min(kSizes[k % 8], maxBlock), x.size() - pos));
        ps.process(l.data() + pos, r.data() + pos, l.data() + pos, r.data() + pos, n);
        pos += n;
    }
    return l;
}

TEST(PitchShifter, OctaveUpDoublesTheFrequency)
{
    PitchShifter ps(kRate);
    ps.setShift(12.0f, 0.0f);
    const auto y = run(ps, test::sine(440.0, kRate, 48000, 0.5));
    const size_t skip = ps.latencyFrames() + 4800;
    EXPECT_NEAR(test::dominantFrequency(y.data() + skip, y.size() - skip, kRate), 880.0, 3.0);
}

TEST(PitchShifter, LatencyIsTheSameForEverySetting)
{
    const double centre = 12000.0;
    const auto x = test::toneBurst(40000, centre, kRate);
    // The stretcher smears the envelope by a fraction of its window; its centre stays put to
    // within a few milliseconds (two octaves down the 250 Hz result smears most).
    const struct
    {
        float pitch;
        float formant;
        double toleranceMs;
    } settings[] = {{0, 0, 3},  {12, 0, 3},  {-12, 0, 3}, {7, 0, 3},
                    {24, 0, 3}, {-24, 0, 8}, {0, 12, 3},  {5, -7, 3}};
    for (const auto& s : settings) {
        PitchShifter ps(kRate);
        ps.setShift(s.pitch, s.formant);
        const auto y = run(ps, x);
        EXPECT_NEAR(test::energyCentre(y) - centre, double(ps.latencyFrames()),
                    0.001 * s.toleranceMs * kRate)
            << "pitch " << s.pitch << " formant " << s.formant;
    }
}

TEST(PitchShifter, ProcessIsRealTimeSafe)
{
    PitchShifter ps(kRate);
    const auto x = test::noise(kRate, 3, 0.3);
    std::vector<float> l = x;
    std::vector<float> r = x;
    test::AllocCounts counts;
    {
        test::ScopedAllocCount scope(counts);
        size_t pos = 0;
        uint32_t seed = 12345;
        for (int k = 0; pos < x.size(); ++k) {
            // Any value in range, as a modulated knob would send.
            seed = seed * 1664525u + 1013904223u;
            const float pitch = -24.0f + 48.0f * float(seed >> 8) / 16777216.0f;
            ps.setShift(pitch, float(k % 3) * 2.0f);
            const unsigned n =
                static_cast<unsigned>(std::min<size_t>(1 + (k * 997) % 4096, x.size() - pos));
            ps.process(l.data() + pos, r.data() + pos, l.data() + pos, r.data() + pos, n);
            pos += n;
        }
        ps.reset();
        ps.process(l.data(), r.data(), l.data(), r.data(), 4096);
    }
    EXPECT_EQ(counts.total(), 0u);
}

TEST(PitchShifter, BlocksOutsideOneTo4096AreLeftUntouched)
{
    PitchShifter ps(kRate);
    std::vector<float> l(4097, 0.25f);
    std::vector<float> r(4097, 0.25f);
    ps.process(l.data(), r.data(), l.data(), r.data(), 4097);
    ps.process(l.data(), r.data(), l.data(), r.data(), 0);
    EXPECT_EQ(test::peak(l), 0.25);
    EXPECT_EQ(l.front(), 0.25f);
}

} // namespace
} // namespace vesk
