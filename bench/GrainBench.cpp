// Cost of grain playback: 512 grains sounding at once at 48 kHz, as CPU time per second of audio
// (the goal is at most 0.10), next to one direct voice as a reference measured in the same run.
#include "engine/Sampler.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;

std::shared_ptr<const vesk::RawAudioData> noiseFile(size_t frames, int channels)
{
    auto audio = std::make_shared<vesk::RawAudioData>();
    uint64_t x = 0x9E3779B97F4A7C15ULL;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<float>(static_cast<int64_t>(x >> 11) - (1LL << 52)) * 0x1.0p-53f;
    };
    audio->left.resize(frames);
    for (float& v : audio->left)
        v = next();
    if (channels == 2) {
        audio->right.resize(frames);
        for (float& v : audio->right)
            v = next();
    }
    audio->channels = channels;
    audio->sampleRate = kRate;
    return audio;
}

// Audio seconds rendered per iteration, inverted into CPU seconds per audio second.
benchmark::Counter cpuPerAudioSecond(double audioSeconds)
{
    return benchmark::Counter(audioSeconds, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
}

// 512 grains sounding at once, every slot busy, each spread over the file. Grain i plays at
// rate(i) for length(i) samples.
template <typename Rate, typename Length>
void runGrains(benchmark::State& state, int channels, Rate rate, Length length)
{
    auto sampler = std::make_unique<vesk::Sampler>();
    sampler->setSampleRate(kRate);
    vesk::SampleData region;
    region.audio = noiseFile(static_cast<size_t>(kRate * 20), channels);
    sampler->appendSample(0, region);
    const vesk::SampleData* sample = &sampler->pools[0].samples[0];

    for (int i = 0; i < vesk::kMaxGrains; ++i) {
        vesk::CloudGrain& g = sampler->grains[i];
        g.sample = sample;
        g.startFrame = (i * 1777) % static_cast<int64_t>(kRate * 18);
        g.rate = rate(i);
        g.lengthSamples = length(i);
        g.delaySamples = 0;
        g.gain = 0.25f;
        g.panL = 1.0f;
        g.panR = 1.0f;
        g.pool = 0;
        g.active.store(true);
    }
    std::vector<float> left(kBlock), right(kBlock);
    int64_t block = 0;
    for (auto _ : state) {
        // Keep every grain inside its window so all 512 sound in every block.
        for (vesk::CloudGrain& g : sampler->grains) {
            g.elapsed = (block * kBlock + g.startFrame) % (g.lengthSamples - kBlock);
            g.active.store(true, std::memory_order_relaxed);
        }
        ++block;
        sampler->walks[0].active = false;
        sampler->renderGrains(left.data(), right.data(), kBlock);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.counters["cpu_per_audio"] = cpuPerAudioSecond(kBlock / kRate);
}

// Grains of 100..250 ms at a rate of 0.7..1.4; the argument is the number of channels.
void BM_Grains512(benchmark::State& state)
{
    runGrains(
        state, static_cast<int>(state.range(0)),
        [](int i) { return static_cast<float>(std::pow(2.0, ((i % 25) - 12) / 24.0)); },
        [](int i) { return int64_t{4800} + (i * 37) % 7200; });
}
BENCHMARK(BM_Grains512)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Short grains of 21..83 ms at a rate of 1..4, stereo.
void BM_ShortFastGrains512(benchmark::State& state)
{
    runGrains(
        state, 2, [](int i) { return static_cast<float>(std::pow(2.0, (i % 25) / 12.0)); },
        [](int i) { return int64_t{1000} + (i * 37) % 3000; });
}
BENCHMARK(BM_ShortFastGrains512)->Unit(benchmark::kMicrosecond);

// Reference: one direct voice playing the same file with a pitch, through the sinc interpolator.
void BM_OneVoiceReference(benchmark::State& state)
{
    auto sampler = std::make_unique<vesk::Sampler>();
    sampler->setSampleRate(kRate);
    vesk::SampleData region;
    region.audio = noiseFile(static_cast<size_t>(kRate * 20), 2);
    sampler->appendSample(0, region);
    sampler->pools[0].pitch.base = 3.0f;
    std::vector<float> left(kBlock), right(kBlock);
    vesk::VoiceParams p;
    p.valid = true;
    int64_t rendered = 0;
    for (auto _ : state) {
        if (!sampler->voices[0][0].isActive() || rendered > kRate * 10) {
            sampler->triggerVoiceAndUpdateCache(0, p);
            rendered = 0;
        }
        sampler->renderPoolVoices(0, left.data(), right.data(), kBlock);
        rendered += kBlock;
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["cpu_per_audio"] = cpuPerAudioSecond(kBlock / kRate);
}
BENCHMARK(BM_OneVoiceReference)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
