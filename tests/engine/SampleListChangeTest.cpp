// Changing a pool's sample list while its sounds play: nothing may read a region that was
// removed, replaced or moved, and decoded audio is only ever freed by the thread that changes the
// list. Run under the asan preset, a read of freed audio fails these tests. Also the display peaks
// a trigger shows, which are computed when a region enters the list.
#include "SamplerTestUtil.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace vesk::test {
namespace {

constexpr double kRate = 48000.0;

SampleData sineRegion(double freq, size_t frames = 48000)
{
    return makeRegion(
        makeAudio(sine(freq, kRate, frames, 0.4), sine(freq * 1.5, kRate, frames, 0.4)));
}

// Pool 0 direct and pool 1 as a cloud, both playing.
std::unique_ptr<Sampler> playingSampler()
{
    auto s = makeSampler(kRate);
    for (int k = 0; k < 3; ++k) {
        s->appendSample(0, sineRegion(200.0 + 50.0 * k));
        s->appendSample(1, sineRegion(400.0 + 50.0 * k));
        s->appendSample(2, sineRegion(800.0 + 50.0 * k));
    }
    s->pools[1].grainCloud = true;
    s->retriggerMode = false;
    s->trigger(11, 60);
    s->trigger(12, 60);
    StereoBuffer out(1024);
    renderMix(*s, out.left.data(), out.right.data(), 1024);
    return s;
}

bool poolSounds(const Sampler& s, int pool)
{
    for (const Voice& v : s.voices[pool])
        if (v.isActive())
            return true;
    for (const CloudGrain& g : s.grains)
        if (g.active.load() && g.pool == pool)
            return true;
    return false;
}

// Renders a few blocks and checks that rendering frees nothing (so no audio is released there).
void renderAndExpectNoFrees(Sampler& s, size_t frames = 4096)
{
    StereoBuffer out(frames);
    AllocCounts counts;
    {
        ScopedAllocCount scope(counts);
        renderInBlocks(s, out, 0, frames, 256);
    }
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.allocations, 0u);
}

enum class After
{
    Cut,   // nothing of the pool sounds any more
    Plays, // the pool's sounds go on
    Either // depends on which regions were playing
};

TEST(SampleListChangeTest, EveryListChangeWhilePlayingIsSafe)
{
    struct Case
    {
        const char* what;
        void (*change)(Sampler&);
        After pool0, pool1;
        bool freesFirstAudio; // pool 0's first region leaves with the change
    };
    const Case cases[] = {
        {"clear", [](Sampler& s) { s.clearPool(0), s.clearPool(1); }, After::Cut, After::Cut, true},
        {"remove pool", [](Sampler& s) { s.resetPool(0), s.resetPool(1); }, After::Cut, After::Cut,
         true},
        {"remove first sample", [](Sampler& s) { s.removeSample(0, 0), s.removeSample(1, 0); },
         After::Cut, After::Cut, true},
        {"remove last sample", [](Sampler& s) { s.removeSample(0, 2), s.removeSample(1, 2); },
         After::Either, After::Either, false},
        {"state load",
         [](Sampler& s) {
             for (int pool : {0, 1}) {
                 s.beginSampleListChange(pool);
                 std::vector<SampleData> fresh{sineRegion(1000.0), sineRegion(1100.0)};
                 s.pools[pool].samples = std::move(fresh); // storage replaced
                 s.endSampleListChange(pool);
             }
         },
         After::Cut, After::Cut, true},
        {"append",
         [](Sampler& s) {
             s.appendSample(0, sineRegion(90.0)), s.appendSample(1, sineRegion(95.0));
         },
         After::Plays, After::Plays, false},
        {"append beyond the reserve",
         [](Sampler& s) {
             s.pools[0].samples.shrink_to_fit(); // storage would move on the next append
             s.appendSample(0, sineRegion(90.0));
         },
         After::Cut, After::Plays, false},
        {"region change", [](Sampler& s) { s.setRegion(0, 0, 100, 50), s.setRegion(0, 1, 10, 0); },
         After::Plays, After::Plays, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = playingSampler();
        ASSERT_TRUE(poolSounds(*s, 0));
        ASSERT_TRUE(poolSounds(*s, 1));
        std::weak_ptr<const RawAudioData> firstAudio = s->pools[0].samples[0].audio;
        c.change(*s);
        for (int pool : {0, 1}) {
            const After expected = pool == 0 ? c.pool0 : c.pool1;
            if (expected != After::Either) {
                EXPECT_EQ(poolSounds(*s, pool), expected == After::Plays) << pool;
            }
        }
        EXPECT_TRUE(poolSounds(*s, 2));                     // other pools go on
        EXPECT_EQ(firstAudio.expired(), c.freesFirstAudio); // freed by the change, not by rendering
        renderAndExpectNoFrees(*s);
        s->trigger(13, 60); // and the pools play again from their new lists
        renderAndExpectNoFrees(*s);
    }
}

TEST(SampleListChangeTest, RemovingASampleCutsOnlyWhatReadsItOrALaterOne)
{
    auto s = makeSampler(kRate);
    for (float level : {0.01f, 0.02f, 0.04f})
        s->appendSample(0, makeDcRegion(level, 48000));
    s->retriggerMode = false;
    for (uint64_t k = 0; k < 3; ++k) {
        VoiceParams p;
        p.sampleIndex = k;
        p.valid = true;
        s->triggerVoiceAndUpdateCache(0, p);
    }
    StereoBuffer out(256);
    renderMix(*s, out.left.data(), out.right.data(), 256);
    EXPECT_NEAR(out.left[200], 0.07f, 1e-3f);

    s->removeSample(0, 1); // the 0.02 region goes, the 0.04 one moves down: both are cut
    StereoBuffer after(256);
    renderMix(*s, after.left.data(), after.right.data(), 256);
    EXPECT_NEAR(after.left[0], 0.01f, 1e-3f); // the first region plays on without a break
    EXPECT_NEAR(after.left[200], 0.01f, 1e-3f);
}

TEST(SampleListChangeTest, AppendingKeepsTheSoundAndTheStorage)
{
    auto reference = playingSampler();
    auto s = playingSampler();
    const SampleData* storage = s->pools[0].samples.data();
    for (int k = 0; k < 61; ++k)
        EXPECT_TRUE(s->appendSample(0, makeDcRegion(0.1f, 100)));
    EXPECT_FALSE(s->appendSample(0, makeDcRegion(0.1f, 100))); // the 65th is refused
    EXPECT_EQ(s->pools[0].samples.size(), 64u);
    EXPECT_EQ(s->pools[0].samples.data(), storage);

    StereoBuffer a(4800), b(4800);
    renderInBlocks(*reference, a, 0, 4800, 512);
    renderInBlocks(*s, b, 0, 4800, 512);
    EXPECT_EQ(std::memcmp(a.left.data(), b.left.data(), 4800 * sizeof(float)), 0);
}

TEST(SampleListChangeTest, ClearPoolKeepsSettingsAndResetPoolRestoresDefaults)
{
    auto s = playingSampler();
    SamplePool& p = s->pools[0];
    p.pitch.base = 3.0f;
    std::strcpy(p.name, "Kicks");
    p.overview[5] = 0.5f;
    s->soloMask = 0b11;
    s->muteMask = 0b01;
    ASSERT_TRUE(s->setPoolLocked(0, true));

    s->clearPool(0);
    EXPECT_TRUE(p.samples.empty());
    EXPECT_EQ(p.pitch.base, 3.0f);
    EXPECT_STREQ(p.name, "Kicks");
    EXPECT_EQ(p.overview[5], 0.5f);
    EXPECT_EQ(p.peaks[100], 0.0f);
    EXPECT_EQ(p.lastTrigger.durationMs, 0.0f);
    EXPECT_EQ(p.lastTrigger.gain, 1.0f);
    EXPECT_EQ(s->freezeMask, 0b01);

    s->appendSample(0, sineRegion(300.0));
    s->trigger(20, 60);
    s->resetPool(0);
    EXPECT_TRUE(p.samples.empty());
    EXPECT_EQ(p.pitch.base, 0.0f);
    EXPECT_EQ(p.name[0], 0);
    EXPECT_EQ(p.lastPick, -1);
    EXPECT_EQ(s->soloMask, 0b10);
    EXPECT_EQ(s->muteMask, 0);
    EXPECT_EQ(s->freezeMask, 0);
    EXPECT_FALSE(s->lastParams[0].valid);
    EXPECT_FALSE(s->frozenParams[0].valid);
    EXPECT_EQ(s->stealCursor[0], 0);
    EXPECT_FALSE(s->walks[0].active);
    EXPECT_GE(p.samples.capacity(), 64u);
}

// The audio thread renders and triggers, taking the lock with try_lock once per block as the
// plug-in does; the main thread changes the lists under the lock meanwhile.
TEST(SampleListChangeTest, ListsChangingUnderPlayingSoundsFromAnotherThread)
{
    auto s = makeSampler(kRate);
    for (int pool = 0; pool < 4; ++pool)
        for (int k = 0; k < 3; ++k)
            s->appendSample(pool, sineRegion(100.0 * (pool + 1) + 10.0 * k, 12000));
    s->pools[1].grainCloud = true;
    s->pools[3].grainCloud = true;
    s->retriggerMode = false;

    std::mutex stateMutex;
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    AllocCounts audioCounts;

    std::thread audio([&] {
        StereoBuffer out(256);
        ScopedAllocCount scope(audioCounts);
        uint64_t seed = 100;
        while (!done.load()) {
            std::unique_lock<std::mutex> lock(stateMutex, std::try_to_lock);
            if (!lock.owns_lock()) {
                std::this_thread::yield();
                continue;
            }
            if (blocks.fetch_add(1) % 6 == 0)
                s->trigger(seed++, 60);
            std::memset(out.left.data(), 0, 256 * sizeof(float));
            std::memset(out.right.data(), 0, 256 * sizeof(float));
            renderMix(*s, out.left.data(), out.right.data(), 256);
        }
    });

    uint64_t rng = 12345;
    auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return rng;
    };
    for (int step = 0; step < 150; ++step) {
        // Made before taking the lock, as the loader does.
        SampleData fresh = sineRegion(150.0 + step, 4000);
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            const int pool = static_cast<int>(next() % 4);
            switch (next() % 6) {
            case 0:
                s->clearPool(pool);
                break;
            case 1:
                s->removeSample(pool, static_cast<int>(next() % 3));
                break;
            case 2:
                s->appendSample(pool, std::move(fresh));
                break;
            case 3:
                s->beginSampleListChange(pool);
                s->pools[pool].samples = {std::move(fresh), sineRegion(600.0, 3000)};
                s->endSampleListChange(pool);
                break;
            case 4:
                if (!s->pools[pool].samples.empty())
                    s->setRegion(pool, 0, static_cast<int64_t>(next() % 3000), next() % 2000);
                break;
            default:
                s->resetPool(pool);
                s->pools[pool].grainCloud = (pool % 2) == 1;
                s->appendSample(pool, std::move(fresh));
                break;
            }
        }
        // Let the audio thread through between changes.
        const int seen = blocks.load();
        while (blocks.load() < seen + 2)
            std::this_thread::yield();
    }
    done.store(true);
    audio.join();
    EXPECT_GE(blocks.load(), 300);
    EXPECT_EQ(audioCounts.allocations, 0u);
    EXPECT_EQ(audioCounts.frees, 0u);
}

// ---- Display peaks ----

TEST(WaveformPeaksTest, BinsFollowTheRegion)
{
    // 560 frames: two frames per bin. Spikes at frames 3 (bin 1) and 559 (bin 279).
    std::vector<float> left(600, 0.0f), right(300, 0.0f);
    left[3] = -0.5f;
    left[559] = 0.25f;
    right[10] = 0.75f; // bin 5
    auto audio = makeAudio(left, right);
    float peaks[kDisplayPeaks];
    Sampler::generateWaveformPeaks(makeRegion(audio, 0, 560), peaks);
    EXPECT_EQ(peaks[1], 0.5f);
    EXPECT_EQ(peaks[5], 0.75f);
    EXPECT_EQ(peaks[279], 0.25f);
    EXPECT_EQ(peaks[0] + peaks[2] + peaks[278], 0.0f);

    // Offset 2: every spike one bin earlier; the right channel ends at frame 300 (reads 0 after).
    Sampler::generateWaveformPeaks(makeRegion(audio, 2, 560), peaks);
    EXPECT_EQ(peaks[0], 0.5f);
    EXPECT_EQ(peaks[4], 0.75f);
    EXPECT_EQ(peaks[278], 0.25f);

    // Not playable: all zero.
    Sampler::generateWaveformPeaks(makeRegion(audio, 700), peaks);
    for (float p : peaks)
        EXPECT_EQ(p, 0.0f);
    Sampler::generateWaveformPeaks(makePlaceholder(), peaks);
    EXPECT_EQ(peaks[1], 0.0f);
}

TEST(WaveformPeaksTest, TriggerShowsThePeaksComputedWhenTheRegionWasAdded)
{
    auto s = makeSampler(kRate);
    const SampleData region =
        makeRegion(makeAudio(noise(30000, 3, 0.8), noise(30000, 4, 0.5)), 1000, 20000);
    float expected[kDisplayPeaks];
    Sampler::generateWaveformPeaks(region, expected);
    s->appendSample(0, region);
    s->trigger(9, 60);
    EXPECT_EQ(std::memcmp(s->pools[0].peaks, expected, sizeof(expected)), 0);
    EXPECT_FALSE(s->peaksPending[0]);

    // Peaks made by the loader beforehand are taken as they are.
    float fromLoader[kDisplayPeaks];
    std::fill(fromLoader, fromLoader + kDisplayPeaks, 0.125f);
    s->appendSample(1, region, fromLoader);
    s->playSample(1, 0);
    EXPECT_EQ(s->pools[1].peaks[17], 0.125f);

    // A region change refreshes the cache, so the next trigger shows the new span.
    s->setRegion(0, 0, 0, 500);
    Sampler::generateWaveformPeaks(s->pools[0].samples[0], expected);
    s->stop();
    s->trigger(10, 60);
    EXPECT_EQ(std::memcmp(s->pools[0].peaks, expected, sizeof(expected)), 0);

    // A region edited behind the sampler's back is not scanned by the trigger: the peaks are
    // marked pending and filled on the main thread.
    s->pools[0].samples[0].offset = 7000;
    Sampler::generateWaveformPeaks(s->pools[0].samples[0], expected);
    s->trigger(11, 60);
    EXPECT_TRUE(s->peaksPending[0]);
    s->refreshPendingPeaks();
    EXPECT_FALSE(s->peaksPending[0]);
    EXPECT_EQ(std::memcmp(s->pools[0].peaks, expected, sizeof(expected)), 0);
}

TEST(WaveformPeaksTest, CachedPeaksFollowRemovedSamples)
{
    auto s = makeSampler(kRate);
    for (float level : {0.1f, 0.2f, 0.3f, 0.4f})
        s->appendSample(0, makeDcRegion(level, 1000));
    s->removeSample(0, 1);
    s->retriggerMode = true;
    for (int i = 0; i < 3; ++i) {
        s->playSample(0, i);
        EXPECT_EQ(s->pools[0].peaks[0], (i == 0 ? 0.1f : i == 1 ? 0.3f : 0.4f)) << i;
        EXPECT_EQ(s->regionPeaks[0][3].audio, nullptr);
    }
}

} // namespace
} // namespace vesk::test
