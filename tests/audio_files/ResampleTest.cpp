// Conversion to the engine rate and the reload after a rate change.
#include "WavTestFiles.h"
#include "audio_files/Resample.h"
#include "audio_files/WavLoader.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vesk {
namespace {

TEST(ResampleChannel, OutputLengthIsExact)
{
    struct Case
    {
        double in, out;
        size_t n, expected;
    };
    // m = ceil(out * n / in)
    const Case cases[] = {
        {44100.0, 48000.0, 44100, 48000}, {48000.0, 44100.0, 48000, 44100},
        {44100.0, 48000.0, 1000, 1089},   {48000.0, 96000.0, 777, 1554},
        {96000.0, 48000.0, 777, 389},     {22050.0, 48000.0, 1, 3},
    };
    for (const Case& c : cases) {
        std::vector<float> out;
        resampleChannel(std::vector<float>(c.n, 0.1f), c.in, out, c.out);
        EXPECT_EQ(out.size(), c.expected) << c.in << " -> " << c.out << ", " << c.n;
    }
}

TEST(ResampleChannel, SineKeepsFrequencyAndLevel)
{
    const auto in = test::sine(1000.0, 44100.0, 44100, 0.5);
    std::vector<float> out;
    resampleChannel(in, 44100.0, out, 48000.0);
    ASSERT_EQ(out.size(), 48000u);
    // The same sine sampled at 48 kHz, compared away from the edges without a fitted gain.
    const auto ref = test::sine(1000.0, 48000.0, 48000, 0.5);
    double err = 0.0, sig = 0.0;
    for (size_t i = 2000; i < 46000; ++i) {
        err += (double(out[i]) - ref[i]) * (double(out[i]) - ref[i]);
        sig += double(ref[i]) * ref[i];
    }
    EXPECT_LT(10.0 * std::log10(err / sig), -90.0);
}

TEST(ResampleChannel, ImpulseKeepsItsTime)
{
    struct Case
    {
        double in, out;
    };
    for (const Case c : {Case{44100.0, 48000.0}, Case{48000.0, 44100.0}, Case{48000.0, 96000.0},
                         Case{96000.0, 44100.0}}) {
        std::vector<float> in(20000, 0.0f);
        in[10000] = 1.0f;
        std::vector<float> out;
        resampleChannel(in, c.in, out, c.out);
        size_t best = 0;
        for (size_t i = 0; i < out.size(); ++i)
            if (std::abs(out[i]) > std::abs(out[best]))
                best = i;
        EXPECT_NEAR(double(best), 10000.0 * c.out / c.in, 1.0) << c.in << " -> " << c.out;
    }
}

TEST(ResampleChannel, EqualRatesCopyBitForBit)
{
    const auto in = test::noise(5000, 5);
    std::vector<float> out;
    resampleChannel(in, 48000.0, out, 48000.0);
    EXPECT_EQ(out, in);
}

TEST(ResampleChannel, UnusableRatesGiveNothing)
{
    const std::vector<float> in(100, 0.5f);
    for (double r : {0.0, -44100.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        std::vector<float> out(3, 1.0f);
        resampleChannel(in, r, out, 48000.0);
        EXPECT_TRUE(out.empty()) << r;
    }
    // An output beyond the load limit is refused rather than allocated.
    std::vector<float> out;
    resampleChannel(in, 1.0, out, 1e9);
    EXPECT_TRUE(out.empty());
}

// A pool list over a real file at 48 kHz, as a load would have made it.
struct ReloadFixture : ::testing::Test
{
    SamplePool pools[kNumPools];
    RawAudioCache cache;
    std::string path;
    std::shared_ptr<const RawAudioData> audio48;

    void SetUp() override
    {
        path = test::tmpPath("reload.wav");
        ASSERT_TRUE(test::writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000,
                                           test::sine(500.0, 48000.0, 4800, 0.5)));
        audio48 = loadWavRaw(path, 48000.0);
        ASSERT_NE(audio48, nullptr);
        cache.put(path, audio48);
    }

    SampleData region(int64_t offset, uint64_t length)
    {
        SampleData r;
        r.audio = audio48;
        r.offset = offset;
        r.length = length;
        return r;
    }
};

TEST_F(ReloadFixture, RescalesRegionsAndSharesTheNewAudio)
{
    pools[0].samples = {region(0, 1000), region(1000, 0)};
    pools[3].samples = {region(2401, 333)};
    pools[0].lastTrigger.sampleIndex = 1;
    reloadAllSamplesForSampleRate(pools, cache, 48000.0, 96000.0);

    const auto& a = pools[0].samples;
    ASSERT_NE(a[0].audio, audio48);
    EXPECT_EQ(a[0].audio->sampleRate, 96000.0);
    EXPECT_EQ(a[0].audio->left.size(), 9600u);
    // One decode for the whole project: every region of the file shares it.
    EXPECT_EQ(a[0].audio, a[1].audio);
    EXPECT_EQ(a[0].audio, pools[3].samples[0].audio);
    EXPECT_EQ(a[0].offset, 0);
    EXPECT_EQ(a[0].length, 2000u);
    EXPECT_EQ(a[1].offset, 2000);
    EXPECT_EQ(a[1].length, 0u); // still "to the end"
    EXPECT_EQ(pools[3].samples[0].offset, 4802);
    EXPECT_EQ(pools[3].samples[0].length, 666u);
    // The displayed region's duration, peaks and overview follow the new audio.
    EXPECT_NEAR(pools[0].lastTrigger.durationMs, 3800.0 * 1000.0 / 48000.0, 0.01);
    float expected[kDisplayPeaks];
    computeRegionPeaks(a[1], expected, kDisplayPeaks);
    EXPECT_TRUE(std::equal(expected, expected + kDisplayPeaks, pools[0].peaks));
    EXPECT_NEAR(*std::max_element(pools[0].peaks, pools[0].peaks + kDisplayPeaks), 0.5, 0.01);
    EXPECT_NEAR(*std::max_element(pools[0].overview, pools[0].overview + kOverviewPeaks), 0.5,
                0.01);
    // The cache now hands out the new audio at the new rate only.
    EXPECT_EQ(cache.get(path, 96000.0), a[0].audio);
    EXPECT_EQ(cache.get(path, 48000.0), nullptr);
}

TEST_F(ReloadFixture, FileThatNoLongerDecodesKeepsItsAudio)
{
    pools[1].samples = {region(100, 200)};
    ASSERT_EQ(std::remove(path.c_str()), 0);
    reloadAllSamplesForSampleRate(pools, cache, 48000.0, 96000.0);
    EXPECT_EQ(pools[1].samples[0].audio, audio48);
    EXPECT_EQ(pools[1].samples[0].offset, 100);
    EXPECT_EQ(pools[1].samples[0].length, 200u);
}

TEST_F(ReloadFixture, PlaceholderBecomesRealWhenTheFileIsBack)
{
    auto placeholder = std::make_shared<RawAudioData>();
    placeholder->path = path;
    placeholder->channels = 0;
    pools[2].samples.push_back(SampleData{placeholder, 0, 0});
    reloadAllSamplesForSampleRate(pools, cache, 48000.0, 44100.0);
    const auto& audio = pools[2].samples[0].audio;
    ASSERT_NE(audio, placeholder);
    EXPECT_EQ(audio->channels, 1);
    EXPECT_EQ(audio->left.size(), 4410u);
}

TEST(RegionPeaks, BinsFollowTheRule)
{
    auto audio = std::make_shared<RawAudioData>();
    audio->channels = 2;
    audio->left = {0.1f, -0.5f, 0.2f, 0.0f, 0.3f, 0.0f};
    audio->right = {0.0f, 0.0f, 0.0f, -0.9f}; // shorter: missing frames read as 0
    SampleData r{audio, 1, 4};                // frames 1..4
    float peaks[2];
    computeRegionPeaks(r, peaks, 2);
    EXPECT_FLOAT_EQ(peaks[0], 0.5f); // frames 1, 2
    EXPECT_FLOAT_EQ(peaks[1], 0.9f); // frames 3, 4
    r.offset = 10;
    computeRegionPeaks(r, peaks, 2);
    EXPECT_EQ(peaks[0], 0.0f);
    EXPECT_EQ(peaks[1], 0.0f);
}

} // namespace
} // namespace vesk
