// CPU cost of the modulation, time and space, spectral, resonator, granular and Doppler modules,
// and of the heaviest patch the plug-in allows.
//
// Module benchmarks process 512-frame stereo blocks of noise at 48 kHz with the registry's
// defaults and report
//   ns_per_frame    CPU time per stereo frame,
//   x_reference     that time over a stereo biquad's, measured in the same run,
//   audio_ratio     CPU time per second of audio (1.0 = exactly real time).
// The heaviest patch runs a whole instance: 32 voices and 512 grains sounding, both buses with
// forty modules each (among them four STFT modules, three reverbs and two pitch shifters), the
// master chain with every stage on. It reports cpu_over_audio (thread CPU time of the process
// calls over the audio time they render) and worst_over_median (the slowest block over the median
// block, taking per block index the fastest of several identical runs, so one-off interruptions
// do not count).
#include "tests/support/PluginFixture.h"

#include "bench/BenchSupport.h"

#include "audio_files/WavWriter.h"
#include "fx/FXModule.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <unistd.h>
#include <vector>

using namespace vesk;
using namespace vesk::test;
using namespace vesk::bench;

namespace {

constexpr double kRate = 48000.0;
constexpr unsigned kBlock = 512;

void BM_Reference(benchmark::State& state)
{
    runBiquadReference(state, kRate, kBlock);
}
BENCHMARK(BM_Reference);

void BM_Module(benchmark::State& state)
{
    ModuleInstance module(static_cast<uint32_t>(state.range(0)), kRate);
    if (!labelOrSkip(state, module))
        return;
    // A long stretch of fresh noise, so modules that follow the signal (Doppler, TapeStartStop)
    // see sound in every block; taken 512 frames at a time.
    const std::vector<float> inL = noiseBlock(kBlock * 64, 3), inR = noiseBlock(kBlock * 64, 4);
    std::vector<float> l(kBlock), r(kBlock);
    size_t at = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(inL.begin() + at, inL.begin() + at + kBlock, l.begin());
        std::copy(inR.begin() + at, inR.begin() + at + kBlock, r.begin());
        at = (at + kBlock) % inL.size();
        state.ResumeTiming();
        module.process(l.data(), r.data(), kBlock, kRate);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerFrame(state, kBlock, kRate, kBlock);
}
BENCHMARK(BM_Module)->DenseRange(7, 10)->DenseRange(12, 30);

// The heaviest patch ---------------------------------------------------------------------------

constexpr int kPatchBlocks = 188; // 2 s

std::string makeFile()
{
    char path[] = "/tmp/vesk_modules_bench_XXXXXX.wav";
    const int fd = mkstemps(path, 4);
    if (fd >= 0)
        close(fd);
    std::vector<float> l = noiseBlock(size_t(kRate * 6), 11);
    std::vector<float> r = noiseBlock(size_t(kRate * 6), 12);
    writeWav(path, l, r, kRate);
    return path;
}

// Forty modules per bus: the heavy ones spread over both buses, the other types in turn.
std::vector<uint8_t> busTypes(int bus)
{
    std::vector<uint8_t> types;
    if (bus == 0)
        types = {26, 27, 20, 20, 16};
    else
        types = {30, 27, 20, 16};
    const uint8_t light[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                             14, 15, 17, 18, 19, 21, 22, 23, 24, 25, 28, 29};
    for (size_t i = 0; types.size() < size_t(kMaxSlots); ++i)
        types.push_back(light[(i + size_t(bus) * 7) % std::size(light)]);
    return types;
}

void setUpPatch(Instance& inst, const std::string& file)
{
    inst.send(msg::SetRetriggerMode{false});
    for (uint32_t pool = 0; pool < 8; ++pool) {
        inst.plugin->backend.SendLoadToPool(pool, file);
        inst.send(msg::SetPoolRoute{pool, pool < 4 ? PoolRoute::Bus1 : PoolRoute::Bus2});
    }
    for (uint8_t bus = 0; bus < 2; ++bus)
        for (uint8_t type : busTypes(bus))
            inst.send(msg::AddFxSlot{bus, type});
    inst.send(msg::SetMasterBypass{false});
    inst.send(msg::SetMasterEQ{2.0f, -1.0f, 3.0f});
    inst.send(msg::SetMasterEnhance{3.0f, 50.0f, 10.0f});
    inst.send(msg::SetMasterEnhanceMulti{true});
    inst.send(msg::SetMasterReverb{0.5f, 0.5f, 2.0f, 0.2f, 0.8f, 1.0f});
    inst.pump();
    inst.finishJobs();
    for (uint64_t seed = 1; seed <= 4; ++seed)
        inst.send(msg::Trigger{seed});
}

// Every grain slot busy, inside its window, so all 512 sound in every block.
void keepGrainsSounding(Sampler& sampler, int64_t block)
{
    const SampleData* sample = &sampler.pools[0].samples[0];
    for (int i = 0; i < kMaxGrains; ++i) {
        CloudGrain& g = sampler.grains[i];
        if (block == 0) {
            g.sample = sample;
            g.startFrame = (i * 1777) % static_cast<int64_t>(kRate * 4);
            g.rate = static_cast<float>(std::pow(2.0, ((i % 25) - 12) / 24.0));
            g.lengthSamples = 4800 + (i * 37) % 7200;
            g.delaySamples = 0;
            g.gain = 0.05f;
            g.panL = 1.0f;
            g.panR = 1.0f;
            g.pool = 0;
        }
        g.elapsed = (block * kBlock + g.startFrame) % (g.lengthSamples - kBlock);
        g.active.store(true, std::memory_order_relaxed);
    }
}

// CPU time of each block's process call, in microseconds.
std::vector<double> runPatchOnce(const std::string& file)
{
    Instance inst(kRate);
    setUpPatch(inst, file);
    std::vector<double> times;
    times.reserve(kPatchBlocks);
    int64_t block = 0;
    double t0 = 0.0;
    // CPU time of this thread, so time the machine gives to other processes does not count.
    inst.beforeProcess = [&] {
        keepGrainsSounding(inst.plugin->sampler, block++);
        t0 = threadCpuNs();
    };
    inst.afterProcess = [&] { times.push_back((threadCpuNs() - t0) * 1e-3); };
    std::vector<float> l, r;
    l.reserve(kBlock * kPatchBlocks);
    r.reserve(kBlock * kPatchBlocks);
    inst.render(kBlock * kPatchBlocks, kBlock, l, r);
    return times;
}

void BM_HeaviestPatch(benchmark::State& state)
{
    const std::string file = makeFile();
    constexpr int kRuns = 5;
    std::vector<double> best(kPatchBlocks, 1e30);
    double total = 0.0;
    for (auto _ : state) {
        for (int run = 0; run < kRuns; ++run) {
            const std::vector<double> t = runPatchOnce(file);
            for (size_t i = 0; i < t.size() && i < best.size(); ++i)
                best[i] = std::min(best[i], t[i]);
            for (double x : t)
                total += x;
        }
    }
    std::vector<double> sorted = best;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double audioMicros = double(kBlock) * kPatchBlocks / kRate * 1e6;
    state.counters["cpu_over_audio"] = total / double(state.iterations() * kRuns) / audioMicros;
    state.counters["best_runs_over_audio"] = [&] {
        double s = 0.0;
        for (double x : best)
            s += x;
        return s / audioMicros;
    }();
    state.counters["worst_over_median"] = sorted.back() / median;
    state.counters["median_block_us"] = median;
    std::remove(file.c_str());
}
BENCHMARK(BM_HeaviestPatch)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
