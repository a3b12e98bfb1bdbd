#include "WavWriter.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {
namespace {

// Frames are written straight from memory: the file's byte order must be the machine's.
static_assert(std::endian::native == std::endian::little, "WAV samples are little-endian");

void putU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void putU16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool buildWavHeader(uint64_t frames, uint32_t channels, double sampleRate, uint8_t (&header)[44])
{
    if (channels < 1 || channels > 2)
        return false;
    // The RIFF size field is 32 bits: refuse what it cannot describe (checked before multiplying).
    if (frames > (uint64_t(UINT32_MAX) - 36u) / (4u * channels))
        return false;
    const uint64_t dataBytes = frames * 4u * channels;
    // A header with a rate of 0 (or one whose byte rate overflows) describes no playable file.
    if (!std::isfinite(sampleRate) || sampleRate < 1.0 || sampleRate >= 4294967296.0)
        return false;
    const uint32_t rate = uint32_t(sampleRate);
    if (uint64_t(rate) * 4u * channels > UINT32_MAX)
        return false;

    std::memcpy(header, "RIFF", 4);
    putU32(header + 4, uint32_t(36 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putU32(header + 16, 16);
    putU16(header + 20, 3); // IEEE float
    putU16(header + 22, uint16_t(channels));
    putU32(header + 24, rate);
    putU32(header + 28, rate * 4u * channels);
    putU16(header + 32, uint16_t(4 * channels));
    putU16(header + 34, 32);
    std::memcpy(header + 36, "data", 4);
    putU32(header + 40, uint32_t(dataBytes));
    return true;
}

bool writeWav(const std::string& path, const std::vector<float>& left,
              const std::vector<float>& right, double sampleRate)
{
    if (left.empty())
        return false;
    const uint32_t channels = (!right.empty() && right.size() == left.size()) ? 2 : 1;
    uint8_t header[44];
    if (!buildWavHeader(left.size(), channels, sampleRate, header))
        return false;

    // Non-blocking open, so a FIFO without a reader fails at once instead of hanging the worker;
    // anything but a regular file is left alone.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            ::close(fd);
            return false;
        }
        ::flock(fd, LOCK_SH | LOCK_NB);
    }

    bool ok = ::ftruncate(fd, 0) == 0 && writeAll(fd, header, sizeof header);
    // Frames go out in slices so a long render needs no second full-size copy.
    constexpr size_t kSliceFrames = 4096;
    float slice[kSliceFrames * 2];
    for (size_t pos = 0; ok && pos < left.size(); pos += kSliceFrames) {
        const size_t n = std::min(kSliceFrames, left.size() - pos);
        if (channels == 2) {
            for (size_t i = 0; i < n; ++i) {
                slice[2 * i] = left[pos + i];
                slice[2 * i + 1] = right[pos + i];
            }
        } else {
            std::memcpy(slice, left.data() + pos, n * sizeof(float));
        }
        // Samples are stored little-endian, as this platform keeps them in memory.
        ok = writeAll(fd, reinterpret_cast<const uint8_t*>(slice), n * 4 * channels);
    }
    // Some file systems report a full disk or an exceeded quota only when the data is flushed.
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

} // namespace vesk
