// Fuzzes the WAV decoder. Half of the inputs are taken as whole file images; the other half
// fill the fields of a well-formed RIFF header (format tag, channels, rate, sizes) followed by
// the rest of the input as data, so the fuzzer reaches every decoder without first having to
// discover the container's layout.
#include "audio_files/WavLoader.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    put16(b, at, v & 0xffff);
    put16(b, at + 2, v >> 16);
}

uint32_t take(const uint8_t*& p, size_t& n, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes && n > 0; ++i, --n)
        v |= uint32_t(*p++) << (8 * i);
    return v;
}

std::vector<uint8_t> headerImage(const uint8_t* p, size_t n)
{
    static const uint16_t kTags[] = {1, 3, 6, 7, 0x11, 2, 0xfffe};
    static const uint16_t kBits[] = {8, 16, 24, 32, 64, 4, 0};
    const uint32_t pick = take(p, n, 1);
    const uint16_t tag = kTags[pick % 7];
    const uint16_t bits = kBits[(pick / 7) % 7];
    const uint16_t channels = uint16_t(1 + take(p, n, 1) % 8);
    const uint32_t rateSel = take(p, n, 1);
    const uint32_t rate = rateSel < 200 ? 48000u : take(p, n, 4);
    const uint16_t blockAlign = uint16_t(take(p, n, 2));
    const uint32_t dataSizeSel = take(p, n, 1);
    const uint32_t extra = tag == 0xfffe || tag == 0x11 || tag == 2 ? 22 : 0;

    std::vector<uint8_t> b(44 + extra, 0);
    std::memcpy(b.data(), "RIFF", 4);
    std::memcpy(b.data() + 8, "WAVEfmt ", 8);
    put32(b, 16, 16 + extra);
    put16(b, 20, tag);
    put16(b, 22, channels);
    put32(b, 24, rate);
    put32(b, 28, rate * blockAlign);
    put16(b, 32, blockAlign != 0 ? blockAlign : uint16_t(channels * bits / 8));
    put16(b, 34, bits);
    if (extra > 0) {
        put16(b, 36, 22);
        for (size_t i = 38; i < 36 + extra && n > 0; ++i)
            b[i] = uint8_t(take(p, n, 1));
    }
    const size_t dataAt = 36 + extra;
    std::memcpy(b.data() + dataAt, "data", 4);
    const uint32_t dataSize = dataSizeSel < 128 ? uint32_t(n) : take(p, n, 4);
    put32(b, dataAt + 4, dataSize);
    b.insert(b.end(), p, p + n);
    put32(b, 4, uint32_t(b.size() - 8));
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    std::shared_ptr<vesk::RawAudioData> audio;
    if (data[0] & 1)
        audio = vesk::decodeWavImage(data + 1, size - 1, "fuzz.wav", 48000.0);
    else {
        const auto image = headerImage(data + 1, size - 1);
        audio = vesk::decodeWavImage(image.data(), image.size(), "fuzz.wav", 48000.0);
    }
    if (audio != nullptr) {
        // A result is always complete: equal channel lengths, the asked rate, finite samples.
        if (audio->left.empty() || audio->sampleRate != 48000.0 ||
            (audio->channels == 2 && audio->right.size() != audio->left.size()))
            __builtin_trap();
        for (float x : audio->left)
            if (!std::isfinite(x))
                __builtin_trap();
    }
    return 0;
}
