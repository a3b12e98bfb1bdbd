// Cost of "Export Stems": eight pools with three seconds of sound each, the dry voices and then
// both FX buses (busy chains, tails included) and the files, as the two halves of an export run.
// Reported as how many times faster than real time the export runs (seconds of the triggered
// sound per second of work, and seconds of stem audio per second of work); the reference in the
// same run is the dry render alone, without buses or files.
#include "BenchKit.h"
#include "export/OfflineRender.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr double kSoundSeconds = 3.0;

struct Setup
{
    std::unique_ptr<vesk::Sampler> sampler = std::make_unique<vesk::Sampler>();
    vesk::RenderCapture capture;
    std::string folder;
    int activeModules = 0;
};

std::unique_ptr<Setup> makeSetup()
{
    auto s = std::make_unique<Setup>();
    s->sampler->setSampleRate(kRate);
    const size_t frames = static_cast<size_t>(kSoundSeconds * kRate);
    for (int pool = 0; pool < vesk::kNumPools; ++pool) {
        auto audio = std::make_shared<vesk::RawAudioData>();
        audio->left.resize(frames);
        audio->right.resize(frames);
        const double f = 110.0 * (pool + 1);
        for (size_t i = 0; i < frames; ++i) {
            const double env = 1.0 - double(i) / double(frames);
            audio->left[i] = float(0.3 * env * std::sin(2.0 * M_PI * f * double(i) / kRate));
            audio->right[i] =
                float(0.3 * env * std::sin(2.0 * M_PI * f * 1.01 * double(i) / kRate));
        }
        audio->channels = 2;
        audio->sampleRate = kRate;
        s->sampler->appendSample(pool, vesk::SampleData{audio, 0, 0});
        vesk::VoiceParams played;
        played.valid = true;
        s->sampler->lastParams[pool] = played;
        s->sampler->pools[pool].outputRoute =
            pool % 2 == 0 ? vesk::PoolRoute::Bus1 : vesk::PoolRoute::Bus2;
    }
    vesk::FXLane bus1, bus2;
    vesk::captureRender(vesk::RenderKind::Stems, *s->sampler, bus1, bus2, true,
                        vesk::MasterFXState{}, s->capture);
    using T = vesk::FXType;
    s->capture.lanes[0] = vesk::bench::busyLane(
        {T::EQ, T::Saturate, T::Chorus, T::Phaser, T::Delay, T::Reverb}, &s->activeModules);
    s->capture.lanes[1] = vesk::bench::busyLane(
        {T::Transient, T::Flanger, T::Tremolo, T::Haas, T::Image, T::Delay}, &s->activeModules);
    const char* tmp = std::getenv("TMPDIR");
    s->folder = std::string(tmp != nullptr ? tmp : "/tmp") + "/vesk_export_bench";
    std::filesystem::create_directories(s->folder);
    return s;
}

void counters(benchmark::State& state, const Setup& s)
{
    state.counters["x_realtime_sound"] =
        benchmark::Counter(kSoundSeconds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["x_realtime_stems"] = benchmark::Counter(
        kSoundSeconds * vesk::kNumPools, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["fx_modules"] = s.activeModules;
}

void BM_ExportStems(benchmark::State& state)
{
    auto s = makeSetup();
    for (auto _ : state) {
        vesk::RenderJob job;
        job.kind = vesk::RenderKind::Stems;
        s->sampler->renderAllPoolsOffline(s->capture.plan, job.pools, kRate);
        job.routes = s->capture.routes;
        job.lanes[0] = s->capture.lanes[0];
        job.lanes[1] = s->capture.lanes[1];
        job.rate = kRate;
        job.outputFolder = s->folder;
        const vesk::RenderResult r = vesk::runStemsJob(job);
        state.PauseTiming();
        for (const std::string& f : r.stemFiles)
            if (!f.empty())
                std::filesystem::remove(f);
        state.ResumeTiming();
    }
    counters(state, *s);
}

// Reference: the dry voices alone.
void BM_DryRenderOnly(benchmark::State& state)
{
    auto s = makeSetup();
    for (auto _ : state) {
        std::array<vesk::Sampler::PoolRenderResult, vesk::kNumPools> pools;
        benchmark::DoNotOptimize(s->sampler->renderAllPoolsOffline(s->capture.plan, pools, kRate));
    }
    counters(state, *s);
}

} // namespace

BENCHMARK(BM_DryRenderOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportStems)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
