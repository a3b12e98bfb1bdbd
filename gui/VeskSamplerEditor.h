// The editor's one top-level component: owns every panel, lays them out, pulls the engine's
// published snapshot thirty times a second and hands each panel its slice, and turns the panels'
// callbacks into messages on the instance's VeskBackend. It holds no engine state beyond its copy
// of the latest snapshot and a little view state; everything the user changes goes to the engine
// as a message and comes back through the snapshot.
#pragma once

#include "VeskBulkEdits.h"
#include "VeskExportSetPanel.h"
#include "VeskHealthBanner.h"
#include "VeskKnobAutomation.h"
#include "VeskSamplerFXLanePanel.h"
#include "VeskSamplerMasterFX.h"
#include "VeskSamplerPoolNav.h"
#include "VeskSamplerPoolRow.h"
#include "VeskSamplerTopBar.h"

#include "plugin/CommandQueues.h"
#include "plugin/VeskState.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <memory>

class VeskSamplerEditor : public juce::Component,
                          public juce::DragAndDropContainer,
                          private juce::Timer
{
public:
    explicit VeskSamplerEditor(VeskBackend& backend);
    ~VeskSamplerEditor() override;

    // [main thread] Triggers and global commands.
    void triggerRandom();
    void triggerReplay();
    void stop();
    void togglePlayback();
    // Opens "Load Samples to Pool"; the chosen files load into the pool in the chooser's order.
    void loadFileToPool(int pool);
    void applyQuickEnable(int group, bool enabled);
    void applyReset(int group);
    void applyRandomDice();
    // With an explicit generator, for tests.
    void applyRandomDice(juce::Random& random);

    void scrollToPool(int pool);
    // Scrolls to the pool once the snapshot shows it (a pool just added through "+").
    void selectPoolWhenVisible(int pool);
    void updatePoolLayout();
    void updateHealthBanner();

    // "Export Set…": shows the variation set panel over the editor, below `anchor` (the top
    // bar's export area). The panel stays the editor's until the editor goes; "Close" hides it.
    void showExportSet(juce::Component& anchor);
    VeskExportSetPanel* exportSetPanel() { return exportSetPanel_.get(); }

    void paint(juce::Graphics&) override;
    void resized() override;

    // The snapshot as of the last tick (tests and the panels read it).
    const vesk::VeskState& snapshot() const { return *snapshot_; }
    uint64_t lastSeed() const { return triggerSeed_; }
    // Runs one tick now (tests, benchmarks).
    void tick()
    {
        pollNow_ = true;
        timerCallback();
    }

    VeskHealthBanner& banner() { return banner_; }
    VeskSamplerTopBar& topBar() { return topBar_; }
    VeskSamplerPoolNav& poolNav() { return poolNav_; }
    juce::Viewport& poolViewport() { return poolViewport_; }
    VeskSamplerPoolRow& poolRow(int pool) { return *poolRows_[size_t(pool)]; }
    VeskSamplerMasterFX& masterPanel() { return masterPanel_; }
    VeskSamplerFXLanePanel& lanePanel(int lane) { return *lanePanels_[size_t(lane)]; }

private:
    // The poll: one snapshot copy handed to every panel.
    void timerCallback() override;
    // The display's refresh runs the poll about kTimerHz times a second; the timer only stands
    // in while no refresh arrives (a window that is not on a screen).
    void onVBlank();
    void sendBulkEdits(const std::vector<vesk::gui::BulkEdit>& edits);

    // Wiring of the panels' callbacks (VeskSamplerEditorCallbacks.cpp).
    void setupTopBarCallbacks();
    void setupPoolNavCallbacks();
    void setupPoolRowCallbacks(VeskSamplerPoolRow& row);
    void forgetPendingEdits();
    void setupLanePanelCallbacks(VeskSamplerFXLanePanel& panel);
    void setupMasterFXCallbacks();

    VeskBackend& backend_;
    // About a megabyte: kept on the heap, never on the host's stack.
    std::unique_ptr<vesk::VeskState> snapshot_;
    uint64_t triggerSeed_ = 0;
    VeskHealthBanner banner_;
    VeskSamplerTopBar topBar_;
    VeskSamplerPoolNav poolNav_;
    juce::Viewport poolViewport_;
    juce::Component poolContainer_;
    std::array<std::unique_ptr<VeskSamplerPoolRow>, vesk::kNumPools> poolRows_;
    VeskSamplerMasterFX masterPanel_;
    std::array<std::unique_ptr<VeskSamplerFXLanePanel>, vesk::kNumLanes> lanePanels_;
    uint8_t visibleMask_ = 0x0F;
    int pendingSelection_ = -1;
    uint8_t previousSoloMask_ = 0;
    uint32_t stateLoadsSeen_ = 0;
    std::unique_ptr<juce::FileChooser> fileChooser_;
    vesk::gui::KnobAutomation automation_;
    double lastPollMs_ = 0.0;
    bool pollNow_ = false;
    juce::TooltipWindow tooltips_{this, 700};
    juce::VBlankAttachment vblank_{this, [this] { onVBlank(); }};
    // Created on first use; destroyed first, so a set it started is cancelled while all else
    // still stands.
    std::unique_ptr<VeskExportSetPanel> exportSetPanel_;
};
