// The sampler's share of an export: the plan of what each pool last played, and the dry render of
// those voices. Runs on the main thread; the render allocates the stems and a fresh voice.
#include "Sampler.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vesk {
namespace {

// Longest trigger delay an export renders, ms: the range of the delay knob.
constexpr double kMaxDelayMs = 3000.0;
// The dry render may run this long past the voice's expected end (a pitch envelope can slow it
// down), seconds.
constexpr double kMaxOverrunSeconds = 30.0;
constexpr uint32_t kBlockFrames = 512;

double finiteOr(double v, double fallback)
{
    return std::isfinite(v) ? v : fallback;
}

} // namespace

void Sampler::captureOfflineRenderPlan(std::array<VoiceParams, kNumPools>& plan) const
{
    for (int i = 0; i < kNumPools; ++i) {
        plan[size_t(i)] = VoiceParams{};
        if (!isPoolAudible(i))
            continue;
        if ((freezeMask >> i) & 1u && frozenParams[i].valid)
            plan[size_t(i)] = frozenParams[i];
        else if (lastParams[i].valid)
            plan[size_t(i)] = lastParams[i];
    }
}

bool Sampler::renderPoolOffline(const SamplePool& pool, const VoiceParams& params, double rateHz,
                                PoolRenderResult& out)
{
    out.left.clear();
    out.right.clear();
    out.hasAudio = false;
    if (!params.valid || !std::isfinite(rateHz) || rateHz < 1.0)
        return false;
    if (params.sampleIndex >= pool.samples.size())
        return false;
    const SampleData& region = pool.samples[size_t(params.sampleIndex)];
    if (!isPlayable(region))
        return false;

    // The delay a damaged record may hold is kept to the knob's range.
    const float delayMs =
        float(std::clamp(finiteOr(double(params.delayMs), 0.0), 0.0, kMaxDelayMs));
    auto voice = std::make_unique<Voice>();
    voice->trigger(&region, &pool.volume.base, params.volumeOffsetDb, &pool.pan.base,
                   params.panOffset, &pool.pitch.base, params.pitchOffset, delayMs,
                   params.startPercent, params.reverse, rateHz, &pool.volumeEnv, &pool.panEnv,
                   &pool.pitchEnv, &pool.hpfHz, &pool.lpfHz, &pool.hpfEnv, &pool.lpfEnv,
                   pool.fadeIn, pool.fadeOut);
    if (!voice->isActive())
        return false;

    // Bound: the delay, the run at the pitch it starts with, and the overrun allowance.
    const double semitones =
        std::clamp(finiteOr(double(pool.pitch.base), 0.0) + double(voice->pitchOffset),
                   double(Voice::kMinPitchSemitones), double(Voice::kMaxPitchSemitones));
    const double expected = double(voice->runLength) * voice->sampleRate /
                            (voice->fileRate * std::exp2(semitones / 12.0));
    const double bound = double(voice->delayRemaining) + std::ceil(expected) +
                         std::floor(voice->sampleRate * kMaxOverrunSeconds);
    const size_t maxFrames = size_t(std::min(bound, 4.0e12));

    size_t frames = 0;
    while (voice->isActive() && frames < maxFrames) {
        const size_t n = std::min<size_t>(kBlockFrames, maxFrames - frames);
        out.left.resize(frames + n, 0.0f);
        out.right.resize(frames + n, 0.0f);
        voice->render(out.left.data() + frames, out.right.data() + frames, uint32_t(n));
        frames += n;
    }
    out.hasAudio = frames > 0;
    return out.hasAudio;
}

int Sampler::renderAllPoolsOffline(const std::array<VoiceParams, kNumPools>& plan,
                                   std::array<PoolRenderResult, kNumPools>& out,
                                   double rateHz) const
{
    int withAudio = 0;
    for (int i = 0; i < kNumPools; ++i)
        if (renderPoolOffline(pools[i], plan[size_t(i)], rateHz, out[size_t(i)]))
            ++withAudio;
    return withAudio;
}

} // namespace vesk
