// Input as a user gives it, through xdotool, to the test plug-in's editor inside vesk-host:
// keys with and without modifiers, typing, clicks and drags, checked on the screen, in the saved
// state and in the recorded audio; and the requests the editor makes of the host in answer
// (resize, hide, closed), in each way the host may answer them.
#include "EditorHarness.h"
#include "fixture/GuiFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace vesk::editor_test;
using namespace vesk::editor_test::fixture;

namespace {

class EditorInput : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(xServer().ok()) << xServer().error(); }
};

} // namespace

TEST_F(EditorInput, KeysChangeTheColourAndTypedTextReachesTheSavedState)
{
    HostRun host("keys");
    ASSERT_TRUE(host.start(hostArgs(
        {"--gui", "embedded", "--gui-seconds", "4", "--save-state", host.path("state.txt")})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId parent = host.window();
    ASSERT_TRUE(waitForPixel(parent, 200, 150, kBlue));
    ASSERT_TRUE(key(parent, "r"));
    EXPECT_TRUE(waitForPixel(parent, 200, 150, kRed));
    ASSERT_TRUE(key(parent, "r"));
    EXPECT_TRUE(waitForPixel(parent, 200, 150, kGreen));
    screenshot(parent, "editor-input-green");
    ASSERT_TRUE(key(parent, "ctrl+r"));
    EXPECT_TRUE(waitForPixel(parent, 200, 150, kBlue));
    // R and G are the fixture's commands, so the text has neither.
    ASSERT_TRUE(typeText(parent, "Hi, 42 Notes!"));
    ASSERT_EQ(host.wait(), 0) << host.err();

    const auto state = readState(host.path("state.txt"));
    EXPECT_EQ(state.at("colour"), "0");
    EXPECT_EQ(state.at("typed"), "Hi, 42 Notes!");
    EXPECT_EQ(state.at("triggers"), "2");
    EXPECT_EQ(state.at("thread_violations"), "0");
    EXPECT_GT(host.instance()["on_fd_calls"].asInt(), 0) << "input arrives through the fd";
}

TEST_F(EditorInput, ClicksAndDragsArriveAtTheirWindowCoordinates)
{
    HostRun host("mouse");
    ASSERT_TRUE(host.start(hostArgs(
        {"--gui", "floating", "--gui-seconds", "4", "--save-state", host.path("state.txt")})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId window = host.window();
    ASSERT_TRUE(waitForPixel(window, 100, 80, kBlue));
    ASSERT_TRUE(click(window, 100, 80));
    EXPECT_TRUE(waitForPixel(window, 100, 80, kWhite));
    EXPECT_EQ(capture(window).rgb(100, 90), kBlue) << "the square is 10 x 10 around the point";

    // A drag from (50, 200) through (150, 200) to (250, 200) leaves a trail along y = 200.
    ASSERT_TRUE(drag(window, {{50, 200}, {100, 200}, {150, 200}, {200, 200}, {250, 200}}));
    EXPECT_TRUE(waitForPixel(window, 175, 200, kWhite));
    const Image shot = screenshot(window, "editor-input-drag");
    EXPECT_EQ(shot.rgb(175, 200), kWhite);
    EXPECT_EQ(shot.rgb(175, 230), kBlue);
    EXPECT_EQ(shot.rgb(300, 200), kBlue) << "nothing beyond the release point";
    ASSERT_EQ(host.wait(), 0) << host.err();

    const auto state = readState(host.path("state.txt"));
    EXPECT_EQ(state.at("clicks"), "2");
    EXPECT_EQ(state.at("last_click"), "50,200");
    EXPECT_GE(std::stoi(state.at("drag_points")), 5);
}

TEST_F(EditorInput, AKeyPressIsHeardInTheRecordedAudioAfterItWasPressed)
{
    HostRun host("audio");
    ASSERT_TRUE(host.start(
        hostArgs({"--gui", "embedded", "--gui-seconds", "2.5", "--out", host.path("out.wav")})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    ASSERT_TRUE(waitForPixel(host.window(), 10, 10, kBlue));
    ASSERT_TRUE(focus(host.window()));
    const int64_t pressedNs = HostRun::steadyNowNs();
    ASSERT_TRUE(xdotool({"key", "r"}));
    ASSERT_EQ(host.wait(), 0) << host.err();

    const Json gui = host.summary()["gui"];
    const Wav wav = readWav(host.path("out.wav"));
    ASSERT_FALSE(wav.left.empty());
    const long long onset = firstSoundingFrame(wav);
    ASSERT_GE(onset, 0) << "the tone was recorded";
    // Where the audio thread's clock put the onset, against the moment the key was sent.
    const double onsetNs = double(gui["audio"]["start_steady_ns"].asInt()) + onset * 1e9 / wav.rate;
    const double blockNs = 512 * 1e9 / wav.rate;
    EXPECT_GT(onsetNs, double(pressedNs) - blockNs) << "nothing sounds before the key";
    EXPECT_LT(onsetNs, double(pressedNs) + 1e9);
    // The fixture's tone: 0.2 s of 440 Hz at 0.5.
    float peak = 0.0f;
    size_t crossings = 0;
    const size_t toneEnd = size_t(onset) + size_t(0.2 * wav.rate);
    for (size_t i = size_t(onset) + 1; i < toneEnd && i < wav.left.size(); ++i) {
        peak = std::max(peak, std::fabs(wav.left[i]));
        crossings += (wav.left[i - 1] < 0.0f) != (wav.left[i] < 0.0f);
    }
    EXPECT_NEAR(peak, 0.5f, 0.01f);
    EXPECT_NEAR(double(crossings) / 2.0 / 0.2, 440.0, 10.0);
    EXPECT_EQ(gui["audio"]["blocks"].asInt() * 512, (long long)wav.left.size());
}

TEST_F(EditorInput, EscapeAsksTheHostToHideAndTheAnswerDecidesWhoHidesTheWindow)
{
    struct Case
    {
        const char* name;
        const char* mode;
        const char* answer;
        int closed;        // closed() calls the host hears
        bool stillVisible; // an embedded editor the host will not hide stays
    };
    const Case cases[] = {
        {"floating_yes", "floating", "yes", 0, false},
        {"floating_no", "floating", "no", 1, false},
        {"embedded_yes", "embedded", "yes", 0, false},
        {"embedded_no", "embedded", "no", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRun host(c.name);
        ASSERT_TRUE(host.start(
            hostArgs({"--gui", c.mode, "--gui-hide-answer", c.answer, "--gui-seconds", "1.5"})));
        ASSERT_TRUE(host.waitReady()) << host.err();
        const WindowId window = host.window();
        const WindowId editor = std::string(c.mode) == "embedded" ? children(window).at(0) : window;
        ASSERT_TRUE(waitForPixel(window, 10, 10, kBlue));
        ASSERT_TRUE(key(window, "Escape"));
        if (c.stillVisible) {
            EXPECT_FALSE(waitFor([&] { return !geometry(editor).viewable; }, 0.5));
        } else {
            EXPECT_TRUE(waitFor([&] { return !geometry(editor).viewable; }, 5.0));
        }
        ASSERT_EQ(host.wait(), 0) << host.err();
        const Json in = host.instance();
        EXPECT_EQ(in["request_hide"].asInt(), 1);
        EXPECT_EQ(in["closed"]["count"].asInt(), c.closed);
        EXPECT_EQ(in["closed"]["destroyed"].asInt(), 0);
    }
}

TEST_F(EditorInput, ARequestedResizeResizesTheParentAndTheEditor)
{
    // The host answers by calling set_size from inside request_resize, or from its next pass.
    for (const char* calls : {"now", "later"}) {
        SCOPED_TRACE(calls);
        HostRun host(std::string("request_resize_") + calls);
        ASSERT_TRUE(host.start(
            hostArgs({"--gui", "embedded", "--gui-host-calls", calls, "--gui-seconds", "1.5"})));
        ASSERT_TRUE(host.waitReady()) << host.err();
        const WindowId parent = host.window();
        ASSERT_TRUE(key(parent, "g"));
        EXPECT_TRUE(waitFor([&] { return geometry(parent).width == 500; }, 5.0));
        EXPECT_EQ(geometry(parent).height, 350u);
        EXPECT_TRUE(waitFor([&] { return geometry(children(parent).at(0)).width == 500; }, 5.0));
        EXPECT_TRUE(waitForPixel(parent, 450, 320, kBlue));
        ASSERT_EQ(host.wait(), 0) << host.err();
        const Json in = host.instance();
        EXPECT_EQ(in["request_resize"]["count"].asInt(), 1);
        EXPECT_EQ(in["request_resize"]["last_width"].asInt(), 500);
        EXPECT_EQ(in["request_resize"]["last_height"].asInt(), 350);
    }
}

TEST_F(EditorInput, ClosingWindowsAsAWindowManagerDoes)
{
    // The floating editor's close button: the fixture hides and tells the host it closed.
    {
        HostRun host("close_floating");
        ASSERT_TRUE(host.start(hostArgs({"--gui", "floating", "--gui-seconds", "1.5"})));
        ASSERT_TRUE(host.waitReady()) << host.err();
        ASSERT_TRUE(sendClose(host.window()));
        EXPECT_TRUE(waitFor([&] { return !geometry(host.window()).viewable; }, 5.0));
        ASSERT_EQ(host.wait(), 0) << host.err();
        EXPECT_EQ(host.instance()["closed"]["count"].asInt(), 1);
        EXPECT_FALSE(host.summary()["gui"]["parent_closed"].asBool());
    }
    // The host's own window closed: the run ends at once, the editor closed properly.
    {
        HostRun host("close_parent");
        ASSERT_TRUE(host.start(hostArgs({"--gui", "embedded", "--gui-seconds", "60"})));
        ASSERT_TRUE(host.waitReady()) << host.err();
        ASSERT_TRUE(sendClose(host.window()));
        ASSERT_EQ(host.wait(20.0), 0) << host.err();
        const Json gui = host.summary()["gui"];
        EXPECT_TRUE(gui["parent_closed"].asBool());
        EXPECT_LT(gui["audio"]["seconds"].asNumber(), 30.0);
        EXPECT_TRUE(gui["instances"][0]["opens"][0]["hide"].asBool());
        EXPECT_EQ(gui["instances"][0]["opens"][0]["after_destroy"]["fds"].size(), 0u);
    }
}
