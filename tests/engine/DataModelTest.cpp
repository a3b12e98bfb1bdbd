// The one playable-length rule and the data model's defaults.
#include "engine/SamplePool.h"
#include "engine/SampleData.h"
#include "engine/XS64Rand.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::shared_ptr<vesk::RawAudioData> audio(size_t frames, int channels)
{
    auto a = std::make_shared<vesk::RawAudioData>();
    a->left.assign(frames, 0.5f);
    if (channels == 2)
        a->right.assign(frames, 0.25f);
    a->channels = channels;
    return a;
}

TEST(DataModel, PlayableLength)
{
    struct Case
    {
        size_t frames;
        int channels;
        int64_t offset;
        uint64_t length;
        uint64_t expected;
    };
    const Case cases[] = {
        {1000, 1, 0, 0, 1000},    // length 0: to the end
        {1000, 2, 100, 0, 900},   // from the offset to the end
        {1000, 1, 100, 50, 50},   // an explicit length
        {1000, 1, 100, 5000, 900}, // a length past the end is cut
        {1000, 1, -20, 10, 10},   // a negative offset counts as 0
        {1000, 1, 1000, 0, 0},    // offset at the end: not playable
        {1000, 1, 5000, 10, 0},   // offset beyond the end
        {1000, 0, 0, 0, 0},       // placeholder (channels 0)
        {0, 1, 0, 0, 0},          // empty audio
    };
    for (const Case& c : cases) {
        vesk::SampleData region{audio(c.frames, c.channels), c.offset, c.length};
        EXPECT_EQ(vesk::playableLength(region), c.expected)
            << c.frames << " frames, offset " << c.offset << ", length " << c.length;
        EXPECT_EQ(vesk::isPlayable(region), c.expected > 0);
    }
    EXPECT_EQ(vesk::playableLength(vesk::SampleData{}), 0u);
}

TEST(DataModel, Defaults)
{
    vesk::SamplePool pool;
    EXPECT_EQ(pool.lpfHz, 20000.0f);
    EXPECT_EQ(pool.hpfHz, 0.0f);
    EXPECT_EQ(pool.outputRoute, vesk::PoolRoute::Bus1);
    EXPECT_EQ(pool.lastPick, -1);
    EXPECT_EQ(pool.pitch.lastQuadrant, -1);
    EXPECT_EQ(pool.lastTrigger.gain, 1.0f);
    EXPECT_EQ(pool.lastTrigger.pitchRatio, 1.0f);
    EXPECT_FALSE(pool.volumeEnv.active());
    EXPECT_EQ(vesk::poolRouteFromByte(2), vesk::PoolRoute::Master);
    EXPECT_EQ(vesk::poolRouteFromByte(3), vesk::PoolRoute::Bus1);
    EXPECT_EQ(vesk::poolRouteFromByte(5), vesk::PoolRoute::Bus1);
}

TEST(DataModel, XS64RandSteps)
{
    // First values for state 1, computed by hand from the shifts:
    // 1 ^ (1 << 25) = 0x2000001; ^ (>> 27) leaves it: state 0x2000001.
    XS64Rand r{1};
    const uint64_t out = r.next();
    EXPECT_EQ(r.state, 0x2000001ULL);
    EXPECT_EQ(out, 0x2000001ULL * 0x2545F4914F6CDD1DULL);
    XS64Rand u{12345};
    for (int i = 0; i < 1000; ++i) {
        const double x = u.uniform();
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
    }
}

} // namespace
