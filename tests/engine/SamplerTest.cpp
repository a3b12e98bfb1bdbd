// Triggering: which pools sound, which voice a trigger takes, locks, audition, replay, stop, and
// that one seed always gives the same audio.
#include "SamplerTestUtil.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vesk::test {
namespace {

constexpr double kRate = 48000.0;

// A pool of `count` DC regions of distinct levels (0.1, 0.2, ...), so the output level tells
// which region plays. One second long each.
void fillDcPool(Sampler& s, int pool, int count, float step = 0.1f)
{
    for (int i = 0; i < count; ++i)
        s.appendSample(pool, makeDcRegion(step * static_cast<float>(i + 1), 48000));
}

// Output level some way into a block, past the interpolator's onset.
float levelAfterTrigger(Sampler& s, uint32_t frames = 256, uint32_t at = 128)
{
    StereoBuffer out(frames);
    renderMix(s, out.left.data(), out.right.data(), frames);
    return out.left[at];
}

// A busy setup: three direct pools with every randomizer on (pitch only when `pitchedVoices`),
// one stereo noise pool, one cloud with pitch and pan drawn per grain.
void buildBusySetup(Sampler& s, bool pitchedVoices = true)
{
    for (int pool = 0; pool < 3; ++pool) {
        for (int k = 0; k < 3; ++k)
            s.appendSample(pool, makeRegion(makeAudio(
                                     sine(220.0 * (pool + 1) + 55.0 * k, kRate, 12000, 0.3))));
        SamplePool& p = s.pools[pool];
        p.pitch = ParamRandomizer{0.0f, 0.5f, pitchedVoices, -1};
        p.volume = ParamRandomizer{-6.0f, 0.3f, true, -1};
        p.pan = ParamRandomizer{0.0f, 0.7f, true, -1};
        p.delay = ParamRandomizer{10.0f, 0.01f, true, -1};
        p.start = ParamRandomizer{0.0f, 0.2f, true, -1};
        p.reverseChance = 50.0f;
    }
    s.appendSample(3, makeRegion(makeAudio(noise(20000, 5, 0.2), noise(20000, 6, 0.2))));
    s.pools[3].fadeOut = 0.3f;
    s.appendSample(4, makeRegion(makeAudio(sine(330.0, kRate, 30000, 0.5))));
    s.pools[4].grainCloud = true;
    s.pools[4].pitch = ParamRandomizer{0.0f, 0.3f, true, -1};
    s.pools[4].pan = ParamRandomizer{0.0f, 1.0f, true, -1};
    s.pools[4].start.base = 10.0f;
}

StereoBuffer renderTrigger(uint64_t seed, size_t frames, uint32_t blockFrames,
                           bool pitchedVoices = false)
{
    auto s = makeSampler(kRate);
    buildBusySetup(*s, pitchedVoices);
    s->trigger(seed, 60);
    StereoBuffer out(frames);
    renderInBlocks(*s, out, 0, frames, blockFrames);
    return out;
}

TEST(SamplerTriggerTest, SameSeedSameBitsWhateverTheHostBlockSize)
{
    constexpr size_t kFrames = 14000;
    const StereoBuffer reference = renderTrigger(0xC0FFEE, kFrames, 512);
    ASSERT_GT(peak(reference.left), 0.05);
    for (uint32_t block : {1u, 64u, 4097u})
        EXPECT_TRUE(sameBits(reference, renderTrigger(0xC0FFEE, kFrames, block))) << block;
    EXPECT_FALSE(sameBits(reference, renderTrigger(0xC0FFEF, kFrames, 512)));
}

TEST(SamplerTriggerTest, PitchedVoicesSameBitsWhateverTheHostBlockSize)
{
    constexpr size_t kFrames = 14000;
    const StereoBuffer reference = renderTrigger(0xC0FFEE, kFrames, 512, true);
    for (uint32_t block : {1u, 64u, 4097u}) {
        const StereoBuffer other = renderTrigger(0xC0FFEE, kFrames, block, true);
        if (sameBits(reference, other))
            continue;
        const double difference = largestDifference(reference, other);
        ASSERT_LT(difference, 1e-6) << block;
        GTEST_SKIP() << "pitched voices differ by up to " << difference << " between host blocks of"
                     << " 512 and " << block << " frames: the interpolator's read position"
                     << " rounds differently depending on where its buffer is compacted";
    }
}

TEST(SamplerTriggerTest, SeedsZeroAndOneGiveTheSameSound)
{
    const StereoBuffer zero = renderTrigger(0, 6000, 512);
    ASSERT_GT(peak(zero.left), 0.05);
    EXPECT_TRUE(sameBits(zero, renderTrigger(1, 6000, 512)));
    EXPECT_FALSE(sameBits(zero, renderTrigger(2, 6000, 512)));
}

TEST(SamplerTriggerTest, PlayableSamplesAlternateOrCycle)
{
    struct Case
    {
        int count;
        int period;
    };
    for (const Case c : {Case{2, 2}, Case{3, 3}}) {
        auto s = makeSampler(kRate);
        fillDcPool(*s, 0, c.count);
        std::vector<float> levels;
        for (uint64_t seed = 10; seed < 22; ++seed) {
            s->trigger(seed * 0x9E3779B97F4A7C15ULL, 60);
            levels.push_back(levelAfterTrigger(*s));
        }
        for (size_t i = 0; i < levels.size(); ++i) {
            // Single mode: only the newest voice sounds, at its region's DC level.
            const float nearest = std::round(levels[i] * 10.0f) / 10.0f;
            EXPECT_NEAR(levels[i], nearest, 2e-3f);
            if (i >= 1) {
                EXPECT_NE(nearest, std::round(levels[i - 1] * 10.0f) / 10.0f);
            }
            if (i >= static_cast<size_t>(c.period)) {
                EXPECT_NEAR(levels[i], levels[i - c.period], 1e-6f);
            }
        }
    }
}

TEST(SamplerTriggerTest, MutedDirectPoolTakesItsVoiceMutedCloudEmitsNothing)
{
    auto s = makeSampler(kRate);
    fillDcPool(*s, 0, 1);
    s->appendSample(1, makeDcRegion(0.5f, 48000));
    s->pools[1].grainCloud = true;
    s->appendSample(2, makeDcRegion(0.5f, 48000));
    s->pools[2].grainCloud = true;
    s->muteMask = 0b011;
    s->soloMask = 0b001; // pool 2 soloed out

    s->trigger(77, 60);
    EXPECT_TRUE(s->voices[0][0].isActive());
    EXPECT_TRUE(s->pools[0].lastTrigger.hasValue);
    EXPECT_FALSE(s->walks[1].active);
    EXPECT_FALSE(s->walks[2].active);
    StereoBuffer out(4800);
    renderInBlocks(*s, out, 0, 4800, 512);
    EXPECT_EQ(peak(out.left), 0.0);

    // Unmuted, the voice that kept time is heard at once, and clouds start.
    s->muteMask = 0;
    s->soloMask = 0;
    EXPECT_NEAR(levelAfterTrigger(*s), 0.1f, 2e-3f);
    s->trigger(78, 60);
    EXPECT_TRUE(s->walks[1].active);
    EXPECT_TRUE(s->walks[2].active);
}

// Drives one pool with chosen draws: region k, no randomisation.
VoiceParams drawOf(int regionIndex)
{
    VoiceParams p;
    p.sampleIndex = static_cast<uint64_t>(regionIndex);
    p.valid = true;
    return p;
}

TEST(SamplerTriggerTest, PolyStealsVoicesInTurn)
{
    auto s = makeSampler(kRate);
    // Levels 1, 2, 4, 8, 16 hundredths: any sum of playing regions is unique.
    for (float level : {0.01f, 0.02f, 0.04f, 0.08f, 0.16f})
        s->appendSample(0, makeDcRegion(level, 48000));
    s->retriggerMode = false;
    for (int k = 0; k < 4; ++k)
        s->triggerVoiceAndUpdateCache(0, drawOf(k));
    EXPECT_NEAR(levelAfterTrigger(*s), 0.15f, 2e-3f);
    s->triggerVoiceAndUpdateCache(0, drawOf(4)); // fifth: takes voice 0 (region 0 gone)
    EXPECT_NEAR(levelAfterTrigger(*s), 0.30f, 2e-3f);
    EXPECT_EQ(s->voices[0][0].sample, &s->pools[0].samples[4]);
    s->triggerVoiceAndUpdateCache(0, drawOf(0)); // sixth: takes voice 1 (region 1 gone)
    EXPECT_NEAR(levelAfterTrigger(*s), 0.29f, 2e-3f);
    EXPECT_EQ(s->voices[0][1].sample, &s->pools[0].samples[0]);
    s->triggerVoiceAndUpdateCache(0, drawOf(1)); // seventh: voice 2 (region 2 gone)
    EXPECT_NEAR(levelAfterTrigger(*s), 0.27f, 2e-3f);
}

TEST(SamplerTriggerTest, SingleCutsVoiceZeroAndPolyOverlaps)
{
    for (bool single : {true, false}) {
        auto s = makeSampler(kRate);
        s->appendSample(0, makeDcRegion(0.5f, 48000));
        s->appendSample(0, makeDcRegion(0.25f, 48000));
        s->retriggerMode = single;
        s->triggerVoiceAndUpdateCache(0, drawOf(0));
        levelAfterTrigger(*s);
        s->triggerVoiceAndUpdateCache(0, drawOf(1));
        // 64 samples later a 5 ms fade of the first sound would still be at about 73 %.
        const float level = levelAfterTrigger(*s, 256, 64);
        EXPECT_NEAR(level, single ? 0.25f : 0.75f, 2e-3f) << single;
    }
}

TEST(SamplerTriggerTest, SingleFadesTheOtherVoicesOverFiveMs)
{
    auto s = makeSampler(kRate);
    s->appendSample(0, makeDcRegion(0.5f, 48000));
    s->appendSample(0, makeDcRegion(0.25f, 48000));
    s->retriggerMode = false;
    s->triggerVoiceAndUpdateCache(0, drawOf(0));
    s->triggerVoiceAndUpdateCache(0, drawOf(0)); // voice 1
    levelAfterTrigger(*s);
    s->retriggerMode = true;
    s->triggerVoiceAndUpdateCache(0, drawOf(1)); // voice 0 cut; voice 1 fades over 240 samples
    StereoBuffer out(480);
    renderMix(*s, out.left.data(), out.right.data(), 480);
    EXPECT_NEAR(out.left[120], 0.25f + 0.5f * (1.0f - 120.0f / 240.0f), 5e-3f);
    EXPECT_NEAR(out.left[400], 0.25f, 2e-3f);
    EXPECT_FALSE(s->voices[0][1].isActive());
}

TEST(SamplerTriggerTest, LockedPoolReplaysItsFrozenDrawAfterItsKnobsMove)
{
    auto s = makeSampler(kRate);
    for (int k = 0; k < 4; ++k)
        s->appendSample(0, makeRegion(makeAudio(sine(200.0 + 100.0 * k, kRate, 9600, 0.4))));
    SamplePool& p = s->pools[0];
    p.pitch = ParamRandomizer{0.0f, 0.5f, true, -1};
    p.pan = ParamRandomizer{0.0f, 0.5f, true, -1};
    p.start = ParamRandomizer{0.0f, 0.5f, true, -1};
    p.reverseChance = 50.0f;

    EXPECT_FALSE(s->setPoolLocked(0, true)); // never played: cannot lock
    s->trigger(1001, 60);
    StereoBuffer first(4800);
    renderInBlocks(*s, first, 0, 4800, 512);
    ASSERT_TRUE(s->setPoolLocked(0, true));

    p.pitch.range = 1.0f;
    p.pan.enabled = false;
    p.start.range = 0.9f;
    p.reverseChance = 0.0f;
    s->stop();
    s->trigger(999999, 60);
    StereoBuffer locked(4800);
    renderInBlocks(*s, locked, 0, 4800, 512);
    EXPECT_TRUE(sameBits(first, locked));

    s->setPoolLocked(0, false);
    s->trigger(999999, 60);
    StereoBuffer unlocked(4800);
    renderInBlocks(*s, unlocked, 0, 4800, 512);
    EXPECT_FALSE(sameBits(first, unlocked));
}

TEST(SamplerTriggerTest, ReplayRepeatsTheLastDrawWithTheCurrentKnobs)
{
    auto s = makeSampler(kRate);
    buildBusySetup(*s);
    s->pools[4].grainCloud = false; // replay plays direct voices
    s->trigger(4242, 60);
    StereoBuffer first(6000);
    renderInBlocks(*s, first, 0, 6000, 512);
    s->stop();
    StereoBuffer tail(2000);
    renderInBlocks(*s, tail, 0, 2000, 512);
    ASSERT_FALSE(s->isPlaying());

    s->replay();
    StereoBuffer again(6000);
    renderInBlocks(*s, again, 0, 6000, 512);
    EXPECT_LT(errorDb(first.left.data(), again.left.data(), 6000), -100.0);

    // A knob moved since: the replay follows it (pool 0 six dB down, the others unchanged).
    s->stop();
    renderInBlocks(*s, tail, 0, 2000, 512);
    const float before = s->pools[0].lastTrigger.gain;
    s->pools[0].volume.base -= 6.0f;
    s->replay();
    EXPECT_NEAR(s->pools[0].lastTrigger.gain, before * std::pow(10.0f, -6.0f / 20.0f), 1e-5f);
}

TEST(SamplerTriggerTest, AuditionPlaysOneSampleAtTheCentreValues)
{
    auto s = makeSampler(kRate);
    fillDcPool(*s, 2, 3);
    SamplePool& p = s->pools[2];
    p.volume = ParamRandomizer{-6.0f, 1.0f, true, -1};
    p.pan = ParamRandomizer{0.0f, 1.0f, true, -1};
    s->playSample(2, 1);
    // Region 1 (0.2) at -6 dB, centred.
    EXPECT_NEAR(levelAfterTrigger(*s), 0.2f * std::pow(10.0f, -6.0f / 20.0f), 2e-3f);
    EXPECT_EQ(p.lastTrigger.sampleIndex, 1);
    EXPECT_FALSE(p.lastTrigger.hasValue);

    s->stop();
    s->playSample(2, 7);  // out of range
    s->playSample(9, 0);  // no such pool
    s->playSample(2, -1); // negative
    StereoBuffer out(2000);
    renderInBlocks(*s, out, 0, 2000, 512);
    s->stop();
    renderInBlocks(*s, out, 0, 2000, 512);
    EXPECT_FALSE(s->isPlaying());
}

TEST(SamplerTriggerTest, StopEndsGrainsAtOnceAndFadesVoices)
{
    auto s = makeSampler(kRate);
    buildBusySetup(*s);
    s->trigger(5, 60);
    StereoBuffer out(2000);
    renderInBlocks(*s, out, 0, 1000, 512);
    ASSERT_TRUE(s->isPlaying());
    s->stop();
    for (const CloudGrain& g : s->grains)
        EXPECT_FALSE(g.active.load());
    for (const WalkState& w : s->walks)
        EXPECT_FALSE(w.active);
    StereoBuffer after(480);
    renderInBlocks(*s, after, 0, 480, 64);
    EXPECT_FALSE(s->isPlaying());
    EXPECT_EQ(peak(after.left.data() + 240, 240), 0.0); // silent after the 5 ms fade
}

TEST(SamplerTriggerTest, StopPoolLetsEmittedGrainsPlayOut)
{
    auto s = makeSampler(kRate);
    s->appendSample(0, makeRegion(makeAudio(sine(300.0, kRate, 48000, 0.5))));
    s->pools[0].grainCloud = true;
    s->trigger(3, 60);
    ASSERT_TRUE(s->walks[0].active);
    s->stopPool(0);
    EXPECT_FALSE(s->walks[0].active);
    EXPECT_TRUE(s->isPlaying());
    StereoBuffer out(9600);
    renderInBlocks(*s, out, 0, 9600, 512);
    EXPECT_GT(peak(out.left), 0.05);
}

TEST(SamplerTriggerTest, GrainsGoToBusOneWhateverTheRoute)
{
    auto s = makeSampler(kRate);
    s->appendSample(5, makeRegion(makeAudio(sine(300.0, kRate, 48000, 0.5))));
    s->pools[5].grainCloud = true;
    s->pools[5].outputRoute = PoolRoute::Master;
    s->trigger(8, 60);
    StereoBuffer voicesOut(4800), bus1(4800);
    s->renderPoolVoices(5, voicesOut.left.data(), voicesOut.right.data(), 4800);
    s->renderGrains(bus1.left.data(), bus1.right.data(), 4800);
    EXPECT_EQ(peak(voicesOut.left), 0.0);
    EXPECT_GT(peak(bus1.left), 0.05);
    // Muting the pool after the cloud was emitted does not silence its grains.
    s->muteMask = 1u << 5;
    StereoBuffer later(4800);
    s->renderGrains(later.left.data(), later.right.data(), 4800);
    EXPECT_GT(peak(later.left), 0.05);
}

TEST(SamplerTriggerTest, PlaybackProgressFollowsTheVoiceAndTheWalk)
{
    auto s = makeSampler(kRate);
    s->appendSample(0, makeDcRegion(0.3f, 4800));
    s->appendSample(1, makeDcRegion(0.3f, 48000));
    s->pools[1].grainCloud = true;
    EXPECT_EQ(s->getPoolPlaybackProgress(0), 0.0f);
    EXPECT_EQ(s->getPoolPlaybackProgress(8), 0.0f);
    s->trigger(12, 60);
    StereoBuffer out(2400);
    renderInBlocks(*s, out, 0, 2400, 512);
    EXPECT_NEAR(s->getPoolPlaybackProgress(0), 0.5f, 0.02f);
    EXPECT_NEAR(s->getPoolEnvelopeProgress(0), 0.5f, 0.02f);
    // Walk forwards from frame 0: 2400 steps over 48000 frames.
    EXPECT_NEAR(s->getPoolPlaybackProgress(1), 0.05f, 1e-6f);
    EXPECT_EQ(s->getPoolEnvelopeProgress(1), 0.0f);

    // Reversed, the playhead runs from the end towards the start.
    s->pools[0].reverseChance = 100.0f;
    s->trigger(13, 60);
    renderInBlocks(*s, out, 0, 1200, 512);
    EXPECT_NEAR(s->getPoolPlaybackProgress(0), 0.75f, 0.02f);
}

TEST(SamplerTriggerTest, TriggeringAndRenderingAllocateNothing)
{
    auto s = makeSampler(kRate);
    buildBusySetup(*s);
    s->appendSample(6, makeDcRegion(0.2f, 48000));
    s->pools[6].grainCloud = true;
    s->retriggerMode = false;
    StereoBuffer out(4096);

    AllocCounts counts;
    {
        ScopedAllocCount scope(counts);
        for (uint64_t seed = 1; seed < 30; ++seed) {
            s->trigger(seed, 48 + static_cast<int>(seed));
            renderMix(*s, out.left.data(), out.right.data(), 512);
            renderMix(*s, out.left.data(), out.right.data(), 4096);
        }
        s->replay();
        s->playSample(0, 1);
        s->stopPool(1);
        renderMix(*s, out.left.data(), out.right.data(), 1024);
        s->stop();
        renderMix(*s, out.left.data(), out.right.data(), 1024);
        (void)s->isPlaying();
        (void)s->getPoolPlaybackProgress(0);
        (void)s->getPoolEnvelopeProgress(0);
    }
    EXPECT_EQ(counts.total(), 0u) << counts.allocations << " allocations, " << counts.frees
                                  << " frees, " << counts.locks << " locks";
}

} // namespace
} // namespace vesk::test

namespace vesk::test {
namespace {

// Knob values reach the pools unclamped; whatever they hold, a trigger must not misbehave and
// the output must stay finite.
TEST(SamplerTriggerTest, WildKnobValuesGiveFiniteSound)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {nan, inf, -inf, 1e30f, -1e30f, 0.0f};
    uint64_t seed = 3;
    for (float base : values) {
        for (float range : {nan, inf, 1e9f, 1.0f}) {
            auto s = makeSampler(kRate);
            for (int pool = 0; pool < 2; ++pool) {
                s->appendSample(pool, makeRegion(makeAudio(sine(300.0, kRate, 4800, 0.5))));
                SamplePool& p = s->pools[pool];
                for (ParamRandomizer* r : {&p.pitch, &p.volume, &p.pan, &p.delay, &p.start})
                    *r = ParamRandomizer{base, range, true, -1};
                p.reverseChance = base;
                p.grainCloud = pool == 1;
            }
            s->trigger(seed++, 60);
            s->replay();
            s->playSample(0, 0);
            StereoBuffer out(2048);
            renderInBlocks(*s, out, 0, 2048, 512);
            for (size_t i = 0; i < out.left.size(); ++i) {
                ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i]))
                    << "base " << base << " range " << range << " frame " << i;
            }
        }
    }
}

} // namespace
} // namespace vesk::test
