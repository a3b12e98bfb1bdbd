// CPU cost of the tone and dynamics modules and of two full FX buses plus the master chain.
//
// Each benchmark processes 512-frame stereo blocks at 48 kHz and reports
//   ns_per_frame    CPU time per stereo frame,
//   x_reference     that time divided by the reference's, a stereo biquad measured in the same run
//                   (so figures compare across machines),
//   audio_ratio     CPU time per second of audio (1.0 = exactly real time; the goal for both buses
//                   full of forty modules each plus the master is at most 0.15).
#include "fx/FXLane.h"
#include "fx/FXModule.h"
#include "fx/MasterFX.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr unsigned kBlock = 512;

std::vector<float> noise(size_t n, uint32_t seed)
{
    std::vector<float> x(n);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = 0.5f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return x;
}

// The reference kernel: one biquad low-pass per channel over the block (direct form I, doubles).
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

// CPU time of this thread, as the benchmarks' own timings are CPU time.
double threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

// Reference ns per stereo frame, measured once per run.
double referenceNsPerFrame()
{
    static const double ns = [] {
        Biquad bq;
        std::vector<float> l = noise(kBlock, 1), r = noise(kBlock, 2);
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

void report(benchmark::State& state, double framesPerIteration)
{
    // Set after the loop: the counters are divided by the elapsed time (kIsRate) and inverted.
    state.counters["ns_per_frame"] = benchmark::Counter(
        framesPerIteration * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["audio_ratio"] = benchmark::Counter(
        framesPerIteration / kRate,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["x_reference"] = benchmark::Counter(
        framesPerIteration * 1e-9 * referenceNsPerFrame(),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Reference(benchmark::State& state)
{
    Biquad bq;
    std::vector<float> l = noise(kBlock, 1), r = noise(kBlock, 2);
    for (auto _ : state) {
        bq.process(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    report(state, kBlock);
}
BENCHMARK(BM_Reference);

void BM_Module(benchmark::State& state)
{
    const vesk::FXModuleInfo* info = vesk::getFXModuleInfo(static_cast<uint32_t>(state.range(0)));
    if (info == nullptr || info->vtable == nullptr) {
        state.SkipWithError("module not implemented");
        return;
    }
    state.SetLabel(info->name);
    const vesk::FXModuleVTable& vt = *info->vtable;
    void* block = ::operator new (static_cast<size_t>(vt.stateSize), std::align_val_t{64});
    std::memset(block, 0, static_cast<size_t>(vt.stateSize));
    vt.construct(block, kRate);
    float params[vesk::kMaxFXParams] = {};
    std::copy(info->paramDefaults, info->paramDefaults + info->paramCount, params);
    const std::vector<float> inL = noise(kBlock, 3), inR = noise(kBlock, 4);
    std::vector<float> l = inL, r = inR;
    for (auto _ : state) {
        state.PauseTiming();
        l = inL;
        r = inR;
        state.ResumeTiming();
        vt.process(l.data(), r.data(), kBlock, params, block, kRate);
        benchmark::DoNotOptimize(l.data());
    }
    report(state, kBlock);
    vt.destroy(block);
    ::operator delete (block, std::align_val_t{64});
}
// The tone and dynamics modules: EQ, Air Boost, Bass Boost, Saturate, Bitcrusher, SubBeast,
// Transient.
BENCHMARK(BM_Module)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Arg(5)->Arg(6)->Arg(11);

// Both buses full: forty modules each, cycling through the tone and dynamics modules at their
// default values, then the master chain with every stage on. Bus 1 feeds bus 2 as in the "-> 2"
// routing.
void BM_TwoFullBusesAndMaster(benchmark::State& state)
{
    const uint32_t types[] = {1, 2, 3, 4, 5, 6, 11};
    auto lanes = std::make_unique<vesk::FXLane[]>(2);
    for (int b = 0; b < 2; ++b) {
        lanes[b].setSampleRate(kRate);
        for (int i = 0; lanes[b].slotCount < vesk::kMaxSlots; ++i) {
            lanes[b].appendModule(types[static_cast<size_t>(i) % std::size(types)]);
        }
    }
    auto master = std::make_unique<vesk::MasterFX>();
    master->setSampleRate(kRate);
    master->setBypassed(false);
    master->setEQ(2.0f, -1.0f, 3.0f);
    master->setEnhance(3.0f, 50.0f, 10.0f);
    master->setEnhanceMulti(true);
    master->setReverb(0.5f, 0.5f, 2.0f, 0.2f, 0.8f, 1.0f);
    const float modBus[vesk::kModBusSize] = {0.0f, 0.3f, 0.5f, -0.2f, 0.8f};
    std::vector<float> b1l = noise(kBlock, 5), b1r = noise(kBlock, 6);
    std::vector<float> b2l = noise(kBlock, 7), b2r = noise(kBlock, 8);
    for (auto _ : state) {
        lanes[0].processInternal(b1l.data(), b1r.data(), kBlock, modBus);
        for (unsigned i = 0; i < kBlock; ++i) {
            b2l[i] = 0.5f * b2l[i] + b1l[i];
            b2r[i] = 0.5f * b2r[i] + b1r[i];
        }
        lanes[1].processInternal(b2l.data(), b2r.data(), kBlock, modBus);
        master->process(b2l.data(), b2r.data(), kBlock);
        benchmark::DoNotOptimize(b2l.data());
        // Keep the levels sane from block to block.
        for (unsigned i = 0; i < kBlock; ++i) {
            b1l[i] = b1l[i] * 0.5f + 0.1f * std::sin(0.01f * float(i));
            b1r[i] = b1r[i] * 0.5f + 0.1f * std::cos(0.013f * float(i));
        }
    }
    report(state, kBlock);
}
BENCHMARK(BM_TwoFullBusesAndMaster);

} // namespace

BENCHMARK_MAIN();
