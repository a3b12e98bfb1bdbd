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

// --- Pool row (VeskSamplerPoolRow, its knobs and envelope editor) ------------------------------
namespace layout::poolrow {
struct Box
{
    int x, y, w, h;
    juce::Rectangle<int> rect() const { return {x, y, w, h}; }
};
constexpr Box kPlayStop{4, 4, 24, 18};
constexpr Box kSamples{30, 4, 54, 18};
constexpr Box kName{86, 4, 46, 18};
constexpr Box kLevel{136, 4, 38, 18};
constexpr Box kGrainCloud{178, 4, 26, 18};
constexpr Box kPitchTrack{204, 4, 26, 18};
constexpr Box kLoad{236, 4, 22, 18};
constexpr Box kClear{262, 4, 22, 18};
constexpr Box kPrevious{240, 116, 20, 16};
constexpr Box kNext{262, 116, 20, 16};
constexpr Box kWaveform{4, 24, 280, 122};
constexpr int kInfoStrip = 12;  // the waveform's bottom strip with the position text
constexpr int kFadeGrab = 13;   // a press this close to the waveform's top grabs a fade
constexpr int kFadeCursor = 14; // the resize cursor shows this close to the top
constexpr int kKnobWidth = 44;
constexpr int kKnobHeight = 61;
constexpr int kKnobColumns[3] = {289, 335, 381};
constexpr int kKnobRows[2] = {9, 80};
constexpr int kEnvelopeX = 430; // the envelope editor: (430, 4, 280, height - 28)
constexpr int kEnvelopeY = 4;
constexpr int kEnvelopeWidth = 280;
constexpr int kBottomInset = 22; // filter sliders and route: y = height - 22, 18 high
constexpr int kBottomHeight = 18;
constexpr int kHpfLabelX = 430, kHpfSliderX = 450, kLpfLabelX = 514, kLpfSliderX = 534;
constexpr int kFilterLabelWidth = 20, kFilterSliderWidth = 60;
constexpr int kRouteX = 640, kRouteWidth = 70;
constexpr int kMinRegionFrames = 480;
constexpr int kMaxWaveColumns = 2048;
} // namespace layout::poolrow

namespace poolrowcolours {
constexpr uint32_t kPlay = 0xff466a46;
constexpr uint32_t kStop = 0xff6a4646;
constexpr uint32_t kToggleOff = 0xff808080;
constexpr uint32_t kAccent = 0xffff8844; // toggles on, active filters, fades, envelopes
constexpr uint32_t kFilterLabel = 0xffc0c0c0;
constexpr uint32_t kStepButton = 0x30ffffff;
constexpr uint32_t kStepButtonOn = 0x60ffffff;
constexpr uint32_t kStepText = 0x80ffffff;
constexpr uint32_t kStepTextOn = 0xd0ffffff;
constexpr uint32_t kRouteButton = 0xff2a2a2d;
constexpr uint32_t kRouteText = 0xffa0a0a5;
constexpr uint32_t kDropHover = 0xff3a4a60;
constexpr uint32_t kDropOutline = 0xff5080b8;
constexpr uint32_t kWaveFill = 0x20a0c0e0;
constexpr uint32_t kWaveLine = 0xffa0c0e0;
constexpr uint32_t kFadeFill = 0x55ff8844;
constexpr uint32_t kFadeHandleIdle = 0x60ff8844;
constexpr uint32_t kInfoLine = 0x60ffffff;
constexpr uint32_t kInfoText = 0x80ffffff;
constexpr uint32_t kSoloedOut = 0x70000000;
constexpr uint32_t kMuted = 0xb0000000;
constexpr uint32_t kMuteText = 0xa0ff8080;
constexpr uint32_t kLevelIdle = 0xff808080;
constexpr uint32_t kLevelHot = 0xffff6060;
constexpr uint32_t kLevelWarm = 0xffffcc00;
constexpr uint32_t kLevelOk = 0xff60cc60;
} // namespace poolrowcolours

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
