// Cost of one trigger of all eight pools (four regions each, every randomizer on), by region
// length. A trigger must not grow with the length of the regions it plays; the reference in the
// same run is what scanning each triggered region for its display peaks would cost.
#include "engine/Sampler.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

std::unique_ptr<vesk::Sampler> makeSetup(double regionSeconds, bool clouds)
{
    auto sampler = std::make_unique<vesk::Sampler>();
    sampler->setSampleRate(kRate);
    const size_t frames = static_cast<size_t>(regionSeconds * kRate);
    auto audio = std::make_shared<vesk::RawAudioData>();
    audio->left.assign(frames, 0.0f);
    audio->right.assign(frames, 0.0f);
    for (size_t i = 0; i < frames; i += 97)
        audio->left[i] = audio->right[i] = static_cast<float>(i % 1000) * 0.001f;
    audio->channels = 2;
    audio->sampleRate = kRate;
    for (int pool = 0; pool < vesk::kNumPools; ++pool) {
        for (int k = 0; k < 4; ++k) {
            vesk::SampleData region;
            region.audio = audio;
            region.offset = k; // four distinct regions of (almost) the whole file
            sampler->appendSample(pool, region);
        }
        vesk::SamplePool& p = sampler->pools[pool];
        for (vesk::ParamRandomizer* r : {&p.pitch, &p.volume, &p.pan, &p.delay, &p.start}) {
            r->range = 0.5f;
            r->enabled = true;
        }
        p.reverseChance = 50.0f;
        p.grainCloud = clouds && pool % 2 == 1;
    }
    sampler->retriggerMode = false;
    return sampler;
}

void BM_TriggerAllPools(benchmark::State& state)
{
    const double seconds = static_cast<double>(state.range(0));
    auto sampler = makeSetup(seconds, state.range(1) != 0);
    uint64_t seed = 2;
    for (auto _ : state) {
        sampler->trigger(seed++, 60);
        // Grains from clouds are dropped so every iteration emits into free slots.
        for (vesk::CloudGrain& g : sampler->grains)
            g.active.store(false, std::memory_order_relaxed);
    }
    state.counters["us_per_trigger"] = benchmark::Counter(
        1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["region_s"] = seconds;
}
BENCHMARK(BM_TriggerAllPools)
    ->Args({1, 0})
    ->Args({10, 0})
    ->Args({60, 0})
    ->Args({300, 0})
    ->Args({1, 1})
    ->Args({300, 1})
    ->Unit(benchmark::kMicrosecond);

// Reference: scanning the eight triggered regions for their display peaks.
void BM_PeakScanOfEightRegions(benchmark::State& state)
{
    const double seconds = static_cast<double>(state.range(0));
    auto sampler = makeSetup(seconds, false);
    float peaks[vesk::kDisplayPeaks];
    for (auto _ : state) {
        for (int pool = 0; pool < vesk::kNumPools; ++pool)
            vesk::Sampler::generateWaveformPeaks(sampler->pools[pool].samples[0], peaks);
        benchmark::DoNotOptimize(peaks);
    }
    state.counters["us_per_trigger"] = benchmark::Counter(
        1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["region_s"] = seconds;
}
BENCHMARK(BM_PeakScanOfEightRegions)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
