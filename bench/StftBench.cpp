// Time per hop of the three STFT modules (SpecBlur, SpecGate, HPSS) as a ratio to one forward
// plus inverse 1024-point real FFT pair measured in the same run (the floor of any STFT effect
// with two channels is two such pairs per hop). Also the bare STFT with untouched spectra.
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

// ns for one forward and one inverse 1024-point real transform, measured once per run.
double fftPairNs()
{
    static const double ns = [] {
        float* time = fftwf_alloc_real(Stft::kWindow);
        fftwf_complex* freq = fftwf_alloc_complex(Stft::kBins);
        fftwf_plan fwd;
        fftwf_plan inv;
        {
            std::lock_guard<std::mutex> lock(fftwPlannerMutex());
            fwd = fftwf_plan_dft_r2c_1d(Stft::kWindow, time, freq, FFTW_ESTIMATE);
            inv = fftwf_plan_dft_c2r_1d(Stft::kWindow, freq, time, FFTW_ESTIMATE);
        }
        for (int i = 0; i < Stft::kWindow; ++i)
            time[i] = float((i * 7919) % 1000) * 1e-3f - 0.5f;
        // The fastest of several batches: on a shared machine a single long batch reads whatever
        // else ran meanwhile, which skews every ratio of the run.
        const int batches = 25;
        const int rounds = 2000;
        double result = 0.0;
        for (int b = 0; b < batches; ++b) {
            const double t0 = threadCpuNs();
            for (int i = 0; i < rounds; ++i) {
                fftwf_execute(fwd);
                fftwf_execute(inv);
                time[0] *= 1.0f / Stft::kWindow;
                benchmark::DoNotOptimize(time);
            }
            const double ns = (threadCpuNs() - t0) / rounds;
            result = b == 0 ? ns : std::min(result, ns);
        }
        {
            std::lock_guard<std::mutex> lock(fftwPlannerMutex());
            fftwf_destroy_plan(fwd);
            fftwf_destroy_plan(inv);
        }
        fftwf_free(time);
        fftwf_free(freq);
        return result;
    }();
    return ns;
}

void reportPerHop(benchmark::State& state)
{
    // Each iteration processes exactly one hop.
    const auto inv = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    state.counters["ns_per_hop"] = benchmark::Counter(1e-9, inv);
    state.counters["x_fft_pair"] = benchmark::Counter(1e-9 * fftPairNs(), inv);
}

void BM_FftPair(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(fftPairNs());
    state.counters["fft_pair_ns"] = fftPairNs();
}
BENCHMARK(BM_FftPair)->Iterations(1);

void BM_BareStft(benchmark::State& state)
{
    Stft stft;
    std::vector<float> l = noiseBlock(Stft::kHop, 1), r = noiseBlock(Stft::kHop, 2);
    for (auto _ : state) {
        stft.process(l.data(), r.data(), Stft::kHop, [](Stft::Bin*, Stft::Bin*) {});
        benchmark::DoNotOptimize(l.data());
    }
    reportPerHop(state);
}
BENCHMARK(BM_BareStft);

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
    // Copying a hop of input costs far less than pausing and resuming the timer would.
    for (auto _ : state) {
        std::copy(inL.begin() + at, inL.begin() + at + Stft::kHop, l.begin());
        std::copy(inR.begin() + at, inR.begin() + at + Stft::kHop, r.begin());
        at = (at + Stft::kHop) % inL.size();
        module.process(l.data(), r.data(), Stft::kHop, kRate);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerHop(state);
}
BENCHMARK(BM_StftModule)->Args({26, -1})->Args({27, -1})->Args({30, -1})->Args({30, 25});

} // namespace

BENCHMARK_MAIN();
