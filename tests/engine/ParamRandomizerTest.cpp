// The random generator and the per-pool draw, checked against an independent reference
// (tests/engine/reference/draw_reference.py) and against the rules the draw promises.
#include "SamplerTestUtil.h"
#include "reference/DrawReference.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <set>

namespace vesk::test {
namespace {

TEST(XS64RandTest, MatchesReferenceOutputsAndUniform)
{
    for (const drawref::GeneratorRow& row : drawref::kGenerator) {
        XS64Rand rng;
        rng.state = row.state;
        for (uint64_t expected : row.outputs)
            EXPECT_EQ(rng.next(), expected) << std::hex << row.state;
        EXPECT_EQ(std::bit_cast<uint64_t>(rng.uniform()), row.uniformBits) << std::hex << row.state;
    }
}

TEST(XS64RandTest, FirstStepOfStateOneByHand)
{
    // state 1: 1 ^ (1 >> 12) = 1; 1 ^ (1 << 25) = 0x2000001; ^ (0x2000001 >> 27 = 0) = 0x2000001.
    XS64Rand rng;
    rng.state = 1;
    const uint64_t out = rng.next();
    EXPECT_EQ(rng.state, 0x2000001ULL);
    EXPECT_EQ(out, 0x2000001ULL * 0x2545F4914F6CDD1DULL);
}

TEST(ParamRandomizerTest, DisabledOrZeroRangeReturnsBaseWithoutSteps)
{
    struct Case
    {
        bool enabled;
        float range;
    };
    for (const Case c : {Case{false, 0.5f}, Case{true, 0.0f}, Case{true, -1.0f}}) {
        ParamRandomizer r{3.5f, c.range, c.enabled, -1};
        XS64Rand rng;
        rng.state = 77;
        EXPECT_EQ(r.evaluate(rng, 12.0f), 3.5f);
        EXPECT_EQ(r.evaluateUnipolar(rng, 12.0f), 3.5f);
        EXPECT_EQ(rng.state, 77u);
        EXPECT_EQ(r.lastQuadrant, -1);
    }
}

TEST(ParamRandomizerTest, EnabledDrawTakesTwoStepsAndNeverRepeatsAQuarter)
{
    ParamRandomizer r{0.0f, 1.0f, true, -1};
    XS64Rand rng;
    rng.state = 0x1234567;
    int previousQuarter = -1;
    for (int i = 0; i < 2000; ++i) {
        XS64Rand twoSteps = rng;
        twoSteps.next();
        twoSteps.next();
        const float v = r.evaluate(rng, 12.0f);
        EXPECT_EQ(rng.state, twoSteps.state);
        ASSERT_GE(v, -12.0f);
        ASSERT_LE(v, 12.0f);
        // Quarters of -12..12: -12..-6, -6..0, 0..6, 6..12.
        const int quarter = std::min(3, static_cast<int>(std::floor((v + 12.0f) / 6.0f)));
        EXPECT_EQ(quarter, r.lastQuadrant);
        EXPECT_NE(quarter, previousQuarter);
        previousQuarter = quarter;
    }
}

TEST(ParamRandomizerTest, UnipolarStaysAboveBase)
{
    ParamRandomizer r{100.0f, 0.5f, true, -1};
    XS64Rand rng;
    rng.state = 99;
    for (int i = 0; i < 500; ++i) {
        const float v = r.evaluateUnipolar(rng, 3000.0f);
        ASSERT_GE(v, 100.0f);
        ASSERT_LT(v, 1600.0f);
    }
}

SamplePool poolFromSetup(const drawref::Setup& setup)
{
    SamplePool pool;
    for (const char* c = setup.samples; *c != 0; ++c)
        pool.samples.push_back(*c == 'P' ? makeDcRegion(0.5f, 100) : makePlaceholder());
    ParamRandomizer* knobs[5] = {&pool.pitch, &pool.volume, &pool.pan, &pool.delay, &pool.start};
    for (int k = 0; k < 5; ++k)
        *knobs[k] =
            ParamRandomizer{setup.knobs[k].base, setup.knobs[k].range, setup.knobs[k].enabled, -1};
    pool.reverseChance = setup.reverseChance;
    pool.pitchTrack = setup.pitchTrack;
    return pool;
}

// Every setup (1, 2, 3 and 5 playable regions among placeholders; randomizers all off, all on,
// mixed, at their extremes and each on alone; reverse chance 0, 50, 100), several seeds, and
// consecutive triggers on one pool, so the pick history and the last quarters carry over.
TEST(EvaluatePoolParamsTest, MatchesIndependentReferenceExactly)
{
    constexpr int kSetups = sizeof(drawref::kSetups) / sizeof(drawref::kSetups[0]);
    int rowsChecked = 0;
    for (int s = 0; s < kSetups; ++s) {
        auto pool = std::make_unique<SamplePool>(poolFromSetup(drawref::kSetups[s]));
        for (const drawref::Row& row : drawref::kRows) {
            if (row.setup != s)
                continue;
            ++rowsChecked;
            XS64Rand rng;
            rng.state = row.seed > 1 ? row.seed : 1;
            const VoiceParams p = Sampler::evaluatePoolParams(*pool, rng, row.note);
            SCOPED_TRACE(testing::Message() << "setup " << s << " (" << drawref::kSetups[s].samples
                                            << ") seed " << std::hex << row.seed);
            ASSERT_EQ(p.valid, row.valid);
            EXPECT_EQ(rng.state, row.stateAfter);
            if (!row.valid)
                continue;
            EXPECT_EQ(p.sampleIndex, row.sampleIndex);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.pitchRatio), row.pitchRatio);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.gain), row.gain);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.pan), row.pan);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.delayMs), row.delayMs);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.startPercent), row.startPercent);
            EXPECT_EQ(p.reverse, row.reverse);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.volumeOffsetDb), row.volumeOffsetDb);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.panOffset), row.panOffset);
            EXPECT_EQ(std::bit_cast<uint32_t>(p.pitchOffset), row.pitchOffset);
        }
    }
    EXPECT_EQ(rowsChecked, static_cast<int>(sizeof(drawref::kRows) / sizeof(drawref::kRows[0])));
}

TEST(EvaluatePoolParamsTest, PicksFollowTheAntiRepetitionRules)
{
    struct Case
    {
        const char* samples;
        std::set<uint64_t> playable;
        int period; // 0: only "never one of the last two"
    };
    const Case cases[] = {
        {"P", {0}, 1},          {".P.P", {1, 3}, 2}, {"P..P...P.P", {0, 3, 7, 9}, 0},
        {"PP.P", {0, 1, 3}, 3}, {".....P", {5}, 1},
    };
    for (const Case& c : cases) {
        SamplePool pool;
        for (const char* ch = c.samples; *ch != 0; ++ch)
            pool.samples.push_back(*ch == 'P' ? makeDcRegion(0.5f, 10) : makePlaceholder());
        std::vector<uint64_t> picks;
        for (uint64_t seed = 2; seed < 60; ++seed) {
            XS64Rand rng;
            rng.state = seed * 7919;
            const VoiceParams p = Sampler::evaluatePoolParams(pool, rng, 60);
            ASSERT_TRUE(p.valid);
            EXPECT_TRUE(c.playable.count(p.sampleIndex)) << c.samples;
            EXPECT_EQ(pool.lastPick, static_cast<int>(p.sampleIndex));
            picks.push_back(p.sampleIndex);
        }
        for (size_t i = 1; i < picks.size(); ++i) {
            if (c.period == 1)
                EXPECT_EQ(picks[i], picks[0]);
            else
                EXPECT_NE(picks[i], picks[i - 1]) << c.samples;
            if ((c.period >= 3 || c.period == 0) && i >= 2) {
                EXPECT_NE(picks[i], picks[i - 2]) << c.samples;
            }
            if (c.period > 1 && i >= static_cast<size_t>(c.period)) {
                EXPECT_EQ(picks[i], picks[i - c.period]) << c.samples;
            }
        }
    }
}

TEST(EvaluatePoolParamsTest, NothingPlayableLeavesPoolAndGeneratorAlone)
{
    SamplePool pool;
    pool.samples.push_back(makePlaceholder());
    pool.samples.push_back(makeRegion(makeAudio({0.1f, 0.2f}), 5)); // offset past the end
    pool.pitch = ParamRandomizer{0.0f, 1.0f, true, -1};
    XS64Rand rng;
    rng.state = 1234;
    const VoiceParams p = Sampler::evaluatePoolParams(pool, rng, 60);
    EXPECT_FALSE(p.valid);
    EXPECT_EQ(rng.state, 1234u);
    EXPECT_EQ(pool.lastPick, -1);
    EXPECT_EQ(pool.pitch.lastQuadrant, -1);
}

TEST(EvaluatePoolParamsTest, VolumeLimitsOfTheGain)
{
    // A draw below -60 dB is silent (-150 dB); above +6 dB it is held at +6 dB.
    struct Case
    {
        float volumeDb;
        double expectedDb;
    };
    for (const Case c : {Case{-61.0f, -150.0}, Case{10.0f, 6.0}, Case{-6.0f, -6.0}}) {
        SamplePool pool;
        pool.samples.push_back(makeDcRegion(0.5f, 10));
        pool.volume.base = c.volumeDb;
        XS64Rand rng;
        const VoiceParams p = Sampler::evaluatePoolParams(pool, rng, 60);
        EXPECT_NEAR(std::log10(p.gain) * 20.0, c.expectedDb, 1e-4) << c.volumeDb;
        EXPECT_FLOAT_EQ(p.volumeOffsetDb, 0.0f);
    }
}

TEST(EvaluatePoolParamsTest, EnablingARandomizerShiftsOnlyTheLaterDraws)
{
    auto draw = [](bool panOn) {
        SamplePool pool;
        for (int i = 0; i < 5; ++i)
            pool.samples.push_back(makeDcRegion(0.5f, 10));
        pool.pitch = ParamRandomizer{0.0f, 0.5f, true, -1};
        pool.pan = ParamRandomizer{0.0f, 0.5f, panOn, -1};
        pool.start = ParamRandomizer{0.0f, 0.5f, true, -1};
        XS64Rand rng;
        rng.state = 4242;
        return Sampler::evaluatePoolParams(pool, rng, 60);
    };
    const VoiceParams off = draw(false);
    const VoiceParams on = draw(true);
    EXPECT_EQ(off.sampleIndex, on.sampleIndex);
    EXPECT_EQ(off.pitchRatio, on.pitchRatio);
    EXPECT_EQ(off.pan, 0.0f);
    EXPECT_NE(on.pan, 0.0f);
    EXPECT_NE(off.startPercent, on.startPercent);
}

TEST(EvaluatePoolParamsTest, ReverseChanceHalfReversesAboutHalfAndTakesOneMoreStep)
{
    SamplePool pool;
    pool.samples.push_back(makeDcRegion(0.5f, 10));
    pool.reverseChance = 50.0f;
    int reversed = 0;
    for (uint64_t seed = 2; seed < 1002; ++seed) {
        XS64Rand rng;
        rng.state = seed;
        XS64Rand oneStep = rng;
        oneStep.next();
        reversed += Sampler::evaluatePoolParams(pool, rng, 60).reverse ? 1 : 0;
        EXPECT_EQ(rng.state, oneStep.state);
    }
    EXPECT_GT(reversed, 430);
    EXPECT_LT(reversed, 570);
}

} // namespace
} // namespace vesk::test
