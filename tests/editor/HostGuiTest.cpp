// vesk-host as the host of an editor, seen through the test plug-in's plain Xlib editor: the
// lifecycle in both window modes, what the host reports of it, input reaching the editor, sizes,
// scale, hiding and closing, pumping without one of the host extensions, many opens with audio
// running, two instances at once, and loading and unloading the plug-in file.
#include "EditorHarness.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace vesk::editor_test;

namespace {

constexpr const char* kFixtureId = "com.halvoren.vesk.gui-fixture";
constexpr uint32_t kBlue = 0x2060c0, kRed = 0xc03020, kWhite = 0xffffff;
constexpr uint32_t kWidth = 400, kHeight = 300; // the fixture's editor at scale 1

std::vector<std::string> fixtureArgs(std::vector<std::string> more)
{
    std::vector<std::string> args = {"--plugin", fixturePath(), "--id", kFixtureId};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The fixture's state: "key=value" lines.
std::map<std::string, std::string> fixtureState(const std::string& path)
{
    std::map<std::string, std::string> values;
    std::istringstream in(readText(path));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

bool logHas(const Json& instance, const std::string& text)
{
    for (const Json& line : instance["log"].elements())
        if (line.asString().find(text) != std::string::npos)
            return true;
    return false;
}

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
    ASSERT_TRUE(host.start(fixtureArgs({"--gui", "embedded", "--gui-seconds", "1.5"})));
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
