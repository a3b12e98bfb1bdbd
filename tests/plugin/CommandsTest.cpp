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

EnvelopeData ramp(uint32_t count)
{
    EnvelopeData env;
    for (uint32_t i = 0; i < kMaxEnvelopePoints; ++i)
        env.points[i] = {float(i) / 64.0f, float(i)};
    env.count = count;
    env.enabled = true;
    return env;
}

struct CommandCase
{
    const char* name;
    Wire message;
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
        {"pitch", wire(msg::SetPitch{1, 3, 0.5f, true}), 1, pitchOf(1)},
        {"pitch short", wire(msg::SetPitch{1, 3, 0.5f, true}).cut(12), 0, pristine},
        {"pitch bad pool", wire(msg::SetPitch{8, 3, 0.5f, true}), 0, pristine},
        {"pitch negative pool", wire(msg::SetPitch{uint32_t(-1), 3, 0.5f, true}), 0, pristine},
        {"pitch NaN", wire(msg::SetPitch{1, kNaN, 0.5f, true}), 0, pristine},
        {"volume", wire(msg::SetVolume{7, -6, 0.2f, false}), 1,
         [](const VeskState& s) {
             return s.pools[7].volume.base == -6.0f && s.pools[7].volume.range == 0.2f &&
                    !s.pools[7].volume.enabled;
         }},
        {"start", wire(msg::SetStart{2, 10, 1, true}), 1,
         [](const VeskState& s) { return s.pools[2].start.base == 10.0f; }},
        {"reverse 150", wire(msg::SetReverseChance{0, 150}), 1,
         [](const VeskState& s) { return s.pools[0].reverseChance == 100.0f; }},
        {"reverse -3", wire(msg::SetReverseChance{0, -3}), 1,
         [](const VeskState& s) { return s.pools[0].reverseChance == 0.0f; }},
        {"reverse NaN", wire(msg::SetReverseChance{0, kNaN}), 1,
         [](const VeskState& s) { return s.pools[0].reverseChance == 100.0f; }},
        {"reverse short", wire(msg::SetReverseChance{0, 50}).cut(4), 0, pristine},
        {"rename 40", wire(msg::RenamePool{3, name40}), 1,
         [](const VeskState& s) { return std::string(s.pools[3].name) == std::string(31, 'n'); }},
        {"rename bad pool", wire(msg::RenamePool{9, "x"}), 0, pristine},
        {"retrigger poly", wire(msg::SetRetriggerMode{false}), 1,
         [](const VeskState& s) { return !s.retriggerMode; }},
        {"retrigger empty", wire(msg::SetRetriggerMode{false}).cut(0), 0, pristine},
        {"auto split", wire(msg::SetAutoSplit{true}), 1,
         [](const VeskState& s) { return s.autoSplit; }},
        {"visible", wire(msg::SetPoolVisible{5, true}), 1,
         [](const VeskState& s) { return s.visiblePools == (15 | 32); }},
        {"hide", wire(msg::SetPoolVisible{0, false}), 1,
         [](const VeskState& s) { return s.visiblePools == 14; }},
        {"solo", wire(msg::SetPoolSolo{2, true}), 1,
         [](const VeskState& s) { return s.soloMask == 4; }},
        {"mute", wire(msg::SetPoolMute{6, true}), 1,
         [](const VeskState& s) { return s.muteMask == 64; }},
        {"mute short", wire(msg::SetPoolMute{6, true}).cut(4), 0, pristine},
        {"freeze untriggered", wire(msg::SetPoolFreeze{1, true}), 1,
         [](const VeskState& s) { return s.freezeMask == 0 && !s.pools[1].frozen; }},
        {"volume env", wire(msg::SetVolumeEnv{4, ramp(3)}), 1,
         [](const VeskState& s) {
             return s.pools[4].volumeEnv.count == 3 && s.pools[4].volumeEnv.enabled &&
                    s.pools[4].volumeEnv.points[2].y == 2.0f;
         }},
        {"env count beyond the points", wire(msg::SetPitchEnv{4, ramp(1000)}), 1,
         [](const VeskState& s) { return s.pools[4].pitchEnv.count == 64; }},
        {"env short", wire(msg::SetLpfEnv{4, ramp(3)}).cut(523), 0, pristine},
        {"route master", wire(msg::SetPoolRoute{1, PoolRoute::Master}), 1,
         [](const VeskState& s) { return s.pools[1].outputRoute == 2; }},
        {"route 3", wire(msg::SetPoolRoute{1, PoolRoute(3)}), 0, pristine},
        {"hpf high", wire(msg::SetHpf{0, 25000}), 1,
         [](const VeskState& s) { return s.pools[0].hpfHz == 20000.0f; }},
        {"hpf NaN", wire(msg::SetHpf{0, kNaN}), 1,
         [](const VeskState& s) { return s.pools[0].hpfHz == 20000.0f; }},
        {"lpf negative", wire(msg::SetLpf{0, -5}), 1,
         [](const VeskState& s) { return s.pools[0].lpfHz == 0.0f; }},
        {"fade in", wire(msg::SetFadeIn{0, 0.7f}), 1,
         [](const VeskState& s) { return s.pools[0].fadeIn == 0.5f; }},
        {"fade out NaN", wire(msg::SetFadeOut{0, kNaN}), 1,
         [](const VeskState& s) { return s.pools[0].fadeOut == 0.0f; }},
        {"pitch track", wire(msg::SetPitchTrack{5, true}), 1,
         [](const VeskState& s) { return s.pools[5].pitchTrack; }},
        {"grain cloud, flag byte 7",
         {CmdSetGrainCloud, Bytes().u32(5).u8(7)},
         1,
         [](const VeskState& s) { return s.pools[5].grainCloud; }},
        {"clear empty pool", wire(msg::ClearPool{0}), 1, pristine},
        {"clear bad pool", wire(msg::ClearPool{8}), 0, pristine},
        {"remove pool", wire(msg::RemovePool{1}), 1,
         [](const VeskState& s) { return s.visiblePools == 13; }},
        {"remove sample out of range", wire(msg::RemoveSample{0, 5}), 1, pristine},
        {"select out of range", wire(msg::SelectSample{0, 5}), 1, pristine},
        {"region out of range", wire(msg::SetSampleRegion{0, 0, 0, 0}), 0, pristine},
        {"load into pool 8", wire(msg::LoadToPool{8, "/nowhere.wav"}), 0, pristine},
        {"unknown id 6", {6, Bytes().u32(0)}, 0, pristine},
        {"unknown id 60", {60, Bytes().u32(0)}, 0, pristine},
        {"unknown id 200", {200, Bytes().u32(0)}, 0, pristine},
    };
    for (const CommandCase& c : cases) {
        Instance inst;
        ASSERT_TRUE(inst.send(c.message)) << c.name;
        inst.pump();
        EXPECT_EQ(inst.fake.dirty, c.dirty) << c.name;
        EXPECT_TRUE(c.check(inst.snapshot())) << c.name;
    }
}

TEST(Commands, RemovingASoloedPoolClearsItsSolo)
{
    Instance inst;
    inst.send(msg::SetPoolSolo{2, true});
    inst.send(msg::SetPoolMute{2, true});
    inst.send(msg::SetPitch{2, 5, 0, false});
    inst.send(msg::RemovePool{2});
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
        ASSERT_TRUE(inst.send(msg::SetAutoSplit{true}));
    EXPECT_FALSE(inst.send(msg::SetAutoSplit{true})) << "the 257th";
    EXPECT_EQ(inst.plugin->queues.droppedCommands.load(), 1);
    inst.pump();
    EXPECT_TRUE(inst.send(msg::SetAutoSplit{true})) << "room again after a drain";
    inst.pump();
    EXPECT_EQ(inst.snapshot().droppedCommands, 1);

    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(inst.send(msg::StopAll{}));
    EXPECT_FALSE(inst.send(msg::StopAll{})) << "the 65th trigger";
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
    const Wire first = wire(msg::RenamePool{0, "first"});
    ASSERT_TRUE(inst.plugin->queues.writeTrigger(first.id, first.payload.data.data(),
                                                 uint32_t(first.payload.data.size())));
    ASSERT_TRUE(inst.send(msg::RenamePool{0, "second"}));
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
