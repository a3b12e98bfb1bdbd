// Writing rendered audio as 32-bit float WAV files.
#pragma once

#include <string>
#include <vector>

namespace vesk {

// [worker] [main thread] Writes a 44-byte-header, 32-bit float WAV: stereo when right has as
// many samples as left, else mono. Returns false and leaves no file when nothing could be
// written completely.
bool writeWav(const std::string& path, const std::vector<float>& left,
              const std::vector<float>& right, double sampleRate);

} // namespace vesk
