// "Export Set…" as a user meets it, through the real Vesk.clap in vesk-host under Xvfb: a right
// click on the top bar's export area opens the panel, the count and the folder are typed, Render
// writes the files and the manifest while the instance keeps playing, and Cancel stops a long set
// leaving only complete files.
#include "EditorFiles.h"
#include "EditorHarness.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace vesk::editor_test;
namespace fs = std::filesystem;

namespace {

// Where the panel's controls are in a 1200 x 800 editor (window coordinates): the panel lies at
// the top bar's export area (x 4 + 213), below the bar (y 4 + 40 + 4); rows 28 px apart from 36,
// fields from x 124; Render (Cancel while a set runs) beside Close at the bottom right.
constexpr int kPanelX = 217, kPanelY = 48;
constexpr int kExportAreaX = 4 + 213 + 40, kExportAreaY = 24; // on "Export Mix"/"Export Stems"
constexpr int kCountX = kPanelX + 124 + 30, kCountY = kPanelY + 36 + 12;
constexpr int kFolderX = kPanelX + 124 + 100, kFolderY = kPanelY + 36 + 7 * 28 + 12;
constexpr int kRenderX = kPanelX + 240 + 45, kRenderY = kPanelY + 384 - 10 - 12;
constexpr uint32_t kPanelBackground = 0x333338;

// A kit of one pool: a tone of `seconds` whose pitch is drawn afresh on every trigger.
std::string toneKitState(HostRun& run, double seconds)
{
    const std::string tone = sineFile(run.path("tone.wav"), 440.0, seconds, 0.4);
    const std::string kit = run.path("kit.json");
    std::ofstream(kit) << R"({"rate": 48000, "pools": [{"name": "Tone", "samples": [")" << tone
                       << R"("], "pitch": {"base": 0, "range": 0.5, "random": true}}]})";
    const std::string state = run.path("kit.vesk-state");
    EXPECT_EQ(runProgram({kitPath(), "build", kit, state}), 0);
    return state;
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> out;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> wavsIn(const std::string& dir)
{
    std::vector<std::string> out;
    for (const std::string& f : filesIn(dir))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".wav") == 0)
            out.push_back(f);
    return out;
}

// The panel's status lines so far, from the editor's log.
std::string panelLog(HostRun& host)
{
    std::istringstream in(readText(host.path("halvoren_vesk_gui.log")));
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.find("export set: ") != std::string::npos)
            out += line.substr(line.find("export set: ") + 12) + "\n";
    return out;
}

bool logHas(HostRun& host, const std::string& text)
{
    return panelLog(host).find(text) != std::string::npos;
}

class VeskExportSet : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VESK_REQUIRE_EDITOR();
        ASSERT_TRUE(xServer().ok()) << xServer().error();
    }

    // Starts the host on the tone kit with the editor, recording; returns the editor's window.
    WindowId startHost(HostRun& host, double toneSeconds, double guiSeconds)
    {
        const std::string state = toneKitState(host, toneSeconds);
        EXPECT_TRUE(host.start({"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                                "--gui-seconds", std::to_string(guiSeconds), "--out",
                                host.path("live.wav")},
                               {"HVN_VESK_GUI_LOG=1", "HOME=" + host.path(""),
                                "TMPDIR=" + host.path(""), "TEMP=" + host.path("")}));
        EXPECT_TRUE(host.waitReady()) << host.err();
        const WindowId parent = host.window();
        EXPECT_TRUE(waitForPixel(parent, 900, 300, 0x282a2d));
        return parent;
    }

    // Opens the panel with a right click on the export area and fills in count and folder.
    void openAndFill(WindowId parent, const std::string& count, const std::string& folder,
                     const std::string& shot)
    {
        ASSERT_TRUE(click(parent, kExportAreaX, kExportAreaY, 3));
        ASSERT_TRUE(waitForPixel(parent, kPanelX + 3, kPanelY + 200, kPanelBackground))
            << "the panel did not open";
        // The click gives the editor's window the keyboard focus; the keys then go straight
        // to it (focusing the host's window first, as key() does, would take it away again).
        ASSERT_TRUE(click(parent, kCountX, kCountY));
        ASSERT_TRUE(xdotool({"key", "--delay", "30", "ctrl+a"}));
        ASSERT_TRUE(xdotool({"type", "--delay", "30", "--", count}));
        ASSERT_TRUE(click(parent, kFolderX, kFolderY));
        ASSERT_TRUE(xdotool({"key", "--delay", "30", "ctrl+a"}));
        ASSERT_TRUE(xdotool({"type", "--delay", "10", "--", folder}));
        screenshot(parent, shot);
    }
};

TEST_F(VeskExportSet, RightClickOpensThePanelAndASetOfThreeIsWrittenWhilePlaybackGoesOn)
{
    HostRun host("export_set_three");
    const WindowId parent = startHost(host, 6.0, 9.0);
    const std::string folder = host.path("set three");
    // The user plays the kit; the tone sounds on through the set.
    ASSERT_TRUE(key(parent, "r"));
    const int64_t playedNs = HostRun::steadyNowNs();
    openAndFill(parent, "3", folder, "vesk-export-set-filled");
    const int64_t renderNs = HostRun::steadyNowNs();
    ASSERT_TRUE(click(parent, kRenderX, kRenderY));
    ASSERT_TRUE(waitFor([&] { return logHas(host, "Done: "); }, 30.0)) << panelLog(host);
    const int64_t doneNs = HostRun::steadyNowNs();
    screenshot(parent, "vesk-export-set-done");
    const std::string log = panelLog(host);
    EXPECT_NE(log.find("Done: 3 files (3 of 3) in " + folder), std::string::npos) << log;
    // Progress lines count up to the set's size, never past it.
    EXPECT_EQ(log.find(" of 4"), std::string::npos) << log;

    EXPECT_EQ(wavsIn(folder),
              (std::vector<std::string>{"Vesk_01.wav", "Vesk_02.wav", "Vesk_03.wav"}));
    const std::string csv = readText(folder + "/manifest.csv");
    for (const char* f : {"Vesk_01.wav", "Vesk_02.wav", "Vesk_03.wav"}) {
        EXPECT_NE(csv.find(f), std::string::npos) << csv;
        EXPECT_GT(readWav(folder + "/" + f).left.size(), 48000u) << f;
    }
    EXPECT_TRUE(fs::exists(folder + "/manifest.json"));

    ASSERT_EQ(host.wait(), 0) << host.err();
    // Live playback went on: the tone sounds without a gap from the trigger until after the set
    // ended. How late the host's own audio thread woke depends on what else the machine runs, so
    // it is recorded, not judged.
    const Json gui = host.summary()["gui"];
    RecordProperty("late_blocks", std::to_string(gui["audio"]["late_blocks"].asInt()));
    RecordProperty("max_lag_ms", std::to_string(gui["audio"]["max_lag_ms"].asNumber()));
    EXPECT_EQ(gui["audio"]["held_blocks"].asInt(), 0);
    const Wav live = readWav(host.path("live.wav"));
    ASSERT_FALSE(live.left.empty());
    const double startNs = gui["audio"]["start_steady_ns"].asNumber();
    const auto frameAt = [&](int64_t ns) {
        return (long long)std::llround((double(ns) - startNs) * 1e-9 * 48000.0);
    };
    const long long from = firstSoundingFrame(live, 1e-3f);
    ASSERT_GE(from, 0);
    EXPECT_LT(from, frameAt(renderNs));
    // Up to 100 ms after the set ended, within the tone (6 s, at most 3 % shorter when pitched).
    const long long until = std::min(
        {frameAt(doneNs) + 4800, frameAt(playedNs) + 5 * 48000, (long long)live.left.size()});
    ASSERT_GT(until, frameAt(renderNs));
    // A 440 Hz tone (pitched at most half a semitone) crosses zero every ~1.1 ms; a dropped or
    // silent block would leave a run of 5 ms without a crossing.
    long long longest = 0, run = 0;
    for (long long i = from + 1; i < until; ++i) {
        const bool crossing = (live.left[size_t(i - 1)] < 0.0f) != (live.left[size_t(i)] < 0.0f);
        run = crossing ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, 240) << "a gap of " << longest << " frames in the live sound";
}

TEST_F(VeskExportSet, CancelStopsALongSetAndLeavesOnlyCompleteFiles)
{
    HostRun host("export_set_cancel");
    const WindowId parent = startHost(host, 4.0, 60.0);
    const std::string folder = host.path("set cancelled");
    openAndFill(parent, "1000", folder, "vesk-export-set-long");
    ASSERT_TRUE(click(parent, kRenderX, kRenderY));
    ASSERT_TRUE(
        waitFor([&] { return logHas(host, " of 1000") && wavsIn(folder).size() >= 2; }, 30.0))
        << panelLog(host);
    screenshot(parent, "vesk-export-set-running");
    const int64_t cancelNs = HostRun::steadyNowNs();
    ASSERT_TRUE(click(parent, kRenderX, kRenderY)); // "Cancel"
    ASSERT_TRUE(waitFor([&] { return logHas(host, "Cancelled at "); }, 30.0)) << panelLog(host);
    const double cancelSeconds = double(HostRun::steadyNowNs() - cancelNs) * 1e-9;
    std::printf("cancel to the panel's last line: %.0f ms (with the harness's polling)\n",
                cancelSeconds * 1000.0);
    screenshot(parent, "vesk-export-set-cancelled");
    const std::string log = panelLog(host);
    EXPECT_NE(log.find("kept in " + folder), std::string::npos) << log;

    // Every file left is complete and listed in the manifest; no temporary file stays.
    const std::vector<std::string> wavs = wavsIn(folder);
    ASSERT_GE(wavs.size(), 2u);
    EXPECT_LT(wavs.size(), 1000u);
    const std::string csv = readText(folder + "/manifest.csv");
    for (const std::string& f : wavs) {
        EXPECT_NE(csv.find(f), std::string::npos) << f;
        EXPECT_GT(readWav(folder + "/" + f).left.size(), 48000u) << f;
    }
    for (const std::string& f : filesIn(folder))
        EXPECT_NE(f.front(), '.') << f;
    host.kill();
}

TEST_F(VeskExportSet, ClosingTheEditorWhileASetRunsStopsItCleanly)
{
    HostRun host("export_set_close");
    const std::string state = toneKitState(host, 4.0);
    // The editor opens and closes twice; the first time a long set is started in it.
    ASSERT_TRUE(host.start({"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                            "--gui-cycles", "2", "--gui-cycle-seconds", "6"},
                           {"HVN_VESK_GUI_LOG=1", "HOME=" + host.path(""),
                            "TMPDIR=" + host.path(""), "TEMP=" + host.path("")}));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId parent = host.window();
    ASSERT_TRUE(waitForPixel(parent, 900, 300, 0x282a2d));
    const std::string folder = host.path("set closed");
    openAndFill(parent, "1000", folder, "vesk-export-set-before-close");
    ASSERT_TRUE(click(parent, kRenderX, kRenderY));
    ASSERT_TRUE(waitFor([&] { return logHas(host, " of 1000"); }, 30.0)) << panelLog(host);
    // The host closes the editor on its own schedule and ends normally.
    ASSERT_EQ(host.wait(90.0), 0) << host.err();
    EXPECT_EQ(host.summary()["gui"]["cycles"].asInt(), 2);
    const std::vector<std::string> wavs = wavsIn(folder);
    EXPECT_LT(wavs.size(), 1000u);
    for (const std::string& f : filesIn(folder))
        EXPECT_NE(f.front(), '.') << f;
}

} // namespace
