// Exports through the whole instance: the render commands as the editor sends them, the worker,
// the main-thread pass that places the files into the stand-in REAPER, and the track's mute
// switch; outside REAPER, the default export folder.
#include "support/PluginFixture.h"

#include "audio_files/WavWriter.h"
#include "host/FakeReaper.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace vesk;
using namespace vesk::test;
using vesk::host::FakeReaper;
namespace fs = std::filesystem;

namespace {

constexpr double kRate = 48000.0;

std::string freshDir(const std::string& name)
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    const fs::path dir = fs::path(env != nullptr ? env : VESK_TEST_TMP_DIR) / "export_e2e" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<float> readWavLeft(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> left;
    if (bytes.size() < 44)
        return left;
    uint16_t channels;
    std::memcpy(&channels, bytes.data() + 22, 2);
    const size_t frames = (bytes.size() - 44) / (4 * std::max<size_t>(channels, 1));
    left.resize(frames);
    for (size_t i = 0; i < frames; ++i)
        std::memcpy(&left[i], bytes.data() + 44 + i * channels * 4, 4);
    return left;
}

// A host with the state and track-info extensions and, when given, the stand-in REAPER.
struct ReaperHost
{
    clap_host_t host{};
    clap_host_state_t state{};
    clap_host_track_info_t trackInfo{};
    FakeReaper* reaper = nullptr;
    std::string trackName;

    ReaperHost(FakeReaper* r, std::string name) : reaper(r), trackName(std::move(name))
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "test";
        host.vendor = "";
        host.url = "";
        host.version = "";
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<ReaperHost*>(h->host_data);
            if (std::strcmp(id, CLAP_EXT_STATE) == 0)
                return &self->state;
            if (std::strcmp(id, CLAP_EXT_TRACK_INFO) == 0)
                return &self->trackInfo;
            return self->reaper != nullptr ? self->reaper->extension(id) : nullptr;
        };
        host.request_callback = [](const clap_host_t*) {};
        state.mark_dirty = [](const clap_host_t*) {};
        trackInfo.get = [](const clap_host_t* h, clap_track_info_t* info) {
            auto* self = static_cast<ReaperHost*>(h->host_data);
            std::memset(info, 0, sizeof *info);
            info->flags = CLAP_TRACK_INFO_HAS_TRACK_NAME;
            std::snprintf(info->name, sizeof info->name, "%s", self->trackName.c_str());
            return true;
        };
    }
};

class Session
{
public:
    Session(FakeReaper* reaper, const std::string& trackName) : fake(reaper, trackName)
    {
        plugin = vesk::test::newInitialisedInstance(&fake.host);
        VeskPlugin::clapTrackInfoChanged(&plugin->clapPlugin);
        VeskPlugin::clapActivate(&plugin->clapPlugin, kRate, 1, 4096);
    }
    ~Session() { VeskPlugin::clapDestroy(&plugin->clapPlugin); }

    template <class R> bool send(const R& message) { return msg::send(plugin->backend, message); }
    void pump() { VeskPlugin::clapOnMainThread(&plugin->clapPlugin); }
    void finishJobs()
    {
        pump();
        plugin->workers.wait();
        pump();
    }
    void load(int pool, const std::string& path)
    {
        ASSERT_TRUE(plugin->backend.SendLoadToPool(uint32_t(pool), path));
        finishJobs();
    }
    std::vector<float> render(uint32_t frames, uint32_t block = 512)
    {
        std::vector<float> left, right, l(block), r(block);
        float* ch[2] = {l.data(), r.data()};
        clap_audio_buffer_t out{};
        out.data32 = ch;
        out.channel_count = 2;
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(block, frames - done);
            clap_process_t proc{};
            proc.frames_count = n;
            proc.audio_outputs = &out;
            proc.audio_outputs_count = 1;
            VeskPlugin::clapProcess(&plugin->clapPlugin, &proc);
            left.insert(left.end(), l.begin(), l.begin() + n);
            done += n;
        }
        return left;
    }

    // The line the editor shows about the last export, as published.
    std::string report() const
    {
        return plugin->snapshots[plugin->publishedSnapshot.load()].exportReport;
    }
    bool reportFailed() const
    {
        return plugin->snapshots[plugin->publishedSnapshot.load()].exportFailed;
    }

    ReaperHost fake;
    VeskPlugin* plugin = nullptr;
};

std::string soundFile(const std::string& dir, const std::string& name, double freqHz,
                      double seconds)
{
    const std::string path = dir + "/" + name;
    const std::vector<float> x = sine(freqHz, kRate, size_t(seconds * kRate), 0.4);
    EXPECT_TRUE(writeWav(path, x, x, kRate));
    return path;
}

struct ReaperProject
{
    FakeReaper reaper;
    std::string dir;

    explicit ReaperProject(const std::string& name) : dir(freshDir(name))
    {
        reaper.projectPath = dir + "/";
        reaper.addTrack("Drums");
        reaper.addTrack("Synth", {FakeReaper::kPluginFxName});
        reaper.addTrack("Bass");
    }
};

std::vector<std::string> wavFilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("Vesk_", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(ExportEndToEnd, StemsAndMixArePlacedIntoTheReaperProject)
{
    ReaperProject project("stems_and_mix");
    Session s(&project.reaper, "Synth");
    s.load(0, soundFile(project.dir, "a.wav", 300.0, 0.3));
    s.load(2, soundFile(project.dir, "b.wav", 600.0, 0.2));
    s.send(msg::Trigger{4242});
    s.render(2048);

    s.send(msg::RenderStems{});
    s.pump();
    EXPECT_EQ(s.report(), "Exporting stems\xe2\x80\xa6");
    s.finishJobs();
    EXPECT_EQ(s.report(), "2 stems written to " + project.dir + " and placed on the pool tracks");
    EXPECT_FALSE(s.reportFailed());
    const FakeReaper& r = project.reaper;
    ASSERT_EQ(r.tracks.size(), 11u);
    EXPECT_EQ(r.tracks[2]->name, "Pool1");
    EXPECT_EQ(r.tracks[9]->name, "Pool8");
    EXPECT_EQ(r.parentOf(2), 1);
    EXPECT_EQ(r.parentOf(10), -1);
    ASSERT_EQ(r.tracks[2]->items.size(), 1u);
    ASSERT_EQ(r.tracks[4]->items.size(), 1u);
    EXPECT_TRUE(r.tracks[3]->items.empty());
    const std::string stem1 = fs::path(r.tracks[2]->items[0]->file).filename().string();
    EXPECT_TRUE(std::regex_match(stem1, std::regex("Vesk_[0-9]{14}_1_1092\\.wav"))) << stem1;
    EXPECT_EQ(fs::path(r.tracks[2]->items[0]->file).parent_path().string(), project.dir);

    s.send(msg::RenderMix{});
    s.finishJobs();
    EXPECT_EQ(s.report(), "Mix written to " + project.dir + " and placed on this track");
    ASSERT_EQ(r.tracks[1]->items.size(), 1u);
    const std::string mix = fs::path(r.tracks[1]->items[0]->file).filename().string();
    EXPECT_TRUE(std::regex_match(mix, std::regex("Vesk_Mix_[0-9]{14}_1092\\.wav"))) << mix;
    // The mix follows the stems by two seconds.
    EXPECT_NEAR(r.tracks[1]->items[0]->position,
                r.tracks[2]->items[0]->position + r.tracks[2]->items[0]->length + 2.0, 1e-9);
    EXPECT_EQ(r.undoSteps,
              (std::vector<std::string>{"Vesk: Insert Rendered Samples", "Vesk: Insert Mix"}));
    EXPECT_EQ(r.openUndoBlocks, 0);
    EXPECT_EQ(r.refreshFreeze, 0);
}

TEST(ExportEndToEnd, MixMatchesTheRealTimeOutputOfTheSameTrigger)
{
    ReaperProject project("mix_vs_realtime");
    Session s(&project.reaper, "Synth");
    s.load(0, soundFile(project.dir, "a.wav", 220.0, 0.4));
    s.load(1, soundFile(project.dir, "b.wav", 1000.0, 0.25));
    s.send(msg::SetPoolRoute{1, PoolRoute::Master}); // pool 2 straight to the master
    s.pump();
    s.send(msg::Trigger{99});
    const std::vector<float> live = s.render(48000);
    const uint32_t latency = VeskPlugin::clapLatencyGet(&s.plugin->clapPlugin);
    ASSERT_EQ(latency, 480u);

    s.send(msg::RenderMix{});
    s.finishJobs();
    ASSERT_EQ(project.reaper.tracks[1]->items.size(), 1u);
    const std::vector<float> mix = readWavLeft(project.reaper.tracks[1]->items[0]->file);
    ASSERT_GT(mix.size(), 9600u);
    const size_t n = std::min(mix.size(), live.size() - latency);
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < n; ++i) {
        ab += double(mix[i]) * live[i + latency];
        aa += double(mix[i]) * mix[i];
        bb += double(live[i + latency]) * live[i + latency];
    }
    EXPECT_GE(ab / std::sqrt(aa * bb), 0.999);
}

TEST(ExportEndToEnd, AnAmbiguousTrackGetsTheConsoleMessageAndNoInsertion)
{
    ReaperProject project("ambiguous");
    project.reaper.addTrack("Synth", {FakeReaper::kPluginFxName});
    Session s(&project.reaper, "Synth");
    s.load(0, soundFile(project.dir, "a.wav", 300.0, 0.2));
    s.send(msg::Trigger{5});
    s.render(1024);
    s.send(msg::RenderStems{});
    s.finishJobs();
    EXPECT_NE(project.reaper.console.find("Render 结果没有插入"), std::string::npos);
    EXPECT_TRUE(project.reaper.undoSteps.empty());
    EXPECT_EQ(project.reaper.tracks.size(), 4u);
    EXPECT_EQ(wavFilesIn(project.dir).size(), 1u) << "the file stays on disk";
}

TEST(ExportEndToEnd, MutingTheOwnTrackSilencesTheNextBlock)
{
    ReaperProject project("mute");
    Session s(&project.reaper, "Synth");
    s.load(0, soundFile(project.dir, "a.wav", 300.0, 2.0));
    s.send(msg::Trigger{11});
    EXPECT_GT(peak(s.render(2048)), 0.05);

    project.reaper.tracks[1]->muted = true;
    s.pump();
    EXPECT_EQ(peak(s.render(512)), 0.0);
    EXPECT_EQ(peak(s.render(4096)), 0.0);

    // Unmuted, the stopped sound does not come back; the next trigger sounds.
    project.reaper.tracks[1]->muted = false;
    s.pump();
    EXPECT_EQ(peak(s.render(4096)), 0.0);
    s.send(msg::Trigger{12});
    EXPECT_GT(peak(s.render(2048)), 0.05);
}

TEST(ExportEndToEnd, OutsideReaperBothExportsGoToTheDefaultFolder)
{
    const std::string home = freshDir("home");
    const char* saved = std::getenv("HOME");
    const std::string restore = saved != nullptr ? saved : "";
    ::setenv("HOME", home.c_str(), 1);
    {
        Session s(nullptr, "Synth");
        s.load(0, soundFile(home, "a.wav", 300.0, 0.2));
        s.send(msg::Trigger{77});
        s.render(1024);
        s.send(msg::RenderStems{});
        s.finishJobs();
        EXPECT_EQ(s.report(), "1 stem written to " + home + "/Documents/Halvoren Vesk/Exports");
        s.send(msg::RenderMix{});
        s.finishJobs();
        EXPECT_EQ(s.report(), "Mix written to " + home + "/Documents/Halvoren Vesk/Exports");
    }
    if (saved != nullptr)
        ::setenv("HOME", restore.c_str(), 1);
    const std::string folder = home + "/Documents/Halvoren Vesk/Exports";
    ASSERT_TRUE(fs::is_directory(folder));
    const auto files = wavFilesIn(folder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex("Vesk_[0-9]{14}_1_4D\\.wav"))) << files[0];
    EXPECT_TRUE(std::regex_match(files[1], std::regex("Vesk_Mix_[0-9]{14}_4D\\.wav"))) << files[1];
}

TEST(ExportEndToEnd, TheEditorHearsWhyNothingWasWritten)
{
    // A project "folder" that is a file, and an instance that has not sounded yet.
    ReaperProject project("not_a_folder");
    const std::string file = project.dir + "/project.rpp";
    std::ofstream(file) << "x";
    project.reaper.projectPath = file + "/";
    Session s(&project.reaper, "Synth");
    s.load(0, soundFile(project.dir, "a.wav", 300.0, 0.2));
    s.send(msg::RenderStems{});
    s.finishJobs();
    EXPECT_TRUE(s.reportFailed());
    EXPECT_EQ(s.report().rfind("Nothing to export", 0), 0u) << s.report();

    s.send(msg::Trigger{5});
    s.render(1024);
    for (bool mix : {false, true}) {
        if (mix)
            s.send(msg::RenderMix{});
        else
            s.send(msg::RenderStems{});
        s.finishJobs();
        EXPECT_TRUE(s.reportFailed());
        EXPECT_EQ(s.report(), std::string(mix ? "Export Mix" : "Export Stems") +
                                  " failed: nothing could be written to " + file +
                                  " (Not a directory)");
    }
    EXPECT_EQ(wavFilesIn(project.dir), std::vector<std::string>{});
    for (const auto& track : project.reaper.tracks)
        EXPECT_TRUE(track->items.empty());
}
