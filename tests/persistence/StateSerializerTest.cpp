// The state stream's transfer operations and the records below the instance.
#include "persistence/StateFormat.h"
#include "persistence/StateSerializer.h"

#include "fx/FXLane.h"
#include "fx/FXModule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace vesk;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

template <typename F> std::vector<uint8_t> writeWith(F&& f)
{
    std::vector<uint8_t> bytes;
    StateSerializer s = StateSerializer::writer(bytes);
    EXPECT_TRUE(f(s));
    return bytes;
}

} // namespace

TEST(StateSerializer, ValuesAreLittleEndianWithoutPadding)
{
    const auto bytes = writeWith([](StateSerializer& s) {
        uint8_t a = 0xAB;
        uint32_t b = 0x01020304;
        float c = 1.0f; // 0x3F800000
        bool d = true;
        uint64_t e = 0x1122334455667788ull;
        std::string f = "hi";
        return s.io(a) && s.io(b) && s.io(c) && s.ioBool(d) && s.io(e) && s.ioString(f);
    });
    const std::vector<uint8_t> expected = {0xAB, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x80,
                                           0x3F, 0x01, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33,
                                           0x22, 0x11, 0x02, 0x00, 0x00, 0x00, 'h',  'i'};
    EXPECT_EQ(bytes, expected);
}

TEST(StateSerializer, ShortReadFailsAndLeavesValueAndPosition)
{
    const std::vector<uint8_t> bytes = {1, 2, 3};
    StateSerializer s = StateSerializer::reader(bytes.data(), bytes.size());
    uint32_t v = 77;
    EXPECT_FALSE(s.io(v));
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(s.position, 0u);
    uint8_t b = 0;
    EXPECT_TRUE(s.io(b));
    EXPECT_EQ(b, 1);
    EXPECT_EQ(s.remaining(), 2u);
}

TEST(StateSerializer, AnyNonZeroByteReadsTrue)
{
    const std::vector<uint8_t> bytes = {0, 1, 0x80};
    StateSerializer s = StateSerializer::reader(bytes.data(), bytes.size());
    bool a = true, b = false, c = false;
    EXPECT_TRUE(s.ioBool(a) && s.ioBool(b) && s.ioBool(c));
    EXPECT_FALSE(a);
    EXPECT_TRUE(b);
    EXPECT_TRUE(c);
}

TEST(StateSerializer, StringLimitsInBothDirections)
{
    std::vector<uint8_t> out;
    StateSerializer w = StateSerializer::writer(out);
    std::string ok(4096, 'a'), tooLong(4097, 'b');
    EXPECT_TRUE(w.ioString(ok));
    EXPECT_FALSE(w.ioString(tooLong));

    // A declared length above 4096, and one longer than what remains, both fail without moving.
    for (uint32_t declared : {4097u, 100u}) {
        std::vector<uint8_t> bytes(4, 0);
        std::memcpy(bytes.data(), &declared, 4);
        bytes.resize(4 + 10, 'x');
        StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
        std::string v = "keep";
        EXPECT_FALSE(r.ioString(v)) << declared;
        EXPECT_EQ(v, "keep");
        EXPECT_EQ(r.position, 0u);
    }
}

TEST(StateSerializer, CountsAreCheckedAgainstWhatRemains)
{
    const std::vector<uint8_t> bytes(80, 0);
    StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
    EXPECT_TRUE(r.fitsCount(10, 8));
    EXPECT_FALSE(r.fitsCount(11, 8));
    EXPECT_FALSE(r.fitsCount(0xFFFFFFFFull, 8));
}

TEST(StateFormat, SamplePathsUnderTheProjectAreStoredRelative)
{
    struct Case
    {
        const char* path;
        const char* root;
        const char* stored;
    };
    const Case cases[] = {
        {"/p/proj/a.wav", "/p/proj", "$PROJECT/a.wav"},
        {"/p/proj/sub/b.wav", "/p/proj", "$PROJECT/sub/b.wav"},
        {"C:\\proj\\x.wav", "C:\\proj", "$PROJECT/x.wav"},
        {"/p/project2/a.wav", "/p/proj", "/p/project2/a.wav"}, // shares a prefix only
        {"/elsewhere/a.wav", "/p/proj", "/elsewhere/a.wav"},
        {"/p/proj", "/p/proj", "/p/proj"},
        {"/p/proj/a.wav", "", "/p/proj/a.wav"},
        {"$PROJECT/a.wav", "/p/proj", "$PROJECT/a.wav"},
        {"", "/p/proj", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(storedSamplePath(c.path, c.root), c.stored) << c.path;
    }
}

TEST(StateFormat, StoredPathsResolveAgainstCurrentThenStoredRoot)
{
    static std::vector<std::string> present;
    auto exists = [](const std::string& p) {
        for (const auto& q : present)
            if (q == p)
                return true;
        return false;
    };
    present = {"/new/a.wav", "/old/a.wav", "/old/b.wav", "/abs/c.wav"};
    EXPECT_EQ(resolveStoredSamplePath("$PROJECT/a.wav", "/new", "/old", exists), "/new/a.wav");
    EXPECT_EQ(resolveStoredSamplePath("$PROJECT/b.wav", "/new", "/old", exists), "/old/b.wav");
    EXPECT_EQ(resolveStoredSamplePath("$PROJECT/b.wav", "", "/old", exists), "/old/b.wav");
    EXPECT_EQ(resolveStoredSamplePath("$PROJECT/z.wav", "/new", "/old", exists), "");
    EXPECT_EQ(resolveStoredSamplePath("/abs/c.wav", "/new", "/old", exists), "/abs/c.wav");
    EXPECT_EQ(resolveStoredSamplePath("/abs/missing.wav", "/new", "/old", exists), "");
    EXPECT_EQ(resolveStoredSamplePath("", "/new", "/old", exists), "");
    EXPECT_FALSE(fileExists(""));
    EXPECT_FALSE(fileExists("/nonexistent/file.wav"));
}

TEST(StateFormat, Utf8PrefixNeverSplitsACharacter)
{
    // "é" is 2 bytes, "€" 3 bytes, "𝄞" 4 bytes.
    EXPECT_EQ(utf8Prefix("abc", 31), "abc");
    EXPECT_EQ(utf8Prefix("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(utf8Prefix("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(utf8Prefix("a\xE2\x82\xAC"
                         "b",
                         3),
              "a");
    EXPECT_EQ(utf8Prefix("a\xE2\x82\xAC"
                         "b",
                         4),
              "a\xE2\x82\xAC");
    EXPECT_EQ(utf8Prefix("\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E", 7), "\xF0\x9D\x84\x9E");
    const std::string thirtyTwoAscii(40, 'n');
    EXPECT_EQ(utf8Prefix(thirtyTwoAscii, 31).size(), 31u);
}

TEST(StateFormat, EnvelopeKeepsSixtyFourPointsAndConsumesAll)
{
    std::vector<uint8_t> bytes;
    StateSerializer w = StateSerializer::writer(bytes);
    uint32_t count = 70;
    bool enabled = true;
    w.io(count);
    w.ioBool(enabled);
    for (uint32_t i = 0; i < count; ++i) {
        float x = float(i) / 70.0f, y = float(i);
        w.io(x);
        w.io(y);
    }
    uint8_t marker = 0x5A;
    w.io(marker);

    StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
    EnvelopeData env;
    ASSERT_TRUE(serializeEnvelope(r, env));
    EXPECT_EQ(env.count, 64u);
    EXPECT_TRUE(env.enabled);
    EXPECT_FLOAT_EQ(env.points[63].y, 63.0f);
    uint8_t after = 0;
    ASSERT_TRUE(r.io(after));
    EXPECT_EQ(after, 0x5A);
}

TEST(StateFormat, EnvelopeWithAHugeCountFailsAtOnce)
{
    std::vector<uint8_t> bytes;
    StateSerializer w = StateSerializer::writer(bytes);
    uint32_t count = 0xFFFFFFFFu;
    bool enabled = true;
    w.io(count);
    w.ioBool(enabled);
    bytes.resize(bytes.size() + 64, 0);
    StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
    EnvelopeData env;
    EXPECT_FALSE(serializeEnvelope(r, env));
}

TEST(StateFormat, EnvelopePointsAreMadeSafe)
{
    std::vector<uint8_t> bytes;
    StateSerializer w = StateSerializer::writer(bytes);
    EnvelopeData in;
    in.count = 4;
    in.enabled = true;
    in.points[0] = {0.2f, kNaN};
    in.points[1] = {kInf, 3.0f};
    in.points[2] = {0.1f, -kInf}; // goes back in x
    in.points[3] = {2.0f, 1e9f};
    ASSERT_TRUE(serializeEnvelope(w, in));
    StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
    EnvelopeData out;
    ASSERT_TRUE(serializeEnvelope(r, out));
    ASSERT_EQ(out.count, 4u);
    float previous = 0.0f;
    for (uint32_t i = 0; i < out.count; ++i) {
        EXPECT_TRUE(std::isfinite(out.points[i].x) && std::isfinite(out.points[i].y));
        EXPECT_GE(out.points[i].x, previous);
        EXPECT_LE(out.points[i].x, 1.0f);
        previous = out.points[i].x;
    }
    EXPECT_EQ(out.points[0].y, 0.0f);
    EXPECT_LE(out.points[3].y, 20000.0f);
}

TEST(StateFormat, PoolSettingsRoundTripAndDamagedValuesAreClamped)
{
    SamplePool in;
    in.pitch = {3.0f, 0.5f, true};
    in.volume = {-6.0f, 0.25f, true};
    in.pan = {-40.0f, 0.1f, false};
    in.delay = {120.0f, 0.3f, true};
    in.start = {10.0f, 0.2f, true};
    in.reverseChance = 25.0f;
    std::strcpy(in.name, "Kicks");
    in.hpfHz = 80.0f;
    in.lpfHz = 9000.0f;
    in.outputRoute = PoolRoute::Master;
    in.fadeIn = 0.1f;
    in.fadeOut = 0.4f;
    in.pitchTrack = true;
    in.grainCloud = true;
    in.volumeEnv.count = 2;
    in.volumeEnv.enabled = true;
    in.volumeEnv.points[1] = {1.0f, -12.0f};

    std::vector<uint8_t> first;
    StateSerializer w = StateSerializer::writer(first);
    ASSERT_TRUE(serializePoolSettings(w, in));
    SamplePool out;
    StateSerializer r = StateSerializer::reader(first.data(), first.size());
    ASSERT_TRUE(serializePoolSettings(r, out));
    EXPECT_EQ(r.remaining(), 0u);
    std::vector<uint8_t> second;
    StateSerializer w2 = StateSerializer::writer(second);
    ASSERT_TRUE(serializePoolSettings(w2, out));
    EXPECT_EQ(first, second);
    EXPECT_STREQ(out.name, "Kicks");
    EXPECT_EQ(out.outputRoute, PoolRoute::Master);

    // Damaged values: every one lands in its range.
    SamplePool bad;
    bad.pitch = {kNaN, kInf, true};
    bad.volume = {1e30f, -3.0f, true};
    bad.pan = {-kInf, 2.0f, true};
    bad.delay = {-5.0f, kNaN, true};
    bad.start = {500.0f, 0.5f, true};
    bad.reverseChance = kNaN;
    bad.hpfHz = kNaN;
    bad.lpfHz = -kInf;
    bad.fadeIn = kInf;
    bad.fadeOut = -1.0f;
    std::vector<uint8_t> damaged;
    StateSerializer wb = StateSerializer::writer(damaged);
    ASSERT_TRUE(serializePoolSettings(wb, bad));
    const size_t routeAt = damaged.size() - 2 - 8 - 1; // route, fades, two flags
    damaged[routeAt] = 7;
    SamplePool got;
    StateSerializer rb = StateSerializer::reader(damaged.data(), damaged.size());
    ASSERT_TRUE(serializePoolSettings(rb, got));
    for (const ParamRandomizer* p : {&got.pitch, &got.volume, &got.pan, &got.delay, &got.start}) {
        EXPECT_TRUE(std::isfinite(p->base));
        EXPECT_GE(p->range, 0.0f);
        EXPECT_LE(p->range, 1.0f);
    }
    EXPECT_EQ(got.pitch.base, 0.0f);
    EXPECT_EQ(got.volume.base, 24.0f);
    EXPECT_EQ(got.delay.base, 0.0f);
    EXPECT_EQ(got.start.base, 100.0f);
    EXPECT_EQ(got.reverseChance, 100.0f);
    EXPECT_EQ(got.hpfHz, 0.0f);
    EXPECT_EQ(got.lpfHz, 20000.0f); // not finite: the default
    EXPECT_EQ(got.fadeIn, 0.0f);
    EXPECT_EQ(got.fadeOut, 0.0f);
    EXPECT_EQ(got.outputRoute, PoolRoute::Bus1);
}

TEST(StateFormat, PoolNameIsCutAtACharacterBoundary)
{
    SamplePool in;
    std::vector<uint8_t> bytes;
    StateSerializer w = StateSerializer::writer(bytes);
    ASSERT_TRUE(serializePoolSettings(w, in));
    // Replace the empty name (4 zero bytes after 5 randomizers and the reverse chance) by 15
    // two-byte characters and a leading 'x': 31 bytes would end inside the 16th character.
    const size_t nameAt = 5 * 9 + 4;
    std::string name = "x";
    for (int i = 0; i < 16; ++i)
        name += "\xC3\xA9";
    const uint32_t len = uint32_t(name.size());
    std::vector<uint8_t> patched(bytes.begin(), bytes.begin() + nameAt);
    patched.insert(patched.end(), reinterpret_cast<const uint8_t*>(&len),
                   reinterpret_cast<const uint8_t*>(&len) + 4);
    patched.insert(patched.end(), name.begin(), name.end());
    patched.insert(patched.end(), bytes.begin() + nameAt + 4, bytes.end());
    SamplePool out;
    StateSerializer r = StateSerializer::reader(patched.data(), patched.size());
    ASSERT_TRUE(serializePoolSettings(r, out));
    EXPECT_EQ(std::strlen(out.name), 31u); // "x" + 15 whole characters
    EXPECT_EQ(std::string(out.name), name.substr(0, 31));
}

TEST(StateFormat, LaneKeepsFortySlotsAndSixteenValuesAndRefusesForeignSources)
{
    std::vector<uint8_t> bytes;
    StateSerializer w = StateSerializer::writer(bytes);
    bool f = false, t = true;
    uint8_t count = 45;
    w.ioBool(t); // bypassed
    w.ioBool(f); // muted
    w.ioBool(t); // soloed
    w.io(count);
    const FXModuleInfo* delay = getFXModuleInfo(FXType::Delay);
    ASSERT_NE(delay, nullptr);
    for (int i = 0; i < count; ++i) {
        uint8_t type = i == 1 ? 200 : uint8_t(FXType::Delay); // slot 1: a type nobody knows
        bool bypass = i == 2;
        uint8_t k = 20;
        w.io(type);
        w.ioBool(bypass);
        w.io(k);
        for (int p = 0; p < k; ++p) {
            float v = p == 0 ? kNaN : (p == 1 ? 1e9f : delay->paramMin[p % delay->paramCount]);
            w.io(v);
        }
        for (int p = 0; p < k; ++p) {
            uint8_t source = p == 0 ? 9 : (p == 1 ? 3 : 0);
            float depth = p == 1 ? -7.0f : 0.5f;
            w.io(source);
            w.io(depth);
        }
    }
    uint8_t marker = 0xEE;
    w.io(marker);

    FXLane lane;
    lane.appendModule(uint32_t(FXType::Delay)); // replaced by the load
    StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
    ASSERT_TRUE(serializeLane(r, lane));
    uint8_t after = 0;
    ASSERT_TRUE(r.io(after));
    EXPECT_EQ(after, 0xEE);
    EXPECT_EQ(lane.slotCount, 40);
    EXPECT_TRUE(lane.bypassed);
    EXPECT_FALSE(lane.muted);
    EXPECT_TRUE(lane.soloed);
    EXPECT_EQ(lane.slots[1].type, 200);
    EXPECT_EQ(lane.slots[1].paramCount, 0u);
    EXPECT_TRUE(lane.slots[2].bypassed);
    const FXSlot& s0 = lane.slots[0];
    EXPECT_EQ(s0.params[0], delay->paramDefaults[0]); // NaN → default
    EXPECT_EQ(s0.params[1], delay->paramMax[1]);      // clamped
    EXPECT_EQ(s0.modSource[0], 0);                    // source 9 is outside the bus
    EXPECT_EQ(s0.modDepth[0], 0.0f);
    EXPECT_EQ(s0.modSource[1], 3);
    EXPECT_EQ(s0.modDepth[1], -1.0f);
    for (uint32_t p = delay->paramCount; p < kMaxFXParams; ++p) {
        EXPECT_EQ(s0.params[p], 0.0f);
        EXPECT_EQ(s0.modSource[p], 0);
    }
}

TEST(StateFormat, FrozenDrawKeepsItsSoundRelativeToThePoolCentres)
{
    SamplePool pool;
    pool.pitch.base = 2.0f;
    pool.volume.base = -6.0f;
    pool.pan.base = 10.0f;
    VoiceParams in;
    in.valid = true;
    in.sampleIndex = 3;
    in.pitchRatio = std::exp2(5.0f / 12.0f);  // 5 semitones drawn
    in.gain = std::pow(10.0f, -9.0f / 20.0f); // -9 dB drawn
    in.pan = -30.0f;
    in.delayMs = 12.0f;
    in.startPercent = 40.0f;
    in.reverse = true;
    std::vector<uint8_t> bytes;
    StateSerializer w = StateSerializer::writer(bytes);
    ASSERT_TRUE(serializeFrozenParams(w, in, pool));
    VoiceParams out;
    StateSerializer r = StateSerializer::reader(bytes.data(), bytes.size());
    ASSERT_TRUE(serializeFrozenParams(r, out, pool));
    EXPECT_TRUE(out.valid);
    EXPECT_EQ(out.sampleIndex, 3u);
    EXPECT_NEAR(out.pitchOffset, 3.0f, 1e-4);
    EXPECT_NEAR(out.volumeOffsetDb, -3.0f, 1e-4);
    EXPECT_NEAR(out.panOffset, -40.0f, 1e-4);
    EXPECT_TRUE(out.reverse);

    // An invalid record reads back as the default draw.
    VoiceParams none;
    std::vector<uint8_t> b2;
    StateSerializer w2 = StateSerializer::writer(b2);
    ASSERT_TRUE(serializeFrozenParams(w2, none, pool));
    EXPECT_EQ(b2.size(), 1u);
    StateSerializer r2 = StateSerializer::reader(b2.data(), b2.size());
    ASSERT_TRUE(serializeFrozenParams(r2, out, pool));
    EXPECT_FALSE(out.valid);
    EXPECT_EQ(out.pitchOffset, 0.0f);

    // Damaged numbers become safe draws.
    VoiceParams bad = in;
    bad.pitchRatio = kNaN;
    bad.gain = kInf;
    bad.pan = kNaN;
    bad.delayMs = 1e9f;
    bad.startPercent = -kInf;
    std::vector<uint8_t> b3;
    StateSerializer w3 = StateSerializer::writer(b3);
    ASSERT_TRUE(serializeFrozenParams(w3, bad, pool));
    StateSerializer r3 = StateSerializer::reader(b3.data(), b3.size());
    ASSERT_TRUE(serializeFrozenParams(r3, out, pool));
    for (float v : {out.pitchRatio, out.gain, out.pan, out.delayMs, out.startPercent,
                    out.pitchOffset, out.volumeOffsetDb, out.panOffset})
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_EQ(out.delayMs, 3000.0f);
}

TEST(StateFormat, DecodeRateMustBeSane)
{
    for (double ok : {8000.0, 44100.0, 48000.0, 768000.0})
        EXPECT_TRUE(isSaneStateRate(ok)) << ok;
    for (double bad : {0.0, -48000.0, 7999.0, 768001.0, double(kNaN), double(kInf)})
        EXPECT_FALSE(isSaneStateRate(bad)) << bad;
}
