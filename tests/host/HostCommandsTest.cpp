// The plug-in file driven as our tools drive it: editor messages through the private command
// extension, a load on the plug-in's worker, a note, and both exports into a stand-in REAPER.
#include "host/ClapHost.h"
#include "host/FakeReaper.h"
#include "plugin/Messages.h"
#include "support/Signal.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace vesk::host;

namespace {

std::string tmpDir(const std::string& name)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    const std::string path = std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR) + "/" + name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

TEST(HostCommands, LoadTriggerAndExportIntoReaper)
{
    const std::string project = tmpDir("host_project");
    const std::string sample = project + "/tone.wav";
    const std::vector<float> tone = vesk::test::sine(440.0, 48000.0, 24000, 0.5);
    ASSERT_TRUE(vesk::writeWav(sample, tone, tone, 48000.0));

    FakeReaper reaper;
    reaper.projectPath = project;
    reaper.addTrack("Drums", {FakeReaper::kPluginFxName});
    HostOptions opts;
    opts.trackName = "Drums";
    opts.extraExtension = [&reaper](const char* id) { return reaper.extension(id); };

    PluginLibrary library(VESK_CLAP_PATH);
    HostedPlugin plugin(library, "com.halvoren.vesk", opts);
    plugin.extension<clap_plugin_track_info_t>(CLAP_EXT_TRACK_INFO)->changed(plugin.plugin());
    ASSERT_TRUE(plugin.activate(48000.0, 512));

    // A relative path resolves against the project folder REAPER reports.
    // Each wait is for the outcome itself: the worker may finish (and ask for the main thread)
    // before a count of callback requests could be taken.
    ASSERT_TRUE(plugin.send(vesk::msg::LoadToPool{0, "tone.wav"}));
    ASSERT_TRUE(plugin.pumpUntil([&] { return plugin.dirtyCount() > 0; }, 30000));
    plugin.pumpMainThread();
    EXPECT_EQ(plugin.dirtyCount(), 1u) << "the load result marks the project";

    std::vector<float> left, right;
    TimedEvent note;
    note.frame = 0;
    plugin.render(48000, 512, {note}, left, right);
    ASSERT_GT(vesk::test::peak(left), 0.05);

    for (const bool mix : {false, true}) {
        const size_t steps = reaper.undoSteps.size();
        ASSERT_TRUE(mix ? plugin.send(vesk::msg::RenderMix{})
                        : plugin.send(vesk::msg::RenderStems{}));
        ASSERT_TRUE(plugin.pumpUntil([&] { return reaper.undoSteps.size() > steps; }, 60000));
        plugin.pumpMainThread();
    }
    ASSERT_EQ(reaper.undoSteps.size(), 2u);
    EXPECT_EQ(reaper.undoSteps[0], "Vesk: Insert Rendered Samples");
    EXPECT_EQ(reaper.undoSteps[1], "Vesk: Insert Mix");
    ASSERT_GE(reaper.tracks.size(), 9u);
    EXPECT_EQ(reaper.tracks[1]->name, "Pool1");
    ASSERT_EQ(reaper.tracks[1]->items.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(reaper.tracks[1]->items[0]->file));
    ASSERT_EQ(reaper.tracks[0]->items.size(), 1u) << "the mix sits on the own track";

    // Unknown plug-ins have no such extension; ours refuses nothing it can carry, and nothing
    // too big for one message reaches it.
    EXPECT_FALSE(plugin.sendCommand(vesk::CmdLoadToPool, std::vector<uint8_t>(5000, 'x')));
    EXPECT_FALSE(plugin.send(vesk::msg::LoadToPool{0, std::string(4093, 'x')}));
}

} // namespace
