// Voice playback, checked on the rendered sound.
#include "engine/Voice.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

namespace vesk {
namespace {

constexpr double kRate = 48000.0;

std::shared_ptr<RawAudioData> makeAudio(std::vector<float> left, std::vector<float> right = {},
                                        double rate = kRate)
{
    auto a = std::make_shared<RawAudioData>();
    a->channels = right.empty() ? 1 : 2;
    a->left = std::move(left);
    a->right = std::move(right);
    a->sampleRate = rate;
    a->path = "/test.wav";
    return a;
}

// A pool's knobs and envelopes as the voice sees them, with a trigger that fills in the rest.
struct Play
{
    SampleData region;
    float volume = 0.0f; // dB
    float pan = 0.0f;    // percent
    float pitch = 0.0f;  // semitones
    float hpf = 0.0f;
    float lpf = 20000.0f;
    EnvelopeData volumeEnv, panEnv, pitchEnv, hpfEnv, lpfEnv;
    float volumeOffsetDb = 0.0f;
    float panOffset = 0.0f;
    float pitchOffset = 0.0f;
    float delayMs = 0.0f;
    float startPercent = 0.0f;
    bool reverse = false;
    double rate = kRate;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;

    void trigger(Voice& v)
    {
        v.trigger(&region, &volume, volumeOffsetDb, &pan, panOffset, &pitch, pitchOffset, delayMs,
                  startPercent, reverse, rate, &volumeEnv, &panEnv, &pitchEnv, &hpf, &lpf, &hpfEnv,
                  &lpfEnv, fadeIn, fadeOut);
    }
};

struct Stereo
{
    std::vector<float> left, right;
};

// Renders until the voice ends (or maxFrames), in blocks of `block`.
Stereo renderAll(Voice& v, size_t maxFrames, uint32_t block = 512)
{
    Stereo out;
    out.left.assign(maxFrames, 0.0f);
    out.right.assign(maxFrames, 0.0f);
    size_t pos = 0;
    while (pos < maxFrames && v.isActive()) {
        const uint32_t n = uint32_t(std::min<size_t>(block, maxFrames - pos));
        v.render(out.left.data() + pos, out.right.data() + pos, n);
        pos += n;
    }
    return out;
}

// Index one past the last sample above threshold.
size_t endOfSound(const std::vector<float>& x, float threshold = 1e-6f)
{
    size_t end = 0;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::abs(x[i]) > threshold)
            end = i + 1;
    return end;
}

TEST(Voice, PitchChangesFrequency)
{
    struct Case
    {
        float semitones;
        double expectedHz;
    };
    // 1 kHz at +12 st is 2 kHz, at -12 st 500 Hz, at +7 st 1000 * 2^(7/12).
    for (const Case c : {Case{12.0f, 2000.0}, Case{-12.0f, 500.0},
                         Case{7.0f, 1000.0 * std::exp2(7.0 / 12.0)}, Case{0.0f, 1000.0}}) {
        Play s;
        s.region.audio = makeAudio(test::sine(1000.0, kRate, 48000, 0.5));
        s.pitch = c.semitones;
        Voice v;
        s.trigger(v);
        const Stereo out = renderAll(v, 16384);
        const double f = test::dominantFrequency(out.left.data() + 1000, 8192, kRate);
        EXPECT_NEAR(f, c.expectedHz, c.expectedHz * 0.001) << c.semitones << " st";
    }
}

TEST(Voice, FileRateOtherThanEngineRatePlaysAtItsSpeed)
{
    // Audio still at 96 kHz (a reload that failed) plays at the right pitch at 48 kHz, and
    // audio at 24 kHz likewise; the length follows.
    for (double fileRate : {96000.0, 24000.0}) {
        Play s;
        s.region.audio =
            makeAudio(test::sine(1000.0, fileRate, size_t(fileRate / 2), 0.5), {}, fileRate);
        Voice v;
        s.trigger(v);
        const Stereo out = renderAll(v, 48000);
        EXPECT_NEAR(test::dominantFrequency(out.left.data() + 1000, 16384, kRate), 1000.0, 1.0)
            << fileRate;
        EXPECT_NEAR(double(endOfSound(out.left, 1e-3f)), 24000.0, 2.0) << fileRate;
    }
}

TEST(Voice, PitchedSineIsClean)
{
    // A 1 kHz sine read at ratio 1.37 must be a clean 1370 Hz sine.
    Play s;
    s.region.audio = makeAudio(test::sine(1000.0, kRate, 48000, 0.5));
    s.pitchOffset = float(12.0 * std::log2(1.37));
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 30000);
    const double ratio = std::exp2(double(s.pitchOffset) / 12.0);
    const auto ref = test::sine(1000.0 * ratio, kRate, 30000);
    EXPECT_LT(test::errorDb(ref.data() + 200, out.left.data() + 200, 20000), -90.0);
}

TEST(Voice, PitchingUpDoesNotAlias)
{
    // A sine at 0.45 of the rate one octave up would land at 0.9 of the rate and fold to 0.1.
    Play s;
    s.region.audio = makeAudio(test::sine(0.45 * kRate, kRate, 48000));
    s.pitch = 12.0f;
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 20000);
    EXPECT_LT(test::toDb(test::amplitudeAt(out.left.data() + 500, 16384, 0.1 * kRate, kRate)),
              -60.0);
    EXPECT_LT(test::toDb(test::peak(out.left.data() + 500, 16384)), -60.0);
}

TEST(Voice, ReversePlaysBackwards)
{
    // A slow ramp 0.5..1 played backwards is a ramp 1..0.5 of the same length.
    const size_t n = 4800;
    std::vector<float> ramp(n);
    for (size_t i = 0; i < n; ++i)
        ramp[i] = 0.5f + 0.5f * float(i) / float(n - 1);
    Play s;
    s.region.audio = makeAudio(ramp);
    s.reverse = true;
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, n + 1000);
    EXPECT_FALSE(v.isActive());
    EXPECT_EQ(endOfSound(out.left, 1e-3f), n);
    for (size_t k = 100; k < n - 100; k += 97)
        EXPECT_NEAR(out.left[k], ramp[n - 1 - k], 1e-3) << k;
}

TEST(Voice, PlaysWholeRegionOnce)
{
    // At ratio 1 a region of 1000 frames gives 1000 output frames, then the voice is idle.
    Play s;
    s.region.audio = makeAudio(std::vector<float>(1000, 0.5f));
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 3000, 300);
    EXPECT_FALSE(v.isActive());
    EXPECT_EQ(endOfSound(out.left), 1000u);
    EXPECT_NEAR(out.left[500], 0.5f, 1e-4);
}

TEST(Voice, DelayShiftsTheStart)
{
    Play s;
    s.region.audio = makeAudio(std::vector<float>(2000, 0.5f));
    s.delayMs = 25.0f; // 1200 samples at 48 kHz
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 5000, 256);
    EXPECT_EQ(test::firstAbove(out.left.data(), out.left.size(), 0.01), 1200);
    EXPECT_EQ(endOfSound(out.left), 3200u);
}

TEST(Voice, DelayLongerThanBlockLeavesBuffersAlone)
{
    Play s;
    s.region.audio = makeAudio(std::vector<float>(2000, 0.5f));
    s.delayMs = 100.0f;
    Voice v;
    s.trigger(v);
    std::vector<float> l(512, 7.0f), r(512, 7.0f);
    EXPECT_EQ(v.render(l.data(), r.data(), 512), 0.0f);
    EXPECT_EQ(v.delayRemaining, 4800 - 512);
    for (size_t i = 0; i < 512; ++i)
        ASSERT_TRUE(l[i] == 7.0f && r[i] == 7.0f);
}

TEST(Voice, FadesAreLinearInOutputSamples)
{
    // 4800 frames of 0.5 with fade-in 0.25 (1200 samples) and fade-out 0.5 (2400 samples).
    Play s;
    s.region.audio = makeAudio(std::vector<float>(4800, 0.5f));
    s.fadeIn = 0.25f;
    s.fadeOut = 0.5f;
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 6000);
    // fade-in gain at output k: 1 - (1200 - k) / 1200 = k / 1200
    for (int k : {0, 300, 600, 1199})
        EXPECT_NEAR(out.left[size_t(k)], 0.5 * k / 1200.0, 1e-4) << k;
    EXPECT_NEAR(out.left[2000], 0.5, 1e-4);
    // fade-out from output 2400: gain 1 - (k - 2400) / 2400
    for (int k : {2400, 3000, 3600, 4799})
        EXPECT_NEAR(out.left[size_t(k)], 0.5 * (1.0 - (k - 2400) / 2400.0), 1e-4) << k;
}

TEST(Voice, MidSoundStartFadesIn)
{
    // A start in the middle of the sound always fades in over 5 ms (240 samples).
    Play s;
    s.region.audio = makeAudio(std::vector<float>(48000, 0.5f));
    s.startPercent = 50.0f;
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 30000);
    EXPECT_NEAR(out.left[120], 0.25, 1e-3);
    EXPECT_NEAR(out.left[240], 0.5, 1e-4);
    EXPECT_EQ(endOfSound(out.left), 24000u);
}

TEST(Voice, StopFadeLasts5Ms)
{
    Play s;
    s.region.audio = makeAudio(std::vector<float>(48000, 0.5f));
    Voice v;
    s.trigger(v);
    std::vector<float> l(1000, 0.0f), r(1000, 0.0f);
    v.render(l.data(), r.data(), 100);
    v.beginStop();
    EXPECT_EQ(v.state, Voice::kStopping);
    EXPECT_EQ(v.stopLength, 240);
    v.render(l.data() + 100, r.data() + 100, 900);
    EXPECT_FALSE(v.isActive());
    // gain stopRemaining / 240 from 240 down to 1, then silence
    EXPECT_NEAR(l[100], 0.5, 1e-4);
    EXPECT_NEAR(l[100 + 120], 0.5 * 120.0 / 240.0, 1e-4);
    EXPECT_NEAR(l[100 + 239], 0.5 / 240.0, 1e-4);
    EXPECT_EQ(endOfSound(l), 340u);

    // Only a playing voice starts the stop fade; an idle one stays idle.
    Voice idle;
    idle.beginStop();
    EXPECT_EQ(idle.state, Voice::kIdle);
}

TEST(Voice, StopDuringDelayIsSilent)
{
    Play s;
    s.region.audio = makeAudio(std::vector<float>(4800, 0.5f));
    s.delayMs = 50.0f;
    Voice v;
    s.trigger(v);
    v.beginStop();
    const Stereo out = renderAll(v, 10000);
    EXPECT_FALSE(v.isActive());
    EXPECT_EQ(test::peak(out.left), 0.0);
}

// Gain of the voice's filters at one frequency, measured on a rendered sine.
double filterGainDb(float hpf, float lpf, double freqHz, double rate = kRate)
{
    Play s;
    s.region.audio = makeAudio(test::sine(freqHz, rate, 24000, 0.5), {}, rate);
    s.rate = rate;
    s.hpf = hpf;
    s.lpf = lpf;
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 24000);
    return test::toDb(test::amplitudeAt(out.left.data() + 4000, 16384, freqHz, rate) / 0.5);
}

TEST(Voice, FiltersHaveButterworthCorners)
{
    struct Case
    {
        float hpf, lpf;
        double freq, expectedDb;
    };
    // A second-order Butterworth is -3.01 dB at its corner and -12 dB per octave beyond it.
    const Case cases[] = {
        {0.0f, 1000.0f, 1000.0, -3.01}, {2000.0f, 20000.0f, 2000.0, -3.01},
        {0.0f, 5000.0f, 5000.0, -3.01}, {100.0f, 20000.0f, 100.0, -3.01},
        {0.0f, 1000.0f, 100.0, 0.0},    {1000.0f, 20000.0f, 10000.0, 0.0},
        {0.0f, 19999.0f, 1000.0, 0.0},  {0.0f, 20000.0f, 18000.0, 0.0},
        {0.0f, 1000.0f, 4000.0, -24.1}, {4000.0f, 20000.0f, 1000.0, -24.1},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(filterGainDb(c.hpf, c.lpf, c.freq), c.expectedDb, 0.5)
            << "hpf " << c.hpf << " lpf " << c.lpf << " at " << c.freq;
}

TEST(Voice, FilterCutoffIsClampedToTheRate)
{
    // At 32 kHz a low-pass of 18000 Hz runs at 0.49 * 32000 = 15680 Hz.
    EXPECT_NEAR(filterGainDb(0.0f, 18000.0f, 15680.0, 32000.0),
                filterGainDb(0.0f, 15680.0f, 15680.0, 32000.0), 0.01);
    // A high-pass of 0.5 Hz runs at 1 Hz.
    EXPECT_NEAR(filterGainDb(0.5f, 20000.0f, 2.0), filterGainDb(1.0f, 20000.0f, 2.0), 0.01);
}

TEST(Voice, PanLaw)
{
    struct Case
    {
        float pan;
        double left, right;
    };
    // theta = (P + 1) pi / 4; gains cos and sin times sqrt 2: unity at the centre, +3 dB at the
    // edge.
    const Case cases[] = {
        {0.0f, 1.0, 1.0},
        {-100.0f, std::sqrt(2.0), 0.0},
        {100.0f, 0.0, std::sqrt(2.0)},
        {50.0f, std::sqrt(2.0) * std::cos(0.375 * M_PI), std::sqrt(2.0) * std::sin(0.375 * M_PI)},
        {-150.0f, std::sqrt(2.0), 0.0},
        {400.0f, 0.0, std::sqrt(2.0)},
    };
    for (const Case& c : cases) {
        Play s;
        s.region.audio = makeAudio(std::vector<float>(2000, 0.5f));
        s.pan = c.pan;
        Voice v;
        s.trigger(v);
        const Stereo out = renderAll(v, 2000);
        EXPECT_NEAR(out.left[1000], 0.5 * c.left, 1e-4) << c.pan;
        EXPECT_NEAR(out.right[1000], 0.5 * c.right, 1e-4) << c.pan;
    }
}

TEST(Voice, VolumeLimits)
{
    struct Case
    {
        float db;
        double gain;
    };
    // Below -48 dB is silence; above +6 dB plays at +6 dB.
    for (const Case c : {Case{-50.0f, 0.0}, Case{10.0f, std::pow(10.0, 6.0 / 20.0)},
                         Case{-6.0f, std::pow(10.0, -6.0 / 20.0)}}) {
        Play s;
        s.region.audio = makeAudio(std::vector<float>(2000, 0.5f));
        s.volume = c.db;
        Voice v;
        s.trigger(v);
        const Stereo out = renderAll(v, 2000);
        EXPECT_NEAR(out.left[1000], 0.5 * c.gain, 1e-5) << c.db;
    }
}

TEST(Voice, StereoKeepsItsChannels)
{
    Play s;
    s.region.audio = makeAudio(test::sine(440.0, kRate, 4800, 0.5), std::vector<float>(4800, 0.0f));
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 4800);
    EXPECT_NEAR(test::peak(out.left.data(), 4000), 0.5, 1e-3);
    EXPECT_LT(test::peak(out.right), 1e-6);
}

TEST(Voice, KnobsActOnPlayingVoice)
{
    Play s;
    s.region.audio = makeAudio(test::sine(1000.0, kRate, 96000, 0.5));
    Voice v;
    s.trigger(v);
    Stereo a = renderAll(v, 16384, 2048);
    s.pitch = 12.0f; // the knob moves while the voice plays
    Stereo b = renderAll(v, 16384, 2048);
    EXPECT_NEAR(test::dominantFrequency(a.left.data() + 500, 8192, kRate), 1000.0, 1.0);
    EXPECT_NEAR(test::dominantFrequency(b.left.data() + 500, 8192, kRate), 2000.0, 2.0);
}

TEST(Voice, EnvelopesShapeTheRun)
{
    // Volume envelope: -6 dB from the start to the end.
    Play s;
    s.region.audio = makeAudio(std::vector<float>(48000, 0.5f));
    s.volumeEnv.count = 2;
    s.volumeEnv.enabled = true;
    s.volumeEnv.points[0] = {0.0f, -6.0f};
    s.volumeEnv.points[1] = {1.0f, -6.0f};
    // Pan envelope point of +150 percent drives the pan to the right edge and stops there.
    s.panEnv.count = 1;
    s.panEnv.enabled = true;
    s.panEnv.points[0] = {0.0f, 150.0f};
    Voice v;
    s.trigger(v);
    const Stereo out = renderAll(v, 48000);
    EXPECT_NEAR(out.right[24000], 0.5 * std::pow(10.0, -6.0 / 20.0) * std::sqrt(2.0), 1e-4);
    EXPECT_NEAR(out.left[24000], 0.0, 1e-6);
}

TEST(Voice, EnvelopeEvaluation)
{
    EnvelopeData e;
    e.count = 3;
    e.enabled = true;
    e.points[0] = {0.25f, 10.0f};
    e.points[1] = {0.5f, 20.0f};
    e.points[2] = {0.75f, 0.0f};
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.0f, 4.0f), 4.0f); // ramp from the start value
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.125f, 4.0f), 7.0f);
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.375f, 0.0f), 15.0f);
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.625f, 0.0f), 10.0f);
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.9f, 0.0f), 0.0f);
    e.points[1].y = std::nanf("");
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.375f, 3.0f), 3.0f); // non-finite counts as no change
    e.points[0] = {0.6f, 1.0f};                               // out of order: no segment matches
    EXPECT_FLOAT_EQ(evaluateEnvelope(e, 0.7f, 0.0f), 0.0f);
}

TEST(Voice, EdgeStarts)
{
    Play s;
    s.region.audio = makeAudio(std::vector<float>(1000, 0.5f));
    // Start at 100 % leaves nothing to play; the voice ends within its first chunk.
    s.startPercent = 100.0f;
    Voice v;
    s.trigger(v);
    EXPECT_EQ(renderAll(v, 4096).left, std::vector<float>(4096, 0.0f));
    EXPECT_FALSE(v.isActive());
    // Out-of-range and non-finite starts are clamped rather than read outside the region.
    for (float start : {1e30f, -5.0f, std::nanf(""), std::numeric_limits<float>::infinity()}) {
        s.startPercent = start;
        s.trigger(v);
        renderAll(v, 4096);
        EXPECT_FALSE(v.isActive()) << start;
    }
}

TEST(Voice, RegionThatBecomesUnplayableEnds)
{
    Play s;
    s.region.audio = makeAudio(std::vector<float>(48000, 0.5f));
    Voice v;
    s.trigger(v);
    std::vector<float> l(256), r(256);
    v.render(l.data(), r.data(), 256);
    s.region.offset = 1 << 20; // beyond the file: nothing left to play
    EXPECT_EQ(v.render(l.data(), r.data(), 256), 0.0f);
    EXPECT_FALSE(v.isActive());
}

TEST(Voice, ExtremePitchStaysBounded)
{
    for (float pitch : {1e30f, -1e30f, std::nanf(""), 1000.0f}) {
        Play s;
        s.region.audio = makeAudio(test::sine(100.0, kRate, 48000, 0.5));
        s.pitch = pitch;
        Voice v;
        s.trigger(v);
        std::vector<float> l(4096), r(4096);
        const float peak = v.render(l.data(), r.data(), 4096);
        EXPECT_TRUE(std::isfinite(peak)) << pitch;
        EXPECT_LT(v.resampler.ratio(), SincResampler::kMaxRatio + 1e-9);
        for (float x : l)
            ASSERT_TRUE(std::isfinite(x));
    }
}

// Energy of a - b over the energy of a, in dB (-300 when they are equal).
double differenceDb(const std::vector<float>& a, const std::vector<float>& b)
{
    double e = 0.0, ref = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        e += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
        ref += double(a[i]) * a[i];
    }
    return e == 0.0 ? -300.0 : 10.0 * std::log10(e / std::max(ref, 1e-300));
}

// The voice's output against a plain model written from the playback rules: the interpolator's
// frames for the whole region, then per sample the fades, the stop fade, the high-pass and the
// low-pass (trapezoidal state-variable filters, one step after the other) and the pan gains. The
// voice runs its filters as lanes of a vector; a lane that reads the wrong sample or loses its
// state between chunks and calls shows here.
TEST(Voice, MatchesAPlainModelOfTheRules)
{
    struct Case
    {
        int channels;
        float hpf, lpf;
        float fadeIn, fadeOut, startPercent;
        int stopAt; // output frame of a stop; -1 for none
        uint32_t block;
    };
    const Case cases[] = {
        {2, 120.0f, 6000.0f, 0.0f, 0.0f, 0.0f, -1, 512},
        {1, 120.0f, 6000.0f, 0.0f, 0.0f, 0.0f, -1, 512},
        {2, 0.0f, 3000.0f, 0.1f, 0.2f, 0.0f, -1, 1},
        {1, 2500.0f, 20000.0f, 0.1f, 0.2f, 0.0f, -1, 100},
        {2, 40.0f, 20000.0f, 0.0f, 0.0f, 25.0f, 9000, 4097},
        {1, 300.0f, 900.0f, 0.0f, 0.3f, 0.0f, 7001, 3},
        {2, 0.0f, 20000.0f, 0.25f, 0.25f, 0.0f, 5000, 700},
        {1, 15000.0f, 18000.0f, 0.0f, 0.0f, 10.0f, -1, 2048},
    };
    constexpr double kK = 1.4142135623730951;
    for (const Case& c : cases) {
        Play s;
        const size_t n = 24000;
        s.region.audio =
            makeAudio(test::noise(n, 21, 0.5),
                      c.channels == 2 ? test::noise(n, 22, 0.5) : std::vector<float>{});
        s.pitch = 2.6f;
        s.volume = -4.0f;
        s.pan = 30.0f;
        s.hpf = c.hpf;
        s.lpf = c.lpf;
        s.fadeIn = c.fadeIn;
        s.fadeOut = c.fadeOut;
        s.startPercent = c.startPercent;
        Voice v;
        s.trigger(v);
        const size_t total = 40000;
        Stereo out;
        out.left.assign(total, 0.0f);
        out.right.assign(total, 0.0f);
        for (size_t pos = 0; pos < total && v.isActive();) {
            if (c.stopAt >= 0 && pos >= size_t(c.stopAt))
                v.beginStop();
            const uint32_t b = uint32_t(std::min<size_t>(c.block, total - pos));
            v.render(out.left.data() + pos, out.right.data() + pos, b);
            pos += b;
        }

        // The model. Interpolator frames for the whole run, the region's frames then 16 zeros.
        const int64_t start = int64_t(double(c.startPercent) * double(n) * 0.01);
        const double ratio = std::exp2(double(s.pitch) / 12.0);
        SincResampler rs;
        rs.setRates(kRate * ratio, kRate);
        std::vector<float> src[2];
        const RawAudioData& audio = *s.region.audio;
        for (int ch = 0; ch < c.channels; ++ch) {
            const std::vector<float>& x = ch == 0 ? audio.left : audio.right;
            src[ch].assign(x.begin() + start, x.end());
            src[ch].resize(src[ch].size() + SincResampler::kHalfTaps, 0.0f);
        }
        std::vector<float> frames[2];
        for (size_t fed = 0;;) {
            const int need = rs.inputNeeded(1024);
            const int k = int(std::min<size_t>(size_t(need), src[0].size() - fed));
            for (int ch = 0; ch < c.channels; ++ch)
                std::copy(src[ch].begin() + int64_t(fed), src[ch].begin() + int64_t(fed) + k,
                          rs.inputWrite(ch));
            rs.commitInput(k);
            fed += size_t(k);
            float a[1024], b[1024];
            float* o[2] = {a, b};
            const int got = rs.process(o, c.channels, 1024);
            if (got == 0 && fed == src[0].size())
                break;
            for (int ch = 0; ch < c.channels; ++ch)
                frames[ch].insert(frames[ch].end(), o[ch], o[ch] + got);
        }

        const int64_t expected = int64_t(kRate * double(n - start) / (kRate * ratio));
        int64_t fadeInLen = int64_t(double(c.fadeIn) * double(expected));
        if (start > 0)
            fadeInLen = std::max<int64_t>(fadeInLen, int64_t(kRate * 0.005));
        const int64_t fadeOutLen = int64_t(double(c.fadeOut) * double(expected));
        const int64_t fadeOutStart = expected - fadeOutLen;
        const int64_t stopLen = 240;
        const double g = std::exp(double(s.volume) * std::log(10.0) / 20.0);
        const double theta = (0.3 + 1.0) * M_PI * 0.25;
        const double gains[2] = {std::cos(theta) * g * M_SQRT2, std::sin(theta) * g * M_SQRT2};
        auto coeffs = [](double f) {
            f = std::clamp(f, 1.0, 0.49 * kRate);
            const double t = std::tan(M_PI * f / kRate);
            const double a1 = 1.0 / (1.0 + t * (t + kK));
            return std::array<double, 3>{a1, t * a1, t * t * a1};
        };
        const auto hp = coeffs(c.hpf), lp = coeffs(c.lpf);
        double state[2][2][2] = {}; // [filter][channel][s1, s2]
        auto tick = [](const std::array<double, 3>& a, double* st, double x, bool high) {
            const double bp = a[0] * st[0] + a[1] * (x - st[1]);
            const double l = st[1] + a[1] * st[0] + a[2] * (x - st[1]);
            st[0] = 2.0 * bp - st[0];
            st[1] = 2.0 * l - st[1];
            return high ? x - kK * bp - l : l;
        };
        std::vector<float> model[2] = {std::vector<float>(total, 0.0f),
                                       std::vector<float>(total, 0.0f)};
        // The stop arrives with the first block that starts at or after stopAt. Its fade lasts
        // 240 frames; the voice ends with the chunk (a block, or 2048 frames of it) that holds
        // the last of them, and until then the filters ring on.
        const int64_t block = c.block;
        const int64_t stopFrom =
            c.stopAt < 0 ? INT64_MAX : (int64_t(c.stopAt) + block - 1) / block * block;
        int64_t stopEnd = INT64_MAX;
        if (c.stopAt >= 0) {
            const int64_t last = stopFrom + 239;
            const int64_t call = last / block * block;
            stopEnd = std::min(call + block, call + (last - call) / 2048 * 2048 + 2048);
        }
        for (int64_t i = 0; i < int64_t(frames[0].size()) && i < int64_t(total); ++i) {
            double gain = 1.0;
            if (i < fadeInLen)
                gain *= 1.0 - double(fadeInLen - i) / double(fadeInLen);
            if (fadeOutLen >= 1 && i >= fadeOutStart)
                gain *= i - fadeOutStart >= fadeOutLen
                            ? 0.0
                            : 1.0 - double(i - fadeOutStart) / double(fadeOutLen);
            if (i >= stopEnd)
                break;
            if (i >= stopFrom) {
                const int64_t left = stopLen - (i - stopFrom);
                gain *= left < 1 ? 0.0 : double(left) / double(stopLen);
            }
            double y[2] = {};
            for (int ch = 0; ch < c.channels; ++ch) {
                y[ch] = double(frames[ch][size_t(i)]) * gain;
                if (c.hpf > 0.0f)
                    y[ch] = tick(hp, state[0][ch], y[ch], true);
                if (c.lpf < 20000.0f)
                    y[ch] = tick(lp, state[1][ch], y[ch], false);
            }
            if (c.channels == 1)
                y[1] = y[0];
            for (int ch = 0; ch < 2; ++ch)
                model[ch][size_t(i)] = float(gains[ch] * y[ch]);
        }
        EXPECT_LT(differenceDb(model[0], out.left), -120.0)
            << c.channels << " channels, block " << c.block;
        EXPECT_LT(differenceDb(model[1], out.right), -120.0)
            << c.channels << " channels, block " << c.block;
    }
}

TEST(Voice, SameInputSameBits)
{
    Play s;
    s.region.audio = makeAudio(test::noise(20000, 7, 0.5), test::noise(20000, 8, 0.5));
    s.pitch = 3.3f;
    s.lpf = 3000.0f;
    s.hpf = 200.0f;
    Voice a, b;
    s.trigger(a);
    s.trigger(b);
    const Stereo x = renderAll(a, 20000, 333);
    const Stereo y = renderAll(b, 20000, 333);
    EXPECT_EQ(x.left, y.left);
    EXPECT_EQ(x.right, y.right);
}

TEST(Voice, SameBitsWhateverTheBlockSize)
{
    // Neither the read position nor the filters may depend on how the caller splits the output
    // into blocks: each filter layout, mono and stereo, with fades and an envelope.
    struct Case
    {
        const char* name;
        bool stereo;
        float hpf, lpf;
        bool fades, envelope;
    };
    const Case cases[] = {
        {"low-pass", true, 0.0f, 5000.0f, false, false},
        {"high-pass", false, 300.0f, 20000.0f, false, false},
        {"both, mono", false, 120.0f, 6000.0f, false, false},
        {"both, stereo", true, 120.0f, 6000.0f, false, false},
        {"both, mono, fades and envelope", false, 80.0f, 9000.0f, true, true},
        {"both, stereo, fades and envelope", true, 80.0f, 9000.0f, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Play s;
        s.region.audio = c.stereo
                             ? makeAudio(test::noise(30000, 9, 0.5), test::noise(30000, 10, 0.5))
                             : makeAudio(test::noise(30000, 9, 0.5), {});
        s.pitch = 4.7f;
        s.hpf = c.hpf;
        s.lpf = c.lpf;
        if (c.fades) {
            s.fadeIn = 0.1f;
            s.fadeOut = 0.2f;
        }
        if (c.envelope) {
            s.lpfEnv.enabled = true;
            s.lpfEnv.count = 3;
            s.lpfEnv.points[0] = {0.0f, 2000.0f};
            s.lpfEnv.points[1] = {0.5f, 12000.0f};
            s.lpfEnv.points[2] = {1.0f, 4000.0f};
        }
        Voice ref;
        s.trigger(ref);
        const Stereo expected = renderAll(ref, 30000, 512);
        for (uint32_t block : {1u, 7u, 63u, 2048u, 4097u}) {
            Voice v;
            s.trigger(v);
            const Stereo out = renderAll(v, 30000, block);
            EXPECT_TRUE(out.left == expected.left && out.right == expected.right)
                << "blocks of " << block;
        }
    }
}

TEST(Voice, KnobsMovedInsideARenderSoundLikeRendersCutAtTheMoves)
{
    // Host automation moves the knobs inside a block: one render told where they move (and
    // perhaps which moves leave the pitch alone) must give the bits of separate renders cut
    // there, with the knobs set between them. Filters switching on and off, pitch moves, an
    // envelope's grid, a delay, fades, a stop, the region's end, moves at a block's first frame,
    // several at one frame and moves past the render's end.
    struct Move
    {
        uint32_t frame; // from the trigger
        int knob;       // 0 volume, 1 pan, 2 pitch, 3 high-pass, 4 low-pass
        float value;
    };
    const std::vector<Move> moves = {
        {0, 3, 150.0f},     {40, 0, -3.0f},     {40, 4, 7000.0f},    {41, 1, 30.0f},
        {512, 2, 2.5f},     {700, 3, 0.0f},     {701, 3, 90.0f},     {1000, 4, 20000.0f},
        {1003, 0, -60.0f},  {1100, 0, 1.0f},    {2047, 4, 3000.0f},  {2048, 2, -7.0f},
        {2049, 1, -100.0f}, {3000, 3, 0.0f},    {3001, 4, 20000.0f}, {3500, 3, 400.0f},
        {4095, 1, 80.0f},   {4096, 4, 9000.0f}, {5000, 2, 0.3f},     {6001, 0, -6.0f},
    };
    struct Case
    {
        const char* name;
        bool stereo, envelope, fades;
        float delayMs;
        uint32_t stopAt; // 0: never
    };
    const Case cases[] = {
        {"stereo", true, false, false, 0.0f, 0},
        {"mono, envelope", false, true, false, 0.0f, 0},
        {"stereo, envelope, fades", true, true, true, 0.0f, 0},
        {"mono, delay, fades", false, false, true, 15.0f, 0},
        {"stereo, delay, envelope, stop", true, true, false, 22.0f, 4608},
    };
    constexpr size_t kFrames = 8192;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Play s;
        s.region.audio = c.stereo
                             ? makeAudio(test::noise(7000, 21, 0.5), test::noise(7000, 22, 0.5))
                             : makeAudio(test::noise(7000, 21, 0.5), {});
        s.pitch = 1.3f;
        s.lpf = 12000.0f;
        s.volumeOffsetDb = -1.0f;
        s.panOffset = 10.0f;
        s.pitchOffset = 0.2f;
        s.delayMs = c.delayMs;
        if (c.fades) {
            s.fadeIn = 0.05f;
            s.fadeOut = 0.3f;
        }
        if (c.envelope) {
            s.volumeEnv.enabled = true;
            s.volumeEnv.count = 2;
            s.volumeEnv.points[0] = {0.0f, -12.0f};
            s.volumeEnv.points[1] = {1.0f, 3.0f};
            s.hpfEnv.enabled = true;
            s.hpfEnv.count = 2;
            s.hpfEnv.points[0] = {0.3f, 500.0f};
            s.hpfEnv.points[1] = {0.9f, 50.0f};
        }
        float* const knobs[5] = {&s.volume, &s.pan, &s.pitch, &s.hpf, &s.lpf};
        const Play initial = s;
        auto reset = [&] {
            s.volume = initial.volume;
            s.pan = initial.pan;
            s.pitch = initial.pitch;
            s.hpf = initial.hpf;
            s.lpf = initial.lpf;
        };

        // Reference: the voice rendered in pieces cut at every move.
        reset();
        Voice ref;
        s.trigger(ref);
        Stereo expected{std::vector<float>(kFrames), std::vector<float>(kFrames)};
        size_t next = 0;
        for (uint32_t at = 0; at < kFrames && ref.isActive();) {
            while (next < moves.size() && moves[next].frame <= at) {
                *knobs[moves[next].knob] = moves[next].value;
                ++next;
            }
            if (c.stopAt != 0 && at == c.stopAt)
                ref.beginStop();
            uint32_t to = uint32_t(kFrames);
            if (next < moves.size())
                to = std::min(to, moves[next].frame);
            if (c.stopAt > at)
                to = std::min(to, c.stopAt);
            ref.render(expected.left.data() + at, expected.right.data() + at, to - at);
            at = to;
        }
        EXPECT_GT(test::peak(expected.left), 0.01f);

        for (const auto& [block, told] :
             {std::pair{512u, false}, std::pair{512u, true}, std::pair{333u, true},
              std::pair{4096u, false}, std::pair{4096u, true}}) {
            SCOPED_TRACE(testing::Message() << block << (told ? ", told what moves" : ""));
            reset();
            Voice v;
            s.trigger(v);
            Stereo out{std::vector<float>(kFrames), std::vector<float>(kFrames)};
            struct Context
            {
                float* const* knobs;
                const Move* moves;
            };
            for (uint32_t at = 0; at < kFrames && v.isActive();) {
                // A stop comes between blocks: a block ends at it.
                if (c.stopAt != 0 && at == c.stopAt)
                    v.beginStop();
                uint32_t end = std::min<uint32_t>(at + block, uint32_t(kFrames));
                if (c.stopAt > at)
                    end = std::min(end, c.stopAt);
                // The moves of [at, end), and the first one after as well: a move at or past the
                // end is never applied.
                std::vector<uint32_t> frames;
                std::vector<uint8_t> what;
                std::vector<Move> inBlock;
                for (const Move& m : moves) {
                    if (m.frame < at)
                        continue;
                    if (m.frame == at) {
                        *knobs[m.knob] = m.value; // at the block's start: set before
                        continue;
                    }
                    frames.push_back(m.frame - at);
                    what.push_back(m.knob == 2 ? KnobChanges::kMovesPitch : 0);
                    inBlock.push_back(m);
                    if (m.frame >= end)
                        break;
                }
                Context ctx{knobs, inBlock.data()};
                KnobChanges changes;
                changes.frames = frames.data();
                changes.count = uint32_t(frames.size());
                changes.context = &ctx;
                if (told)
                    changes.moves = what.data();
                changes.apply = [](void* context, uint32_t i) {
                    const Context& k = *static_cast<const Context*>(context);
                    *k.knobs[k.moves[i].knob] = k.moves[i].value;
                };
                v.render(out.left.data() + at, out.right.data() + at, end - at, &changes);
                // Whatever the voice reached, the knobs hold every move before the end now.
                for (const Move& m : inBlock)
                    if (m.frame < end)
                        *knobs[m.knob] = m.value;
                at = end;
            }
            EXPECT_TRUE(out.left == expected.left && out.right == expected.right);
        }
    }
}

TEST(Voice, RenderDoesNotAllocate)
{
    Play s;
    s.region.audio = makeAudio(test::noise(48000, 3, 0.5), test::noise(48000, 4, 0.5));
    s.pitch = 5.0f;
    s.hpf = 100.0f;
    s.lpf = 8000.0f;
    s.fadeIn = 0.1f;
    s.fadeOut = 0.1f;
    s.pitchEnv.count = 2;
    s.pitchEnv.enabled = true;
    s.pitchEnv.points[1] = {1.0f, 12.0f};
    std::vector<float> l(4096), r(4096);
    Voice v;
    test::AllocCounts counts;
    {
        test::ScopedAllocCount scope(counts);
        s.trigger(v);
        for (int i = 0; i < 20 && v.isActive(); ++i) {
            v.render(l.data(), r.data(), 4096);
            if (i == 10)
                v.beginStop();
        }
    }
    EXPECT_EQ(counts.total(), 0u);
}

} // namespace
} // namespace vesk
