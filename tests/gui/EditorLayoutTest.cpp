// The editor's rectangles, computed without drawing.
#include "gui/VeskGuiLayout.h"

#include <gtest/gtest.h>

namespace {

using juce::Rectangle;
using vesk::gui::computeEditorLayout;
using vesk::gui::computePoolRowsLayout;

TEST(EditorLayout, DesignSizeWithAndWithoutBanner)
{
    struct Case
    {
        bool banner;
        Rectangle<int> banner_, topBar, nav, viewport, lane0, lane1, master;
    };
    const Case cases[] = {
        // The band below the top bar starts at 48 (72 with the banner) and is H - t - 188 high.
        {false,
         {},
         {4, 4, 1192, 40},
         {4, 48, 60, 612},
         {68, 48, 720, 612},
         {798, 48, 198, 612},
         {998, 48, 198, 612},
         {4, 664, 1192, 132}},
        {true,
         {0, 0, 1200, 24},
         {4, 28, 1192, 40},
         {4, 72, 60, 588},
         {68, 72, 720, 588},
         {798, 72, 198, 588},
         {998, 72, 198, 588},
         {4, 664, 1192, 132}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.banner ? "banner" : "no banner");
        const auto l = computeEditorLayout(1200, 800, c.banner);
        EXPECT_EQ(l.banner, c.banner_);
        EXPECT_EQ(l.topBar, c.topBar);
        EXPECT_EQ(l.nav, c.nav);
        EXPECT_EQ(l.viewport, c.viewport);
        EXPECT_EQ(l.lanes[0], c.lane0);
        EXPECT_EQ(l.lanes[1], c.lane1);
        EXPECT_EQ(l.master, c.master);
    }
}

TEST(EditorLayout, FollowsALargerWindow)
{
    const auto l = computeEditorLayout(1500, 900, false);
    EXPECT_EQ(l.topBar, Rectangle<int>(4, 4, 1492, 40));
    EXPECT_EQ(l.viewport, Rectangle<int>(68, 48, 720, 712));
    EXPECT_EQ(l.lanes[0], Rectangle<int>(1098, 48, 198, 712));
    EXPECT_EQ(l.lanes[1], Rectangle<int>(1298, 48, 198, 712));
    EXPECT_EQ(l.master, Rectangle<int>(4, 764, 1492, 132));
}

TEST(EditorLayout, NoChildGetsANegativeSize)
{
    for (const auto& [w, h] : {std::pair{640, 480}, {100, 100}, {0, 0}, {-5, -5}}) {
        for (bool banner : {false, true}) {
            const auto l = computeEditorLayout(w, h, banner);
            for (const auto& r :
                 {l.banner, l.topBar, l.master, l.nav, l.viewport, l.lanes[0], l.lanes[1]}) {
                EXPECT_GE(r.getWidth(), 0) << w << "x" << h;
                EXPECT_GE(r.getHeight(), 0) << w << "x" << h;
            }
        }
    }
}

TEST(EditorLayout, VisiblePoolsStackInPoolOrder)
{
    struct Case
    {
        uint8_t mask;
        int height;
        int rowsShown;
    };
    // n rows at a pitch of 154, the last without its gap: 154 n - 4.
    for (const Case& c :
         {Case{0x00, 0, 0}, Case{0x0F, 612, 4}, Case{0xFF, 1228, 8}, Case{0b1011, 458, 3}}) {
        const auto l = computePoolRowsLayout(c.mask, 720);
        EXPECT_EQ(l.containerWidth, 714);
        EXPECT_EQ(l.containerHeight, c.height) << int(c.mask);
        int y = 0, shown = 0;
        for (int i = 0; i < 8; ++i) {
            if ((c.mask >> i) & 1) {
                EXPECT_EQ(l.rows[size_t(i)], Rectangle<int>(0, y, 714, 150)) << "pool " << i;
                y += 154;
                ++shown;
            } else {
                EXPECT_TRUE(l.rows[size_t(i)].isEmpty());
            }
        }
        EXPECT_EQ(shown, c.rowsShown);
    }
}

} // namespace
