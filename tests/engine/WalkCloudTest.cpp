// Walk clouds: how many grains a walk emits, where and when they start, and what they sound like.
#include "SamplerTestUtil.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vesk::test {
namespace {

constexpr double kRate = 48000.0;
constexpr int64_t kSpacing = 1440; // 30 ms at 48 kHz

std::vector<const CloudGrain*> activeGrains(const Sampler& s)
{
    std::vector<const CloudGrain*> out;
    for (const CloudGrain& g : s.grains)
        if (g.active.load())
            out.push_back(&g);
    return out;
}

// A ramp region: frame i holds i / frames, so a grain's reading tells where it reads.
SampleData makeRampRegion(size_t frames)
{
    std::vector<float> ramp(frames);
    for (size_t i = 0; i < frames; ++i)
        ramp[i] = static_cast<float>(i) / static_cast<float>(frames);
    return makeRegion(makeAudio(std::move(ramp)));
}

std::unique_ptr<Sampler> cloudSampler(size_t frames, float startPercent, float reverseChance)
{
    auto s = makeSampler(kRate);
    s->appendSample(0, makeRampRegion(frames));
    SamplePool& p = s->pools[0];
    p.grainCloud = true;
    p.start.base = startPercent;
    p.reverseChance = reverseChance;
    p.volume.base = 12.0f; // grains play 12 dB below the knob: unity gain
    return s;
}

TEST(WalkCloudTest, WalkCountsAndDistances)
{
    struct Case
    {
        const char* what;
        size_t frames;
        float startPercent;
        float reverseChance;
        size_t grains;
        int64_t start;
        int64_t distance;
        float direction;
    };
    const Case cases[] = {
        // 0.2 s forwards from the start: trunc(9600 / 1440) = 6 grains.
        {"0.2 s forwards", 9600, 0.0f, 0.0f, 6, 0, 9600, 1.0f},
        // From the last frame backwards the walk covers the region: trunc(9599 / 1440) = 6.
        {"last frame backwards", 9600, 100.0f, 100.0f, 6, 9599, 9599, -1.0f},
        // From the last frame forwards: distance 1, one grain.
        {"last frame forwards", 9600, 100.0f, 0.0f, 1, 9599, 1, 1.0f},
        // Half-way backwards over 1 s: trunc(24000 / 1440) = 16.
        {"middle backwards", 48000, 50.0f, 100.0f, 16, 24000, 24000, -1.0f},
        // A long region is held to 100 grains.
        {"ten seconds", 480000, 0.0f, 0.0f, 100, 0, 480000, 1.0f},
    };
    for (const Case& c : cases) {
        auto s = cloudSampler(c.frames, c.startPercent, c.reverseChance);
        s->trigger(31, 60);
        EXPECT_EQ(activeGrains(*s).size(), c.grains) << c.what;
        const WalkState& w = s->walks[0];
        EXPECT_TRUE(w.active) << c.what;
        EXPECT_EQ(w.startFrame, c.start) << c.what;
        EXPECT_EQ(w.distance, c.distance) << c.what;
        EXPECT_EQ(w.direction, c.direction) << c.what;
        EXPECT_EQ(w.regionLength, c.frames) << c.what;
        EXPECT_TRUE(s->lastParams[0].valid);
    }
}

TEST(WalkCloudTest, GrainsAreSpacedThirtyMsAlongTheWalk)
{
    for (float reverse : {0.0f, 100.0f}) {
        auto s = cloudSampler(48000, 50.0f, reverse);
        s->trigger(77, 60);
        const auto grains = activeGrains(*s);
        ASSERT_EQ(grains.size(), 16u);
        const int64_t direction = reverse > 0.0f ? -1 : 1;
        for (size_t k = 0; k < grains.size(); ++k) {
            const CloudGrain& g = *grains[k];
            const int64_t nominal = static_cast<int64_t>(k) * kSpacing;
            // Delay within 10 ms of k x 30 ms, position within 20 ms of the walk's point.
            EXPECT_LE(std::abs(g.delaySamples - nominal), 480) << k;
            EXPECT_LE(std::abs(g.startFrame - (24000 + direction * nominal)), 960) << k;
            EXPECT_GE(g.lengthSamples, 4800);  // 100 ms
            EXPECT_LT(g.lengthSamples, 12000); // 250 ms
            EXPECT_FLOAT_EQ(g.rate, 1.0f);
            EXPECT_NEAR(g.gain, 1.0f, 1e-6f);
        }
    }
}

TEST(WalkCloudTest, GrainPlacementFollowsTheGeneratorSequence)
{
    // One playable region, randomizers off, forwards: one step picks the region, then three per
    // grain (position jitter, delay jitter, length).
    auto s = cloudSampler(9600, 0.0f, 0.0f);
    const uint64_t seed = 0xABCDEF12345ULL;
    s->trigger(seed, 60);
    XS64Rand rng;
    rng.state = seed;
    rng.next();
    auto uniformOf = [](uint64_t state) {
        return static_cast<double>((state * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-53;
    };
    const auto grains = activeGrains(*s);
    ASSERT_EQ(grains.size(), 6u);
    for (int64_t k = 0; k < 6; ++k) {
        rng.next();
        const uint64_t s1 = rng.state;
        rng.next();
        const uint64_t s2 = rng.state;
        rng.next();
        const uint64_t s3 = rng.state;
        const int64_t position = std::clamp<int64_t>(
            static_cast<int64_t>(k * kSpacing + (uniformOf(s1) * 2.0 - 1.0) * 960.0), 0, 9599);
        const int64_t delay = std::max<int64_t>(
            k * kSpacing + static_cast<int64_t>((uniformOf(s2) * 2.0 - 1.0) * 480.0), 0);
        const int64_t length =
            static_cast<int64_t>(48000.0 * (uniformOf(s3) * 150.0 + 100.0) * 0.001);
        EXPECT_EQ(grains[k]->startFrame, position) << k;
        EXPECT_EQ(grains[k]->delaySamples, delay) << k;
        EXPECT_EQ(grains[k]->lengthSamples, length) << k;
    }
}

struct GrainCopy
{
    int64_t start, delay, length;
    double rate, gainL, gainR;
};

// What the grains should sound like, from their placement alone: a Hann window over each
// grain's length, reading the region forwards from its start frame at its rate.
std::vector<float> expectedGrainSum(const std::vector<GrainCopy>& grains,
                                    const std::vector<float>& region, size_t frames, bool left)
{
    std::vector<double> sum(frames, 0.0);
    const int64_t length = static_cast<int64_t>(region.size());
    for (const GrainCopy& g : grains) {
        for (int64_t x = 0; x < g.length; ++x) {
            const int64_t t = g.delay + x;
            if (t >= static_cast<int64_t>(frames))
                break;
            const double w = 0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * x / g.length);
            const double r = g.rate * x;
            const int64_t f = g.start + static_cast<int64_t>(r);
            if (f < 0 || f + 1 >= length)
                continue;
            const double frac = r - std::floor(r);
            const double v = region[f] + (region[f + 1] - region[f]) * frac;
            sum[t] += (left ? g.gainL : g.gainR) * w * v;
        }
    }
    return std::vector<float>(sum.begin(), sum.end());
}

TEST(WalkCloudTest, RenderedGrainsSoundWhereAndWhenTheyArePlaced)
{
    for (bool pitched : {false, true}) {
        constexpr size_t kRegion = 24000;
        auto s = cloudSampler(kRegion, 20.0f, 0.0f);
        if (pitched) {
            s->pools[0].pitch = ParamRandomizer{0.0f, 0.5f, true, -1};
            s->pools[0].pan = ParamRandomizer{20.0f, 0.5f, true, -1};
        }
        s->trigger(2024, 60);
        std::vector<GrainCopy> grains;
        int64_t firstDelay = INT64_MAX;
        for (const CloudGrain* g : activeGrains(*s)) {
            grains.push_back({g->startFrame, g->delaySamples, g->lengthSamples, g->rate,
                              double(g->panL) * g->gain, double(g->panR) * g->gain});
            firstDelay = std::min(firstDelay, g->delaySamples);
        }
        ASSERT_EQ(grains.size(), 13u); // trunc((24000 - 4800) / 1440)

        constexpr size_t kFrames = 30000;
        StereoBuffer out(kFrames);
        renderInBlocks(*s, out, 0, kFrames, 333);
        const std::vector<float>& ramp = s->pools[0].samples[0].audio->left;
        const std::vector<float> expectLeft = expectedGrainSum(grains, ramp, kFrames, true);
        const std::vector<float> expectRight = expectedGrainSum(grains, ramp, kFrames, false);
        double worst = 0.0;
        for (size_t i = 0; i < kFrames; ++i)
            worst = std::max({worst, std::fabs(double(out.left[i]) - expectLeft[i]),
                              std::fabs(double(out.right[i]) - expectRight[i])});
        EXPECT_LT(worst, 2e-5) << (pitched ? "pitched" : "plain");
        // Silent until the first grain's window opens (its first sample has weight 0).
        EXPECT_EQ(firstAbove(out.left.data(), kFrames, 0.0), firstDelay + 1);
        EXPECT_FALSE(s->isPlaying()); // every grain has finished within 30000 frames
    }
}

TEST(WalkCloudTest, WalkEndsAfterItsDistance)
{
    auto s = cloudSampler(9600, 0.0f, 0.0f);
    s->trigger(5, 60);
    StereoBuffer out(9600);
    renderInBlocks(*s, out, 0, 9599, 512);
    EXPECT_TRUE(s->walks[0].active);
    renderInBlocks(*s, out, 9599, 1, 512);
    EXPECT_FALSE(s->walks[0].active);
}

TEST(WalkCloudTest, GrainCapHoldsAtFiveHundredTwelve)
{
    auto s = cloudSampler(480000, 0.0f, 0.0f); // 100 grains per cloud
    for (uint64_t seed = 2; seed < 8; ++seed)
        s->trigger(seed, 60);
    EXPECT_EQ(activeGrains(*s).size(), 512u);

    // With every slot taken, a further cloud emits nothing and changes no slot.
    std::vector<int64_t> delays;
    for (const CloudGrain& g : s->grains)
        delays.push_back(g.delaySamples);
    s->trigger(99, 60);
    EXPECT_EQ(activeGrains(*s).size(), 512u);
    for (size_t i = 0; i < delays.size(); ++i)
        ASSERT_EQ(s->grains[i].delaySamples, delays[i]) << i;
}

TEST(WalkCloudTest, LockedCloudKeepsItsRegion)
{
    auto s = makeSampler(kRate);
    for (int k = 0; k < 4; ++k)
        s->appendSample(0, makeDcRegion(0.1f * (k + 1), 9600));
    s->pools[0].grainCloud = true;
    s->trigger(3, 60);
    const uint64_t region = s->lastParams[0].sampleIndex;
    ASSERT_TRUE(s->setPoolLocked(0, true));
    for (uint64_t seed = 10; seed < 20; ++seed) {
        s->stop();
        s->trigger(seed, 60);
        for (const CloudGrain* g : activeGrains(*s))
            EXPECT_EQ(g->sample, &s->pools[0].samples[region]);
    }
}

TEST(WalkCloudTest, EmittingAndPlayingGrainsAllocateNothing)
{
    auto s = cloudSampler(480000, 0.0f, 0.0f);
    s->pools[0].pitch = ParamRandomizer{0.0f, 0.5f, true, -1};
    StereoBuffer out(4096);
    AllocCounts counts;
    {
        ScopedAllocCount scope(counts);
        for (uint64_t seed = 2; seed < 12; ++seed) {
            s->trigger(seed, 60);
            s->renderGrains(out.left.data(), out.right.data(), 4096);
        }
    }
    EXPECT_EQ(counts.total(), 0u);
}

} // namespace
} // namespace vesk::test
