// Writing test WAV files of any encoding into the test's temporary folder.
#pragma once

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vesk::test {

inline std::string tmpDir()
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    std::string dir = env != nullptr && *env != '\0' ? env : VESK_TEST_TMP_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

// A fresh path in the temporary folder, unique per test.
inline std::string tmpPath(const std::string& name)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string path = tmpDir() + "/" + info->test_suite_name() + "_" + info->name() + "_" + name;
    for (char& c : path)
        if (c == '*')
            c = '_';
    std::filesystem::remove(path);
    return path;
}

// Writes interleaved frames with libsndfile; returns false when it refuses the format.
inline bool writeWithSndfile(const std::string& path, int format, int channels, int rate,
                             const std::vector<float>& interleaved)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (sf == nullptr)
        return false;
    const sf_count_t frames = sf_count_t(interleaved.size() / size_t(channels));
    const sf_count_t n = sf_writef_float(sf, interleaved.data(), frames);
    sf_close(sf);
    return n == frames;
}

inline std::vector<float> interleave(const std::vector<std::vector<float>>& channels)
{
    std::vector<float> out(channels[0].size() * channels.size());
    for (size_t i = 0; i < channels[0].size(); ++i)
        for (size_t c = 0; c < channels.size(); ++c)
            out[i * channels.size() + c] = channels[c][i];
    return out;
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

} // namespace vesk::test
