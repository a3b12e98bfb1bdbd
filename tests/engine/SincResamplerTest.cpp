// The interpolator on its own: exact rates, alignment, image and alias rejection.
#include "engine/SincResampler.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vesk {
namespace {

// Runs a whole mono signal through the resampler in blocks of `block` output frames, padding the
// end with the kernel's look-ahead in zeros.
std::vector<float> runResampler(const std::vector<float>& in, double ratio, int block)
{
    SincResampler rs;
    rs.reset();
    rs.setRates(48000.0 * ratio, 48000.0);
    std::vector<float> out;
    size_t pos = 0;
    int tail = SincResampler::kHalfTaps;
    std::vector<float> tmp(static_cast<size_t>(block));
    for (;;) {
        const int need = rs.inputNeeded(block);
        int fed = 0;
        float* dst = rs.inputWrite(0);
        while (fed < need && pos < in.size())
            dst[fed++] = in[pos++];
        while (fed < need && tail > 0) {
            dst[fed++] = 0.0f;
            --tail;
        }
        rs.commitInput(fed);
        float* outs[1] = {tmp.data()};
        const int got = rs.process(outs, 1, block);
        out.insert(out.end(), tmp.begin(), tmp.begin() + got);
        if (got == 0)
            break;
    }
    return out;
}

TEST(SincResampler, OutputLengthMatchesRatio)
{
    // n input frames at ratio r give ceil(n / r) output frames: one for every input position
    // k * r below n.
    const std::vector<float> in(10000, 0.25f);
    for (double ratio : {0.5, 1.0, 1.37, 2.0, 3.3}) {
        const auto out = runResampler(in, ratio, 333);
        EXPECT_EQ(out.size(), size_t(std::ceil(10000.0 / ratio))) << "ratio " << ratio;
    }
}

TEST(SincResampler, ImpulseLandsAtItsPosition)
{
    std::vector<float> in(2000, 0.0f);
    in[700] = 1.0f;
    for (double ratio : {0.5, 1.0, 2.0}) {
        const auto out = runResampler(in, ratio, 128);
        size_t best = 0;
        for (size_t i = 0; i < out.size(); ++i)
            if (std::abs(out[i]) > std::abs(out[best]))
                best = i;
        EXPECT_NEAR(double(best), 700.0 / ratio, 1.0) << "ratio " << ratio;
    }
}

TEST(SincResampler, SineKeepsFrequencyAndShape)
{
    // A 1 kHz sine read at ratio 1.37 is a 1370 Hz sine; compare away from the edges.
    const auto in = test::sine(1000.0, 48000.0, 48000);
    const double ratio = 1.37;
    const auto out = runResampler(in, ratio, 512);
    const size_t n = 20000;
    const auto ref = test::sine(1000.0 * ratio, 48000.0, n + 100);
    EXPECT_LT(test::errorDb(ref.data() + 100, out.data() + 100, n - 100), -90.0);
}

TEST(SincResampler, RatesChangeWithoutReset)
{
    // Halfway through, the ratio changes from 1 to 2: the output frequency doubles and the
    // waveform stays continuous (no step larger than the steepest slope of the faster sine).
    const auto in = test::sine(500.0, 48000.0, 40000);
    SincResampler rs;
    rs.reset();
    rs.setRates(48000.0, 48000.0);
    std::vector<float> out;
    size_t pos = 0;
    float tmp[256];
    float* outs[1] = {tmp};
    for (int blockIndex = 0; blockIndex < 60; ++blockIndex) {
        if (blockIndex == 30)
            rs.setRates(96000.0, 48000.0);
        const int need = rs.inputNeeded(256);
        float* dst = rs.inputWrite(0);
        for (int i = 0; i < need; ++i)
            dst[i] = in[pos++];
        rs.commitInput(need);
        const int got = rs.process(outs, 1, 256);
        ASSERT_EQ(got, 256);
        out.insert(out.end(), tmp, tmp + got);
    }
    EXPECT_NEAR(test::dominantFrequency(out.data() + 1000, 6000, 48000.0), 500.0, 1.0);
    EXPECT_NEAR(test::dominantFrequency(out.data() + 30 * 256 + 100, 6000, 48000.0), 1000.0, 1.0);
    const double maxStep = 2.0 * M_PI * 1000.0 / 48000.0 * 1.05;
    for (size_t i = 1000; i + 1 < out.size(); ++i)
        ASSERT_LE(std::abs(out[i + 1] - out[i]), maxStep) << "at " << i;
}

TEST(SincResampler, CutoffFollowsTheRatio)
{
    // Reading at ratio 2, a partial at 0.45 of the input rate would fold to 0.1 of the output
    // rate; the lowered cut-off keeps it more than 60 dB down. At ratio 1 it passes.
    const double rate = 48000.0;
    const auto in = test::sine(0.45 * rate, rate, 40000);
    const auto up = runResampler(in, 2.0, 1024);
    EXPECT_LT(test::toDb(test::peak(up.data() + 500, up.size() - 1000)), -60.0);
    const auto same = runResampler(in, 1.0, 1024);
    EXPECT_GT(test::amplitudeAt(same.data() + 500, 20000, 0.45 * rate, rate), 0.5);
}

TEST(SincResampler, HugeRatioIsBounded)
{
    SincResampler rs;
    rs.reset();
    rs.setRates(1e12, 1.0);
    EXPECT_EQ(rs.ratio(), SincResampler::kMaxRatio);
    EXPECT_LE(rs.inputNeeded(1 << 30), SincResampler::kCapacity);
    rs.setRates(std::nan(""), 48000.0);
    EXPECT_TRUE(std::isfinite(rs.ratio()));
}

} // namespace
} // namespace vesk
