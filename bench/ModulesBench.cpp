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

namespace {

constexpr double kRate = 48000.0;
constexpr unsigned kBlock = 512;

std::vector<float> noiseBlock(size_t n, uint32_t seed)
{
    std::vector<float> x(n);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = 0.5f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return x;
}

struct Biquad
{
    double b0 = 0.2, b1 = 0.4, b2 = 0.2, a1 = -0.5, a2 = 0.3;
    double x1[2] = {}, x2[2] = {}, y1[2] = {}, y2[2] = {};
    void process(float* l, float* r, unsigned n)
    {
        float* io[2] = {l, r};
        for (int c = 0; c < 2; ++c) {
            for (unsigned i = 0; i < n; ++i) {
                const double x = io[c][i];
                const double y = b0 * x + b1 * x1[c] + b2 * x2[c] - a1 * y1[c] - a2 * y2[c];
                x2[c] = x1[c];
                x1[c] = x;
                y2[c] = y1[c];
                y1[c] = y;
                io[c][i] = static_cast<float>(y);
            }
        }
    }
};

double threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

double referenceNsPerFrame()
{
    static const double ns = [] {
        Biquad bq;
        std::vector<float> l = noiseBlock(kBlock, 1), r = noiseBlock(kBlock, 2);
        const int rounds = 20000;
        const double t0 = threadCpuNs();
        for (int i = 0; i < rounds; ++i) {
            bq.process(l.data(), r.data(), kBlock);
            benchmark::DoNotOptimize(l.data());
        }
        return (threadCpuNs() - t0) / (double(rounds) * kBlock);
    }();
    return ns;
}

void report(benchmark::State& state, double frames)
{
    const auto inv = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    state.counters["ns_per_frame"] = benchmark::Counter(frames * 1e-9, inv);
    state.counters["audio_ratio"] = benchmark::Counter(frames / kRate, inv);
    state.counters["x_reference"] = benchmark::Counter(frames * 1e-9 * referenceNsPerFrame(), inv);
}

void BM_Reference(benchmark::State& state)
{
    Biquad bq;
    std::vector<float> l = noiseBlock(kBlock, 1), r = noiseBlock(kBlock, 2);
    for (auto _ : state) {
        bq.process(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    report(state, kBlock);
}
BENCHMARK(BM_Reference);

void BM_Module(benchmark::State& state)
{
    const FXModuleInfo* info = getFXModuleInfo(static_cast<uint32_t>(state.range(0)));
    if (info == nullptr || info->vtable == nullptr) {
        state.SkipWithError("module not implemented");
        return;
    }
    state.SetLabel(info->name);
    const FXModuleVTable& vt = *info->vtable;
    void* block = ::operator new (static_cast<size_t>(vt.stateSize), std::align_val_t{64});
    std::memset(block, 0, static_cast<size_t>(vt.stateSize));
    vt.construct(block, kRate);
    float params[kMaxFXParams] = {};
    std::copy(info->paramDefaults, info->paramDefaults + info->paramCount, params);
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
        vt.process(l.data(), r.data(), kBlock, params, block, kRate);
        benchmark::DoNotOptimize(l.data());
    }
    report(state, kBlock);
    vt.destroy(block);
    ::operator delete (block, std::align_val_t{64});
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
    inst.send(CmdSetRetriggerMode, Bytes().u8(0));
    for (uint32_t pool = 0; pool < 8; ++pool) {
        inst.plugin->backend.SendLoadToPool(pool, file);
        inst.send(CmdSetPoolRoute, Bytes().u32(pool).u8(pool < 4 ? 0 : 1));
    }
    for (uint8_t bus = 0; bus < 2; ++bus)
        for (uint8_t type : busTypes(bus))
            inst.send(CmdAddFxSlot, Bytes().u8(bus).u8(type));
    inst.send(CmdSetMasterBypass, Bytes().u8(0));
    inst.send(CmdSetMasterEQ, Bytes().f32(2.0f).f32(-1.0f).f32(3.0f));
    inst.send(CmdSetMasterEnhance, Bytes().f32(3.0f).f32(50.0f).f32(10.0f));
    inst.send(CmdSetMasterEnhanceMulti, Bytes().u8(1));
    inst.send(CmdSetMasterReverb,
              Bytes().f32(0.5f).f32(0.5f).f32(2.0f).f32(0.2f).f32(0.8f).f32(1.0f));
    inst.pump();
    inst.finishJobs();
    for (uint64_t seed = 1; seed <= 4; ++seed)
        inst.send(CmdTrigger, Bytes().u64(seed));
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
