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

// The pool row's edits. Ranges leave the knobs in percent and travel as fractions 0..1.
void VeskSamplerEditor::setupPoolRowCallbacks(VeskSamplerPoolRow& row)
{
    using namespace vesk::msg;
    auto pool = [](int p) { return uint32_t(p); };
    row.onPreview = [this, pool](int p) {
        const uint32_t sample = snapshot_->pools[p].displayedSample;
        send(backend_, PlaySample{pool(p), sample});
    };
    row.onStopPreview = [this, pool](int p) { send(backend_, StopPool{pool(p)}); };
    row.onLoadClicked = [this](int p) { loadFileToPool(p); };
    row.onClearPool = [this, pool](int p) { send(backend_, ClearPool{pool(p)}); };
    row.onRename = [this, pool](int p, const juce::String& name) {
        // At most 31 bytes, cut at a character boundary: the stored name stays valid UTF-8.
        send(backend_, RenamePool{pool(p), vesk::gui::rowlogic::truncateUtf8(
                                               name.toStdString(), vesk::kPoolNameSize - 1)});
    };
    // The host hears of the knobs it automates (the gestures only inform it; the commands
    // change the engine).
    row.onKnobGestureStart = [this, &row](int p, int k) {
        automation_.dragStarted(p, k, row.knob(k).getValue(), row.knob(k).getRange());
    };
    row.onKnobGestureEnd = [this](int p, int k) { automation_.dragEnded(p, k); };
    row.onVolumeChanged = [this, pool](int p, float base, float range, bool on) {
        send(backend_, SetVolume{pool(p), base, range / 100.0f, on});
        automation_.changed(p, VeskSamplerPoolRow::kVol, base, range);
    };
    row.onPanChanged = [this, pool](int p, float base, float range, bool on) {
        send(backend_, SetPan{pool(p), base, range / 100.0f, on});
        automation_.changed(p, VeskSamplerPoolRow::kPan, base, range);
    };
    row.onPitchChanged = [this, pool](int p, float base, float range, bool on) {
        send(backend_, SetPitch{pool(p), base, range / 100.0f, on});
        automation_.changed(p, VeskSamplerPoolRow::kPitch, base, range);
    };
    row.onDelayChanged = [this, pool](int p, float base, float range, bool on) {
        send(backend_, SetDelay{pool(p), base, range / 100.0f, on});
    };
    row.onStartChanged = [this, pool](int p, float base, float range, bool on) {
        send(backend_, SetStart{pool(p), base, range / 100.0f, on});
        automation_.changed(p, VeskSamplerPoolRow::kStart, base, range);
    };
    row.onReverseChanged = [this, pool](int p, float percent) {
        send(backend_, SetReverseChance{pool(p), percent});
        automation_.changed(p, VeskSamplerPoolRow::kRev, percent, 0.0);
    };
    row.onPitchTrackChanged = [this, pool](int p, bool on) {
        send(backend_, SetPitchTrack{pool(p), on});
    };
    row.onGrainCloudChanged = [this, pool](int p, bool on) {
        send(backend_, SetGrainCloud{pool(p), on});
    };
    row.onRegionChanged = [this, pool](int p, uint32_t sample, int64_t start, uint64_t length) {
        send(backend_, SetSampleRegion{pool(p), sample, start, length});
    };
    row.onSelectSample = [this, pool](int p, uint32_t sample) {
        send(backend_, SelectSample{pool(p), sample});
    };
    row.onVolumeEnvelopeChanged = [this, pool](int p, const vesk::EnvelopeData& e) {
        send(backend_, SetVolumeEnv{pool(p), e});
    };
    row.onPanEnvelopeChanged = [this, pool](int p, const vesk::EnvelopeData& e) {
        send(backend_, SetPanEnv{pool(p), e});
    };
    row.onPitchEnvelopeChanged = [this, pool](int p, const vesk::EnvelopeData& e) {
        send(backend_, SetPitchEnv{pool(p), e});
    };
    row.onHpfEnvelopeChanged = [this, pool](int p, const vesk::EnvelopeData& e) {
        send(backend_, SetHpfEnv{pool(p), e});
    };
    row.onLpfEnvelopeChanged = [this, pool](int p, const vesk::EnvelopeData& e) {
        send(backend_, SetLpfEnv{pool(p), e});
    };
    row.onHpfChanged = [this, pool](int p, float hz) { send(backend_, SetHpf{pool(p), hz}); };
    row.onLpfChanged = [this, pool](int p, float hz) { send(backend_, SetLpf{pool(p), hz}); };
    row.onFadeInChanged = [this, pool](int p, float f) { send(backend_, SetFadeIn{pool(p), f}); };
    row.onFadeOutChanged = [this, pool](int p, float f) { send(backend_, SetFadeOut{pool(p), f}); };
}

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
