#include "VeskSamplerPoolRow.h"

#include "VeskFonts.h"
#include "VeskGuiLayout.h"
#include "VeskText.h"

#include "plugin/CommandQueues.h"
#include "plugin/Messages.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vesk::gui::rowlogic {

juce::String samplesButtonText(int pool, int sampleCount)
{
    return juce::String(pool + 1) + " (" + juce::String(sampleCount) + "/64)";
}

juce::String routeText(uint8_t route)
{
    return route == 0 ? "Bus 1" : route == 1 ? "Bus 2" : "Master";
}

bool isWavFile(const juce::String& path)
{
    return path.endsWithIgnoreCase(".wav");
}

std::string truncateUtf8(const std::string& utf8, size_t maxBytes)
{
    if (utf8.size() <= maxBytes)
        return utf8;
    size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the character cut off.
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.substr(0, end);
}

LevelDisplay levelDisplay(float peak)
{
    using namespace vesk::gui::poolrowcolours;
    if (!(peak > 1.0e-6f))
        return {juce::String::fromUTF8("-\xe2\x88\x9e"), kLevelIdle};
    const float db = 20.0f * std::log10(peak);
    if (db < -60.0f)
        return {juce::String::fromUTF8("-\xe2\x88\x9e"), kLevelIdle};
    const uint32_t colour = db > -3.0f ? kLevelHot : db > -12.0f ? kLevelWarm : kLevelOk;
    return {juce::String(db, 1), colour};
}

Region clampRegion(int64_t start, int64_t length, uint64_t fileFrames)
{
    const int64_t frames = fileFrames > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(fileFrames);
    if (frames <= 0)
        return {0, 0};
    start = std::clamp<int64_t>(start, 0, frames - 1);
    const int64_t after = frames - start;
    if (length <= 0)
        length = after;
    const int64_t minLength =
        std::min<int64_t>(vesk::gui::layout::poolrow::kMinRegionFrames, after);
    return {start, std::clamp<int64_t>(length, minLength, after)};
}

Region dragRegion(Region from, float dx, float width, uint64_t fileFrames)
{
    from = clampRegion(from.start, from.length, fileFrames);
    if (from.length <= 0 || !(width > 0.0f) || !std::isfinite(dx))
        return from;
    const int64_t frames = int64_t(std::min<uint64_t>(fileFrames, uint64_t(INT64_MAX)));
    const double moved = -double(from.length) / double(width) * double(dx);
    const double start = std::clamp(double(from.start) + moved, 0.0, double(frames - from.length));
    return clampRegion(int64_t(std::llround(start)), from.length, fileFrames);
}

Region wheelRegion(Region from, int steps, uint64_t fileFrames)
{
    from = clampRegion(from.start, from.length, fileFrames);
    if (from.length <= 0 || steps == 0)
        return from;
    double length = double(from.length);
    const double factor = steps > 0 ? 0.8 : 1.25;
    for (int i = 0; i < std::abs(steps) && i < 64; ++i)
        length *= factor;
    length = std::min(length, double(INT64_MAX / 2));
    return clampRegion(from.start, int64_t(std::llround(length)), fileFrames);
}

float dragFade(float startValue, float dx, float width, bool fadeIn)
{
    if (!(width > 0.0f) || !std::isfinite(dx) || !std::isfinite(startValue))
        return std::isfinite(startValue) ? std::clamp(startValue, 0.0f, 0.5f) : 0.0f;
    const float v = fadeIn ? startValue + dx / width : startValue - dx / width;
    return std::clamp(v, 0.0f, 0.5f);
}

float displayGain(const vesk::PoolState& s)
{
    float g;
    if (s.volume.enabled)
        g = s.lastGain * std::pow(10.0f, (s.volume.base - s.lastVolumeBase) / 20.0f);
    else
        g = s.volume.base <= -48.0f ? 0.0f : std::pow(10.0f, s.volume.base / 20.0f);
    return std::isfinite(g) ? std::max(0.0f, g) : 0.0f;
}

float positionLine(const vesk::PoolState& s, bool playing)
{
    float p;
    if (playing)
        p = s.playbackProgress.load();
    else if (s.start.enabled)
        p = (s.lastStart + (s.start.base - s.lastStartBase)) / 100.0f;
    else
        p = s.start.base / 100.0f;
    return std::isfinite(p) ? std::clamp(p, 0.0f, 1.0f) : 0.0f;
}

void waveColumns(const float* peaks, int peakCount, const float* overview, int overviewCount,
                 bool zoomed, Region region, uint64_t fileFrames, float* out, int columns)
{
    std::fill(out, out + columns, -1.0f);
    if (columns <= 0)
        return;
    auto take = [&](int c, float v) {
        if (std::isfinite(v))
            out[c] = std::max(out[c], std::fabs(v));
    };
    if (!zoomed || fileFrames == 0 || region.length <= 0 || overviewCount <= 0) {
        for (int i = 0; i < peakCount; ++i)
            take(std::min(columns - 1, int(int64_t(i) * columns / std::max(1, peakCount))),
                 peaks[i]);
        return;
    }
    const double perPoint = double(fileFrames) / double(overviewCount);
    for (int c = 0; c < columns; ++c) {
        const double f0 = double(region.start) + double(region.length) * c / columns;
        const double f1 = double(region.start) + double(region.length) * (c + 1) / columns;
        int i0 = int(std::floor(f0 / perPoint));
        int i1 = std::max(i0 + 1, int(std::ceil(f1 / perPoint)));
        i0 = std::clamp(i0, 0, overviewCount);
        i1 = std::clamp(i1, 0, overviewCount);
        for (int i = i0; i < i1; ++i)
            take(c, overview[i]);
    }
}

} // namespace vesk::gui::rowlogic

namespace {

namespace rl = vesk::gui::rowlogic;
namespace L = vesk::gui::layout::poolrow;
namespace C = vesk::gui::poolrowcolours;
using vesk::gui::nearlyEqual;
using vesk::gui::pendingClockMs;
using vesk::gui::spanTolerance;

juce::Colour colour(uint32_t argb)
{
    return juce::Colour(argb);
}

void styleStepButton(juce::TextButton& b)
{
    b.setColour(juce::TextButton::buttonColourId, colour(C::kStepButton));
    b.setColour(juce::TextButton::buttonOnColourId, colour(C::kStepButtonOn));
    b.setColour(juce::TextButton::textColourOffId, colour(C::kStepText));
    b.setColour(juce::TextButton::textColourOnId, colour(C::kStepTextOn));
}

void styleToggle(juce::TextButton& b, const char* tooltip)
{
    b.setColour(juce::TextButton::textColourOffId, colour(C::kToggleOff));
    b.setColour(juce::TextButton::textColourOnId, colour(C::kAccent));
    b.setTooltip(tooltip);
}

void setUpFilterSlider(juce::Slider& s, double initial)
{
    s.setSliderStyle(juce::Slider::LinearHorizontal);
    s.setTextBoxStyle(juce::Slider::NoTextBox, false, 0, 0);
    s.setRange(0.0, 20000.0, 1.0);
    s.setSkewFactorFromMidPoint(1000.0);
    s.setValue(initial, juce::dontSendNotification);
}

} // namespace

// "⤓" and "⤒": an arrow onto a bar, drawn as a path where the interface fonts have no glyph.
class VeskSamplerPoolRow::ArrowButton : public juce::TextButton
{
public:
    ArrowButton(const char* utf8, bool down) : down_(down)
    {
        setButtonText(juce::String::fromUTF8(utf8));
    }

    void paintButton(juce::Graphics& g, bool highlighted, bool pressed) override
    {
        const juce::String text = getButtonText();
        if (text.isNotEmpty() && vesk::fonts::hasGlyph(text[0])) {
            juce::TextButton::paintButton(g, highlighted, pressed);
            return;
        }
        auto& lf = getLookAndFeel();
        lf.drawButtonBackground(g, *this,
                                findColour(getToggleState() ? buttonOnColourId : buttonColourId),
                                highlighted, pressed);
        const auto r = getLocalBounds().toFloat().withSizeKeepingCentre(8.0f, 10.0f);
        const float bar = down_ ? r.getBottom() : r.getY();
        const float tip = down_ ? r.getBottom() - 2.0f : r.getY() + 2.0f;
        const float tail = down_ ? r.getY() : r.getBottom();
        juce::Path p;
        p.startNewSubPath(r.getCentreX(), tail);
        p.lineTo(r.getCentreX(), tip);
        p.startNewSubPath(r.getX() + 1.0f, tip + (down_ ? -3.0f : 3.0f));
        p.lineTo(r.getCentreX(), tip);
        p.lineTo(r.getRight() - 1.0f, tip + (down_ ? -3.0f : 3.0f));
        p.startNewSubPath(r.getX(), bar);
        p.lineTo(r.getRight(), bar);
        g.setColour(findColour(textColourOffId).withMultipliedAlpha(isEnabled() ? 1.0f : 0.5f));
        g.strokePath(p, juce::PathStrokeType(1.3f));
    }

private:
    bool down_;
};

VeskSamplerPoolRow::VeskSamplerPoolRow(int pool)
    : pool_(pool), load_(std::make_unique<ArrowButton>("\xe2\xa4\x93", true)),
      clear_(std::make_unique<ArrowButton>("\xe2\xa4\x92", false)), envelope_(pool)
{
    setOpaque(false);
    playStop_.setButtonText(juce::String::fromUTF8("\xe2\x96\xb6"));
    playStop_.setColour(juce::TextButton::buttonColourId, colour(C::kPlay));
    playStop_.onClick = [this] {
        if (playing_) {
            if (onStopPreview)
                onStopPreview(pool_);
        } else if (onPreview) {
            onPreview(pool_);
        }
    };
    samples_.setButtonText(rl::samplesButtonText(pool_, 0));
    samples_.onClick = [this] {
        if (hasSamples())
            openSampleMenu();
    };
    name_.setEditable(false, true, false);
    name_.setText("Pool " + juce::String(pool_ + 1), juce::dontSendNotification);
    name_.setFont(juce::Font(12.0f));
    name_.onTextChange = [this] {
        if (onRename)
            onRename(pool_, name_.getText());
    };
    level_.setFont(juce::Font(12.0f));
    level_.setJustificationType(juce::Justification::centred);
    levelShown_ = rl::levelDisplay(0.0f);
    level_.setText(levelShown_.text, juce::dontSendNotification);
    level_.setColour(juce::Label::textColourId, colour(levelShown_.colour));

    styleToggle(grainCloud_, "Grain Cloud playback (vs Direct)");
    styleToggle(pitchTrack_, "MIDI Pitch Track (C4 = original key)");
    grainCloud_.onClick = [this] {
        const bool on = !grainCloud_.getToggleState();
        pendingGrainCloud_.set(on, pendingClockMs());
        grainCloud_.setToggleState(on, juce::dontSendNotification);
        shownGrain_ = on;
        applyKnobStates();
        if (onGrainCloudChanged)
            onGrainCloudChanged(pool_, on);
    };
    pitchTrack_.onClick = [this] {
        const bool on = !pitchTrack_.getToggleState();
        pendingPitchTrack_.set(on, pendingClockMs());
        pitchTrack_.setToggleState(on, juce::dontSendNotification);
        if (onPitchTrackChanged)
            onPitchTrackChanged(pool_, on);
    };
    load_->onClick = [this] {
        if (onLoadClicked)
            onLoadClicked(pool_);
    };
    clear_->onClick = [this] {
        if (onClearPool)
            onClearPool(pool_);
    };
    styleStepButton(previous_);
    styleStepButton(next_);
    previous_.onClick = [this] {
        if (state_.sampleCount >= 2 && state_.displayedSample > 0 && onSelectSample)
            onSelectSample(pool_, state_.displayedSample - 1);
    };
    next_.onClick = [this] {
        if (int64_t(state_.displayedSample) + 1 < int64_t(state_.sampleCount) && onSelectSample)
            onSelectSample(pool_, state_.displayedSample + 1);
    };
    previous_.setVisible(false);
    next_.setVisible(false);

    for (auto* l : {&hpfLabel_, &lpfLabel_}) {
        l->setFont(juce::Font(10.0f));
        l->setJustificationType(juce::Justification::centredRight);
        l->setColour(juce::Label::textColourId, colour(C::kFilterLabel));
        l->setInterceptsMouseClicks(false, false);
        l->setBorderSize({});
    }
    hpfLabel_.setText("HPF", juce::dontSendNotification);
    lpfLabel_.setText("LPF", juce::dontSendNotification);
    setUpFilterSlider(hpf_, 0.0);
    setUpFilterSlider(lpf_, 20000.0);
    updateFilterSlider(hpf_, 0.0f, false, false);
    updateFilterSlider(lpf_, 20000.0f, false, false);
    hpf_.onValueChange = [this] {
        const float hz = float(hpf_.getValue());
        shownHpf_ = hz;
        pendingHpf_.set(hz, pendingClockMs());
        updateFilterSlider(hpf_, hz, hz > 0.0f, state_.hpfEnv.count > 0);
        envelope_.setFilterBaseFreq(shownHpf_, shownLpf_);
        if (onHpfChanged)
            onHpfChanged(pool_, hz);
    };
    lpf_.onValueChange = [this] {
        const float hz = float(lpf_.getValue());
        shownLpf_ = hz;
        pendingLpf_.set(hz, pendingClockMs());
        updateFilterSlider(lpf_, hz, hz<20000.0f, state_.lpfEnv.count> 0);
        envelope_.setFilterBaseFreq(shownHpf_, shownLpf_);
        if (onLpfChanged)
            onLpfChanged(pool_, hz);
    };

    route_.setColour(juce::TextButton::buttonColourId, colour(C::kRouteButton));
    route_.setColour(juce::TextButton::textColourOffId, colour(C::kRouteText));
    route_.onClick = [this] { openRouteMenu(); };

    envelope_.onVolEnvelope = [this](int p, const vesk::EnvelopeData& e) {
        if (onVolumeEnvelopeChanged)
            onVolumeEnvelopeChanged(p, e);
    };
    envelope_.onPanEnvelope = [this](int p, const vesk::EnvelopeData& e) {
        if (onPanEnvelopeChanged)
            onPanEnvelopeChanged(p, e);
    };
    envelope_.onPitchEnvelope = [this](int p, const vesk::EnvelopeData& e) {
        if (onPitchEnvelopeChanged)
            onPitchEnvelopeChanged(p, e);
    };
    envelope_.onHpfEnvelope = [this](int p, const vesk::EnvelopeData& e) {
        if (onHpfEnvelopeChanged)
            onHpfEnvelopeChanged(p, e);
    };
    envelope_.onLpfEnvelope = [this](int p, const vesk::EnvelopeData& e) {
        if (onLpfEnvelopeChanged)
            onLpfEnvelopeChanged(p, e);
    };

    setUpKnobs();

    for (juce::Component* c : std::initializer_list<juce::Component*>{
             &playStop_, &samples_, &name_, &level_, &grainCloud_, &pitchTrack_, load_.get(),
             clear_.get(), &envelope_, &hpfLabel_, &lpfLabel_, &hpf_, &lpf_, &route_})
        addAndMakeVisible(*c);
    addChildComponent(previous_);
    addChildComponent(next_);
    playStop_.setEnabled(false);
    clear_->setEnabled(false);
}

VeskSamplerPoolRow::~VeskSamplerPoolRow()
{
    stopTimer();
}

void VeskSamplerPoolRow::setUpKnobs()
{
    struct Spec
    {
        const char* label;
        float min, max;
        const char* suffix;
        float span;
    };
    static const Spec specs[kNumKnobs] = {
        {"Vol", -48.0f, 12.0f, "dB", 20.0f},   {"Pan", -100.0f, 100.0f, "%", 100.0f},
        {"Pitch", -12.0f, 12.0f, "st", 12.0f}, {"Delay", 0.0f, 3000.0f, "ms", 3000.0f},
        {"Start", 0.0f, 100.0f, "%", 100.0f},  {"Rev", 0.0f, 100.0f, "%", 100.0f},
    };
    for (int k = 0; k < kNumKnobs; ++k) {
        auto knob = std::make_unique<VeskSamplerDualRingKnob>(specs[k].label);
        knob->setRange(specs[k].min, specs[k].max, 0.0f);
        knob->setSuffix(specs[k].suffix);
        knob->setRandomRange(specs[k].span);
        knob->onDragStart = [this, k] {
            if (onKnobGestureStart)
                onKnobGestureStart(pool_, k);
        };
        knob->onDragEnd = [this, k] {
            if (onKnobGestureEnd)
                onKnobGestureEnd(pool_, k);
        };
        addAndMakeVisible(*knob);
        knobs_[size_t(k)] = std::move(knob);
    }
    knobs_[kRev]->setRightClickEnabled(false);
    auto ranged = [this](int k, std::function<void(int, float, float, bool)>* target) {
        knobs_[size_t(k)]->onValueChanged = [this, target](float v, float r, bool e) {
            if (*target)
                (*target)(pool_, v, r, e);
        };
    };
    ranged(kVol, &onVolumeChanged);
    ranged(kPan, &onPanChanged);
    ranged(kPitch, &onPitchChanged);
    ranged(kDelay, &onDelayChanged);
    ranged(kStart, &onStartChanged);
    knobs_[kRev]->onValueChanged = [this](float v, float, bool) {
        if (onReverseChanged)
            onReverseChanged(pool_, v);
    };
}

// ---------------------------------------------------------------------------------------------
// Layout

void VeskSamplerPoolRow::resized()
{
    const int h = getHeight();
    playStop_.setBounds(L::kPlayStop.rect());
    samples_.setBounds(L::kSamples.rect());
    name_.setBounds(L::kName.rect());
    level_.setBounds(L::kLevel.rect());
    grainCloud_.setBounds(L::kGrainCloud.rect());
    pitchTrack_.setBounds(L::kPitchTrack.rect());
    load_->setBounds(L::kLoad.rect());
    clear_->setBounds(L::kClear.rect());
    previous_.setBounds(L::kPrevious.rect());
    next_.setBounds(L::kNext.rect());
    for (int k = 0; k < kNumKnobs; ++k)
        knobs_[size_t(k)]->setBounds(L::kKnobColumns[k % 3], L::kKnobRows[k / 3], L::kKnobWidth,
                                     L::kKnobHeight);
    envelope_.setBounds(L::kEnvelopeX, L::kEnvelopeY, L::kEnvelopeWidth, std::max(0, h - 28));
    const int y = h - L::kBottomInset;
    hpfLabel_.setBounds(L::kHpfLabelX, y, L::kFilterLabelWidth, L::kBottomHeight);
    hpf_.setBounds(L::kHpfSliderX, y, L::kFilterSliderWidth, L::kBottomHeight);
    lpfLabel_.setBounds(L::kLpfLabelX, y, L::kFilterLabelWidth, L::kBottomHeight);
    lpf_.setBounds(L::kLpfSliderX, y, L::kFilterSliderWidth, L::kBottomHeight);
    route_.setBounds(L::kRouteX, y, L::kRouteWidth, L::kBottomHeight);
}

void VeskSamplerPoolRow::parentHierarchyChanged()
{
    // The sliders' value bubbles live in the editor's top level, not on the desktop.
    juce::Component* top = getTopLevelComponent();
    for (auto* s : {&hpf_, &lpf_})
        s->setPopupDisplayEnabled(true, true, top != this ? top : nullptr, 2000);
}

juce::Rectangle<int> VeskSamplerPoolRow::waveArea() const
{
    return L::kWaveform.rect();
}

void VeskSamplerPoolRow::requestRepaint(juce::Rectangle<int> area)
{
    ++repaintRequests_;
    repaint(area);
}

// ---------------------------------------------------------------------------------------------
// From the snapshot

void VeskSamplerPoolRow::updateFilterSlider(juce::Slider& s, float hz, bool active, bool locked)
{
    s.setValue(hz, juce::dontSendNotification);
    const juce::Colour thumb = colour(active && !locked ? C::kAccent : C::kToggleOff);
    s.setColour(juce::Slider::thumbColourId, thumb);
    s.setEnabled(!locked);
}

VeskSamplerPoolRow::Painted VeskSamplerPoolRow::painted() const
{
    Painted p;
    p.sampleCount = state_.sampleCount;
    p.durationMs = state_.durationMs;
    if (state_.durationMs > 0.0f) {
        p.gain = std::min(rl::displayGain(state_), 1.0f);
        p.playing = playing_;
        p.position = rl::positionLine(state_, playing_);
        p.positionMs = int(p.position * state_.durationMs);
        p.region = shownRegion();
        p.zoomed = localRegion_.active;
        p.fileFrames = localRegion_.active ? localRegion_.fileFrames : stateFileFrames_;
        p.fadeIn = shownFadeIn();
        p.fadeOut = shownFadeOut();
        p.peaksRevision = peaksRevision_;
    }
    return p;
}

void VeskSamplerPoolRow::updateFromState(const vesk::PoolState& s)
{
    const double now = pendingClockMs();
    const Painted before = painted();

    // 1. The copy. The overview moves only when its revision changes.
    const uint64_t oldRevision = state_.overview.revision;
    state_ = s;
    // Display values only, but never a non-number or an absurd length into the drawing.
    auto finiteIn = [](float v, float lo, float hi, float otherwise) {
        return std::isfinite(v) ? std::clamp(v, lo, hi) : otherwise;
    };
    state_.durationMs = finiteIn(s.durationMs, 0.0f, 1.0e9f, 0.0f);
    state_.fadeIn = finiteIn(s.fadeIn, 0.0f, 0.5f, 0.0f);
    state_.fadeOut = finiteIn(s.fadeOut, 0.0f, 0.5f, 0.0f);
    if (state_.overview.revision != oldRevision || state_.overview.revision == 0)
        ++peaksRevision_;
    if (!std::equal(std::begin(s.peaks), std::end(s.peaks), peaks_.begin())) {
        std::copy(std::begin(s.peaks), std::end(s.peaks), peaks_.begin());
        ++peaksRevision_;
    }
    playing_ = s.active.load();
    const int count = std::max(0, s.sampleCount);

    // 2. Samples button and play/stop.
    samples_.setButtonText(rl::samplesButtonText(pool_, count));
    updatePlayStopButton();

    // 3. Name, unless the user is typing one.
    const juce::String name = vesk::gui::textFromEngine(s.name, sizeof s.name);
    const juce::String shownName = name.isEmpty() ? "Pool " + juce::String(pool_ + 1) : name;
    if (!name_.isBeingEdited() && name_.getText() != shownName)
        name_.setText(shownName, juce::dontSendNotification);

    // 4. Knobs (never notifying).
    knobs_[kVol]->setValue(s.volume.base, s.volume.range * 100.0f, s.volume.enabled);
    knobs_[kPan]->setValue(s.pan.base, s.pan.range * 100.0f, s.pan.enabled);
    knobs_[kPitch]->setValue(s.pitch.base, s.pitch.range * 100.0f, s.pitch.enabled);
    knobs_[kDelay]->setValue(s.delay.base, s.delay.range * 100.0f, s.delay.enabled);
    knobs_[kStart]->setValue(s.start.base, s.start.range * 100.0f, s.start.enabled);
    knobs_[kVol]->setLiveRandomOffset(s.volume.enabled ? s.volumeOffsetDb : 0.0f);
    knobs_[kPan]->setLiveRandomOffset(s.pan.enabled ? s.panOffset : 0.0f);
    knobs_[kPitch]->setLiveRandomOffset(s.pitch.enabled ? s.pitchOffset : 0.0f);
    knobs_[kRev]->setValue(s.reverseChance, 0.0f, false);

    // 5. Toggles: the user's value until the engine shows it (or the edit expires).
    const bool grain = pendingGrainCloud_.resolve(s.grainCloud, now);
    const bool pitchTrack = pendingPitchTrack_.resolve(s.pitchTrack, now);
    grainCloud_.setToggleState(grain, juce::dontSendNotification);
    pitchTrack_.setToggleState(pitchTrack, juce::dontSendNotification);

    // 6. Filter sliders, unless the user holds one.
    const float hzTol = spanTolerance(0.0f, 20000.0f);
    auto hzMatch = [hzTol](float e, float p) { return nearlyEqual(e, p, hzTol); };
    const float hpfState = std::isfinite(s.hpfHz) ? s.hpfHz : 0.0f;
    const float lpfState = std::isfinite(s.lpfHz) ? s.lpfHz : 20000.0f;
    if (!hpf_.isMouseButtonDown())
        shownHpf_ = pendingHpf_.resolve(hpfState, now, hzMatch);
    if (!lpf_.isMouseButtonDown())
        shownLpf_ = pendingLpf_.resolve(lpfState, now, hzMatch);
    updateFilterSlider(hpf_, shownHpf_, shownHpf_ > 0.0f, s.hpfEnv.count > 0);
    updateFilterSlider(lpf_, shownLpf_, shownLpf_<20000.0f, s.lpfEnv.count> 0);

    // 7.-8. Enabled states, grain cloud.
    clear_->setEnabled(count > 0);
    shownGrain_ = grain;
    applyKnobStates();

    // 9. Fades: the user's value until confirmed.
    const float fadeTol = spanTolerance(0.0f, 0.5f);
    auto fadeMatch = [fadeTol](float e, float p) { return nearlyEqual(e, p, fadeTol); };
    pendingFadeIn_.offer(s.fadeIn, now, fadeMatch);
    pendingFadeOut_.offer(s.fadeOut, now, fadeMatch);

    // 10. Level meter.
    updateLevel();

    // 11. Region. The local region belongs to one sample of one file: another sample shown
    // (or the file's length changed) drops it, so it is never drawn over, or sent for, another.
    const uint32_t sample = s.displayedSample;
    const bool otherSample = sample != shownSample_ || s.fileFrames != stateFileFrames_;
    shownSample_ = sample;
    stateFileFrames_ = s.fileFrames;
    stateRegion_ = rl::clampRegion(s.regionOffset,
                                   int64_t(std::min<uint64_t>(s.regionLength, uint64_t(INT64_MAX))),
                                   s.fileFrames);
    if (otherSample) {
        localRegion_.active = false;
        localRegion_.dragging = false;
    } else if (localRegion_.active && !localRegion_.dragging) {
        // Confirmed, or never confirmed within a second: the state's region again.
        if (localRegion_.region == stateRegion_ || now - localRegionSince_ >= 1000.0 ||
            now < localRegionSince_)
            localRegion_.active = false;
    }

    // 12. Envelope editor: the envelope position (it runs forwards for reversed voices too).
    envelope_.updateFromState(s.volumeEnv, s.panEnv, s.pitchEnv, s.hpfEnv, s.lpfEnv, shownHpf_,
                              shownLpf_, s.envelopeProgress.load(), playing_);

    // 13. Previous / next.
    const bool several = count >= 2;
    previous_.setVisible(several);
    next_.setVisible(several);
    previous_.setEnabled(several && sample > 0);
    next_.setEnabled(several && int64_t(sample) + 1 < int64_t(count));

    // 14. Route.
    route_.setButtonText(rl::routeText(s.outputRoute));

    // 15. Only what changed is drawn again.
    if (!(painted() == before))
        requestRepaint(waveArea());
}

void VeskSamplerPoolRow::applyKnobStates()
{
    for (int k = 0; k < kNumKnobs; ++k) {
        VeskSamplerDualRingKnob& kn = *knobs_[size_t(k)];
        const bool blocked = frozen_ || (k == kDelay && shownGrain_);
        kn.setEnabled(!blocked);
        kn.setDimmed(blocked);
    }
    knobs_[kStart]->setHideOuterRing(shownGrain_);
    envelope_.setDimmed(shownGrain_);
}

void VeskSamplerPoolRow::updatePlayStopButton()
{
    playStop_.setButtonText(juce::String::fromUTF8(playing_ ? "\xe2\x96\xa0" : "\xe2\x96\xb6"));
    playStop_.setColour(juce::TextButton::buttonColourId, colour(playing_ ? C::kStop : C::kPlay));
    playStop_.setEnabled(hasSamples());
}

void VeskSamplerPoolRow::updateLevel()
{
    if (playing_ && !previousPlaying_)
        heldPeak_ = 0.0f;
    previousPlaying_ = playing_;
    if (!hasSamples())
        heldPeak_ = 0.0f;
    const float level = state_.level.load();
    if (std::isfinite(level) && level > heldPeak_)
        heldPeak_ = level;
    const rl::LevelDisplay shown = rl::levelDisplay(heldPeak_);
    if (shown == levelShown_)
        return;
    levelShown_ = shown;
    level_.setText(shown.text, juce::dontSendNotification);
    level_.setColour(juce::Label::textColourId, colour(shown.colour));
}

rl::Region VeskSamplerPoolRow::shownRegion() const
{
    return localRegion_.active ? localRegion_.region : stateRegion_;
}

float VeskSamplerPoolRow::shownFadeIn() const
{
    if (fadeHandle_ == 0)
        return fadeDragValue_;
    return pendingFadeIn_.active() ? pendingFadeIn_.value() : state_.fadeIn;
}

float VeskSamplerPoolRow::shownFadeOut() const
{
    if (fadeHandle_ == 1)
        return fadeDragValue_;
    return pendingFadeOut_.active() ? pendingFadeOut_.value() : state_.fadeOut;
}

void VeskSamplerPoolRow::forgetPendingEdits()
{
    for (auto& knob : knobs_)
        knob->forgetPendingEdits();
    envelope_.forgetPendingEdits();
    for (auto* p : {&pendingFadeIn_, &pendingFadeOut_, &pendingHpf_, &pendingLpf_})
        p->clear();
    pendingPitchTrack_.clear();
    pendingGrainCloud_.clear();
}

void VeskSamplerPoolRow::setFrozen(bool frozen)
{
    if (frozen == frozen_)
        return;
    frozen_ = frozen;
    applyKnobStates();
}

void VeskSamplerPoolRow::setAudibleState(AudibleState state)
{
    if (state != audible_) {
        audible_ = state;
        requestRepaint(waveArea());
    }
}

void VeskSamplerPoolRow::setHighlight(juce::Colour colour)
{
    highlight_ = colour;
    highlightStrength_ = 1.0f;
    startTimerHz(30);
    requestRepaint();
}

void VeskSamplerPoolRow::timerCallback()
{
    highlightStrength_ -= 0.08f;
    if (highlightStrength_ <= 0.0f) {
        highlightStrength_ = 0.0f;
        stopTimer();
    }
    requestRepaint();
}

// ---------------------------------------------------------------------------------------------
// Menus and drops

juce::PopupMenu VeskSamplerPoolRow::buildSampleMenu() const
{
    juce::PopupMenu menu;
    menu.addSectionHeader("Pool " + juce::String(pool_ + 1) + " Samples");
    menu.addSeparator();
    const int count = std::clamp(state_.sampleCount, 0, vesk::kMaxSamplesPerPool);
    if (count == 0) {
        menu.addItem(-1, "(empty)", false);
        return menu;
    }
    for (int i = 0; i < count; ++i) {
        const juce::String file =
            vesk::gui::textFromEngine(state_.sampleNames[i], sizeof state_.sampleNames[i]);
        if (file.isEmpty())
            continue;
        const bool missing = state_.sampleMissing[i] != 0;
        const juce::String title =
            missing ? juce::String::fromUTF8("\xe2\x9a\xa0 \xe6\x89\xbe\xe4\xb8\x8d\xe5\x88\xb0"
                                             "\xe6\x96\x87\xe4\xbb\xb6  ") +
                          file
                    : file;
        juce::PopupMenu sub;
        sub.addItem(2 * i + 1, "Preview", !missing);
        sub.addSeparator();
        sub.addItem(2 * i + 2, "Delete");
        menu.addSubMenu(title, sub, true, nullptr, uint32_t(i) == state_.displayedSample);
    }
    return menu;
}

void VeskSamplerPoolRow::openSampleMenu()
{
    // The names as the menu shows them: a choice applies only while the same file still sits
    // at that index (a load, a split or a removal may finish while the menu is open).
    std::vector<juce::String> names;
    const int count = std::clamp(state_.sampleCount, 0, vesk::kMaxSamplesPerPool);
    for (int i = 0; i < count; ++i)
        names.push_back(
            vesk::gui::textFromEngine(state_.sampleNames[i], sizeof state_.sampleNames[i]));
    juce::Component::SafePointer<VeskSamplerPoolRow> self(this);
    buildSampleMenu().showMenuAsync(
        juce::PopupMenu::Options().withTargetComponent(&samples_).withParentComponent(
            getTopLevelComponent()),
        [self, names](int id) {
            if (self == nullptr || id <= 0)
                return;
            const int index = (id - 1) / 2;
            if (index < 0 || size_t(index) >= names.size())
                return;
            self->applySampleMenuResult(id, index, names[size_t(index)]);
        });
}

void VeskSamplerPoolRow::applySampleMenuResult(int id, int index, const juce::String& name)
{
    const int count = std::clamp(state_.sampleCount, 0, vesk::kMaxSamplesPerPool);
    if (backend_ == nullptr || id <= 0 || index < 0 || index >= count || (id - 1) / 2 != index)
        return;
    const juce::String now =
        vesk::gui::textFromEngine(state_.sampleNames[index], sizeof state_.sampleNames[index]);
    if (now != name || now.isEmpty())
        return;
    if (id % 2 == 1) {
        if (state_.sampleMissing[index] == 0)
            vesk::msg::send(*backend_, vesk::msg::PlaySample{uint32_t(pool_), uint32_t(index)});
    } else {
        vesk::msg::send(*backend_, vesk::msg::RemoveSample{uint32_t(pool_), uint32_t(index)});
    }
}

void VeskSamplerPoolRow::openRouteMenu()
{
    juce::PopupMenu menu;
    menu.addItem(1, "Send Bus 1", true, state_.outputRoute == 0);
    menu.addItem(2, "Send Bus 2", true, state_.outputRoute == 1);
    menu.addItem(3, "Master", true, state_.outputRoute == 2);
    juce::Component::SafePointer<VeskSamplerPoolRow> self(this);
    menu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(&route_).withParentComponent(
                           getTopLevelComponent()),
                       [self](int id) {
                           if (self != nullptr)
                               self->applyRouteMenuResult(id);
                       });
}

void VeskSamplerPoolRow::applyRouteMenuResult(int id)
{
    if (backend_ == nullptr || id < 1 || id > 3)
        return;
    vesk::msg::send(*backend_, vesk::msg::SetPoolRoute{uint32_t(pool_), vesk::PoolRoute(id - 1)});
}

bool VeskSamplerPoolRow::isInterestedInFileDrag(const juce::StringArray& files)
{
    for (const juce::String& f : files)
        if (rl::isWavFile(f))
            return true;
    return false;
}

void VeskSamplerPoolRow::fileDragEnter(const juce::StringArray&, int, int)
{
    fileDragHover_ = true;
    requestRepaint();
}

void VeskSamplerPoolRow::fileDragExit(const juce::StringArray&)
{
    fileDragHover_ = false;
    requestRepaint();
}

void VeskSamplerPoolRow::filesDropped(const juce::StringArray& files, int, int)
{
    fileDragHover_ = false;
    requestRepaint();
    if (backend_ == nullptr)
        return;
    for (const juce::String& f : files)
        if (rl::isWavFile(f))
            backend_->SendLoadToPool(uint32_t(pool_), f.toStdString());
}

// ---------------------------------------------------------------------------------------------
// Waveform mouse

void VeskSamplerPoolRow::sendRegion(rl::Region r)
{
    if (onRegionChanged)
        onRegionChanged(pool_, shownSample_, r.start, uint64_t(r.length));
}

void VeskSamplerPoolRow::mouseDown(const juce::MouseEvent& e)
{
    const auto area = waveArea();
    if (!area.contains(e.getPosition()) || !hasSamples() || e.mods.isPopupMenu())
        return;
    if (e.mods.isAltDown()) {
        if (stateFileFrames_ == 0)
            return; // a missing file has no region to edit
        localRegion_.dragStartRegion = shownRegion();
        localRegion_.dragStartX = e.position.x;
        localRegion_.dragging = true;
        return;
    }
    if (e.position.y - float(area.getY()) < float(L::kFadeGrab)) {
        fadeHandle_ = e.position.x < float(area.getCentreX()) ? 0 : 1;
        fadeDragStartX_ = e.position.x;
        fadeDragStartValue_ = fadeHandle_ == 0 ? shownFadeIn() : shownFadeOut();
        fadeDragValue_ = fadeDragStartValue_;
        requestRepaint(area);
    }
}

void VeskSamplerPoolRow::mouseDrag(const juce::MouseEvent& e)
{
    const float width = float(waveArea().getWidth());
    if (localRegion_.dragging) {
        const rl::Region r =
            rl::dragRegion(localRegion_.dragStartRegion, e.position.x - localRegion_.dragStartX,
                           width, stateFileFrames_);
        if (!localRegion_.active || !(r == localRegion_.region)) {
            localRegion_.region = r;
            localRegion_.fileFrames = stateFileFrames_;
            localRegion_.active = true;
            localRegionSince_ = pendingClockMs();
            requestRepaint(waveArea());
        }
        return;
    }
    if (fadeHandle_ >= 0) {
        const float v = rl::dragFade(fadeDragStartValue_, e.position.x - fadeDragStartX_, width,
                                     fadeHandle_ == 0);
        if (v != fadeDragValue_) {
            fadeDragValue_ = v;
            requestRepaint(waveArea());
        }
    }
}

void VeskSamplerPoolRow::mouseUp(const juce::MouseEvent&)
{
    if (localRegion_.dragging) {
        localRegion_.dragging = false;
        if (localRegion_.active) {
            const rl::Region r = rl::clampRegion(localRegion_.region.start,
                                                 localRegion_.region.length, stateFileFrames_);
            localRegion_.region = r;
            localRegionSince_ = pendingClockMs();
            if (!(r == localRegion_.dragStartRegion))
                sendRegion(r);
        }
        return;
    }
    if (fadeHandle_ >= 0) {
        const int handle = fadeHandle_;
        const float v = fadeDragValue_;
        fadeHandle_ = -1;
        if (v != fadeDragStartValue_) {
            (handle == 0 ? pendingFadeIn_ : pendingFadeOut_).set(v, pendingClockMs());
            if (handle == 0 && onFadeInChanged)
                onFadeInChanged(pool_, v);
            if (handle == 1 && onFadeOutChanged)
                onFadeOutChanged(pool_, v);
        }
        requestRepaint(waveArea());
    }
}

void VeskSamplerPoolRow::mouseMove(const juce::MouseEvent& e)
{
    const auto area = waveArea();
    const bool resize =
        fadeHandle_ >= 0 || (hasSamples() && area.contains(e.getPosition()) &&
                             e.position.y - float(area.getY()) < float(L::kFadeCursor));
    const auto cursor =
        resize ? juce::MouseCursor::LeftRightResizeCursor : juce::MouseCursor::NormalCursor;
    if (cursor != cursor_) {
        cursor_ = cursor;
        setMouseCursor(cursor);
    }
}

void VeskSamplerPoolRow::mouseWheelMove(const juce::MouseEvent& e,
                                        const juce::MouseWheelDetails& wheel)
{
    if (!e.mods.isAltDown() || !hasSamples() || !waveArea().contains(e.getPosition()) ||
        stateFileFrames_ == 0 || wheel.deltaY == 0.0f) {
        juce::Component::mouseWheelMove(e, wheel); // the list scrolls
        return;
    }
    const rl::Region r =
        rl::wheelRegion(shownRegion(), wheel.deltaY > 0.0f ? 1 : -1, stateFileFrames_);
    localRegion_.region = r;
    localRegion_.fileFrames = stateFileFrames_;
    localRegion_.active = true;
    localRegionSince_ = pendingClockMs();
    sendRegion(r);
    requestRepaint(waveArea());
}

// ---------------------------------------------------------------------------------------------
// Painting

void VeskSamplerPoolRow::paint(juce::Graphics& g)
{
    const juce::Colour bg = findColour(juce::ResizableWindow::backgroundColourId);
    const juce::Colour text = findColour(juce::Label::textColourId);

    // 1. Body.
    const auto body = getLocalBounds().toFloat().reduced(2.0f);
    g.setColour(fileDragHover_ ? colour(C::kDropHover) : bg.brighter(0.05f));
    g.fillRoundedRectangle(body, 4.0f);
    if (fileDragHover_) {
        g.setColour(colour(C::kDropOutline));
        g.drawRoundedRectangle(body, 4.0f, 2.0f);
    } else if (highlightStrength_ > 0.0f) {
        g.setColour(highlight_.withMultipliedAlpha(highlightStrength_));
        g.drawRoundedRectangle(body, 4.0f, 1.5f);
    } else {
        g.setColour(bg.brighter(0.15f));
        g.drawRoundedRectangle(body, 4.0f, 1.0f);
    }

    // 2. Waveform area.
    const auto area = waveArea().toFloat();
    const bool samples = hasSamples();
    g.setColour(samples ? bg.brighter(0.02f) : bg.darker(0.1f));
    g.fillRoundedRectangle(area, 4.0f);
    g.setColour(bg.brighter(samples ? 0.1f : 0.02f));
    g.drawRoundedRectangle(area, 4.0f, 1.0f);

    const auto wave = area.withTrimmedBottom(float(L::kInfoStrip));
    if (state_.durationMs > 0.0f) {
        // 3. Waveform.
        g.saveState();
        g.reduceClipRegion(wave.toNearestInt());
        const float gain = std::min(rl::displayGain(state_), 1.0f);
        const float half = 0.45f * wave.getHeight() * gain;
        const float centre = wave.getCentreY();
        const int columns = std::min(L::kMaxWaveColumns, std::max(1, int(wave.getWidth())));
        std::array<float, L::kMaxWaveColumns> col{};
        const rl::Region region = shownRegion();
        rl::waveColumns(peaks_.data(), vesk::kDisplayPeaks, state_.overview.points,
                        vesk::kOverviewPeaks, localRegion_.active, region,
                        localRegion_.active ? localRegion_.fileFrames : stateFileFrames_,
                        col.data(), columns);
        juce::Path outline;
        bool started = false;
        const float dx = wave.getWidth() / float(columns);
        for (int c = 0; c < columns; ++c) {
            if (col[size_t(c)] < 0.0f)
                continue;
            const float x = wave.getX() + (float(c) + 0.5f) * dx;
            const float y = centre - half * std::min(col[size_t(c)], 1.0f);
            if (!started)
                outline.startNewSubPath(x, y);
            else
                outline.lineTo(x, y);
            started = true;
        }
        for (int c = columns - 1; started && c >= 0; --c) {
            if (col[size_t(c)] < 0.0f)
                continue;
            outline.lineTo(wave.getX() + (float(c) + 0.5f) * dx,
                           centre + half * std::min(col[size_t(c)], 1.0f));
        }
        if (started) {
            outline.closeSubPath();
            g.setColour(colour(C::kWaveFill));
            g.fillPath(outline);
            g.setColour(colour(C::kWaveLine));
            g.strokePath(outline, juce::PathStrokeType(0.75f));
        }

        // Fades and their handles.
        const float fin = std::clamp(shownFadeIn(), 0.0f, 0.5f);
        const float fout = std::clamp(shownFadeOut(), 0.0f, 0.5f);
        const float xin = wave.getX() + fin * wave.getWidth();
        const float xout = wave.getRight() - fout * wave.getWidth();
        if (fin > 0.0f) {
            juce::Path t;
            t.addTriangle(wave.getX(), wave.getY(), xin, wave.getY(), wave.getX(),
                          wave.getBottom());
            g.setGradientFill(juce::ColourGradient(colour(C::kFadeFill), wave.getX(), 0.0f,
                                                   colour(C::kFadeFill).withAlpha(0.0f), xin, 0.0f,
                                                   false));
            g.fillPath(t);
        }
        if (fout > 0.0f) {
            juce::Path t;
            t.addTriangle(wave.getRight(), wave.getY(), xout, wave.getY(), wave.getRight(),
                          wave.getBottom());
            g.setGradientFill(juce::ColourGradient(colour(C::kFadeFill), wave.getRight(), 0.0f,
                                                   colour(C::kFadeFill).withAlpha(0.0f), xout, 0.0f,
                                                   false));
            g.fillPath(t);
        }
        auto handle = [&](float x, bool on) {
            juce::Path t;
            t.addTriangle(x - 4.0f, wave.getY(), x + 4.0f, wave.getY(), x, wave.getY() + 6.0f);
            g.setColour(colour(on ? C::kAccent : C::kFadeHandleIdle));
            g.fillPath(t);
        };
        handle(std::max(xin, wave.getX() + 4.0f), fin > 0.0f);
        handle(std::min(xout, wave.getRight() - 4.0f), fout > 0.0f);

        // Position line.
        const float pos = rl::positionLine(state_, playing_);
        const float px = wave.getX() + pos * wave.getWidth();
        g.setColour(juce::Colours::white);
        g.drawLine(px, wave.getY(), px, wave.getBottom(), 1.0f);
        g.restoreState();

        // Info strip.
        g.setColour(colour(C::kInfoLine));
        g.drawHorizontalLine(int(wave.getBottom()), area.getX(), area.getRight());
        g.setColour(colour(C::kInfoText));
        g.setFont(juce::Font(9.0f));
        const int ms = int(state_.durationMs);
        const int at = int(pos * state_.durationMs);
        g.drawText(juce::String(at) + " / " + juce::String(ms) + " ms",
                   juce::Rectangle<float>(area.getX() + 3.0f, wave.getBottom(),
                                          area.getWidth() - 6.0f, float(L::kInfoStrip)),
                   juce::Justification::centredLeft, false);
    } else {
        // 4. No waveform: the count.
        g.setColour(text.withAlpha(samples ? 0.3f : 0.15f));
        g.setFont(juce::Font(11.0f));
        g.drawText(juce::String(std::max(0, state_.sampleCount)) + "/64", area,
                   juce::Justification::centred, false);
    }

    // 5. Mute and solo overlays.
    if (audible_ == AudibleState::SoloedOut) {
        g.setColour(colour(C::kSoloedOut));
        g.fillRect(wave);
    } else if (audible_ == AudibleState::Muted) {
        g.setColour(colour(C::kMuted));
        g.fillRect(wave);
        g.setColour(colour(C::kMuteText));
        g.setFont(juce::Font(16.0f, juce::Font::bold));
        g.drawText("MUTE", wave, juce::Justification::centred, false);
    }
}
