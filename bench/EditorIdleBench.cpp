// What an open editor that shows nothing new costs the host: vesk-host with the editor embedded
// and idle (an empty kit, audio running) against the same run whose editor is never opened (a
// host without timer support gets no editor). Both processes are measured over the same 10 s
// after they settled: CPU time of the whole process over wall time, and the host's main-loop
// wake-ups per second. Goal: the editor's share at most 0.01 of a core.
#include "EditorHarness.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <dirent.h>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace vesk::editor_test;

constexpr double kSettleSeconds = 1.5;
constexpr double kMeasureSeconds = 10.0;

// Time the process's threads have run so far, in seconds (the scheduler's nanosecond account of
// every thread, alive ones; a thread that ended meanwhile no longer counts on either side).
double processCpuSeconds(int pid)
{
    double total = 0.0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* d = opendir(tasks.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream schedstat(tasks + "/" + e->d_name + "/schedstat");
            unsigned long long runNs = 0;
            if (schedstat >> runNs)
                total += double(runNs) * 1e-9;
        }
        closedir(d);
    }
    return total;
}

struct Idle
{
    double coreShare = 0.0;
    double wakeupsPerSecond = 0.0;
    bool ok = false;
};

Idle measure(const std::string& name, bool withEditor)
{
    Idle r;
    HostRun host(name);
    std::vector<std::string> args = {
        "--plugin", veskPath(),      "--gui",
        "embedded", "--gui-seconds", std::to_string(kSettleSeconds + kMeasureSeconds + 1.0)};
    if (!withEditor)
        args.push_back("--gui-no-timer");
    if (!host.start(args))
        return r;
    if (withEditor && !host.waitReady())
        return r;
    std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = processCpuSeconds(host.pid());
    std::this_thread::sleep_for(std::chrono::duration<double>(kMeasureSeconds));
    const double c1 = processCpuSeconds(host.pid());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (host.wait() != 0)
        return r;
    r.coreShare = (c1 - c0) / wall;
    r.wakeupsPerSecond = host.summary()["gui"]["main_loop"]["wakeups_per_second"].asNumber();
    r.ok = true;
    return r;
}

void EditorIdle(benchmark::State& state)
{
    if (!veskHasEditor() || !xServer().ok()) {
        state.SkipWithError("needs Vesk.clap with its editor and an X server (Xvfb)");
        return;
    }
    for (auto _ : state) {
        const Idle with = measure("idle_editor", true);
        const Idle without = measure("idle_no_editor", false);
        if (!with.ok || !without.ok) {
            state.SkipWithError("vesk-host did not run");
            return;
        }
        state.counters["editor_core_share"] = with.coreShare - without.coreShare;
        state.counters["process_with_editor"] = with.coreShare;
        state.counters["process_without"] = without.coreShare;
        state.counters["wakeups_per_s"] = with.wakeupsPerSecond;
    }
}
BENCHMARK(EditorIdle)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
