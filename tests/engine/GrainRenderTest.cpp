// Grain playback: each grain is the source read at start + rate * x (linear interpolation) under
// a Hann window of its length, the same whatever block sizes the host renders in. Covers slow and
// fast rates, grains shorter than the window table, grains running off the region's end and a
// right channel that ends inside the region.
#include "SamplerTestUtil.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace vesk::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> noise(size_t frames, uint64_t seed)
{
    std::vector<float> v(frames);
    uint64_t x = seed;
    for (float& s : v) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        s = static_cast<float>(static_cast<double>(x >> 11) * 0x1.0p-52 - 1.0);
    }
    return v;
}

struct GrainCase
{
    int region; // index into the sampler's pool 0
    int64_t start;
    float rate;
    int64_t length;
    int64_t delay;
    float gain;
    float panL;
    float panR;
};

// Regions: 0 mono, 1 stereo, 2 stereo whose right channel ends 3000 frames in (region offset
// 1000, so 2000 frames into the region).
std::unique_ptr<Sampler> makeGrainSampler()
{
    auto s = makeSampler();
    s->appendSample(0, makeRegion(makeAudio(noise(20000, 1))));
    s->appendSample(0, makeRegion(makeAudio(noise(20000, 2), noise(20000, 3))));
    s->appendSample(0, makeRegion(makeAudio(noise(20000, 4), noise(3000, 5)), 1000, 12000));
    return s;
}

const GrainCase kCases[] = {
    {0, 100, 0.7f, 4800, 0, 0.5f, 1.0f, 0.8f},      // a few frames per eight outputs
    {1, 2000, 1.37f, 6000, 37, 0.5f, 0.6f, 1.2f},   // up to seventeen frames per eight
    {1, 9000, 3.31f, 1000, 5, 0.4f, 1.0f, 1.0f},    // fast, and shorter than the table
    {0, 19000, 1.9f, 5000, 0, 0.5f, 1.0f, 1.0f},    // runs off the region's end
    {2, 1500, 0.93f, 4500, 11, 0.5f, 1.1f, 0.9f},   // crosses the right channel's end
    {2, 10000, 2.75f, 3000, 400, 0.5f, 1.0f, 1.0f}, // runs off the region's end, right all past
    {1, 19500, 1.2f, 4800, 0, 0.5f, 1.0f, 1.0f},    // both channels run out
    {1, 19700, 0.8f, 4800, 3, 0.5f, 1.0f, 1.0f},    // both channels run out, slowly
    {1, 16000, 3.6f, 3000, 0, 0.5f, 1.0f, 1.0f},    // both channels run out, fast
    {1, 12000, 6.5f, 2500, 9, 0.5f, 1.0f, 1.0f},    // both channels run out, faster
};

void startGrains(Sampler& s, const GrainCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        CloudGrain& g = s.grains[i];
        g.sample = &s.pools[0].samples[static_cast<size_t>(cases[i].region)];
        g.startFrame = cases[i].start;
        g.rate = cases[i].rate;
        g.lengthSamples = cases[i].length;
        g.delaySamples = cases[i].delay;
        g.gain = cases[i].gain;
        g.panL = cases[i].panL;
        g.panR = cases[i].panR;
        g.elapsed = 0;
        g.pool = 0;
        g.active.store(true);
    }
}

StereoBuffer renderGrainsInBlocks(const GrainCase* cases, size_t count, size_t frames,
                                  uint32_t block)
{
    auto s = makeGrainSampler();
    startGrains(*s, cases, count);
    StereoBuffer out(frames);
    for (size_t done = 0; done < frames;) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, frames - done));
        s->renderGrains(out.left.data() + done, out.right.data() + done, n);
        done += n;
    }
    return out;
}

// The grains in double precision with the exact window.
void addReference(const Sampler& s, const GrainCase& c, StereoBuffer& out)
{
    const SampleData& region = s.pools[0].samples[static_cast<size_t>(c.region)];
    const RawAudioData& audio = *region.audio;
    const int64_t offset = region.offset;
    const int64_t length = static_cast<int64_t>(playableLength(region));
    auto at = [&](const std::vector<float>& channel, int64_t f) {
        const int64_t k = offset + f;
        return k < static_cast<int64_t>(channel.size()) ? static_cast<double>(channel[size_t(k)])
                                                        : 0.0;
    };
    for (int64_t x = 0; x < c.length; ++x) {
        const size_t i = static_cast<size_t>(x + c.delay);
        if (i >= out.left.size())
            break;
        const double read = static_cast<double>(c.start) + static_cast<double>(c.rate) * x;
        const int64_t f = static_cast<int64_t>(std::floor(read));
        if (f >= length - 1)
            break;
        const double frac = read - static_cast<double>(f);
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(x) / c.length);
        const double l = at(audio.left, f) + (at(audio.left, f + 1) - at(audio.left, f)) * frac;
        const std::vector<float>& right = audio.channels == 2 ? audio.right : audio.left;
        const double r = at(right, f) + (at(right, f + 1) - at(right, f)) * frac;
        out.left[i] += static_cast<float>(c.gain * c.panL * w * l);
        out.right[i] += static_cast<float>(c.gain * c.panR * w * r);
    }
}

TEST(GrainRenderTest, EachGrainFollowsItsReadPointUnderAHannWindow)
{
    constexpr size_t kFrames = 6100;
    auto s = makeGrainSampler();
    for (size_t k = 0; k < std::size(kCases); ++k) {
        StereoBuffer expected(kFrames);
        addReference(*s, kCases[k], expected);
        const StereoBuffer out = renderGrainsInBlocks(&kCases[k], 1, kFrames, 512);
        EXPECT_GT(peak(out.left), 0.02) << k;
        EXPECT_LT(largestDifference(out, expected), 1e-6) << k;
    }
}

TEST(GrainRenderTest, BlockSizesDoNotChangeTheSound)
{
    constexpr size_t kFrames = 6100;
    const StereoBuffer reference = renderGrainsInBlocks(kCases, std::size(kCases), kFrames, 6100);
    ASSERT_GT(peak(reference.right), 0.05);
    for (uint32_t block : {1u, 3u, 8u, 13u, 64u, 509u, 512u})
        EXPECT_TRUE(
            sameBits(reference, renderGrainsInBlocks(kCases, std::size(kCases), kFrames, block)))
            << block;
}

} // namespace
} // namespace vesk::test
