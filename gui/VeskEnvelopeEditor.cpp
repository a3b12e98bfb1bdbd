#include "VeskEnvelopeEditor.h"

#include "VeskEnvelopePresets.h"

#include <algorithm>
#include <cmath>

namespace vesk::gui::envelope {

namespace {
constexpr float kLn1000 = 6.907755278982137f;

float clamp01(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}
} // namespace

Scale scaleFor(int tab)
{
    switch (tab) {
    case kPan:
        return {-100.0f, 100.0f, 0.0f, false};
    case kHpf:
        return {0.0f, 20000.0f, 0.0f, true};
    case kLpf:
        return {0.0f, 20000.0f, 20000.0f, true};
    case kVol:
    case kPitch:
    default:
        return {-12.0f, 12.0f, 0.0f, false};
    }
}

const char* tabName(int tab)
{
    static const char* const names[kNumTabs] = {"Vol", "Pan", "Pitch", "HPF", "LPF"};
    return tab >= 0 && tab < kNumTabs ? names[tab] : "";
}

float valueToNorm(int tab, float v)
{
    const Scale s = scaleFor(tab);
    if (!std::isfinite(v))
        return valueToNorm(tab, s.neutral);
    if (s.filter) {
        if (v <= 20.0f)
            return 0.0f;
        if (v >= 20000.0f)
            return 1.0f;
        return std::log(v / 20.0f) / kLn1000;
    }
    return clamp01((v - s.min) / (s.max - s.min));
}

float normToValue(int tab, float p)
{
    const Scale s = scaleFor(tab);
    p = std::isfinite(p) ? clamp01(p) : 0.0f;
    if (s.filter)
        return p > 0.0f ? std::min(20.0f * std::pow(1000.0f, p), 20000.0f) : 0.0f;
    return s.min + p * (s.max - s.min);
}

bool sameEnvelope(const vesk::EnvelopeData& a, const vesk::EnvelopeData& b)
{
    if (a.count != b.count || a.enabled != b.enabled)
        return false;
    const uint32_t n = std::min<uint32_t>(a.count, vesk::kMaxEnvelopePoints);
    for (uint32_t i = 0; i < n; ++i)
        if (a.points[i].x != b.points[i].x || a.points[i].y != b.points[i].y)
            return false;
    return true;
}

int insertPoint(vesk::EnvelopeData& env, float x, float y)
{
    const uint32_t n = std::min<uint32_t>(env.count, vesk::kMaxEnvelopePoints);
    if (n >= uint32_t(vesk::kMaxEnvelopePoints))
        return -1;
    uint32_t at = n;
    for (uint32_t i = 0; i < n; ++i)
        if (env.points[i].x > x) {
            at = i;
            break;
        }
    for (uint32_t i = n; i > at; --i)
        env.points[i] = env.points[i - 1];
    env.points[at] = {clamp01(x), y};
    env.count = n + 1;
    env.enabled = true;
    return int(at);
}

bool removePoint(vesk::EnvelopeData& env, int i)
{
    const int n = int(std::min<uint32_t>(env.count, vesk::kMaxEnvelopePoints));
    if (i < 0 || i >= n)
        return false;
    for (int k = i; k + 1 < n; ++k)
        env.points[k] = env.points[k + 1];
    env.points[n - 1] = {};
    env.count = uint32_t(n - 1);
    if (env.count == 0)
        env.enabled = false;
    return true;
}

Limits dragLimits(const vesk::EnvelopeData& env, int i)
{
    const int n = int(std::min<uint32_t>(env.count, vesk::kMaxEnvelopePoints));
    auto finiteX = [&](int k, float fallback) {
        const float x = env.points[k].x;
        return std::isfinite(x) ? clamp01(x) : fallback;
    };
    const float prev = i > 0 && i - 1 < n ? finiteX(i - 1, 0.0f) : 0.0f;
    const float next = i + 1 < n ? finiteX(i + 1, 1.0f) : 1.0f;
    float lo = i > 0 ? clamp01(prev + 0.001f) : 0.0f;
    float hi = i + 1 < n ? clamp01(next - 0.001f) : 1.0f;
    if (hi < lo) {
        // Neighbours too close together (or out of order): the point stays between them.
        const float mid = clamp01(0.5f * (prev + next));
        lo = hi = mid;
    }
    return {lo, hi};
}

Clipboard& clipboard()
{
    static Clipboard shared;
    return shared;
}

void copyTo(Clipboard& clip, const vesk::EnvelopeData& env, int tab)
{
    const uint32_t n = std::min<uint32_t>(env.count, vesk::kMaxEnvelopePoints);
    clip.count = n;
    clip.hasContent = n != 0;
    for (uint32_t i = 0; i < n; ++i)
        clip.points[i] = {clamp01(env.points[i].x), valueToNorm(tab, env.points[i].y)};
}

vesk::EnvelopeData pasteFrom(const Clipboard& clip, int tab)
{
    vesk::EnvelopeData env;
    env.count = std::min<uint32_t>(clip.count, vesk::kMaxEnvelopePoints);
    for (uint32_t i = 0; i < env.count; ++i)
        env.points[i] = {clamp01(clip.points[i].x), normToValue(tab, clip.points[i].y)};
    env.enabled = env.count != 0;
    return env;
}

vesk::EnvelopeData presetEnvelope(int preset, int tab)
{
    vesk::EnvelopeData env;
    if (preset < 0 || preset >= kNumEnvelopePresets)
        return env;
    const EnvelopePreset& p = kEnvelopePresets[preset];
    env.count = std::min<uint32_t>(p.count, EnvelopePreset::kMaxPoints);
    for (uint32_t i = 0; i < env.count; ++i)
        env.points[i] = {p.points[i].x, normToValue(tab, p.points[i].y)};
    env.enabled = env.count != 0;
    return env;
}

} // namespace vesk::gui::envelope

namespace {

namespace env = vesk::gui::envelope;
constexpr int kTabHeight = 18;
constexpr int kPlotTop = 20;
constexpr float kHitRadius = 8.0f;
const juce::Colour kCurve(0xffff8844);
const juce::Colour kCurveOff(0xff555555);
const juce::Colour kTabOn(0xff60b0f0);
const juce::Colour kPlayHead(0xffffcc66);

uint32_t pointCount(const vesk::EnvelopeData& e)
{
    return std::min<uint32_t>(e.count, vesk::kMaxEnvelopePoints);
}

} // namespace

VeskEnvelopeEditor::VeskEnvelopeEditor(int pool) : pool_(pool)
{
    setMouseCursor(juce::MouseCursor::CrosshairCursor);
    envs_[env::kLpf].enabled = false;
}

VeskEnvelopeEditor::~VeskEnvelopeEditor() = default;

void VeskEnvelopeEditor::requestRepaint()
{
    ++repaintRequests_;
    repaint();
}

// ---------------------------------------------------------------------------------------------
// From the engine

void VeskEnvelopeEditor::updateFromState(const vesk::EnvelopeData& vol,
                                         const vesk::EnvelopeData& pan,
                                         const vesk::EnvelopeData& pitch,
                                         const vesk::EnvelopeData& hpf,
                                         const vesk::EnvelopeData& lpf, float hpfBase,
                                         float lpfBase, float playPosition, bool playing)
{
    if (dragIndex_ >= 0)
        return;
    const vesk::EnvelopeData* incoming[5] = {&vol, &pan, &pitch, &hpf, &lpf};
    const double now = vesk::gui::pendingClockMs();
    bool changed = false;
    for (int t = 0; t < env::kNumTabs; ++t) {
        if (pending_[size_t(t)].offer(*incoming[t], now, env::sameEnvelope))
            continue;
        if (!env::sameEnvelope(envs_[size_t(t)], *incoming[t])) {
            envs_[size_t(t)] = *incoming[t];
            envs_[size_t(t)].count = pointCount(*incoming[t]);
            changed = changed || t == activeTab_;
        }
    }
    const vesk::EnvelopeData& active = activeData();
    const bool baseShows = isFilterTab() && pointCount(active) == 0;
    hpfBase = std::isfinite(hpfBase) ? hpfBase : 0.0f;
    lpfBase = std::isfinite(lpfBase) ? lpfBase : 20000.0f;
    if (baseShows && (hpfBase != hpfBase_ || lpfBase != lpfBase_))
        changed = true;
    hpfBase_ = hpfBase;
    lpfBase_ = lpfBase;
    playPosition = std::isfinite(playPosition) ? std::clamp(playPosition, 0.0f, 1.0f) : 0.0f;
    const bool headShows = active.active();
    if (headShows && (playing != playing_ || (playing && playPosition != playPosition_)))
        changed = true;
    playPosition_ = playPosition;
    playing_ = playing;
    if (changed)
        requestRepaint();
}

void VeskEnvelopeEditor::setFilterBaseFreq(float hpf, float lpf)
{
    if (!std::isfinite(hpf) || !std::isfinite(lpf))
        return;
    const bool changed = hpf != hpfBase_ || lpf != lpfBase_;
    hpfBase_ = hpf;
    lpfBase_ = lpf;
    if (changed && isFilterTab() && pointCount(activeData()) == 0)
        requestRepaint();
}

void VeskEnvelopeEditor::setDimmed(bool dimmed)
{
    if (dimmed == dimmed_)
        return;
    dimmed_ = dimmed;
    setInterceptsMouseClicks(!dimmed, !dimmed);
    if (dimmed && dragIndex_ >= 0) {
        dragIndex_ = -1;
        pending_[activeTab_].set(activeData(), vesk::gui::pendingClockMs());
    }
    requestRepaint();
}

void VeskEnvelopeEditor::setActiveTab(int tab)
{
    if (tab < 0 || tab >= env::kNumTabs || tab == activeTab_)
        return;
    activeTab_ = uint8_t(tab);
    hoverIndex_ = -1;
    requestRepaint();
}

// ---------------------------------------------------------------------------------------------
// Geometry

void VeskEnvelopeEditor::resized()
{
    const int w = getWidth();
    const int tw = w / 5;
    for (int i = 0; i < 5; ++i)
        tabs_[size_t(i)] = {i * tw, 0, i == 4 ? w - 4 * tw : tw, kTabHeight};
    plot_ = juce::Rectangle<float>(0.0f, float(kPlotTop), float(w),
                                   float(std::max(0, getHeight() - kPlotTop)));
}

float VeskEnvelopeEditor::currentMin() const
{
    return env::scaleFor(activeTab_).min;
}

float VeskEnvelopeEditor::currentMax() const
{
    return env::scaleFor(activeTab_).max;
}

float VeskEnvelopeEditor::timeToX(float t) const
{
    return plot_.getX() + t * plot_.getWidth();
}

float VeskEnvelopeEditor::xToTime(float x) const
{
    if (plot_.getWidth() <= 0.0f)
        return 0.0f;
    return std::clamp((x - plot_.getX()) / plot_.getWidth(), 0.0f, 1.0f);
}

float VeskEnvelopeEditor::valueToY(float v) const
{
    return plot_.getBottom() - env::valueToNorm(activeTab_, v) * plot_.getHeight();
}

float VeskEnvelopeEditor::yToValue(float y) const
{
    const float p = plot_.getHeight() > 0.0f ? (plot_.getBottom() - y) / plot_.getHeight() : 0.0f;
    return env::normToValue(activeTab_, std::clamp(p, 0.0f, 1.0f));
}

juce::Point<float> VeskEnvelopeEditor::pointPosition(int i) const
{
    const vesk::EnvelopePoint& p = activeData().points[i];
    const float x = std::isfinite(p.x) ? std::clamp(p.x, 0.0f, 1.0f) : 0.0f;
    return {timeToX(x), valueToY(p.y)};
}

int VeskEnvelopeEditor::findPointAt(float x, float y, float radius) const
{
    const int n = int(pointCount(activeData()));
    for (int i = 0; i < n; ++i)
        if (pointPosition(i).getDistanceFrom({x, y}) <= radius)
            return i;
    return -1;
}

float VeskEnvelopeEditor::baseLevel() const
{
    if (activeTab_ == env::kHpf)
        return hpfBase_;
    if (activeTab_ == env::kLpf)
        return lpfBase_;
    return env::scaleFor(activeTab_).neutral;
}

// The curve's height 0..1 at time t, as drawn (linear on the screen).
float VeskEnvelopeEditor::curveValueAt(float t) const
{
    const vesk::EnvelopeData& e = activeData();
    const int n = int(pointCount(e));
    auto norm = [&](int i) { return env::valueToNorm(activeTab_, e.points[i].y); };
    if (n == 0)
        return env::valueToNorm(activeTab_, baseLevel());
    const float x0 = e.points[0].x;
    if (t <= x0) {
        const float start = x0 < 0.005f ? norm(0) : env::valueToNorm(activeTab_, baseLevel());
        if (x0 <= 0.0f)
            return norm(0);
        return start + (norm(0) - start) * (t / x0);
    }
    for (int i = 0; i + 1 < n; ++i) {
        const float a = e.points[i].x, b = e.points[i + 1].x;
        if (t >= a && t <= b)
            return b > a ? norm(i) + (norm(i + 1) - norm(i)) * (t - a) / (b - a) : norm(i + 1);
    }
    return norm(n - 1);
}

// ---------------------------------------------------------------------------------------------
// Edits

void VeskEnvelopeEditor::notifyChanged()
{
    const Callback* callbacks[5] = {&onVolEnvelope, &onPanEnvelope, &onPitchEnvelope,
                                    &onHpfEnvelope, &onLpfEnvelope};
    if (*callbacks[activeTab_])
        (*callbacks[activeTab_])(pool_, activeData());
}

void VeskEnvelopeEditor::commitActiveData()
{
    pending_[activeTab_].set(activeData(), vesk::gui::pendingClockMs());
    notifyChanged();
    requestRepaint();
}

void VeskEnvelopeEditor::mouseDown(const juce::MouseEvent& e)
{
    if (dimmed_)
        return;
    const bool right = e.mods.isPopupMenu();
    if (e.position.y < float(kPlotTop) && dragIndex_ < 0) {
        for (int t = 0; t < env::kNumTabs; ++t) {
            if (!tabs_[size_t(t)].toFloat().contains(e.position))
                continue;
            if (!right) {
                setActiveTab(t);
            } else if (pointCount(envs_[size_t(t)]) > 0) {
                envs_[size_t(t)].enabled = !envs_[size_t(t)].enabled;
                activeTab_ = uint8_t(t);
                hoverIndex_ = -1;
                commitActiveData();
            }
            return;
        }
        return;
    }
    if (!plot_.contains(e.position))
        return;
    const int hit = findPointAt(e.position.x, e.position.y, kHitRadius);
    if (right) {
        if (hit >= 0) {
            env::removePoint(activeData(), hit);
            hoverIndex_ = -1;
            commitActiveData();
        } else {
            openContextMenu(e.getPosition());
        }
        return;
    }
    dragChanged_ = false;
    if (hit >= 0) {
        dragIndex_ = hit;
        return;
    }
    const int at = env::insertPoint(activeData(), xToTime(e.position.x), yToValue(e.position.y));
    if (at < 0) {
        // A full envelope takes no point and drags nothing; it is still reported, unchanged.
        notifyChanged();
        return;
    }
    dragIndex_ = at;
    hoverIndex_ = at;
    dragChanged_ = true; // the insertion is the edit; the release confirms it
    notifyChanged();
    requestRepaint();
}

void VeskEnvelopeEditor::mouseDrag(const juce::MouseEvent& e)
{
    vesk::EnvelopeData& d = activeData();
    if (dragIndex_ < 0 || dragIndex_ >= int(pointCount(d)))
        return;
    const env::Limits lim = env::dragLimits(d, dragIndex_);
    const float x = std::clamp(xToTime(e.position.x), lim.lo, lim.hi);
    const float y = std::clamp(yToValue(e.position.y), currentMin(), currentMax());
    vesk::EnvelopePoint& p = d.points[dragIndex_];
    if (p.x == x && p.y == y)
        return;
    p = {x, y};
    dragChanged_ = true;
    hoverIndex_ = dragIndex_;
    requestRepaint();
}

void VeskEnvelopeEditor::mouseUp(const juce::MouseEvent& e)
{
    if (dragIndex_ < 0)
        return;
    dragIndex_ = -1;
    if (!dragChanged_)
        return;
    dragChanged_ = false;
    pending_[activeTab_].set(activeData(), vesk::gui::pendingClockMs());
    if (e.mouseWasDraggedSinceMouseDown())
        notifyChanged();
    requestRepaint();
}

void VeskEnvelopeEditor::mouseDoubleClick(const juce::MouseEvent& e)
{
    if (dimmed_ || e.mods.isPopupMenu() || !plot_.contains(e.position))
        return;
    const int hit = findPointAt(e.position.x, e.position.y, kHitRadius);
    if (hit < 0)
        return;
    dragIndex_ = -1;
    dragChanged_ = false;
    activeData().points[hit].y = env::scaleFor(activeTab_).neutral;
    commitActiveData();
}

void VeskEnvelopeEditor::mouseMove(const juce::MouseEvent& e)
{
    const int hit =
        plot_.contains(e.position) ? findPointAt(e.position.x, e.position.y, kHitRadius) : -1;
    if (hit != hoverIndex_) {
        hoverIndex_ = hit;
        requestRepaint();
    }
    setMouseCursor(plot_.contains(e.position) ? juce::MouseCursor::CrosshairCursor
                                              : juce::MouseCursor::NormalCursor);
}

void VeskEnvelopeEditor::mouseExit(const juce::MouseEvent&)
{
    if (hoverIndex_ >= 0 && dragIndex_ < 0) {
        hoverIndex_ = -1;
        requestRepaint();
    }
}

// ---------------------------------------------------------------------------------------------
// Context menu

juce::PopupMenu VeskEnvelopeEditor::buildContextMenu() const
{
    const bool hasPoints = pointCount(activeData()) > 0;
    juce::PopupMenu menu;
    menu.addItem(kCopy, "Copy", hasPoints);
    menu.addItem(kPaste, "Paste", env::clipboard().hasContent);
    menu.addSeparator();
    juce::PopupMenu presets;
    for (int n = 0; n < vesk::gui::kNumEnvelopePresets;) {
        const char* category = vesk::gui::kEnvelopePresets[n].category;
        juce::PopupMenu sub;
        while (n < vesk::gui::kNumEnvelopePresets &&
               juce::String(vesk::gui::kEnvelopePresets[n].category) == category) {
            sub.addItem(kPresetBase + n, vesk::gui::kEnvelopePresets[n].name);
            ++n;
        }
        presets.addSubMenu(category, sub);
    }
    menu.addSubMenu("Presets", presets);
    menu.addSeparator();
    menu.addItem(kClearAll, "Clear All", hasPoints);
    return menu;
}

void VeskEnvelopeEditor::openContextMenu(juce::Point<int> at)
{
    const int tab = activeTab_;
    juce::Component::SafePointer<VeskEnvelopeEditor> self(this);
    // At the mouse, inside the editor's window (not a window of its own on the desktop).
    buildContextMenu().showMenuAsync(
        juce::PopupMenu::Options()
            .withTargetComponent(this)
            .withTargetScreenArea(
                getScreenBounds().withPosition(getScreenPosition() + at).withSize(1, 1))
            .withParentComponent(getTopLevelComponent()),
        [self, tab](int id) {
            if (self != nullptr && id != 0)
                self->applyMenuResult(id, tab);
        });
}

void VeskEnvelopeEditor::applyMenuResult(int id, int tab)
{
    if (tab < 0 || tab >= env::kNumTabs || dragIndex_ >= 0)
        return;
    vesk::EnvelopeData& d = envs_[size_t(tab)];
    vesk::EnvelopeData next = d;
    if (id == kCopy) {
        env::copyTo(env::clipboard(), d, tab);
        return;
    }
    if (id == kPaste) {
        if (!env::clipboard().hasContent)
            return;
        next = env::pasteFrom(env::clipboard(), tab);
    } else if (id == kClearAll) {
        next = {};
    } else if (id >= kPresetBase && id < kPresetBase + vesk::gui::kNumEnvelopePresets) {
        next = env::presetEnvelope(id - kPresetBase, tab);
    } else {
        return;
    }
    d = next;
    const uint8_t previous = activeTab_;
    activeTab_ = uint8_t(tab);
    hoverIndex_ = -1;
    commitActiveData();
    activeTab_ = previous;
}

// ---------------------------------------------------------------------------------------------
// Painting

void VeskEnvelopeEditor::paint(juce::Graphics& g)
{
    const juce::Colour bg = findColour(juce::ResizableWindow::backgroundColourId);
    const juce::Colour text = findColour(juce::Label::textColourId);

    // 1. Tabs.
    g.setFont(juce::Font(11.0f));
    for (int t = 0; t < env::kNumTabs; ++t) {
        const auto r = tabs_[size_t(t)].toFloat();
        g.setColour(bg.darker(0.05f));
        g.fillRoundedRectangle(r, 3.0f);
        if (t == activeTab_) {
            g.setColour(kTabOn.withAlpha(0.6f));
            g.drawRoundedRectangle(r.reduced(1.0f), 2.0f, 1.0f);
        }
        const vesk::EnvelopeData& e = envs_[size_t(t)];
        g.setColour(pointCount(e) == 0 ? text.withAlpha(0.5f)
                    : e.enabled        ? kCurve
                                       : text.withAlpha(0.35f));
        g.drawText(env::tabName(t), tabs_[size_t(t)], juce::Justification::centred, false);
    }

    // 2. Plot.
    g.setColour(bg.darker(0.1f));
    g.fillRoundedRectangle(plot_, 4.0f);
    g.setColour(bg.brighter(0.08f));
    g.drawRoundedRectangle(plot_, 4.0f, 1.0f);

    // 3. Grid and labels.
    auto hline = [&](float v, float alpha) {
        const float y = valueToY(v);
        g.setColour(text.withAlpha(alpha));
        g.drawHorizontalLine(int(std::round(y)), plot_.getX(), plot_.getRight());
    };
    auto label = [&](const char* s, float centreY) {
        g.setColour(text.withAlpha(0.3f));
        g.setFont(juce::Font(9.0f));
        g.drawText(s, juce::Rectangle<float>(plot_.getX() + 2.0f, centreY - 6.0f, 30.0f, 12.0f),
                   juce::Justification::centredLeft, false);
    };
    if (isFilterTab()) {
        hline(100.0f, 0.06f);
        hline(1000.0f, 0.15f);
        hline(10000.0f, 0.06f);
        label("10k", valueToY(10000.0f));
        label("1k", valueToY(1000.0f));
        label("100", valueToY(100.0f));
    } else {
        const float q = 0.25f * (currentMax() - currentMin());
        hline(-q, 0.06f);
        hline(0.0f, 0.15f);
        hline(q, 0.06f);
        const bool pan = activeTab_ == env::kPan;
        label(pan ? "+100" : "+12", plot_.getY() + 6.0f);
        label(pan ? "-100" : "-12", plot_.getBottom() - 6.0f);
    }

    const vesk::EnvelopeData& e = activeData();
    const int n = int(pointCount(e));
    if (n == 0) {
        // 4. Empty: the base level, dashed.
        const float y = valueToY(baseLevel());
        const float dashes[] = {4.0f, 4.0f};
        g.setColour(kCurve.withAlpha(0.3f));
        g.drawDashedLine(juce::Line<float>(plot_.getX(), y, plot_.getRight(), y), dashes, 2, 1.0f);
    } else {
        // 5. Curve.
        const juce::Colour curve = (e.enabled ? kCurve : kCurveOff).withAlpha(0.8f);
        juce::Path path;
        const auto first = pointPosition(0);
        const float startY = e.points[0].x < 0.005f ? first.y : valueToY(baseLevel());
        path.startNewSubPath(plot_.getX(), startY);
        for (int i = 0; i < n; ++i)
            path.lineTo(pointPosition(i));
        path.lineTo(plot_.getRight(), pointPosition(n - 1).y);
        g.setColour(curve);
        g.strokePath(path, juce::PathStrokeType(1.5f));

        // 6. Points.
        for (int i = 0; i < n; ++i) {
            const float d = i == hoverIndex_ ? 7.0f : 5.0f;
            const auto r = juce::Rectangle<float>(d, d).withCentre(pointPosition(i));
            g.setColour(curve.withAlpha(1.0f));
            g.fillEllipse(r);
            g.setColour(juce::Colours::white.withAlpha(0.9f));
            g.drawEllipse(r, 1.0f);
        }

        // 7. Play head with its trail.
        if (playing_ && e.enabled) {
            auto at = [&](float t) {
                return juce::Point<float>(timeToX(t),
                                          plot_.getBottom() - curveValueAt(t) * plot_.getHeight());
            };
            for (int k = 1; k <= 12; ++k) {
                const float f = 1.0f - float(k) / 12.0f;
                const float w = 3.0f * f;
                const float t0 = playPosition_ - float(k) * 0.005f;
                if (w < 0.5f || t0 < 0.0f)
                    continue;
                g.setColour(kPlayHead.withAlpha(f * f * 0.5f));
                g.drawLine(juce::Line<float>(at(t0), at(t0 + 0.005f)), w);
            }
            const auto head = at(playPosition_);
            g.setColour(kPlayHead.withAlpha(0.35f));
            g.fillEllipse(juce::Rectangle<float>(14.0f, 14.0f).withCentre(head));
            g.setColour(juce::Colour(0xffffffee).withAlpha(0.9f));
            g.fillEllipse(juce::Rectangle<float>(5.0f, 5.0f).withCentre(head));
        }
    }

    // 8. Dimmed.
    if (dimmed_)
        g.fillAll(juce::Colour(0xa0101010));
}
