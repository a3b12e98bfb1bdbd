// CPU cost of the master chain per stereo frame: bypassed (limiter look-ahead, DC blocker and
// guard only) and with every stage on (shaped EQ, three-band 2x-oversampled Enhance, FDN reverb,
// limiter), plus the engines alone.
//
// Reported per benchmark: ns_per_frame, audio_ratio (CPU time per second of audio at 48 kHz) and
// x_reference (time relative to a stereo biquad measured in the same run).
#include "bench/BenchSupport.h"
#include "fx/MasterFX.h"
#include "fx/dsp/FdnReverb.h"
#include "fx/dsp/HalfBand2x.h"
#include "fx/dsp/Limiter.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
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

void BM_Master(benchmark::State& state)
{
    auto m = std::make_unique<vesk::MasterFX>();
    m->setSampleRate(kRate);
    const bool everything = state.range(0) != 0;
    state.SetLabel(everything ? "every stage on" : "bypassed");
    if (everything) {
        m->setBypassed(false);
        m->setEQ(2.0f, -1.0f, 3.0f);
        m->setEnhance(3.0f, 50.0f, 10.0f);
        m->setEnhanceMulti(true);
        m->setReverb(0.5f, 0.5f, 2.0f, 0.2f, 0.8f, 1.0f);
    }
    std::vector<float> l = noiseBlock(kBlock, 3), r = noiseBlock(kBlock, 4);
    const std::vector<float> inL = l, inR = r;
    for (auto _ : state) {
        std::copy(inL.begin(), inL.end(), l.begin());
        std::copy(inR.begin(), inR.end(), r.begin());
        m->process(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerFrame(state, kBlock, kRate, kBlock);
}
BENCHMARK(BM_Master)->Arg(0)->Arg(1);

void BM_FdnReverb(benchmark::State& state)
{
    vesk::dsp::FdnReverb reverb;
    reverb.configure(kRate, 100.0);
    reverb.setParams(vesk::dsp::FdnReverbParams{});
    std::vector<float> l = noiseBlock(kBlock, 5), r = noiseBlock(kBlock, 6), ol(kBlock),
                       orr(kBlock);
    for (auto _ : state) {
        reverb.process(l.data(), r.data(), ol.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
    }
    reportPerFrame(state, kBlock, kRate, kBlock);
}
BENCHMARK(BM_FdnReverb);

void BM_Limiter(benchmark::State& state)
{
    vesk::dsp::LookaheadLimiter lim;
    lim.configure(kRate, 10.0);
    vesk::dsp::LimiterSettings s;
    s.inputGain = 2.0;
    s.outputLimit = 0.9;
    lim.setSettings(s);
    std::vector<float> l = noiseBlock(kBlock, 7), r = noiseBlock(kBlock, 8);
    for (auto _ : state) {
        lim.process(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerFrame(state, kBlock, kRate, kBlock);
}
BENCHMARK(BM_Limiter);

void BM_Oversampler(benchmark::State& state)
{
    vesk::Oversampler2x os;
    std::vector<float> l = noiseBlock(kBlock, 9), r = noiseBlock(kBlock, 10), w(2 * kBlock);
    for (auto _ : state) {
        os.upsample(0, l.data(), w.data(), kBlock);
        os.downsample(0, w.data(), l.data(), kBlock);
        os.upsample(1, r.data(), w.data(), kBlock);
        os.downsample(1, w.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerFrame(state, kBlock, kRate, kBlock);
}
BENCHMARK(BM_Oversampler);

} // namespace

BENCHMARK_MAIN();
