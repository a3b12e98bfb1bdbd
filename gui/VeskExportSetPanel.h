// "Export Set…": the panel that renders a variation set of the instance. It lies over the editor
// (no window of its own), shows how many variations, what to write, the naming template (checked
// as it is typed), the format, the level, the folder and the project insertion; "Render" starts
// the set through the instance's VariationSetControl, the editor's tick polls it ("3 of 20"), and
// at the end the panel shows the folder and the count, or the reason it failed.
//
// The set runs on the instance's own threads; the panel only holds the handle. Destroying the
// panel (the editor closing) cancels a set it started, so nothing outlives the editor that could
// call into it.
#pragma once

#include "plugin/VariationSetControl.h"

#include "export/VariationSet.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <string>

namespace vesk::gui {

// The level choices in the panel's order (combo box id = index + 1).
enum class SetLevelChoice : int
{
    None,
    Lufs23,
    Lufs18,
    Lufs16,
    Lufs14,
    TypedLufs, // the value field, LUFS
    Peak,      // the value field, dBFS
};

// What the panel's fields hold, as typed.
struct ExportSetFields
{
    juce::String count = "20";
    SetWhat what = SetWhat::Mix;
    juce::String nameTemplate = kDefaultSetTemplate;
    SetFormat format = SetFormat::Float32;
    SetLevelChoice level = SetLevelChoice::None;
    juce::String levelValue = "-16"; // LUFS for TypedLufs, dBFS for Peak
    juce::String ceiling = "-1";     // dBTP, for the loudness targets
    juce::String folder;             // empty: a new folder beside the exports
    bool insertIntoProject = false;
};

struct ExportSetCheck
{
    bool ok = false;
    VariationSetRequest request;
    // The line under the fields: the first fault, or the first file's name when all is well.
    juce::String message;
};

// The request the fields make, checked as the engine will check it, with a message for the user.
// `kit` is what {kit} stands for in the first file's name.
ExportSetCheck checkExportSetFields(const ExportSetFields& fields, const std::string& kit = "Vesk");

// "3 of 20".
juce::String setProgressText(int done, int total);
// The last line of a set: the count and the folder, or the reason it stopped.
juce::String setResultText(VariationSetControl::State state, const VariationSetResult& result);

} // namespace vesk::gui

class VeskExportSetPanel : public juce::Component
{
public:
    // `sets` may be null (an instance without sets): the panel then says so and renders nothing.
    explicit VeskExportSetPanel(vesk::VariationSetControl* sets);
    ~VeskExportSetPanel() override;

    // "Close": the owner hides the panel (the set, if any, goes on).
    std::function<void()> onClose;

    // [main thread] From the editor's tick: progress and the end of the set. Repaints only what
    // changed.
    void poll();

    vesk::gui::ExportSetFields fields() const;
    // Fills the fields without notifications (tests, a panel shown again).
    void setFields(const vesk::gui::ExportSetFields& fields);

    // "Render" and, while a set runs, "Cancel".
    void startRender();
    void cancelRender();
    bool rendering() const { return rendering_; }

    const juce::String& statusText() const { return status_; }
    const juce::String& checkText() const { return check_; }
    juce::TextButton& renderButton() { return render_; }

    void paint(juce::Graphics&) override;
    void resized() override;

private:
    void updateCheck();
    void updateEnablement();
    void setStatus(const juce::String& text, bool isError);
    void chooseFolder();
    std::string kitName() const;

    vesk::VariationSetControl* sets_;
    juce::Label title_, countLabel_, whatLabel_, nameLabel_, formatLabel_, levelLabel_,
        ceilingLabel_, folderLabel_, checkLabel_, statusLabel_, levelUnit_, ceilingUnit_;
    juce::TextEditor count_, name_, levelValue_, ceiling_, folder_;
    juce::ComboBox what_, format_, level_;
    juce::ToggleButton insert_{"Insert into the project on new tracks"};
    juce::TextButton choose_{"Choose..."}, render_{"Render"}, close_{"Close"};
    std::unique_ptr<juce::FileChooser> chooser_;
    juce::String check_, status_;
    bool checkOk_ = false;
    bool statusIsError_ = false;
    bool rendering_ = false; // a set this panel started has not been seen to end yet
    int shownDone_ = -1, shownTotal_ = -1;
    int expected_ = 0; // the count of the set started
};
