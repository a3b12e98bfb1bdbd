// The message records: every id encoded and decoded back, the exact bytes of a few, short
// payloads refused, and each record sent onto the ring its id belongs to.
#include "plugin/CommandQueues.h"
#include "plugin/Messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace vesk;

namespace {

// Every enumerator of MessageId. A new id that is not listed here breaks the build, and the
// coverage test below then fails until the table has a row for it.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
bool isMessageId(MessageId id)
{
    switch (id) {
    case CmdLoadToPool:
    case CmdClearPool:
    case CmdRemovePool:
    case CmdRemoveSample:
    case CmdTrigger:
    case CmdPlaySample:
    case CmdReplay:
    case CmdStopPool:
    case CmdStopAll:
    case CmdRenderStems:
    case CmdRenderMix:
    case CmdSetPitch:
    case CmdSetVolume:
    case CmdSetPan:
    case CmdSetDelay:
    case CmdSetStart:
    case CmdSetReverseChance:
    case CmdSetMasterOutputGain:
    case CmdSetMasterBypass:
    case CmdSetMasterEQ:
    case CmdSetMasterEQBypass:
    case CmdSetMasterEnhance:
    case CmdSetMasterEnhanceBypass:
    case CmdSetMasterEnhanceMulti:
    case CmdSetMasterReverb:
    case CmdSetMasterReverbBypass:
    case CmdSetMasterLimiter:
    case CmdSetMasterLimiterBypass:
    case CmdRenamePool:
    case CmdSetRetriggerMode:
    case CmdSetAutoSplit:
    case CmdSetPoolVisible:
    case CmdSetPoolSolo:
    case CmdSetPoolMute:
    case CmdSetPoolFreeze:
    case CmdSetSampleRegion:
    case CmdSelectSample:
    case CmdSetVolumeEnv:
    case CmdSetPoolRoute:
    case CmdSetLaneBypass:
    case CmdSetLaneMute:
    case CmdSetLaneSolo:
    case CmdSetBus1ToMaster:
    case CmdSetPanEnv:
    case CmdSetPitchEnv:
    case CmdSetHpf:
    case CmdSetLpf:
    case CmdSetHpfEnv:
    case CmdSetLpfEnv:
    case CmdSetFadeIn:
    case CmdSetFadeOut:
    case CmdSetPitchTrack:
    case CmdSetGrainCloud:
    case CmdAddFxSlot:
    case CmdRemoveFxSlot:
    case CmdSetFxSlotBypass:
    case CmdSetFxParam:
    case CmdMoveFxSlot:
    case CmdBindFxModulation:
    case CmdAppendFxChain:
        return true;
    }
    return false;
}
#pragma GCC diagnostic pop

using ByteList = std::vector<uint8_t>;

// One record, type-erased: its encoded bytes and what can be asked of its decoder and sender.
struct Row
{
    uint8_t id = 0;
    ByteList bytes;
    uint32_t shortest = 0;     // fewest payload bytes the decoder accepts
    bool restIsField = false;  // the last field runs to the end: extra bytes are part of it
    bool writesBeyond = false; // encode wrote past the size it returned
    std::function<bool(const ByteList&)> decodesToRecord;
    std::function<bool(VeskBackend&)> send;
};

template <class R> Row row(const R& record, uint32_t shortest, bool restIsField)
{
    Row r;
    r.id = R::kId;
    // Room beyond the largest payload, filled with a marker, shows a write past the end.
    ByteList buffer(R::kMaxSize + 16, 0xA5);
    const uint32_t size = record.encode(buffer.data());
    r.bytes.assign(buffer.begin(), buffer.begin() + size);
    for (size_t i = size; i < buffer.size(); ++i)
        r.writesBeyond = r.writesBeyond || buffer[i] != 0xA5;
    r.shortest = shortest;
    r.restIsField = restIsField;
    r.decodesToRecord = [record](const ByteList& payload) {
        R got;
        return msg::decode(payload.data(), uint32_t(payload.size()), got) && got == record;
    };
    r.send = [record](VeskBackend& backend) { return msg::send(backend, record); };
    return r;
}

template <class R> Row fixed(const R& record)
{
    return row(record, R::kSize, false);
}

EnvelopeData ramp()
{
    EnvelopeData env;
    for (int i = 0; i < kMaxEnvelopePoints; ++i)
        env.points[i] = {float(i) / 64.0f, float(i) - 20.0f};
    env.count = 5;
    env.enabled = true;
    return env;
}

msg::FxChainEntry chainEntry(uint8_t type, bool bypassed, uint8_t knobs)
{
    msg::FxChainEntry e{type, bypassed, knobs};
    for (uint32_t k = 0; k < knobs; ++k) {
        e.values[k] = 0.5f + float(k);
        e.sources[k] = uint8_t(k % 5);
        e.depths[k] = -0.25f * float(k % 4);
    }
    return e;
}

// One representative of every id, with values that differ field from field, so a field read
// at another field's offset shows.
std::vector<Row> everyMessage()
{
    const msg::AppendFxChain chain{1, {chainEntry(4, true, 2), chainEntry(30, false, 8)}};
    return {
        row(msg::LoadToPool{5, "Kits/snare.wav"}, 4, true),
        fixed(msg::ClearPool{3}),
        fixed(msg::RemovePool{6}),
        fixed(msg::RemoveSample{2, 17}),
        fixed(msg::Trigger{0x0123456789ABCDEFull}),
        fixed(msg::PlaySample{7, 41}),
        fixed(msg::Replay{}),
        fixed(msg::StopPool{4}),
        fixed(msg::StopAll{}),
        fixed(msg::RenderStems{}),
        fixed(msg::RenderMix{}),
        fixed(msg::SetPitch{1, -7.5f, 0.25f, true}),
        fixed(msg::SetVolume{2, -12.0f, 0.5f, false}),
        fixed(msg::SetPan{3, 40.0f, 0.75f, true}),
        fixed(msg::SetDelay{4, 250.0f, 0.1f, true}),
        fixed(msg::SetStart{5, 33.0f, 0.9f, false}),
        fixed(msg::SetReverseChance{6, 62.5f}),
        fixed(msg::SetMasterOutputGain{-3.5f}),
        fixed(msg::SetMasterBypass{true}),
        fixed(msg::SetMasterEQ{1.5f, -2.5f, 4.0f}),
        fixed(msg::SetMasterEQBypass{true}),
        fixed(msg::SetMasterEnhance{6.0f, 45.0f, 0.3f}),
        fixed(msg::SetMasterEnhanceBypass{true}),
        fixed(msg::SetMasterEnhanceMulti{true}),
        fixed(msg::SetMasterReverb{0.7f, 0.4f, 3.5f, 0.25f, 0.9f, 0.6f}),
        fixed(msg::SetMasterReverbBypass{true}),
        fixed(msg::SetMasterLimiter{-6.0f, -0.3f, 80.0f}),
        fixed(msg::SetMasterLimiterBypass{true}),
        row(msg::RenamePool{2, "Glass 玻璃"}, 4, true),
        fixed(msg::SetRetriggerMode{true}),
        fixed(msg::SetAutoSplit{true}),
        fixed(msg::SetPoolVisible{7, true}),
        fixed(msg::SetPoolSolo{1, true}),
        fixed(msg::SetPoolMute{2, true}),
        fixed(msg::SetPoolFreeze{3, true}),
        fixed(msg::SetSampleRegion{4, 9, -1200, 48000}),
        fixed(msg::SelectSample{5, 12}),
        fixed(msg::SetVolumeEnv{1, ramp()}),
        fixed(msg::SetPoolRoute{6, PoolRoute::Master}),
        fixed(msg::SetLaneBypass{1, true}),
        fixed(msg::SetLaneMute{1, true}),
        fixed(msg::SetLaneSolo{1, true}),
        fixed(msg::SetBus1ToMaster{true}),
        fixed(msg::SetPanEnv{2, ramp()}),
        fixed(msg::SetPitchEnv{3, ramp()}),
        fixed(msg::SetHpf{4, 120.0f}),
        fixed(msg::SetLpf{5, 8500.0f}),
        fixed(msg::SetHpfEnv{6, ramp()}),
        fixed(msg::SetLpfEnv{7, ramp()}),
        fixed(msg::SetFadeIn{1, 0.125f}),
        fixed(msg::SetFadeOut{2, 0.375f}),
        fixed(msg::SetPitchTrack{3, true}),
        fixed(msg::SetGrainCloud{4, true}),
        fixed(msg::AddFxSlot{1, 23}),
        fixed(msg::RemoveFxSlot{1, 9}),
        fixed(msg::SetFxSlotBypass{1, 8, true}),
        fixed(msg::SetFxParam{1, 7, 15, 1234.5f}),
        fixed(msg::MoveFxSlot{0, 3, 1, 2}),
        fixed(msg::BindFxModulation{1, 6, 14, 3, -0.625f}),
        row(chain, 2, false),
    };
}

TEST(Messages, EveryIdHasOneRecord)
{
    std::multiset<uint8_t> covered;
    for (const Row& r : everyMessage())
        covered.insert(r.id);
    for (int id = 0; id < 256; ++id) {
        const bool named = isMessageId(MessageId(id));
        EXPECT_EQ(covered.count(uint8_t(id)), named ? 1u : 0u) << "id " << id;
    }
}

TEST(Messages, EveryRecordRoundTripsAndRefusesShortPayloads)
{
    for (const Row& r : everyMessage()) {
        SCOPED_TRACE("id " + std::to_string(r.id));
        EXPECT_FALSE(r.writesBeyond);
        EXPECT_TRUE(r.decodesToRecord(r.bytes));
        // Each payload cut short, in a buffer of exactly that size (an overread shows under
        // the address sanitizer).
        for (size_t n = 0; n < r.shortest; ++n)
            EXPECT_FALSE(r.decodesToRecord(ByteList(r.bytes.begin(), r.bytes.begin() + n)))
                << n << " bytes";
        if (!r.restIsField) {
            ByteList longer = r.bytes;
            longer.insert(longer.end(), {0xFF, 0x7F, 0x01});
            EXPECT_TRUE(r.decodesToRecord(longer)) << "extra bytes are ignored";
        }
    }
}

TEST(Messages, ShortestPayloadsOfTheVariableRecords)
{
    msg::LoadToPool load;
    const uint8_t poolOnly[4] = {3, 0, 0, 0};
    ASSERT_TRUE(msg::decode(poolOnly, 4, load));
    EXPECT_EQ(load.pool, 3u);
    EXPECT_EQ(load.path, "") << "the receiver refuses an empty path, not the decoder";

    msg::AppendFxChain chain;
    const uint8_t empty[2] = {1, 0};
    ASSERT_TRUE(msg::decode(empty, 2, chain));
    EXPECT_EQ(chain.lane, 1);
    EXPECT_TRUE(chain.entries.empty());
    EXPECT_FALSE(chain.truncated);
}

TEST(Messages, GoldenBytes)
{
    struct Golden
    {
        const char* name;
        ByteList got;
        ByteList expected;
    };
    const auto bytes = [](const auto& record) {
        ByteList b(std::decay_t<decltype(record)>::kMaxSize);
        b.resize(record.encode(b.data()));
        return b;
    };
    msg::FxChainEntry saturate{4, true, 2};
    saturate.values[0] = 6.0f;
    saturate.values[1] = 50.0f;
    saturate.sources[1] = 3;
    saturate.depths[1] = -0.5f;
    const Golden cases[] = {
        // 3.0f = 0x40400000, 0.5f = 0x3F000000.
        {"pitch",
         bytes(msg::SetPitch{1, 3.0f, 0.5f, true}),
         {1, 0, 0, 0, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x00, 0x3F, 1}},
        {"trigger",
         bytes(msg::Trigger{0x1122334455667788ull}),
         {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {"load",
         bytes(msg::LoadToPool{2, "a/b.wav"}),
         {2, 0, 0, 0, 'a', '/', 'b', '.', 'w', 'a', 'v'}},
        // -2 as int64 is 0xFFFFFFFFFFFFFFFE.
        {"region",
         bytes(msg::SetSampleRegion{2, 3, -2, 0x0102030405060708ull}),
         {2,    0,    0,    0,    3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,
          0xFF, 0xFF, 0xFF, 0xFF, 8, 7, 6, 5, 4,    3,    2,    1}},
        {"route", bytes(msg::SetPoolRoute{7, PoolRoute::Master}), {7, 0, 0, 0, 2}},
        // The float at offset 3: 12.5f = 0x41480000.
        {"fx param", bytes(msg::SetFxParam{1, 2, 3, 12.5f}), {1, 2, 3, 0x00, 0x00, 0x48, 0x41}},
        // -1.0f = 0xBF800000.
        {"bind", bytes(msg::BindFxModulation{1, 2, 3, 4, -1.0f}), {1, 2, 3, 4, 0, 0, 0x80, 0xBF}},
        {"move", bytes(msg::MoveFxSlot{1, 2, 0, 5}), {1, 2, 0, 5}},
        {"lane mute", bytes(msg::SetLaneMute{1, true}), {1, 1}},
        // Lane 1, one entry: type 4, bypassed, 2 knobs; values 6.0f = 0x40C00000 and
        // 50.0f = 0x42480000; sources 0, 3; depths 0 and -0.5f = 0xBF000000.
        {"chain",
         bytes(msg::AppendFxChain{1, {saturate}}),
         {1, 1, 4, 1, 2, 0, 0, 0xC0, 0x40, 0, 0, 0x48, 0x42, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0xBF}},
        {"replay", bytes(msg::Replay{}), {}},
    };
    for (const Golden& g : cases)
        EXPECT_EQ(g.got, g.expected) << g.name;
}

TEST(Messages, EnvelopeImage)
{
    EnvelopeData env;
    env.points[0] = {0.25f, -6.0f};
    env.points[63] = {1.0f, 2.0f};
    env.count = 2;
    env.enabled = true;
    const msg::SetVolumeEnv record{3, env};
    ByteList b(msg::SetVolumeEnv::kMaxSize);
    ASSERT_EQ(record.encode(b.data()), 524u);
    // Pool, then 64 points of x and y, the count, the enabled byte and three zero bytes.
    EXPECT_EQ(ByteList(b.begin(), b.begin() + 12),
              (ByteList{3, 0, 0, 0, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0xC0, 0xC0}));
    EXPECT_EQ(ByteList(b.begin() + 508, b.end()),
              (ByteList{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 2, 0, 0, 0, 1, 0, 0, 0}));

    // Any non-zero enabled byte reads as enabled; the padding is not looked at.
    b[520] = 7;
    b[521] = b[523] = 0xEE;
    msg::SetVolumeEnv got;
    ASSERT_TRUE(msg::decode(b.data(), uint32_t(b.size()), got));
    EXPECT_TRUE(got.envelope.enabled);
    EXPECT_TRUE(got == record);
}

TEST(Messages, FlagBytesAreTrueWhenNonZero)
{
    const uint8_t seven[5] = {2, 0, 0, 0, 7};
    msg::SetPoolMute mute;
    ASSERT_TRUE(msg::decode(seven, 5, mute));
    EXPECT_TRUE(mute.on);
    msg::SetMasterBypass bypass;
    ASSERT_TRUE(msg::decode(seven + 4, 1, bypass));
    EXPECT_TRUE(bypass.on);
    const uint8_t zero[1] = {0};
    ASSERT_TRUE(msg::decode(zero, 1, bypass));
    EXPECT_FALSE(bypass.on);
}

TEST(Messages, ChainEntriesCutShort)
{
    const msg::AppendFxChain chain{0, {chainEntry(4, false, 2), chainEntry(1, true, 3)}};
    ByteList b(msg::AppendFxChain::kMaxSize);
    b.resize(chain.encode(b.data()));
    const size_t first = 2 + chain.entries[0].size();
    ASSERT_EQ(b.size(), first + chain.entries[1].size());

    struct Case
    {
        const char* name;
        ByteList payload;
        size_t entries;
        bool truncated;
    };
    ByteList tooManyKnobs = b;
    tooManyKnobs[first + 2] = 17;
    ByteList countsThree = b;
    countsThree[1] = 3;
    const Case cases[] = {
        {"whole", b, 2, false},
        {"cut inside the second entry", ByteList(b.begin(), b.begin() + first + 5), 1, true},
        {"cut inside the second header", ByteList(b.begin(), b.begin() + first + 2), 1, true},
        {"cut after the first", ByteList(b.begin(), b.begin() + first), 1, true},
        {"second claims 17 knobs", tooManyKnobs, 1, true},
        {"count above the entries", countsThree, 2, true},
    };
    for (const Case& c : cases) {
        msg::AppendFxChain got;
        ASSERT_TRUE(msg::decode(c.payload.data(), uint32_t(c.payload.size()), got)) << c.name;
        EXPECT_EQ(got.entries.size(), c.entries) << c.name;
        EXPECT_EQ(got.truncated, c.truncated) << c.name;
        EXPECT_TRUE(got.entries[0] == chain.entries[0]) << c.name;
    }
}

TEST(Messages, VariableRecordsThatDoNotFit)
{
    EXPECT_TRUE(msg::fits(msg::LoadToPool{0, std::string(4092, 'a')}));
    EXPECT_FALSE(msg::fits(msg::LoadToPool{0, std::string(4093, 'a')}));
    EXPECT_TRUE(msg::fits(msg::RenamePool{0, std::string(4092, 'n')}));
    EXPECT_FALSE(msg::fits(msg::RenamePool{0, std::string(4093, 'n')}));

    // 40 entries of 16 knobs: 2 + 40 * 147 bytes.
    msg::AppendFxChain big{0, std::vector<msg::FxChainEntry>(40, chainEntry(4, false, 16))};
    EXPECT_EQ(big.size(), 5882u);
    EXPECT_FALSE(msg::fits(big));
    msg::AppendFxChain many{0, std::vector<msg::FxChainEntry>(256, chainEntry(0, false, 0))};
    EXPECT_FALSE(msg::fits(many)) << "the count is one byte";
    many.entries.pop_back();
    EXPECT_TRUE(msg::fits(many));
    msg::AppendFxChain wide{0, {chainEntry(4, false, 16)}};
    wide.entries[0].knobCount = 17;
    EXPECT_FALSE(msg::fits(wide));

    ByteList out(msg::AppendFxChain::kMaxSize, 0xA5);
    EXPECT_EQ(big.encode(out.data()), 0u);
    EXPECT_EQ(out, ByteList(msg::AppendFxChain::kMaxSize, 0xA5)) << "nothing written";
}

TEST(Messages, SendPutsEachRecordOnItsRing)
{
    for (const Row& r : everyMessage()) {
        SCOPED_TRACE("id " + std::to_string(r.id));
        auto queues = std::make_unique<CommandQueues>();
        int wakes = 0;
        queues->wake = [](void* c) { ++*static_cast<int*>(c); };
        queues->wakeContext = &wakes;
        VeskBackend backend{queues.get(), nullptr, nullptr};
        ASSERT_TRUE(r.send(backend));
        const bool trigger = r.id == CmdTrigger || (r.id >= CmdPlaySample && r.id <= CmdStopAll);
        EXPECT_EQ(queues->triggerWrite.load(), trigger ? 1u : 0u);
        EXPECT_EQ(queues->commandWrite.load(), trigger ? 0u : 1u);
        EXPECT_EQ(wakes, trigger ? 0 : 1);
        const auto check = [&](const auto& slot) {
            EXPECT_EQ(slot.type, r.id);
            EXPECT_EQ(ByteList(slot.payload, slot.payload + slot.size), r.bytes);
        };
        if (trigger)
            check(queues->triggerSlots[0]);
        else
            check(queues->commandSlots[0]);
        EXPECT_EQ(queues->droppedCommands.load(), 0);
    }
}

TEST(Messages, SendCountsWhatDoesNotFitAsDropped)
{
    auto queues = std::make_unique<CommandQueues>();
    VeskBackend backend{queues.get(), nullptr, nullptr};
    EXPECT_FALSE(msg::send(backend, msg::RenamePool{0, std::string(4093, 'n')}));
    EXPECT_EQ(queues->droppedCommands.load(), 1);
    EXPECT_EQ(queues->commandWrite.load(), 0u);

    VeskBackend detached;
    EXPECT_FALSE(msg::send(detached, msg::StopAll{}));
}

} // namespace
