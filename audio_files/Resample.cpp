#include "Resample.h"

#include "WavLoader.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace vesk {

void resampleChannel(const std::vector<float>& in, double inRateHz, std::vector<float>& out,
                     double outRateHz)
{
    if (inRateHz == outRateHz) {
        out = in;
        return;
    }
    out.clear();
    if (in.empty() || !std::isfinite(inRateHz) || !std::isfinite(outRateHz) || inRateHz <= 0.0 ||
        outRateHz <= 0.0)
        return;
    const double frames = std::ceil(outRateHz * double(in.size()) / inRateHz);
    if (!(frames >= 1.0) || frames > double(kMaxLoadedFrames))
        return;
    const size_t m = size_t(frames);
    out.assign(m, 0.0f);

    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t err = nullptr;
    soxr_t rs = soxr_create(inRateHz, outRateHz, 1, &err, &io, &quality, &runtime);
    if (rs == nullptr || err != nullptr) {
        if (rs != nullptr)
            soxr_delete(rs);
        out.clear();
        return;
    }
    // The input in slices that stay in cache, then the flush (null input) until the m frames are
    // out; soxr removes its own filter delay, so output frame 0 lines up with input frame 0.
    constexpr size_t kSlice = 65536;
    size_t done = 0;
    size_t inUsed = 0;
    const float* inPtr = in.data();
    size_t inLeft = in.size();
    while (done < m) {
        size_t produced = 0;
        const size_t feed = std::min(inLeft, kSlice);
        err = soxr_process(rs, inLeft > 0 ? inPtr : nullptr, feed, &inUsed, out.data() + done,
                           m - done, &produced);
        if (err != nullptr)
            break;
        inPtr += inUsed;
        inLeft -= inUsed;
        done += produced;
        if (produced == 0 && inLeft == 0)
            break; // flushed: the rest stays zero
    }
    soxr_delete(rs);
    if (err != nullptr)
        out.clear();
}

void computeRegionPeaks(const SampleData& region, float* out, int bins)
{
    std::fill(out, out + bins, 0.0f);
    const uint64_t length = playableLength(region);
    if (length == 0 || bins <= 0)
        return;
    const RawAudioData& audio = *region.audio;
    const uint64_t start = uint64_t(regionStart(region));
    const bool stereo = audio.channels == 2;
    for (int b = 0; b < bins; ++b) {
        const uint64_t from = uint64_t(b) * length / uint64_t(bins);
        const uint64_t to = uint64_t(b + 1) * length / uint64_t(bins);
        float peak = 0.0f;
        for (uint64_t i = start + from; i < start + to; ++i) {
            if (i < audio.left.size())
                peak = std::max(peak, std::abs(audio.left[i]));
            if (stereo && i < audio.right.size())
                peak = std::max(peak, std::abs(audio.right[i]));
        }
        out[b] = peak;
    }
}

void reloadAllSamplesForSampleRate(SamplePool (&pools)[kNumPools], RawAudioCache& cache,
                                   double oldRateHz, double newRateHz)
{
    if (!(oldRateHz > 0.0) || !(newRateHz > 0.0) || !std::isfinite(oldRateHz) ||
        !std::isfinite(newRateHz))
        return;
    const double ratio = newRateHz / oldRateHz;
    cache.clear();
    for (SamplePool& pool : pools) {
        for (SampleData& region : pool.samples) {
            if (region.audio == nullptr || region.audio->path.empty())
                continue;
            const std::string& path = region.audio->path;
            std::shared_ptr<const RawAudioData> fresh = cache.get(path, newRateHz);
            if (fresh == nullptr) {
                fresh = loadWavRaw(path, newRateHz);
                if (fresh == nullptr)
                    continue; // keeps its old audio, offset and length
                cache.put(path, fresh);
            }
            region.offset = int64_t(double(region.offset) * ratio);
            region.length = uint64_t(double(region.length) * ratio);
            region.audio = std::move(fresh);
        }
        const int32_t index = pool.lastTrigger.sampleIndex;
        if (index >= 0 && size_t(index) < pool.samples.size()) {
            const SampleData& region = pool.samples[size_t(index)];
            const double rate = region.audio != nullptr ? region.audio->sampleRate : 0.0;
            pool.lastTrigger.durationMs =
                rate > 0.0 ? float(double(playableLength(region)) * 1000.0 / rate) : 0.0f;
            computeRegionPeaks(region, pool.peaks, kDisplayPeaks);
            SampleData whole;
            whole.audio = region.audio;
            computeRegionPeaks(whole, pool.overview, kOverviewPeaks);
            pool.overviewRevision = nextOverviewRevision();
        }
    }
}

} // namespace vesk
