#include "fx/dsp/Stft.h"

#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vesk {
namespace {

using test::AllocCounts;
using test::ScopedAllocCount;

// Runs both channels through the STFT in blocks of varying size, calling onHop per hop.
template <class OnHop>
void runBlocks(Stft& stft, std::vector<float>& l, std::vector<float>& r, OnHop&& onHop)
{
    static constexpr unsigned kSizes[] = {1, 255, 256, 257, 1000, 4096, 7, 64};
    size_t pos = 0;
    for (int k = 0; pos < l.size(); ++k) {
        const unsigned n = static_cast<unsigned>(std::min<size_t>(kSizes[k % 8], l.size() - pos));
        stft.process(l.data() + pos, r.data() + pos, n, onHop);
        pos += n;
    }
}

TEST(Stft, UntouchedSpectraReturnTheInputDelayedByTheLatency)
{
    Stft stft;
    const size_t n = 20000;
    const auto inL = test::noise(n, 11);
    const auto inR = test::sine(1234.5, 48000.0, n, 0.5);
    auto l = inL;
    auto r = inR;
    AllocCounts counts;
    {
        ScopedAllocCount scope(counts);
        runBlocks(stft, l, r, [](Stft::Bin*, Stft::Bin*) {});
    }
    EXPECT_EQ(counts.total(), 0u);
    const size_t lat = Stft::kLatencyFrames;
    // Before the latency only rounding noise of the first frames' tails comes out.
    EXPECT_LT(test::peak(l.data(), lat), 1e-6);
    const size_t m = n - lat;
    EXPECT_LT(test::errorDb(inL.data(), l.data() + lat, m), -100.0);
    EXPECT_LT(test::errorDb(inR.data(), r.data() + lat, m), -100.0);
    // Unit gain, not merely proportional.
    EXPECT_NEAR(test::rms(l.data() + lat, m) / test::rms(inL.data(), m), 1.0, 1e-4);
}

TEST(Stft, ResetClearsTheHistory)
{
    Stft stft;
    auto l = test::noise(3000, 5);
    auto r = l;
    runBlocks(stft, l, r, [](Stft::Bin*, Stft::Bin*) {});
    stft.reset();
    std::vector<float> zl(4096, 0.0f);
    std::vector<float> zr(4096, 0.0f);
    runBlocks(stft, zl, zr, [](Stft::Bin*, Stft::Bin*) {});
    EXPECT_EQ(test::peak(zl), 0.0);
    EXPECT_EQ(test::peak(zr), 0.0);
}

TEST(Stft, SpectrumScaleAndChannelsAreSeparate)
{
    // A full-scale sine on a bin centre reads half the window's sum at that bin; the other
    // channel stays empty.
    Stft stft;
    const double rate = 48000.0;
    const int bin = 64;
    auto l = test::sine(bin * rate / Stft::kWindow, rate, 4096);
    std::vector<float> r(4096, 0.0f);
    double windowSum = 0.0;
    for (int i = 0; i < Stft::kWindow; ++i)
        windowSum += stft.window()[i];
    float lastLeft = 0.0f;
    float lastRight = 1.0f;
    runBlocks(stft, l, r, [&](Stft::Bin* a, Stft::Bin* b) {
        lastLeft = std::abs(a[bin]);
        lastRight = std::abs(b[bin]);
    });
    EXPECT_NEAR(lastLeft, 0.5 * windowSum, 1e-3 * windowSum);
    EXPECT_LT(lastRight, 1e-3f);
}

TEST(Stft, EachSpectrumActsOnItsOwnChannelOnly)
{
    // Both channels share the transforms: a change to one channel's spectrum must reach that
    // channel and leave the other exactly as it was.
    struct Case
    {
        float leftGain;
        float rightGain;
    };
    for (const Case c : {Case{0.0f, 1.0f}, Case{1.0f, 0.0f}, Case{0.5f, 1.0f}, Case{1.0f, -2.0f}}) {
        SCOPED_TRACE(testing::Message() << "gains " << c.leftGain << ", " << c.rightGain);
        Stft stft;
        const size_t n = 12000;
        const auto inL = test::noise(n, 3);
        const auto inR = test::sine(440.0, 48000.0, n, 0.5);
        auto l = inL;
        auto r = inR;
        runBlocks(stft, l, r, [&](Stft::Bin* a, Stft::Bin* b) {
            for (int k = 0; k < Stft::kBins; ++k) {
                a[k] *= c.leftGain;
                b[k] *= c.rightGain;
            }
        });
        const size_t lat = Stft::kLatencyFrames;
        const size_t m = n - lat;
        const auto scaled = [&](const std::vector<float>& x, float g) {
            std::vector<float> y(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(m));
            for (float& v : y)
                v *= g;
            return y;
        };
        const std::vector<float>* out[2] = {&l, &r};
        const std::vector<float>* in[2] = {&inL, &inR};
        const float gains[2] = {c.leftGain, c.rightGain};
        for (int ch = 0; ch < 2; ++ch) {
            const float* got = out[ch]->data() + lat;
            if (gains[ch] == 0.0f)
                EXPECT_LT(test::peak(got, m), 1e-5) << "channel " << ch;
            else
                EXPECT_LT(test::errorDb(scaled(*in[ch], gains[ch]).data(), got, m), -100.0)
                    << "channel " << ch;
        }
    }
}

TEST(Stft, ANonFiniteSampleIsTakenAsSilence)
{
    // NaN and infinity on the left at a few places: the right channel comes out exactly as with a
    // silent left, and the left stays finite.
    Stft stft;
    Stft reference;
    const size_t n = 8000;
    auto l = test::noise(n, 5);
    auto r = test::sine(300.0, 48000.0, n, 0.5);
    auto quietL = l;
    auto quietR = r;
    for (size_t i : {100u, 2000u, 2001u, 5000u}) {
        l[i] = i % 2 != 0 ? std::numeric_limits<float>::quiet_NaN()
                          : -std::numeric_limits<float>::infinity();
        quietL[i] = 0.0f;
    }
    runBlocks(stft, l, r, [](Stft::Bin*, Stft::Bin*) {});
    runBlocks(reference, quietL, quietR, [](Stft::Bin*, Stft::Bin*) {});
    EXPECT_EQ(r, quietR);
    EXPECT_EQ(l, quietL);
}

} // namespace
} // namespace vesk
