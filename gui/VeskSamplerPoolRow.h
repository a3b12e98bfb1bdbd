// The strip that shows and edits one sample pool: name, sample count, level, play/stop, the
// selected sample's waveform with its region and fades, the six dual-ring knobs, the envelope
// editor, the two filter sliders and the route.
//
// The editor hands the row its pool's snapshot 30 times a second (updateFromState). Values from
// the snapshot never notify: the row's callbacks fire only from the user's gestures, so opening
// the editor changes nothing in the project. The row repaints only what changed. Three actions
// go straight to the backend (dropped files, the route menu, the sample menu); everything else
// leaves through the on... callbacks, which the editor turns into messages.
#pragma once

#include "VeskEnvelopeEditor.h"
#include "VeskPendingValue.h"
#include "VeskSamplerDualRingKnob.h"

#include "plugin/VeskState.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

struct VeskBackend;

namespace vesk::gui::rowlogic {

// Plain logic of the row, tested without a display. [main thread]

// "3 (12/64)" for pool index 2 with 12 samples.
juce::String samplesButtonText(int pool, int sampleCount);
// "Bus 1", "Bus 2", "Master" (2 and above).
juce::String routeText(uint8_t route);
// True for a name ending in ".wav" in any letter case.
bool isWavFile(const juce::String& path);
// The text of a UTF-8 name cut to at most maxBytes bytes at a character boundary.
std::string truncateUtf8(const std::string& utf8, size_t maxBytes);

// The level meter's text and colour for a held linear peak.
struct LevelDisplay
{
    juce::String text;
    uint32_t colour = 0;
    bool operator==(const LevelDisplay&) const = default;
};
LevelDisplay levelDisplay(float heldPeak);

// A playback region of a file, in frames.
struct Region
{
    int64_t start = 0;
    int64_t length = 0;
    bool operator==(const Region&) const = default;
};
// The region as the engine would play it: start inside the file, length between
// min(480, frames after start) and the frames after start; a length of 0 means "to the end".
// Signed arithmetic throughout: a start past the end or a missing file never wraps. With no
// file (0 frames) the result is {0, 0}.
Region clampRegion(int64_t start, int64_t length, uint64_t fileFrames);
// Alt + drag: the region moved by dx pixels of a waveform `width` pixels wide (dragging right
// moves the view right, so the start moves back).
Region dragRegion(Region from, float dx, float width, uint64_t fileFrames);
// Alt + wheel: steps > 0 zoom in (length x 0.8 per step), steps < 0 out (x 1.25 per step).
Region wheelRegion(Region from, int steps, uint64_t fileFrames);
// A fade handle dragged by dx pixels from startValue; the fade-out runs from the right.
float dragFade(float startValue, float dx, float width, bool fadeIn);

// The waveform's display gain: how loud the last trigger was against the current volume.
float displayGain(const vesk::PoolState& state);
// Where the white position line sits, 0..1.
float positionLine(const vesk::PoolState& state, bool playing);

// Largest value per pixel column of `columns`, from the region peaks or, zoomed into a local
// region, from the overview of the whole file. Columns without data are negative.
void waveColumns(const float* peaks, int peakCount, const float* overview, int overviewCount,
                 bool zoomed, Region region, uint64_t fileFrames, float* out, int columns);

} // namespace vesk::gui::rowlogic

class VeskSamplerPoolRow : public juce::Component,
                           public juce::FileDragAndDropTarget,
                           private juce::Timer
{
public:
    enum class AudibleState
    {
        Normal = 0,
        Muted = 1,
        SoloedOut = 2,
    };

    explicit VeskSamplerPoolRow(int pool);
    ~VeskSamplerPoolRow() override;

    int pool() const { return pool_; }
    void setBackend(VeskBackend* backend) { backend_ = backend; }
    void updateFromState(const vesk::PoolState& state);
    void setFrozen(bool frozen);
    // The host loaded a state: every control shows the next snapshot as it is.
    void forgetPendingEdits();
    void setAudibleState(AudibleState state);
    // Flashes the row in a colour that fades out over about half a second.
    void setHighlight(juce::Colour colour);
    void updatePlayStopButton();

    // Callbacks, each with the row's pool index first.
    std::function<void(int)> onPreview, onStopPreview, onLoadClicked, onClearPool;
    std::function<void(int, const juce::String&)> onRename;
    std::function<void(int, float base, float rangePercent, bool enabled)> onVolumeChanged,
        onPanChanged, onPitchChanged, onDelayChanged, onStartChanged;
    std::function<void(int, float percent)> onReverseChanged;
    std::function<void(int, bool)> onPitchTrackChanged, onGrainCloudChanged;
    std::function<void(int, uint32_t sample, int64_t start, uint64_t length)> onRegionChanged;
    std::function<void(int, uint32_t sample)> onSelectSample;
    std::function<void(int, const vesk::EnvelopeData&)> onVolumeEnvelopeChanged,
        onPanEnvelopeChanged, onPitchEnvelopeChanged, onHpfEnvelopeChanged, onLpfEnvelopeChanged;
    std::function<void(int, float hz)> onHpfChanged, onLpfChanged;
    std::function<void(int, float fraction)> onFadeInChanged, onFadeOutChanged;
    // Around each knob gesture (host automation may group them later).
    std::function<void(int, int knob)> onKnobGestureStart, onKnobGestureEnd;

    // The children, for the editor's tests.
    enum Knob
    {
        kVol,
        kPan,
        kPitch,
        kDelay,
        kStart,
        kRev,
        kNumKnobs
    };
    VeskSamplerDualRingKnob& knob(int k) { return *knobs_[size_t(k)]; }
    VeskEnvelopeEditor& envelopeEditor() { return envelope_; }
    juce::TextButton& playStopButton() { return playStop_; }
    juce::TextButton& samplesButton() { return samples_; }
    juce::TextButton& grainCloudButton() { return grainCloud_; }
    juce::TextButton& pitchTrackButton() { return pitchTrack_; }
    juce::TextButton& previousButton() { return previous_; }
    juce::TextButton& nextButton() { return next_; }
    juce::TextButton& routeButton() { return route_; }
    juce::Label& nameLabel() { return name_; }
    juce::Label& levelLabel() { return level_; }
    juce::Slider& hpfSlider() { return hpf_; }
    juce::Slider& lpfSlider() { return lpf_; }
    // The region drawn (the local one while active, else the state's).
    vesk::gui::rowlogic::Region shownRegion() const;
    bool localRegionActive() const { return localRegion_.active; }
    float shownFadeIn() const;
    float shownFadeOut() const;
    // How many times the row asked to be repainted (tests: "repaint only on change").
    int repaintRequests() const { return repaintRequests_; }

    // The sample menu's and the route menu's choices, as the menus deliver them.
    void applySampleMenuResult(int id, int sampleIndex, const juce::String& sampleName);
    void applyRouteMenuResult(int id);
    // Builds the sample menu as it would open now.
    juce::PopupMenu buildSampleMenu() const;

    void paint(juce::Graphics&) override;
    void resized() override;
    void parentHierarchyChanged() override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    void mouseMove(const juce::MouseEvent&) override;
    void mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void fileDragEnter(const juce::StringArray& files, int x, int y) override;
    void fileDragExit(const juce::StringArray& files) override;
    void filesDropped(const juce::StringArray& files, int x, int y) override;

private:
    void timerCallback() override;
    void setUpKnobs();
    void applyKnobStates();
    void updateLevel();
    void updateFilterSlider(juce::Slider& slider, float hz, bool active, bool locked);
    void openSampleMenu();
    void openRouteMenu();
    void sendRegion(vesk::gui::rowlogic::Region r);
    void requestRepaint(juce::Rectangle<int> area);
    void requestRepaint() { requestRepaint(getLocalBounds()); }
    bool hasSamples() const { return state_.sampleCount > 0; }
    juce::Rectangle<int> waveArea() const;

    // What the row draws itself (waveform, overlays, body); a change repaints it.
    struct Painted
    {
        int sampleCount = 0;
        float durationMs = 0.0f;
        float gain = 0.0f;
        float position = 0.0f;
        int positionMs = 0;
        bool playing = false;
        vesk::gui::rowlogic::Region region;
        bool zoomed = false;
        uint64_t fileFrames = 0;
        float fadeIn = 0.0f, fadeOut = 0.0f;
        uint64_t peaksRevision = 0;
        bool operator==(const Painted&) const = default;
    };
    Painted painted() const;

    const int pool_;
    VeskBackend* backend_ = nullptr;
    vesk::PoolState state_;
    juce::Colour highlight_{0xff5080b8};
    float highlightStrength_ = 0.0f;
    bool playing_ = false;
    bool frozen_ = false;
    AudibleState audible_ = AudibleState::Normal;
    bool fileDragHover_ = false;
    float heldPeak_ = 0.0f;
    bool previousPlaying_ = false;
    vesk::gui::rowlogic::LevelDisplay levelShown_;

    // The region peaks of the selected sample (its whole-file overview stays in state_).
    std::array<float, vesk::kDisplayPeaks> peaks_{};
    uint64_t peaksRevision_ = 0; // counts changes of the peaks or the overview
    uint32_t shownSample_ = 0;

    struct LocalRegion
    {
        vesk::gui::rowlogic::Region region;
        uint64_t fileFrames = 0;
        bool active = false;
        bool dragging = false;
        float dragStartX = 0.0f;
        vesk::gui::rowlogic::Region dragStartRegion;
    } localRegion_;
    double localRegionSince_ = 0.0; // when the local region was last set (it expires)
    vesk::gui::rowlogic::Region stateRegion_;
    uint64_t stateFileFrames_ = 0;

    int fadeHandle_ = -1; // 0 fade-in, 1 fade-out
    float fadeDragStartX_ = 0.0f, fadeDragStartValue_ = 0.0f, fadeDragValue_ = 0.0f;
    vesk::gui::VeskPendingValue<float> pendingFadeIn_, pendingFadeOut_;
    vesk::gui::VeskPendingValue<bool> pendingPitchTrack_, pendingGrainCloud_;
    vesk::gui::VeskPendingValue<float> pendingHpf_, pendingLpf_;
    float shownHpf_ = 0.0f, shownLpf_ = 20000.0f;
    bool shownGrain_ = false;

    class ArrowButton;
    juce::TextButton playStop_, samples_, grainCloud_{"G"}, pitchTrack_{"C4"}, previous_{"<"},
        next_{">"}, route_{"L1"};
    std::unique_ptr<ArrowButton> load_, clear_;
    juce::Label name_, level_, hpfLabel_, lpfLabel_;
    juce::Slider hpf_, lpf_;
    std::array<std::unique_ptr<VeskSamplerDualRingKnob>, kNumKnobs> knobs_;
    VeskEnvelopeEditor envelope_;
    int repaintRequests_ = 0;
    juce::MouseCursor::StandardCursorType cursor_ = juce::MouseCursor::NormalCursor;
};
