// Writing rendered audio as 32-bit float WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

// [worker] [main thread] Writes a 44-byte-header, 32-bit float WAV: stereo when right has as
// many samples as left, else mono; samples exactly as given. The file is created with mode 0644;
// a file locked by another process, a path that is not a regular file, an invalid rate or data
// beyond the 32-bit RIFF size give false. Any write error gives false and removes the partial
// file.
bool writeWav(const std::string& path, const std::vector<float>& left,
              const std::vector<float>& right, double sampleRate);

// [any thread] The 44-byte header of such a file: "RIFF", 36 + data size, "WAVE", a 16-byte
// "fmt " chunk (format 3, IEEE float; rate truncated to an integer; 32 bits), "data" and its
// size. False when the data would not fit the 32-bit sizes or the rate is not usable.
bool buildWavHeader(uint64_t frames, uint32_t channels, double sampleRate, uint8_t (&header)[44]);

} // namespace vesk
