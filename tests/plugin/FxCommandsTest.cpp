// The FX-bus and master-chain messages, checked against the snapshot and the dirty count, and
// the bus routing heard on rendered sound.
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavWriter.h"
#include "fx/FXModule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

using namespace vesk;
using namespace vesk::test;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct FxCase
{
    const char* name;
    uint8_t id;
    Bytes payload;
    int dirty;
    std::function<bool(const VeskState&)> check;
};

// Lane 0 starts with EQ, Saturate and Bitcrusher in slots 0..2.
void threeSlots(Instance& inst)
{
    for (uint8_t type : {1, 4, 5})
        inst.send(CmdAddFxSlot, Bytes().u8(0).u8(type));
    inst.pump();
    inst.fake.dirty = 0;
}

TEST(FxCommands, EachMessage)
{
    const auto unchanged = [](const VeskState& s) {
        return s.lanes[0].slotCount == 3 && s.lanes[0].slots[0].type == 1 &&
               s.lanes[0].slots[1].type == 4 && !s.lanes[0].bypassed && s.lanes[1].slotCount == 0;
    };
    const FxCase cases[] = {
        {"lane bypass", CmdSetLaneBypass, Bytes().u8(1).u8(1), 1,
         [](const VeskState& s) { return s.lanes[1].bypassed == 1; }},
        {"lane bypass bad lane", CmdSetLaneBypass, Bytes().u8(2).u8(1), 0, unchanged},
        {"lane bypass short", CmdSetLaneBypass, Bytes().u8(0), 0, unchanged},
        {"lane mute", CmdSetLaneMute, Bytes().u8(0).u8(1), 1,
         [](const VeskState& s) { return s.lanes[0].muted == 1; }},
        {"lane solo", CmdSetLaneSolo, Bytes().u8(1).u8(1), 1,
         [](const VeskState& s) { return s.lanes[1].soloed == 1; }},
        {"bus 1 to master", CmdSetBus1ToMaster, Bytes().u8(1), 1,
         [](const VeskState& s) { return s.bus1ToMaster; }},
        {"add", CmdAddFxSlot, Bytes().u8(1).u8(18), 1,
         [](const VeskState& s) {
             return s.lanes[1].slotCount == 1 && s.lanes[1].slots[0].type == 18;
         }},
        {"add type 31", CmdAddFxSlot, Bytes().u8(1).u8(31), 1,
         [](const VeskState& s) { return s.lanes[1].slotCount == 1; }},
        {"add bad lane", CmdAddFxSlot, Bytes().u8(5).u8(1), 0, unchanged},
        {"remove", CmdRemoveFxSlot, Bytes().u8(0).u8(0), 1,
         [](const VeskState& s) {
             return s.lanes[0].slotCount == 2 && s.lanes[0].slots[0].type == 4;
         }},
        {"remove beyond", CmdRemoveFxSlot, Bytes().u8(0).u8(7), 1, unchanged},
        {"slot bypass", CmdSetFxSlotBypass, Bytes().u8(0).u8(2).u8(1), 1,
         [](const VeskState& s) { return s.lanes[0].slots[2].bypassed == 1; }},
        {"param", CmdSetFxParam, Bytes().u8(0).u8(1).u8(0).f32(12.5f), 1,
         [](const VeskState& s) { return s.lanes[0].slots[1].params[0] == 12.5f; }},
        {"param slot 5 of 3", CmdSetFxParam, Bytes().u8(0).u8(5).u8(0).f32(1), 1, unchanged},
        {"param knob 16", CmdSetFxParam, Bytes().u8(0).u8(1).u8(16).f32(1), 0, unchanged},
        {"param NaN", CmdSetFxParam, Bytes().u8(0).u8(1).u8(0).f32(kNaN), 1,
         [](const VeskState& s) { return !std::isnan(s.lanes[0].slots[1].params[0]); }},
        {"param short", CmdSetFxParam, Bytes().u8(0).u8(1).u8(0).u8(0), 0, unchanged},
        {"move", CmdMoveFxSlot, Bytes().u8(0).u8(0).u8(0).u8(3), 1,
         [](const VeskState& s) {
             return s.lanes[0].slots[0].type == 4 && s.lanes[0].slots[2].type == 1;
         }},
        {"move across", CmdMoveFxSlot, Bytes().u8(0).u8(1).u8(1).u8(0), 1,
         [](const VeskState& s) {
             return s.lanes[0].slotCount == 2 && s.lanes[1].slotCount == 1 &&
                    s.lanes[1].slots[0].type == 4;
         }},
        {"move bad lane", CmdMoveFxSlot, Bytes().u8(0).u8(1).u8(2).u8(0), 0, unchanged},
        {"bind none", CmdBindFxModulation, Bytes().u8(0).u8(0).u8(0).u8(0).f32(0.7f), 1,
         [](const VeskState& s) { return s.lanes[0].slots[0].modDepth[0] == 0.0f; }},
        {"bind bend", CmdBindFxModulation, Bytes().u8(0).u8(0).u8(0).u8(3).f32(-2), 1,
         [](const VeskState& s) {
             return s.lanes[0].slots[0].modSource[0] == 3 &&
                    s.lanes[0].slots[0].modDepth[0] == -1.0f;
         }},
        {"bind source 5", CmdBindFxModulation, Bytes().u8(0).u8(0).u8(0).u8(5).f32(1), 0,
         unchanged},
        {"master gain", CmdSetMasterOutputGain, Bytes().f32(-6), 1,
         [](const VeskState& s) { return s.master.outputGainDb == -6.0f; }},
        {"master gain short", CmdSetMasterOutputGain, Bytes().u8(0), 0, unchanged},
        {"master bypass off", CmdSetMasterBypass, Bytes().u8(0), 1,
         [](const VeskState& s) { return s.master.bypassed == 0; }},
        {"master eq", CmdSetMasterEQ, Bytes().f32(3).f32(-2).f32(1), 1,
         [](const VeskState& s) {
             return s.master.eqLow == 3.0f && s.master.eqMid == -2.0f && s.master.eqHigh == 1.0f;
         }},
        {"master eq short", CmdSetMasterEQ, Bytes().f32(3).f32(-2), 0, unchanged},
        {"master reverb", CmdSetMasterReverb,
         Bytes().f32(0.5f).f32(0.3f).f32(2).f32(0.4f).f32(0.1f).f32(1.5f), 1,
         [](const VeskState& s) {
             return s.master.reverbDecay == 2.0f && s.master.reverbMix == 0.4f;
         }},
        {"master limiter", CmdSetMasterLimiter, Bytes().f32(-6).f32(-1).f32(50), 1,
         [](const VeskState& s) { return s.master.limiterThreshold == -6.0f; }},
        {"master limiter bypass", CmdSetMasterLimiterBypass, Bytes().u8(1), 1,
         [](const VeskState& s) { return s.master.limiterBypass == 1; }},
    };
    for (const FxCase& c : cases) {
        Instance inst;
        threeSlots(inst);
        ASSERT_TRUE(inst.send(c.id, c.payload)) << c.name;
        inst.pump();
        EXPECT_EQ(inst.fake.dirty, c.dirty) << c.name;
        EXPECT_TRUE(c.check(inst.snapshot())) << c.name;
    }
}

// One chain entry of n knobs: 3 + 9n bytes.
Bytes& entry(Bytes& b, uint8_t type, uint8_t bypass, std::initializer_list<float> values)
{
    b.u8(type).u8(bypass).u8(uint8_t(values.size()));
    for (float v : values)
        b.f32(v);
    for (size_t i = 0; i < values.size(); ++i)
        b.u8(0);
    for (size_t i = 0; i < values.size(); ++i)
        b.f32(0);
    return b;
}

TEST(FxCommands, AppendChainStopsAtACutEntry)
{
    Instance inst;
    Bytes chain;
    chain.u8(1).u8(2);
    entry(chain, 4, 1, {6.0f, 50.0f});
    const size_t full = chain.data.size();
    entry(chain, 1, 0, {1.0f, 2.0f, 3.0f});
    inst.send(CmdAppendFxChain, chain.cut(full + 5));
    inst.pump();
    const VeskState& s = inst.snapshot();
    ASSERT_EQ(s.lanes[1].slotCount, 1);
    EXPECT_EQ(s.lanes[1].slots[0].type, 4);
    EXPECT_EQ(s.lanes[1].slots[0].bypassed, 1);
    EXPECT_EQ(s.lanes[1].slots[0].params[0], 6.0f);
    EXPECT_EQ(inst.fake.dirty, 0) << "a cut chain does not mark the state";

    inst.send(CmdAppendFxChain, chain);
    inst.pump();
    EXPECT_EQ(inst.snapshot().lanes[1].slotCount, 3);
    EXPECT_EQ(inst.fake.dirty, 1);
}

TEST(FxCommands, PresetMessageRoundTrip)
{
    Instance a;
    threeSlots(a);
    a.send(CmdSetFxParam, Bytes().u8(0).u8(1).u8(1).f32(33.0f));
    a.send(CmdBindFxModulation, Bytes().u8(0).u8(1).u8(1).u8(2).f32(0.5f));
    a.pump();
    Instance b;
    ASSERT_TRUE(sendAppendLaneChainPreset(b.plugin->backend, a.snapshot().lanes));
    b.pump();
    const FXLaneState& got = b.snapshot().lanes[0];
    ASSERT_EQ(got.slotCount, 3);
    EXPECT_EQ(got.slots[1].params[1], 33.0f);
    EXPECT_EQ(got.slots[1].modSource[1], 2);
    EXPECT_EQ(got.slots[1].modDepth[1], 0.5f);
    EXPECT_FALSE(sendAppendLanePreset(b.plugin->backend, 2, got));
}

// Routing: pools on bus 1, bus 2 and the master with different sines, checked by spectrum.
std::string toneFile(const std::string& name, double freq)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    const std::string path = std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR) + "/" + name;
    const std::vector<float> s = sine(freq, 48000.0, 48000, 0.3);
    EXPECT_TRUE(writeWav(path, s, s, 48000.0));
    return path;
}

TEST(Routing, SoloMuteAndBus1RouteAsHeard)
{
    const std::string f1 = toneFile("route_bus1.wav", 500.0);
    const std::string f2 = toneFile("route_bus2.wav", 1100.0);
    const std::string fm = toneFile("route_master.wav", 2300.0);
    struct Case
    {
        bool solo1, mute1, solo2, mute2, bus1ToMaster;
        bool hear1, hear2, hearMaster;
    };
    const Case cases[] = {
        {false, false, false, false, false, true, true, true},
        {false, false, false, false, true, true, true, true},
        {false, false, true, false, false, true, true, false}, // bus 2 soloed, "-> 2"
        {false, false, true, false, true, false, true, false}, // bus 2 soloed, "-> M"
        {true, false, false, false, true, true, false, false},
        {true, false, false, false, false, true, false, false},
        {false, true, false, false, true, false, true, true},
        {false, false, false, true, false, false, false, true},
        {false, false, false, true, true, true, false, true},
    };
    for (const Case& c : cases) {
        Instance inst;
        inst.plugin->backend.SendLoadToPool(0, f1);
        inst.plugin->backend.SendLoadToPool(1, f2);
        inst.plugin->backend.SendLoadToPool(2, fm);
        inst.send(CmdSetPoolRoute, Bytes().u32(1).u8(1));
        inst.send(CmdSetPoolRoute, Bytes().u32(2).u8(2));
        inst.send(CmdSetLaneSolo, Bytes().u8(0).u8(c.solo1));
        inst.send(CmdSetLaneMute, Bytes().u8(0).u8(c.mute1));
        inst.send(CmdSetLaneSolo, Bytes().u8(1).u8(c.solo2));
        inst.send(CmdSetLaneMute, Bytes().u8(1).u8(c.mute2));
        inst.send(CmdSetBus1ToMaster, Bytes().u8(c.bus1ToMaster));
        inst.pump();
        inst.finishJobs();
        inst.send(CmdTrigger, Bytes().u64(1));
        std::vector<float> l, r;
        inst.render(24000, 512, l, r);
        const float* x = l.data() + 4800;
        const size_t n = 16384;
        const auto heard = [&](double f) { return amplitudeAt(x, n, f, 48000.0) > 0.05; };
        const std::string label = std::to_string(c.solo1) + std::to_string(c.mute1) +
                                  std::to_string(c.solo2) + std::to_string(c.mute2) +
                                  std::to_string(c.bus1ToMaster);
        EXPECT_EQ(heard(500.0), c.hear1) << label;
        EXPECT_EQ(heard(1100.0), c.hear2) << label;
        EXPECT_EQ(heard(2300.0), c.hearMaster) << label;
    }
}

} // namespace
