// Pieces the benchmarks share: this thread's CPU time, a repeatable noise block, the stereo biquad
// that the module benchmarks measure against, and a module of the registry with its state block.
#pragma once

#include "fx/FXModule.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

namespace vesk::bench {

// CPU time of this thread in nanoseconds: time the machine gives to other processes (or threads)
// does not count against what is measured.
inline double threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

// n samples of noise in [-0.5, 0.5), the same for the same seed on every run.
inline std::vector<float> noiseBlock(size_t n, uint32_t seed)
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

// The biquad's ns per stereo frame over blocks of `block` frames, measured once per run.
inline double biquadNsPerFrame(unsigned block)
{
    static const double ns = [block] {
        Biquad bq;
        std::vector<float> l = noiseBlock(block, 1), r = noiseBlock(block, 2);
        const int rounds = 20000;
        const double t0 = threadCpuNs();
        for (int i = 0; i < rounds; ++i) {
            bq.process(l.data(), r.data(), block);
            benchmark::DoNotOptimize(l.data());
        }
        return (threadCpuNs() - t0) / (double(rounds) * block);
    }();
    return ns;
}

// Counters for a benchmark whose iterations each process `frames` stereo frames at `rate`:
// ns_per_frame, audio_ratio (CPU time per second of audio) and x_reference (over the biquad's).
// Set them after the loop.
inline void reportPerFrame(benchmark::State& state, double frames, double rate, unsigned block)
{
    const auto inv = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    state.counters["ns_per_frame"] = benchmark::Counter(frames * 1e-9, inv);
    state.counters["audio_ratio"] = benchmark::Counter(frames / rate, inv);
    state.counters["x_reference"] =
        benchmark::Counter(frames * 1e-9 * biquadNsPerFrame(block), inv);
}

// The biquad itself, as a benchmark beside the modules'.
inline void runBiquadReference(benchmark::State& state, double rate, unsigned block)
{
    Biquad bq;
    std::vector<float> l = noiseBlock(block, 1), r = noiseBlock(block, 2);
    for (auto _ : state) {
        bq.process(l.data(), r.data(), block);
        benchmark::DoNotOptimize(l.data());
    }
    reportPerFrame(state, block, rate, block);
}

// One module of the registry in its own state block, at its default knob values; null info when
// the type has no implementation.
class ModuleInstance
{
public:
    ModuleInstance(uint32_t type, double rate) : info(getFXModuleInfo(type))
    {
        if (info == nullptr || info->vtable == nullptr) {
            info = nullptr;
            return;
        }
        const FXModuleVTable& vt = *info->vtable;
        block_ = ::operator new (static_cast<size_t>(vt.stateSize), std::align_val_t{64});
        std::memset(block_, 0, static_cast<size_t>(vt.stateSize));
        vt.construct(block_, rate);
        std::copy(info->paramDefaults, info->paramDefaults + info->paramCount, params);
    }
    ~ModuleInstance()
    {
        if (block_ != nullptr) {
            info->vtable->destroy(block_);
            ::operator delete (block_, std::align_val_t{64});
        }
    }
    ModuleInstance(const ModuleInstance&) = delete;
    ModuleInstance& operator=(const ModuleInstance&) = delete;

    void process(float* l, float* r, unsigned frames, double rate)
    {
        info->vtable->process(l, r, frames, params, block_, rate);
    }

    const FXModuleInfo* info;
    float params[kMaxFXParams] = {};

private:
    void* block_ = nullptr;
};

// Labels the benchmark with the module's name; false (and the benchmark marked as skipped) when
// the type has no implementation.
inline bool labelOrSkip(benchmark::State& state, const ModuleInstance& module)
{
    if (module.info == nullptr) {
        state.SkipWithError("module not implemented");
        return false;
    }
    state.SetLabel(module.info->name);
    return true;
}

} // namespace vesk::bench
