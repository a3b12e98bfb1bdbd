// Cost of one trigger of all eight pools (four regions each, every randomizer on), by region
// length, with every pool direct or every other pool a walk cloud. A trigger must not grow with
// the length of the regions it plays (a cloud's grain count grows with its walk up to 100 grains,
// reached at 3 s; past that it is flat too).
#include "engine/Sampler.h"

#include <benchmark/benchmark.h>

#include <ctime>
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

// CPU time of the calling thread, in seconds (the machine may be busy with other work).
double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds per call of `work`, timed over `calls` calls.
template <typename F> double secondsPerCall(int calls, F&& work)
{
    const double t0 = threadSeconds();
    for (int i = 0; i < calls; ++i)
        work(i);
    return (threadSeconds() - t0) / calls;
}

void triggerOnce(vesk::Sampler& sampler, uint64_t seed)
{
    sampler.trigger(seed, 60);
    // Grains from clouds are dropped so every trigger emits into free slots.
    for (vesk::CloudGrain& g : sampler.grains)
        g.active.store(false, std::memory_order_relaxed);
}

// Counters, measured in the same run: the trigger's time relative to the same trigger on regions
// of one second (flat growth reads 1.0), and relative to scanning the eight triggered regions
// for their display peaks (what a trigger that computes them would add).
void BM_TriggerAllPools(benchmark::State& state)
{
    const double seconds = static_cast<double>(state.range(0));
    const bool clouds = state.range(1) != 0;
    auto sampler = makeSetup(seconds, clouds);

    uint64_t seed = 2;
    const double t0 = threadSeconds();
    for (auto _ : state)
        triggerOnce(*sampler, seed++);
    const double perTrigger = (threadSeconds() - t0) / static_cast<double>(state.iterations());

    auto reference = makeSetup(1.0, clouds);
    const double oneSecond = secondsPerCall(
        20000, [&](int i) { triggerOnce(*reference, static_cast<uint64_t>(i) + 2); });
    float peaks[vesk::kDisplayPeaks];
    const double scan = secondsPerCall(3, [&](int) {
        for (int pool = 0; pool < vesk::kNumPools; ++pool)
            vesk::Sampler::generateWaveformPeaks(sampler->pools[pool].samples[0], peaks);
        benchmark::DoNotOptimize(peaks);
    });
    state.counters["region_s"] = seconds;
    state.counters["x_vs_1s_regions"] = perTrigger / oneSecond;
    state.counters["x_vs_peak_scan"] = perTrigger / scan;
}
BENCHMARK(BM_TriggerAllPools)
    ->Args({1, 0})
    ->Args({10, 0})
    ->Args({60, 0})
    ->Args({300, 0})
    ->Args({1, 1})
    ->Args({10, 1})
    ->Args({300, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
