// The time and space modules: pitch and formant shifting with a fixed latency, echo times,
// channel delays, stereo width, comb chords, the tape start/stop pass and the reverb's duck.
#include "ModuleRunner.h"
#include "fx/FXKnobs.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace vesk {
namespace {

using test::ModuleRunner;

constexpr double kRate = 48000.0;

std::vector<float> impulseAt(size_t frames, size_t at, float value = 1.0f)
{
    std::vector<float> x(frames, 0.0f);
    x[at] = value;
    return x;
}

// Index of the largest magnitude in [from, to).
size_t argMax(const std::vector<float>& y, size_t from, size_t to)
{
    size_t best = from;
    for (size_t i = from; i < to; ++i)
        if (std::abs(y[i]) > std::abs(y[best]))
            best = i;
    return best;
}

TEST(PitchFX, OctaveUpTurns440Into880)
{
    ModuleRunner m(FXType::Pitch);
    m.params[0] = 12.0f;
    const auto y = m.runMono(test::sine(440.0, kRate, 72000, 0.5), 512);
    EXPECT_NEAR(test::dominantFrequency(y.data() + 36000, 36000, kRate), 880.0, 3.0);
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(PitchFX, LatencyIsTheSameForEverySetting)
{
    const double centre = 12000.0;
    const auto x = test::toneBurst(30000, centre, kRate);
    double reference = 0.0;
    const struct
    {
        float pitch;
        float formant;
    } settings[] = {{0, 0}, {12, 0}, {-12, 0}, {7, 5}, {0, -12}};
    for (const auto& s : settings) {
        ModuleRunner m(FXType::Pitch);
        m.params[0] = s.pitch;
        m.params[1] = s.formant;
        const double delay = test::energyCentre(m.runMono(x, 1024)) - centre;
        if (s.pitch == 0 && s.formant == 0)
            reference = delay;
        // The dry path is aligned to the same latency: a half mix keeps one centre.
        EXPECT_NEAR(delay, reference, 0.003 * kRate) << s.pitch << " " << s.formant;
        EXPECT_GT(delay, 0.05 * kRate);
    }
    ModuleRunner half(FXType::Pitch);
    half.params[0] = 12.0f;
    half.params[2] = 0.5f;
    EXPECT_NEAR(test::energyCentre(half.runMono(x, 1024)) - centre, reference, 0.003 * kRate);
}

TEST(PitchFX, MixZeroIsTheInputDelayedByTheSameLatencyAsTheWet)
{
    // The dry path is a plain delay line: an impulse comes out whole, once, at the latency; the
    // wet path's energy centre (the tone burst above) sits at the same place.
    ModuleRunner dry(FXType::Pitch);
    dry.params[0] = 12.0f;
    dry.params[2] = 0.0f;
    const auto y = dry.runMono(impulseAt(12000, 100), 1000);
    const size_t at = argMax(y, 0, y.size());
    EXPECT_EQ(y[at], 1.0f);
    EXPECT_NEAR(test::peak(y) * test::peak(y), test::rms(y) * test::rms(y) * y.size(), 1e-6);

    const double centre = 12000.0;
    ModuleRunner wet(FXType::Pitch);
    wet.params[0] = 12.0f;
    const double delay =
        test::energyCentre(wet.runMono(test::toneBurst(30000, centre, kRate), 1024)) - centre;
    EXPECT_NEAR(delay, double(at - 100), 0.003 * kRate);
}

// Harmonic number with the largest amplitude, for a pulse train at f0 Hz.
int strongestHarmonic(const float* y, size_t n, double f0, int maxHarmonic)
{
    int best = 1;
    double bestAmp = 0.0;
    for (int h = 1; h <= maxHarmonic; ++h) {
        const double a = test::amplitudeAt(y, n, h * f0, kRate);
        if (a > bestAmp) {
            bestAmp = a;
            best = h;
        }
    }
    return best;
}

TEST(PitchFX, FormantsMoveByPitchPlusFormantSemitones)
{
    // A 200 Hz pulse train through a resonance at 1400 Hz (Q 8).
    const size_t n = 96000;
    std::vector<float> x(n, 0.0f);
    for (size_t i = 0; i < n; i += 240)
        x[i] = 1.0f;
    const double w = 2.0 * std::numbers::pi * 1400.0 / kRate;
    const double alpha = std::sin(w) / 16.0;
    const double b0 = alpha / (1 + alpha), a1 = -2 * std::cos(w) / (1 + alpha),
                 a2 = (1 - alpha) / (1 + alpha);
    double y1 = 0, y2 = 0, x2 = 0, x1 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double y = b0 * x[i] - b0 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x[i];
        y2 = y1;
        y1 = y;
        x[i] = static_cast<float>(0.5 * y);
    }
    const size_t from = n / 2;
    EXPECT_EQ(strongestHarmonic(x.data() + from, n - from, 200.0, 20), 7);

    const struct
    {
        float pitch, formant;
        double resonanceHz; // where the 1400 Hz resonance should land
    } cases[] = {
        {0.0f, 7.0f, 2100.0},    // formants up by 1.5, the pitch stays
        {12.0f, 0.0f, 2800.0},   // a plain transposition moves the formants along
        {12.0f, -12.0f, 1400.0}, // the formant shift undoes the transposition's move
        {-12.0f, 7.0f, 1050.0},  // down an octave, then up by 1.5
    };
    for (const auto& c : cases) {
        ModuleRunner m(FXType::Pitch);
        m.params[0] = c.pitch;
        m.params[1] = c.formant;
        const auto y = m.runMono(x, 512);
        const double f0 = 200.0 * std::exp2(c.pitch / 12.0);
        const int h = strongestHarmonic(y.data() + from, n - from, f0, 40);
        EXPECT_NEAR(h * f0, c.resonanceHz, 0.2 * c.resonanceHz)
            << "pitch " << c.pitch << " formant " << c.formant;
        // The pitch is the transposition alone: the harmonics of the new fundamental carry the
        // sound, not components in between.
        double onGrid = 0.0;
        double offGrid = 0.0;
        for (int k = 1; k <= 15; ++k) {
            onGrid += test::amplitudeAt(y.data() + from, n - from, k * f0, kRate);
            offGrid += test::amplitudeAt(y.data() + from, n - from, (k + 0.5) * f0, kRate);
        }
        EXPECT_GT(onGrid, 10.0 * offGrid) << "pitch " << c.pitch << " formant " << c.formant;
        EXPECT_EQ(m.counts.total(), 0u);
    }
}

TEST(DelayFX, DefaultsEchoAt375Milliseconds)
{
    ModuleRunner m(FXType::Delay);
    // Time 0.5: 1.5 s x 0.5^2 = 375 ms = 18000 frames; FB 0.4 x 0.95 = 0.38; mix 0.4.
    const auto y = m.runMono(impulseAt(40000, 100));
    EXPECT_NEAR(y[100], 0.6f, 1e-6f);
    EXPECT_EQ(argMax(y, 200, 30000), 18100u);
    EXPECT_NEAR(y[18100], 0.4f, 1e-5f);
    EXPECT_EQ(argMax(y, 20000, 40000), 36100u);
    EXPECT_NEAR(y[36100], 0.4f * 0.38f, 1e-5f);
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(DelayFX, ATimeChangeCrossfadesToTheNewTap)
{
    ModuleRunner m(FXType::Delay);
    m.params[1] = 0.0f;
    m.params[2] = 1.0f;
    auto l = impulseAt(48000, 100);
    auto r = l;
    std::vector<float> a(l.begin(), l.begin() + 4800), b(r.begin(), r.begin() + 4800);
    m.process(a, b);
    m.params[0] = 0.4f; // 240 ms: the old 375 ms echo fades out within 20 ms
    std::vector<float> c(l.begin() + 4800, l.end()), d(c);
    m.process(c, d);
    // The old tap would have echoed at 18100; the new one sounds at 100 + 11520 (0.4f^2 is a
    // hair above 0.16, so the read is a hair fractional).
    EXPECT_LT(std::abs(c[18100 - 4800]), 1e-6f);
    EXPECT_NEAR(c[100 + 11520 - 4800], 1.0f, 1e-3f);
}

TEST(HaasFX, DelaysOneChannelBy20Milliseconds)
{
    ModuleRunner m(FXType::Haas);
    m.params[0] = 0.5f; // 0.5 x 40 ms
    m.params[1] = 0.0f; // left delayed
    auto [l, r] = m.run(impulseAt(4000, 10), impulseAt(4000, 10));
    EXPECT_EQ(argMax(l, 0, 4000), 10u + 960u);
    EXPECT_EQ(argMax(r, 0, 4000), 10u);
    m.params[1] = 1.0f; // right delayed
    m.reset();
    auto [l2, r2] = m.run(impulseAt(4000, 10), impulseAt(4000, 10));
    EXPECT_EQ(argMax(l2, 0, 4000), 10u);
    EXPECT_EQ(argMax(r2, 0, 4000), 10u + 960u);
    m.params[1] = 0.5f; // identity
    const auto x = test::noise(4000, 2);
    auto [l3, r3] = m.run(x, x);
    EXPECT_EQ(l3, x);
    EXPECT_EQ(r3, x);
}

TEST(ImageFX, WidthZeroIsMonoAndTheDefaultsAreTheIdentity)
{
    const auto a = test::noise(48000, 4);
    const auto b = test::noise(48000, 5);
    ModuleRunner neutral(FXType::Image);
    auto [l, r] = neutral.run(a, b);
    EXPECT_EQ(l, a);
    EXPECT_EQ(r, b);

    ModuleRunner mono(FXType::Image);
    mono.params[0] = 0.0f;
    auto [ml, mr] = mono.run(a, b);
    // The matrix glides 0.1 % per sample; after 24000 samples it has arrived.
    for (size_t i = 24000; i < a.size(); ++i)
        ASSERT_NEAR(ml[i], mr[i], 1e-6f) << i;
    EXPECT_EQ(mono.counts.total(), 0u);
}

// Spectrum level (dB) of the output around f, the strongest bin within +-1 %.
double levelNear(const std::vector<double>& spectrum, double f, size_t fftSize)
{
    const double binHz = kRate / fftSize;
    double best = 0.0;
    for (size_t k = size_t(0.99 * f / binHz); k <= size_t(1.01 * f / binHz) + 1; ++k)
        best = std::max(best, spectrum[k]);
    return 20.0 * std::log10(best + 1e-30);
}

TEST(HaloFX, RingsAtTheChordOfItsVoicing)
{
    // Voice 3 is a major chord: 0, 4, 7, 12 semitones above middle C.
    ModuleRunner m(FXType::Halo);
    m.params[2] = 0.75f;
    m.params[3] = 1.0f;
    auto x = test::noise(65536, 8, 0.5);
    const auto y = m.runMono(x);
    const auto spectrum = test::magnitudeSpectrum(y.data(), y.size(), 65536);
    const double c4 = 261.6256;
    for (double semis : {0.0, 4.0, 7.0, 12.0}) {
        const double f = c4 * std::exp2(semis / 12.0);
        // Each chord note stands well above the level a semitone and a half away.
        EXPECT_GT(levelNear(spectrum, f, 65536) -
                      levelNear(spectrum, f * std::exp2(1.5 / 12.0), 65536),
                  10.0)
            << semis;
    }
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(HaloFX, OutOfRangeValuesStaySafe)
{
    ModuleRunner m(FXType::Halo);
    m.params[0] = 1e9f;
    m.params[1] = 50.0f; // would give a loop gain above 1
    m.params[3] = -3.0f;
    const auto y = m.runMono(test::noise(48000, 1, 1.0));
    for (float v : y)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_LT(test::peak(y), 8.0);
    m.params[0] = std::nanf("");
    m.params[1] = std::nanf("");
    const auto z = m.runMono(test::noise(4800, 2, 1.0));
    for (float v : z)
        ASSERT_TRUE(std::isfinite(v));
}

TEST(PitchDelayFX, FullPitchEchoesAnOctaveUp)
{
    ModuleRunner m(FXType::PitchDelay);
    m.params[0] = 1.0f; // ratio 2
    m.params[2] = 0.0f;
    m.params[3] = 1.0f;
    const auto y = m.runMono(test::sine(300.0, kRate, 96000, 0.5));
    EXPECT_NEAR(test::dominantFrequency(y.data() + 48000, 48000, kRate), 600.0, 6.0);
    ModuleRunner same(FXType::PitchDelay);
    same.params[0] = 0.5f; // ratio 1: the heads stand still
    same.params[2] = 0.0f;
    same.params[3] = 1.0f;
    const auto z = same.runMono(test::sine(300.0, kRate, 96000, 0.5));
    EXPECT_NEAR(test::dominantFrequency(z.data() + 48000, 48000, kRate), 300.0, 2.0);
}

TEST(TapeStartStopFX, StopsAfterItsTimeAndReArms)
{
    // Defaults: start at once, stop at 1 s over 0.5 s.
    ModuleRunner m(FXType::TapeStartStop);
    const auto x = test::sine(220.0, kRate, 96000, 0.5, 0.3);
    auto y = m.runMono(x);
    for (size_t i = 0; i < 48000; ++i)
        ASSERT_EQ(y[i], x[i]) << i;
    EXPECT_GT(test::rms(y.data() + 48000, 12000), 0.01);             // slowing down
    EXPECT_EQ(test::peak(y.data() + 72000 + 100, 24000 - 100), 0.0); // stopped, input still on
    // Still stopped while the input goes on...
    EXPECT_EQ(test::peak(m.runMono(x)), 0.0);
    // ...until 50 ms of silence re-arm it: the next sound plays again.
    m.runMono(std::vector<float>(2400, 0.0f));
    auto again = m.runMono(x);
    EXPECT_EQ(again[1000], x[1000]);
    // A trigger re-arms at once.
    auto stopped = m.runMono(x);
    EXPECT_EQ(test::peak(stopped.data() + 24000, 24000), 0.0);
    m.trigger();
    auto afterTrigger = m.runMono(x);
    EXPECT_EQ(afterTrigger[10], x[10]);
    EXPECT_EQ(m.counts.total(), 0u);
}

TEST(ReverbFX, MixZeroIsUntouchedAndATriggerClearsTheTail)
{
    ModuleRunner dry(FXType::Reverb);
    dry.params[3] = 0.0f;
    const auto x = test::noise(9600, 3, 0.5);
    EXPECT_EQ(dry.runMono(x), x);

    auto burst = test::noise(24000, 4, 0.5);
    burst.resize(48000, 0.0f);
    ModuleRunner plain(FXType::Reverb);
    ModuleRunner ducked(FXType::Reverb);
    plain.runMono(burst);
    ducked.runMono(burst);
    ducked.trigger();
    const std::vector<float> silence(9600, 0.0f);
    const auto tail = plain.runMono(silence);
    const auto cleared = ducked.runMono(silence);
    EXPECT_GT(test::rms(tail.data() + 4800, 4800), 1e-3);
    // 30 ms fade-out, 5 ms gap with the reverb cleared: nothing is left after it.
    EXPECT_LT(test::peak(cleared.data() + 1700, 9600 - 1700), 1e-6);
    EXPECT_EQ(ducked.counts.total(), 0u);
}

} // namespace
} // namespace vesk
