// What the editor sends for each panel's callbacks: the one place where edits become messages.
#include "VeskSamplerEditor.h"

#include "plugin/Messages.h"

void VeskSamplerEditor::setupTopBarCallbacks()
{
    topBar_.onRandom = [this] { triggerRandom(); };
    topBar_.onReplay = [this] { triggerReplay(); };
    topBar_.onStop = [this] { stop(); };
    topBar_.onExportStems = [this] { vesk::msg::send(backend_, vesk::msg::RenderStems{}); };
    topBar_.onExportMix = [this] { vesk::msg::send(backend_, vesk::msg::RenderMix{}); };
    topBar_.onQuickEnable = [this](int group, bool on) { applyQuickEnable(group, on); };
    topBar_.onReset = [this](int group) { applyReset(group); };
    topBar_.onDice = [this](int) { applyRandomDice(); };
    topBar_.onVoiceModeChanged = [this](bool single) {
        vesk::msg::send(backend_, vesk::msg::SetRetriggerMode{single});
    };
    topBar_.onAutoSplitChanged = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetAutoSplit{on});
    };
}

void VeskSamplerEditor::setupPoolNavCallbacks()
{
    const auto bit = [](int pool) { return uint8_t(1u << pool); };
    poolNav_.onPoolSelected = [this](int pool) { scrollToPool(pool); };
    poolNav_.onSoloToggle = [this, bit](int pool) {
        vesk::msg::send(backend_, vesk::msg::SetPoolSolo{uint32_t(pool),
                                                         (snapshot_->soloMask & bit(pool)) == 0});
    };
    poolNav_.onMuteToggle = [this, bit](int pool) {
        vesk::msg::send(backend_, vesk::msg::SetPoolMute{uint32_t(pool),
                                                         (snapshot_->muteMask & bit(pool)) == 0});
    };
    poolNav_.onLockToggle = [this, bit](int pool) {
        vesk::msg::send(backend_, vesk::msg::SetPoolFreeze{
                                      uint32_t(pool), (snapshot_->freezeMask & bit(pool)) == 0});
    };
    poolNav_.onClearPool = [this](int pool) {
        vesk::msg::send(backend_, vesk::msg::ClearPool{uint32_t(pool)});
    };
    poolNav_.onRemovePool = [this](int pool) {
        vesk::msg::send(backend_, vesk::msg::RemovePool{uint32_t(pool)});
    };
    poolNav_.onAddPool = [this, bit] {
        for (int pool = 0; pool < vesk::kNumPools; ++pool) {
            if ((visibleMask_ & bit(pool)) == 0) {
                selectPoolWhenVisible(pool);
                vesk::msg::send(backend_, vesk::msg::SetPoolVisible{uint32_t(pool), true});
                return;
            }
        }
    };
}

void VeskSamplerEditor::setupPoolRowCallbacks(VeskSamplerPoolRow&) {}

void VeskSamplerEditor::setupLanePanelCallbacks(VeskSamplerFXLanePanel& panel)
{
    // The container sends its cards' edits itself.
    panel.setBackend(&backend_);
    const uint8_t lane = uint8_t(panel.lane());
    panel.onBypassToggle = [this, lane](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetLaneBypass{lane, on});
    };
    panel.onMuteToggle = [this, lane](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetLaneMute{lane, on});
    };
    panel.onSoloToggle = [this, lane](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetLaneSolo{lane, on});
    };
    if (lane == 0)
        panel.onRouteToggle = [this](bool toMaster) {
            vesk::msg::send(backend_, vesk::msg::SetBus1ToMaster{toMaster});
        };
}

void VeskSamplerEditor::setupMasterFXCallbacks()
{
    VeskSamplerMasterFX& m = masterPanel_;
    m.onMasterBypassToggle = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetMasterBypass{on});
    };
    m.onEqChanged = [this](float low, float mid, float high) {
        vesk::msg::send(backend_, vesk::msg::SetMasterEQ{low, mid, high});
    };
    m.onEqBypassToggle = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetMasterEQBypass{on});
    };
    m.onEnhanceChanged = [this](float drive, float amount, float shape) {
        vesk::msg::send(backend_, vesk::msg::SetMasterEnhance{drive, amount, shape});
    };
    m.onEnhanceBypassToggle = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetMasterEnhanceBypass{on});
    };
    m.onEnhanceMultiToggle = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetMasterEnhanceMulti{on});
    };
    m.onReverbChanged = [this](float size, float damp, float decay, float mix, float width,
                               float early) {
        vesk::msg::send(backend_, vesk::msg::SetMasterReverb{size, damp, decay, mix, width, early});
    };
    m.onReverbBypassToggle = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetMasterReverbBypass{on});
    };
    m.onLimiterChanged = [this](float threshold, float ceiling, float release) {
        vesk::msg::send(backend_, vesk::msg::SetMasterLimiter{threshold, ceiling, release});
    };
    m.onLimiterBypassToggle = [this](bool on) {
        vesk::msg::send(backend_, vesk::msg::SetMasterLimiterBypass{on});
    };
    m.onOutputGainChanged = [this](float db) {
        vesk::msg::send(backend_, vesk::msg::SetMasterOutputGain{db});
    };
}
