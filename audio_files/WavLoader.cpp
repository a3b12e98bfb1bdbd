#include "WavLoader.h"

#include "Resample.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <optional>
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

// Streams decoded slices through libsoxr straight into the result's channels, so a load never
// holds the whole file at its own rate as well as at the target rate.
class StreamConverter
{
public:
    StreamConverter(double inRate, double outRate, int channels, std::vector<float>* outs[2])
        : channels_(channels)
    {
        outs_[0] = outs[0];
        outs_[1] = outs[1];
        for (int c = 0; c < channels; ++c)
            scratch_[c].resize(kScratchFrames);
        maxInputPerCall_ =
            std::max<size_t>(1, size_t(double(kScratchFrames / 2) * inRate / outRate));
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ | SOXR_LINEAR_PHASE, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t err = nullptr;
        rs_ = soxr_create(inRate, outRate, unsigned(channels), &err, &io, &quality, &runtime);
        if (err != nullptr && rs_ != nullptr) {
            soxr_delete(rs_);
            rs_ = nullptr;
        }
    }
    ~StreamConverter()
    {
        if (rs_ != nullptr)
            soxr_delete(rs_);
    }
    StreamConverter(const StreamConverter&) = delete;
    StreamConverter& operator=(const StreamConverter&) = delete;

    bool ok() const { return rs_ != nullptr; }

    // Feeds n frames (in[0], and in[1] for two channels); null input flushes. Output goes through
    // a small scratch buffer and is appended, so the result is written once, never zero-filled.
    bool feed(const float* const* in, size_t n)
    {
        size_t used = 0;
        for (;;) {
            const size_t room = kScratchFrames;
            float* out[2] = {scratch_[0].data(), channels_ == 2 ? scratch_[1].data() : nullptr};
            const float* at[2] = {in != nullptr ? in[0] + used : nullptr,
                                  in != nullptr && channels_ == 2 ? in[1] + used : nullptr};
            const size_t chunk = std::min(n - used, maxInputPerCall_);
            size_t idone = 0, odone = 0;
            const soxr_error_t err =
                soxr_process(rs_, in != nullptr ? static_cast<soxr_in_t>(at) : nullptr, chunk,
                             &idone, static_cast<soxr_out_t>(out), room, &odone);
            if (err != nullptr)
                return false;
            used += idone;
            done_ += odone;
            for (int c = 0; c < channels_; ++c)
                outs_[c]->insert(outs_[c]->end(), scratch_[c].data(), scratch_[c].data() + odone);
            if (in == nullptr)
                return odone > 0; // flushing: true while output still comes
            if (used >= n && odone < room)
                return true;
            if (idone == 0 && odone == 0)
                return false;
        }
    }

    // Flushes until `frames` output frames exist, then cuts or pads to exactly that many.
    bool finish(size_t frames)
    {
        while (done_ < frames && feed(nullptr, 0)) {
        }
        for (int c = 0; c < channels_; ++c)
            outs_[c]->resize(frames, 0.0f);
        return true;
    }

private:
    static constexpr size_t kScratchFrames = 16384;

    soxr_t rs_ = nullptr;
    std::vector<float> scratch_[2];
    size_t maxInputPerCall_ = 1; // input whose output fits the scratch buffer about twice
    int channels_;
    std::vector<float>* outs_[2] = {nullptr, nullptr};
    size_t done_ = 0;
};

std::shared_ptr<RawAudioData> decodeAndConvert(const void* data, size_t size,
                                               const std::string& path, double targetRateHz)
{
    if (data == nullptr || size == 0 || uint64_t(size) > kMaxWavFileBytes ||
        !std::isfinite(targetRateHz) || targetRateHz < 1.0)
        return nullptr;

    MemoryFile file{static_cast<const uint8_t*>(data), sf_count_t(size), 0};
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (sf == nullptr)
        return nullptr;
    struct Closer
    {
        SNDFILE* sf;
        ~Closer() { sf_close(sf); }
    } closer{sf};

    if (!acceptedContainer(info.format) || info.channels < 1 || info.samplerate < kMinFileRateHz ||
        info.samplerate > kMaxFileRateHz)
        return nullptr;
    const int channels = info.channels;
    const int kept = std::min(channels, 2);
    const double fileRate = double(info.samplerate);
    const bool convert = fileRate != targetRateHz;

    // The header's frame count is only a hint: bound it by what the bytes present could hold (no
    // supported encoding packs more than 8 samples into a byte) before reserving anything.
    const uint64_t boundFrames = uint64_t(size) * 8u / uint64_t(channels);
    const uint64_t declared = info.frames > 0 ? uint64_t(info.frames) : 0;
    if (declared == 0)
        return nullptr;
    const uint64_t expect = std::min({declared, boundFrames, kMaxLoadedFrames});
    const double expectOut = std::ceil(double(expect) * targetRateHz / fileRate);
    if (expectOut > double(kMaxLoadedFrames))
        return nullptr;

    auto audio = std::make_shared<RawAudioData>();
    audio->path = path;
    audio->sampleRate = targetRateHz;
    audio->channels = kept;
    std::vector<float>* outs[2] = {&audio->left, &audio->right};
    for (int c = 0; c < kept; ++c)
        outs[c]->reserve(size_t(convert ? expectOut : double(expect)));

    std::optional<StreamConverter> converter;
    if (convert) {
        converter.emplace(fileRate, targetRateHz, kept, outs);
        if (!converter->ok())
            return nullptr;
    }

    // Decode in slices of about 64k samples, whatever the channel count.
    const sf_count_t sliceFrames = std::max<sf_count_t>(1, 65536 / channels);
    std::vector<float> slice(size_t(sliceFrames) * size_t(channels));
    std::vector<float> split(size_t(sliceFrames) * size_t(kept));
    float* dst[2] = {split.data(), split.data() + (kept == 2 ? sliceFrames : 0)};
    sf_count_t total = 0;
    float largest = 0.0f;
    while (uint64_t(total) < declared) {
        const sf_count_t want = std::min<sf_count_t>(sliceFrames, sf_count_t(declared) - total);
        const sf_count_t n = sf_readf_float(sf, slice.data(), want);
        if (n <= 0)
            break;
        if (uint64_t(total + n) > kMaxLoadedFrames)
            return nullptr;
        // Non-finite samples from a float file would poison every effect downstream.
        const float* in = slice.data();
        if (channels == 1) {
            for (sf_count_t i = 0; i < n; ++i) {
                const float a = std::isfinite(in[i]) ? in[i] : 0.0f;
                largest = std::max(largest, std::abs(a));
                dst[0][i] = a;
            }
        } else {
            for (sf_count_t i = 0; i < n; ++i) {
                const float* frame = in + size_t(i) * size_t(channels);
                const float a = std::isfinite(frame[0]) ? frame[0] : 0.0f;
                const float b = std::isfinite(frame[1]) ? frame[1] : 0.0f;
                largest = std::max(largest, std::max(std::abs(a), std::abs(b)));
                dst[0][i] = a;
                dst[1][i] = b;
            }
        }
        if (convert) {
            if (!converter->feed(dst, size_t(n)))
                return nullptr;
        } else {
            for (int c = 0; c < kept; ++c)
                outs[c]->insert(outs[c]->end(), dst[c], dst[c] + n);
        }
        total += n;
    }
    if (total == 0)
        return nullptr;
    if (!convert)
        return audio; // equal rates: the decoded samples as they are

    // Exactly ceil(target * n / file rate) frames, as a one-shot conversion gives.
    const double frames = std::ceil(targetRateHz * double(total) / fileRate);
    if (frames > double(kMaxLoadedFrames) || !converter->finish(size_t(frames)))
        return nullptr;
    // Samples near the float limit can overshoot to infinity in the conversion filter.
    if (largest > 1e30f) {
        for (std::vector<float>* channel : outs)
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
    return decodeAndConvert(image.get(), size_t(size), path, targetRateHz);
}

std::shared_ptr<RawAudioData> decodeWavImage(const void* data, size_t size, const std::string& path,
                                             double targetRateHz)
{
    return decodeAndConvert(data, size, path, targetRateHz);
}

} // namespace vesk
