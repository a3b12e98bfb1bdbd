// The editor's panels through the real Vesk.clap in vesk-host under Xvfb, driven with xdotool as
// a user drives them: the top bar, the pool navigation, the FX buses, the master strip and the
// FX-chain presets, checked on the saved state, the recorded audio, the preset files and
// screenshots. Coordinates are the editor's at its design size 1200 x 800 (embedded, scale 1).
#include "EditorFiles.h"
#include "EditorHarness.h"

#include "audio_files/WavWriter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace vesk::editor_test;

namespace {

constexpr uint32_t kBypassedCard = 0x202023; // rgb(32, 32, 35)

std::string onePoolKit(const std::string& file, const std::string& extra = "")
{
    return R"({"rate": 48000, "pools": [{"name": "Tone", "samples": [")" + file + R"("]}])" +
           extra + "}";
}

// Peak of the left channel between two frames.
float peak(const Wav& wav, long long from, long long to)
{
    float p = 0.0f;
    for (long long i = std::max(0LL, from); i < to && i < (long long)wav.left.size(); ++i)
        p = std::max(p, std::fabs(wav.left[size_t(i)]));
    return p;
}

// The recorded sound from the first frame above `threshold` after a click made at firedNs, for
// `frames` frames; empty when nothing sounded or the recording ends sooner.
std::vector<float> soundAfter(HostRun& host, const Wav& wav, int64_t firedNs, size_t frames,
                              float threshold)
{
    const double startNs = host.summary()["gui"]["audio"]["start_steady_ns"].asNumber();
    const long long t0 = std::max(0LL, (long long)((double(firedNs) - startNs) * 48e-6));
    if (t0 >= (long long)wav.left.size())
        return {};
    const std::vector<float> after(wav.left.begin() + long(t0), wav.left.end());
    const long long onset = firstSoundingFrame(Wav{48000.0, after, {}}, threshold);
    if (onset < 0 || after.size() < size_t(onset) + frames)
        return {};
    return {after.begin() + long(onset), after.begin() + long(onset) + long(frames)};
}

float largestDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    float worst = a.size() == b.size() ? 0.0f : 1.0f;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

class PanelsEditor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VESK_REQUIRE_EDITOR();
        ASSERT_TRUE(xServer().ok()) << xServer().error();
    }
};

using TopBarEditor = PanelsEditor;
using PoolNavEditor = PanelsEditor;
using FXLaneEditor = PanelsEditor;
using MasterEditor = PanelsEditor;
using PresetEditor = PanelsEditor;

// Places of controls (editor coordinates).
constexpr Point kRandom{30, 24}, kStop{98, 24}, kVoiceMode{170, 24}, kAutoSplit{1070, 24};
constexpr Point kPresets{1172, 24};
constexpr Point kNavPlus{34, 641};
// Rows of a pool card's menu below its first row ("Lock Pool").
constexpr int kMenuClear = 30, kMenuRemove = 54;
Point navSolo(int card)
{
    return {19, 63 + 64 * card};
}
Point navMute(int card)
{
    return {19, 77 + 64 * card};
}
Point navBody(int card)
{
    return {40, 100 + 64 * card};
}
// FX Bus n (0, 1): the header's title, the "+" of an empty bus, the first card's header, power
// light and first knob (a Delay: three knobs on one row of a 180 px card).
Point laneTitle(int lane)
{
    return {798 + 200 * lane + 40, 62};
}
Point lanePlus(int lane)
{
    return {798 + 200 * lane + 95, 95};
}
Point cardHeader(int lane)
{
    return {798 + 200 * lane + 100, 96};
}
Point cardPower(int lane)
{
    return {798 + 200 * lane + 18, 98};
}
Point knobCentre(int lane)
{
    return {798 + 200 * lane + 6 + 16 + 22, 108 + 23};
}
Point knobMiniRing(int lane)
{
    return {798 + 200 * lane + 6 + 16 + 6, 108 + 6};
}

} // namespace

TEST_F(TopBarEditor, TransportVoiceModeAndAutoSplit)
{
    HostRun host("topbar");
    const std::string state =
        kitState(host, onePoolKit(sineFile(host.path("tone.wav"), 440.0, 3.0, 0.5, 3.0)));
    const WindowId w = showEditor(
        host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded", "--gui-seconds",
               "7", "--out", host.path("out.wav"), "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    // "Poly" chosen while stopped: the box's menu, one entry down.
    ASSERT_TRUE(click(w, kVoiceMode.x, kVoiceMode.y));
    pause(0.5);
    screenshot(w, "vesk-topbar-voice-menu");
    ASSERT_TRUE(click(w, 173, 89)); // "Poly", the second row of the box's menu
    pause(0.3);
    ASSERT_TRUE(click(w, kAutoSplit.x, kAutoSplit.y));
    pause(0.3);
    const int64_t fired = HostRun::steadyNowNs();
    ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
    pause(1.0);
    const Image playing = screenshot(w, "vesk-topbar-playing");
    const int64_t stopped = HostRun::steadyNowNs();
    ASSERT_TRUE(click(w, kStop.x, kStop.y));
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json kit = stateJson(host, host.path("saved.vesk-state"));
    EXPECT_EQ(kit["retrigger"].asString(), "poly");
    EXPECT_TRUE(kit["autoSplit"].asBool());
    const Wav wav = readWav(host.path("out.wav"));
    const double startNs = host.summary()["gui"]["audio"]["start_steady_ns"].asNumber();
    const auto frame = [&](int64_t ns) { return (long long)((double(ns) - startNs) * 48e-6); };
    EXPECT_LT(peak(wav, 0, frame(fired)), 1e-4f) << "silent before the click";
    EXPECT_GT(peak(wav, frame(fired), frame(stopped)), 0.05f) << "the click on the play button";
    EXPECT_LT(peak(wav, frame(stopped) + 48000 / 2, (long long)wav.left.size()), 1e-4f)
        << "the stop button silenced it";
}

// The export line right of the dice: text in green after an export that wrote its files, in
// red after one that could not. Counts the pixels of either colour there.
constexpr uint32_t kExportWritten = 0xa8d8a8, kExportFailed = 0xe07a5f;
int exportLinePixels(WindowId w, uint32_t rgb)
{
    const Image image = capture(w);
    int n = 0;
    for (uint32_t y = 8; y < 40; ++y)
        for (uint32_t x = 588; x < 1050; ++x) {
            const uint32_t p = image.rgb(x, y);
            bool near = true;
            for (int shift : {0, 8, 16})
                near = near && std::abs(int((p >> shift) & 0xff) - int((rgb >> shift) & 0xff)) <= 6;
            n += near ? 1 : 0;
        }
    return n;
}
constexpr Point kExportStems{255, 24}, kExportMix{319, 24};

std::vector<std::string> exportedFiles(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(dir, error))
        if (e.path().filename().string().rfind("Vesk_", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string twoPoolKit(HostRun& host)
{
    return kitState(host, R"({"rate": 48000, "pools": [{"samples": [")" +
                              sineFile(host.path("a.wav"), 300.0, 0.3) + R"("]}, {"samples": [")" +
                              sineFile(host.path("b.wav"), 500.0, 0.2) + R"("]}]})");
}

// The editor of the two-pool kit inside the stand-in REAPER, on the track "Synth" of the
// project `project`, for `seconds`; the host writes what the project received to `reaperJson`.
WindowId showTwoPoolKitInReaper(HostRun& host, const std::string& project,
                                const std::string& reaperJson, const char* seconds)
{
    return showEditor(host, {"--plugin", veskPath(), "--load-state", twoPoolKit(host), "--gui",
                             "embedded", "--gui-seconds", seconds, "--reaper-project", project,
                             "--reaper-track", "Synth", "--reaper-json", reaperJson});
}

TEST_F(TopBarEditor, ExportsPlaceTheFilesIntoTheReaperProjectAndTheLineSaysSo)
{
    HostRun host("topbar_export_reaper");
    const std::string project = host.path("project");
    std::filesystem::create_directories(project);
    const std::string reaperJson = host.path("reaper.json");
    const WindowId w = showTwoPoolKitInReaper(host, project, reaperJson, "25");
    ASSERT_NE(w, 0u) << host.err();
    EXPECT_EQ(exportLinePixels(w, kExportWritten) + exportLinePixels(w, kExportFailed), 0)
        << "no line before the first export";

    ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
    pause(1.0);
    ASSERT_TRUE(click(w, kExportStems.x, kExportStems.y));
    EXPECT_TRUE(waitFor([&] { return exportedFiles(project).size() == 2; }, 20.0));
    EXPECT_TRUE(waitFor([&] { return exportLinePixels(w, kExportWritten) > 20; }, 10.0));
    EXPECT_EQ(exportLinePixels(w, kExportFailed), 0);
    screenshot(w, "vesk-topbar-export-stems");
    ASSERT_TRUE(click(w, kExportMix.x, kExportMix.y));
    EXPECT_TRUE(waitFor([&] { return exportedFiles(project).size() == 3; }, 20.0));
    ASSERT_EQ(host.wait(), 0) << host.err();

    std::string error;
    const Json r = Json::parse(readText(reaperJson), &error);
    ASSERT_TRUE(error.empty()) << error;
    std::map<std::string, size_t> items;
    for (const Json& t : r["tracks"].elements())
        items[t["name"].asString()] = t["items"].size();
    EXPECT_EQ(items["Pool1"], 1u);
    EXPECT_EQ(items["Pool2"], 1u);
    EXPECT_EQ(items["Pool3"], 0u);
    EXPECT_EQ(items["Synth"], 1u) << "the mix on the instance's track";
    ASSERT_EQ(r["undo"].size(), 2u);
    EXPECT_EQ(r["undo"][0].asString(), "Vesk: Insert Rendered Samples");
    EXPECT_EQ(r["undo"][1].asString(), "Vesk: Insert Mix");
}

TEST_F(TopBarEditor, OutsideReaperTheFilesGoToTheDefaultFolder)
{
    HostRun host("topbar_export_default");
    const std::string state = twoPoolKit(host);
    const std::string home = host.path("home");
    std::filesystem::create_directories(home);
    const std::string folder = home + "/Documents/Halvoren Vesk/Exports";
    const WindowId w = showEditor(
        host,
        {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded", "--gui-seconds", "20"},
        {"HOME=" + home});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
    pause(1.0);
    ASSERT_TRUE(click(w, kExportMix.x, kExportMix.y));
    EXPECT_TRUE(waitFor([&] { return exportedFiles(folder).size() == 1; }, 20.0));
    EXPECT_TRUE(waitFor([&] { return exportLinePixels(w, kExportWritten) > 20; }, 10.0));
    screenshot(w, "vesk-topbar-export-default-folder");
    host.kill();
}

TEST_F(TopBarEditor, AnUnwritableFolderShowsTheFailureAndNothingClaimsSuccess)
{
    HostRun host("topbar_export_unwritable");
    const std::string project = host.path("project.rpp"); // a file, not a folder
    std::ofstream(project) << "x";
    const std::string reaperJson = host.path("reaper.json");
    const WindowId w = showTwoPoolKitInReaper(host, project, reaperJson, "14");
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
    pause(1.0);
    ASSERT_TRUE(click(w, kExportStems.x, kExportStems.y));
    EXPECT_TRUE(waitFor([&] { return exportLinePixels(w, kExportFailed) > 20; }, 20.0));
    EXPECT_EQ(exportLinePixels(w, kExportWritten), 0);
    screenshot(w, "vesk-topbar-export-failed");
    ASSERT_EQ(host.wait(), 0) << host.err();
    std::string error;
    const Json r = Json::parse(readText(reaperJson), &error);
    ASSERT_TRUE(error.empty()) << error;
    for (const Json& t : r["tracks"].elements())
        EXPECT_EQ(t["items"].size(), 0u) << t["name"].asString();
    EXPECT_EQ(r["undo"].size(), 0u);
}

TEST_F(PoolNavEditor, AddMuteSoloAndLock)
{
    HostRun host("poolnav");
    const std::string tone = sineFile(host.path("tone.wav"), 440.0, 0.5, 0.5, 0.5);
    const std::string state = kitState(
        host, R"({"rate": 48000, "pools": [{"name": "A", "samples": [")" + tone +
                  R"("]}, {"name": "B", "samples": [")" + tone +
                  R"("]}, {"name": "C", "samples": [")" + tone + R"("]}, {"name": "D"}]})");
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "6", "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, kNavPlus.x, kNavPlus.y)); // pools 1-4 visible: shows pool 5
    ASSERT_TRUE(click(w, navMute(1).x, navMute(1).y));
    ASSERT_TRUE(click(w, navSolo(3).x, navSolo(3).y));
    ASSERT_TRUE(click(w, navSolo(3).x, navSolo(3).y)); // and off again
    ASSERT_TRUE(xdotool({"keydown", "alt"}));
    ASSERT_TRUE(click(w, navBody(2).x, navBody(2).y));
    ASSERT_TRUE(xdotool({"keyup", "alt"}));
    ASSERT_TRUE(click(w, kRandom.x, kRandom.y)); // a draw to lock
    pause(0.4);
    ASSERT_TRUE(click(w, navBody(0).x, navBody(0).y, 3));
    pause(0.5);
    ASSERT_TRUE(click(w, 56, 123)); // "Lock Pool", the menu's first row below the card
    pause(0.3);
    screenshot(w, "vesk-poolnav-mute-solo-lock");
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json kit = stateJson(host, host.path("saved.vesk-state"));
    EXPECT_EQ(kit["visiblePools"].asInt(), 0x1F);
    EXPECT_TRUE(kit["pools"][1]["mute"].asBool());
    EXPECT_TRUE(kit["pools"][2]["solo"].asBool());
    EXPECT_FALSE(kit["pools"][1]["solo"].asBool());
    EXPECT_TRUE(kit["pools"][0].has("locked")) << "pool 1 locked on its draw";
}

// The solo dot of pool 2: the next trigger fires all three pools, and only pool 2's tone is heard.
// ↻ repeats the last draw exactly, and a pool locked after a trigger replays that draw on the
// next ▶. The pool's pitch is drawn from ±12 semitones, so each draw has a tone of its own.
TEST_F(PoolNavEditor, RepeatAndLockReplayTheLastDraw)
{
    HostRun host("poolnav_lock_audio");
    const std::string state =
        kitState(host, R"({"rate": 48000, "pools": [{"samples": [")" +
                           sineFile(host.path("tone.wav"), 440.0, 0.4, 0.4, 0.4) +
                           R"("], "pitch": {"base": 0, "range": 0.5, "random": true}}]})");
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "9", "--out", host.path("out.wav")});
    ASSERT_NE(w, 0u) << host.err();
    constexpr Point kRepeat{63, 24};
    std::vector<int64_t> fired;
    auto press = [&](Point p) {
        fired.push_back(HostRun::steadyNowNs());
        EXPECT_TRUE(click(w, p.x, p.y));
        pause(0.8);
    };
    press(kRandom); // a draw
    press(kRepeat); // the same again
    press(kRandom); // a new draw, then locked
    ASSERT_TRUE(click(w, navBody(0).x, navBody(0).y, 3));
    pause(0.5);
    ASSERT_TRUE(click(w, 56, 123)); // "Lock Pool"
    pause(0.3);
    press(kRandom); // the locked draw again
    press(kRandom); // and again
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Wav wav = readWav(host.path("out.wav"));
    std::vector<std::vector<float>> sounds;
    for (const int64_t ns : fired) {
        sounds.push_back(soundAfter(host, wav, ns, 9600, 1e-6f));
        ASSERT_FALSE(sounds.back().empty());
    }
    const auto same = largestDifference;
    EXPECT_LT(same(sounds[0], sounds[1]), 1e-6f) << "↻ did not repeat the draw";
    EXPECT_LT(same(sounds[2], sounds[3]), 1e-6f) << "the locked pool drew anew";
    EXPECT_LT(same(sounds[2], sounds[4]), 1e-6f) << "the locked pool drew anew";
    EXPECT_NEAR(vesk::test::dominantFrequency(sounds[3], 48000.0),
                vesk::test::dominantFrequency(sounds[2], 48000.0), 1.0);
}

// The card menu's Clear empties pool 2 and Remove hides pool 3; pool 1 keeps its sample.
TEST_F(PoolNavEditor, ClearAndRemoveFromTheCardMenu)
{
    HostRun host("poolnav_clear_remove");
    const std::string tone = sineFile(host.path("tone.wav"), 440.0, 0.2);
    const std::string pool = R"({"samples": [")" + tone + R"("]})";
    const std::string state =
        kitState(host, R"({"rate": 48000, "pools": [)" + pool + ", " + pool + ", " + pool + "]}");
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "6", "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    // The menu hangs below the card: Lock, a separator, Clear, Remove.
    ASSERT_TRUE(click(w, navBody(1).x, navBody(1).y, 3));
    pause(0.5);
    screenshot(w, "vesk-poolnav-card-menu");
    ASSERT_TRUE(click(w, 56, 123 + 64 + kMenuClear));
    pause(0.4);
    ASSERT_TRUE(click(w, navBody(2).x, navBody(2).y, 3));
    pause(0.5);
    ASSERT_TRUE(click(w, 56, 123 + 128 + kMenuRemove));
    pause(0.4);
    screenshot(w, "vesk-poolnav-cleared-removed");
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json kit = stateJson(host, host.path("saved.vesk-state"));
    EXPECT_EQ(kit["pools"][0]["samples"].size(), 1u);
    EXPECT_EQ(kit["pools"][1]["samples"].size(), 0u) << "Clear emptied pool 2";
    EXPECT_EQ(kit["visiblePools"].asInt() & 0x4, 0) << "Remove hid pool 3";
    EXPECT_NE(kit["visiblePools"].asInt() & 0x3, 0);
}

TEST_F(PoolNavEditor, TheSoloDotLeavesOnlyThatPoolsToneInTheRender)
{
    HostRun host("poolnav_solo_audio");
    auto pool = [&](const char* name, double hz) {
        return R"({"samples": [")" + sineFile(host.path(name), hz, 0.6, 0.3, 0.6) + R"("]})";
    };
    const std::string state =
        kitState(host, R"({"rate": 48000, "pools": [)" + pool("a.wav", 300.0) + ", " +
                           pool("b.wav", 520.0) + ", " + pool("c.wav", 810.0) + "]}");
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "5", "--out", host.path("out.wav")});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, navSolo(1).x, navSolo(1).y));
    pause(0.4);
    const int64_t fired = HostRun::steadyNowNs();
    ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
    ASSERT_EQ(host.wait(), 0) << host.err();

    // 0.4 s from 50 ms after the onset, past the attack.
    const std::vector<float> sound =
        soundAfter(host, readWav(host.path("out.wav")), fired, 2400 + 19200, 1e-3f);
    ASSERT_FALSE(sound.empty()) << "the trigger sounded";
    const std::vector<float> part(sound.begin() + 2400, sound.end());
    const double soloed = vesk::test::amplitudeAt(part, 520.0, 48000.0);
    EXPECT_GT(soloed, 0.05);
    EXPECT_LT(vesk::test::amplitudeAt(part, 300.0, 48000.0), soloed * 1e-3) << "pool 1 is heard";
    EXPECT_LT(vesk::test::amplitudeAt(part, 810.0, 48000.0), soloed * 1e-3) << "pool 3 is heard";
}

// A Delay card switched off with its power light: the trigger sounds exactly as in a project
// without the card (the two recordings aligned on their onsets).
TEST_F(FXLaneEditor, ACardSwitchedOffSoundsLikeTheDryRender)
{
    std::vector<float> renders[2];
    for (const bool withCard : {false, true}) {
        SCOPED_TRACE(withCard ? "with the card off" : "dry");
        HostRun host(withCard ? "fxcard_off" : "fxcard_dry");
        const std::string tone = sineFile(host.path("burst.wav"), 1000.0, 0.02, 0.5, 0.05);
        const std::string state = kitState(host, onePoolKit(tone));
        const WindowId w =
            showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                              "--gui-seconds", "5", "--out", host.path("out.wav")});
        ASSERT_NE(w, 0u) << host.err();
        if (withCard) {
            ASSERT_TRUE(click(w, lanePlus(0).x, lanePlus(0).y));
            pause(0.5);
            ASSERT_TRUE(click(w, lanePlus(0).x - 40, 117 + 20 * 17)); // Delay
            pause(0.5);
            ASSERT_TRUE(click(w, cardPower(0).x, cardPower(0).y));
            pause(0.5);
        }
        const int64_t fired = HostRun::steadyNowNs();
        ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
        ASSERT_EQ(host.wait(), 0) << host.err();
        renders[withCard ? 1 : 0] =
            soundAfter(host, readWav(host.path("out.wav")), fired, 48000, 1e-6f);
        ASSERT_FALSE(renders[withCard ? 1 : 0].empty()) << "a second after the trigger's onset";
    }
    const float worst = largestDifference(renders[0], renders[1]);
    EXPECT_LT(worst, 1e-6f) << "the switched-off Delay changed the sound";
    EXPECT_LT(peak(Wav{48000.0, renders[1], {}}, 300 * 48, 48000), 1e-6f) << "no echo";
}

TEST_F(FXLaneEditor, AddEchoMoveModulateBypass)
{
    HostRun host("fxlane");
    const std::string tone = sineFile(host.path("burst.wav"), 1000.0, 0.02, 0.5, 0.05);
    const std::string state = kitState(host, onePoolKit(tone));
    const WindowId w = showEditor(
        host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded", "--gui-seconds",
               "11", "--out", host.path("out.wav"), "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    // "+" of FX Bus 1, then Delay, the 18th module of the menu.
    ASSERT_TRUE(click(w, lanePlus(0).x, lanePlus(0).y));
    pause(0.5);
    screenshot(w, "vesk-fx-add-menu");
    // Its menu hangs below the button, 20 px a row: Delay is the 18th.
    ASSERT_TRUE(click(w, lanePlus(0).x - 40, 117 + 20 * 17));
    pause(0.4);
    const int64_t fired = HostRun::steadyNowNs();
    ASSERT_TRUE(click(w, kRandom.x, kRandom.y));
    pause(1.2);
    screenshot(w, "vesk-fx-delay-added");

    // The card's header dragged onto the top of FX Bus 2.
    const Point from = cardHeader(0);
    ASSERT_TRUE(drag(
        w,
        {from, {from.x + 4, from.y}, {from.x + 30, from.y}, {1000, 90}, {1090, 86}, {1090, 86}}));
    pause(0.6);
    // Right click on the Time knob: MPE Pressure, then its mini ring dragged 50 px up.
    ASSERT_TRUE(click(w, knobCentre(1).x, knobCentre(1).y, 3));
    pause(0.5);
    screenshot(w, "vesk-fx-mod-menu");
    // Its menu hangs below the knob: "None", a separator, then "MPE Pressure".
    ASSERT_TRUE(click(w, knobCentre(1).x + 38, 210));
    pause(0.4);
    const Point ring = knobMiniRing(1);
    ASSERT_TRUE(drag(w, {ring,
                         {ring.x, ring.y - 10},
                         {ring.x, ring.y - 30},
                         {ring.x, ring.y - 50},
                         {ring.x, ring.y - 50}}));
    pause(0.3);
    ASSERT_TRUE(click(w, cardPower(1).x, cardPower(1).y)); // the card's power light
    pause(0.3);
    ASSERT_TRUE(click(w, laneTitle(1).x, laneTitle(1).y)); // the bus's title
    pause(0.5);
    const Image shot = screenshot(w, "vesk-fx-bypassed-bus2");
    EXPECT_EQ(shot.rgb(998 + 6 + 3, 84 + 40), kBypassedCard);
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json kit = stateJson(host, host.path("saved.vesk-state"));
    EXPECT_EQ(kit["buses"][0]["slots"].size(), 0u) << "the Delay left FX Bus 1";
    const Json slot = kit["buses"][1]["slots"][0];
    EXPECT_EQ(slot["fx"].asString(), "Delay");
    EXPECT_TRUE(slot["bypass"].asBool());
    EXPECT_EQ(slot["mods"]["Time"]["source"].asInt(), 1);
    EXPECT_NEAR(slot["mods"]["Time"]["depth"].asNumber(), 0.15, 0.02);
    EXPECT_TRUE(kit["buses"][1]["bypass"].asBool());

    // The echo: the 20 ms burst again 375 ms later (Time 0.5 on its square curve of 1500 ms).
    const Wav wav = readWav(host.path("out.wav"));
    const double startNs = host.summary()["gui"]["audio"]["start_steady_ns"].asNumber();
    const long long t0 = (long long)((double(fired) - startNs) * 48e-6);
    const long long onset = firstSoundingFrame(
        Wav{48000.0, {wav.left.begin() + std::max(0LL, t0), wav.left.end()}, {}}, 1e-3f);
    ASSERT_GE(onset, 0) << "the play button sounded";
    const long long dry = std::max(0LL, t0) + onset;
    const long long echo = dry + 375 * 48;
    EXPECT_LT(peak(wav, dry + 200 * 48, echo - 40 * 48), 0.01f) << "quiet between";
    EXPECT_GT(peak(wav, echo - 15 * 48, echo + 40 * 48), 0.03f) << "the echo at 375 ms";
}

TEST_F(MasterEditor, PowerMidAndDryWet)
{
    HostRun host("master");
    const std::string state =
        kitState(host, onePoolKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2),
                                  R"(, "master": {"reverb": {"mix": 0.1}})"));
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "5", "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, 18, 678)); // the master power switch
    pause(0.3);
    // Mid: 50 px up is 50 x 0.3 % of its 24 dB = +3.6 dB.
    const Point mid{12 + 95, 739};
    ASSERT_TRUE(drag(w, {mid, {mid.x, mid.y - 20}, {mid.x, mid.y - 50}, {mid.x, mid.y - 50}}));
    pause(0.3);
    // Dry/Wet: 100 px up is +30 %, from 10 to 40.
    const Point wet{408 + 35 + 3 * 52, 739};
    ASSERT_TRUE(drag(w, {wet, {wet.x, wet.y - 40}, {wet.x, wet.y - 100}, {wet.x, wet.y - 100}}));
    pause(0.5);
    screenshot(w, "vesk-master-strip");
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json m = stateJson(host, host.path("saved.vesk-state"))["master"];
    EXPECT_FALSE(m["bypass"].asBool());
    EXPECT_NEAR(m["eq"]["mid"].asNumber(), 3.6, 1e-3);
    EXPECT_EQ(m["eq"]["low"].asNumber(), 0.0);
    EXPECT_EQ(m["eq"]["high"].asNumber(), 0.0);
    EXPECT_NEAR(m["reverb"]["mix"].asNumber(), 0.4, 1e-4);
    EXPECT_NEAR(m["reverb"]["size"].asNumber(), 0.2, 1e-6);
    EXPECT_NEAR(m["reverb"]["decay"].asNumber(), 1.5, 1e-6);
}

TEST_F(PresetEditor, SaveTypedNameAppendAndDelete)
{
    HostRun host("presets");
    const std::string home = host.path("home");
    std::filesystem::create_directories(home);
    const std::string state =
        kitState(host, onePoolKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2),
                                  R"(, "buses": [{"slots": [{"fx": "Delay"}]}, {"slots": []}])"));
    const WindowId w = showEditor(host,
                                  {"--plugin", veskPath(), "--load-state", state, "--gui",
                                   "embedded", "--gui-seconds", "7", "--out", host.path("out.wav"),
                                   "--save-state", host.path("saved.vesk-state")},
                                  {"HOME=" + home});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, kPresets.x, kPresets.y));
    pause(0.6);
    // The popup's top border is the first long run of 0x3a3a3a from the top: its top-left corner.
    // The name field sits at (10, 34) of the popup, the rows from (10, 88).
    const Image open = screenshot(w, "vesk-preset-popup-empty");
    int px = -1, py = -1;
    for (uint32_t y = 10; y < 300 && px < 0; ++y) {
        int run = 0;
        for (uint32_t x = 600; x < 1200; ++x) {
            run = open.rgb(x, y) == 0x3a3a3a ? run + 1 : 0;
            if (run == 150) {
                px = int(x) - 149;
                py = int(y);
                break;
            }
        }
    }
    ASSERT_GE(px, 0) << "the preset popup is on screen";
    ASSERT_TRUE(click(w, px + 100, py + 47)); // the name field
    pause(0.3);
    // "R" types into the field and fires nothing. The keys go to the editor's own window, as
    // when the host hands it the keyboard focus.
    ASSERT_EQ(children(w).size(), 1u);
    const WindowId editor = children(w).at(0);
    ASSERT_TRUE(typeText(editor, "Chain R"));
    ASSERT_TRUE(key(editor, "Return"));
    pause(0.6);
    const std::string file = home + "/Documents/Halvoren Vesk/FX Chains/Chain R.veskfxchain";
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(file); }, 3.0)) << file;
    screenshot(w, "vesk-preset-popup-one");
    ASSERT_TRUE(click(w, px + 100, py + 88 + 15)); // the row: appends its chains
    pause(0.6);
    ASSERT_TRUE(click(w, px + 300 - 10 - 6 - 13, py + 88 + 15)); // its "x"
    pause(0.6);
    EXPECT_FALSE(std::filesystem::exists(file));
    screenshot(w, "vesk-preset-popup-deleted");
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json kit = stateJson(host, host.path("saved.vesk-state"));
    EXPECT_EQ(kit["buses"][0]["slots"].size(), 2u) << "the preset's Delay appended";
    const Wav wav = readWav(host.path("out.wav"));
    EXPECT_LT(peak(wav, 0, (long long)wav.left.size()), 1e-4f) << "typing R fired nothing";
}

namespace {

// The preset popup's top-left corner on the screen: its top border is the first long run of
// 0x3a3a3a from the top of the editor's right half.
Point findPresetPopup(const Image& shot)
{
    for (uint32_t y = 10; y < 300; ++y) {
        int run = 0;
        for (uint32_t x = 600; x < 1200; ++x) {
            run = shot.rgb(x, y) == 0x3a3a3a ? run + 1 : 0;
            if (run == 150)
                return {int(x) - 149, int(y)};
        }
    }
    return {-1, -1};
}

} // namespace

TEST_F(PresetEditor, OverwriteCancelKeepsTheFileAndClosingWithAllOpenIsSafe)
{
    HostRun host("presets_close");
    const std::string home = host.path("home");
    const std::string dir = home + "/Documents/Halvoren Vesk/FX Chains";
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/A.veskfxchain";
    std::ofstream(file) << R"({"schema": 1, "lanes": [{"slots": []}, {"slots": []}]})";
    const std::string before = readText(file);
    const std::string state =
        kitState(host, onePoolKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2)));
    const WindowId w = showEditor(
        host,
        {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded", "--gui-seconds", "6"},
        {"HOME=" + home});
    ASSERT_NE(w, 0u) << host.err();
    const WindowId editor = children(w).at(0);
    ASSERT_TRUE(click(w, kPresets.x, kPresets.y));
    pause(0.6);
    const Point p = findPresetPopup(screenshot(w, "vesk-preset-popup-listed"));
    ASSERT_GE(p.x, 0) << "the preset popup is on screen";
    const auto saveAs = [&](const char* name) {
        ASSERT_TRUE(click(w, p.x + 100, p.y + 47));
        pause(0.2);
        ASSERT_TRUE(typeText(editor, name));
        ASSERT_TRUE(key(editor, "Return"));
        pause(0.8);
    };
    saveAs("A");
    screenshot(w, "vesk-preset-overwrite-question");
    // The alert is centred on the editor: "Overwrite" left, "Cancel" right.
    ASSERT_TRUE(click(w, 657, 465));
    pause(0.6);
    EXPECT_EQ(readText(file), before) << "Cancel leaves the file untouched";
    saveAs("A");
    ASSERT_TRUE(click(w, 550, 465));
    pause(0.6);
    EXPECT_NE(readText(file), before) << "Overwrite writes the chains of both buses";
    const std::string overwritten = readText(file);
    saveAs("A"); // the question again, left open with the popup when the editor closes
    ASSERT_EQ(host.wait(), 0) << host.err();
    EXPECT_EQ(readText(file), overwritten);
}

TEST_F(PoolNavEditor, ClosingWithTheCardMenuOpenIsSafe)
{
    HostRun host("poolnav_close");
    const std::string state =
        kitState(host, onePoolKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2)));
    const WindowId w = showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui",
                                         "embedded", "--gui-seconds", "2.5"});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, navBody(0).x, navBody(0).y, 3));
    pause(0.5);
    screenshot(w, "vesk-poolnav-menu");
    ASSERT_EQ(host.wait(), 0) << host.err();
}

namespace {

// The range target's menu hangs below the box, 32 px a row from y = 57: "---", "ALL", "Vol",
// "Pan", "Pitch", "Delay", "Start".
void chooseRangeTarget(WindowId w, int row)
{
    ASSERT_TRUE(click(w, 406, 24));
    pause(0.5);
    ASSERT_TRUE(click(w, 406, 57 + 32 * row));
    pause(0.3);
}

constexpr Point kOn{466, 24}, kReset{534, 24}, kDice{568, 24};

std::string twoPoolRangeKit(const std::string& tone)
{
    return R"({"rate": 48000, "pools": [{"name": "A", "samples": [")" + tone +
           R"("], "volume": {"base": -6, "range": 0.05, "random": true},
              "pan": {"base": 10, "range": 0.3, "random": false},
              "pitch": {"base": 2, "range": 0.5, "random": false}, "reverse": 40},
             {"name": "B", "pan": {"base": 0, "range": 0.2, "random": false}}]})";
}

} // namespace

TEST_F(TopBarEditor, PanOnThenDiceKeepEveryEnabledRangeWithinItsLimits)
{
    HostRun host("topbar_ranges");
    const std::string state =
        kitState(host, twoPoolRangeKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2)));
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "4.5", "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    chooseRangeTarget(w, 3); // "Pan"
    ASSERT_TRUE(click(w, kOn.x, kOn.y));
    pause(0.4);
    ASSERT_TRUE(click(w, kDice.x, kDice.y));
    pause(0.4);
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json pools = stateJson(host, host.path("saved.vesk-state"))["pools"];
    EXPECT_TRUE(pools[0]["pan"]["random"].asBool()) << "On switched pool 1's pan range";
    EXPECT_FALSE(pools[1]["pan"]["random"].asBool()) << "a pool without samples is left alone";
    EXPECT_FALSE(pools[0]["pitch"]["random"].asBool());
    for (const char* p : {"volume", "pan"}) {
        const double range = pools[0][p]["range"].asNumber();
        EXPECT_GE(range, 0.1 - 1e-6) << p;
        EXPECT_LE(range, 1.0 + 1e-6) << p;
    }
    EXPECT_EQ(pools[0]["pitch"]["range"].asNumber(), 0.5) << "a disabled range draws nothing";
}

TEST_F(TopBarEditor, AllAndResetClearEveryRangeAndTheReverseChance)
{
    HostRun host("topbar_reset");
    const std::string state =
        kitState(host, twoPoolRangeKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2)));
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                          "--gui-seconds", "3.5", "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    chooseRangeTarget(w, 1); // "ALL"
    ASSERT_TRUE(click(w, kReset.x, kReset.y));
    pause(0.4);
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json pools = stateJson(host, host.path("saved.vesk-state"))["pools"];
    for (const char* p : {"volume", "pan", "pitch", "delay", "start"}) {
        EXPECT_EQ(pools[0][p]["base"].asNumber(), 0.0) << p;
        EXPECT_EQ(pools[0][p]["range"].asNumber(), 0.0) << p;
        EXPECT_FALSE(pools[0][p]["random"].asBool()) << p;
    }
    EXPECT_EQ(pools[0]["reverse"].asNumber(), 0.0);
    EXPECT_EQ(pools[1]["pan"]["range"].asNumber(), 0.2) << "a pool without samples is left alone";
}

TEST_F(TopBarEditor, AutoSplitOnLoadsAFileWithTwoPausesAsThreeSamples)
{
    HostRun host("topbar_autosplit");
    // Three 0.2 s tones with 0.4 s of silence between them.
    const size_t n = size_t(1.4 * 48000.0);
    std::vector<float> x(n, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / 48000.0;
        const double inCycle = std::fmod(t, 0.6);
        if (inCycle < 0.2)
            x[i] = float(0.5 * std::sin(2.0 * M_PI * 440.0 * t));
    }
    const std::string file = host.path("three.wav");
    ASSERT_TRUE(vesk::writeWav(file, x, x, 48000.0));
    const WindowId w =
        showEditor(host, {"--plugin", veskPath(), "--gui", "embedded", "--gui-seconds", "4",
                          "--save-state", host.path("saved.vesk-state")});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, kAutoSplit.x, kAutoSplit.y));
    pause(0.4);
    ASSERT_EQ(dropFiles(w, 200, 130, {file}), 0); // onto pool 1's row
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json kit = stateJson(host, host.path("saved.vesk-state"));
    EXPECT_TRUE(kit["autoSplit"].asBool());
    EXPECT_EQ(kit["pools"][0]["samples"].size(), 3u);
}

TEST_F(PresetEditor, TheTwentyFifthPresetScrollsIntoViewAndLoads)
{
    HostRun host("presets_many");
    const std::string home = host.path("home");
    const std::string dir = home + "/Documents/Halvoren Vesk/FX Chains";
    std::filesystem::create_directories(dir);
    for (int i = 1; i <= 25; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "P%02d", i);
        const char* fx = i == 25 ? "Delay" : "Haas";
        std::ofstream(dir + "/" + name + ".veskfxchain")
            << R"({"schema": 1, "lanes": [{"slots": [{"fx": ")" << fx
            << R"(", "bypass": false}]}, {"slots": []}]})";
    }
    const std::string state =
        kitState(host, onePoolKit(sineFile(host.path("tone.wav"), 440.0, 0.2, 0.5, 0.2)));
    const WindowId w =
        showEditor(host,
                   {"--plugin", veskPath(), "--load-state", state, "--gui", "embedded",
                    "--gui-seconds", "5", "--save-state", host.path("saved.vesk-state")},
                   {"HOME=" + home});
    ASSERT_NE(w, 0u) << host.err();
    ASSERT_TRUE(click(w, kPresets.x, kPresets.y));
    pause(0.6);
    const Point p = findPresetPopup(screenshot(w, "vesk-preset-popup-25"));
    ASSERT_GE(p.x, 0) << "the preset popup is on screen";
    // The wheel over the list, down to its end: the last row sits at the bottom of the view.
    ASSERT_TRUE(mouseMove(w, p.x + 100, p.y + 400));
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(xdotool({"click", "5"}));
    pause(0.5);
    screenshot(w, "vesk-preset-popup-25-scrolled");
    ASSERT_TRUE(click(w, p.x + 100, p.y + 700 - 4 - 32 + 15)); // row 25 at the view's bottom
    pause(0.6);
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json slots = stateJson(host, host.path("saved.vesk-state"))["buses"][0]["slots"];
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(slots[0]["fx"].asString(), "Delay") << "the 25th preset was appended";
}
