// Decoded audio and the sample regions that point into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

// One decoded file. Built once (by the loader, off the audio thread) and never changed after,
// so voices, regions and the raw-audio cache may share it freely.
struct RawAudioData
{
    std::vector<float> left;
    std::vector<float> right; // empty for mono
    double sampleRate = 48000.0;
    int32_t channels = 0;     // 0 marks a placeholder for a missing or unreadable file
    std::string path;         // absolute path the audio came from
};

// One sample region: a span of a decoded file.
struct SampleData
{
    std::shared_ptr<const RawAudioData> audio;
    int64_t offset = 0;  // first frame in the file; negative counts as 0
    uint64_t length = 0; // frames; 0 means to the end of the file
};

// The one rule for how many frames a region plays. Every part of the engine uses this.
uint64_t playableLength(const SampleData& region);
inline bool isPlayable(const SampleData& region) { return playableLength(region) > 0; }

// First frame of a region in its file (offset clamped at 0).
inline int64_t regionStart(const SampleData& region) { return region.offset > 0 ? region.offset : 0; }

} // namespace vesk
