// Cost of the editor's 30 Hz tick. The budget is the tick itself (33.3 ms of the host's main
// thread), so the figure is a fraction of it: "full change" copies a snapshot in which every
// field moved, hands each panel its slice and repaints the whole editor into an image (all of
// it, an upper bound of what the window repaints); "idle" is a tick where nothing changed, whose
// repaint is empty. Goals: a full change at most 0.1 of the tick.
#include "support/InProcessPlugin.h"

#include "gui/VeskEnvelopeEditor.h"
#include "gui/VeskLookAndFeel.h"
#include "gui/VeskSamplerEditor.h"
#include "gui/VeskSamplerPoolRow.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

constexpr double kTickSeconds = 1.0 / 30.0;

double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct Juce
{
    Juce()
    {
        setenv("DISPLAY", ":4321", 1); // offscreen only: never a display of someone else's
        juce::initialiseJuce_GUI();
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        juce::LookAndFeel::setDefaultLookAndFeel(&lookAndFeel);
    }
    ~Juce()
    {
        juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
        juce::Typeface::clearTypefaceCache();
        juce::shutdownJuce_GUI();
    }
    vesk::VeskLookAndFeel lookAndFeel;
};

// One JUCE runtime for every benchmark of the program, started in main and shut down before
// the program's statics (JUCE's own font tables among them) go away.
std::unique_ptr<Juce> juceRuntime;

void useJuce()
{
    if (!juceRuntime)
        juceRuntime = std::make_unique<Juce>();
}

// An instance and its editor at the design size, torn down in that order's reverse.
struct BenchEditor
{
    BenchEditor()
    {
        useJuce();
        editor = std::make_unique<VeskSamplerEditor>(plugin->backend);
        editor->setSize(1200, 800);
    }
    ~BenchEditor()
    {
        editor.reset();
        VeskPlugin::clapDestroy(&plugin->clapPlugin);
    }
    // The snapshot the editor reads at its next tick.
    vesk::VeskState& published() { return plugin->snapshots[plugin->publishedSnapshot.load()]; }

    clap_host_t host = vesk::test::silentHost("bench");
    VeskPlugin* plugin = vesk::test::newInitialisedInstance(&host);
    std::unique_ptr<VeskSamplerEditor> editor;
};

// CPU time of one tick, with the whole editor repainted into `image` when one is given.
double tickSeconds(VeskSamplerEditor& editor, juce::Image* image)
{
    const double t0 = threadSeconds();
    editor.tick();
    if (image != nullptr) {
        juce::Graphics g(*image);
        editor.paintEntireComponent(g, true);
    }
    return threadSeconds() - t0;
}

// Moves every field the editor shows, differently on each call.
void changeEverything(vesk::VeskState& s, int round)
{
    const float v = float(round % 7);
    for (vesk::PoolState& p : s.pools) {
        p.sampleCount = 1 + round % 5;
        p.volume.base = -v;
        p.pan.base = v;
        p.pitch.range = v / 10.0f;
        p.hpfHz = 100.0f * v;
        p.level.store(v / 10.0f);
        p.playbackProgress.store(v / 7.0f);
        for (float& x : p.peaks)
            x = v / 7.0f;
        std::snprintf(p.name, sizeof p.name, "Pool %d", round % 100);
    }
    s.visiblePools = uint8_t(round % 2 == 0 ? 0xFF : 0x0F);
    s.missingFiles = round % 2;
    s.soloMask = uint8_t(round);
}

void EditorTick(benchmark::State& state)
{
    const bool change = state.range(0) != 0;
    BenchEditor b;
    VeskSamplerEditor& editor = *b.editor;
    juce::Image image(juce::Image::RGB, 1200, 800, false);
    editor.tick();
    double cpu = 0.0;
    int round = 0;
    for (auto _ : state) {
        if (change)
            changeEverything(b.published(), ++round);
        cpu += tickSeconds(editor, change ? &image : nullptr);
    }
    state.counters["tick_fraction"] = cpu / double(state.iterations()) / kTickSeconds;
}
BENCHMARK(EditorTick)->Arg(1)->ArgName("full_change")->Unit(benchmark::kMillisecond);
BENCHMARK(EditorTick)->Arg(0)->ArgName("idle")->Unit(benchmark::kMillisecond);

// A tick in which FX Bus 1's forty cards are all built anew (a preset appended to a full lane,
// another module order on every round), with the whole editor repainted. Goal: at most 0.5 of
// the tick, so that rebuilding never stalls the editor.
void EditorLaneRebuild(benchmark::State& state)
{
    BenchEditor b;
    VeskSamplerEditor& editor = *b.editor;
    {
        juce::Image image(juce::Image::RGB, 1200, 800, false);
        editor.tick();
        double cpu = 0.0;
        int round = 0;
        for (auto _ : state) {
            vesk::FXLaneState& lane = b.published().lanes[0];
            ++round;
            lane.slotCount = vesk::kMaxSlots;
            for (int i = 0; i < vesk::kMaxSlots; ++i)
                lane.slots[i].type = uint8_t(1 + (i + round) % vesk::kNumFXTypes);
            cpu += tickSeconds(editor, &image);
        }
        state.counters["tick_fraction"] = cpu / double(state.iterations()) / kTickSeconds;
    }
}
BENCHMARK(EditorLaneRebuild)->Unit(benchmark::kMillisecond);

// Eight pool rows visible, each with samples, a waveform and a volume envelope. "idle": nothing
// moves, so a tick repaints nothing (goal: at most 0.02 of the tick). "playing": every pool's
// play head and envelope head move on each tick, and each row's waveform and envelope editor
// are repainted, which is what the window redraws (goal: at most 0.15 of the tick).
void EditorPoolRows(benchmark::State& state)
{
    const bool playing = state.range(0) != 0;
    BenchEditor b;
    VeskSamplerEditor& editor = *b.editor;
    {
        vesk::VeskState& s = b.published();
        s.visiblePools = 0xFF;
        for (vesk::PoolState& p : s.pools) {
            vesk::test::fillPublishedPool(p, 4, 1);
            p.volumeEnv = vesk::gui::envelope::presetEnvelope(19, 0);
            p.active.store(playing);
        }
        juce::Image image(juce::Image::RGB, 714, 150, false);
        editor.tick();
        editor.tick();
        auto repaintRequests = [&editor] {
            int n = 0;
            for (int i = 0; i < vesk::kNumPools; ++i)
                n += editor.poolRow(i).repaintRequests() +
                     editor.poolRow(i).envelopeEditor().repaintRequests();
            return n;
        };
        const int before = repaintRequests();
        double cpu = 0.0;
        int round = 0;
        for (auto _ : state) {
            ++round;
            if (playing) {
                for (vesk::PoolState& p : s.pools) {
                    p.playbackProgress.store(float(round % 60) / 60.0f);
                    p.envelopeProgress.store(float(round % 60) / 60.0f);
                }
            }
            const double t0 = threadSeconds();
            editor.tick();
            if (playing) {
                for (int i = 0; i < vesk::kNumPools; ++i) {
                    VeskSamplerPoolRow& row = editor.poolRow(i);
                    juce::Graphics g(image);
                    juce::RectangleList<int> dirty(juce::Rectangle<int>(4, 24, 280, 122));
                    dirty.add(row.envelopeEditor().getBounds());
                    g.reduceClipRegion(dirty);
                    row.paintEntireComponent(g, true);
                }
            }
            cpu += threadSeconds() - t0;
        }
        state.counters["repaints_per_tick"] =
            double(repaintRequests() - before) / double(state.iterations());
        state.counters["tick_fraction"] = cpu / double(state.iterations()) / kTickSeconds;
    }
}
BENCHMARK(EditorPoolRows)->Arg(0)->ArgName("idle")->Unit(benchmark::kMillisecond);
BENCHMARK(EditorPoolRows)->Arg(1)->ArgName("playing")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    juceRuntime.reset();
    return 0;
}
