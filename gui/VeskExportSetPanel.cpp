#include "VeskExportSetPanel.h"

#include "VeskGuiLayout.h"
#include "VeskGuiLog.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace vesk::gui {
namespace {

juce::String utf8(const char* text)
{
    return juce::String(juce::CharPointer_UTF8(text));
}

// A whole decimal number and nothing else.
bool parseWhole(const juce::String& text, int& out)
{
    const juce::String t = text.trim();
    if (t.isEmpty() || t.length() > 6 || !t.containsOnly("0123456789"))
        return false;
    out = t.getIntValue();
    return true;
}

// A finite decimal number and nothing else ("-16", "-16.5", "−16" with a minus sign typed as
// the Unicode minus).
bool parseNumber(const juce::String& text, double& out)
{
    const std::string t =
        text.trim().replace(utf8("\xe2\x88\x92"), "-").toStdString(); // U+2212 minus
    if (t.empty() || t.size() > 32)
        return false;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end == t.c_str() || *end != '\0' || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

std::string today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", (local.tm_year + 1900) % 10000,
                  (local.tm_mon + 1) % 100, local.tm_mday % 100);
    return text;
}

} // namespace

ExportSetCheck checkExportSetFields(const ExportSetFields& f, const std::string& kit)
{
    ExportSetCheck c;
    VariationSetRequest& r = c.request;
    int count = 0;
    if (!parseWhole(f.count, count) || count < 1 || count > kMaxSetCount) {
        c.message = "The count must be a whole number from 1 to 1000.";
        return c;
    }
    r.count = count;
    r.what = f.what;
    r.nameTemplate = f.nameTemplate.trim().toStdString();
    NameTemplate tmpl;
    std::string why;
    if (!parseNameTemplate(r.nameTemplate, tmpl, why)) {
        c.message = "Name: " + juce::String(why);
        return c;
    }
    if (count > 1 && !tmpl.hasNumberOrSeed) {
        c.message = "Name: add {n} or {seed}, or every variation gets the same name.";
        return c;
    }
    r.format = f.format;
    switch (f.level) {
    case SetLevelChoice::None:
        r.level = SetLevel::None;
        break;
    case SetLevelChoice::Lufs23:
    case SetLevelChoice::Lufs18:
    case SetLevelChoice::Lufs16:
    case SetLevelChoice::Lufs14: {
        static constexpr double kTargets[] = {-23.0, -18.0, -16.0, -14.0};
        r.level = SetLevel::Loudness;
        r.loudnessLufs = kTargets[int(f.level) - int(SetLevelChoice::Lufs23)];
        break;
    }
    case SetLevelChoice::TypedLufs: {
        double v = 0.0;
        if (!parseNumber(f.levelValue, v) || v < -70.0 || v > 0.0) {
            c.message = "The loudness target must be a number from -70 to 0 LUFS.";
            return c;
        }
        r.level = SetLevel::Loudness;
        r.loudnessLufs = v;
        break;
    }
    case SetLevelChoice::Peak: {
        double v = 0.0;
        if (!parseNumber(f.levelValue, v) || v < -60.0 || v > 0.0) {
            c.message = "The peak must be a number from -60 to 0 dBFS.";
            return c;
        }
        r.level = SetLevel::Peak;
        r.peakDbfs = v;
        break;
    }
    }
    if (r.level == SetLevel::Loudness) {
        double v = 0.0;
        if (!parseNumber(f.ceiling, v) || v < -20.0 || v > 0.0) {
            c.message = "The ceiling must be a number from -20 to 0 dBTP.";
            return c;
        }
        r.ceilingDbtp = v;
    }
    r.outFolder = f.folder.trim().toStdString();
    if (!validateSetRequest(r, why)) {
        c.message = juce::String(why);
        return c;
    }
    NameFields first;
    first.kit = kit;
    first.n = 1;
    first.pool = r.what == SetWhat::Stems ? 1 : 0;
    first.date = today();
    c.message = "First file: " + juce::String(expandName(tmpl, first));
    if (r.what == SetWhat::Stems)
        c.message << utf8(" (pool 1\xe2\x80\x99s stem)");
    c.ok = true;
    return c;
}

juce::String setProgressText(int done, int total)
{
    return juce::String(done) + " of " + juce::String(total);
}

juce::String setResultText(VariationSetControl::State state, const VariationSetResult& r)
{
    const juce::String files =
        juce::String(int(r.files.size())) + (r.files.size() == 1 ? " file" : " files");
    const juce::String folder = juce::String(r.folder);
    switch (state) {
    case VariationSetControl::State::Finished:
        return "Done: " + files + " (" + setProgressText(r.variationsDone, r.variationsTotal) +
               ") in " + folder;
    case VariationSetControl::State::Cancelled:
        return "Cancelled at " + setProgressText(r.variationsDone, r.variationsTotal) + ": " +
               files + " kept in " + folder;
    case VariationSetControl::State::Failed: {
        juce::String text = "Failed: " + juce::String(r.error);
        if (!r.files.empty())
            text << " (" << files << " written in " << folder << ")";
        return text;
    }
    case VariationSetControl::State::Idle:
    case VariationSetControl::State::Running:
        break;
    }
    return {};
}

} // namespace vesk::gui

using namespace vesk::gui;
using State = vesk::VariationSetControl::State;

VeskExportSetPanel::VeskExportSetPanel(vesk::VariationSetControl* sets) : sets_(sets)
{
    setOpaque(true);
    setWantsKeyboardFocus(true);
    title_.setText(vesk::gui::utf8("Export Set\xe2\x80\xa6"), juce::dontSendNotification);
    title_.setFont(juce::Font(16.0f, juce::Font::bold));
    const std::pair<juce::Label*, const char*> labels[] = {
        {&countLabel_, "Variations"}, {&whatLabel_, "Write"},  {&nameLabel_, "Name"},
        {&formatLabel_, "Format"},    {&levelLabel_, "Level"}, {&ceilingLabel_, "Ceiling"},
        {&folderLabel_, "Folder"},    {&levelUnit_, ""},       {&ceilingUnit_, "dBTP"}};
    for (const auto& [label, text] : labels) {
        label->setText(text, juce::dontSendNotification);
        addAndMakeVisible(*label);
    }
    addAndMakeVisible(title_);
    addAndMakeVisible(checkLabel_);
    addAndMakeVisible(statusLabel_);
    checkLabel_.setMinimumHorizontalScale(0.7f);
    statusLabel_.setMinimumHorizontalScale(1.0f); // a long folder wraps onto a second line

    count_.setInputRestrictions(4, "0123456789");
    levelValue_.setInputRestrictions(8, "-.0123456789");
    ceiling_.setInputRestrictions(8, "-.0123456789");
    folder_.setTextToShowWhenEmpty("a new folder beside the exports",
                                   juce::Colour(colours::kExportSetNote));
    for (juce::TextEditor* e : {&count_, &name_, &levelValue_, &ceiling_, &folder_}) {
        e->setSelectAllWhenFocused(true);
        e->onTextChange = [this] { updateCheck(); };
        addAndMakeVisible(*e);
    }

    what_.addItem("Mix", 1);
    what_.addItem("Stems", 2);
    what_.addItem("Mix and stems", 3);
    format_.addItem("32-bit float", 1);
    format_.addItem("24-bit PCM", 2);
    format_.addItem("16-bit PCM, dithered", 3);
    level_.addItem("None", 1);
    level_.addItem("-23 LUFS", 2);
    level_.addItem("-18 LUFS", 3);
    level_.addItem("-16 LUFS", 4);
    level_.addItem("-14 LUFS", 5);
    level_.addItem("Loudness (LUFS)", 6);
    level_.addItem("Peak (dBFS)", 7);
    for (juce::ComboBox* b : {&what_, &format_, &level_}) {
        b->onChange = [this] {
            updateEnablement();
            updateCheck();
        };
        addAndMakeVisible(*b);
    }
    addAndMakeVisible(insert_);
    choose_.setButtonText(vesk::gui::utf8("Choose\xe2\x80\xa6"));
    choose_.onClick = [this] { chooseFolder(); };
    render_.onClick = [this] {
        if (rendering_)
            cancelRender();
        else
            startRender();
    };
    close_.onClick = [this] {
        if (onClose)
            onClose();
    };
    addAndMakeVisible(choose_);
    addAndMakeVisible(render_);
    addAndMakeVisible(close_);

    setFields(ExportSetFields{});
    if (sets_ == nullptr) {
        setStatus("Variation sets are not available here.", true);
    } else if (!sets_->canInsertIntoProject()) {
        insert_.setEnabled(false);
    }
    // A set still running (from an editor opened before this one) shows its progress.
    if (sets_ != nullptr && sets_->state() == State::Running)
        rendering_ = true;
    updateEnablement();
    setSize(layout::kExportSetWidth, layout::kExportSetHeight);
}

VeskExportSetPanel::~VeskExportSetPanel()
{
    // The editor is going: a set it started stops with it, and no chooser calls back.
    chooser_.reset();
    if (rendering_ && sets_ != nullptr && sets_->state() == State::Running)
        sets_->cancel();
}

ExportSetFields VeskExportSetPanel::fields() const
{
    ExportSetFields f;
    f.count = count_.getText();
    f.what = what_.getSelectedId() == 2   ? vesk::SetWhat::Stems
             : what_.getSelectedId() == 3 ? vesk::SetWhat::Both
                                          : vesk::SetWhat::Mix;
    f.nameTemplate = name_.getText();
    f.format = format_.getSelectedId() == 2   ? vesk::SetFormat::Pcm24
               : format_.getSelectedId() == 3 ? vesk::SetFormat::Pcm16
                                              : vesk::SetFormat::Float32;
    f.level = SetLevelChoice(juce::jlimit(0, 6, level_.getSelectedId() - 1));
    f.levelValue = levelValue_.getText();
    f.ceiling = ceiling_.getText();
    f.folder = folder_.getText();
    f.insertIntoProject = insert_.isEnabled() && insert_.getToggleState();
    return f;
}

void VeskExportSetPanel::setFields(const ExportSetFields& f)
{
    count_.setText(f.count, false);
    what_.setSelectedId(f.what == vesk::SetWhat::Stems  ? 2
                        : f.what == vesk::SetWhat::Both ? 3
                                                        : 1,
                        juce::dontSendNotification);
    name_.setText(f.nameTemplate, false);
    format_.setSelectedId(f.format == vesk::SetFormat::Pcm24   ? 2
                          : f.format == vesk::SetFormat::Pcm16 ? 3
                                                               : 1,
                          juce::dontSendNotification);
    level_.setSelectedId(int(f.level) + 1, juce::dontSendNotification);
    levelValue_.setText(f.levelValue, false);
    ceiling_.setText(f.ceiling, false);
    folder_.setText(f.folder, false);
    insert_.setToggleState(f.insertIntoProject, juce::dontSendNotification);
    updateEnablement();
    updateCheck();
}

std::string VeskExportSetPanel::kitName() const
{
    return sets_ != nullptr ? sets_->kitName() : std::string("Vesk");
}

void VeskExportSetPanel::updateCheck()
{
    const ExportSetCheck c = checkExportSetFields(fields(), kitName());
    if (c.message == check_ && c.ok == checkOk_)
        return;
    check_ = c.message;
    checkOk_ = c.ok;
    checkLabel_.setText(check_, juce::dontSendNotification);
    checkLabel_.setColour(juce::Label::textColourId,
                          juce::Colour(c.ok ? colours::kExportSetNote : colours::kExportSetError));
    updateEnablement();
}

void VeskExportSetPanel::updateEnablement()
{
    const SetLevelChoice level = SetLevelChoice(juce::jlimit(0, 6, level_.getSelectedId() - 1));
    const bool typed = level == SetLevelChoice::TypedLufs || level == SetLevelChoice::Peak;
    const bool loudness = level != SetLevelChoice::None && level != SetLevelChoice::Peak;
    const bool editable = !rendering_;
    for (juce::Component* c : std::initializer_list<juce::Component*>{
             &count_, &what_, &name_, &format_, &level_, &folder_, &choose_}) {
        c->setEnabled(editable);
        c->setAlpha(editable ? 1.0f : 0.6f);
    }
    levelValue_.setEnabled(editable && typed);
    levelValue_.setVisible(typed);
    levelUnit_.setText(level == SetLevelChoice::Peak ? "dBFS"
                       : typed                       ? "LUFS"
                                                     : "",
                       juce::dontSendNotification);
    ceiling_.setEnabled(editable && loudness);
    for (juce::Component* c :
         std::initializer_list<juce::Component*>{&ceiling_, &ceilingLabel_, &ceilingUnit_})
        c->setAlpha(loudness ? 1.0f : 0.4f);
    insert_.setEnabled(editable && sets_ != nullptr && sets_->canInsertIntoProject());
    render_.setButtonText(rendering_ ? "Cancel" : "Render");
    render_.setEnabled(sets_ != nullptr && (rendering_ || checkOk_));
}

void VeskExportSetPanel::setStatus(const juce::String& text, bool isError)
{
    if (text == status_ && isError == statusIsError_)
        return;
    status_ = text;
    statusIsError_ = isError;
    statusLabel_.setText(text, juce::dontSendNotification);
    statusLabel_.setColour(juce::Label::textColourId,
                           juce::Colour(isError ? colours::kExportSetError : colours::kLabelText));
    if (text.isNotEmpty())
        vesk::guiLog("export set: %s", text.toRawUTF8());
}

void VeskExportSetPanel::startRender()
{
    if (sets_ == nullptr || rendering_)
        return;
    const ExportSetFields f = fields();
    const ExportSetCheck c = checkExportSetFields(f, kitName());
    if (!c.ok) {
        setStatus(c.message, true);
        return;
    }
    std::string error;
    if (!sets_->start(c.request, f.insertIntoProject, error)) {
        setStatus("Cannot render: " + juce::String(error), true);
        return;
    }
    rendering_ = true;
    expected_ = c.request.count;
    shownDone_ = shownTotal_ = -1;
    updateEnablement();
    poll();
}

void VeskExportSetPanel::cancelRender()
{
    if (sets_ == nullptr || !rendering_)
        return;
    sets_->cancel();
    setStatus(vesk::gui::utf8("Cancelling\xe2\x80\xa6 ") +
                  setProgressText(sets_->done(), sets_->total()),
              false);
}

void VeskExportSetPanel::poll()
{
    if (sets_ == nullptr || !rendering_)
        return;
    const State state = sets_->state();
    if (state == State::Running) {
        // Until the set has counted its share, the count asked for.
        const int done = sets_->done(), total = sets_->total() > 0 ? sets_->total() : expected_;
        if (done == shownDone_ && total == shownTotal_)
            return;
        shownDone_ = done;
        shownTotal_ = total;
        if (!status_.startsWith("Cancelling"))
            setStatus(setProgressText(done, total), false);
        repaint(); // the progress bar
        return;
    }
    rendering_ = false;
    const vesk::VariationSetResult* result = sets_->result();
    if (result != nullptr) {
        shownDone_ = result->variationsDone;
        shownTotal_ = result->variationsTotal;
        setStatus(setResultText(state, *result), state == State::Failed);
    }
    updateEnablement();
    repaint();
}

void VeskExportSetPanel::chooseFolder()
{
    chooser_ =
        std::make_unique<juce::FileChooser>("Folder for the Set", juce::File(folder_.getText()));
    juce::Component::SafePointer<VeskExportSetPanel> self(this);
    chooser_->launchAsync(juce::FileBrowserComponent::openMode |
                              juce::FileBrowserComponent::canSelectDirectories,
                          [self](const juce::FileChooser& chooser) {
                              if (self == nullptr || self->rendering_)
                                  return;
                              const juce::File chosen = chooser.getResult();
                              if (chosen != juce::File()) {
                                  self->folder_.setText(chosen.getFullPathName(), false);
                                  self->updateCheck();
                              }
                          });
}

void VeskExportSetPanel::paint(juce::Graphics& g)
{
    const auto bounds = getLocalBounds();
    g.fillAll(juce::Colour(colours::kExportSetBackground));
    g.setColour(juce::Colour(colours::kExportSetEdge));
    g.drawRect(bounds, 1);
    // The progress bar under the status line.
    if (shownTotal_ > 0) {
        const auto bar = statusLabel_.getBounds().withTop(statusLabel_.getBottom()).withHeight(3);
        g.setColour(juce::Colour(colours::kExportSetEdge));
        g.fillRect(bar);
        g.setColour(juce::Colour(colours::kExportSetBar));
        const int done = juce::jlimit(0, shownTotal_, shownDone_);
        g.fillRect(bar.withWidth(int(int64_t(bar.getWidth()) * done / shownTotal_)));
    }
}

void VeskExportSetPanel::resized()
{
    using namespace layout;
    title_.setBounds(kExportSetLabelX - 4, 4, getWidth() - 2 * kExportSetLabelX,
                     kExportSetTitleHeight);
    const auto row = [](int i) { return kExportSetRowTop + i * kExportSetRowPitch; };
    const int labelW = kExportSetFieldX - kExportSetLabelX - 4;
    const int fieldW = kExportSetFieldRight - kExportSetFieldX;
    const int h = kExportSetRowHeight;
    const std::pair<juce::Label*, int> labels[] = {
        {&countLabel_, 0}, {&whatLabel_, 1},    {&nameLabel_, 2},  {&formatLabel_, 4},
        {&levelLabel_, 5}, {&ceilingLabel_, 6}, {&folderLabel_, 7}};
    for (const auto& [label, i] : labels)
        label->setBounds(kExportSetLabelX, row(i), labelW, h);
    count_.setBounds(kExportSetFieldX, row(0), 80, h);
    what_.setBounds(kExportSetFieldX, row(1), 180, h);
    name_.setBounds(kExportSetFieldX, row(2), fieldW, h);
    checkLabel_.setBounds(kExportSetFieldX - 4, row(3), fieldW + 4, h);
    format_.setBounds(kExportSetFieldX, row(4), 180, h);
    level_.setBounds(kExportSetFieldX, row(5), 160, h);
    levelValue_.setBounds(kExportSetFieldX + 168, row(5), 64, h);
    levelUnit_.setBounds(kExportSetFieldX + 236, row(5), 60, h);
    ceiling_.setBounds(kExportSetFieldX, row(6), 64, h);
    ceilingUnit_.setBounds(kExportSetFieldX + 68, row(6), 60, h);
    folder_.setBounds(kExportSetFieldX, row(7), fieldW - 84, h);
    choose_.setBounds(kExportSetFieldRight - 80, row(7), 80, h);
    insert_.setBounds(kExportSetFieldX - 4, row(8), fieldW + 4, h);
    statusLabel_.setBounds(kExportSetLabelX - 4, row(9) + 4, getWidth() - 2 * kExportSetLabelX + 8,
                           2 * h);
    const int buttonsY = getHeight() - h - 10;
    close_.setBounds(getWidth() - kExportSetLabelX - kExportSetButtonWidth, buttonsY,
                     kExportSetButtonWidth, h);
    render_.setBounds(close_.getX() - 8 - kExportSetButtonWidth, buttonsY, kExportSetButtonWidth,
                      h);
}
