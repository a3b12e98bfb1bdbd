// Cost of one voice per output frame, at several pitch ratios, with both filters, three
// envelopes and both fades on. The reference, measured in the same run, is a bare 32-tap sinc
// loop: the same kernel tables read at the same ratio over audio already in memory, without
// feeding, fades, filters, envelopes or mixing, written as plain scalar code (the interpolator
// itself uses an explicitly vectorised frame kernel and the voice runs its filters as vector
// lanes, so the voice comes out well below 1). Goal: the whole voice at most 0.35 of the bare
// loop.
#include "engine/SincResampler.h"
#include "engine/Voice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using vesk::SincResampler;

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;
constexpr int kBlocksPerRound = 64;

// CPU time of this thread: other processes on a shared machine do not count against either side.
double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::vector<float> noise(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> x(n);
    for (float& v : x)
        v = d(rng);
    return x;
}

// The bare loop: stereo 32-tap interpolation over a long buffer, with the kernel rows of one
// cut-off copied side by side (row p + 1 follows row p).
struct BareSinc
{
    std::vector<float> left, right;
    std::vector<float> rows;
    double pos = SincResampler::kHalfTaps;
    double ratio = 1.0;

    void setTable(int table)
    {
        constexpr int kTaps = SincResampler::kTaps;
        rows.resize(size_t(SincResampler::kPhases + 1) * kTaps);
        for (int p = 0; p <= SincResampler::kPhases; ++p) {
            const float* r = SincResampler::kernelRow(table, p);
            std::copy(r, r + kTaps, rows.begin() + p * kTaps);
        }
    }

    float run(float* outL, float* outR, uint32_t frames)
    {
        constexpr int kTaps = SincResampler::kTaps;
        const double limit = double(left.size() - kTaps - 2);
        alignas(32) float w[kTaps];
        for (uint32_t k = 0; k < frames; ++k) {
            if (pos >= limit)
                pos = SincResampler::kHalfTaps;
            const int i = int(pos);
            const double phase = (pos - i) * SincResampler::kPhases;
            const int ip = int(phase);
            const float t = float(phase - ip);
            const float* r0 = rows.data() + size_t(ip) * kTaps;
            const float* r1 = r0 + kTaps;
            for (int j = 0; j < kTaps; ++j)
                w[j] = r0[j] + t * (r1[j] - r0[j]);
            const float* xl = left.data() + i - (SincResampler::kHalfTaps - 1);
            const float* xr = right.data() + i - (SincResampler::kHalfTaps - 1);
            float accL[8] = {}, accR[8] = {};
            for (int j = 0; j < kTaps; j += 8)
                for (int q = 0; q < 8; ++q) {
                    accL[q] += w[j + q] * xl[j + q];
                    accR[q] += w[j + q] * xr[j + q];
                }
            outL[k] += ((accL[0] + accL[4]) + (accL[1] + accL[5])) +
                       ((accL[2] + accL[6]) + (accL[3] + accL[7]));
            outR[k] += ((accR[0] + accR[4]) + (accR[1] + accR[5])) +
                       ((accR[2] + accR[6]) + (accR[3] + accR[7]));
            pos += ratio;
        }
        return outL[0];
    }
};

struct VoiceSetup
{
    vesk::SampleData region;
    float volume = -3.0f, pan = 20.0f, pitch = 0.0f, hpf = 80.0f, lpf = 9000.0f;
    vesk::EnvelopeData volumeEnv, panEnv, lpfEnv;

    explicit VoiceSetup(double ratio)
    {
        auto audio = std::make_shared<vesk::RawAudioData>();
        audio->left = noise(size_t(kRate * 20), 1);
        audio->right = noise(size_t(kRate * 20), 2);
        audio->channels = 2;
        audio->sampleRate = kRate;
        region.audio = audio;
        pitch = float(12.0 * std::log2(ratio));
        for (vesk::EnvelopeData* e : {&volumeEnv, &panEnv, &lpfEnv}) {
            e->count = 3;
            e->enabled = true;
        }
        volumeEnv.points[0] = {0.0f, 0.0f};
        volumeEnv.points[1] = {0.5f, -6.0f};
        volumeEnv.points[2] = {1.0f, 0.0f};
        panEnv.points[0] = {0.0f, -50.0f};
        panEnv.points[1] = {0.5f, 50.0f};
        panEnv.points[2] = {1.0f, 0.0f};
        lpfEnv.points[0] = {0.0f, 2000.0f};
        lpfEnv.points[1] = {0.5f, 12000.0f};
        lpfEnv.points[2] = {1.0f, 4000.0f};
    }

    void trigger(vesk::Voice& v)
    {
        v.trigger(&region, &volume, 0.0f, &pan, 0.0f, &pitch, 0.0f, 0.0f, 0.0f, false, kRate,
                  &volumeEnv, &panEnv, nullptr, &hpf, &lpf, nullptr, &lpfEnv, 0.05f, 0.05f);
    }
};

// One round: kBlocksPerRound blocks of the bare loop, then as many of the voice; the counters give
// the cost of each per output frame and their ratio.
void BM_VoiceVsBareSinc(benchmark::State& state)
{
    const double ratio = double(state.range(0)) / 100.0;
    VoiceSetup setup(ratio);
    auto voice = std::make_unique<vesk::Voice>();
    setup.trigger(*voice);

    BareSinc bare;
    bare.left = setup.region.audio->left;
    bare.right = setup.region.audio->right;
    bare.ratio = ratio;
    bare.setTable(SincResampler::cutoffIndexForRatio(ratio));

    std::vector<float> outL(kBlock, 0.0f), outR(kBlock, 0.0f);
    double bareSeconds = 0.0, voiceSeconds = 0.0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        for (int b = 0; b < kBlocksPerRound; ++b)
            benchmark::DoNotOptimize(bare.run(outL.data(), outR.data(), kBlock));
        const double t1 = threadSeconds();
        for (int b = 0; b < kBlocksPerRound; ++b) {
            if (!voice->isActive())
                setup.trigger(*voice);
            benchmark::DoNotOptimize(voice->render(outL.data(), outR.data(), kBlock));
        }
        const double t2 = threadSeconds();
        benchmark::ClobberMemory();
        bareSeconds += t1 - t0;
        voiceSeconds += t2 - t1;
    }
    const double frames = double(state.iterations()) * kBlocksPerRound * kBlock;
    state.counters["bare_ns_per_frame"] = bareSeconds * 1e9 / frames;
    state.counters["voice_ns_per_frame"] = voiceSeconds * 1e9 / frames;
    state.counters["voice_over_bare"] = voiceSeconds / bareSeconds;
}
BENCHMARK(BM_VoiceVsBareSinc)->Arg(50)->Arg(100)->Arg(137)->Arg(200)->MinTime(1.0);

} // namespace

BENCHMARK_MAIN();
