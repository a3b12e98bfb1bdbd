// Writing 32-bit float WAV files.
#include "WavTestFiles.h"
#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vesk {
namespace {

using test::readBytes;
using test::tmpPath;

uint32_t u32At(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

uint16_t u16At(const std::vector<uint8_t>& b, size_t at)
{
    return uint16_t(b[at] | b[at + 1] << 8);
}

TEST(WavWriter, OneSampleMonoIs48Bytes)
{
    const std::string path = tmpPath("one.wav");
    ASSERT_TRUE(writeWav(path, {0.25f}, {}, 48000.0));
    const auto b = readBytes(path);
    ASSERT_EQ(b.size(), 48u); // 44-byte header and 4 bytes of data
    EXPECT_EQ(std::memcmp(b.data(), "RIFF", 4), 0);
    EXPECT_EQ(u32At(b, 4), 40u); // 36 + data size
    EXPECT_EQ(std::memcmp(b.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(u32At(b, 16), 16u);
    EXPECT_EQ(u16At(b, 20), 3u); // IEEE float
    EXPECT_EQ(u16At(b, 22), 1u);
    EXPECT_EQ(u32At(b, 24), 48000u);
    EXPECT_EQ(u32At(b, 28), 48000u * 4u);
    EXPECT_EQ(u16At(b, 32), 4u);
    EXPECT_EQ(u16At(b, 34), 32u);
    EXPECT_EQ(std::memcmp(b.data() + 36, "data", 4), 0);
    EXPECT_EQ(u32At(b, 40), 4u);
    float s;
    std::memcpy(&s, b.data() + 44, 4);
    EXPECT_EQ(s, 0.25f);
    // Created owner read-write, others read (as far as the process's umask lets through).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);
}

TEST(WavWriter, StereoHeaderAndInterleaving)
{
    // 48000.9 Hz is written as 48000; stereo: block align 8, byte rate 384000.
    const std::string path = tmpPath("stereo.wav");
    ASSERT_TRUE(writeWav(path, {1.0f, 2.0f}, {-1.0f, -2.0f}, 48000.9));
    const auto b = readBytes(path);
    ASSERT_EQ(b.size(), 44u + 16u);
    EXPECT_EQ(u32At(b, 4), 36u + 16u);
    EXPECT_EQ(u16At(b, 22), 2u);
    EXPECT_EQ(u32At(b, 24), 48000u);
    EXPECT_EQ(u32At(b, 28), 384000u);
    EXPECT_EQ(u16At(b, 32), 8u);
    EXPECT_EQ(u32At(b, 40), 16u);
    float s[4];
    std::memcpy(s, b.data() + 44, 16);
    EXPECT_EQ(s[0], 1.0f);
    EXPECT_EQ(s[1], -1.0f);
    EXPECT_EQ(s[2], 2.0f);
    EXPECT_EQ(s[3], -2.0f);
}

TEST(WavWriter, MismatchedRightIsMono)
{
    const std::string path = tmpPath("mono.wav");
    ASSERT_TRUE(writeWav(path, {0.1f, 0.2f, 0.3f}, {0.5f, 0.5f}, 44100.0));
    const auto b = readBytes(path);
    EXPECT_EQ(u16At(b, 22), 1u);
    EXPECT_EQ(b.size(), 44u + 12u);
}

TEST(WavWriter, RoundTripThroughTheLoaderIsBitExact)
{
    // Values beyond full scale and tiny ones come back exactly: no clipping, dither or gain.
    auto left = test::noise(10007, 21, 1.5);
    auto right = test::noise(10007, 22, 1e-3);
    left[5] = 3.0f;
    right[7] = -1e-30f;
    const std::string path = tmpPath("roundtrip.wav");
    ASSERT_TRUE(writeWav(path, left, right, 44100.0));
    const auto audio = loadWavRaw(path, 44100.0);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->channels, 2);
    EXPECT_EQ(audio->left, left);
    EXPECT_EQ(audio->right, right);
}

TEST(WavWriter, RefusesWhatItCannotWrite)
{
    EXPECT_FALSE(writeWav(tmpPath("empty.wav"), {}, {1.0f}, 48000.0));
    EXPECT_FALSE(std::filesystem::exists(tmpPath("empty.wav")));
    EXPECT_FALSE(writeWav(test::tmpDir() + "/no/such/folder/x.wav", {1.0f}, {}, 48000.0));
    for (double rate : {0.0, -1.0, std::nan(""), 1e10}) {
        const std::string path = tmpPath("rate.wav");
        EXPECT_FALSE(writeWav(path, {1.0f}, {}, rate)) << rate;
        EXPECT_FALSE(std::filesystem::exists(path)) << rate;
    }
}

TEST(WavWriter, HeaderRefusesDataBeyondThe32BitSizes)
{
    uint8_t header[44];
    // 4-byte mono frames: the data may be at most 2^32 - 1 - 36 bytes.
    const uint64_t maxMono = (uint64_t(UINT32_MAX) - 36u) / 4u;
    EXPECT_TRUE(buildWavHeader(maxMono, 1, 48000.0, header));
    EXPECT_FALSE(buildWavHeader(maxMono + 1, 1, 48000.0, header));
    EXPECT_FALSE(buildWavHeader(maxMono / 2 + 1, 2, 48000.0, header));
    EXPECT_FALSE(buildWavHeader(UINT64_MAX / 2, 2, 48000.0, header));
    EXPECT_FALSE(buildWavHeader(10, 3, 48000.0, header));
}

TEST(WavWriter, FileLockedByAnotherWriterIsLeftAlone)
{
    const std::string path = tmpPath("locked.wav");
    test::writeBytes(path, {1, 2, 3});
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(writeWav(path, {0.5f}, {}, 48000.0));
    ::close(fd);
    EXPECT_EQ(readBytes(path), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(WavWriter, WriteErrorRemovesThePartialFile)
{
    // A child process with a 1000-byte file size limit stands in for a full disk.
    const std::string path = tmpPath("full.wav");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = writeWav(path, std::vector<float>(10000, 0.5f), {}, 48000.0);
        ::_exit(ok ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write was reported as a success";
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WavWriter, SpecialFilesAreRefusedWithoutBlocking)
{
    const std::string fifo = tmpPath("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string dir = tmpPath("dir.wav");
    std::filesystem::create_directories(dir);
    auto result = std::async(std::launch::async, [&] {
        return !writeWav(fifo, {0.5f}, {}, 48000.0) && !writeWav(dir, {0.5f}, {}, 48000.0);
    });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(result.get());
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    ::unlink(fifo.c_str());
}

} // namespace
} // namespace vesk
