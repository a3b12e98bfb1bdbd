// The cost of host automation: a process call of 512 frames carrying 64 parameter events, as a
// ratio to the same call without them, in the same run. Every pool sounds (32 voices, straight to
// the master chain), so the block is the heavy one a user meets.
//
// Three shapes of the 64 events (values for HPF, LPF, volume, pan and pitch of all eight pools,
// each moving a little every block, as automation curves do):
//   spread   - at 64 different frames, every 8 frames: the block renders in 65 pieces;
//   grid     - on 8 frames, 8 events each (a host that sends its points every 64 frames);
//   start    - all at frame 0;
//   master   - the master output's curve instead, a point every 8 frames.
// Reported as ratio_<shape> = CPU time with the events / CPU time without (goal: at most 1.1).
// Each figure takes, for each block index, the fastest of seven identical runs, so one-off
// interruptions on a loaded machine do not count.
#include "plugin/Params.h"
#include "BenchKit.h"
#include "tests/support/PluginFixture.h"
#include "tests/support/Signal.h"

#include "audio_files/WavWriter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numeric>
#include <unistd.h>

using namespace vesk;
using namespace vesk::test;

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;
constexpr int kBlocks = 250;
constexpr uint32_t kEvents = 64;

double threadMicros()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) * 1e-3;
}

struct Events
{
    clap_event_param_value_t values[kEvents];
    const clap_event_header_t* order[kEvents];
    uint32_t count = 0;
    clap_input_events_t list{this, size, get};

    static uint32_t size(const clap_input_events_t* l)
    {
        return static_cast<const Events*>(l->ctx)->count;
    }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i)
    {
        const auto* self = static_cast<const Events*>(l->ctx);
        return i < self->count ? self->order[i] : nullptr;
    }
};

enum class Shape
{
    None,
    Spread,
    Grid,
    Start,
    Master
};

// The block's 64 events: pool k % 8, parameter by k / 8 (HPF, LPF, volume, pan, pitch, ...).
void fill(Events& ev, Shape shape, int block)
{
    ev.count = 0;
    if (shape == Shape::None)
        return;
    const clap_id slots[8] = {7, 8, 0, 2, 4, 7, 8, 0};
    for (uint32_t k = 0; k < kEvents; ++k) {
        clap_event_param_value_t& e = ev.values[k];
        std::memset(&e, 0, sizeof e);
        uint32_t time = 0;
        if (shape == Shape::Master) {
            // The master output's curve, a point every 8 frames.
            e.header = {sizeof e, k * (kBlock / kEvents), CLAP_CORE_EVENT_SPACE_ID,
                        CLAP_EVENT_PARAM_VALUE, 0};
            e.param_id = params::kMasterBase;
            e.note_id = -1;
            e.port_index = e.channel = e.key = -1;
            e.value = -3.0 + 3.0 * std::sin(0.01 * double(block * int(kEvents) + int(k)));
            ev.order[k] = &e.header;
            ev.count = k + 1;
            continue;
        }
        if (shape == Shape::Spread)
            time = k * (kBlock / kEvents);
        else if (shape == Shape::Grid)
            time = (k / 8) * (kBlock / 8);
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        const uint32_t pool = k % 8;
        const clap_id slot = slots[k / 8];
        e.param_id = params::kPoolBase + params::kGroupStride * pool + slot;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        const double t = 0.5 + 0.5 * std::sin(0.01 * double(block * int(kEvents) + int(k)));
        switch (slot) {
        case 7:
            e.value = 20.0 + 400.0 * t;
            break;
        case 8:
            e.value = 6000.0 + 10000.0 * t;
            break;
        case 0:
            e.value = -6.0 * t;
            break;
        case 2:
            e.value = -50.0 + 100.0 * t;
            break;
        default:
            e.value = -2.0 + 4.0 * t;
            break;
        }
        ev.order[k] = &e.header;
        ev.count = k + 1;
    }
}

// CPU time per block of one run.
std::vector<double> runOnce(const std::string& file, Shape shape)
{
    Instance inst(kRate);
    inst.send(msg::SetRetriggerMode{false});
    for (uint32_t pool = 0; pool < 8; ++pool) {
        inst.plugin->backend.SendLoadToPool(pool, file);
        inst.send(msg::SetPoolRoute{pool, PoolRoute::Master});
        inst.send(msg::SetPitch{pool, 0, 1, true});
    }
    inst.pump();
    inst.finishJobs();
    for (uint64_t seed = 1; seed <= 4; ++seed)
        inst.send(msg::Trigger{seed});

    std::vector<float> l(kBlock), r(kBlock);
    float* ch[2] = {l.data(), r.data()};
    clap_audio_buffer_t out{};
    out.data32 = ch;
    out.channel_count = 2;
    Events ev;
    std::vector<double> times;
    times.reserve(kBlocks);
    for (int b = 0; b < kBlocks; ++b) {
        // Block 0 sets the values alike for every shape (filters on), so the reference runs the
        // same DSP, only without events.
        fill(ev, b == 0 ? Shape::Start : shape, b);
        clap_process_t proc{};
        proc.frames_count = kBlock;
        proc.audio_outputs = &out;
        proc.audio_outputs_count = 1;
        proc.in_events = &ev.list;
        const double t0 = threadMicros();
        VeskPlugin::clapProcess(&inst.plugin->clapPlugin, &proc);
        times.push_back(threadMicros() - t0);
    }
    return times;
}

double bestTotal(const std::string& file, Shape shape)
{
    std::vector<double> best(kBlocks, 1e30);
    for (int run = 0; run < 7; ++run) {
        const std::vector<double> t = runOnce(file, shape);
        for (size_t i = 0; i < t.size(); ++i)
            best[i] = std::min(best[i], t[i]);
    }
    return std::accumulate(best.begin() + 1, best.end(), 0.0);
}

void ProcessWith64ParamEvents(benchmark::State& state)
{
    const std::string file = vesk::bench::noiseSampleFile("params_bench", kRate);
    double none = 0, spread = 0, grid = 0, start = 0, master = 0;
    for (auto _ : state) {
        none = bestTotal(file, Shape::None);
        spread = bestTotal(file, Shape::Spread);
        grid = bestTotal(file, Shape::Grid);
        start = bestTotal(file, Shape::Start);
        master = bestTotal(file, Shape::Master);
    }
    state.counters["block_us_without"] = none / (kBlocks - 1);
    state.counters["ratio_spread"] = spread / none;
    state.counters["ratio_grid"] = grid / none;
    state.counters["ratio_start"] = start / none;
    state.counters["ratio_master"] = master / none;
    std::remove(file.c_str());
}
BENCHMARK(ProcessWith64ParamEvents)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
