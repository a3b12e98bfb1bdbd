// Loading WAV files: every encoding and container, damaged and hostile files, the cache.
#include "WavTestFiles.h"
#include "audio_files/RawAudioCache.h"
#include "audio_files/Resample.h"
#include "audio_files/WavLoader.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {
namespace {

using test::tmpPath;

constexpr int kRate = 48000;
constexpr size_t kFrames = 4800;

void putU32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A 16-bit mono PCM RIFF image with the given data size field and `present` data bytes.
std::vector<uint8_t> pcm16Image(uint32_t declaredDataBytes, size_t present)
{
    std::vector<uint8_t> b(44 + present, 0);
    std::memcpy(b.data(), "RIFF", 4);
    putU32(b, 4, uint32_t(36 + present));
    std::memcpy(b.data() + 8, "WAVEfmt ", 8);
    putU32(b, 16, 16);
    b[20] = 1; // PCM
    b[22] = 1; // mono
    putU32(b, 24, kRate);
    putU32(b, 28, kRate * 2);
    b[32] = 2;
    b[34] = 16;
    std::memcpy(b.data() + 36, "data", 4);
    putU32(b, 40, declaredDataBytes);
    for (size_t i = 0; i < present / 2; ++i) {
        const int16_t s = int16_t(8000.0 * std::sin(2.0 * M_PI * 440.0 * double(i) / kRate));
        b[44 + 2 * i] = uint8_t(s & 0xff);
        b[44 + 2 * i + 1] = uint8_t((s >> 8) & 0xff);
    }
    return b;
}

TEST(WavLoader, EveryEncodingLoads)
{
    struct Case
    {
        const char* name;
        int format;
        double maxErrorDb; // residual against the original after the codec
    };
    const Case cases[] = {
        {"pcm_u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, -35.0},
        {"pcm_16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, -80.0},
        {"pcm_24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, -120.0},
        {"pcm_32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, -140.0},
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, -300.0},
        {"double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, -140.0},
        {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, -25.0},
        {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, -25.0},
        {"ima_adpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, -15.0},
        {"ms_adpcm", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, -15.0},
        {"wavex_16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, -80.0},
        {"wavex_float", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, -300.0},
        {"rf64_24", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, -120.0},
        {"w64_16", SF_FORMAT_W64 | SF_FORMAT_PCM_16, -80.0},
        {"w64_float", SF_FORMAT_W64 | SF_FORMAT_FLOAT, -300.0},
    };
    const auto left = test::sine(440.0, kRate, kFrames, 0.5);
    const auto right = test::sine(660.0, kRate, kFrames, 0.25);
    for (const Case& c : cases) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::string(c.name) + (channels == 1 ? " mono" : " stereo"));
            const std::string path = tmpPath(std::string(c.name) + std::to_string(channels));
            const auto frames = channels == 1 ? left : test::interleave({left, right});
            ASSERT_TRUE(test::writeWithSndfile(path, c.format, channels, kRate, frames));
            const auto audio = loadWavRaw(path, kRate);
            ASSERT_NE(audio, nullptr);
            EXPECT_EQ(audio->channels, channels);
            EXPECT_EQ(audio->path, path);
            EXPECT_EQ(audio->sampleRate, double(kRate));
            // ADPCM rounds up to whole blocks (about 2000 frames for MS ADPCM).
            ASSERT_GE(audio->left.size(), kFrames);
            EXPECT_LE(audio->left.size(), kFrames + 4096);
            EXPECT_LE(test::errorDb(left.data(), audio->left.data(), kFrames), c.maxErrorDb);
            if (channels == 2) {
                ASSERT_EQ(audio->right.size(), audio->left.size());
                EXPECT_LE(test::errorDb(right.data(), audio->right.data(), kFrames), c.maxErrorDb);
            } else {
                EXPECT_TRUE(audio->right.empty());
            }
        }
    }
}

TEST(WavLoader, MultichannelKeepsFirstTwo)
{
    std::vector<std::vector<float>> ch;
    for (int c = 0; c < 6; ++c)
        ch.push_back(std::vector<float>(1000, 0.1f * float(c + 1)));
    const std::string path = tmpPath("six.wav");
    ASSERT_TRUE(test::writeWithSndfile(path, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 6, kRate,
                                       test::interleave(ch)));
    const auto audio = loadWavRaw(path, kRate);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->channels, 2);
    EXPECT_EQ(audio->left, ch[0]);
    EXPECT_EQ(audio->right, ch[1]);
}

TEST(WavLoader, ConvertsToTheTargetRate)
{
    // 44100 frames at 44.1 kHz are one second: 48000 frames at 48 kHz, same pitch.
    const auto sine = test::sine(1000.0, 44100.0, 44100, 0.5);
    const std::string path = tmpPath("441.wav");
    ASSERT_TRUE(test::writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, sine));
    const auto audio = loadWavRaw(path, 48000.0);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->sampleRate, 48000.0);
    EXPECT_EQ(audio->left.size(), 48000u);
    EXPECT_NEAR(test::dominantFrequency(audio->left.data() + 1000, 32768, 48000.0), 1000.0, 0.5);
}

TEST(WavLoader, StreamedConversionMatchesOneShot)
{
    // The loader converts while it decodes; the result must be the one-shot conversion of the
    // decoded channels: same length, same samples, an impulse in the same place.
    auto left = test::noise(30011, 3, 0.5);
    std::vector<float> right(left.size(), 0.0f);
    right[12345] = 1.0f;
    const std::string path = tmpPath("stream.wav");
    ASSERT_TRUE(test::writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100,
                                       test::interleave({left, right})));
    const auto converted = loadWavRaw(path, 48000.0);
    ASSERT_NE(converted, nullptr);
    std::vector<float> refL, refR;
    resampleChannel(left, 44100.0, refL, 48000.0);
    resampleChannel(right, 44100.0, refR, 48000.0);
    ASSERT_EQ(converted->left.size(), refL.size());
    ASSERT_EQ(converted->right.size(), refR.size());
    EXPECT_LT(test::errorDb(refL.data(), converted->left.data(), refL.size()), -120.0);
    EXPECT_LT(test::errorDb(refR.data(), converted->right.data(), refR.size()), -120.0);
    const auto peakAt = std::max_element(converted->right.begin(), converted->right.end());
    EXPECT_NEAR(double(peakAt - converted->right.begin()), 12345.0 * 48000.0 / 44100.0, 1.0);
}

TEST(WavLoader, EqualRateIsBitExact)
{
    const auto noise = test::noise(3000, 11, 0.9);
    const std::string path = tmpPath("exact.wav");
    ASSERT_TRUE(test::writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, noise));
    const auto audio = loadWavRaw(path, kRate);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->left, noise);
}

TEST(WavLoader, NonFiniteSamplesAreSilenced)
{
    std::vector<float> x(100, 0.25f);
    x[10] = std::nanf("");
    x[20] = std::numeric_limits<float>::infinity();
    const std::string path = tmpPath("nan.wav");
    ASSERT_TRUE(test::writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, x));
    const auto audio = loadWavRaw(path, kRate);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->left[10], 0.0f);
    EXPECT_EQ(audio->left[20], 0.0f);
    EXPECT_EQ(audio->left[30], 0.25f);
}

TEST(WavLoader, TruncatedDataGivesTheFramesPresent)
{
    // The header promises 10000 frames, the file holds 6000 of them and half a frame.
    const std::string path = tmpPath("truncated.wav");
    test::writeBytes(path, pcm16Image(20000, 12001));
    const auto audio = loadWavRaw(path, kRate);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->left.size(), 6000u);
    EXPECT_NEAR(audio->left[100], 8000.0 / 32768.0 * std::sin(2.0 * M_PI * 440.0 * 100 / kRate),
                1e-4);
}

TEST(WavLoader, LyingHeadersDoNotSizeAllocations)
{
    // Data sizes of nearly 4 GiB over 100 bytes of data: only what is present is decoded.
    for (uint32_t declared : {0xFFFFFFF0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        const std::string path = tmpPath("liar.wav");
        test::writeBytes(path, pcm16Image(declared, 100));
        const auto audio = loadWavRaw(path, kRate);
        ASSERT_NE(audio, nullptr) << declared;
        EXPECT_EQ(audio->left.size(), 50u);
    }
    // An RF64 file whose 64-bit sizes claim petabytes.
    {
        const auto frames = test::sine(440.0, kRate, 500, 0.5);
        const std::string path = tmpPath("rf64.wav");
        ASSERT_TRUE(
            test::writeWithSndfile(path, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 1, kRate, frames));
        auto bytes = test::readBytes(path);
        const std::string tag = "ds64";
        const auto ds64 = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
        ASSERT_NE(ds64, bytes.end());
        const size_t at = size_t(ds64 - bytes.begin()) + 8;
        for (size_t i = 0; i < 24; ++i) // riff size, data size, sample count
            bytes[at + i] = 0x7f;
        test::writeBytes(path, bytes);
        const auto audio = loadWavRaw(path, kRate);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->left.size(), 500u);
    }
    // A header that claims 65535 channels over a few bytes.
    {
        auto bytes = pcm16Image(100, 100);
        bytes[22] = 0xff;
        bytes[23] = 0xff;
        const std::string path = tmpPath("channels.wav");
        test::writeBytes(path, bytes);
        const auto audio = loadWavRaw(path, kRate);
        if (audio != nullptr) {
            EXPECT_LE(audio->left.size(), 100u);
        }
    }
}

TEST(WavLoader, RefusesWhatIsNotAUsableFile)
{
    EXPECT_EQ(loadWavRaw(tmpPath("missing.wav"), kRate), nullptr);
    EXPECT_EQ(loadWavRaw("", kRate), nullptr);

    const std::string empty = tmpPath("empty.wav");
    test::writeBytes(empty, {});
    EXPECT_EQ(loadWavRaw(empty, kRate), nullptr);

    const std::string garbage = tmpPath("garbage.wav");
    test::writeBytes(garbage, std::vector<uint8_t>(1000, 0x5a));
    EXPECT_EQ(loadWavRaw(garbage, kRate), nullptr);

    // A valid file with no frames at all.
    const std::string noFrames = tmpPath("noframes.wav");
    test::writeBytes(noFrames, pcm16Image(0, 0));
    EXPECT_EQ(loadWavRaw(noFrames, kRate), nullptr);

    // A valid file at an invalid target rate.
    const std::string good = tmpPath("good.wav");
    test::writeBytes(good, pcm16Image(200, 200));
    EXPECT_NE(loadWavRaw(good, kRate), nullptr);
    EXPECT_EQ(loadWavRaw(good, 0.0), nullptr);
    EXPECT_EQ(loadWavRaw(good, std::nan("")), nullptr);

    // Another container libsndfile reads is not a WAV file.
    const std::string aiff = tmpPath("sound.aiff");
    ASSERT_TRUE(test::writeWithSndfile(aiff, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, kRate,
                                       std::vector<float>(100, 0.1f)));
    EXPECT_EQ(loadWavRaw(aiff, kRate), nullptr);
}

TEST(WavLoader, OversizedFileIsRefusedUnread)
{
    // A sparse file one byte over 500 MiB: refused from its size, before any reading.
    const std::string path = tmpPath("huge.wav");
    {
        auto bytes = pcm16Image(200, 200);
        test::writeBytes(path, bytes);
        ASSERT_EQ(::truncate(path.c_str(), off_t(kMaxWavFileBytes + 1)), 0);
    }
    EXPECT_EQ(loadWavRaw(path, kRate), nullptr);
    ::unlink(path.c_str());
}

TEST(WavLoader, SpecialFilesAreRefusedWithoutBlocking)
{
    const std::string fifo = tmpPath("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string dir = tmpPath("dir.wav");
    std::filesystem::create_directories(dir);
    // A FIFO without a writer would block a plain open forever; run it where a hang shows.
    auto result = std::async(std::launch::async, [&] {
        return loadWavRaw(fifo, kRate) == nullptr && !fileExists(fifo) &&
               loadWavRaw(dir, kRate) == nullptr && !fileExists(dir) &&
               loadWavRaw("/dev/zero", kRate) == nullptr && !fileExists("/dev/zero");
    });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(result.get());
    ::unlink(fifo.c_str());
}

TEST(WavLoader, FileExists)
{
    EXPECT_FALSE(fileExists(""));
    EXPECT_FALSE(fileExists(tmpPath("nothing.wav")));
    const std::string path = tmpPath("here.wav");
    test::writeBytes(path, {1, 2, 3});
    EXPECT_TRUE(fileExists(path));
}

std::shared_ptr<RawAudioData> fakeAudio(double rate)
{
    auto a = std::make_shared<RawAudioData>();
    a->left.assign(10, 0.5f);
    a->channels = 1;
    a->sampleRate = rate;
    a->path = "/a.wav";
    return a;
}

TEST(RawAudioCache, SharesLiveAudioOnly)
{
    RawAudioCache cache;
    EXPECT_EQ(cache.get("/a.wav", 48000.0), nullptr);
    {
        std::shared_ptr<const RawAudioData> audio = fakeAudio(48000.0);
        cache.put("/a.wav", audio);
        EXPECT_EQ(cache.get("/a.wav", 48000.0), audio);
        EXPECT_EQ(cache.get("/A.wav", 48000.0), nullptr); // exact path strings
    }
    // Nobody holds the audio any more: the lookup finds the entry expired and removes it.
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.get("/a.wav", 48000.0), nullptr);
    EXPECT_EQ(cache.size(), 0u);
}

TEST(RawAudioCache, NeverHandsOutAnotherRate)
{
    RawAudioCache cache;
    std::shared_ptr<const RawAudioData> at48 = fakeAudio(48000.0);
    cache.put("/a.wav", at48);
    EXPECT_EQ(cache.get("/a.wav", 44100.0), nullptr);
    EXPECT_EQ(cache.get("/a.wav", 48000.0), at48);
    std::shared_ptr<const RawAudioData> at44 = fakeAudio(44100.0);
    cache.put("/a.wav", at44); // the later put wins
    EXPECT_EQ(cache.get("/a.wav", 44100.0), at44);
    EXPECT_EQ(cache.get("/a.wav", 48000.0), nullptr);
    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(cache.get("/a.wav", 44100.0), nullptr);
}

} // namespace
} // namespace vesk
