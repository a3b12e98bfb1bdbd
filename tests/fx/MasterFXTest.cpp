// The master chain and its engines: latency, ceiling, output gain, DC blocker, final guard, the
// oversampler's passband and image rejection, the reverb's decay and stereo tail, soft reset, and
// no allocation on the audio path.
#include "fx/MasterFX.h"
#include "fx/dsp/FdnReverb.h"
#include "fx/dsp/HalfBand2x.h"
#include "fx/dsp/Limiter.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace vesk {
namespace {

// Processes copies of l and r in blocks; returns them.
std::pair<std::vector<float>, std::vector<float>> run(MasterFX& m, std::vector<float> l,
                                                      std::vector<float> r, unsigned block = 512)
{
    for (size_t a = 0; a < l.size(); a += block) {
        const unsigned n = static_cast<unsigned>(std::min<size_t>(block, l.size() - a));
        m.process(l.data() + a, r.data() + a, n);
    }
    return {std::move(l), std::move(r)};
}

std::unique_ptr<MasterFX> master(double rate)
{
    auto m = std::make_unique<MasterFX>();
    m->setSampleRate(rate);
    return m;
}

TEST(MasterFX, FreshInstanceIsBypassedAndDelaysByTheLookAhead)
{
    for (auto [rate, latency] : {std::pair{44100.0, 441}, {48000.0, 480}, {96000.0, 960}}) {
        auto m = master(rate);
        EXPECT_TRUE(m->bypassed);
        EXPECT_EQ(m->getLatencySamples(), latency);
        EXPECT_EQ(MasterFX::latencyForRate(rate), latency);
        // An impulse comes out exactly `latency` samples later, at full level.
        std::vector<float> x(4096, 0.0f);
        x[0] = 1.0f;
        const auto [l, r] = run(*m, x, x);
        EXPECT_EQ(test::firstAbove(l.data(), l.size(), 1e-6), latency) << rate;
        EXPECT_NEAR(l[static_cast<size_t>(latency)], 1.0f, 1e-6f);
        // A sine comes out as itself, delayed (the DC blocker barely touches 1 kHz).
        auto m2 = master(rate);
        const std::vector<float> s = test::sine(1000.0, rate, 8192, 0.5, 0.3);
        const auto [sl, sr] = run(*m2, s, s);
        EXPECT_LT(test::errorDb(s.data(), sl.data() + latency, s.size() - latency - 1000), -30.0);
    }
}

struct CeilingCase
{
    const char* name;
    double hz;
    bool square;
};

TEST(MasterFX, CeilingHoldsAtTheOutputOnsetsIncluded)
{
    const CeilingCase cases[] = {{"sine 1 kHz", 1000.0, false},
                                 {"sine 50 Hz", 50.0, false},
                                 {"sine 7 kHz", 7000.0, false},
                                 {"square 100 Hz", 100.0, true},
                                 {"square 1 kHz", 1000.0, true}};
    const float ceiling = std::pow(10.0f, -0.1f / 20.0f);
    for (const CeilingCase& c : cases) {
        for (bool everything : {false, true}) {
            auto m = master(48000.0);
            m->setBypassed(false);
            m->setLimiter(-3.0f, -0.1f, 100.0f);
            if (everything) {
                m->setEQ(12.0f, 6.0f, 12.0f);
                m->setEnhance(12.0f, 100.0f, 50.0f);
                m->setReverb(1.0f, 0.0f, 5.0f, 1.0f, 1.0f, 2.0f);
            }
            std::vector<float> x(24000, 0.0f);
            const std::vector<float> s = test::sine(c.hz, 48000.0, 20000, 1.0);
            for (size_t i = 0; i < s.size(); ++i) {
                x[1000 + i] = c.square ? (s[i] >= 0.0f ? 1.0f : -1.0f) : s[i];
            }
            const auto [l, r] = run(*m, x, x, 480);
            EXPECT_LE(std::max(test::peak(l), test::peak(r)), ceiling)
                << c.name << (everything ? " with every stage on" : "");
            // The limiter limits, it does not mute.
            EXPECT_GT(test::peak(l), 0.5 * ceiling) << c.name;
        }
    }
}

TEST(MasterFX, OutputGain)
{
    auto m = master(48000.0);
    EXPECT_TRUE(m->setOutputGainDb(-6.0f));
    EXPECT_NEAR(m->outputGain, 0.5012f, 1e-4f);
    const std::vector<float> s = test::sine(1000.0, 48000.0, 8192, 0.5, 0.3);
    const auto [l, r] = run(*m, s, s);
    EXPECT_NEAR(test::amplitudeAt(l.data() + 4096, 4096, 1000.0, 48000.0), 0.5 * 0.5012, 2e-3);
    for (float db : {-48.0f, -60.0f, -1000.0f}) {
        m->setOutputGainDb(db);
        EXPECT_EQ(m->outputGain, 0.0f) << db;
        const auto [ql, qr] = run(*m, s, s);
        EXPECT_EQ(test::peak(ql), 0.0) << db;
    }
    EXPECT_FALSE(m->setOutputGainDb(NAN));
    EXPECT_EQ(m->outputGainDb, -48.0f);
}

TEST(MasterFX, DcOffsetDecays)
{
    auto m = master(48000.0);
    const int latency = m->getLatencySamples();
    const std::vector<float> dc(20000, 0.5f);
    const auto [l, r] = run(*m, dc, dc);
    // y = x - x_prev + 0.999 y_prev: time constant 1000 samples.
    EXPECT_NEAR(l[static_cast<size_t>(latency + 1000)], 0.5f * std::exp(-1.0f), 0.01f);
    EXPECT_LT(std::fabs(l[static_cast<size_t>(latency + 10000)]), 1e-3f);
}

TEST(MasterFX, OutputNeverExceedsTwoAndNonFiniteSamplesBecomeZero)
{
    auto m = master(48000.0);
    m->setOutputGainDb(6.0f);
    const std::vector<float> loud = test::noise(8192, 3, 50.0);
    auto [l, r] = run(*m, loud, loud);
    EXPECT_LE(test::peak(l), 2.0);
    EXPECT_GT(test::peak(l), 1.9);

    // One bad sample never leaves NaN behind, with every stage on.
    auto n = master(48000.0);
    n->setBypassed(false);
    n->setEnhance(6.0f, 50.0f, 0.0f);
    n->setEnhanceMulti(true);
    n->setReverb(0.5f, 0.5f, 2.0f, 0.5f, 1.0f, 1.0f);
    std::vector<float> x = test::sine(440.0, 48000.0, 16384, 0.5, 0.3);
    x[3000] = NAN;
    x[3001] = INFINITY;
    x[5000] = -INFINITY;
    auto [nl, nr] = run(*n, x, x);
    EXPECT_TRUE(std::all_of(nl.begin(), nl.end(), [](float v) { return std::isfinite(v); }));
    EXPECT_GT(test::peak(nl.data() + 12000, 4000), 0.1);
}

TEST(MasterFX, SettingsAreClampedAndNonFiniteValuesRefused)
{
    auto m = master(48000.0);
    EXPECT_TRUE(m->setReverb(5.0f, -1.0f, -3.0f, 2.0f, -7.0f, 9.0f));
    EXPECT_EQ(m->reverb.reverbSize, 1.0f);
    EXPECT_EQ(m->reverb.reverbDamp, 0.0f);
    EXPECT_EQ(m->reverb.reverbDecay, 0.3f);
    EXPECT_EQ(m->reverb.reverbMix, 1.0f);
    EXPECT_EQ(m->reverb.reverbWidth, -1.0f);
    EXPECT_EQ(m->reverb.reverbEarly, 2.0f);
    EXPECT_FALSE(m->setReverb(NAN, 0.5f, 1.0f, 0.5f, 0.5f, 1.0f));
    EXPECT_EQ(m->reverb.reverbSize, 1.0f); // the refused value kept its old setting
    EXPECT_EQ(m->reverb.reverbDamp, 0.5f);
    EXPECT_TRUE(m->setLimiter(-100.0f, 5.0f, 0.0f));
    EXPECT_EQ(m->limiter.limiterThreshold, -30.0f);
    EXPECT_EQ(m->limiter.limiterCeiling, 0.0f);
    EXPECT_EQ(m->limiter.limiterRelease, 10.0f);
    EXPECT_TRUE(m->setEQ(-40.0f, 0.0f, 40.0f));
    EXPECT_EQ(m->eq.lowGainDb, -12.0f);
    EXPECT_EQ(m->eq.highGainDb, 12.0f);
    EXPECT_FALSE(m->setEnhance(0.0f, INFINITY, 0.0f));
    MasterFXState s;
    m->exportState(s);
    EXPECT_EQ(s.reverbSize, 1.0f);
    EXPECT_EQ(s.bypassed, 1);
    auto copy = master(48000.0);
    copy->applyState(s);
    MasterFXState t;
    copy->exportState(t);
    const float fs[] = {
        s.eqLow,        s.eqMid,       s.eqHigh,           s.enhanceDrive,   s.enhanceAmount,
        s.enhanceShape, s.reverbSize,  s.reverbDamp,       s.reverbDecay,    s.reverbMix,
        s.reverbWidth,  s.reverbEarly, s.limiterThreshold, s.limiterCeiling, s.limiterRelease,
        s.outputGainDb};
    const float ft[] = {
        t.eqLow,        t.eqMid,       t.eqHigh,           t.enhanceDrive,   t.enhanceAmount,
        t.enhanceShape, t.reverbSize,  t.reverbDamp,       t.reverbDecay,    t.reverbMix,
        t.reverbWidth,  t.reverbEarly, t.limiterThreshold, t.limiterCeiling, t.limiterRelease,
        t.outputGainDb};
    for (size_t i = 0; i < std::size(fs); ++i) {
        EXPECT_EQ(fs[i], ft[i]) << i;
    }
    const uint8_t bs[] = {s.eqBypass,     s.enhanceMulti,  s.enhanceBypass,
                          s.reverbBypass, s.limiterBypass, s.bypassed};
    const uint8_t bt[] = {t.eqBypass,     t.enhanceMulti,  t.enhanceBypass,
                          t.reverbBypass, t.limiterBypass, t.bypassed};
    for (size_t i = 0; i < std::size(bs); ++i) {
        EXPECT_EQ(bs[i], bt[i]) << i;
    }
}

TEST(MasterFX, EnhanceIsSkippedAtZeroAndClipsWithDriveOnly)
{
    const std::vector<float> x = test::noise(8192, 4, 0.9);
    auto plain = master(48000.0);
    plain->setBypassed(false);
    plain->setReverbBypass(true);
    plain->setLimiterBypass(true);
    plain->setEQBypass(true);
    auto skipped = master(48000.0);
    skipped->setBypassed(false);
    skipped->setReverbBypass(true);
    skipped->setLimiterBypass(true);
    skipped->setEQBypass(true);
    skipped->setEnhance(0.0f, 0.0f, 30.0f);
    EXPECT_EQ(run(*plain, x, x).first, run(*skipped, x, x).first);

    auto driven = master(48000.0);
    driven->setBypassed(false);
    driven->setReverbBypass(true);
    driven->setLimiterBypass(true);
    driven->setEQBypass(true);
    driven->setEnhance(6.0f, 0.0f, 0.0f);
    const std::vector<float> s = test::sine(200.0, 48000.0, 16384, 0.25, 0.3);
    const auto [l, r] = run(*driven, s, s);
    // +6 dB: about twice the level, nothing clipped yet at 0.5.
    EXPECT_NEAR(test::amplitudeAt(l.data() + 8192, 8192, 200.0, 48000.0), 0.5, 0.01);
}

TEST(MasterFX, ReverbAtZeroMixDoesNotRun)
{
    auto make = [] {
        auto m = master(48000.0);
        m->setBypassed(false);
        m->setLimiterBypass(true);
        m->setEQBypass(true);
        m->setReverb(0.5f, 0.3f, 3.0f, 0.5f, 1.0f, 1.0f);
        return m;
    };
    std::vector<float> impulse(4800, 0.0f);
    impulse[0] = 1.0f;
    const std::vector<float> silence(48000, 0.0f);
    auto paused = make();
    auto running = make();
    run(*paused, impulse, impulse);
    run(*running, impulse, impulse);
    paused->setReverb(0.5f, 0.3f, 3.0f, 0.0f, 1.0f, 1.0f);
    const auto [pl, pr] = run(*paused, silence, silence);
    // Mix 0: nothing but the DC blocker's decaying memory.
    EXPECT_LT(test::peak(pl.data() + 2000, 40000), 1e-4);
    run(*running, silence, silence);
    paused->setReverb(0.5f, 0.3f, 3.0f, 0.5f, 1.0f, 1.0f);
    const std::vector<float> probe(4800, 0.0f);
    const double resumed = test::rms(run(*paused, probe, probe).first);
    const double continued = test::rms(run(*running, probe, probe).first);
    // The paused tail did not decay during the pause (one second at RT20 3 s is about -7 dB).
    EXPECT_GT(resumed, 1.5 * continued);
}

TEST(MasterFX, SoftResetFadesTheRingOut)
{
    auto m = master(48000.0);
    m->setBypassed(false);
    m->setReverb(1.0f, 0.2f, 5.0f, 0.8f, 1.0f, 1.0f);
    const std::vector<float> x = test::noise(24000, 5, 0.5);
    run(*m, x, x);
    test::AllocCounts counts;
    {
        test::ScopedAllocCount scope(counts);
        m->softReset();
    }
    EXPECT_EQ(counts.total(), 0u);
    const std::vector<float> silence(9600, 0.0f);
    const auto [l, r] = run(*m, silence, silence, 64);
    // The captured 10 ms arrive first, fading towards 0...
    EXPECT_GT(test::peak(l.data(), 48), 0.05);
    EXPECT_LT(test::peak(l.data() + 400, 80), test::peak(l.data(), 80));
    // ...then the cleared chain stays quiet (only the DC blocker's memory decays).
    EXPECT_LT(test::peak(l.data() + 960, l.size() - 960), 5e-3);
}

TEST(MasterFX, AudioPathDoesNotAllocate)
{
    auto m = master(44100.0);
    m->setBypassed(false);
    m->setEQ(3.0f, -2.0f, 4.0f);
    m->setEnhance(6.0f, 60.0f, -20.0f);
    m->setEnhanceMulti(true);
    m->setReverb(0.6f, 0.4f, 2.0f, 0.3f, 0.7f, 1.2f);
    std::vector<float> l = test::noise(10000, 6, 0.8), r = test::noise(10000, 7, 0.8);
    test::AllocCounts counts;
    {
        test::ScopedAllocCount scope(counts);
        m->process(l.data(), r.data(), 10000); // longer than one block: split inside
        m->softReset();
        m->process(l.data(), r.data(), 4096);
        m->reset();
        m->process(l.data(), r.data(), 100);
    }
    EXPECT_EQ(counts.total(), 0u);
}

TEST(MasterFX, TheSameBitsInBlocksOfAnySize)
{
    // Every stage on, a soft reset (a trigger into silence) and a hard one (a mute) on the way.
    auto render = [](unsigned block, bool defaults) {
        auto m = master(48000.0);
        m->setBypassed(false);
        if (!defaults) {
            m->setEQ(3.0f, -2.0f, 4.0f);
            m->setEnhance(6.0f, 60.0f, -20.0f);
            m->setEnhanceMulti(true);
            m->setReverb(0.6f, 0.4f, 2.0f, 0.3f, 0.7f, 1.2f);
            m->setLimiter(-12.0f, -1.0f, 80.0f);
        }
        std::vector<float> l = test::noise(40000, 8, 0.8), r = test::noise(40000, 9, 0.8);
        std::fill(l.begin() + 12000, l.begin() + 20000, 0.0f);
        std::fill(r.begin() + 12000, r.begin() + 20000, 0.0f);
        for (size_t a = 0; a < l.size(); a += block) {
            const unsigned n = static_cast<unsigned>(std::min<size_t>(block, l.size() - a));
            m->process(l.data() + a, r.data() + a, n);
            if (a < 16000 && a + n >= 16000)
                m->softReset();
            if (a < 32000 && a + n >= 32000)
                m->reset();
        }
        l.insert(l.end(), r.begin(), r.end());
        return l;
    };
    for (bool defaults : {true, false}) {
        // Resets come at block ends, so the reference uses blocks that end where they do.
        const std::vector<float> reference = render(2000, defaults);
        for (unsigned block : {1u, 100u, 400u, 1000u, 8000u, 16000u}) {
            const std::vector<float> out = render(block, defaults);
            size_t first = out.size();
            for (size_t i = 0; i < out.size() && first == out.size(); ++i)
                if (std::memcmp(&out[i], &reference[i], sizeof(float)) != 0)
                    first = i;
            EXPECT_EQ(first, out.size()) << "blocks of " << block << (defaults ? ", defaults" : "")
                                         << ": first difference at frame " << first % 40000;
        }
    }
}

// Engines --------------------------------------------------------------------------------------

TEST(Oversampler2x, FlatPassbandAndImageRejection)
{
    const double rate = 48000.0;
    const size_t n = 16384;
    const std::vector<float> x = test::sine(1000.0, rate, n, 0.5);
    std::vector<float> up(2 * n), down(n);
    Oversampler2x os;
    os.upsample(0, x.data(), up.data(), static_cast<unsigned>(n));
    os.downsample(0, up.data(), down.data(), static_cast<unsigned>(n));
    const size_t half = n / 2;
    const double gain = test::amplitudeAt(down.data() + half, half, 1000.0, rate) /
                        test::amplitudeAt(x.data() + half, half, 1000.0, rate);
    EXPECT_NEAR(20.0 * std::log10(gain), 0.0, 0.01);
    // At the doubled rate the wanted tone sits at 1 kHz and its image at 47 kHz.
    const double wanted = test::amplitudeAt(up.data() + n, n, 1000.0, 2.0 * rate);
    const double image = test::amplitudeAt(up.data() + n, n, 2.0 * rate / 2.0 - 1000.0, 2.0 * rate);
    EXPECT_NEAR(wanted, 0.5, 0.005);
    EXPECT_LT(20.0 * std::log10(image / wanted), -90.0);
    // Downsampling rejects what would alias: a 45 kHz tone at 96 kHz folds to 3 kHz.
    Oversampler2x os2;
    const std::vector<float> high = test::sine(45000.0, 2.0 * rate, 2 * n, 0.5);
    os2.downsample(1, high.data(), down.data(), static_cast<unsigned>(n));
    EXPECT_LT(20.0 * std::log10(test::amplitudeAt(down.data() + half, half, 3000.0, rate) / 0.5),
              -90.0);
}

// RT20 from the Schroeder backward integral of an impulse response: the time the energy decay
// curve takes from -5 dB to -25 dB.
double measuredRt20(const std::vector<float>& ir, double rate)
{
    std::vector<double> edc(ir.size());
    double acc = 0.0;
    for (size_t i = ir.size(); i-- > 0;) {
        acc += double(ir[i]) * ir[i];
        edc[i] = acc;
    }
    const double total = edc[0];
    size_t t5 = 0, t25 = 0;
    for (size_t i = 0; i < edc.size(); ++i) {
        const double db = 10.0 * std::log10(edc[i] / total);
        if (t5 == 0 && db <= -5.0) {
            t5 = i;
        }
        if (db <= -25.0) {
            t25 = i;
            break;
        }
    }
    return double(t25 - t5) / rate;
}

// Impulse response of the reverb with the master's settings for size 0.5 and the given damping.
std::pair<std::vector<float>, std::vector<float>> impulseResponse(double rt20, double damp,
                                                                  double seconds)
{
    const double rate = 48000.0;
    dsp::FdnReverb reverb;
    reverb.configure(rate, 100.0);
    dsp::FdnReverbParams p;
    p.roomMs = 10.0 + 90.0 * 0.5;
    p.rt20Seconds = rt20;
    p.highDampRate = 1.0 + 9.0 * damp;
    reverb.setParams(p);
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<float> inL(n, 0.0f), inR(n, 0.0f), l(n), r(n);
    inL[0] = 1.0f;
    inR[0] = 1.0f;
    for (size_t a = 0; a < n; a += 4096) {
        const unsigned k = static_cast<unsigned>(std::min<size_t>(4096, n - a));
        reverb.process(inL.data() + a, inR.data() + a, l.data() + a, r.data() + a, k);
    }
    return {std::move(l), std::move(r)};
}

TEST(FdnReverb, DecayMatchesRt20AndTailIsDecorrelated)
{
    const double rate = 48000.0;
    for (double rt20 : {0.4, 1.0, 2.5}) {
        const auto [l, r] = impulseResponse(rt20, 0.0, 2.0 * rt20);
        EXPECT_NEAR(measuredRt20(l, rate), rt20, 0.25 * rt20);
        EXPECT_NEAR(measuredRt20(r, rate), rt20, 0.25 * rt20);
        // Late tail: left and right are decorrelated.
        const size_t from = static_cast<size_t>(0.2 * rt20 * rate);
        const size_t to = static_cast<size_t>(0.8 * rt20 * rate);
        double lr = 0.0, ll = 0.0, rr = 0.0;
        for (size_t i = from; i < to; ++i) {
            lr += double(l[i]) * r[i];
            ll += double(l[i]) * l[i];
            rr += double(r[i]) * r[i];
        }
        ASSERT_GT(ll * rr, 0.0);
        EXPECT_LT(std::fabs(lr / std::sqrt(ll * rr)), 0.3) << rt20;
    }
    // High damping shortens the (broadband) decay: the highs die faster.
    const double plain = measuredRt20(impulseResponse(1.0, 0.0, 2.0).first, rate);
    const double damped = measuredRt20(impulseResponse(1.0, 1.0, 2.0).first, rate);
    EXPECT_LT(damped, 0.9 * plain);
}

TEST(FdnReverb, ClampsRoomToItsBuffersAndStaysStable)
{
    dsp::FdnReverb reverb;
    reverb.configure(48000.0, 100.0);
    dsp::FdnReverbParams p;
    p.roomMs = 1.0e9;
    p.rt20Seconds = 1.0e9;
    p.lowDampRate = -5.0;
    p.highDampRate = NAN;
    p.lowCutHz = -1.0;
    p.highCutHz = 1.0e9;
    reverb.setParams(p);
    std::vector<float> l = test::noise(96000, 8, 1.0), r = test::noise(96000, 9, 1.0);
    for (size_t a = 0; a < l.size(); a += 4096) {
        const unsigned k = static_cast<unsigned>(std::min<size_t>(4096, l.size() - a));
        reverb.process(l.data() + a, r.data() + a, l.data() + a, r.data() + a, k);
    }
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](float v) { return std::isfinite(v); }));
    EXPECT_LT(test::peak(l), 100.0);
}

TEST(LookaheadLimiter, NeverExceedsTheLimitAndReleases)
{
    dsp::LookaheadLimiter lim;
    lim.configure(48000.0, 10.0);
    EXPECT_EQ(lim.latencySamples(), 480);
    dsp::LimiterSettings s;
    s.releaseMs = 50.0;
    s.inputGain = 4.0;
    s.outputLimit = 0.5;
    lim.setSettings(s);
    std::vector<float> l = test::noise(48000, 10, 1.0), r = test::noise(48000, 11, 0.2);
    for (size_t i = 24000; i < l.size(); ++i) {
        l[i] *= 0.01f; // quiet part: the gain recovers
        r[i] *= 0.01f;
    }
    const std::vector<float> in = l;
    for (size_t a = 0; a < l.size(); a += 256) {
        lim.process(l.data() + a, r.data() + a,
                    static_cast<unsigned>(std::min<size_t>(256, l.size() - a)));
    }
    EXPECT_LE(std::max(test::peak(l), test::peak(r)), 0.5 * (1.0 + 1e-6));
    // Recovered: the quiet part comes out at the input gain, 4 x 0.01 of the noise.
    const double ratio =
        test::rms(l.data() + 40000, 8000) / test::rms(in.data() + 40000 - 480, 8000);
    EXPECT_NEAR(ratio, 4.0, 0.2);
}

} // namespace
} // namespace vesk
