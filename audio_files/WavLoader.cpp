#include "WavLoader.h"

#include "Resample.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vesk {
namespace {

// A read-only file image for libsndfile's virtual I/O.
struct MemoryFile
{
    const uint8_t* data = nullptr;
    sf_count_t size = 0;
    sf_count_t pos = 0;
};

sf_count_t memLength(void* user)
{
    return static_cast<MemoryFile*>(user)->size;
}

sf_count_t memSeek(sf_count_t offset, int whence, void* user)
{
    auto* f = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    switch (whence) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = f->pos;
        break;
    case SEEK_END:
        base = f->size;
        break;
    default:
        return -1;
    }
    // Offsets come from the file: refuse what would overflow or leave the image.
    if ((offset > 0 && base > f->size - offset) || (offset < 0 && base + offset < 0))
        return -1;
    f->pos = base + offset;
    return f->pos;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user)
{
    auto* f = static_cast<MemoryFile*>(user);
    if (count <= 0 || f->pos >= f->size)
        return 0;
    const sf_count_t n = std::min(count, f->size - f->pos);
    std::memcpy(ptr, f->data + f->pos, size_t(n));
    f->pos += n;
    return n;
}

sf_count_t memWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t memTell(void* user)
{
    return static_cast<MemoryFile*>(user)->pos;
}

bool acceptedContainer(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
        return true;
    default:
        return false;
    }
}

// Opens a path for reading only when it is a regular file, without blocking on FIFOs or devices.
// Returns the descriptor (or -1) and the file size.
int openRegularFile(const std::string& path, uint64_t& size)
{
    if (path.empty())
        return -1;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    // The path may have been swapped between the two calls: check what was actually opened.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = uint64_t(st.st_size);
    return fd;
}

} // namespace

namespace {

// The first two channels of a file, as decoded, at the file's rate.
struct Decoded
{
    std::vector<float> first;
    std::vector<float> second; // empty for mono
    double fileRate = 0.0;
    int channels = 0;
    float largest = 0.0f; // largest absolute sample
};

bool decodeImage(const void* data, size_t size, Decoded& out)
{
    if (data == nullptr || size == 0 || uint64_t(size) > kMaxWavFileBytes)
        return false;

    MemoryFile file{static_cast<const uint8_t*>(data), sf_count_t(size), 0};
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (sf == nullptr)
        return false;
    struct Closer
    {
        SNDFILE* sf;
        ~Closer() { sf_close(sf); }
    } closer{sf};

    if (!acceptedContainer(info.format) || info.channels < 1 || info.samplerate < kMinFileRateHz ||
        info.samplerate > kMaxFileRateHz)
        return false;
    const int channels = info.channels;
    const double fileRate = double(info.samplerate);

    // The header's frame count is only a hint: bound it by what the bytes present could hold (no
    // supported encoding packs more than 8 samples into a byte) before reserving anything.
    const uint64_t boundFrames = uint64_t(size) * 8u / uint64_t(channels);
    const uint64_t declared = info.frames > 0 ? uint64_t(info.frames) : 0;
    if (declared == 0)
        return false;
    const uint64_t expect = std::min({declared, boundFrames, kMaxLoadedFrames});

    std::vector<float> first(static_cast<size_t>(expect));
    std::vector<float> second(channels >= 2 ? size_t(expect) : 0);

    // Decode in slices of about 64k samples, whatever the channel count.
    const sf_count_t sliceFrames = std::max<sf_count_t>(1, 65536 / channels);
    std::vector<float> slice(size_t(sliceFrames) * size_t(channels));
    sf_count_t total = 0;
    float largest = 0.0f;
    while (uint64_t(total) < declared) {
        const sf_count_t want = std::min<sf_count_t>(sliceFrames, sf_count_t(declared) - total);
        const sf_count_t n = sf_readf_float(sf, slice.data(), want);
        if (n <= 0)
            break;
        if (uint64_t(total + n) > kMaxLoadedFrames)
            return false;
        if (size_t(total + n) > first.size()) {
            first.resize(size_t(total + n));
            if (channels >= 2)
                second.resize(size_t(total + n));
        }
        const float* in = slice.data();
        float* l = first.data() + total;
        if (channels == 1) {
            for (sf_count_t i = 0; i < n; ++i) {
                // Non-finite samples from a float file would poison every effect downstream.
                const float a = std::isfinite(in[i]) ? in[i] : 0.0f;
                largest = std::max(largest, std::abs(a));
                l[i] = a;
            }
        } else {
            float* r = second.data() + total;
            for (sf_count_t i = 0; i < n; ++i) {
                const float* frame = in + size_t(i) * size_t(channels);
                const float a = std::isfinite(frame[0]) ? frame[0] : 0.0f;
                const float b = std::isfinite(frame[1]) ? frame[1] : 0.0f;
                largest = std::max(largest, std::max(std::abs(a), std::abs(b)));
                l[i] = a;
                r[i] = b;
            }
        }
        total += n;
    }
    first.resize(size_t(total));
    if (channels >= 2)
        second.resize(size_t(total));
    if (total == 0)
        return false;

    out.first = std::move(first);
    out.second = std::move(second);
    out.fileRate = fileRate;
    out.channels = channels;
    out.largest = largest;
    return true;
}

std::shared_ptr<RawAudioData> convert(Decoded& in, const std::string& path, double targetRateHz)
{
    auto audio = std::make_shared<RawAudioData>();
    audio->path = path;
    audio->sampleRate = targetRateHz;
    audio->channels = in.channels == 1 ? 1 : 2;
    // Equal rates: the decoded channels are the result, sample for sample.
    if (in.fileRate == targetRateHz) {
        audio->left = std::move(in.first);
        audio->right = std::move(in.second);
        return audio;
    }
    resampleChannel(in.first, in.fileRate, audio->left, targetRateHz);
    std::vector<float>().swap(in.first); // release each input as soon as it is converted
    if (audio->left.empty())
        return nullptr;
    if (in.channels >= 2) {
        resampleChannel(in.second, in.fileRate, audio->right, targetRateHz);
        std::vector<float>().swap(in.second);
        if (audio->right.size() != audio->left.size())
            return nullptr;
    }
    // Samples near the float limit can overshoot to infinity in the conversion filter.
    if (in.largest > 1e30f) {
        for (std::vector<float>* channel : {&audio->left, &audio->right})
            for (float& x : *channel)
                if (!std::isfinite(x))
                    x = 0.0f;
    }
    return audio;
}

} // namespace

bool fileExists(const std::string& path)
{
    uint64_t size = 0;
    const int fd = openRegularFile(path, size);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::shared_ptr<RawAudioData> loadWavRaw(const std::string& path, double targetRateHz)
{
    if (!std::isfinite(targetRateHz) || targetRateHz < 1.0)
        return nullptr;
    uint64_t size = 0;
    const int fd = openRegularFile(path, size);
    if (fd < 0)
        return nullptr;
    if (size == 0 || size > kMaxWavFileBytes) {
        ::close(fd);
        return nullptr;
    }
    // Not zero-filled: every byte is overwritten by the read, or the load fails.
    std::unique_ptr<uint8_t[]> image;
    try {
        image.reset(new uint8_t[size_t(size)]);
    } catch (...) {
        ::close(fd);
        throw;
    }
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, image.get() + got, size_t(size) - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    if (got < size)
        return nullptr;
    Decoded decoded;
    if (!decodeImage(image.get(), size_t(size), decoded))
        return nullptr;
    image.reset(); // the file image is not needed while converting
    return convert(decoded, path, targetRateHz);
}

std::shared_ptr<RawAudioData> decodeWavImage(const void* data, size_t size, const std::string& path,
                                             double targetRateHz)
{
    if (!std::isfinite(targetRateHz) || targetRateHz < 1.0)
        return nullptr;
    Decoded decoded;
    if (!decodeImage(data, size, decoded))
        return nullptr;
    return convert(decoded, path, targetRateHz);
}

} // namespace vesk
