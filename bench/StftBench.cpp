// Time per hop of the three STFT modules (SpecBlur, SpecGate, HPSS) as a ratio to one forward
// plus inverse 1024-point real FFT pair measured in the same run (the floor of any STFT effect
// with two channels is two such pairs per hop). Also the bare STFT with untouched spectra.
// Counters: x_fft_pair (the ratio), ns_per_hop, fft_pair_ns; each the median over rounds.
#include "bench/BenchSupport.h"
#include "fx/FXModule.h"
#include "fx/dsp/FftwPlanner.h"
#include "fx/dsp/Stft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

using namespace vesk;
using namespace vesk::bench;

namespace {

constexpr double kRate = 48000.0;

// One forward and one inverse 1024-point real transform, planned as the STFT plans its own.
class FftPair
{
public:
    FftPair()
    {
        time_ = fftwf_alloc_real(Stft::kWindow);
        freq_ = fftwf_alloc_complex(Stft::kBins);
        if (time_ == nullptr || freq_ == nullptr)
            throw std::bad_alloc();
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        forward_ = fftwf_plan_dft_r2c_1d(Stft::kWindow, time_, freq_, FFTW_ESTIMATE);
        inverse_ = fftwf_plan_dft_c2r_1d(Stft::kWindow, freq_, time_, FFTW_ESTIMATE);
        for (int i = 0; i < Stft::kWindow; ++i)
            time_[i] = float((i * 7919) % 1000) * 1e-3f - 0.5f;
    }
    ~FftPair()
    {
        {
            std::lock_guard<std::mutex> lock(fftwPlannerMutex());
            fftwf_destroy_plan(forward_);
            fftwf_destroy_plan(inverse_);
        }
        fftwf_free(time_);
        fftwf_free(freq_);
    }
    FftPair(const FftPair&) = delete;
    FftPair& operator=(const FftPair&) = delete;

    void run()
    {
        fftwf_execute(forward_);
        fftwf_execute(inverse_);
        time_[0] *= 1.0f / Stft::kWindow;
        benchmark::DoNotOptimize(time_);
    }

private:
    float* time_ = nullptr;
    fftwf_complex* freq_ = nullptr;
    fftwf_plan forward_ = nullptr;
    fftwf_plan inverse_ = nullptr;
};

// Times `hop` against the FFT pair in alternating short batches and reports the median of the
// per-round ratios. Both sides of each ratio are measured within a few milliseconds of each
// other, so a stretch of load from elsewhere on the machine falls on both instead of skewing one.
template <class Hop> void measureAgainstFftPair(benchmark::State& state, Hop&& hop)
{
    constexpr int kRounds = 41;
    constexpr int kPairs = 400;
    constexpr int kHops = 200;
    FftPair pair;
    for (int i = 0; i < kHops; ++i) // warm-up: fill the history and the caches
        hop();
    std::vector<double> ratios, hopNs, pairNs;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            double t0 = threadCpuNs();
            for (int i = 0; i < kPairs; ++i)
                pair.run();
            const double perPair = (threadCpuNs() - t0) / kPairs;
            t0 = threadCpuNs();
            for (int i = 0; i < kHops; ++i)
                hop();
            const double perHop = (threadCpuNs() - t0) / kHops;
            ratios.push_back(perHop / perPair);
            hopNs.push_back(perHop);
            pairNs.push_back(perPair);
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    state.counters["x_fft_pair"] = median(ratios);
    state.counters["ns_per_hop"] = median(hopNs);
    state.counters["fft_pair_ns"] = median(pairNs);
}

void BM_BareStft(benchmark::State& state)
{
    Stft stft;
    std::vector<float> l = noiseBlock(Stft::kHop, 1), r = noiseBlock(Stft::kHop, 2);
    measureAgainstFftPair(state, [&] {
        stft.process(l.data(), r.data(), Stft::kHop, [](Stft::Bin*, Stft::Bin*) {});
        benchmark::DoNotOptimize(l.data());
    });
}
BENCHMARK(BM_BareStft)->Iterations(1);

// range(0): the type id; range(1): -1 for the defaults, else a value for knob 0 (HPSS "Layer"
// at 0.25 makes it separate; at its default 0.5 it passes the spectra through).
void BM_StftModule(benchmark::State& state)
{
    ModuleInstance module(static_cast<uint32_t>(state.range(0)), kRate);
    if (!labelOrSkip(state, module))
        return;
    if (state.range(1) >= 0)
        module.params[0] = float(state.range(1)) / 100.0f;
    const std::vector<float> inL = noiseBlock(Stft::kHop * 64, 3);
    const std::vector<float> inR = noiseBlock(Stft::kHop * 64, 4);
    std::vector<float> l(Stft::kHop), r(Stft::kHop);
    size_t at = 0;
    // Each call is one hop of fresh noise; copying it in costs little next to the hop.
    measureAgainstFftPair(state, [&] {
        std::copy(inL.begin() + at, inL.begin() + at + Stft::kHop, l.begin());
        std::copy(inR.begin() + at, inR.begin() + at + Stft::kHop, r.begin());
        at = (at + Stft::kHop) % inL.size();
        module.process(l.data(), r.data(), Stft::kHop, kRate);
        benchmark::DoNotOptimize(l.data());
    });
}
BENCHMARK(BM_StftModule)
    ->Iterations(1)
    ->Args({26, -1})
    ->Args({27, -1})
    ->Args({30, -1})
    ->Args({30, 25});

} // namespace

BENCHMARK_MAIN();
