// Cutting recordings at their pauses.
#include "audio_files/SplitBySilence.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vesk {
namespace {

constexpr double kRate = 48000.0;
constexpr int64_t kHop = 480; // 10 ms analysis frames at 48 kHz

std::shared_ptr<RawAudioData> audioOf(std::vector<float> left, std::vector<float> right = {})
{
    auto a = std::make_shared<RawAudioData>();
    a->channels = right.empty() ? 1 : 2;
    a->left = std::move(left);
    a->right = std::move(right);
    a->sampleRate = kRate;
    a->path = "/split.wav";
    return a;
}

// Noise bursts of `burstFrames` analysis frames at the given amplitudes, each starting at an
// onset (in analysis frames), in digital silence of `totalFrames` analysis frames.
std::vector<float> bursts(const std::vector<int64_t>& onsets, const std::vector<double>& levels,
                          int64_t burstFrames, int64_t totalFrames, uint64_t seed)
{
    std::vector<float> x(size_t(totalFrames * kHop), 0.0f);
    for (size_t b = 0; b < onsets.size(); ++b) {
        const auto n = test::noise(size_t(burstFrames * kHop), seed + b, levels[b]);
        std::copy(n.begin(), n.end(), x.begin() + onsets[b] * kHop);
    }
    return x;
}

TEST(SplitBySilence, BurstsBecomeOneRegionEach)
{
    // Five 100 ms bursts, 700 ms apart, after 300 ms of silence. The leading silence only moves
    // the content start, so the first region starts with its burst; each later one starts at the
    // cut, the quietest frame of the pause, one analysis frame (10 ms) before its burst. Every
    // region holds all of its burst.
    const std::vector<int64_t> onsets = {30, 100, 170, 240, 310};
    SampleData region;
    region.audio = audioOf(bursts(onsets, std::vector<double>(5, 0.5), 10, 380, 1));
    const auto parts = splitBySilence(region);
    ASSERT_EQ(parts.size(), onsets.size());
    for (size_t k = 0; k < parts.size(); ++k) {
        EXPECT_EQ(parts[k].audio, region.audio);
        EXPECT_EQ(parts[k].offset, (onsets[k] - (k == 0 ? 0 : 1)) * kHop) << k;
        EXPECT_GE(parts[k].offset + int64_t(parts[k].length), (onsets[k] + 10) * kHop) << k;
        if (k + 1 < parts.size()) {
            EXPECT_LE(parts[k].offset + int64_t(parts[k].length), parts[k + 1].offset);
        }
    }
    // The last region ends before the trailing silence does.
    EXPECT_LT(parts.back().offset + int64_t(parts.back().length), 380 * kHop);
}

TEST(SplitBySilence, WorksInsideARegion)
{
    // The same bursts seen through a region that starts at frame 12345 of a longer file: the
    // cuts are in frames of the file.
    const std::vector<int64_t> onsets = {30, 100, 170};
    auto x = bursts(onsets, std::vector<double>(3, 0.5), 10, 240, 2);
    x.insert(x.begin(), 12345, 0.0f);
    SampleData region;
    region.audio = audioOf(x);
    region.offset = 12345;
    region.length = 240 * kHop;
    const auto parts = splitBySilence(region);
    ASSERT_EQ(parts.size(), 3u);
    for (size_t k = 0; k < parts.size(); ++k)
        EXPECT_EQ(parts[k].offset, 12345 + (onsets[k] - (k == 0 ? 0 : 1)) * kHop);
}

TEST(SplitBySilence, ShortGapsDoNotSplit)
{
    struct Case
    {
        int64_t gapFrames;
        size_t regions;
    };
    // After a loud burst the envelope falls by a fifth per frame: from about 0.29 it needs some
    // 28 frames to fall below the lower threshold (0.6 * 0.001), and 6 more to count as a pause.
    for (const Case c : {Case{5, 1}, Case{20, 1}, Case{60, 2}}) {
        const std::vector<int64_t> onsets = {10, 20 + c.gapFrames};
        SampleData region;
        region.audio = audioOf(bursts(onsets, {0.5, 0.5}, 10, 100 + c.gapFrames, 3));
        EXPECT_EQ(splitBySilence(region).size(), c.regions) << c.gapFrames;
    }
}

TEST(SplitBySilence, PauseOfSixFramesSplitsFiveDoesNot)
{
    // Two 100 ms tones whose frame level (RMS 0.00108) lies just above the upper threshold
    // (0.001, the floor being digital silence). After a tone the smoothed level falls by a fifth
    // per frame: 0.864, 0.691, then 0.553 of the threshold, below the lower threshold (0.6) in
    // the third silent frame. A gap of g silent frames therefore holds a pause of g - 2 frames.
    struct Case
    {
        int gap;
        size_t regions;
    };
    const double amplitude = 0.00108 * std::sqrt(2.0);
    for (const Case c : {Case{6, 1}, Case{7, 1}, Case{8, 2}, Case{9, 2}}) {
        const int64_t frames = 20 + 10 + c.gap + 10 + 20;
        std::vector<float> x(size_t(frames * kHop), 0.0f);
        // 1 kHz: whole periods in every 10 ms frame.
        const auto tone = test::sine(1000.0, kRate, size_t(10 * kHop), amplitude);
        std::copy(tone.begin(), tone.end(), x.begin() + 20 * kHop);
        std::copy(tone.begin(), tone.end(), x.begin() + (30 + c.gap) * kHop);
        SampleData region;
        region.audio = audioOf(x);
        EXPECT_EQ(splitBySilence(region).size(), c.regions) << "gap " << c.gap;
    }
}

TEST(SplitBySilence, LastCutNearTheContentEndIsDropped)
{
    // Tones just above the threshold, as above: a 100 ms tone, a long pause, then a tone of k
    // frames and silence to the end. The pause to the end starts two frames after the last tone
    // frame, so the content ends k + 3 frames after the cut (the frame before the short tone):
    // within 4 frames (k = 1) the cut is dropped; at 5 frames (k = 2) it stays.
    struct Case
    {
        int64_t shortFrames;
        size_t regions;
    };
    const double amplitude = 0.00108 * std::sqrt(2.0);
    for (const Case c : {Case{1, 1}, Case{2, 2}}) {
        const int64_t b = 20 + 10 + 20;
        std::vector<float> x(size_t((b + c.shortFrames + 20) * kHop), 0.0f);
        const auto tone = test::sine(1000.0, kRate, size_t(10 * kHop), amplitude);
        std::copy(tone.begin(), tone.end(), x.begin() + 20 * kHop);
        std::copy(tone.begin(), tone.begin() + c.shortFrames * kHop, x.begin() + b * kHop);
        SampleData region;
        region.audio = audioOf(x);
        const auto parts = splitBySilence(region);
        ASSERT_EQ(parts.size(), c.regions) << "short tone of " << c.shortFrames << " frames";
        EXPECT_EQ(parts[0].offset, 20 * kHop);
        if (c.regions == 2) {
            EXPECT_EQ(parts[1].offset, (b - 1) * kHop);
        }
    }
}

TEST(SplitBySilence, CutsCloserThanFiveFramesKeepTheFirst)
{
    // Tone, pause, a one-frame tone, pause, tone (all just above the threshold). The first cut is
    // the frame before the short tone. The second pause starts three frames after the short tone;
    // when the pause then swells (still below the threshold), its quietest frame is its first,
    // only four frames after the first cut, so that cut is dropped and the short tone stays with
    // what follows. In a silent pause the cut falls at the pause's end, far enough away.
    struct Case
    {
        bool swell;
        size_t regions;
    };
    const double level = 0.00108 * std::sqrt(2.0);
    for (const Case c : {Case{true, 2}, Case{false, 3}}) {
        const int64_t b = 20 + 10 + 20;
        std::vector<float> x(size_t((b + 20 + 20) * kHop), 0.0f);
        const auto tone = test::sine(1000.0, kRate, size_t(10 * kHop), level);
        std::copy(tone.begin(), tone.end(), x.begin() + 20 * kHop);
        std::copy(tone.begin(), tone.begin() + kHop, x.begin() + b * kHop);
        if (c.swell) {
            const auto quiet = test::sine(1000.0, kRate, size_t(6 * kHop), level * 0.8 / 1.08);
            std::copy(quiet.begin(), quiet.end(), x.begin() + (b + 4) * kHop);
        }
        std::copy(tone.begin(), tone.end(), x.begin() + (b + 10) * kHop);
        SampleData region;
        region.audio = audioOf(x);
        const auto parts = splitBySilence(region);
        ASSERT_EQ(parts.size(), c.regions) << (c.swell ? "swell" : "silent");
        EXPECT_EQ(parts[1].offset, (b - 1) * kHop);
    }
}

TEST(SplitBySilence, QuietPieceIsDroppedNotMerged)
{
    // The third burst is at 2 % of the others' level: below 5 % of the file's peak.
    const std::vector<int64_t> onsets = {30, 100, 170, 240};
    SampleData region;
    region.audio = audioOf(bursts(onsets, {0.5, 0.5, 0.01, 0.5}, 10, 310, 4));
    const auto parts = splitBySilence(region);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].offset, 30 * kHop);
    EXPECT_EQ(parts[1].offset, 99 * kHop);
    EXPECT_EQ(parts[2].offset, 239 * kHop);
    // A gap is left where the quiet piece was.
    EXPECT_LE(parts[1].offset + int64_t(parts[1].length), 170 * kHop);
}

TEST(SplitBySilence, StereoPausesNeedBothChannelsQuiet)
{
    // Left has two bursts with a long pause; right starts before left has faded and its own
    // fade reaches left's second burst, so both channels are never quiet together.
    const auto left = bursts({10, 90}, {0.5, 0.5}, 10, 160, 5);
    const auto right = bursts({40}, {0.5}, 30, 160, 6);
    SampleData mono;
    mono.audio = audioOf(left);
    EXPECT_EQ(splitBySilence(mono).size(), 2u);
    SampleData stereo;
    stereo.audio = audioOf(left, right);
    EXPECT_EQ(splitBySilence(stereo).size(), 1u);
}

TEST(SplitBySilence, SingleSoundIsTrimmedWithOneFrameToSpare)
{
    // Three frames of faint noise (too short to be a pause), then a decaying sound, then silence
    // to the end: one region from one frame before the sound to one frame after its loud part.
    std::vector<float> x(size_t(200 * kHop), 0.0f);
    const auto faint = test::noise(size_t(3 * kHop), 7, 1e-4);
    std::copy(faint.begin(), faint.end(), x.begin());
    const auto body = test::noise(size_t(40 * kHop), 8, 0.5);
    for (size_t i = 0; i < body.size(); ++i)
        x[size_t(3 * kHop) + i] = body[i] * float(std::exp(-double(i) / (8.0 * kHop)));
    SampleData region;
    region.audio = audioOf(x);
    const auto parts = splitBySilence(region);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].offset, 2 * kHop);
    const int64_t end = parts[0].offset + int64_t(parts[0].length);
    EXPECT_GT(end, 43 * kHop);
    EXPECT_LT(end, 120 * kHop);
    EXPECT_EQ(end % kHop, 0);
}

TEST(SplitBySilence, EdgeCases)
{
    // Ten milliseconds or less: unchanged, with the length made explicit.
    SampleData tiny;
    tiny.audio = audioOf(std::vector<float>(480, 0.3f));
    auto parts = splitBySilence(tiny);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].offset, 0);
    EXPECT_EQ(parts[0].length, 480u);

    // Digital silence: one region over the whole input.
    SampleData silence;
    silence.audio = audioOf(std::vector<float>(48000, 0.0f));
    silence.offset = 100;
    silence.length = 20000;
    parts = splitBySilence(silence);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].offset, 100);
    EXPECT_EQ(parts[0].length, 20000u);

    // A placeholder, a missing audio pointer and an offset past the end give nothing.
    SampleData placeholder;
    placeholder.audio = std::make_shared<RawAudioData>();
    EXPECT_TRUE(splitBySilence(placeholder).empty());
    EXPECT_TRUE(splitBySilence(SampleData{}).empty());
    SampleData past;
    past.audio = audioOf(std::vector<float>(1000, 0.3f));
    past.offset = 1000;
    EXPECT_TRUE(splitBySilence(past).empty());
}

} // namespace
} // namespace vesk
