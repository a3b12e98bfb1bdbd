#include "fx/dsp/PitchShifter.h"

#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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
    // Transposing up, the burst comes out at the latency to a fraction of a millisecond. Down, the
    // stretcher smears the envelope by a fraction of its window, most two octaves down, where the
    // stream is four times as long as the input and the window spans about 43 ms of it.
    const struct
    {
        float pitch;
        float formant;
        double toleranceMs;
    } settings[] = {{0, 0, 1},  {12, 0, 1},   {-12, 0, 3}, {7, 0, 1},
                    {24, 0, 1}, {-24, 0, 12}, {0, 12, 1},  {5, -7, 1}};
    for (const auto& s : settings) {
        PitchShifter ps(kRate);
        ps.setShift(s.pitch, s.formant);
        const auto y = run(ps, x);
        EXPECT_NEAR(test::energyCentre(y) - centre, double(ps.latencyFrames()),
                    0.001 * s.toleranceMs * kRate)
            << "pitch " << s.pitch << " formant " << s.formant;
    }
}

// A knob moved between extreme settings must not lose the place in the stretched stream: the
// sound keeps going while it moves, and once it settles a burst comes out at the latency as it
// would with a fixed setting (two octaves down the stretcher smears the burst most).
TEST(PitchShifter, KeepsItsPlaceWhileThePitchMoves)
{
    const struct
    {
        double rate;
        float pitch;
        double toleranceMs;
    } settled[] = {{44100, -24, 20}, {44100, -7, 3},  {44100, 0, 1}, {44100, 24, 1},
                   {96000, -24, 20}, {96000, -12, 5}, {96000, 12, 1}};
    for (const auto& s : settled) {
        PitchShifter ps(s.rate);
        const size_t moving = size_t(2.0 * s.rate);
        const double centre = double(moving) + s.rate;
        std::vector<float> x =
            test::toneBurst(size_t(centre + s.rate) + ps.latencyFrames(), centre, s.rate);
        const auto noise = test::noise(moving, 2, 0.3);
        std::copy(noise.begin(), noise.end(), x.begin());

        static constexpr unsigned kSizes[] = {512, 1, 4096, 100, 2048, 33, 777, 4096};
        std::vector<float> l = x;
        std::vector<float> r = x;
        uint32_t seed = 99;
        for (size_t pos = 0, k = 0; pos < x.size(); ++k) {
            const unsigned n = unsigned(std::min<size_t>(kSizes[k % 8], x.size() - pos));
            seed = seed * 1664525u + 1013904223u;
            const float pitch = pos < moving ? float(int(seed >> 8) % 49 - 24) : s.pitch;
            ps.setShift(pitch, 0.0f);
            ps.process(l.data() + pos, r.data() + pos, l.data() + pos, r.data() + pos, n);
            pos += n;
        }

        // No gap while it moved: every 5 ms of the shifted noise has sound in it.
        const size_t window = size_t(0.005 * s.rate);
        int silentWindows = 0;
        for (size_t at = ps.latencyFrames() + window; at + window < moving; at += window)
            silentWindows += test::rms(l.data() + at, window) < 0.01 ? 1 : 0;
        EXPECT_EQ(silentWindows, 0) << "rate " << s.rate << " settled at " << s.pitch;

        const size_t from = size_t(centre + ps.latencyFrames() - 0.25 * s.rate);
        const std::vector<float> tail(l.begin() + from, l.begin() + from + size_t(0.5 * s.rate));
        EXPECT_NEAR(test::energyCentre(tail) + double(from) - centre, double(ps.latencyFrames()),
                    0.001 * s.toleranceMs * s.rate)
            << "rate " << s.rate << " settled at " << s.pitch;
    }
}

// Unshifted, every region stays where it is with its phases untouched, so the frames add up to
// the input again: the output is the input delayed by the latency, at every rate.
TEST(PitchShifter, UnshiftedIsTheInputDelayed)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        PitchShifter ps(rate);
        const auto x = test::noise(size_t(rate), 5, 0.3);
        const auto y = run(ps, x);
        const size_t latency = ps.latencyFrames();
        double error = 0.0, energy = 0.0;
        for (size_t i = 0; i + latency < x.size(); ++i) {
            error += (double(y[i + latency]) - x[i]) * (double(y[i + latency]) - x[i]);
            energy += double(x[i]) * x[i];
        }
        EXPECT_LT(10.0 * std::log10(error / energy), -100.0) << rate;
    }
}

// A sample that is not finite counts as silence: it cannot spoil the frames around it.
TEST(PitchShifter, ANonFiniteSampleIsTakenAsSilence)
{
    auto x = test::sine(440.0, kRate, 24000, 0.5);
    auto clean = x;
    x[5000] = std::numeric_limits<float>::quiet_NaN();
    x[9000] = -std::numeric_limits<float>::infinity();
    clean[5000] = clean[9000] = 0.0f;
    PitchShifter a(kRate), b(kRate);
    a.setShift(7.0f, 0.0f);
    b.setShift(7.0f, 0.0f);
    const auto y = run(a, x);
    const auto z = run(b, clean);
    EXPECT_EQ(y, z);
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
