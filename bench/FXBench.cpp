// CPU cost of the tone and dynamics modules and of two full FX buses plus the master chain.
//
// Each benchmark processes 512-frame stereo blocks at 48 kHz and reports
//   ns_per_frame    CPU time per stereo frame,
//   x_reference     that time divided by the reference's, a stereo biquad measured in the same run
//                   (so figures compare across machines),
//   audio_ratio     CPU time per second of audio (1.0 = exactly real time; the goal for both buses
//                   full of forty modules each plus the master is at most 0.15).
#include "bench/BenchSupport.h"
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

using namespace vesk::bench;

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
    const std::vector<float> inL = noiseBlock(kBlock, 3), inR = noiseBlock(kBlock, 4);
    std::vector<float> l = inL, r = inR;
    for (auto _ : state) {
        state.PauseTiming();
        l = inL;
        r = inR;
        state.ResumeTiming();
        module.process(l.data(), r.data(), kBlock, kRate);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerFrame(state, kBlock, kRate, kBlock);
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
    std::vector<float> b1l = noiseBlock(kBlock, 5), b1r = noiseBlock(kBlock, 6);
    std::vector<float> b2l = noiseBlock(kBlock, 7), b2r = noiseBlock(kBlock, 8);
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
    reportPerFrame(state, kBlock, kRate, kBlock);
}
BENCHMARK(BM_TwoFullBusesAndMaster);

} // namespace

BENCHMARK_MAIN();
