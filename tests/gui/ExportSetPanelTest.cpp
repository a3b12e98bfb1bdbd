// The "Export Set…" panel: the request its fields make and the messages it shows while they are
// typed, and the panel over a real in-process instance: a set rendered, cancelled, and the
// panel going away while its set runs. Rendered offscreen into out/gui/ for a person to look at.
#include "GuiTestSupport.h"

#include "gui/VeskExportSetPanel.h"
#include "gui/VeskGuiLayout.h"
#include "gui/VeskSamplerEditor.h"

#include "audio_files/WavWriter.h"
#include "support/AllocCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

using vesk::SetFormat;
using vesk::SetLevel;
using vesk::SetWhat;
using vesk::gui::ExportSetFields;
using vesk::gui::SetLevelChoice;
using State = vesk::VariationSetControl::State;

std::string tmpDir(const std::string& name)
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    const fs::path dir = fs::path(env != nullptr ? env : VESK_TEST_TMP_DIR) / "export_set" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<std::string> wavFilesIn(const juce::String& folder)
{
    const std::string dir = folder.toStdString();
    std::vector<std::string> out;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".wav")
                out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(ExportSetFields, RequestsAndMessagesAsTheUserTypes)
{
    struct Case
    {
        const char* what;
        ExportSetFields fields;
        bool ok;
        const char* message; // a part of the message
    };
    const auto with = [](auto change) {
        ExportSetFields f;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"defaults", {}, true, "First file: Vesk_01.wav"},
        {"count 0", with([](auto& f) { f.count = "0"; }), false, "from 1 to 1000"},
        {"count 1001", with([](auto& f) { f.count = "1001"; }), false, "from 1 to 1000"},
        {"count empty", with([](auto& f) { f.count = ""; }), false, "whole number"},
        {"count text", with([](auto& f) { f.count = "3x"; }), false, "whole number"},
        {"count 1000", with([](auto& f) { f.count = " 1000 "; }), true, "Vesk_01.wav"},
        {"unknown token", with([](auto& f) { f.nameTemplate = "{kit}_{nn}"; }), false, "Name: "},
        {"unclosed brace", with([](auto& f) { f.nameTemplate = "{kit"; }), false, "Name: "},
        {"empty template", with([](auto& f) { f.nameTemplate = "  "; }), false, "Name: "},
        {"names alike", with([](auto& f) { f.nameTemplate = "{kit}"; }), false, "{n} or {seed}"},
        {"one file needs no number", with([](auto& f) {
             f.nameTemplate = "{kit}";
             f.count = "1";
         }),
         true, "Vesk.wav"},
        {"stems", with([](auto& f) { f.what = SetWhat::Stems; }), true, "Vesk_01_1.wav"},
        {"typed LUFS", with([](auto& f) {
             f.level = SetLevelChoice::TypedLufs;
             f.levelValue = "-20.5";
         }),
         true, ""},
        {"typed LUFS too loud", with([](auto& f) {
             f.level = SetLevelChoice::TypedLufs;
             f.levelValue = "3";
         }),
         false, "-70 to 0 LUFS"},
        {"typed LUFS not a number", with([](auto& f) {
             f.level = SetLevelChoice::TypedLufs;
             f.levelValue = "-";
         }),
         false, "-70 to 0 LUFS"},
        {"peak", with([](auto& f) {
             f.level = SetLevelChoice::Peak;
             f.levelValue = "-0.3";
         }),
         true, ""},
        {"peak too low", with([](auto& f) {
             f.level = SetLevelChoice::Peak;
             f.levelValue = "-61";
         }),
         false, "-60 to 0 dBFS"},
        {"ceiling over 0", with([](auto& f) {
             f.level = SetLevelChoice::Lufs16;
             f.ceiling = "0.5";
         }),
         false, "-20 to 0 dBTP"},
        {"ceiling unused without loudness", with([](auto& f) { f.ceiling = "junk"; }), true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const vesk::gui::ExportSetCheck check = vesk::gui::checkExportSetFields(c.fields);
        EXPECT_EQ(check.ok, c.ok) << check.message;
        EXPECT_TRUE(check.message.contains(c.message)) << check.message;
        if (check.ok) {
            std::string error;
            EXPECT_TRUE(vesk::validateSetRequest(check.request, error)) << error;
        }
    }

    // The fields' values end up in the request.
    ExportSetFields f;
    f.count = "7";
    f.what = SetWhat::Both;
    f.nameTemplate = " fx_{n:03}_{seed} ";
    f.format = SetFormat::Pcm16;
    f.level = SetLevelChoice::Lufs18;
    f.ceiling = "-2";
    f.folder = " /tmp/some where ";
    vesk::gui::ExportSetCheck c = vesk::gui::checkExportSetFields(f);
    ASSERT_TRUE(c.ok) << c.message;
    EXPECT_EQ(c.request.count, 7);
    EXPECT_EQ(c.request.what, SetWhat::Both);
    EXPECT_EQ(c.request.nameTemplate, "fx_{n:03}_{seed}");
    EXPECT_EQ(c.request.format, SetFormat::Pcm16);
    EXPECT_EQ(c.request.level, SetLevel::Loudness);
    EXPECT_DOUBLE_EQ(c.request.loudnessLufs, -18.0);
    EXPECT_DOUBLE_EQ(c.request.ceilingDbtp, -2.0);
    EXPECT_EQ(c.request.outFolder, "/tmp/some where");
    EXPECT_FALSE(c.request.hasSeed); // every set draws a new base seed
    EXPECT_TRUE(c.request.background);
    const double targets[] = {-23.0, -18.0, -16.0, -14.0};
    for (int i = 0; i < 4; ++i) {
        f.level = SetLevelChoice(int(SetLevelChoice::Lufs23) + i);
        c = vesk::gui::checkExportSetFields(f);
        EXPECT_DOUBLE_EQ(c.request.loudnessLufs, targets[i]);
    }
    f.level = SetLevelChoice::Peak;
    f.levelValue = "-3";
    c = vesk::gui::checkExportSetFields(f);
    EXPECT_EQ(c.request.level, SetLevel::Peak);
    EXPECT_DOUBLE_EQ(c.request.peakDbfs, -3.0);
}

TEST(ExportSetFields, ProgressAndResultLines)
{
    EXPECT_EQ(vesk::gui::setProgressText(3, 20), "3 of 20");
    vesk::VariationSetResult r;
    r.folder = "/x/Vesk Set 1";
    r.variationsDone = 3;
    r.variationsTotal = 3;
    r.files.resize(3);
    EXPECT_EQ(vesk::gui::setResultText(State::Finished, r),
              "Done: 3 files (3 of 3) in /x/Vesk Set 1");
    r.variationsTotal = 20;
    EXPECT_EQ(vesk::gui::setResultText(State::Cancelled, r),
              "Cancelled at 3 of 20: 3 files kept in /x/Vesk Set 1");
    r.error = "cannot write /x/Vesk Set 1/Vesk_04.wav: No space left on device";
    EXPECT_EQ(vesk::gui::setResultText(State::Failed, r),
              "Failed: " + juce::String(r.error) + " (3 files written in /x/Vesk Set 1)");
    r.files.clear();
    EXPECT_EQ(vesk::gui::setResultText(State::Failed, r), "Failed: " + juce::String(r.error));
}

// An in-process instance with a one-pool kit: a short decaying tone whose pitch is drawn anew on
// every trigger.
class ExportSetPanelOnInstance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = tmpDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::vector<float> x(24000);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = float(0.5 * std::sin(2.0 * M_PI * 330.0 * double(i) / 48000.0) *
                         std::exp(-double(i) / 6000.0));
        sample = dir + "/tone.wav";
        ASSERT_TRUE(vesk::writeWav(sample, x, x, 48000.0));
        VeskPlugin::clapActivate(&instance.plugin->clapPlugin, 48000.0, 1, 4096);
        ASSERT_TRUE(instance.backend().SendLoadToPool(0, sample));
        for (int i = 0; i < 3; ++i) {
            VeskPlugin::clapOnMainThread(&instance.plugin->clapPlugin);
            instance.plugin->workers.wait();
        }
        ASSERT_NE(instance.backend().sets, nullptr);
    }

    // Polls the panel as the editor's tick does until `done` holds (20 s at most).
    bool pollUntil(VeskExportSetPanel& panel, const std::function<bool()>& done)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            panel.poll();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    vesk::test::EditorInstance instance;
    std::string dir, sample;
};

TEST_F(ExportSetPanelOnInstance, RendersASetShowsProgressAndTheFolderAndChangesNothingElse)
{
    VeskExportSetPanel panel(instance.backend().sets);
    panel.setBounds(0, 0, panel.getWidth(), panel.getHeight());
    vesk::test::saveImage(vesk::test::render(panel), "export-set-panel-idle");
    EXPECT_TRUE(panel.checkText().startsWith("First file: Vesk_01.wav")) << panel.checkText();
    EXPECT_TRUE(panel.statusText().isEmpty());
    // Showing the panel sends nothing to the instance.
    EXPECT_TRUE(vesk::test::drainRings(instance.plugin->queues).empty());

    ExportSetFields f;
    f.count = "x";
    panel.setFields(f);
    EXPECT_FALSE(panel.renderButton().isEnabled());
    vesk::test::saveImage(vesk::test::render(panel), "export-set-panel-bad-count");

    f.count = "3";
    f.folder = dir + "/set";
    f.format = SetFormat::Pcm24;
    f.level = SetLevelChoice::Lufs16;
    panel.setFields(f);
    ASSERT_TRUE(panel.renderButton().isEnabled()) << panel.checkText();
    panel.startRender();
    ASSERT_TRUE(panel.rendering()) << panel.statusText();
    EXPECT_EQ(panel.renderButton().getButtonText(), "Cancel");
    std::vector<juce::String> seen;
    ASSERT_TRUE(pollUntil(panel, [&] {
        if (seen.empty() || seen.back() != panel.statusText())
            seen.push_back(panel.statusText());
        return !panel.rendering();
    }));
    vesk::test::saveImage(vesk::test::render(panel), "export-set-panel-done");
    EXPECT_EQ(panel.statusText(), "Done: 3 files (3 of 3) in " + juce::String(f.folder))
        << panel.statusText();
    for (const juce::String& s : seen)
        EXPECT_TRUE(s.isEmpty() || s.contains(" of 3")) << s;
    EXPECT_EQ(wavFilesIn(f.folder),
              (std::vector<std::string>{"Vesk_01.wav", "Vesk_02.wav", "Vesk_03.wav"}));
    const vesk::VariationSetResult* r = instance.backend().sets->result();
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(fs::exists(r->manifestCsv)) << r->manifestCsv;
    EXPECT_TRUE(fs::exists(r->manifestJson)) << r->manifestJson;
    EXPECT_EQ(panel.renderButton().getButtonText(), "Render");

    // The same folder again: refused with the engine's reason, nothing overwritten.
    panel.startRender();
    ASSERT_TRUE(pollUntil(panel, [&] { return !panel.rendering(); }));
    EXPECT_TRUE(panel.statusText().startsWith("Failed: ") ||
                panel.statusText().startsWith("Cannot render: "))
        << panel.statusText();
    EXPECT_EQ(wavFilesIn(f.folder).size(), 3u);
}

TEST_F(ExportSetPanelOnInstance, CancelKeepsOnlyCompleteFilesAndAClosingEditorStopsItsSet)
{
    ExportSetFields f;
    f.count = "1000";
    f.folder = dir + "/cancelled";
    {
        VeskExportSetPanel panel(instance.backend().sets);
        panel.setFields(f);
        panel.startRender();
        ASSERT_TRUE(panel.rendering()) << panel.statusText();
        ASSERT_TRUE(pollUntil(panel, [&] { return instance.backend().sets->done() >= 2; }));
        panel.cancelRender();
        EXPECT_TRUE(panel.statusText().startsWith(juce::CharPointer_UTF8("Cancelling\xe2\x80\xa6")))
            << panel.statusText();
        ASSERT_TRUE(pollUntil(panel, [&] { return !panel.rendering(); }));
        EXPECT_TRUE(panel.statusText().startsWith("Cancelled at ")) << panel.statusText();
        const vesk::VariationSetResult* r = instance.backend().sets->result();
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->cancelled);
        EXPECT_LT(r->variationsDone, 1000);
        // Only complete files, each listed; no temporary leftovers.
        EXPECT_EQ(wavFilesIn(f.folder).size(), r->files.size());
        for (const auto& e : fs::directory_iterator(f.folder.toStdString()))
            EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
    }

    // An editor closing while its set runs: the set is cancelled and nothing calls back.
    f.folder = dir + "/closed";
    {
        VeskSamplerEditor editor(instance.backend());
        editor.setSize(1200, 800);
        editor.showExportSet(editor.topBar());
        VeskExportSetPanel* panel = editor.exportSetPanel();
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(panel->isVisible());
        EXPECT_EQ(panel->getX(), 4 + vesk::gui::layout::kExportAreaX);
        panel->setFields(f);
        panel->startRender();
        ASSERT_TRUE(panel->rendering()) << panel->statusText();
        editor.tick();
    }
    vesk::VariationSetControl& sets = *instance.backend().sets;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sets.state() == State::Running && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sets.state(), State::Cancelled);
}

TEST_F(ExportSetPanelOnInstance, AnEmptyKitFailsWithItsReason)
{
    vesk::test::EditorInstance empty;
    VeskExportSetPanel panel(empty.backend().sets);
    ExportSetFields f;
    f.folder = dir + "/empty";
    panel.setFields(f);
    panel.startRender();
    ASSERT_TRUE(pollUntil(panel, [&] { return !panel.rendering(); }));
    EXPECT_TRUE(panel.statusText().startsWith("Failed: ")) << panel.statusText();
    EXPECT_TRUE(panel.statusText().contains("nothing to render")) << panel.statusText();
    EXPECT_TRUE(wavFilesIn(f.folder).empty());
    vesk::test::saveImage(vesk::test::render(panel), "export-set-panel-refused");

    VeskExportSetPanel none(nullptr);
    EXPECT_FALSE(none.renderButton().isEnabled());
    EXPECT_EQ(none.statusText(), "Variation sets are not available here.");
}

TEST_F(ExportSetPanelOnInstance, PlaybackBesideAPanelsSetAllocatesNothingOnTheAudioThread)
{
    VeskPlugin& p = *instance.plugin;
    // The host's audio thread: blocks back to back, the allocation counter armed around each.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> blocks{0};
    vesk::test::AllocCounts counts;
    std::thread audio([&] {
        std::vector<float> l(256), r(256);
        float* ch[2] = {l.data(), r.data()};
        clap_audio_buffer_t out{};
        out.data32 = ch;
        out.channel_count = 2;
        clap_process_t proc{};
        proc.frames_count = 256;
        proc.audio_outputs = &out;
        proc.audio_outputs_count = 1;
        while (!stop.load()) {
            {
                vesk::test::ScopedAllocCount count(counts);
                VeskPlugin::clapProcess(&p.clapPlugin, &proc);
            }
            blocks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    VeskExportSetPanel panel(instance.backend().sets);
    ExportSetFields f;
    f.count = "12";
    f.folder = dir + "/live";
    f.level = SetLevelChoice::Lufs16;
    panel.setFields(f);
    panel.startRender();
    EXPECT_TRUE(panel.rendering()) << panel.statusText();
    int polls = 0;
    const bool ended = pollUntil(panel, [&] {
        if (++polls % 5 == 0) // the user keeps playing
            vesk::msg::send(p.backend, vesk::msg::Trigger{uint64_t(1000 + polls)});
        VeskPlugin::clapOnMainThread(&p.clapPlugin);
        return !panel.rendering();
    });
    stop.store(true);
    audio.join();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(panel.statusText().startsWith("Done: 12 files")) << panel.statusText();
    EXPECT_EQ(wavFilesIn(f.folder).size(), 12u);
    EXPECT_GT(blocks.load(), 10u);

    vesk::test::AllocCounts canary;
    {
        vesk::test::ScopedAllocCount count(canary);
        auto* v = new std::vector<float>(100);
        volatile float sink = (*v)[0];
        (void)sink;
        delete v;
    }
    ASSERT_GT(canary.allocations, 0u); // the counter is live
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.locks, 0u);
}

} // namespace
