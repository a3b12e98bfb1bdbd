// FX-chain presets: JSON layout, reading rules, names, files and the error texts.
#include "fx/VeskLanePresetIO.h"

#include "fx/FXModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace vesk;

namespace {

// Every test gets a home folder of its own, so the shared preset folder starts empty.
class PresetFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("VESK_TEST_TMP_DIR");
        const std::string base = tmp != nullptr ? tmp : VESK_TEST_TMP_DIR;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        home =
            juce::File(juce::String(base)).getChildFile("preset-home").getChildFile(info->name());
        home.deleteRecursively();
        ASSERT_TRUE(home.createDirectory());
        setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    }
    void TearDown() override { home.deleteRecursively(); }

    juce::File dir() const { return home.getChildFile("Documents/Halvoren Vesk/FX Chains"); }
    juce::File writePreset(const juce::String& name, const juce::String& text)
    {
        const juce::File f = getVeskFxChainDir().getChildFile(name + ".veskfxchain");
        EXPECT_TRUE(f.replaceWithText(text));
        return f;
    }

    juce::File home;
};

FXSlotState delaySlot(float time, float fb, float mix)
{
    FXSlotState s;
    s.type = uint8_t(FXType::Delay);
    s.params[0] = time;
    s.params[1] = fb;
    s.params[2] = mix;
    return s;
}

} // namespace

TEST(VeskLanePresetJson, SlotObjectsUseDisplayNamesAndBindingsOnlyWhenBound)
{
    FXLaneState lanes[2];
    lanes[0].slotCount = 3;
    lanes[0].slots[0] = delaySlot(0.5f, 0.25f, 0.75f);
    lanes[0].slots[1].type = 0; // empty: skipped
    lanes[0].slots[2] = delaySlot(0.1f, 0.2f, 0.3f);
    lanes[0].slots[2].bypassed = 1;
    lanes[0].slots[2].modSource[1] = 2;
    lanes[0].slots[2].modDepth[1] = 5.0f; // written clamped
    lanes[0].bypassed = lanes[0].muted = lanes[0].soloed = 1;

    const juce::var root = laneChainToJsonVar(lanes);
    EXPECT_EQ(int(root["schema"]), 1);
    ASSERT_EQ(root["lanes"].size(), 2);
    const juce::var slots = root["lanes"][0]["slots"];
    ASSERT_EQ(slots.size(), 2);
    EXPECT_EQ(slots[0]["fx"].toString(), "Delay");
    EXPECT_FALSE(bool(slots[0]["bypass"]));
    EXPECT_DOUBLE_EQ(double(slots[0]["params"]["FB"]), 0.25);
    EXPECT_FALSE(slots[0].hasProperty("mods"));
    EXPECT_TRUE(bool(slots[1]["bypass"]));
    EXPECT_EQ(int(slots[1]["mods"]["FB"]["source"]), 2);
    EXPECT_DOUBLE_EQ(double(slots[1]["mods"]["FB"]["depth"]), 1.0);
    EXPECT_EQ(root["lanes"][1]["slots"].size(), 0);
    // Lane flags are not part of a preset.
    EXPECT_FALSE(root["lanes"][0].hasProperty("bypass"));
    EXPECT_FALSE(root["lanes"][0].hasProperty("muted"));

    FXLaneState back[2];
    ASSERT_TRUE(laneChainFromJsonString(laneChainToJsonString(lanes), back));
    ASSERT_EQ(back[0].slotCount, 2);
    EXPECT_EQ(back[0].slots[0].params[0], 0.5f); // widened to double and back: exact
    EXPECT_EQ(back[0].slots[1].params[2], 0.3f);
    EXPECT_EQ(back[0].slots[1].bypassed, 1);
    EXPECT_EQ(back[0].slots[1].modSource[1], 2);
    EXPECT_EQ(back[0].slots[1].modDepth[1], 1.0f);
    EXPECT_EQ(back[0].bypassed, 0);
}

TEST(VeskLanePresetJson, ReadingRules)
{
    const FXModuleInfo* delay = getFXModuleInfo(FXType::Delay);
    ASSERT_NE(delay, nullptr);
    struct Case
    {
        const char* name;
        const char* json;
        bool ok;
        int slots0;
    };
    const Case cases[] = {
        {"empty lanes", R"({"lanes": []})", true, 0},
        {"root is an array", R"([1, 2])", false, 0},
        {"not JSON", "this is not json", false, 0},
        {"lanes not an array", R"({"lanes": {}})", false, 0},
        {"schema 2 reads like 1",
         R"({"schema": 2, "lanes": [{"slots": [{"fx": "Delay", "params": {}}]}]})", true, 1},
        {"unknown module skipped",
         R"({"lanes": [{"slots": [{"fx": "Nope"}, {"fx": "delay"}, 7, {"fx": "Delay"}]}]})", true,
         1},
        {"nested too deep",
         "{\"lanes\": "
         "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]"
         "]]]]]]]]]}",
         false, 0},
    };
    for (const Case& c : cases) {
        FXLaneState lanes[2];
        lanes[1].slotCount = 5; // cleared by every read
        EXPECT_EQ(laneChainFromJsonString(c.json, lanes), c.ok) << c.name;
        EXPECT_EQ(lanes[0].slotCount, c.slots0) << c.name;
        EXPECT_EQ(lanes[1].slotCount, 0) << c.name;
    }

    // Values: a missing knob takes its default, values are clamped, bindings are checked.
    FXLaneState lanes[2];
    ASSERT_TRUE(laneChainFromJsonString(R"({"lanes": [{"slots": [{"fx": "Delay", "bypass": true,
        "params": {"Time": 7.5, "Mix": -3, "Bogus": 1},
        "mods": {"Time": {"source": 0, "depth": 0.5}, "FB": {"source": 3, "depth": 3},
                 "Mix": {"source": 9, "depth": 0.5}}}]}]})",
                                        lanes));
    const FXSlotState& s = lanes[0].slots[0];
    EXPECT_EQ(s.bypassed, 1);
    EXPECT_EQ(s.params[0], delay->paramMax[0]);
    EXPECT_EQ(s.params[1], delay->paramDefaults[1]);
    EXPECT_EQ(s.params[2], delay->paramMin[2]);
    EXPECT_EQ(s.modSource[0], 0);
    EXPECT_EQ(s.modDepth[0], 0.0f);
    EXPECT_EQ(s.modSource[1], 3);
    EXPECT_EQ(s.modDepth[1], 1.0f);
    EXPECT_EQ(s.modSource[2], 0); // outside the modulation bus: dropped
    EXPECT_EQ(s.modDepth[2], 0.0f);
}

TEST(VeskLanePresetJson, LaneKeepsFortySlots)
{
    juce::String json = R"({"lanes": [{"slots": [)";
    for (int i = 0; i < 45; ++i)
        json << (i ? "," : "") << R"({"fx": "Delay"})";
    json << "]}, {\"slots\": [{\"fx\": \"EQ\"}]}, {\"slots\": [{\"fx\": \"Delay\"}]}]}";
    FXLaneState lanes[2];
    ASSERT_TRUE(laneChainFromJsonString(json, lanes));
    EXPECT_EQ(lanes[0].slotCount, 40);
    EXPECT_EQ(lanes[1].slotCount, 1);
    EXPECT_EQ(lanes[1].slots[0].type, uint8_t(FXType::EQ));
}

TEST(VeskLanePresetJson, BrokenBytesAndOversizedInputAreRefused)
{
    FXLaneState lanes[2];
    const std::string withBom = "\xEF\xBB\xBF{\"lanes\": [{\"slots\": [{\"fx\": \"Delay\"}]}]}";
    EXPECT_TRUE(laneChainFromJsonBytes(withBom.data(), withBom.size(), lanes));
    EXPECT_EQ(lanes[0].slotCount, 1);
    const std::string broken = "{\"lanes\": [{\"slots\": [{\"fx\": \"Del\xFF\xC3\"}]}]}";
    EXPECT_TRUE(laneChainFromJsonBytes(broken.data(), broken.size(), lanes));
    EXPECT_EQ(lanes[0].slotCount, 0);
    std::string huge(kMaxPresetFileBytes + 1, ' ');
    huge[0] = '{';
    EXPECT_FALSE(laneChainFromJsonBytes(huge.data(), huge.size(), lanes));
}

TEST(VeskLanePresetNames, Sanitising)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"...", ""},
        {" My chain. ", "My chain"},
        {"a/b", "a_b"},
        {"a\"*:<>?\\|b", "a________b"},
        {"tab\there", "tab_here"},
        {"com1", "_com1"},
        {"COM1", "_COM1"},
        {"Lpt9", "_Lpt9"},
        {"com10", "com10"},
        {"con.txt", "con.txt"},
        {"Ünïcødé", "Ünïcødé"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sanitizeVeskFxChainName(juce::String::fromUTF8(c.in)),
                  juce::String::fromUTF8(c.out))
            << c.in;
    }
    // A long name is cut at a character boundary.
    juce::String longName;
    for (int i = 0; i < 150; ++i)
        longName += juce::String::fromUTF8("\xC3\xA9");
    const juce::String cut = sanitizeVeskFxChainName(longName);
    EXPECT_LE(cut.getNumBytesAsUTF8(), kMaxPresetNameBytes);
    EXPECT_EQ(cut.length(), int(kMaxPresetNameBytes / 2));
}

TEST_F(PresetFiles, SaveWritesCrLfWithoutByteOrderMarkAndLoadsBack)
{
    FXLaneState lanes[2];
    lanes[0].slotCount = 1;
    lanes[0].slots[0] = delaySlot(0.5f, 0.4f, 0.3f);
    lanes[1].slotCount = 1;
    lanes[1].slots[0] = delaySlot(0.2f, 0.1f, 0.9f);
    lanes[1].slots[0].bypassed = 1;
    juce::String error = "stale";
    ASSERT_TRUE(saveVeskFxChainPreset(" My chain. ", lanes, &error));
    EXPECT_TRUE(error.isEmpty());
    const juce::File file = dir().getChildFile("My chain.veskfxchain");
    ASSERT_TRUE(file.existsAsFile());
    juce::MemoryBlock bytes;
    ASSERT_TRUE(file.loadFileAsData(bytes));
    const std::string text(static_cast<const char*>(bytes.getData()), bytes.getSize());
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text[0], '{'); // no byte-order mark
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], '\r') << "bare LF at " << i;
        }
    }
    // No temporary file is left behind.
    EXPECT_EQ(dir().getNumberOfChildFiles(juce::File::findFiles), 1);

    EXPECT_TRUE(veskFxChainPresetExists("My chain"));
    FXLaneState back[2];
    ASSERT_TRUE(loadVeskFxChainPreset("My chain", back, &error));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(back[0].slotCount, 1);
    EXPECT_EQ(back[1].slots[0].bypassed, 1);
    EXPECT_EQ(back[1].slots[0].params[2], 0.9f);

    // Overwrite, then delete.
    lanes[0].slotCount = 0;
    ASSERT_TRUE(saveVeskFxChainPreset("My chain", lanes, &error));
    ASSERT_TRUE(loadVeskFxChainPreset("My chain", back, &error));
    EXPECT_EQ(back[0].slotCount, 0);
    EXPECT_TRUE(deleteVeskFxChainPreset("My chain"));
    EXPECT_FALSE(deleteVeskFxChainPreset("My chain"));
    EXPECT_FALSE(veskFxChainPresetExists("My chain"));
}

TEST_F(PresetFiles, ReservedNamesAndSlashes)
{
    FXLaneState lanes[2];
    juce::String error;
    ASSERT_TRUE(saveVeskFxChainPreset("com1", lanes, &error));
    EXPECT_TRUE(dir().getChildFile("_com1.veskfxchain").existsAsFile());
    FXLaneState back[2];
    EXPECT_TRUE(loadVeskFxChainPreset("com1", back, &error));
    ASSERT_TRUE(saveVeskFxChainPreset("a/b", lanes, &error));
    EXPECT_TRUE(dir().getChildFile("a_b.veskfxchain").existsAsFile());
}

TEST_F(PresetFiles, ErrorTexts)
{
    FXLaneState lanes[2];
    lanes[0].slotCount = 3;
    juce::String error;
    EXPECT_FALSE(saveVeskFxChainPreset("...", lanes, &error));
    EXPECT_EQ(error, "Preset name is empty.");
    EXPECT_FALSE(loadVeskFxChainPreset(" . ", lanes, &error));
    EXPECT_EQ(error, "Preset name is empty.");
    EXPECT_FALSE(loadVeskFxChainPreset("missing", lanes, &error));
    EXPECT_EQ(error, "Preset file not found.");
    EXPECT_EQ(lanes[0].slotCount, 0);

    for (const char* text : {"[1, 2, 3]", "not json at all", "", "{\"lanes\": 5}"}) {
        writePreset("bad", text);
        lanes[0].slotCount = 3;
        EXPECT_FALSE(loadVeskFxChainPreset("bad", lanes, &error)) << text;
        EXPECT_EQ(error, "Preset file is corrupt or empty.") << text;
        EXPECT_EQ(lanes[0].slotCount, 0);
        EXPECT_EQ(lanes[1].slotCount, 0);
    }
    // Larger than any preset: refused without being parsed.
    juce::String big = "{\"lanes\": []}";
    big += juce::String::repeatedString(" ", int(kMaxPresetFileBytes));
    writePreset("big", big);
    EXPECT_FALSE(loadVeskFxChainPreset("big", lanes, &error));
    EXPECT_EQ(error, "Preset file is corrupt or empty.");

    // The preset folder cannot be made: a file stands where the folder would be.
    home.getChildFile("Documents").deleteRecursively();
    ASSERT_TRUE(home.getChildFile("Documents").replaceWithText("x"));
    EXPECT_FALSE(saveVeskFxChainPreset("x", lanes, &error));
    EXPECT_EQ(error, "VeskFxChain directory unavailable.");
    EXPECT_FALSE(loadVeskFxChainPreset("x", lanes, &error));
    EXPECT_EQ(error, "VeskFxChain directory unavailable.");
    EXPECT_TRUE(listVeskFxChainPresets().empty());
    EXPECT_FALSE(deleteVeskFxChainPreset("x"));
}

TEST_F(PresetFiles, CommitFailureIsReported)
{
    FXLaneState lanes[2];
    juce::String error;
    // A folder stands where the preset file would go: the temporary file cannot replace it.
    ASSERT_TRUE(getVeskFxChainDir().getChildFile("blocked.veskfxchain").getChildFile("x").create());
    EXPECT_FALSE(saveVeskFxChainPreset("blocked", lanes, &error));
    EXPECT_EQ(error, "Failed to commit preset file.");
    EXPECT_EQ(getVeskFxChainDir().getNumberOfChildFiles(juce::File::findFiles), 0);
}

TEST_F(PresetFiles, ListingIsSortedIgnoringCase)
{
    FXLaneState lanes[2];
    for (const char* name : {"gamma", "Beta", "alpha"})
        ASSERT_TRUE(saveVeskFxChainPreset(name, lanes, nullptr));
    writePreset(".hidden", "{}");
    ASSERT_TRUE(getVeskFxChainDir().getChildFile("notes.txt").replaceWithText("x"));
    const auto names = listVeskFxChainPresets();
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], ".hidden");
    EXPECT_EQ(names[1], "alpha");
    EXPECT_EQ(names[2], "Beta");
    EXPECT_EQ(names[3], "gamma");
}
