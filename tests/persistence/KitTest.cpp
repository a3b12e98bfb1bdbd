// Kits: JSON descriptions turned into plug-in states with the plug-in's own serializer, and back.
#include "host/kit/Kit.h"

#include "audio_files/WavWriter.h"
#include "host/ClapHost.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path kitDir(const std::string& name)
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    const fs::path dir = fs::path(env != nullptr ? env : VESK_TEST_TMP_DIR) / ("kit-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir / "samples");
    for (int k = 0; k < 3; ++k) {
        std::vector<float> x(4800);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = float(0.5 * std::exp(-double(i) / 800.0) *
                         std::sin(2.0 * M_PI * (220.0 * (k + 1)) * double(i) / 48000.0));
        char name[16];
        std::snprintf(name, sizeof name, "s%d.wav", k);
        vesk::writeWav((dir / "samples" / name).string(), x, x, 48000.0);
    }
    return dir;
}

const char* kKit = R"({
  "pools": [
    {"name": "Hits", "samples": ["samples/s0.wav", {"file": "samples/s1.wav", "offset": 100,
       "length": 2000}],
     "pitch": {"base": 2, "range": 0.5, "random": true}, "volume": -6, "reverse": 25,
     "route": "master", "lpf": 9000, "fadeOut": 0.2, "solo": true,
     "volumeEnv": {"points": [[0, 0], [1, -24]]}},
    {"name": "Cloud", "samples": ["samples/s2.wav"], "grainCloud": true, "mute": true}
  ],
  "buses": [
    {"slots": [{"fx": "EQ", "params": {"Low": 6}}, {"fx": "Saturate", "bypass": true}],
     "bypass": true},
    {"slots": [], "mute": true}
  ],
  "bus1ToMaster": true,
  "master": {"bypass": false, "outputGainDb": -3, "eq": {"low": 2},
             "limiter": {"threshold": -9, "ceiling": -1}},
  "retrigger": "poly",
  "autoSplit": true
})";

} // namespace

TEST(Kit, BuildsAStateThePluginLoadsAndPrintsItBack)
{
    const fs::path dir = kitDir("build");
    std::vector<uint8_t> state;
    std::string error;
    ASSERT_TRUE(vesk::kit::buildKitState(kKit, dir.string(), state, error)) << error;

    vesk::host::PluginLibrary library(VESK_CLAP_PATH);
    vesk::host::HostedPlugin plugin(library, "com.halvoren.vesk");
    ASSERT_TRUE(plugin.loadState(state));
    std::vector<uint8_t> saved;
    ASSERT_TRUE(plugin.saveState(saved));
    EXPECT_EQ(saved, state);

    // The kit sounds: a note renders audio.
    ASSERT_TRUE(plugin.activate(48000.0, 512));
    std::vector<float> left, right;
    vesk::host::TimedEvent note;
    plugin.render(9600, 512, {note}, left, right);
    EXPECT_GT(vesk::host::measure(left).peak, 0.01);

    std::string json;
    ASSERT_TRUE(vesk::kit::stateToKitJson(state, json, error)) << error;
    const juce::var v = juce::JSON::parse(juce::String(json));
    ASSERT_TRUE(v.isObject());
    const juce::var hits = v["pools"][0];
    EXPECT_EQ(hits["name"].toString(), "Hits");
    ASSERT_EQ(hits["samples"].size(), 2);
    EXPECT_EQ(hits["samples"][1]["offset"].toString(), "100");
    EXPECT_EQ(hits["samples"][1]["length"].toString(), "2000");
    EXPECT_EQ(hits["route"].toString(), "master");
    EXPECT_DOUBLE_EQ(double(hits["volume"]["base"]), -6.0);
    EXPECT_DOUBLE_EQ(double(hits["pitch"]["range"]), 0.5);
    EXPECT_TRUE(bool(hits["solo"]));
    EXPECT_EQ(hits["volumeEnv"]["points"].size(), 2);
    EXPECT_TRUE(bool(v["pools"][1]["grainCloud"]));
    EXPECT_TRUE(bool(v["pools"][1]["mute"]));
    EXPECT_EQ(v["buses"][0]["slots"][0]["fx"].toString(), "EQ");
    EXPECT_DOUBLE_EQ(double(v["buses"][0]["slots"][0]["params"]["Low"]), 6.0);
    EXPECT_TRUE(bool(v["buses"][0]["slots"][1]["bypass"]));
    EXPECT_TRUE(bool(v["buses"][0]["bypass"]));
    EXPECT_TRUE(bool(v["buses"][1]["mute"]));
    EXPECT_FALSE(bool(v["master"]["bypass"]));
    EXPECT_DOUBLE_EQ(double(v["master"]["limiter"]["threshold"]), -9.0);
    EXPECT_EQ(v["retrigger"].toString(), "poly");

    // What print shows builds the same state again.
    std::vector<uint8_t> again;
    ASSERT_TRUE(vesk::kit::buildKitState(json, dir.string(), again, error)) << error;
    EXPECT_EQ(again, state);
}

TEST(Kit, MistakesAreReportedNotSaved)
{
    const fs::path dir = kitDir("errors");
    struct Case
    {
        const char* kit;
        const char* message;
    };
    const Case cases[] = {
        {"not json", "not JSON"},
        {"[]", "JSON object"},
        {R"({"pools": [{"samples": ["samples/missing.wav"]}]})", "cannot read the sample file"},
        {R"({"buses": [{"slots": [{"fx": "Nope"}]}]})", "unknown FX module"},
        {R"({"pools": [{"route": "bus9"}]})", "route"},
        {R"({"pools": [{"hpf": "loud"}]})", "hpf"},
        {R"({"pools": [{},{},{},{},{},{},{},{},{}]})", "at most 8"},
        {R"({"retrigger": "sometimes"})", "retrigger"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> state;
        std::string error;
        EXPECT_FALSE(vesk::kit::buildKitState(c.kit, dir.string(), state, error)) << c.kit;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.kit << " -> " << error;
        EXPECT_TRUE(state.empty());
    }
    std::string json, error;
    EXPECT_FALSE(vesk::kit::stateToKitJson({1, 2, 3}, json, error));
    EXPECT_FALSE(error.empty());
}
