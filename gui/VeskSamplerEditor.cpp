#include "VeskSamplerEditor.h"

#include "VeskGuiLayout.h"
#include "VeskText.h"

#include "plugin/Messages.h"
#include "plugin/VeskParamGestures.h"

#include <ctime>

namespace {

using namespace vesk::gui;

juce::Colour colour(uint32_t argb)
{
    return juce::Colour(argb);
}

} // namespace

VeskSamplerEditor::VeskSamplerEditor(VeskBackend& backend)
    : backend_(backend), snapshot_(std::make_unique<vesk::VeskState>(backend.current()))
{
    // The copy starts as the engine's current picture (a new instance's defaults before its
    // first publication), so the first tick changes nothing it does not have to.
    visibleMask_ = snapshot_->visiblePools;
    if (VeskParamGestures* g = backend_.gestures) {
        automation_.begin = [g](uint32_t id) { g->begin(id); };
        automation_.value = [g](uint32_t id, double v) { g->value(id, v); };
        automation_.end = [g](uint32_t id) { g->end(id); };
    }

    poolViewport_.setScrollBarsShown(true, false);
    poolViewport_.setScrollBarThickness(layout::kScrollBarThickness);
    poolViewport_.setViewedComponent(&poolContainer_, false);

    topBar_.setBackend(&backend_);
    topBar_.setPopupParent(this);
    addAndMakeVisible(topBar_);
    addAndMakeVisible(poolNav_);
    addAndMakeVisible(poolViewport_);
    setupTopBarCallbacks();
    topBar_.onExportMenu = [this](juce::Component& anchor) { showExportSet(anchor); };
    setupPoolNavCallbacks();

    for (int i = 0; i < vesk::kNumPools; ++i) {
        auto row = std::make_unique<VeskSamplerPoolRow>(i);
        row->setBackend(&backend_);
        setupPoolRowCallbacks(*row);
        poolContainer_.addChildComponent(*row);
        poolRows_[size_t(i)] = std::move(row);
    }
    for (int lane = 0; lane < vesk::kNumLanes; ++lane) {
        auto panel = std::make_unique<VeskSamplerFXLanePanel>(lane);
        addAndMakeVisible(*panel);
        setupLanePanelCallbacks(*panel);
        lanePanels_[size_t(lane)] = std::move(panel);
    }
    addAndMakeVisible(masterPanel_);
    setupMasterFXCallbacks();

    addChildComponent(banner_);
    updatePoolLayout();
    startTimer(layout::kPollStandInMs);
}

VeskSamplerEditor::~VeskSamplerEditor()
{
    stopTimer();
    // A chooser still open may not call back into a half-destroyed editor.
    fileChooser_.reset();
    exportSetPanel_.reset();
}

// ---------------------------------------------------------------------------------------------
// Triggers and global commands

void VeskSamplerEditor::triggerRandom()
{
    triggerSeed_ = uint64_t(std::time(nullptr)) ^ (triggerSeed_ * 6364136223846793005ULL + 1);
    vesk::msg::send(backend_, vesk::msg::Trigger{triggerSeed_});
}

void VeskSamplerEditor::triggerReplay()
{
    vesk::msg::send(backend_, vesk::msg::Replay{});
}

void VeskSamplerEditor::stop()
{
    vesk::msg::send(backend_, vesk::msg::StopAll{});
}

void VeskSamplerEditor::togglePlayback()
{
    if (snapshot_->playing.load())
        stop();
    else
        triggerReplay();
}

void VeskSamplerEditor::loadFileToPool(int pool)
{
    if (pool < 0 || pool >= vesk::kNumPools)
        return;
    // The editor owns the chooser; a choice that arrives after the editor is gone is dropped.
    fileChooser_ =
        std::make_unique<juce::FileChooser>("Load Samples to Pool", juce::File(), "*.wav");
    juce::Component::SafePointer<VeskSamplerEditor> self(this);
    fileChooser_->launchAsync(
        juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles |
            juce::FileBrowserComponent::canSelectMultipleItems,
        [self, pool](const juce::FileChooser& chooser) {
            if (self == nullptr)
                return;
            for (const juce::File& f : chooser.getResults())
                self->backend_.SendLoadToPool(uint32_t(pool), f.getFullPathName().toStdString());
        });
}

void VeskSamplerEditor::sendBulkEdits(const std::vector<BulkEdit>& edits)
{
    for (const BulkEdit& e : edits) {
        if (e.kind == BulkEdit::Kind::ReverseChanceOff) {
            vesk::msg::send(backend_, vesk::msg::SetReverseChance{e.pool, 0.0f});
            continue;
        }
        switch (e.param) {
        case RangedParam::Volume:
            vesk::msg::send(backend_, vesk::msg::SetVolume{e.pool, e.base, e.range, e.enabled});
            break;
        case RangedParam::Pan:
            vesk::msg::send(backend_, vesk::msg::SetPan{e.pool, e.base, e.range, e.enabled});
            break;
        case RangedParam::Pitch:
            vesk::msg::send(backend_, vesk::msg::SetPitch{e.pool, e.base, e.range, e.enabled});
            break;
        case RangedParam::Delay:
            vesk::msg::send(backend_, vesk::msg::SetDelay{e.pool, e.base, e.range, e.enabled});
            break;
        case RangedParam::Start:
            vesk::msg::send(backend_, vesk::msg::SetStart{e.pool, e.base, e.range, e.enabled});
            break;
        }
    }
}

void VeskSamplerEditor::applyQuickEnable(int group, bool enabled)
{
    if (group > 0)
        sendBulkEdits(quickEnableEdits(*snapshot_, group, enabled));
}

void VeskSamplerEditor::applyReset(int group)
{
    if (group > 0)
        sendBulkEdits(resetEdits(*snapshot_, group));
}

void VeskSamplerEditor::applyRandomDice()
{
    juce::Random random(juce::Time::currentTimeMillis());
    applyRandomDice(random);
}

void VeskSamplerEditor::applyRandomDice(juce::Random& random)
{
    sendBulkEdits(diceEdits(*snapshot_, random));
}

// ---------------------------------------------------------------------------------------------
// Export Set

void VeskSamplerEditor::showExportSet(juce::Component& anchor)
{
    if (exportSetPanel_ == nullptr) {
        exportSetPanel_ = std::make_unique<VeskExportSetPanel>(backend_.sets);
        // Hidden, never deleted, from its own button's callback.
        exportSetPanel_->onClose = [this] { exportSetPanel_->setVisible(false); };
        addChildComponent(*exportSetPanel_);
    }
    // From the top bar or one of its buttons: below the bar's export area.
    const bool fromBar = &anchor == &topBar_ || topBar_.isParentOf(&anchor);
    const juce::Rectangle<int> a = fromBar ? getLocalArea(&topBar_, topBar_.getLocalBounds())
                                           : getLocalArea(&anchor, anchor.getLocalBounds());
    const int x = fromBar ? a.getX() + layout::kExportAreaX : a.getX();
    const int w = layout::kExportSetWidth, h = layout::kExportSetHeight;
    exportSetPanel_->setBounds(juce::jlimit(0, juce::jmax(0, getWidth() - w), x),
                               juce::jlimit(0, juce::jmax(0, getHeight() - h), a.getBottom() + 4),
                               w, h);
    exportSetPanel_->setVisible(true);
    exportSetPanel_->toFront(true);
}

// ---------------------------------------------------------------------------------------------
// Layout

void VeskSamplerEditor::paint(juce::Graphics& g)
{
    g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
}

void VeskSamplerEditor::resized()
{
    const EditorLayout l = computeEditorLayout(getWidth(), getHeight(), banner_.isVisible());
    banner_.setBounds(l.banner);
    topBar_.setBounds(l.topBar);
    masterPanel_.setBounds(l.master);
    poolNav_.setBounds(l.nav);
    poolViewport_.setBounds(l.viewport);
    for (int lane = 0; lane < vesk::kNumLanes; ++lane)
        lanePanels_[size_t(lane)]->setBounds(l.lanes[size_t(lane)]);
    updatePoolLayout();
}

void VeskSamplerEditor::updatePoolLayout()
{
    const PoolRowsLayout l = computePoolRowsLayout(visibleMask_, poolViewport_.getWidth());
    for (int i = 0; i < vesk::kNumPools; ++i) {
        VeskSamplerPoolRow& row = *poolRows_[size_t(i)];
        const bool visible = ((visibleMask_ >> i) & 1) != 0;
        row.setVisible(visible);
        if (visible)
            row.setBounds(l.rows[size_t(i)]);
    }
    poolContainer_.setSize(l.containerWidth, l.containerHeight);
}

void VeskSamplerEditor::scrollToPool(int pool)
{
    if (pool < 0 || pool >= vesk::kNumPools || ((visibleMask_ >> pool) & 1) == 0)
        return;
    VeskSamplerPoolRow& row = *poolRows_[size_t(pool)];
    if (!row.isVisible())
        return;
    poolViewport_.setViewPosition(0, row.getY());
    row.setHighlight(colour(colours::kSelectFlash));
}

void VeskSamplerEditor::selectPoolWhenVisible(int pool)
{
    if (pool >= 0 && pool < vesk::kNumPools)
        pendingSelection_ = pool;
}

void VeskSamplerEditor::updateHealthBanner()
{
    const vesk::VeskState& s = *snapshot_;
    const juce::String text = healthBannerText(s.stateUnread, s.missingFiles, s.droppedCommands);
    if (!banner_.setText(text))
        return;
    banner_.setVisible(text.isNotEmpty());
    resized();
}

// ---------------------------------------------------------------------------------------------
// The 30 Hz tick

// JUCE's window wakes the message thread on every refresh of the display whatever the editor
// does; polling from there instead of from a timer of its own spares the host a second stream of
// wake-ups (each a round trip through JUCE's timer thread and message socket).
void VeskSamplerEditor::onVBlank()
{
    const double now = juce::Time::getMillisecondCounterHiRes();
    if (now - lastPollMs_ >= layout::kPollSpacingMs) {
        pollNow_ = true;
        timerCallback();
    }
}

// The host loaded a state (a preset, its undo, a project): what the user is still waiting to see
// confirmed gives way to it, and every control shows the loaded values from this tick on.
void VeskSamplerEditor::forgetPendingEdits()
{
    topBar_.forgetPendingEdits();
    for (auto& row : poolRows_)
        row->forgetPendingEdits();
    for (auto& lane : lanePanels_)
        for (int c = 0; c < lane->container().cardCount(); ++c)
            for (int k = 0; k < lane->container().card(c).knobCount(); ++k)
                lane->container().card(c).knob(k).forgetPendingEdits();
    masterPanel_.forgetPendingEdits();
}

void VeskSamplerEditor::timerCallback()
{
    const double now = juce::Time::getMillisecondCounterHiRes();
    // The stand-in timer polls only while the refresh has stopped calling.
    if (!pollNow_ && now - lastPollMs_ < 0.5 * layout::kPollStandInMs)
        return;
    pollNow_ = false;
    lastPollMs_ = now;
    // 1. One consistent picture per tick.
    *snapshot_ = backend_.current();
    const vesk::VeskState& s = *snapshot_;
    if (s.stateLoads != stateLoadsSeen_) {
        stateLoadsSeen_ = s.stateLoads;
        forgetPendingEdits();
    }

    // 2. Banner.
    updateHealthBanner();
    if (exportSetPanel_ != nullptr)
        exportSetPanel_->poll();

    // 3. Top bar.
    topBar_.setRetriggerMode(s.retriggerMode);
    topBar_.setVoiceModeEnabled(!s.playing.load());
    topBar_.setAutoSplit(s.autoSplit);
    topBar_.setExportStatus(vesk::gui::textFromEngine(s.exportReport, sizeof s.exportReport),
                            s.exportFailed);

    // 4.-5. Rows.
    for (int i = 0; i < vesk::kNumPools; ++i) {
        VeskSamplerPoolRow& row = *poolRows_[size_t(i)];
        const uint8_t bit = uint8_t(1u << i);
        row.updateFromState(s.pools[i]);
        row.setFrozen((s.freezeMask & bit) != 0);
        using Audible = VeskSamplerPoolRow::AudibleState;
        row.setAudibleState((s.muteMask & bit) != 0                        ? Audible::Muted
                            : (s.soloMask != 0 && (s.soloMask & bit) == 0) ? Audible::SoloedOut
                                                                           : Audible::Normal);
        if ((s.soloMask & bit) != 0 && (previousSoloMask_ & bit) == 0)
            row.setHighlight(colour(colours::kSoloFlash));
    }
    previousSoloMask_ = s.soloMask;

    // 6. FX buses and master.
    float modulation[vesk::kModBusSize];
    for (int k = 0; k < vesk::kModBusSize; ++k)
        modulation[k] = s.modulation[k].load();
    lanePanels_[0]->updateFromState(s.lanes[0], s.bus1ToMaster, modulation, vesk::kModBusSize);
    lanePanels_[1]->updateFromState(s.lanes[1], false, modulation, vesk::kModBusSize);
    masterPanel_.updateFromState(s.master);

    // 7. Navigation and the visible pools. A pending selection waits until its pool shows.
    poolNav_.setVisibleMask(s.visiblePools);
    if (s.visiblePools != visibleMask_) {
        visibleMask_ = s.visiblePools;
        updatePoolLayout();
    }
    if (pendingSelection_ >= 0 && ((visibleMask_ >> pendingSelection_) & 1) != 0) {
        scrollToPool(pendingSelection_);
        poolNav_.setSelectedPool(pendingSelection_);
        pendingSelection_ = -1;
    }

    // 8. Navigation cards.
    for (int i = 0; i < vesk::kNumPools; ++i) {
        const vesk::PoolState& p = s.pools[i];
        const uint8_t bit = uint8_t(1u << i);
        poolNav_.updatePoolState(i, textFromEngine(p.name, sizeof p.name), p.sampleCount != 0);
        poolNav_.updateSoloMuteFreeze(i, (s.soloMask & bit) != 0, (s.muteMask & bit) != 0,
                                      (s.freezeMask & bit) != 0);
    }
}
