// The editor's numbers in one place: sizes, rectangles and colours, named so that each panel's
// rectangle is found by its name. All sizes are logical pixels of the editor's coordinate space
// (before the display scale).
#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>
#include <cstdint>

namespace vesk::gui {

namespace layout {
constexpr int kDesignWidth = 1200; // the editor's design size, also its smallest size
constexpr int kDesignHeight = 800;
constexpr int kBannerHeight = 24;
constexpr int kMargin = 4;
constexpr int kTopBarHeight = 40;
constexpr int kBandTop = 48;      // below the top bar
constexpr int kBandReserve = 188; // top bar band (48) plus master strip band (140)
constexpr int kMasterInset = 136; // master strip top, from the bottom edge
constexpr int kMasterHeight = 132;
constexpr int kNavWidth = 60;
constexpr int kViewportX = 68;
constexpr int kScrollBarThickness = 6;
constexpr int kPoolRowWidth = 714;
constexpr int kPoolRowHeight = 150;
constexpr int kPoolRowPitch = 154; // row height plus a 4 px gap
constexpr int kLaneWidth = 198;
constexpr int kLane0Inset = 402; // lane panel left edges, from the right edge
constexpr int kLane1Inset = 202;
constexpr int kTimerHz = 30; // snapshot poll
// The poll runs on the display's refresh at least this far apart (every other refresh at 60 Hz,
// every third at 100 Hz), and from a slow stand-in timer while no refresh arrives.
constexpr double kPollSpacingMs = 1000.0 / kTimerHz - 5.0;
constexpr int kPollStandInMs = 100;
constexpr int kScaleWatchMs = 500;
} // namespace layout

namespace colours {
constexpr uint32_t kRootBackground = 0xff1e1e1e;
constexpr uint32_t kWindowBackground = 0xff2d2d30;
constexpr uint32_t kLabelText = 0xffe4e4e4;
constexpr uint32_t kBanner = 0xffb23a1e;
constexpr uint32_t kBannerText = 0xffffffff;
constexpr uint32_t kSelectFlash = 0xff5080b8; // a row scrolled to
constexpr uint32_t kSoloFlash = 0xff4caf50;   // a row just soloed
constexpr uint32_t kPlaceholder = 0xff252528; // panels not built yet
constexpr uint32_t kPlaceholderEdge = 0xff3a3a3e;
} // namespace colours

// The editor's panels at a given size.
struct EditorLayout
{
    juce::Rectangle<int> banner; // empty when the banner is hidden
    juce::Rectangle<int> topBar;
    juce::Rectangle<int> master;
    juce::Rectangle<int> nav;
    juce::Rectangle<int> viewport;
    std::array<juce::Rectangle<int>, 2> lanes;
};

// Every rectangle for an editor of width x height; no child gets a negative size.
EditorLayout computeEditorLayout(int width, int height, bool bannerVisible);

// The pool rows inside the scrolled container: visible pools (bit i = pool i) stacked from the
// top in pool order. Hidden pools get an empty rectangle.
struct PoolRowsLayout
{
    std::array<juce::Rectangle<int>, 8> rows;
    int containerWidth = 0;
    int containerHeight = 0;
};
PoolRowsLayout computePoolRowsLayout(uint8_t visibleMask, int viewportWidth);

// ---- Export Set panel (VeskExportSetPanel) ----
namespace layout {
constexpr int kExportAreaX = 213; // the top bar's export buttons, between its separators
constexpr int kExportAreaRight = 355;
constexpr int kExportSetWidth = 440;
constexpr int kExportSetHeight = 384;
constexpr int kExportSetTitleHeight = 28;
constexpr int kExportSetRowTop = 36;
constexpr int kExportSetRowPitch = 28;
constexpr int kExportSetRowHeight = 24;
constexpr int kExportSetLabelX = 12;
constexpr int kExportSetFieldX = 124;
constexpr int kExportSetFieldRight = 428;
constexpr int kExportSetButtonWidth = 90;
} // namespace layout
namespace colours {
constexpr uint32_t kExportSetBackground = 0xff333338;
constexpr uint32_t kExportSetEdge = 0xff5a5a60;
constexpr uint32_t kExportSetError = 0xffe0704f;
constexpr uint32_t kExportSetNote = 0xffa0a0a8;
constexpr uint32_t kExportSetBar = 0xff5080b8;
} // namespace colours

} // namespace vesk::gui
