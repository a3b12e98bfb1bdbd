// Loading files into pools through the command ring and the worker.
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace vesk;
using namespace vesk::test;

namespace {

std::string tmpPath(const std::string& name)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    return std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR) + "/" + name;
}

std::string toneFile(const std::string& name, size_t frames, double freq)
{
    const std::vector<float> s = sine(freq, 48000.0, frames, 0.5);
    const std::string path = tmpPath(name);
    EXPECT_TRUE(writeWav(path, s, {}, 48000.0));
    return path;
}

// Five 0.1 s bursts separated by 0.3 s of silence.
std::string burstsFile(const std::string& name)
{
    std::vector<float> s;
    for (int b = 0; b < 5; ++b) {
        const std::vector<float> burst = sine(500.0 + 100.0 * b, 48000.0, 4800, 0.8);
        s.insert(s.end(), burst.begin(), burst.end());
        s.insert(s.end(), 14400, 0.0f);
    }
    const std::string path = tmpPath(name);
    EXPECT_TRUE(writeWav(path, s, {}, 48000.0));
    return path;
}

TEST(Load, FilesAppearInTheOrderTheyWereSent)
{
    Instance inst;
    const std::string a = toneFile("load_a.wav", 1000, 100.0);
    const std::string b = toneFile("load_b.wav", 2000, 200.0);
    const std::string c = toneFile("load_c.wav", 3000, 300.0);
    for (const std::string& path : {a, b, c})
        ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(3, path));
    inst.pump();
    inst.finishJobs();
    const PoolState& pool = inst.snapshot().pools[3];
    ASSERT_EQ(pool.sampleCount, 3);
    EXPECT_STREQ(pool.sampleNames[0], "load_a.wav");
    EXPECT_STREQ(pool.sampleNames[1], "load_b.wav");
    EXPECT_STREQ(pool.sampleNames[2], "load_c.wav");
    EXPECT_EQ(pool.displayedSample, 2u) << "the first region of the last file is displayed";
    EXPECT_EQ(pool.regionLength, 3000u);
    EXPECT_EQ(pool.fileFrames, 3000u);
    EXPECT_GT(pool.peaks[0], 0.0f);
    EXPECT_GT(*std::max_element(std::begin(pool.overview), std::end(pool.overview)), 0.4f);
    EXPECT_EQ(inst.fake.dirty, 3);
}

TEST(Load, AFileStillDecodingWhenTheHostLoadsAStateStaysOutOfIt)
{
    Instance inst;
    std::vector<uint8_t> empty;
    ASSERT_TRUE(saveState(*inst.plugin, empty));
    // A file dropped just before the host loads a project (an undo, a preset): the load job
    // was already on its way, and the loaded project must come back as it was saved.
    ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(0, toneFile("load_before.wav", 48000, 220.0)));
    inst.pump();
    ASSERT_TRUE(loadState(*inst.plugin, empty));
    inst.finishJobs();
    EXPECT_EQ(inst.snapshot().pools[0].sampleCount, 0);
    // A file sent after the load lands as usual.
    ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(0, toneFile("load_after.wav", 1000, 220.0)));
    inst.pump();
    inst.finishJobs();
    ASSERT_EQ(inst.snapshot().pools[0].sampleCount, 1);
    EXPECT_STREQ(inst.snapshot().pools[0].sampleNames[0], "load_after.wav");
    // So does one whose command was still queued when the load came: the load applies it first,
    // and then the loaded state replaces it (the edit came first).
    ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(1, toneFile("load_queued.wav", 1000, 220.0)));
    ASSERT_TRUE(loadState(*inst.plugin, empty));
    inst.finishJobs();
    EXPECT_EQ(inst.snapshot().pools[1].sampleCount, 0);
}

TEST(Load, AMissingFileChangesNothingAndMarksNothing)
{
    Instance inst;
    ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(0, tmpPath("does-not-exist.wav")));
    inst.pump();
    inst.finishJobs();
    EXPECT_EQ(inst.snapshot().pools[0].sampleCount, 0);
    EXPECT_EQ(inst.fake.dirty, 0);
    EXPECT_EQ(inst.plugin->pendingJobs.load(), 0);
}

TEST(Load, AutoSplitCutsBurstsAndTheFlagIsTakenWhenTheCommandRuns)
{
    Instance inst;
    const std::string path = burstsFile("bursts.wav");
    inst.send(msg::SetAutoSplit{true});
    inst.plugin->backend.SendLoadToPool(1, path);
    inst.send(msg::SetAutoSplit{false}); // after the load was posted: it still splits
    inst.pump();
    inst.finishJobs();
    EXPECT_EQ(inst.snapshot().pools[1].sampleCount, 5);
}

TEST(Load, APoolStopsAt64Samples)
{
    Instance inst;
    const std::string one = toneFile("one.wav", 480, 440.0);
    const std::string bursts = burstsFile("bursts64.wav");
    for (int i = 0; i < 63; ++i)
        inst.plugin->backend.SendLoadToPool(2, one);
    inst.pump();
    inst.finishJobs();
    ASSERT_EQ(inst.snapshot().pools[2].sampleCount, 63);
    inst.send(msg::SetAutoSplit{true});
    inst.plugin->backend.SendLoadToPool(2, bursts);
    inst.pump();
    inst.finishJobs();
    EXPECT_EQ(inst.snapshot().pools[2].sampleCount, 64);
    EXPECT_EQ(inst.snapshot().pools[2].displayedSample, 63u);
}

TEST(Load, RelativePathsResolveAgainstTheProjectRoot)
{
    Instance inst;
    toneFile("relative.wav", 480, 440.0);
    inst.plugin->projectRoot = tmpPath("");
    inst.plugin->projectRoot.pop_back(); // no trailing separator
    inst.plugin->backend.SendLoadToPool(0, "relative.wav");
    inst.pump();
    inst.finishJobs();
    EXPECT_EQ(inst.snapshot().pools[0].sampleCount, 1);
}

TEST(Load, SnapshotNamesAndMissingFlags)
{
    Instance inst;
    {
        std::lock_guard<std::mutex> lock(inst.plugin->stateMutex);
        auto placeholder = std::make_shared<RawAudioData>();
        placeholder->path = "/some/dir/gone.wav";
        auto plain = std::make_shared<RawAudioData>();
        plain->path = "noseparator.wav";
        plain->channels = 1;
        plain->left.assign(100, 0.1f);
        for (int i = 0; i < 70; ++i)
            inst.plugin->sampler.pools[0].samples.push_back(
                SampleData{i == 1 ? placeholder : plain, 0, 0});
        inst.plugin->sampler.pools[0].lastTrigger.sampleIndex = 99;
    }
    inst.pump();
    const VeskState& s = inst.snapshot();
    EXPECT_EQ(s.pools[0].sampleCount, 70);
    EXPECT_STREQ(s.pools[0].sampleNames[0], "noseparator.wav");
    EXPECT_STREQ(s.pools[0].sampleNames[1], "gone.wav");
    EXPECT_EQ(s.pools[0].sampleMissing[1], 1);
    EXPECT_EQ(s.missingFiles, 1);
    EXPECT_EQ(s.pools[0].displayedSample, 99u);
    EXPECT_EQ(s.pools[0].regionLength, 0u) << "out-of-range display index: zero region fields";
    {
        std::lock_guard<std::mutex> lock(inst.plugin->stateMutex);
        inst.plugin->sampler.clearPool(0);
    }
    inst.pump();
    EXPECT_EQ(inst.snapshot().missingFiles, 0);
}

} // namespace

namespace {

TEST(Load, ActivationAtAnotherRateConvertsOnce)
{
    Instance inst(48000.0);
    inst.plugin->backend.SendLoadToPool(0, toneFile("rate.wav", 48000, 440.0));
    inst.pump();
    inst.finishJobs();
    ASSERT_EQ(inst.snapshot().pools[0].fileFrames, 48000u);

    VeskPlugin::clapDeactivate(&inst.plugin->clapPlugin);
    VeskPlugin::clapActivate(&inst.plugin->clapPlugin, 44100.0, 1, 512);
    inst.pump();
    EXPECT_EQ(inst.snapshot().pools[0].fileFrames, 44100u);
    const RawAudioData* converted = inst.plugin->sampler.pools[0].samples[0].audio.get();

    // Half a hertz is no change of rate.
    VeskPlugin::clapDeactivate(&inst.plugin->clapPlugin);
    VeskPlugin::clapActivate(&inst.plugin->clapPlugin, 44100.5, 1, 512);
    EXPECT_EQ(inst.plugin->sampler.pools[0].samples[0].audio.get(), converted);
    EXPECT_EQ(VeskPlugin::clapLatencyGet(&inst.plugin->clapPlugin), 442u); // ceil(441.005)
}

TEST(Load, AuditionRefusesBadIndices)
{
    Instance inst;
    inst.plugin->backend.SendLoadToPool(0, toneFile("audition.wav", 4800, 440.0));
    inst.send(msg::SetPoolRoute{0, PoolRoute::Master});
    inst.pump();
    inst.finishJobs();
    std::vector<float> l, r;
    const msg::PlaySample good{0, 0};
    for (const Wire& bad :
         {wire(msg::PlaySample{0, uint32_t(-1)}), wire(msg::PlaySample{uint32_t(-1), 0}),
          wire(msg::PlaySample{8, 0}), wire(msg::PlaySample{0, 1}), wire(good).cut(4)}) {
        inst.send(bad);
        inst.render(2048, 512, l, r);
    }
    EXPECT_EQ(peak(l), 0.0);
    inst.send(good);
    inst.render(2048, 512, l, r);
    EXPECT_GT(peak(l), 0.1);
}

} // namespace
