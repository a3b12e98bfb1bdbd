#include "VeskFxChainPresetPopup.h"

#include "VeskGuiLayout.h"

#include <algorithm>

namespace {

namespace pl = vesk::gui::layout::presets;

constexpr uint32_t kBackground = 0xff2d2d30;
constexpr uint32_t kBorder = 0xff3a3a3a;
constexpr uint32_t kRule = 0xff444444;
constexpr uint32_t kGreyText = 0xff888888;
constexpr uint32_t kHover = 0xff404040;

} // namespace

// ---------------------------------------------------------------------------------------------
// One preset

VeskFxChainPresetPopup::PresetRow::PresetRow(const juce::String& name) : name_(name)
{
    label_.setText(name, juce::dontSendNotification);
    label_.setColour(juce::Label::textColourId, juce::Colours::white);
    label_.setInterceptsMouseClicks(false, false);
    addAndMakeVisible(label_);
    delete_.setButtonText(juce::String::charToString(juce::juce_wchar(0x00D7)));
    delete_.setTooltip("Delete preset");
    delete_.onClick = [this] {
        if (onDeleteClicked)
            onDeleteClicked();
    };
    addAndMakeVisible(delete_);
}

void VeskFxChainPresetPopup::PresetRow::paint(juce::Graphics& g)
{
    if (hover_)
        g.fillAll(juce::Colour(kHover));
}

void VeskFxChainPresetPopup::PresetRow::resized()
{
    const int w = getWidth(), h = getHeight();
    delete_.setBounds(w - 6 - 26, (h - 26) / 2, 26, 26);
    label_.setBounds(6, 2, std::max(0, w - 42), std::max(0, h - 4));
}

void VeskFxChainPresetPopup::PresetRow::mouseEnter(const juce::MouseEvent&)
{
    hover_ = true;
    repaint();
}

void VeskFxChainPresetPopup::PresetRow::mouseExit(const juce::MouseEvent&)
{
    hover_ = false;
    repaint();
}

void VeskFxChainPresetPopup::PresetRow::mouseUp(const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu() || !getLocalBounds().contains(e.getPosition()) ||
        delete_.getBounds().contains(e.getPosition()))
        return;
    if (onClick)
        onClick();
}

// ---------------------------------------------------------------------------------------------
// The popup

VeskFxChainPresetPopup::VeskFxChainPresetPopup()
{
    title_.setText("FX Bus Chain Presets", juce::dontSendNotification);
    title_.setFont(juce::Font(14.0f, juce::Font::bold));
    title_.setColour(juce::Label::textColourId, juce::Colours::white);
    addAndMakeVisible(title_);

    name_.setTextToShowWhenEmpty("Enter preset name...", juce::Colour(kGreyText));
    name_.setColour(juce::TextEditor::backgroundColourId, juce::Colour(0xff3a3a3a));
    name_.setColour(juce::TextEditor::textColourId, juce::Colours::white);
    name_.onTextChange = [this] { save_.setEnabled(name_.getText().trim().isNotEmpty()); };
    name_.onReturnKey = [this] { save_.triggerClick(); };
    addAndMakeVisible(name_);

    save_.setButtonText("Save");
    save_.setEnabled(false);
    save_.onClick = [this] { saveClicked(); };
    addAndMakeVisible(save_);

    hint_.setText("Click a preset to append (FX Bus 1 + FX Bus 2)", juce::dontSendNotification);
    hint_.setFont(juce::Font(11.0f));
    hint_.setColour(juce::Label::textColourId, juce::Colour(kGreyText));
    hint_.setJustificationType(juce::Justification::centred);
    addAndMakeVisible(hint_);

    empty_.setText("No presets saved yet", juce::dontSendNotification);
    empty_.setFont(juce::Font(12.0f));
    empty_.setColour(juce::Label::textColourId, juce::Colour(kGreyText));
    empty_.setJustificationType(juce::Justification::centred);
    addAndMakeVisible(empty_);

    viewport_.setScrollBarsShown(true, false);
    viewport_.setScrollBarThickness(vesk::gui::layout::kScrollBarThickness);
    viewport_.setViewedComponent(&list_, false);
    addAndMakeVisible(viewport_);

    updateLayout();
}

int VeskFxChainPresetPopup::heightForRows(int rows)
{
    const int content = rows > 0 ? pl::kRowsTop + pl::kRowPitch * rows : pl::kRowsTop + 40;
    return std::clamp(content, pl::kMinHeight, pl::kMaxHeight);
}

void VeskFxChainPresetPopup::setPresets(const std::vector<juce::String>& names)
{
    rows_.clear();
    for (const juce::String& n : names) {
        auto row = std::make_unique<PresetRow>(n);
        row->onClick = [this, n] {
            if (onLoad)
                onLoad(n);
        };
        row->onDeleteClicked = [this, n] {
            if (onDelete)
                onDelete(n);
        };
        list_.addAndMakeVisible(*row);
        rows_.push_back(std::move(row));
    }
    empty_.setVisible(rows_.empty());
    updateLayout();
}

void VeskFxChainPresetPopup::updateLayout()
{
    setSize(pl::kWidth, heightForRows(int(rows_.size())));
    resized();
}

void VeskFxChainPresetPopup::resized()
{
    const int w = getWidth();
    title_.setBounds(10, 10, w - 20, 18);
    name_.setBounds(10, 34, w - 82, 26);
    save_.setBounds(w - 66, 34, 56, 26);
    hint_.setBounds(10, 70, w - 20, 14);
    empty_.setBounds(10, pl::kRowsTop, w - 20, 40);

    viewport_.setBounds(10, pl::kRowsTop, w - 20, std::max(0, getHeight() - pl::kRowsTop - 4));
    const bool scrolls = pl::kRowsTop + pl::kRowPitch * int(rows_.size()) > getHeight();
    const int rowWidth = viewport_.getWidth() - (scrolls ? viewport_.getScrollBarThickness() : 0);
    for (size_t i = 0; i < rows_.size(); ++i)
        rows_[i]->setBounds(0, int(i) * pl::kRowPitch, rowWidth, pl::kRowHeight);
    list_.setSize(rowWidth, int(rows_.size()) * pl::kRowPitch);
}

void VeskFxChainPresetPopup::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(kBackground));
    g.setColour(juce::Colour(kBorder));
    g.drawRect(getLocalBounds(), 1);
    g.setColour(juce::Colour(kRule));
    const int y = name_.getBottom() + 8;
    g.fillRect(10, y, getWidth() - 20, 1);
}

void VeskFxChainPresetPopup::saveClicked()
{
    const juce::String text = name_.getText().trim();
    if (text.isEmpty())
        return;
    name_.clear();
    save_.setEnabled(false);
    if (onSave)
        onSave(text);
}
