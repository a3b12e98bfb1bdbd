// `vesk-kit render` as a user runs it: the demo kit through the real plug-in file, its shards,
// a state file, and every failure with its exit code and its one line.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string tmpDir(const std::string& name)
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    const fs::path dir = fs::path(env != nullptr ? env : VESK_TEST_TMP_DIR) / name;
    fs::create_directories(dir);
    return dir.string();
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct ToolRun
{
    int exitCode = -1;
    std::string out, err;
};

// Runs vesk-kit with the arguments (each quoted) in `dir`, without a terminal.
ToolRun kit(const std::string& dir, const std::vector<std::string>& args)
{
    std::string command = "cd \"" + dir + "\" && \"" + VESK_KIT_PATH + "\"";
    for (const std::string& a : args)
        command += " '" + a + "'";
    command += " >\"" + dir + "/stdout.txt\" 2>\"" + dir + "/stderr.txt\" </dev/null";
    const int status = std::system(command.c_str());
    ToolRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readText(dir + "/stdout.txt");
    r.err = readText(dir + "/stderr.txt");
    return r;
}

std::vector<std::string> wavsIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (!fs::exists(dir))
        return names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".wav")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class KitRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = tmpDir("kit");
        const std::string command = std::string("\"") + VESK_DEMO_SAMPLES_PATH + "\" \"" + dir +
                                    "/samples\" >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        fs::copy_file(VESK_DEMO_KIT_JSON, dir + "/demo.json");
    }
    std::string dir;
};

} // namespace

TEST_F(KitRender, ShardsOfTheDemoKitTogetherAreExactlyTheFullSet)
{
    const std::vector<std::string> common = {"--count",  "6",  "--seed",     "77",
                                             "--format", "16", "--loudness", "-16"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", "demo.json"};
        args.insert(args.end(), common.begin(), common.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const ToolRun full = kit(dir, with({"--out", "full"}));
    ASSERT_EQ(full.exitCode, 0) << full.err;
    EXPECT_NE(full.out.find("6 of 6\n"), std::string::npos) << full.out; // plain lines, no bar
    EXPECT_NE(full.out.find("6 files of 6 variations in full (base seed 77)"), std::string::npos)
        << full.out;
    const std::vector<std::string> names = wavsIn(dir + "/full");
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names.front(), "demo_01.wav");
    EXPECT_TRUE(fs::exists(dir + "/full/manifest.csv"));

    ASSERT_EQ(kit(dir, with({"--out", "parts", "--shard", "1/2"})).exitCode, 0);
    ASSERT_EQ(kit(dir, with({"--out", "parts", "--shard", "2/2", "--threads", "1"})).exitCode, 0);
    EXPECT_EQ(wavsIn(dir + "/parts"), names);
    for (const std::string& n : names)
        EXPECT_EQ(readText(dir + "/parts/" + n), readText(dir + "/full/" + n)) << n;
    EXPECT_NE(readText(dir + "/parts/manifest-2of2.csv").find("demo_06.wav"), std::string::npos);
}

TEST_F(KitRender, AStateFileRendersAsItsKitDoes)
{
    ASSERT_EQ(kit(dir, {"build", "demo.json", "demo.state"}).exitCode, 0);
    const ToolRun r = kit(dir, {"render", "demo.state", "--count", "2", "--what", "both", "--name",
                                "{kit}_{pool}_{n:03}", "--out", "set", "--kit", "Hits"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> names = wavsIn(dir + "/set");
    EXPECT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "Hits_1_001.wav");
    EXPECT_EQ(names.back(), "Hits_Mix_002.wav");
}

TEST_F(KitRender, FailuresExitNonZeroWithOneLineAndWriteNothing)
{
    fs::create_directories(dir + "/taken");
    {
        std::ofstream(dir + "/taken/demo_02.wav") << "mine";
    }
    std::string missingKit = readText(dir + "/demo.json");
    const std::string from = "samples/metal_tick.wav";
    missingKit.replace(missingKit.find(from), from.size(), "samples/nowhere.wav");
    {
        std::ofstream(dir + "/missing.json") << missingKit;
    }
    ASSERT_EQ(kit(dir, {"build", "demo.json", "gone.state"}).exitCode, 0);

    struct Case
    {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"render", "demo.json", "--count", "0", "--out", "o"}, "count must be between 1 and 1000"},
        {{"render", "demo.json", "--count", "5000", "--out", "o"},
         "count must be between 1 and 1000"},
        {{"render", "demo.json", "--name", "{kit}_{take}", "--out", "o"}, "unknown token {take}"},
        {{"render", "demo.json", "--name", "{kit}", "--out", "o"},
         "the name template gives two files the same name"},
        {{"render", "demo.json", "--format", "8", "--out", "o"}, "format must be f32, 24 or 16"},
        {{"render", "demo.json", "--shard", "3/2", "--out", "o"}, "shard must be I/N"},
        {{"render", "demo.json", "--loudness", "-16", "--peak", "-1", "--out", "o"},
         "exclude each other"},
        {{"render", "demo.json", "--colour", "red"}, "unknown option --colour"},
        {{"render", "missing.json", "--out", "o"}, "nowhere.wav"},
        {{"render", "demo.json", "--plugin", "/nonexistent/Vesk.clap", "--out", "o"},
         "/nonexistent/Vesk.clap"},
        {{"render", "demo.json", "--count", "3", "--out", "taken"}, "demo_02.wav already exists"},
        {{"render", "demo.json", "--out", "demo.json/set"}, "cannot create the folder"},
        {{"render", "nothing.json"}, "cannot read nothing.json"},
        {{"render"}, "render needs a kit JSON or a state file"},
    };
    for (const Case& c : cases) {
        const ToolRun r = kit(dir, c.args);
        std::string shown;
        for (const std::string& a : c.args)
            shown += a + " ";
        EXPECT_NE(r.exitCode, 0) << shown;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << shown << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": " << r.err;
        EXPECT_EQ(r.err.rfind("vesk-kit: ", 0), 0u) << r.err;
        EXPECT_TRUE(wavsIn(dir + "/o").empty()) << shown;
    }
    EXPECT_EQ(readText(dir + "/taken/demo_02.wav"), "mine");

    // A state whose samples went missing after it was saved: the files are named.
    fs::remove(dir + "/samples/sweep_down.wav");
    const ToolRun r = kit(dir, {"render", "gone.state", "--out", "o"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("sweep_down.wav"), std::string::npos) << r.err;
    EXPECT_TRUE(wavsIn(dir + "/o").empty());
}
