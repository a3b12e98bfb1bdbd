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
constexpr int kScaleWatchMs = 500;

// --- Top bar -----------------------------------------------------------------------------------
namespace topbar {
constexpr int kControlTop = 4; // every control is 4 px from the top and H - 8 high
constexpr int kRandomX = 12, kReplayX = 46, kStopX = 80, kTransportWidth = 28;
constexpr int kVoiceModeX = 128, kVoiceModeWidth = 75;
constexpr int kExportStemsX = 223, kExportStemsWidth = 64;
constexpr int kExportMixX = 293, kExportMixWidth = 52;
constexpr int kRangeTargetX = 365, kRangeTargetWidth = 75;
constexpr int kOnX = 446, kOffX = 478, kOnOffWidth = 32;
constexpr int kResetX = 516, kDiceX = 550, kToolWidth = 28;
constexpr int kPresetsInset = 38, kPresetsWidth = 28;       // from the right edge
constexpr int kAutoSplitOffset = 105, kAutoSplitWidth = 85; // left of the presets button
constexpr int kLastSeparatorOffset = 10;                    // left of the presets button
constexpr int kExportStatusX = 588;                         // right of the dice
constexpr int kSeparatorInset = 8;                          // from top and bottom
} // namespace topbar

// --- Pool navigation ---------------------------------------------------------------------------
namespace poolnav {
constexpr int kCardInset = 4, kCardHeight = 60, kCardPitch = 64;
constexpr int kAddButtonHeight = 30, kAddButtonInset = 34; // from the bottom
constexpr int kSoloDotX = 6, kSoloDotY = 6, kMuteDotX = 6, kMuteDotY = 20, kDotSize = 10;
} // namespace poolnav

// --- FX cards, card container and lane panels --------------------------------------------------
namespace fxcard {
constexpr int kHeaderHeight = 24;
constexpr int kKnobWidth = 44, kKnobHeight = 61;
constexpr int kKnobSpacing = 52;
constexpr int kBottomPad = 30; // preferred height = rows x 61 + 30
constexpr int kDragThreshold = 8;
constexpr int kMaxCards = 40;
constexpr int kCardGap = 4, kCardX = 6, kAddButtonHeight = 22;
} // namespace fxcard
namespace fxlane {
constexpr int kHeaderHeight = 28;
constexpr int kViewportTop = 32;
} // namespace fxlane

// --- Master strip ------------------------------------------------------------------------------
namespace master {
constexpr int kCardTop = 28;
constexpr int kCardBottomPad = 8; // card height = H - 36
constexpr int kEqX = 8, kEnhanceX = 206, kReverbX = 404, kLimiterX = 742;
constexpr int kOutputInset = 98, kOutputWidth = 90;
} // namespace master

// --- FX-chain preset popup ---------------------------------------------------------------------
namespace presets {
constexpr int kWidth = 300;
constexpr int kRowsTop = 88, kRowHeight = 30, kRowPitch = 32;
constexpr int kMinHeight = 170, kMaxHeight = 700;
} // namespace presets
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

} // namespace vesk::gui
