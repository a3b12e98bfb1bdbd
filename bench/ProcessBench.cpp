// The audio callback with every pool sounding: 32 voices, no FX. Reports CPU time as a fraction
// of the audio time it renders, and how even the blocks are (worst over median block, taking for
// each block index the fastest of seven identical runs, so one-off interruptions do not count).
#include "BenchKit.h"
#include "tests/support/PluginFixture.h"
#include "tests/support/Signal.h"

#include "audio_files/WavWriter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <unistd.h>

using namespace vesk;
using namespace vesk::test;

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;
constexpr int kBlocks = 375; // 4 s

// An instance with every pool holding one long file, in "Poly", straight to the master.
void setUp(Instance& inst, const std::string& file, bool pitched)
{
    inst.send(msg::SetRetriggerMode{false});
    for (uint32_t pool = 0; pool < 8; ++pool) {
        inst.plugin->backend.SendLoadToPool(pool, file);
        inst.send(msg::SetPoolRoute{pool, PoolRoute::Master});
        if (pitched)
            inst.send(msg::SetPitch{pool, 0, 1, true});
    }
    inst.pump();
    inst.finishJobs();
    for (uint64_t seed = 1; seed <= 4; ++seed)
        inst.send(msg::Trigger{seed});
}

// CPU time of this thread in microseconds: unlike the wall clock, it does not count the time
// the thread was preempted, so a busy machine does not inflate the figures.
double threadMicros()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) * 1e-3;
}

// Process time of each block, in microseconds.
std::vector<double> runOnce(const std::string& file, bool pitched)
{
    Instance inst(kRate);
    setUp(inst, file, pitched);
    std::vector<double> times;
    times.reserve(kBlocks);
    double t0 = 0.0;
    inst.beforeProcess = [&] { t0 = threadMicros(); };
    inst.afterProcess = [&] { times.push_back(threadMicros() - t0); };
    std::vector<float> l, r;
    l.reserve(kBlock * kBlocks);
    r.reserve(kBlock * kBlocks);
    inst.render(kBlock * kBlocks, kBlock, l, r);
    return times;
}

void ProcessAllPools(benchmark::State& state)
{
    const bool pitched = state.range(0) != 0;
    const std::string file = vesk::bench::noiseSampleFile("bench", kRate);
    std::vector<double> best(kBlocks, 1e30);
    double total = 0.0;
    for (auto _ : state) {
        for (int run = 0; run < 7; ++run) {
            const std::vector<double> t = runOnce(file, pitched);
            for (size_t i = 0; i < t.size() && i < best.size(); ++i)
                best[i] = std::min(best[i], t[i]);
            for (double x : t)
                total += x;
        }
    }
    std::vector<double> sorted = best;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double audioMicros = double(kBlock) * kBlocks / kRate * 1e6;
    state.counters["cpu_over_audio"] = total / double(state.iterations() * 7) / audioMicros;
    state.counters["worst_over_median"] = sorted.back() / median;
    state.counters["median_block_us"] = median;
    state.counters["worst_block"] =
        double(std::max_element(best.begin(), best.end()) - best.begin());
    std::remove(file.c_str());
}
BENCHMARK(ProcessAllPools)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
