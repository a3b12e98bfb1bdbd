// Cost of saving and loading the plug-in state of a full setup: eight pools of 64 regions each
// (cut from one file per pool, as auto-split leaves them), both FX buses with modules, the master
// changed. Loading is measured with the files already decoded (they stay in the raw-audio cache
// while the instance holds them), so it is the stream, the region lists, the display peaks and
// overviews, the FX modules and the snapshot publication. Reported in milliseconds per save or
// load, and as a ratio against a reference measured in the same run: copying the whole stream
// and the 8 x 28000-bin overviews once (what any load must at least touch).
#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "plugin/VeskPlugin.h"
#include "tests/support/InProcessPlugin.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace vesk::test;

const clap_host_t gHost = silentHost("bench");

VeskPlugin* makeInstance()
{
    return newInitialisedInstance(&gHost);
}

// Eight files of 2 s, each cut into 64 regions.
void buildSetup(VeskPlugin& p)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vesk-state-bench";
    std::filesystem::create_directories(dir);
    std::lock_guard<std::mutex> lock(p.stateMutex);
    for (int pool = 0; pool < vesk::kNumPools; ++pool) {
        const size_t frames = 96000;
        std::vector<float> x(frames);
        for (size_t i = 0; i < frames; ++i)
            x[i] = float(0.4 * std::sin(2.0 * M_PI * 100.0 * (pool + 1) * double(i) / 48000.0));
        char name[32];
        std::snprintf(name, sizeof name, "pool%d.wav", pool);
        const std::string path = (dir / name).string();
        vesk::writeWav(path, x, x, 48000.0);
        auto audio = vesk::loadWavRaw(path, 48000.0);
        p.rawAudioCache.put(path, audio);
        for (int k = 0; k < vesk::kMaxSamplesPerPool; ++k)
            p.sampler.appendSample(pool, {audio, int64_t(k) * 1500, 1500});
        vesk::SamplePool& sp = p.sampler.pools[pool];
        sp.volumeEnv.count = 16;
        sp.volumeEnv.enabled = true;
        for (uint32_t n = 0; n < 16; ++n)
            sp.volumeEnv.points[n] = {float(n) / 15.0f, -float(n)};
    }
    for (int l = 0; l < vesk::kNumLanes; ++l)
        for (uint32_t t = 1; t <= 12; ++t)
            p.lanes[l].appendModule(t);
    p.masterFx.setBypassed(false);
    p.masterFx.setEQ(2.0f, -1.0f, 1.0f);
}

struct Fixture
{
    VeskPlugin* source = makeInstance();
    VeskPlugin* target = makeInstance();
    std::vector<uint8_t> stream;
    Fixture()
    {
        buildSetup(*source);
        saveState(*source, stream);
        loadState(*target, stream); // decodes once; later loads find the files in the cache
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

// Seconds for one pass of the reference: copying the stream and eight overviews.
double referenceSeconds(const std::vector<uint8_t>& stream)
{
    static std::vector<uint8_t> copy;
    static std::vector<float> overviews(size_t(vesk::kNumPools) * vesk::kOverviewPeaks);
    static std::vector<float> target(overviews.size());
    const int reps = 200;
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; ++r) {
        copy.assign(stream.begin(), stream.end());
        std::memcpy(target.data(), overviews.data(), overviews.size() * sizeof(float));
        benchmark::DoNotOptimize(copy.data());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps;
}

void report(benchmark::State& state, double seconds, uint64_t count, size_t bytes)
{
    const double per = seconds / double(count);
    state.counters["ms"] = per * 1000.0;
    state.counters["x_reference"] = per / referenceSeconds(fixture().stream);
    state.counters["stream_kib"] = double(bytes) / 1024.0;
}

void BM_StateSave(benchmark::State& state)
{
    Fixture& f = fixture();
    std::vector<uint8_t> out;
    double seconds = 0.0;
    uint64_t count = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        saveState(*f.source, out);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++count;
        benchmark::DoNotOptimize(out.data());
    }
    if (out != f.stream)
        state.SkipWithError("the save changed");
    report(state, seconds, count, out.size());
}

void BM_StateLoad(benchmark::State& state)
{
    Fixture& f = fixture();
    double seconds = 0.0;
    uint64_t count = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!loadState(*f.target, f.stream))
            state.SkipWithError("the load failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++count;
    }
    report(state, seconds, count, f.stream.size());
}

} // namespace

BENCHMARK(BM_StateSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StateLoad)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
