// CPU cost of the master chain per stereo frame: bypassed (limiter look-ahead, DC blocker and
// guard only) and with every stage on (shaped EQ, three-band 2x-oversampled Enhance, FDN reverb,
// limiter), plus the engines alone.
//
// Reported per benchmark: ns_per_frame, audio_ratio (CPU time per second of audio at 48 kHz) and
// x_reference (time relative to a stereo biquad measured in the same run).
#include "fx/MasterFX.h"
#include "fx/dsp/FdnReverb.h"
#include "fx/dsp/HalfBand2x.h"
#include "fx/dsp/Limiter.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
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

void biquad(float* l, float* r, unsigned n, double* st)
{
    float* io[2] = {l, r};
    for (int c = 0; c < 2; ++c) {
        double* s = st + 4 * c;
        for (unsigned i = 0; i < n; ++i) {
            const double x = io[c][i];
            const double y = 0.2 * x + 0.4 * s[0] + 0.2 * s[1] + 0.5 * s[2] - 0.3 * s[3];
            s[1] = s[0];
            s[0] = x;
            s[3] = s[2];
            s[2] = y;
            io[c][i] = static_cast<float>(y);
        }
    }
}

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
        double st[8] = {};
        std::vector<float> l = noise(kBlock, 1), r = noise(kBlock, 2);
        const int rounds = 20000;
        const double t0 = threadCpuNs();
        for (int i = 0; i < rounds; ++i) {
            biquad(l.data(), r.data(), kBlock, st);
            benchmark::DoNotOptimize(l.data());
        }
        return (threadCpuNs() - t0) / (double(rounds) * kBlock);
    }();
    return ns;
}

void report(benchmark::State& state)
{
    const auto flags = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    state.counters["ns_per_frame"] = benchmark::Counter(kBlock * 1e-9, flags);
    state.counters["audio_ratio"] = benchmark::Counter(kBlock / kRate, flags);
    state.counters["x_reference"] =
        benchmark::Counter(kBlock * 1e-9 * referenceNsPerFrame(), flags);
}

void BM_Reference(benchmark::State& state)
{
    double st[8] = {};
    std::vector<float> l = noise(kBlock, 1), r = noise(kBlock, 2);
    for (auto _ : state) {
        biquad(l.data(), r.data(), kBlock, st);
        benchmark::DoNotOptimize(l.data());
    }
    report(state);
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
    std::vector<float> l = noise(kBlock, 3), r = noise(kBlock, 4);
    const std::vector<float> inL = l, inR = r;
    for (auto _ : state) {
        std::copy(inL.begin(), inL.end(), l.begin());
        std::copy(inR.begin(), inR.end(), r.begin());
        m->process(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    report(state);
}
BENCHMARK(BM_Master)->Arg(0)->Arg(1);

void BM_FdnReverb(benchmark::State& state)
{
    vesk::dsp::FdnReverb reverb;
    reverb.configure(kRate, 100.0);
    reverb.setParams(vesk::dsp::FdnReverbParams{});
    std::vector<float> l = noise(kBlock, 5), r = noise(kBlock, 6), ol(kBlock), orr(kBlock);
    for (auto _ : state) {
        reverb.process(l.data(), r.data(), ol.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
    }
    report(state);
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
    std::vector<float> l = noise(kBlock, 7), r = noise(kBlock, 8);
    for (auto _ : state) {
        lim.process(l.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    report(state);
}
BENCHMARK(BM_Limiter);

void BM_Oversampler(benchmark::State& state)
{
    vesk::Oversampler2x os;
    std::vector<float> l = noise(kBlock, 9), r = noise(kBlock, 10), w(2 * kBlock);
    for (auto _ : state) {
        os.upsample(0, l.data(), w.data(), kBlock);
        os.downsample(0, w.data(), l.data(), kBlock);
        os.upsample(1, r.data(), w.data(), kBlock);
        os.downsample(1, w.data(), r.data(), kBlock);
        benchmark::DoNotOptimize(l.data());
    }
    report(state);
}
BENCHMARK(BM_Oversampler);

} // namespace

BENCHMARK_MAIN();
