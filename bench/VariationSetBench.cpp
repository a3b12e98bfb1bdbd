// Cost of a variation set: 50 variations of a kit with four pools (three samples each, pitch,
// volume, pan and start drawn per variation) and busy FX buses, rendered as mixes with loudness
// normalisation to -16 LUFS into 24-bit files, the way `vesk-kit render` and the editor run it.
// Reported as seconds of rendered audio per second of wall time ("x_realtime", goal >= 40 on
// two cores), for one render thread and for two in the same run, and as the speed-up of two
// threads over one ("speedup_2_over_1", goal >= 1.7; reported by the two-thread run), beside
// the audio per CPU second and the cores the run actually got.
#include "BenchKit.h"
#include "export/VariationSet.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>

namespace {

constexpr double kRate = 48000.0;
constexpr int kVariations = 50;

std::shared_ptr<vesk::VariationSetSource> makeKit()
{
    auto sampler = std::make_unique<vesk::Sampler>();
    sampler->setSampleRate(kRate);
    for (int pool = 0; pool < 4; ++pool) {
        for (int k = 0; k < 3; ++k) {
            const double seconds = 0.6 + 0.3 * k;
            const size_t frames = static_cast<size_t>(seconds * kRate);
            auto audio = std::make_shared<vesk::RawAudioData>();
            audio->left.resize(frames);
            audio->right.resize(frames);
            const double f = 90.0 * (pool + 1) * (1.0 + 0.25 * k);
            uint32_t noise = 12345u + uint32_t(pool * 7 + k);
            for (size_t i = 0; i < frames; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const double n = (double(noise >> 8) / 8388608.0 - 1.0) * 0.1;
                const double env = std::exp(-3.0 * double(i) / double(frames));
                const double x = env * (0.4 * std::sin(2.0 * M_PI * f * double(i) / kRate) + n);
                audio->left[i] = float(x);
                audio->right[i] = float(x * 0.9);
            }
            audio->channels = 2;
            audio->sampleRate = kRate;
            audio->path = "bench_" + std::to_string(pool) + "_" + std::to_string(k) + ".wav";
            sampler->appendSample(pool, vesk::SampleData{audio, 0, 0});
        }
        vesk::SamplePool& p = sampler->pools[pool];
        p.pitch = {0.0f, 0.3f, true};
        p.volume = {-6.0f, 0.2f, true};
        p.pan = {0.0f, 0.5f, true};
        p.start = {0.0f, 0.2f, true};
        p.outputRoute = pool == 3       ? vesk::PoolRoute::Master
                        : pool % 2 == 0 ? vesk::PoolRoute::Bus1
                                        : vesk::PoolRoute::Bus2;
    }
    vesk::FXLane bus1, bus2;
    auto source = std::make_shared<vesk::VariationSetSource>();
    vesk::captureVariationSetSource(*sampler, bus1, bus2, true, vesk::MasterFXState{}, 0x5EED,
                                    *source);
    using T = vesk::FXType;
    source->lanes[0] =
        vesk::bench::busyLane({T::EQ, T::Saturate, T::Chorus, T::Phaser, T::Delay, T::Reverb});
    source->lanes[1] =
        vesk::bench::busyLane({T::Transient, T::Flanger, T::Tremolo, T::Haas, T::Image, T::Delay});
    source->kitName = "Bench";
    return source;
}

double g_oneThreadSeconds = 0.0;

// CPU time of the whole process (every thread), seconds.
double processCpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void BM_VariationSet(benchmark::State& state)
{
    const int threads = int(state.range(0));
    const auto source = makeKit();
    const char* tmp = std::getenv("TMPDIR");
    const std::string base =
        std::string(tmp != nullptr ? tmp : "/tmp") + "/vesk_variation_set_bench";
    double audioSeconds = 0.0, wallSeconds = 0.0, cpuSeconds = 0.0;
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder =
            base + "/t" + std::to_string(threads) + "_" + std::to_string(run++);
        std::filesystem::remove_all(folder);
        state.ResumeTiming();
        vesk::VariationSetRequest r;
        r.count = kVariations;
        r.hasSeed = true;
        r.baseSeed = 2026;
        r.threads = threads;
        r.background = false;
        r.outFolder = folder;
        r.format = vesk::SetFormat::Pcm24;
        r.level = vesk::SetLevel::Loudness;
        r.loudnessLufs = -16.0;
        const double c0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const vesk::VariationSetResult result = vesk::renderVariationSet(*source, r);
        const auto t1 = std::chrono::steady_clock::now();
        cpuSeconds += processCpuSeconds() - c0;
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        state.PauseTiming();
        for (const vesk::SetFileRecord& f : result.files)
            audioSeconds += f.seconds;
        wallSeconds += std::chrono::duration<double>(t1 - t0).count();
        std::filesystem::remove_all(folder);
        state.ResumeTiming();
    }
    state.counters["x_realtime"] = audioSeconds / wallSeconds;
    state.counters["audio_s_per_set"] = audioSeconds / double(state.iterations());
    // Audio per second of CPU over all threads, and how many cores the run really had: a
    // speed-up below 2 with cores_used near 1 means the machine was busy, not the set.
    state.counters["x_realtime_per_cpu"] = audioSeconds / cpuSeconds;
    state.counters["cores_used"] = cpuSeconds / wallSeconds;
    const double perSet = wallSeconds / double(state.iterations());
    if (threads == 1)
        g_oneThreadSeconds = perSet;
    else if (g_oneThreadSeconds > 0.0)
        state.counters["speedup_2_over_1"] = g_oneThreadSeconds / perSet;
}

} // namespace

// One thread first: the two-thread run reports its speed-up over it.
BENCHMARK(BM_VariationSet)->Arg(1)->Arg(2)->Iterations(2)->UseRealTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
