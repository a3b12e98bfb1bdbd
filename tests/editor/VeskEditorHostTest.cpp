// The real Vesk.clap in vesk-host: the editor opens in both window modes at its design size and
// leaves nothing registered with the host after destroy. (The editor's own behaviour is tested by
// the editor's tests; this shows the harness drives the real plug-in.)
#include "EditorHarness.h"

#include <gtest/gtest.h>

using namespace vesk::editor_test;

TEST(VeskEditorHost, OpensEmbeddedAndFloatingAtTheDesignSizeWithOnlyReadFlags)
{
    VESK_REQUIRE_EDITOR();
    ASSERT_TRUE(xServer().ok()) << xServer().error();
    for (const char* mode : {"embedded", "floating"}) {
        SCOPED_TRACE(mode);
        HostRun host(std::string("vesk_") + mode);
        ASSERT_TRUE(host.start(
            {"--plugin", veskPath(), "--track", "Drums", "--gui", mode, "--gui-seconds", "2"}));
        ASSERT_TRUE(host.waitReady()) << host.err();
        const WindowId window = host.window();
        const Geometry g = geometry(window);
        EXPECT_EQ(g.width, 1200u);
        EXPECT_EQ(g.height, 800u);
        if (std::string(mode) == "floating") {
            EXPECT_EQ(windowName(window), "Halvoren Vesk - Drums");
        }
        waitFor([] { return false; }, 1.0); // let it paint
        screenshot(window, std::string("vesk-editor-host-") + mode);
        ASSERT_EQ(host.wait(), 0) << host.err();
        const Json in = host.instance();
        const Json open = in["opens"][0];
        EXPECT_TRUE(open["create"].asBool());
        EXPECT_TRUE(open["show"].asBool());
        EXPECT_EQ(open["get_size"]["width"].asInt(), 1200);
        for (const Json& r : in["registrations"].elements()) {
            EXPECT_TRUE(r["ok"].asBool());
            if (r["op"].asString() == "register_fd") {
                EXPECT_EQ(r["flags"].asInt(), 1) << "read flag only";
            }
        }
        EXPECT_EQ(open["after_destroy"]["fds"].size(), 0u);
        EXPECT_EQ(open["after_destroy"]["timers"].size(), 0u);
        EXPECT_EQ(host.summary()["gui"]["x_errors"]["host"].asInt(), 0);
    }
}
