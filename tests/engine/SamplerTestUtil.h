// Helpers for the sampler tests: regions made from test signals and a renderer that mixes a
// sampler the way the audio callback does (pools by route, grains into bus 1).
#pragma once

#include "engine/Sampler.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace vesk::test {

inline std::shared_ptr<const RawAudioData>
makeAudio(std::vector<float> left, std::vector<float> right = {}, double rate = 48000.0)
{
    auto audio = std::make_shared<RawAudioData>();
    audio->channels = right.empty() ? 1 : 2;
    audio->left = std::move(left);
    audio->right = std::move(right);
    audio->sampleRate = rate;
    audio->path = "/test/region.wav";
    return audio;
}

inline SampleData makeRegion(std::shared_ptr<const RawAudioData> audio, int64_t offset = 0,
                             uint64_t length = 0)
{
    SampleData region;
    region.audio = std::move(audio);
    region.offset = offset;
    region.length = length;
    return region;
}

// A missing-file placeholder: no channels, never playable.
inline SampleData makePlaceholder()
{
    auto audio = std::make_shared<RawAudioData>();
    audio->channels = 0;
    audio->path = "/test/missing.wav";
    return makeRegion(audio);
}

// A constant (DC) mono region: easy to tell apart by level.
inline SampleData makeDcRegion(float level, size_t frames, double rate = 48000.0)
{
    return makeRegion(makeAudio(std::vector<float>(frames, level), {}, rate));
}

inline std::unique_ptr<Sampler> makeSampler(double rate = 48000.0)
{
    auto sampler = std::make_unique<Sampler>();
    sampler->setSampleRate(rate);
    return sampler;
}

struct StereoBuffer
{
    std::vector<float> left, right;
    explicit StereoBuffer(size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
};

inline bool sameBits(const StereoBuffer& a, const StereoBuffer& b)
{
    return a.left.size() == b.left.size() && a.right.size() == b.right.size() &&
           std::memcmp(a.left.data(), b.left.data(), a.left.size() * sizeof(float)) == 0 &&
           std::memcmp(a.right.data(), b.right.data(), a.right.size() * sizeof(float)) == 0;
}

// Largest sample difference over both channels of two buffers of the same length.
inline double largestDifference(const StereoBuffer& a, const StereoBuffer& b)
{
    double d = 0.0;
    for (size_t i = 0; i < a.left.size(); ++i)
        d = std::max({d, std::fabs(double(a.left[i]) - b.left[i]),
                      std::fabs(double(a.right[i]) - b.right[i])});
    return d;
}

// Mixes one block the way the audio callback does, routes aside: audible pools' voices into the
// output, muted or soloed-out pools kept in time, then the grains. Allocates nothing.
inline void renderMix(Sampler& sampler, float* left, float* right, uint32_t frames)
{
    for (int pool = 0; pool < kNumPools; ++pool) {
        if (sampler.isPoolAudible(pool))
            sampler.renderPoolVoices(pool, left, right, frames);
        else
            sampler.renderPoolVoicesSilently(pool, frames);
    }
    sampler.renderGrains(left, right, frames);
}

// Renders frames [from, from + frames) of `out` in host blocks of `blockFrames`.
inline void renderInBlocks(Sampler& sampler, StereoBuffer& out, size_t from, size_t frames,
                           uint32_t blockFrames)
{
    for (size_t done = 0; done < frames;) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(blockFrames, frames - done));
        renderMix(sampler, out.left.data() + from + done, out.right.data() + from + done, n);
        done += n;
    }
}

} // namespace vesk::test
