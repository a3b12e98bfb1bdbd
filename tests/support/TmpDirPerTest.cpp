// Gives every test a scratch folder of its own: CTest runs tests in parallel, and two tests
// writing the same file name at once would trip over each other's files and file locks. At the
// start of each test, VESK_TEST_TMP_DIR points at <base>/<Suite>.<Test>, created empty.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class TmpDirPerTest : public ::testing::EmptyTestEventListener
{
public:
    TmpDirPerTest()
    {
        const char* env = std::getenv("VESK_TEST_TMP_DIR");
        base_ = env != nullptr && *env != '\0' ? env : VESK_TEST_TMP_DIR;
    }

    void OnTestStart(const ::testing::TestInfo& info) override
    {
        std::string name = std::string(info.test_suite_name()) + "." + info.name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        const std::filesystem::path dir = std::filesystem::path(base_) / name;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directories(dir, ec);
        ::setenv("VESK_TEST_TMP_DIR", dir.c_str(), 1);
    }

private:
    std::string base_;
};

const bool g_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TmpDirPerTest);
    return true;
}();

} // namespace
