// The pool row's five breakpoint envelopes, one per tab ("Vol", "Pan", "Pitch", "HPF", "LPF"):
// points added, moved, reset and removed with the mouse, envelopes switched on and off, shapes
// copied and pasted between envelopes and rows through one clipboard of the process, and the 28
// shape presets. Every change reports the whole envelope through the tab's callback; envelopes
// from the snapshot never notify.
#pragma once

#include "VeskPendingValue.h"

#include "engine/SamplePool.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <functional>

namespace vesk::gui::envelope {

// The envelope maths, without a display. [main thread]

enum Tab : uint8_t
{
    kVol = 0,
    kPan = 1,
    kPitch = 2,
    kHpf = 3,
    kLpf = 4,
    kNumTabs = 5
};

struct Scale
{
    float min, max, neutral;
    bool filter; // log-frequency mapping
};
Scale scaleFor(int tab);
const char* tabName(int tab);

// Vertical position 0 (bottom) .. 1 (top) of a value on the tab's scale, and back.
float valueToNorm(int tab, float v);
float normToValue(int tab, float p);

bool sameEnvelope(const vesk::EnvelopeData& a, const vesk::EnvelopeData& b);

// Inserts a point in x order; -1 (nothing changed) when the envelope is full. A disabled
// envelope becomes enabled with its first point.
int insertPoint(vesk::EnvelopeData& env, float x, float y);
// Removes point i (ignored for an invalid index); an envelope left empty is disabled.
bool removePoint(vesk::EnvelopeData& env, int i);

// The range point i may be dragged across: 0.001 inside its neighbours, never crossing (the
// upper limit is never below the lower one) and always inside 0..1, also for neighbours closer
// than 0.002 or points out of order.
struct Limits
{
    float lo, hi;
};
Limits dragLimits(const vesk::EnvelopeData& env, int i);

// The clipboard shared by every envelope editor of the process: points normalised on both axes.
struct Clipboard
{
    vesk::EnvelopePoint points[vesk::kMaxEnvelopePoints] = {};
    uint32_t count = 0;
    bool hasContent = false;
};
Clipboard& clipboard();
// Copy the envelope as shown on tab's scale; an empty envelope empties the clipboard.
void copyTo(Clipboard& clip, const vesk::EnvelopeData& env, int tab);
// The clipboard's shape on tab's scale.
vesk::EnvelopeData pasteFrom(const Clipboard& clip, int tab);
// Preset n (table order) on tab's scale; an empty envelope for an invalid index.
vesk::EnvelopeData presetEnvelope(int preset, int tab);

} // namespace vesk::gui::envelope

class VeskEnvelopeEditor : public juce::Component
{
public:
    explicit VeskEnvelopeEditor(int pool);
    ~VeskEnvelopeEditor() override;

    using Callback = std::function<void(int pool, const vesk::EnvelopeData&)>;
    Callback onVolEnvelope, onPanEnvelope, onPitchEnvelope, onHpfEnvelope, onLpfEnvelope;

    void updateFromState(const vesk::EnvelopeData& vol, const vesk::EnvelopeData& pan,
                         const vesk::EnvelopeData& pitch, const vesk::EnvelopeData& hpf,
                         const vesk::EnvelopeData& lpf, float hpfBase, float lpfBase,
                         float playPosition, bool playing);
    void setFilterBaseFreq(float hpf, float lpf);
    void setDimmed(bool dimmed);
    bool isDimmed() const { return dimmed_; }
    // The host loaded a state: the next snapshot is shown as it is.
    void forgetPendingEdits()
    {
        for (auto& p : pending_)
            p.clear();
    }

    int activeTab() const { return activeTab_; }
    void setActiveTab(int tab);
    const vesk::EnvelopeData& envelope(int tab) const { return envs_[size_t(tab)]; }
    bool isDraggingPoint() const { return dragIndex_ >= 0; }

    // Context-menu ids, and the result applied to the tab that was active when it opened.
    enum MenuId
    {
        kCopy = 1,
        kPaste = 2,
        kClearAll = 3,
        kPresetBase = 100
    };
    juce::PopupMenu buildContextMenu() const;
    void applyMenuResult(int id, int tab);

    // Geometry.
    juce::Rectangle<float> plotArea() const { return plot_; }
    juce::Rectangle<int> tabBounds(int tab) const { return tabs_[size_t(tab)]; }
    float timeToX(float t) const;
    float xToTime(float x) const;
    float valueToY(float v) const;
    float yToValue(float y) const;
    juce::Point<float> pointPosition(int index) const;
    int findPointAt(float x, float y, float radius) const;
    int repaintRequests() const { return repaintRequests_; }

    void paint(juce::Graphics&) override;
    void resized() override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    void mouseMove(const juce::MouseEvent&) override;
    void mouseExit(const juce::MouseEvent&) override;
    void mouseDoubleClick(const juce::MouseEvent&) override;

private:
    bool isFilterTab() const { return activeTab_ >= vesk::gui::envelope::kHpf; }
    float currentMin() const;
    float currentMax() const;
    vesk::EnvelopeData& activeData() { return envs_[size_t(activeTab_)]; }
    const vesk::EnvelopeData& activeData() const { return envs_[size_t(activeTab_)]; }
    void notifyChanged();
    void commitActiveData();
    float baseLevel() const; // the value an empty envelope draws at
    void requestRepaint();
    void openContextMenu(juce::Point<int> at);
    float curveValueAt(float t) const;

    const int pool_;
    uint8_t activeTab_ = 0;
    std::array<vesk::EnvelopeData, 5> envs_{};
    std::array<vesk::gui::VeskPendingValue<vesk::EnvelopeData>, 5> pending_;
    juce::Rectangle<float> plot_;
    std::array<juce::Rectangle<int>, 5> tabs_;
    int dragIndex_ = -1;
    int hoverIndex_ = -1;
    bool dragChanged_ = false;
    float hpfBase_ = 0.0f, lpfBase_ = 20000.0f;
    float playPosition_ = 0.0f;
    bool playing_ = false;
    bool dimmed_ = false;
    int repaintRequests_ = 0;
};
