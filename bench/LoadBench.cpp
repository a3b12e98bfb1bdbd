// Loading a large file: read, decode and convert a 44.1 kHz 24-bit stereo WAV of about 100 MB to
// 48 kHz. The references, measured in the same run, are libsoxr alone converting the same two
// channels (already decoded, in memory) with the same settings: one-shot channel by channel, and
// streamed with both channels in one converter (the way the loader uses it). Goal: the whole load
// at most 1.3x the conversion alone.
#include "audio_files/WavLoader.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <soxr.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFileRate = 44100;
constexpr double kTargetRate = 48000.0;
constexpr size_t kFrames = 100u * 1000u * 1000u / 6u; // 6 bytes per 24-bit stereo frame

double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct BigFile
{
    std::string path;
    std::vector<float> left, right;

    BigFile()
    {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/vesk_load_bench_" +
               std::to_string(::getpid()) + ".wav";
        left.resize(kFrames);
        right.resize(kFrames);
        // A swept tone and a detuned copy: real-world-like content, no silence shortcuts.
        double phaseL = 0.0, phaseR = 0.0;
        for (size_t i = 0; i < kFrames; ++i) {
            const double f = 100.0 + 8000.0 * double(i % 441000) / 441000.0;
            phaseL += 2.0 * M_PI * f / kFileRate;
            phaseR += 2.0 * M_PI * f * 1.01 / kFileRate;
            left[i] = float(0.5 * std::sin(phaseL));
            right[i] = float(0.5 * std::sin(phaseR));
        }
        SF_INFO info{};
        info.samplerate = kFileRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        std::vector<float> inter(2 * 65536);
        for (size_t pos = 0; sf != nullptr && pos < kFrames; pos += 65536) {
            const size_t n = std::min<size_t>(65536, kFrames - pos);
            for (size_t i = 0; i < n; ++i) {
                inter[2 * i] = left[pos + i];
                inter[2 * i + 1] = right[pos + i];
            }
            sf_writef_float(sf, inter.data(), sf_count_t(n));
        }
        if (sf != nullptr)
            sf_close(sf);
        // The reference converts what the loader decodes, so both see the same samples.
        const auto decoded = vesk::loadWavRaw(path, double(kFileRate));
        if (decoded != nullptr) {
            left = decoded->left;
            right = decoded->right;
        }
    }
    ~BigFile() { ::unlink(path.c_str()); }
};

// libsoxr one-shot on one channel, the whole input in one call.
size_t soxrAlone(const std::vector<float>& in)
{
    const size_t m = size_t(std::ceil(kTargetRate * double(in.size()) / kFileRate));
    std::vector<float> out(m);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, 0);
    const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
    size_t idone = 0, odone = 0;
    soxr_oneshot(kFileRate, kTargetRate, 1, in.data(), in.size(), &idone, out.data(), m, &odone,
                 &io, &q, &rt);
    return odone;
}

// libsoxr at its best on the same data: both channels in one converter, fed in cache-sized
// slices, as the loader does while it decodes.
size_t soxrStreamedStereo(const std::vector<float>& left, const std::vector<float>& right)
{
    const size_t m = size_t(std::ceil(kTargetRate * double(left.size()) / kFileRate));
    std::vector<float> outL(m), outR(m);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, 0);
    const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
    soxr_t rs = soxr_create(kFileRate, kTargetRate, 2, nullptr, &io, &q, &rt);
    size_t used = 0, done = 0;
    while (done < m) {
        const size_t n = std::min<size_t>(65536, left.size() - used);
        const float* in[2] = {left.data() + used, right.data() + used};
        float* out[2] = {outL.data() + done, outR.data() + done};
        size_t idone = 0, odone = 0;
        soxr_process(rs, n > 0 ? static_cast<soxr_in_t>(in) : nullptr, n, &idone,
                     static_cast<soxr_out_t>(out), m - done, &odone);
        used += idone;
        done += odone;
        if (n == 0 && odone == 0)
            break;
    }
    soxr_delete(rs);
    return done;
}

void BM_LoadVsSoxrAlone(benchmark::State& state)
{
    static BigFile file;
    double loadSeconds = 0.0, soxrSeconds = 0.0, streamedSeconds = 0.0;
    for (auto _ : state) {
        const double s0 = threadSeconds();
        benchmark::DoNotOptimize(soxrStreamedStereo(file.left, file.right));
        const double t0 = threadSeconds();
        benchmark::DoNotOptimize(soxrAlone(file.left));
        benchmark::DoNotOptimize(soxrAlone(file.right));
        const double t1 = threadSeconds();
        auto audio = vesk::loadWavRaw(file.path, kTargetRate);
        benchmark::DoNotOptimize(audio);
        const double t2 = threadSeconds();
        if (audio == nullptr) {
            state.SkipWithError("the load failed");
            return;
        }
        streamedSeconds += t0 - s0;
        soxrSeconds += t1 - t0;
        loadSeconds += t2 - t1;
    }
    state.counters["soxr_s"] = soxrSeconds / double(state.iterations());
    state.counters["load_s"] = loadSeconds / double(state.iterations());
    state.counters["soxr_streamed_s"] = streamedSeconds / double(state.iterations());
    state.counters["load_over_soxr"] = loadSeconds / soxrSeconds;
    state.counters["load_over_soxr_streamed"] = loadSeconds / streamedSeconds;
}
BENCHMARK(BM_LoadVsSoxrAlone)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
