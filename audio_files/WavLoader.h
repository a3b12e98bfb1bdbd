// Reading WAV files into decoded audio at the engine's rate.
//
// Design: a file is read whole into memory with plain POSIX calls and decoded from there, so the
// decoder never touches the file system and the same code path decodes images from tests and the
// fuzzer. Everything in a file is untrusted: a header's frame count never sizes an allocation
// (the audio grows with what actually decodes), non-finite samples are silenced, and a path that
// is not a regular file is refused before anything could block on it.
#pragma once

#include "engine/SampleData.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vesk {

// Files above this size are refused without being read.
inline constexpr uint64_t kMaxWavFileBytes = 524288000; // 500 MiB
// Longest audio, per channel, that a load may produce after conversion to the engine rate.
inline constexpr uint64_t kMaxLoadedFrames = uint64_t(1) << 28;
// File rates outside this range are refused: converting a tiny file that claims a rate of a few
// hertz to the engine rate would otherwise need gigabytes.
inline constexpr int kMinFileRateHz = 1000;
inline constexpr int kMaxFileRateHz = 1536000;

// [any thread] Reads and decodes a WAV file (RIFF, WAVE_FORMAT_EXTENSIBLE, RF64 or W64; PCM of 8
// to 32 bits, 32/64-bit float, A-law, mu-law, IMA and MS ADPCM) and converts it to targetRateHz.
// Keeps the first two channels. Returns null for a missing, empty, oversized, unreadable or
// undecodable file, a path that is not a regular file, or a file without frames.
std::shared_ptr<RawAudioData> loadWavRaw(const std::string& path, double targetRateHz);

// [any thread] Decodes a WAV file image held in memory, as loadWavRaw does after reading the
// file; `path` is recorded in the result.
std::shared_ptr<RawAudioData> decodeWavImage(const void* data, size_t size, const std::string& path,
                                             double targetRateHz);

// [any thread] True when path names a regular file that can be opened for reading. Never blocks
// on a FIFO or device; an empty path is false without touching the file system.
bool fileExists(const std::string& path);

} // namespace vesk
