// The REAPER bridge against vesk-host's stand-in REAPER: look-up, own track, insertion of stems
// and mix, undo steps, folder structure, placement and the failure paths.
#include "export/VeskReaperBridge.h"

#include "audio_files/WavWriter.h"
#include "host/FakeReaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using vesk::host::FakeReaper;

namespace {

const void* fakeExtension(const clap_host* host, const char* id)
{
    return static_cast<const FakeReaper*>(host->host_data)->extension(id);
}

const void* noExtension(const clap_host*, const char*)
{
    return nullptr;
}

clap_host_t makeHost(FakeReaper* fake)
{
    clap_host_t host{};
    host.clap_version = CLAP_VERSION;
    host.host_data = fake;
    host.name = "test";
    host.vendor = "test";
    host.url = "";
    host.version = "1";
    host.get_extension = fake != nullptr ? fakeExtension : noExtension;
    return host;
}

std::string tmpDir()
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    std::string dir = std::string(env != nullptr ? env : VESK_TEST_TMP_DIR) + "/reaper_bridge";
    std::filesystem::create_directories(dir);
    return dir;
}

// A WAV file of `seconds` at 48 kHz, so the stand-in knows the item's length.
std::string wavFile(const std::string& name, double seconds)
{
    const std::string path = tmpDir() + "/" + name;
    std::vector<float> x(size_t(seconds * 48000.0), 0.25f);
    EXPECT_TRUE(vesk::writeWav(path, x, x, 48000.0));
    return path;
}

// Drums, the instance's track "Synth" (index 1), Bass.
struct Project
{
    FakeReaper fake;
    clap_host_t host = makeHost(&fake);
    VeskReaperBridge bridge;

    Project()
    {
        fake.addTrack("Drums", {"ReaEQ"});
        fake.addTrack("Synth", {"ReaComp", FakeReaper::kPluginFxName});
        fake.addTrack("Bass");
        fake.projectPath = "/projects/song//";
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> n;
        for (const auto& t : fake.tracks)
            n.push_back(t->name);
        return n;
    }
};

std::vector<std::string> stemFiles(std::initializer_list<int> pools, double seconds = 1.0)
{
    std::vector<std::string> files(8);
    for (int p : pools)
        files[size_t(p - 1)] = wavFile("stem" + std::to_string(p) + ".wav", seconds);
    return files;
}

const std::vector<std::string> kPoolNames = {"Pool1", "Pool2", "Pool3", "Pool4",
                                             "Pool5", "Pool6", "Pool7", "Pool8"};

} // namespace

TEST(ReaperBridge, OutsideReaperNothingInitialisesAndNothingIsFound)
{
    VeskReaperBridge bridge;
    clap_host_t host = makeHost(nullptr);
    EXPECT_FALSE(bridge.initialize(nullptr));
    EXPECT_FALSE(bridge.initialize(&host));
    EXPECT_FALSE(bridge.initialize(&host));
    EXPECT_EQ(bridge.findOwnTrack("Synth"), nullptr);
    EXPECT_FALSE(bridge.insertMixFile(0, "/x.wav"));
    EXPECT_EQ(bridge.projectPath(), "");
}

TEST(ReaperBridge, MissingRequiredFunctionLeavesItInactiveUntilRetried)
{
    Project p;
    p.fake.omit("InsertMedia");
    EXPECT_FALSE(p.bridge.initialize(&p.host));
    EXPECT_FALSE(p.bridge.initialized);
    EXPECT_EQ(p.bridge.findOwnTrack("Synth"), nullptr);
    p.fake.restore("InsertMedia");
    EXPECT_TRUE(p.bridge.initialize(&p.host));
    EXPECT_NE(p.bridge.findOwnTrack("Synth"), nullptr);
}

TEST(ReaperBridge, MissingOptionalFunctionsShrinkTheWork)
{
    Project p;
    for (const char* f : {"ShowConsoleMsg", "PreventUIRefresh", "UpdateArrange",
                          "GetTrackNumMediaItems", "SelectAllMediaItems", "GetSelectedMediaItem",
                          "SetMediaItemSelected", "GetMediaTrackInfo_Value", "ValidatePtr2"})
        p.fake.omit(f);
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    p.fake.cursor = 3.0;
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1})));
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1})));
    // Without the item functions the second export also lands at the edit cursor (where the
    // stand-in left it after the first insertion: its end).
    ASSERT_EQ(p.fake.tracks[2]->items.size(), 2u);
    EXPECT_DOUBLE_EQ(p.fake.tracks[2]->items[0]->position, 3.0);
    EXPECT_DOUBLE_EQ(p.fake.tracks[2]->items[1]->position, 4.0);
    EXPECT_EQ(p.fake.refreshFreeze, 0);
    EXPECT_EQ(p.fake.openUndoBlocks, 0);
    EXPECT_FALSE(p.bridge.trackStillValid(p.bridge.findOwnTrack("Synth")));
    EXPECT_FALSE(p.bridge.trackMuted(p.bridge.findOwnTrack("Synth")));
}

TEST(ReaperBridge, OwnTrackLookup)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<std::string, std::vector<std::string>>> tracks;
        const char* name;
        int expected; // index, -1 for none
    };
    const std::string vesk = FakeReaper::kPluginFxName;
    const std::vector<Case> cases = {
        {"unique by name", {{"A", {vesk}}, {"Synth", {vesk}}}, "Synth", 1},
        {"name must match exactly", {{"Synth 2", {vesk}}, {"Synth", {}}}, "Synth", -1},
        {"two tracks with that name", {{"Synth", {vesk}}, {"Synth", {vesk}}}, "Synth", -1},
        {"no name, one candidate", {{"A", {}}, {"B", {"x", vesk}}}, "", 1},
        {"no name, two candidates", {{"A", {vesk}}, {"B", {vesk}}}, nullptr, -1},
        {"two Vesk FX on one track count once", {{"A", {vesk, "Vesk Copy"}}}, "", 0},
        {"case-sensitive", {{"Synth", {"vesk lower case"}}}, "Synth", -1},
        {"no candidate", {{"Synth", {"ReaEQ"}}}, "Synth", -1},
    };
    for (const Case& c : cases) {
        FakeReaper fake;
        clap_host_t host = makeHost(&fake);
        for (const auto& [name, fx] : c.tracks)
            fake.addTrack(name, fx);
        VeskReaperBridge bridge;
        ASSERT_TRUE(bridge.initialize(&host));
        auto* track = bridge.findOwnTrack(c.name);
        const int index = track != nullptr ? fake.indexOf(fake.track(track)) : -1;
        EXPECT_EQ(index, c.expected) << c.what;
        EXPECT_EQ(bridge.trackIndexOf(track), c.expected) << c.what;
    }
}

TEST(ReaperBridge, FirstStemExportCallsReaperInOrder)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    p.fake.cursor = 4.0;
    p.fake.calls.clear();
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1, 3})));

    // The calls that change the project, in order.
    const std::vector<std::string> changing = {
        "Undo_BeginBlock2",        "PreventUIRefresh",    "InsertTrackAtIndex",
        "SetMediaTrackInfo_Value", "SelectAllMediaItems", "SetOnlyTrackSelected",
        "SetEditCurPos",           "InsertMedia",         "SetMediaItemSelected",
        "Undo_EndBlock2",          "UpdateArrange"};
    std::vector<std::string> seen;
    for (const std::string& c : p.fake.calls) {
        const std::string name = c.substr(0, c.find('('));
        if (std::find(changing.begin(), changing.end(), name) != changing.end())
            seen.push_back(c);
    }
    std::vector<std::string> expected = {"Undo_BeginBlock2(null)", "PreventUIRefresh(1)",
                                         "SetMediaTrackInfo_Value(track1,I_FOLDERDEPTH,1)"};
    for (int k = 1; k <= 8; ++k)
        expected.push_back("InsertTrackAtIndex(" + std::to_string(1 + k) + ",false)");
    expected.push_back("SetMediaTrackInfo_Value(track9,I_FOLDERDEPTH,-1)");
    expected.push_back("SelectAllMediaItems(null,false)");
    for (int pool : {1, 3}) {
        expected.push_back("SetOnlyTrackSelected(track" + std::to_string(1 + pool) + ")");
        expected.push_back("SetEditCurPos(4,false,false)");
        expected.push_back("InsertMedia(" + tmpDir() + "/stem" + std::to_string(pool) + ".wav,0)");
    }
    expected.push_back("SetMediaItemSelected(true)");
    expected.push_back("SetMediaItemSelected(true)");
    expected.push_back("PreventUIRefresh(-1)");
    expected.push_back("Undo_EndBlock2(null,Vesk: Insert Rendered Samples,5)");
    expected.push_back("UpdateArrange()");
    // PreventUIRefresh(-1) comes before the end of the undo block.
    std::vector<std::string> expectedSorted = expected;
    EXPECT_EQ(seen, expectedSorted);

    // The placement is read before the undo block opens; names go through P_NAME.
    const auto names = p.fake.callNames();
    const auto firstUndo = std::find(names.begin(), names.end(), "Undo_BeginBlock2");
    EXPECT_LT(std::find(names.begin(), names.end(), "GetCursorPosition"), firstUndo);
    EXPECT_EQ(p.fake.callCount("GetSelectedMediaItem"), 2);
    EXPECT_EQ(p.fake.undoSteps, std::vector<std::string>{"Vesk: Insert Rendered Samples"});
}

TEST(ReaperBridge, FirstStemExportBuildsAPoolFolderUnderTheOwnTrack)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    p.fake.cursor = 4.0;
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1, 2, 4, 5, 6, 7, 8})));

    std::vector<std::string> expected = {"Drums", "Synth"};
    expected.insert(expected.end(), kPoolNames.begin(), kPoolNames.end());
    expected.push_back("Bass");
    EXPECT_EQ(p.names(), expected);
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(p.fake.parentOf(1 + k), 1) << "Pool" << k;
    EXPECT_EQ(p.fake.parentOf(10), -1) << "Bass stays outside the folder";
    EXPECT_EQ(p.fake.parentOf(1), -1);

    // Pool 3 wrote no file: its track exists, empty. The others start at the edit cursor and are
    // selected together.
    int selected = 0;
    for (int k = 1; k <= 8; ++k) {
        const auto& items = p.fake.tracks[size_t(1 + k)]->items;
        ASSERT_EQ(items.size(), k == 3 ? 0u : 1u) << "Pool" << k;
        for (const auto& item : items) {
            EXPECT_DOUBLE_EQ(item->position, 4.0);
            EXPECT_DOUBLE_EQ(item->length, 1.0);
            selected += item->selected ? 1 : 0;
        }
    }
    EXPECT_EQ(selected, 7);
    EXPECT_EQ(p.fake.openUndoBlocks, 0);
    EXPECT_EQ(p.fake.refreshFreeze, 0);
}

TEST(ReaperBridge, SecondStemExportReusesThePoolTracksAndFollowsTheLastItem)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    p.fake.cursor = 1.0;
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1, 2}, 1.5)));
    const size_t tracksAfterFirst = p.fake.tracks.size();
    p.fake.cursor = 0.0;
    // An item on the own track that ends later than the stems: placement follows it.
    ASSERT_TRUE(p.bridge.insertMixFile(1, wavFile("mix.wav", 3.0)));
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({2}, 1.0)));

    EXPECT_EQ(p.fake.tracks.size(), tracksAfterFirst);
    // Mix: after the stems' end (1 + 1.5) plus 2 s; second stems: after the mix's end plus 2 s.
    ASSERT_EQ(p.fake.tracks[1]->items.size(), 1u);
    EXPECT_DOUBLE_EQ(p.fake.tracks[1]->items[0]->position, 4.5);
    const auto& pool2 = p.fake.tracks[3]->items;
    ASSERT_EQ(pool2.size(), 2u);
    EXPECT_DOUBLE_EQ(pool2[1]->position, 4.5 + 3.0 + 2.0);
    EXPECT_EQ(p.fake.undoSteps,
              (std::vector<std::string>{"Vesk: Insert Rendered Samples", "Vesk: Insert Mix",
                                        "Vesk: Insert Rendered Samples"}));
}

TEST(ReaperBridge, PoolTracksOutOfOrderAreNotReused)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1})));
    p.fake.tracks[3]->name = "Pool9";
    ASSERT_TRUE(p.bridge.insertRenderedFiles(1, stemFiles({1})));
    ASSERT_EQ(p.fake.tracks.size(), 3u + 16u);
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(p.fake.tracks[size_t(1 + k)]->name, kPoolNames[size_t(k - 1)]);
}

TEST(ReaperBridge, PoolFolderKeepsTheSurroundingFolderStructure)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<std::string, int>> tracks; // name, folder depth
        int own;
        std::vector<std::pair<std::string, int>> parents; // track name -> parent's index
    };
    const std::vector<Case> cases = {
        {"plain track", {{"Synth", 0}, {"Next", 0}}, 0, {{"Pool1", 0}, {"Next", -1}}},
        {"last track of a folder",
         {{"Group", 1}, {"Synth", -1}, {"Next", 0}},
         1,
         {{"Synth", 0}, {"Pool8", 1}, {"Next", -1}}},
        {"already a folder",
         {{"Synth", 1}, {"Child", -1}, {"Next", 0}},
         0,
         {{"Pool1", 0}, {"Pool8", 0}, {"Child", 0}, {"Next", -1}}},
        {"closing two folders",
         {{"Outer", 1}, {"Inner", 1}, {"Synth", -2}, {"Next", 0}},
         2,
         {{"Synth", 1}, {"Pool4", 2}, {"Next", -1}}},
    };
    for (const Case& c : cases) {
        FakeReaper fake;
        clap_host_t host = makeHost(&fake);
        for (const auto& [name, depth] : c.tracks)
            fake.addTrack(name,
                          name == "Synth" ? std::vector<std::string>{FakeReaper::kPluginFxName}
                                          : std::vector<std::string>{},
                          depth);
        VeskReaperBridge bridge;
        ASSERT_TRUE(bridge.initialize(&host));
        ASSERT_TRUE(bridge.insertRenderedFiles(c.own, stemFiles({1})));
        for (const auto& [name, parent] : c.parents) {
            int index = -1;
            for (size_t i = 0; i < fake.tracks.size(); ++i)
                if (fake.tracks[i]->name == name)
                    index = int(i);
            ASSERT_GE(index, 0) << c.what << ": " << name;
            EXPECT_EQ(fake.parentOf(index), parent) << c.what << ": " << name;
        }
    }
}

TEST(ReaperBridge, MixLandsOnTheOwnTrack)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    p.fake.cursor = 2.0;
    EXPECT_FALSE(p.bridge.insertMixFile(1, ""));
    EXPECT_TRUE(p.fake.undoSteps.empty());
    ASSERT_TRUE(p.bridge.insertMixFile(1, wavFile("mix.wav", 0.5)));
    EXPECT_EQ(p.names(), (std::vector<std::string>{"Drums", "Synth", "Bass"}));
    ASSERT_EQ(p.fake.tracks[1]->items.size(), 1u);
    EXPECT_DOUBLE_EQ(p.fake.tracks[1]->items[0]->position, 2.0);
    EXPECT_EQ(p.fake.undoSteps, std::vector<std::string>{"Vesk: Insert Mix"});
}

TEST(ReaperBridge, NothingWrittenMeansNoUndoStepAndNoTracks)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    EXPECT_FALSE(p.bridge.insertRenderedFiles(1, std::vector<std::string>(8)));
    EXPECT_FALSE(p.bridge.insertRenderedFiles(1, {}));
    EXPECT_FALSE(p.bridge.insertRenderedFiles(-1, stemFiles({1})));
    EXPECT_FALSE(p.bridge.insertRenderedFiles(7, stemFiles({1})));
    EXPECT_EQ(p.fake.tracks.size(), 3u);
    EXPECT_TRUE(p.fake.undoSteps.empty());
    EXPECT_EQ(p.fake.callCount("Undo_BeginBlock2"), 0);
}

TEST(ReaperBridge, AFailureInTheMiddleStillClosesTheUndoBlockAndRefreshFreeze)
{
    for (const char* failing :
         {"InsertTrackAtIndex", "InsertMedia", "SetMediaItemSelected", "PreventUIRefresh"}) {
        Project p;
        ASSERT_TRUE(p.bridge.initialize(&p.host));
        p.fake.throwOnCall(failing, 1);
        EXPECT_FALSE(p.bridge.insertRenderedFiles(1, stemFiles({1, 2}))) << failing;
        EXPECT_EQ(p.fake.openUndoBlocks, 0) << failing;
        EXPECT_EQ(p.fake.refreshFreeze, 0) << failing;
        EXPECT_EQ(p.fake.undoSteps, std::vector<std::string>{"Vesk: Insert Rendered Samples"})
            << failing;
    }
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    p.fake.throwOnCall("InsertMedia", 1);
    EXPECT_FALSE(p.bridge.insertMixFile(1, wavFile("mix.wav", 0.5)));
    EXPECT_EQ(p.fake.openUndoBlocks, 0);
    EXPECT_EQ(p.fake.refreshFreeze, 0);
    EXPECT_EQ(p.fake.undoSteps, std::vector<std::string>{"Vesk: Insert Mix"});
}

TEST(ReaperBridge, RenderResultWithoutAnIdentifiableTrackPrintsTheConsoleMessage)
{
    Project p;
    p.fake.addTrack("Synth", {FakeReaper::kPluginFxName}); // a second "Synth" holding Vesk
    vesk::RenderResult r;
    r.stemFiles = stemFiles({1});
    r.insertIntoProject = true;
    EXPECT_FALSE(p.bridge.placeRenderResult(&p.host, "Synth", r));
    EXPECT_EQ(p.fake.console, VeskReaperBridge::kTrackNotFoundMessage);
    EXPECT_TRUE(p.fake.undoSteps.empty());
    EXPECT_EQ(p.fake.tracks.size(), 4u);

    // Renamed so it is unique: the same result is placed.
    p.fake.tracks[3]->name = "Synth B";
    EXPECT_TRUE(p.bridge.placeRenderResult(&p.host, "Synth", r));
    EXPECT_EQ(p.fake.tracks[2]->name, "Pool1");
    ASSERT_EQ(p.fake.tracks[2]->items.size(), 1u);

    // A result not meant for the project is ignored.
    r.insertIntoProject = false;
    EXPECT_FALSE(p.bridge.placeRenderResult(&p.host, "Synth", r));
    EXPECT_EQ(p.fake.undoSteps.size(), 1u);
}

TEST(ReaperBridge, ProjectPathMuteAndTrackValidity)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    EXPECT_EQ(p.bridge.projectPath(), "/projects/song");
    p.fake.projectPath = "C:\\songs\\a\\\\";
    EXPECT_EQ(p.bridge.projectPath(), "C:\\songs\\a");
    auto* own = p.bridge.findOwnTrack("Synth");
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(p.bridge.trackStillValid(own));
    EXPECT_FALSE(p.bridge.trackMuted(own));
    p.fake.tracks[1]->muted = true;
    EXPECT_TRUE(p.bridge.trackMuted(own));
    p.fake.tracks.erase(p.fake.tracks.begin() + 1);
    EXPECT_FALSE(p.bridge.trackStillValid(own));
}

TEST(ReaperBridge, ProjectPrintsAsJson)
{
    Project p;
    ASSERT_TRUE(p.bridge.initialize(&p.host));
    ASSERT_TRUE(p.bridge.insertMixFile(1, wavFile("mix.wav", 0.5)));
    const std::string json = p.fake.json();
    EXPECT_NE(json.find("\"name\": \"Synth\""), std::string::npos);
    EXPECT_NE(json.find("\"undo\": [\"Vesk: Insert Mix\"]"), std::string::npos);
    EXPECT_NE(json.find("\"length\": 0.5"), std::string::npos);
}
