// The FX-chain preset popup shown in a call-out box from the top bar: a name field with "Save",
// and the saved presets, each row appending its chains to both buses when clicked and deleting
// its file with "×". It only shows and reports; the top bar does the file work.
//
// The rows sit in a scrolling view, so every preset stays reachable however many there are. A
// new list replaces the rows, so it must never be set from inside a row's own callback: the
// owner refreshes asynchronously.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <vector>

class VeskFxChainPresetPopup : public juce::Component
{
public:
    class PresetRow : public juce::Component
    {
    public:
        explicit PresetRow(const juce::String& name);

        const juce::String& name() const { return name_; }
        juce::TextButton& deleteButton() { return delete_; }

        std::function<void()> onClick;
        std::function<void()> onDeleteClicked;

        void paint(juce::Graphics&) override;
        void resized() override;
        void mouseEnter(const juce::MouseEvent&) override;
        void mouseExit(const juce::MouseEvent&) override;
        void mouseUp(const juce::MouseEvent&) override;

    private:
        const juce::String name_;
        juce::Label label_;
        juce::TextButton delete_;
        bool hover_ = false;
    };

    VeskFxChainPresetPopup();

    std::function<void(const juce::String& name)> onSave;
    std::function<void(const juce::String& name)> onLoad;
    std::function<void(const juce::String& name)> onDelete;

    void setPresets(const std::vector<juce::String>& names);
    void updateLayout();

    // Parts, for tests.
    juce::TextEditor& nameEditor() { return name_; }
    juce::TextButton& saveButton() { return save_; }
    juce::Label& emptyLabel() { return empty_; }
    juce::Viewport& listViewport() { return viewport_; }
    int rowCount() const { return int(rows_.size()); }
    PresetRow& row(int i) { return *rows_[size_t(i)]; }

    // The popup's height for a number of rows: the whole list up to the cap, beyond it the list
    // scrolls.
    static int heightForRows(int rows);

    void paint(juce::Graphics&) override;
    void resized() override;

private:
    void saveClicked();

    juce::Label title_, hint_, empty_;
    juce::TextEditor name_;
    juce::TextButton save_;
    juce::Viewport viewport_;
    juce::Component list_;
    std::vector<std::unique_ptr<PresetRow>> rows_;
};
