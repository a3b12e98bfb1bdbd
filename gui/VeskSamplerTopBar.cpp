#include "VeskSamplerTopBar.h"

#include "VeskFxChainPresetPopup.h"
#include "VeskGuiLayout.h"

#include "fx/VeskLanePresetIO.h"
#include "plugin/CommandQueues.h"
#include "plugin/VeskState.h"

#include <utility>

namespace {

namespace tl = vesk::gui::layout::topbar;

juce::String glyph(juce::juce_wchar c)
{
    return juce::String::charToString(c);
}

} // namespace

VeskSamplerTopBar::VeskSamplerTopBar()
{
    setOpaque(false);

    const auto setupButton = [this](juce::TextButton& b, const char* name, const juce::String& text,
                                    const juce::String& tip) {
        b.setName(name);
        b.setButtonText(text);
        b.setTooltip(tip);
        addAndMakeVisible(b);
    };
    setupButton(random_, "Random", glyph(0x25B6), "Random trigger: fire every pool (R)");
    setupButton(replay_, "Replay", glyph(0x21BB), "Replay the last trigger");
    setupButton(stop_, "Stop", glyph(0x25A0), "Stop all sound (Space toggles)");
    setupButton(exportStems_, "Export Stems", glyph(0x2193) + " Stems",
                "Export the last trigger, one file per pool");
    setupButton(exportMix_, "Export Mix", glyph(0x2193) + " Mix",
                "Export the last trigger as one mix");
    setupButton(on_, "On", "On", "Enable the chosen range on every pool with samples");
    setupButton(off_, "Off", "Off", "Disable the chosen range on every pool with samples");
    setupButton(reset_, "Reset", glyph(0x21BA), "Reset the chosen range on every pool");
    setupButton(dice_, "Dice", glyph(0x2684), "Re-roll every enabled range");
    presets_.setButtonText(glyph(0x2630));
    presets_.setTooltip("FX Bus Chain Presets");
    addAndMakeVisible(presets_);
    on_.setConnectedEdges(juce::Button::ConnectedOnRight);
    off_.setConnectedEdges(juce::Button::ConnectedOnLeft);

    random_.onClick = [this] {
        if (onRandom)
            onRandom();
    };
    replay_.onClick = [this] {
        if (onReplay)
            onReplay();
    };
    stop_.onClick = [this] {
        if (onStop)
            onStop();
    };
    exportStems_.onClick = [this] {
        if (std::exchange(exportClickTakenByMenu_, false))
            return;
        if (onExportStems)
            onExportStems();
    };
    exportMix_.onClick = [this] {
        if (std::exchange(exportClickTakenByMenu_, false))
            return;
        if (onExportMix)
            onExportMix();
    };
    on_.onClick = [this] {
        const int id = rangeTarget_.getSelectedId();
        if (id > 1 && onQuickEnable)
            onQuickEnable(id - 1, true);
    };
    off_.onClick = [this] {
        const int id = rangeTarget_.getSelectedId();
        if (id > 1 && onQuickEnable)
            onQuickEnable(id - 1, false);
    };
    reset_.onClick = [this] {
        const int id = rangeTarget_.getSelectedId();
        if (id > 1 && onReset)
            onReset(id - 1);
    };
    dice_.onClick = [this] {
        if (onDice)
            onDice(rangeTarget_.getSelectedId() - 1);
    };
    presets_.onClick = [this] { showPresetPopup(); };

    voiceMode_.addItem("Single", 1);
    voiceMode_.addItem("Poly", 2);
    voiceMode_.setSelectedId(1, juce::dontSendNotification);
    voiceMode_.setTooltip("Voice mode: Single cuts the previous trigger, Poly lets it ring");
    voiceMode_.onChange = [this] {
        pendingSingle_ = voiceMode_.getSelectedId() == 1;
        voiceModePending_ = true;
        if (onVoiceModeChanged)
            onVoiceModeChanged(pendingSingle_);
    };
    addAndMakeVisible(voiceMode_);

    rangeTarget_.addItemList({"---", "ALL", "Vol", "Pan", "Pitch", "Delay", "Start"}, 1);
    rangeTarget_.setSelectedId(1, juce::dontSendNotification);
    rangeTarget_.setTooltip("Range target of On, Off and reset");
    addAndMakeVisible(rangeTarget_);

    autoSplit_.setName("Auto Split");
    autoSplit_.setButtonText("Auto Split");
    autoSplit_.setTooltip("Split files loaded from now on at their pauses");
    autoSplit_.onClick = [this] {
        pendingAutoSplit_ = autoSplit_.getToggleState();
        autoSplitPending_ = true;
        if (onAutoSplitChanged)
            onAutoSplitChanged(pendingAutoSplit_);
    };
    addAndMakeVisible(autoSplit_);

    exportLabel_.setInterceptsMouseClicks(true, false); // for its tooltip: the whole line
    exportLabel_.setFont(juce::Font(12.0f));
    exportLabel_.setMinimumHorizontalScale(0.7f);
    addChildComponent(exportLabel_);

    // Right click or Shift-click on an export button: the editor's further export choices.
    struct MenuOpener : juce::MouseListener
    {
        VeskSamplerTopBar& bar;
        explicit MenuOpener(VeskSamplerTopBar& b) : bar(b) {}
        void mouseDown(const juce::MouseEvent& e) override
        {
            if ((e.mods.isPopupMenu() || e.mods.isShiftDown()) && bar.onExportMenu) {
                // The button still clicks on release: that click is the menu's, not an export.
                bar.exportClickTakenByMenu_ = true;
                juce::Component::SafePointer<juce::Component> anchor(e.eventComponent);
                juce::Component::SafePointer<VeskSamplerTopBar> self(&bar);
                juce::MessageManager::callAsync([self, anchor] {
                    if (self != nullptr && anchor != nullptr && self->onExportMenu)
                        self->onExportMenu(*anchor);
                });
            }
        }
    };
    exportMenuOpener_ = std::make_unique<MenuOpener>(*this);
    exportStems_.addMouseListener(exportMenuOpener_.get(), false);
    exportMix_.addMouseListener(exportMenuOpener_.get(), false);
}

VeskSamplerTopBar::~VeskSamplerTopBar()
{
    exportStems_.removeMouseListener(exportMenuOpener_.get());
    exportMix_.removeMouseListener(exportMenuOpener_.get());
    // An alert or a call-out box still open answers no one once the bar is gone.
    alert_.reset();
    retiredAlerts_.clear();
    presetBox_.reset();
    popup_.reset();
}

// ---------------------------------------------------------------------------------------------
// State from the editor

void VeskSamplerTopBar::setRetriggerMode(bool single)
{
    if (voiceModePending_) {
        if (single == pendingSingle_)
            voiceModePending_ = false;
        return;
    }
    const int id = single ? 1 : 2;
    if (voiceMode_.getSelectedId() != id)
        voiceMode_.setSelectedId(id, juce::dontSendNotification);
}

void VeskSamplerTopBar::setVoiceModeEnabled(bool enabled)
{
    if (voiceMode_.isEnabled() != enabled)
        voiceMode_.setEnabled(enabled);
}

void VeskSamplerTopBar::setAutoSplit(bool on)
{
    if (autoSplitPending_) {
        if (on == pendingAutoSplit_)
            autoSplitPending_ = false;
        return;
    }
    if (autoSplit_.getToggleState() != on)
        autoSplit_.setToggleState(on, juce::dontSendNotification);
}

void VeskSamplerTopBar::setExportStatus(const juce::String& text, bool failed)
{
    if (text == exportStatus_ && failed == exportFailed_)
        return;
    exportStatus_ = text;
    exportFailed_ = failed;
    exportLabel_.setText(text, juce::dontSendNotification);
    exportLabel_.setTooltip(text);
    exportLabel_.setColour(juce::Label::textColourId,
                           failed ? juce::Colour(0xffe07a5f) : juce::Colour(0xffa8d8a8));
    exportLabel_.setVisible(text.isNotEmpty());
}

// ---------------------------------------------------------------------------------------------
// Layout and painting

void VeskSamplerTopBar::resized()
{
    const int w = getWidth();
    const int y = tl::kControlTop, h = std::max(0, getHeight() - 8);
    random_.setBounds(tl::kRandomX, y, tl::kTransportWidth, h);
    replay_.setBounds(tl::kReplayX, y, tl::kTransportWidth, h);
    stop_.setBounds(tl::kStopX, y, tl::kTransportWidth, h);
    voiceMode_.setBounds(tl::kVoiceModeX, y, tl::kVoiceModeWidth, h);
    exportStems_.setBounds(tl::kExportStemsX, y, tl::kExportStemsWidth, h);
    exportMix_.setBounds(tl::kExportMixX, y, tl::kExportMixWidth, h);
    rangeTarget_.setBounds(tl::kRangeTargetX, y, tl::kRangeTargetWidth, h);
    on_.setBounds(tl::kOnX, y, tl::kOnOffWidth, h);
    off_.setBounds(tl::kOffX, y, tl::kOnOffWidth, h);
    reset_.setBounds(tl::kResetX, y, tl::kToolWidth, h);
    dice_.setBounds(tl::kDiceX, y, tl::kToolWidth, h);
    const int presetsX = w - tl::kPresetsInset;
    presets_.setBounds(presetsX, y, tl::kPresetsWidth, h);
    autoSplit_.setBounds(presetsX - tl::kAutoSplitOffset, y, tl::kAutoSplitWidth, h);
    separatorX_[3] = presetsX - tl::kLastSeparatorOffset;
    exportLabel_.setBounds(tl::kExportStatusX, y,
                           std::max(0, autoSplit_.getX() - 6 - tl::kExportStatusX), h);
}

void VeskSamplerTopBar::paint(juce::Graphics& g)
{
    g.setColour(findColour(juce::Label::textColourId).withAlpha(0.3f));
    const float top = float(tl::kSeparatorInset), bottom = float(getHeight() - tl::kSeparatorInset);
    for (int x : separatorX_)
        g.drawVerticalLine(x, top, bottom);
}

// ---------------------------------------------------------------------------------------------
// FX-chain presets

juce::Component* VeskSamplerTopBar::popupParent() const
{
    return popupParent_ != nullptr ? popupParent_ : getParentComponent();
}

VeskFxChainPresetPopup* VeskSamplerTopBar::presetPopup() const
{
    return presetBox_ != nullptr ? popup_.get() : nullptr;
}

void VeskSamplerTopBar::showPresetPopup()
{
    if (presetBox_ != nullptr && presetBox_->isCurrentlyModal(false))
        return; // already open
    auto popup = std::make_unique<VeskFxChainPresetPopup>();
    juce::Component::SafePointer<VeskSamplerTopBar> self(this);
    popup->onSave = [self](const juce::String& name) {
        if (self != nullptr)
            self->savePreset(name);
    };
    popup->onLoad = [self](const juce::String& name) {
        if (self != nullptr)
            self->loadPreset(name);
    };
    popup->onDelete = [self](const juce::String& name) {
        if (self != nullptr)
            self->deletePreset(name);
    };
    popup->setPresets(vesk::listVeskFxChainPresets());

    juce::Component* parent = popupParent();
    juce::Rectangle<int> area = presets_.getScreenBounds();
    if (parent != nullptr)
        area = parent->getLocalArea(nullptr, area);
    // The bar owns the box and its popup (JUCE's self-owning box closes itself whenever another
    // window has the keyboard focus, which is the rule for an editor inside a host's window).
    // The box ends its modal state when dismissed; both are freed afterwards, never inside the
    // box's own callback, and with the bar at the latest.
    presetBox_.reset();
    popup_ = std::move(popup);
    presetBox_ = std::make_unique<juce::CallOutBox>(*popup_, area, parent);
    juce::Component::SafePointer<juce::CallOutBox> box(presetBox_.get());
    presetBox_->enterModalState(true, juce::ModalCallbackFunction::create([self, box](int) {
                                    juce::MessageManager::callAsync([self, box] {
                                        if (self == nullptr || box == nullptr ||
                                            self->presetBox_.get() != box.getComponent())
                                            return;
                                        self->presetBox_.reset();
                                        self->popup_.reset();
                                    });
                                }),
                                false);
}

void VeskSamplerTopBar::savePreset(const juce::String& name)
{
    if (!vesk::veskFxChainPresetExists(name)) {
        writePreset(name);
        return;
    }
    juce::Component::SafePointer<VeskSamplerTopBar> self(this);
    showAlert(juce::MessageBoxIconType::QuestionIcon, "Overwrite Preset?",
              "A preset named \"" + name + "\" already exists.\nOverwrite it?", "Overwrite",
              "Cancel", [self, name](int result) {
                  if (self != nullptr && result == 1)
                      self->writePreset(name);
              });
}

void VeskSamplerTopBar::writePreset(const juce::String& name)
{
    if (backend_ == nullptr)
        return;
    // The two lanes straight from the engine's current snapshot: a copy of the whole snapshot
    // would be a megabyte on the host's stack.
    const vesk::VeskState& current = backend_->current();
    vesk::FXLaneState lanes[2] = {current.lanes[0], current.lanes[1]};
    juce::String error;
    if (vesk::saveVeskFxChainPreset(name, lanes, &error)) {
        refreshPresetList();
        return;
    }
    showAlert(juce::MessageBoxIconType::WarningIcon, "Save Preset",
              error.isNotEmpty() ? error : juce::String("Save failed."), "OK", {}, nullptr);
}

void VeskSamplerTopBar::loadPreset(const juce::String& name)
{
    if (backend_ == nullptr)
        return;
    vesk::FXLaneState lanes[2];
    juce::String error;
    if (vesk::loadVeskFxChainPreset(name, lanes, &error)) {
        vesk::sendAppendLaneChainPreset(*backend_, lanes);
        return;
    }
    showAlert(juce::MessageBoxIconType::WarningIcon, "Load Preset",
              error.isNotEmpty() ? error : juce::String("Load failed."), "OK", {}, nullptr);
}

void VeskSamplerTopBar::deletePreset(const juce::String& name)
{
    vesk::deleteVeskFxChainPreset(name);
    refreshPresetList();
}

void VeskSamplerTopBar::refreshPresetList()
{
    // Called from a row's own click: the rows are replaced later, never under their callback.
    juce::Component::SafePointer<VeskFxChainPresetPopup> popup(popup_.get());
    juce::MessageManager::callAsync([popup] {
        if (popup != nullptr)
            popup->setPresets(vesk::listVeskFxChainPresets());
    });
}

void VeskSamplerTopBar::showAlert(juce::MessageBoxIconType icon, const juce::String& title,
                                  const juce::String& message, const juce::String& button1,
                                  const juce::String& button2, std::function<void(int)> onResult)
{
    juce::Component* associated = popupParent();
    auto& lf = associated != nullptr ? associated->getLookAndFeel()
                                     : juce::LookAndFeel::getDefaultLookAndFeel();
    const int buttons = button2.isEmpty() ? 1 : 2;
    // The previous alert (answered, or still open) goes, and an answer it still owes is dropped.
    // It is retired, not freed: this may run inside its own answer (a failed
    // overwrite). Alerts retired before it are past their callbacks and go now.
    retiredAlerts_.clear();
    if (alert_ != nullptr) {
        if (alert_->isCurrentlyModal(false))
            alert_->exitModalState(0);
        alert_->setVisible(false);
        retiredAlerts_.push_back(std::move(alert_));
    }
    alert_.reset(
        lf.createAlertWindow(title, message, button1, button2, {}, icon, buttons, associated));
    if (alert_ == nullptr)
        return;
    juce::Component::SafePointer<VeskSamplerTopBar> self(this);
    juce::Component::SafePointer<juce::AlertWindow> window(alert_.get());
    alert_->enterModalState(
        true, juce::ModalCallbackFunction::create([self, window, onResult](int result) {
            if (self == nullptr || window == nullptr || self->alert_.get() != window.getComponent())
                return;
            if (onResult)
                onResult(result);
        }),
        false);
}

juce::AlertWindow* VeskSamplerTopBar::currentAlert() const
{
    return alert_ != nullptr && alert_->isCurrentlyModal(false) ? alert_.get() : nullptr;
}
