// The strip across the top of the editor: transport, voice mode, exports, the bulk range tools,
// auto split and the FX-chain presets.
//
// The bar owns no engine state: every control fires a callback that the editor turns into a
// message, and the editor feeds the engine's modes back on every tick. The voice mode and auto
// split keep the user's choice on screen until the snapshot agrees with it. The preset popup,
// its alerts and the export button's menu are all asynchronous; each callback checks that the
// bar still exists, and the bar closes whatever is still open when it goes away.
#pragma once

#include "VeskFxChainPresetPopup.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <vector>

struct VeskBackend;

class VeskSamplerTopBar : public juce::Component
{
public:
    VeskSamplerTopBar();
    ~VeskSamplerTopBar() override;

    std::function<void()> onRandom;
    std::function<void()> onReplay;
    std::function<void()> onStop;
    std::function<void()> onExportStems;
    std::function<void()> onExportMix;
    std::function<void(int group, bool on)> onQuickEnable;
    std::function<void(int group)> onReset;
    std::function<void(int group)> onDice;
    std::function<void(bool single)> onVoiceModeChanged;
    std::function<void(bool on)> onAutoSplitChanged;
    // Right click (or Shift-click) on an export button: further export choices, offered by the
    // editor. Unset, the buttons only export.
    std::function<void(juce::Component& anchor)> onExportMenu;

    void setBackend(VeskBackend* backend) { backend_ = backend; }
    // The component the preset call-out box and alerts belong to (the editor); the bar's parent
    // when unset.
    void setPopupParent(juce::Component* parent) { popupParent_ = parent; }

    // [main thread] From the snapshot, every tick.
    void setRetriggerMode(bool single);
    void setVoiceModeEnabled(bool enabled);
    void setAutoSplit(bool on);
    // The host loaded a state: the boxes show the next snapshot as it is.
    void forgetPendingEdits() { voiceModePending_ = autoSplitPending_ = false; }

    // The last export's outcome, shown in the bar until the next one ("" hides it).
    void setExportStatus(const juce::String& text, bool failed);
    const juce::String& exportStatus() const { return exportStatus_; }

    // Opens the FX-chain preset popup (the "☰" button).
    void showPresetPopup();
    // The popup while its call-out box is open (tests), else null.
    VeskFxChainPresetPopup* presetPopup() const;
    // The alert the bar shows (overwrite question, store errors) while it is open, else null.
    juce::AlertWindow* currentAlert() const;

    // Controls, for tests and the editor's tooltips.
    juce::TextButton& randomButton() { return random_; }
    juce::TextButton& replayButton() { return replay_; }
    juce::TextButton& stopButton() { return stop_; }
    juce::ComboBox& voiceModeBox() { return voiceMode_; }
    juce::TextButton& exportStemsButton() { return exportStems_; }
    juce::TextButton& exportMixButton() { return exportMix_; }
    juce::ComboBox& rangeTargetBox() { return rangeTarget_; }
    juce::TextButton& onButton() { return on_; }
    juce::TextButton& offButton() { return off_; }
    juce::TextButton& resetButton() { return reset_; }
    juce::TextButton& diceButton() { return dice_; }
    juce::ToggleButton& autoSplitButton() { return autoSplit_; }
    juce::TextButton& presetsButton() { return presets_; }

    void paint(juce::Graphics&) override;
    void resized() override;

private:
    // The preset popup's file actions (save with the overwrite question, append, delete).
    void savePreset(const juce::String& name);
    void writePreset(const juce::String& name);
    void loadPreset(const juce::String& name);
    void deletePreset(const juce::String& name);
    void refreshPresetList();
    // An alert owned by the bar: closed when the bar goes, its answer dropped then.
    void showAlert(juce::MessageBoxIconType icon, const juce::String& title,
                   const juce::String& message, const juce::String& button1,
                   const juce::String& button2, std::function<void(int)> onResult);
    juce::Component* popupParent() const;

    VeskBackend* backend_ = nullptr;
    juce::Component* popupParent_ = nullptr;

    juce::TextButton random_, replay_, stop_;
    juce::ComboBox voiceMode_;
    juce::TextButton exportStems_, exportMix_;
    juce::ComboBox rangeTarget_;
    juce::TextButton on_, off_, reset_, dice_;
    juce::ToggleButton autoSplit_;
    juce::TextButton presets_;
    juce::Label exportLabel_;

    bool voiceModePending_ = false;
    bool pendingSingle_ = true;
    bool autoSplitPending_ = false;
    bool pendingAutoSplit_ = false;
    int separatorX_[4] = {2, 213, 355, 0};
    juce::String exportStatus_;
    bool exportFailed_ = false;

    // The popup is declared first so that the box, which shows it, goes first.
    std::unique_ptr<VeskFxChainPresetPopup> popup_;
    std::unique_ptr<juce::CallOutBox> presetBox_;
    std::unique_ptr<juce::AlertWindow> alert_;
    std::vector<std::unique_ptr<juce::AlertWindow>> retiredAlerts_;
    std::unique_ptr<juce::MouseListener> exportMenuOpener_;
    bool exportClickTakenByMenu_ = false;
};
