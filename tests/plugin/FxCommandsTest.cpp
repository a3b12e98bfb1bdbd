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
    Wire message;
    int dirty;
    std::function<bool(const VeskState&)> check;
};

// Lane 0 starts with EQ, Saturate and Bitcrusher in slots 0..2.
void threeSlots(Instance& inst)
{
    for (uint8_t type : {1, 4, 5})
        inst.send(msg::AddFxSlot{0, type});
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
        {"lane bypass", wire(msg::SetLaneBypass{1, true}), 1,
         [](const VeskState& s) { return s.lanes[1].bypassed == 1; }},
        {"lane bypass bad lane", wire(msg::SetLaneBypass{2, true}), 0, unchanged},
        {"lane bypass short", wire(msg::SetLaneBypass{0, true}).cut(1), 0, unchanged},
        {"lane mute", wire(msg::SetLaneMute{0, true}), 1,
         [](const VeskState& s) { return s.lanes[0].muted == 1; }},
        {"lane solo", wire(msg::SetLaneSolo{1, true}), 1,
         [](const VeskState& s) { return s.lanes[1].soloed == 1; }},
        {"bus 1 to master", wire(msg::SetBus1ToMaster{true}), 1,
         [](const VeskState& s) { return s.bus1ToMaster; }},
        {"add", wire(msg::AddFxSlot{1, 18}), 1,
         [](const VeskState& s) {
             return s.lanes[1].slotCount == 1 && s.lanes[1].slots[0].type == 18;
         }},
        {"add type 31", wire(msg::AddFxSlot{1, 31}), 1,
         [](const VeskState& s) { return s.lanes[1].slotCount == 1; }},
        {"add bad lane", wire(msg::AddFxSlot{5, 1}), 0, unchanged},
        {"remove", wire(msg::RemoveFxSlot{0, 0}), 1,
         [](const VeskState& s) {
             return s.lanes[0].slotCount == 2 && s.lanes[0].slots[0].type == 4;
         }},
        {"remove beyond", wire(msg::RemoveFxSlot{0, 7}), 1, unchanged},
        {"slot bypass", wire(msg::SetFxSlotBypass{0, 2, true}), 1,
         [](const VeskState& s) { return s.lanes[0].slots[2].bypassed == 1; }},
        {"param", wire(msg::SetFxParam{0, 1, 0, 12.5f}), 1,
         [](const VeskState& s) { return s.lanes[0].slots[1].params[0] == 12.5f; }},
        {"param slot 5 of 3", wire(msg::SetFxParam{0, 5, 0, 1}), 1, unchanged},
        {"param knob 16", wire(msg::SetFxParam{0, 1, 16, 1}), 0, unchanged},
        {"param NaN", wire(msg::SetFxParam{0, 1, 0, kNaN}), 1,
         [](const VeskState& s) { return !std::isnan(s.lanes[0].slots[1].params[0]); }},
        {"param short", wire(msg::SetFxParam{0, 1, 0, 0}).cut(4), 0, unchanged},
        {"move", wire(msg::MoveFxSlot{0, 0, 0, 3}), 1,
         [](const VeskState& s) {
             return s.lanes[0].slots[0].type == 4 && s.lanes[0].slots[2].type == 1;
         }},
        {"move across", wire(msg::MoveFxSlot{0, 1, 1, 0}), 1,
         [](const VeskState& s) {
             return s.lanes[0].slotCount == 2 && s.lanes[1].slotCount == 1 &&
                    s.lanes[1].slots[0].type == 4;
         }},
        {"move bad lane", wire(msg::MoveFxSlot{0, 1, 2, 0}), 0, unchanged},
        {"bind none", wire(msg::BindFxModulation{0, 0, 0, 0, 0.7f}), 1,
         [](const VeskState& s) { return s.lanes[0].slots[0].modDepth[0] == 0.0f; }},
        {"bind bend", wire(msg::BindFxModulation{0, 0, 0, 3, -2}), 1,
         [](const VeskState& s) {
             return s.lanes[0].slots[0].modSource[0] == 3 &&
                    s.lanes[0].slots[0].modDepth[0] == -1.0f;
         }},
        {"bind source 5", wire(msg::BindFxModulation{0, 0, 0, 5, 1}), 0, unchanged},
        {"master gain", wire(msg::SetMasterOutputGain{-6}), 1,
         [](const VeskState& s) { return s.master.outputGainDb == -6.0f; }},
        {"master gain short", wire(msg::SetMasterOutputGain{0}).cut(1), 0, unchanged},
        {"master bypass off", wire(msg::SetMasterBypass{false}), 1,
         [](const VeskState& s) { return s.master.bypassed == 0; }},
        {"master eq", wire(msg::SetMasterEQ{3, -2, 1}), 1,
         [](const VeskState& s) {
             return s.master.eqLow == 3.0f && s.master.eqMid == -2.0f && s.master.eqHigh == 1.0f;
         }},
        {"master eq short", wire(msg::SetMasterEQ{3, -2, 1}).cut(8), 0, unchanged},
        {"master reverb", wire(msg::SetMasterReverb{0.5f, 0.3f, 2, 0.4f, 0.1f, 1.5f}), 1,
         [](const VeskState& s) {
             return s.master.reverbDecay == 2.0f && s.master.reverbMix == 0.4f;
         }},
        {"master limiter", wire(msg::SetMasterLimiter{-6, -1, 50}), 1,
         [](const VeskState& s) { return s.master.limiterThreshold == -6.0f; }},
        {"master limiter bypass", wire(msg::SetMasterLimiterBypass{true}), 1,
         [](const VeskState& s) { return s.master.limiterBypass == 1; }},
    };
    for (const FxCase& c : cases) {
        Instance inst;
        threeSlots(inst);
        ASSERT_TRUE(inst.send(c.message)) << c.name;
        inst.pump();
        EXPECT_EQ(inst.fake.dirty, c.dirty) << c.name;
        EXPECT_TRUE(c.check(inst.snapshot())) << c.name;
    }
}

// One unmodulated chain entry.
msg::FxChainEntry entry(uint8_t type, bool bypass, std::initializer_list<float> values)
{
    msg::FxChainEntry e{type, bypass, uint8_t(values.size())};
    std::copy(values.begin(), values.end(), e.values);
    return e;
}

TEST(FxCommands, AppendChainStopsAtACutEntry)
{
    Instance inst;
    const msg::AppendFxChain chain{1, {entry(4, true, {6.0f, 50.0f}), entry(1, false, {1, 2, 3})}};
    const size_t full = 2 + chain.entries[0].size();
    inst.send(wire(chain).cut(full + 5));
    inst.pump();
    const VeskState& s = inst.snapshot();
    ASSERT_EQ(s.lanes[1].slotCount, 1);
    EXPECT_EQ(s.lanes[1].slots[0].type, 4);
    EXPECT_EQ(s.lanes[1].slots[0].bypassed, 1);
    EXPECT_EQ(s.lanes[1].slots[0].params[0], 6.0f);
    EXPECT_EQ(inst.fake.dirty, 0) << "a cut chain does not mark the state";

    inst.send(chain);
    inst.pump();
    EXPECT_EQ(inst.snapshot().lanes[1].slotCount, 3);
    EXPECT_EQ(inst.fake.dirty, 1);
}

TEST(FxCommands, PresetMessageRoundTrip)
{
    Instance a;
    threeSlots(a);
    a.send(msg::SetFxParam{0, 1, 1, 33.0f});
    a.send(msg::BindFxModulation{0, 1, 1, 2, 0.5f});
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
        inst.send(msg::SetPoolRoute{1, PoolRoute::Bus2});
        inst.send(msg::SetPoolRoute{2, PoolRoute::Master});
        inst.send(msg::SetLaneSolo{0, c.solo1});
        inst.send(msg::SetLaneMute{0, c.mute1});
        inst.send(msg::SetLaneSolo{1, c.solo2});
        inst.send(msg::SetLaneMute{1, c.mute2});
        inst.send(msg::SetBus1ToMaster{c.bus1ToMaster});
        inst.pump();
        inst.finishJobs();
        inst.send(msg::Trigger{1});
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
