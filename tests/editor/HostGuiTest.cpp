// vesk-host as the host of an editor, seen through the test plug-in's plain Xlib editor: the
// lifecycle in both window modes, what the host reports of it, input reaching the editor, sizes,
// scale, hiding and closing, pumping without one of the host extensions, many opens with audio
// running, two instances at once, and loading and unloading the plug-in file.
#include "EditorHarness.h"
#include "fixture/GuiFixture.h"

#include <gtest/gtest.h>

using namespace vesk::editor_test;
using namespace vesk::editor_test::fixture;

namespace {

// The one child window the editor put into our parent window.
WindowId editorChild(WindowId parent)
{
    const auto kids = children(parent);
    return kids.size() == 1 ? kids[0] : 0;
}

class HostGui : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(xServer().ok()) << xServer().error(); }
};

} // namespace

TEST_F(HostGui, EmbeddedEditorIsTheChildOfTheHostWindowAndEverythingIsUnregisteredAfterDestroy)
{
    HostRun host("embedded");
    ASSERT_TRUE(host.start(hostArgs({"--gui", "embedded", "--gui-seconds", "1.5"})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId parent = host.window();
    ASSERT_NE(parent, 0u);
    const Geometry pg = geometry(parent);
    EXPECT_EQ(pg.width, kWidth);
    EXPECT_EQ(pg.height, kHeight);
    const WindowId child = editorChild(parent);
    ASSERT_NE(child, 0u);
    const Geometry cg = geometry(child);
    EXPECT_TRUE(cg.viewable);
    EXPECT_EQ(cg.x, 0);
    EXPECT_EQ(cg.y, 0);
    EXPECT_EQ(cg.width, kWidth);
    EXPECT_EQ(cg.height, kHeight);
    EXPECT_TRUE(waitForPixel(parent, 200, 150, kBlue));
    const Image shot = screenshot(parent, "host-gui-embedded");
    ASSERT_EQ(shot.width, kWidth);
    EXPECT_EQ(shot.rgb(10, 10), kBlue);
    EXPECT_EQ(shot.rgb(kWidth - 1, kHeight - 1), kBlue);

    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json gui = host.summary()["gui"];
    EXPECT_EQ(gui["mode"].asString(), "embedded");
    EXPECT_EQ(gui["x_errors"]["host"].asInt(), 0);
    EXPECT_EQ(gui["x_errors"]["other"].asInt(), 0);
    EXPECT_EQ(gui["x_error_handler_replaced"].asInt(), 0);
    EXPECT_EQ(gui["calls_off_main_thread"].asInt(), 0);
    EXPECT_GT(gui["main_loop"]["wakeups_per_second"].asNumber(), 0.0);
    const Json in = gui["instances"][0];
    EXPECT_TRUE(in["api_supported"]["embedded"].asBool());
    EXPECT_TRUE(in["preferred_api"]["ok"].asBool());
    EXPECT_EQ(in["preferred_api"]["api"].asString(), "x11");
    ASSERT_EQ(in["opens"].size(), 1u);
    const Json open = in["opens"][0];
    EXPECT_TRUE(open["create"].asBool());
    EXPECT_EQ(open["get_size"]["width"].asInt(), kWidth);
    EXPECT_EQ(open["get_size"]["height"].asInt(), kHeight);
    EXPECT_TRUE(open["can_resize"].asBool());
    EXPECT_TRUE(open["set_parent"].asBool());
    EXPECT_TRUE(open["set_transient"].isNull());
    EXPECT_TRUE(open["show"].asBool());
    EXPECT_TRUE(open["hide"].asBool());
    EXPECT_EQ(open["window"].asInt(), (long long)parent);
    EXPECT_GE(open["ready_ms"].asNumber(-1.0), 0.0);
    EXPECT_EQ(open["after_destroy"]["fds"].size(), 0u);
    EXPECT_EQ(open["after_destroy"]["timers"].size(), 0u);

    // The fixture registers its X connection (read flag only) and one 16 ms timer.
    const Json regs = in["registrations"];
    ASSERT_EQ(regs.size(), 4u);
    EXPECT_EQ(regs[0]["op"].asString(), "register_fd");
    EXPECT_EQ(regs[0]["flags"].asInt(), 1);
    EXPECT_TRUE(regs[0]["ok"].asBool());
    EXPECT_EQ(regs[1]["op"].asString(), "register_timer");
    EXPECT_EQ(regs[1]["period_ms"].asInt(), 16);
    EXPECT_TRUE(regs[1]["ok"].asBool());
    EXPECT_EQ(regs[2]["op"].asString(), "unregister_timer");
    EXPECT_EQ(regs[2]["id"].asInt(), regs[1]["id"].asInt());
    EXPECT_TRUE(regs[2]["ok"].asBool());
    EXPECT_EQ(regs[3]["op"].asString(), "unregister_fd");
    EXPECT_TRUE(regs[3]["ok"].asBool());
    EXPECT_GT(in["on_timer_calls"].asInt(), 10);
    EXPECT_TRUE(logHas(in, "thread-check violations: 0")) << host.out();
}

TEST_F(HostGui, FloatingEditorIsATopLevelWindowTransientToTheHostsWindowWithTheSuggestedTitle)
{
    HostRun host("floating");
    ASSERT_TRUE(host.start(hostArgs(
        {"--gui", "floating", "--gui-transient", "--gui-title", "Drums", "--gui-seconds", "1.5"})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId window = host.window();
    ASSERT_NE(window, 0u);
    const Geometry g = geometry(window);
    EXPECT_TRUE(g.viewable);
    EXPECT_EQ(g.width, kWidth);
    EXPECT_EQ(g.height, kHeight);
    EXPECT_EQ(windowName(window), "Halvoren Vesk Fixture - Drums");
    const WindowId owner = transientFor(window);
    EXPECT_NE(owner, 0u);
    EXPECT_NE(owner, window);
    EXPECT_TRUE(waitForPixel(window, 200, 150, kBlue));
    EXPECT_EQ(screenshot(window, "host-gui-floating").rgb(5, 5), kBlue);

    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json open = host.instance()["opens"][0];
    EXPECT_EQ(open["mode"].asString(), "floating");
    EXPECT_TRUE(open["set_transient"].asBool());
    EXPECT_TRUE(open["set_parent"].isNull());
    EXPECT_EQ(open["window"].asInt(), (long long)window);
    EXPECT_EQ(open["after_destroy"]["fds"].size(), 0u);
    EXPECT_EQ(open["after_destroy"]["timers"].size(), 0u);
}

TEST_F(HostGui, ScaleIsOfferedBeforeTheSizeIsAsked)
{
    struct Case
    {
        const char* mode;
        bool accepted;
        uint32_t width, height;
    };
    // The fixture takes a scale only when embedded, as CLAP has floating windows scale
    // themselves.
    for (const Case& c : {Case{"embedded", true, 800, 600}, Case{"floating", false, 400, 300}}) {
        SCOPED_TRACE(c.mode);
        HostRun host(std::string("scale_") + c.mode);
        ASSERT_TRUE(
            host.start(hostArgs({"--gui", c.mode, "--gui-scale", "2", "--gui-seconds", "0.5"})));
        ASSERT_TRUE(host.waitReady()) << host.err();
        const Geometry g = geometry(host.window());
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
        ASSERT_EQ(host.wait(), 0) << host.err();
        const Json open = host.instance()["opens"][0];
        EXPECT_EQ(open["set_scale"].asBool(), c.accepted);
        EXPECT_EQ(open["get_size"]["width"].asInt(), c.width);
        EXPECT_EQ(open["get_size"]["height"].asInt(), c.height);
    }
}

TEST_F(HostGui, SetSizeStepsAdjustResizeTheParentAndSetTheEditorsSize)
{
    HostRun host("set_size");
    ASSERT_TRUE(host.start(hostArgs({"--gui", "embedded", "--gui-set-size", "600x400@0.3",
                                     "--gui-set-size", "100x100@0.8", "--gui-seconds", "1.6"})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId parent = host.window();
    EXPECT_TRUE(waitFor([&] { return geometry(parent).width == 600; }, 5.0));
    EXPECT_TRUE(waitFor([&] { return geometry(editorChild(parent)).width == 600; }, 5.0));
    EXPECT_EQ(geometry(editorChild(parent)).height, 400u);
    // Below the fixture's smallest size: adjusted up to 200 x 150.
    EXPECT_TRUE(waitFor([&] { return geometry(parent).width == 200; }, 5.0));
    EXPECT_TRUE(waitFor([&] { return geometry(editorChild(parent)).height == 150; }, 5.0));
    EXPECT_TRUE(waitForPixel(parent, 199, 149, kBlue));
    screenshot(parent, "host-gui-smallest");

    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json steps = host.instance()["opens"][0]["set_sizes"];
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0]["adjust_size"]["width"].asInt(), 600);
    EXPECT_EQ(steps[0]["adjust_size"]["height"].asInt(), 400);
    EXPECT_TRUE(steps[0]["set_size"].asBool());
    EXPECT_TRUE(steps[1]["adjust_size"]["ok"].asBool());
    EXPECT_EQ(steps[1]["adjust_size"]["width"].asInt(), 200);
    EXPECT_EQ(steps[1]["adjust_size"]["height"].asInt(), 150);
    EXPECT_TRUE(steps[1]["set_size"].asBool());
    EXPECT_EQ(host.instance()["opens"][0]["last_size"]["width"].asInt(), 200);
}

TEST_F(HostGui, AParentResizedFromOutsideIsOfferedToTheEditor)
{
    HostRun host("outside_resize");
    ASSERT_TRUE(host.start(hostArgs({"--gui", "embedded", "--gui-seconds", "1.5"})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId parent = host.window();
    ASSERT_TRUE(xdotool({"windowsize", std::to_string(parent), "700", "500"}));
    EXPECT_TRUE(waitFor([&] { return geometry(editorChild(parent)).width == 700; }, 5.0));
    EXPECT_EQ(geometry(editorChild(parent)).height, 500u);
    EXPECT_TRUE(waitForPixel(parent, 650, 450, kBlue));
    ASSERT_EQ(host.wait(), 0) << host.err();
}

TEST_F(HostGui, AnEditorTheHostCannotPumpIsNotOpened)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
    };
    // Without the timer support the fixture declines the window API (as the real editor must);
    // the declining plug-in declines it whatever the host offers.
    const Case cases[] = {
        {"no_timer", hostArgs({"--gui", "embedded", "--gui-no-timer", "--gui-seconds", "0.3"})},
        {"declining",
         {"--plugin", fixturePath(), "--id", kDecliningId, "--gui", "floating", "--gui-seconds",
          "0.3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRun host(c.name);
        ASSERT_TRUE(host.start(c.args));
        ASSERT_EQ(host.wait(), 0) << host.err();
        EXPECT_TRUE(host.windows().empty());
        const Json in = host.instance();
        ASSERT_EQ(in["opens"].size(), 1u);
        EXPECT_FALSE(in["opens"][0]["api_supported"].asBool());
        EXPECT_TRUE(in["opens"][0]["create"].isNull()) << "create is not called";
        EXPECT_EQ(in["registrations"].size(), 0u);
    }
}

TEST_F(HostGui, WithoutFdSupportTheTimerAlonePumpsTheEditor)
{
    HostRun host("no_fd");
    ASSERT_TRUE(host.start(hostArgs({"--gui", "embedded", "--gui-no-fd", "--gui-seconds", "1.5"})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const WindowId parent = host.window();
    ASSERT_TRUE(waitForPixel(parent, 200, 150, kBlue));
    ASSERT_TRUE(key(parent, "r"));
    EXPECT_TRUE(waitForPixel(parent, 200, 150, kRed));
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json in = host.instance();
    EXPECT_FALSE(host.summary()["gui"]["offered"]["posix_fd_support"].asBool());
    ASSERT_EQ(in["registrations"].size(), 2u);
    EXPECT_EQ(in["registrations"][0]["op"].asString(), "register_timer");
    EXPECT_EQ(in["on_fd_calls"].asInt(), 0);
}

TEST_F(HostGui, ManyOpensAlternatingModesInTwoInstancesWithAudioRunning)
{
    HostRun host("cycles");
    // A note every 0.25 s keeps both instances sounding while editors come and go.
    std::vector<std::string> args =
        hostArgs({"--gui", "both", "--gui-cycles", "6", "--gui-cycle-seconds", "0.3", "--instances",
                  "2", "--out", host.path("out.wav")});
    for (int i = 0; i < 8; ++i)
        args.insert(args.end(), {"--note", std::to_string(i * 12000) + ":60"});
    ASSERT_TRUE(host.start(args));
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json gui = host.summary()["gui"];
    EXPECT_EQ(gui["cycles"].asInt(), 6);
    EXPECT_EQ(gui["calls_off_main_thread"].asInt(), 0);
    EXPECT_EQ(gui["x_errors"]["host"].asInt(), 0);
    EXPECT_EQ(gui["x_errors"]["other"].asInt(), 0);
    ASSERT_EQ(gui["instances"].size(), 2u);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Json in = gui["instances"][i];
        ASSERT_EQ(in["opens"].size(), 6u);
        for (int c = 0; c < 6; ++c) {
            const Json open = in["opens"][c];
            EXPECT_EQ(open["mode"].asString(), c % 2 == 0 ? "embedded" : "floating");
            EXPECT_TRUE(open["show"].asBool());
            EXPECT_GE(open["ready_ms"].asNumber(-1.0), 0.0) << "cycle " << c;
            EXPECT_EQ(open["after_destroy"]["fds"].size(), 0u);
            EXPECT_EQ(open["after_destroy"]["timers"].size(), 0u);
        }
        // Two different windows at once, one per instance.
        EXPECT_NE(in["opens"][0]["window"].asInt(), 0);
        EXPECT_TRUE(logHas(in, "thread-check violations: 0"));
        EXPECT_EQ(in["fds"].size(), 0u);
    }
    EXPECT_NE(gui["instances"][0]["opens"][1]["window"].asInt(),
              gui["instances"][1]["opens"][1]["window"].asInt());
    EXPECT_EQ(gui["instances"][1]["after_instance_destroy"]["fds"].size(), 0u);
    EXPECT_GT(gui["instances"][1]["output"]["left"]["peak"].asNumber(), 0.4);
    const Wav wav = readWav(host.path("out.wav"));
    ASSERT_GT(wav.left.size(), 48000u);
    EXPECT_LE(firstSoundingFrame(wav), 1) << "the first note plays at frame 0 (sin 0 = 0)";
}

TEST_F(HostGui, TwoInstancesShowTheirEditorsAtOnce)
{
    HostRun host("two_instances");
    ASSERT_TRUE(
        host.start(hostArgs({"--gui", "embedded", "--instances", "2", "--gui-seconds", "2"})));
    ASSERT_TRUE(host.waitReady()) << host.err();
    const auto windows = host.windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_NE(windows[0], windows[1]);
    // The second window lies 64 pixels further down and right, over the first.
    ASSERT_TRUE(key(windows[1], "r"));
    EXPECT_TRUE(waitForPixel(windows[1], 200, 150, kRed));
    EXPECT_EQ(capture(windows[0]).rgb(10, 10), kBlue) << "only the second editor got the key";
    screenshot(windows[1], "host-gui-second-instance");
    ASSERT_EQ(host.wait(), 0) << host.err();
}

TEST_F(HostGui, ReloadCyclesShowThePluginsThreadsGoneAfterDeinitAndTheFileUnloaded)
{
    HostRun host("reload");
    ASSERT_TRUE(host.start(
        hostArgs({"--gui", "embedded", "--reload-cycles", "3", "--gui-seconds", "0.5"})));
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json gui = host.summary()["gui"];
    const Json cycles = gui["reload_cycles"];
    ASSERT_EQ(cycles.size(), 3u);
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        const Json r = cycles[c];
        EXPECT_TRUE(r["editor_shown"].asBool());
        EXPECT_TRUE(r["editor_ready"].asBool());
        // The fixture's helper thread lives from the first editor to deinit.
        EXPECT_EQ(r["threads_open"].asInt(), r["threads_before"].asInt() + 1);
        EXPECT_EQ(r["threads_after_destroy"].asInt(), r["threads_before"].asInt() + 1);
        EXPECT_EQ(r["threads_after_deinit"].asInt(), r["threads_before"].asInt());
        EXPECT_EQ(r["threads_after_unload"].asInt(), r["threads_before"].asInt());
        EXPECT_TRUE(r["unloaded"].asBool());
        EXPECT_EQ(r["fds_after_destroy"].size(), 0u);
        EXPECT_EQ(r["timers_after_destroy"].size(), 0u);
    }
    // The load after the cycles works: its editor opened.
    EXPECT_TRUE(gui["instances"][0]["opens"][0]["show"].asBool());
    EXPECT_GE(gui["instances"][0]["opens"][0]["ready_ms"].asNumber(-1.0), 0.0);
}

TEST_F(HostGui, TeardownWithTheParentDestroyedFirstLeavesTheHostAlive)
{
    HostRun host("parent_first");
    ASSERT_TRUE(host.start(
        hostArgs({"--gui", "embedded", "--gui-destroy-parent-first", "--gui-cycles", "3"})));
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json gui = host.summary()["gui"];
    EXPECT_EQ(gui["cycles"].asInt(), 3);
    EXPECT_EQ(gui["x_errors"]["host"].asInt(), 0);
    // The fixture swallows its own teardown errors with a handler it puts back afterwards.
    EXPECT_EQ(gui["x_errors"]["other"].asInt(), 0);
    EXPECT_EQ(gui["x_error_handler_replaced"].asInt(), 0);
}

TEST_F(HostGui, TheOfflineRunIsUnchangedWithoutGui)
{
    HostRun host("offline");
    ASSERT_TRUE(host.start(hostArgs({"--seconds", "0.5", "--note", "100:60"})));
    ASSERT_EQ(host.wait(), 0) << host.err();
    const Json s = host.summary();
    EXPECT_EQ(s["frames"].asInt(), 24000);
    EXPECT_FALSE(s.has("gui"));
    EXPECT_NEAR(s["output"]["left"]["peak"].asNumber(), 0.5, 0.01);
}
