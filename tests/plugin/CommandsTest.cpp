// The message rings and every sampler, pool and global command, checked against the published
// snapshot and the host's mark_dirty count.
#include "support/PluginFixture.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace vesk;
using namespace vesk::test;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

Bytes envelopeImage(uint32_t pool, uint32_t count)
{
    EnvelopeData env;
    for (uint32_t i = 0; i < kMaxEnvelopePoints; ++i)
        env.points[i] = {float(i) / 64.0f, float(i)};
    env.count = count;
    env.enabled = true;
    return Bytes().u32(pool).raw(&env, sizeof env);
}

struct CommandCase
{
    const char* name;
    uint8_t id;
    Bytes payload;
    int dirty; // expected mark_dirty calls
    std::function<bool(const VeskState&)> check;
};

TEST(Commands, EachCommandChangesTheSnapshotAndMarksTheState)
{
    const auto pitchOf = [](int p) {
        return [p](const VeskState& s) {
            return s.pools[p].pitch.base == 3.0f && s.pools[p].pitch.range == 0.5f &&
                   s.pools[p].pitch.enabled;
        };
    };
    const auto pristine = [](const VeskState& s) {
        for (const PoolState& p : s.pools)
            if (p.pitch.base != 0.0f || p.reverseChance != 0.0f || p.name[0] != 0 ||
                p.outputRoute != 0 || p.hpfHz != 0.0f || p.lpfHz != 20000.0f || p.fadeIn != 0.0f ||
                p.volumeEnv.count != 0 || p.pitchTrack || p.grainCloud)
                return false;
        return s.retriggerMode && !s.autoSplit && s.visiblePools == 15 && s.soloMask == 0 &&
               s.muteMask == 0;
    };
    const std::string name40(40, 'n');
    const CommandCase cases[] = {
        {"pitch", CmdSetPitch, Bytes().u32(1).f32(3).f32(0.5f).u8(1), 1, pitchOf(1)},
        {"pitch short", CmdSetPitch, Bytes().u32(1).f32(3).f32(0.5f), 0, pristine},
        {"pitch bad pool", CmdSetPitch, Bytes().u32(8).f32(3).f32(0.5f).u8(1), 0, pristine},
        {"pitch negative pool", CmdSetPitch, Bytes().i32(-1).f32(3).f32(0.5f).u8(1), 0, pristine},
        {"pitch NaN", CmdSetPitch, Bytes().u32(1).f32(kNaN).f32(0.5f).u8(1), 0, pristine},
        {"volume", CmdSetVolume, Bytes().u32(7).f32(-6).f32(0.2f).u8(0), 1,
         [](const VeskState& s) {
             return s.pools[7].volume.base == -6.0f && s.pools[7].volume.range == 0.2f &&
                    !s.pools[7].volume.enabled;
         }},
        {"start", CmdSetStart, Bytes().u32(2).f32(10).f32(1).u8(1), 1,
         [](const VeskState& s) { return s.pools[2].start.base == 10.0f; }},
        {"reverse 150", CmdSetReverseChance, Bytes().u32(0).f32(150), 1,
         [](const VeskState& s) { return s.pools[0].reverseChance == 100.0f; }},
        {"reverse -3", CmdSetReverseChance, Bytes().u32(0).f32(-3), 1,
         [](const VeskState& s) { return s.pools[0].reverseChance == 0.0f; }},
        {"reverse NaN", CmdSetReverseChance, Bytes().u32(0).f32(kNaN), 1,
         [](const VeskState& s) { return s.pools[0].reverseChance == 100.0f; }},
        {"reverse short", CmdSetReverseChance, Bytes().u32(0), 0, pristine},
        {"rename 40", CmdRenamePool, Bytes().u32(3).str(name40), 1,
         [](const VeskState& s) { return std::string(s.pools[3].name) == std::string(31, 'n'); }},
        {"rename bad pool", CmdRenamePool, Bytes().u32(9).str("x"), 0, pristine},
        {"retrigger poly", CmdSetRetriggerMode, Bytes().u8(0), 1,
         [](const VeskState& s) { return !s.retriggerMode; }},
        {"retrigger empty", CmdSetRetriggerMode, Bytes(), 0, pristine},
        {"auto split", CmdSetAutoSplit, Bytes().u8(1), 1,
         [](const VeskState& s) { return s.autoSplit; }},
        {"visible", CmdSetPoolVisible, Bytes().u32(5).u8(1), 1,
         [](const VeskState& s) { return s.visiblePools == (15 | 32); }},
        {"hide", CmdSetPoolVisible, Bytes().u32(0).u8(0), 1,
         [](const VeskState& s) { return s.visiblePools == 14; }},
        {"solo", CmdSetPoolSolo, Bytes().u32(2).u8(1), 1,
         [](const VeskState& s) { return s.soloMask == 4; }},
        {"mute", CmdSetPoolMute, Bytes().u32(6).u8(1), 1,
         [](const VeskState& s) { return s.muteMask == 64; }},
        {"mute short", CmdSetPoolMute, Bytes().u32(6), 0, pristine},
        {"freeze untriggered", CmdSetPoolFreeze, Bytes().u32(1).u8(1), 1,
         [](const VeskState& s) { return s.freezeMask == 0 && !s.pools[1].frozen; }},
        {"volume env", CmdSetVolumeEnv, envelopeImage(4, 3), 1,
         [](const VeskState& s) {
             return s.pools[4].volumeEnv.count == 3 && s.pools[4].volumeEnv.enabled &&
                    s.pools[4].volumeEnv.points[2].y == 2.0f;
         }},
        {"env count beyond the points", CmdSetPitchEnv, envelopeImage(4, 1000), 1,
         [](const VeskState& s) { return s.pools[4].pitchEnv.count == 64; }},
        {"env short", CmdSetLpfEnv, envelopeImage(4, 3).cut(523), 0, pristine},
        {"route master", CmdSetPoolRoute, Bytes().u32(1).u8(2), 1,
         [](const VeskState& s) { return s.pools[1].outputRoute == 2; }},
        {"route 3", CmdSetPoolRoute, Bytes().u32(1).u8(3), 0, pristine},
        {"hpf high", CmdSetHpf, Bytes().u32(0).f32(25000), 1,
         [](const VeskState& s) { return s.pools[0].hpfHz == 20000.0f; }},
        {"hpf NaN", CmdSetHpf, Bytes().u32(0).f32(kNaN), 1,
         [](const VeskState& s) { return s.pools[0].hpfHz == 20000.0f; }},
        {"lpf negative", CmdSetLpf, Bytes().u32(0).f32(-5), 1,
         [](const VeskState& s) { return s.pools[0].lpfHz == 0.0f; }},
        {"fade in", CmdSetFadeIn, Bytes().u32(0).f32(0.7f), 1,
         [](const VeskState& s) { return s.pools[0].fadeIn == 0.5f; }},
        {"fade out NaN", CmdSetFadeOut, Bytes().u32(0).f32(kNaN), 1,
         [](const VeskState& s) { return s.pools[0].fadeOut == 0.0f; }},
        {"pitch track", CmdSetPitchTrack, Bytes().u32(5).u8(1), 1,
         [](const VeskState& s) { return s.pools[5].pitchTrack; }},
        {"grain cloud", CmdSetGrainCloud, Bytes().u32(5).u8(7), 1,
         [](const VeskState& s) { return s.pools[5].grainCloud; }},
        {"clear empty pool", CmdClearPool, Bytes().u32(0), 1, pristine},
        {"clear bad pool", CmdClearPool, Bytes().u32(8), 0, pristine},
        {"remove pool", CmdRemovePool, Bytes().u32(1), 1,
         [](const VeskState& s) { return s.visiblePools == 13; }},
        {"remove sample out of range", CmdRemoveSample, Bytes().u32(0).u32(5), 1, pristine},
        {"select out of range", CmdSelectSample, Bytes().u32(0).u32(5), 1, pristine},
        {"region out of range", CmdSetSampleRegion, Bytes().u32(0).u32(0).i64(0).u64(0), 0,
         pristine},
        {"load into pool 8", CmdLoadToPool, Bytes().u32(8).str("/nowhere.wav"), 0, pristine},
        {"unknown id 6", 6, Bytes().u32(0), 0, pristine},
        {"unknown id 60", 60, Bytes().u32(0), 0, pristine},
        {"unknown id 200", 200, Bytes().u32(0), 0, pristine},
    };
    for (const CommandCase& c : cases) {
        Instance inst;
        ASSERT_TRUE(inst.send(c.id, c.payload)) << c.name;
        inst.pump();
        EXPECT_EQ(inst.fake.dirty, c.dirty) << c.name;
        EXPECT_TRUE(c.check(inst.snapshot())) << c.name;
    }
}

TEST(Commands, RemovingASoloedPoolClearsItsSolo)
{
    Instance inst;
    inst.send(CmdSetPoolSolo, Bytes().u32(2).u8(1));
    inst.send(CmdSetPoolMute, Bytes().u32(2).u8(1));
    inst.send(CmdSetPitch, Bytes().u32(2).f32(5).f32(0).u8(0));
    inst.send(CmdRemovePool, Bytes().u32(2));
    inst.pump();
    const VeskState& s = inst.snapshot();
    EXPECT_EQ(s.soloMask, 0);
    EXPECT_EQ(s.muteMask, 0);
    EXPECT_EQ(s.pools[2].pitch.base, 0.0f);
    EXPECT_EQ(inst.plugin->sampler.soloMask, 0);
}

TEST(Rings, FullRingsDropAndCount)
{
    Instance inst;
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(inst.send(CmdSetAutoSplit, Bytes().u8(1)));
    EXPECT_FALSE(inst.send(CmdSetAutoSplit, Bytes().u8(1))) << "the 257th";
    EXPECT_EQ(inst.plugin->queues.droppedCommands.load(), 1);
    inst.pump();
    EXPECT_TRUE(inst.send(CmdSetAutoSplit, Bytes().u8(1))) << "room again after a drain";
    inst.pump();
    EXPECT_EQ(inst.snapshot().droppedCommands, 1);

    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(inst.send(CmdStopAll));
    EXPECT_FALSE(inst.send(CmdStopAll)) << "the 65th trigger";
    EXPECT_EQ(inst.plugin->queues.droppedCommands.load(), 2);
}

TEST(Rings, LoadPathLimit)
{
    Instance inst;
    EXPECT_TRUE(inst.plugin->backend.SendLoadToPool(0, std::string(4092, 'a')));
    EXPECT_FALSE(inst.plugin->backend.SendLoadToPool(0, std::string(4093, 'a')));
    EXPECT_EQ(inst.plugin->queues.droppedCommands.load(), 1);
}

TEST(Rings, ForwardedCommandsRunBeforeTheCommandRing)
{
    Instance inst;
    // A non-trigger id on the trigger ring reaches the main thread through the audio thread.
    const Bytes first = Bytes().u32(0).str("first");
    ASSERT_TRUE(inst.plugin->queues.writeTrigger(CmdRenamePool, first.data.data(),
                                                 uint32_t(first.data.size())));
    ASSERT_TRUE(inst.send(CmdRenamePool, Bytes().u32(0).str("second")));
    std::vector<float> l, r;
    inst.render(64, 64, l, r);
    inst.pump();
    EXPECT_STREQ(inst.snapshot().pools[0].name, "second");
    EXPECT_GE(inst.fake.callbacks, 1);
}

TEST(Rings, TwoPublicationsAlternateTheBuffers)
{
    Instance inst;
    const int32_t before = inst.plugin->publishedSnapshot.load();
    inst.pump();
    inst.pump();
    EXPECT_EQ(inst.plugin->publishedSnapshot.load(), before);
}

} // namespace
