// The tone and dynamics modules and the three-band EQ: identities, band gains measured on sines,
// and the responses each module is built for.
#include "fx/FXKnobs.h"
#include "fx/FXModule.h"
#include "fx/ThreeBandEQ.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

namespace vesk {
namespace {

constexpr double kRate = 48000.0;

class Module
{
public:
    Module(FXType type, double rate = kRate) : info_(*getFXModuleInfo(type)), rate_(rate)
    {
        const FXModuleVTable& vt = *info_.vtable;
        block_ = ::operator new (static_cast<size_t>(vt.stateSize), std::align_val_t{64});
        std::memset(block_, 0, static_cast<size_t>(vt.stateSize));
        vt.construct(block_, rate);
        std::copy(info_.paramDefaults, info_.paramDefaults + info_.paramCount, params);
    }
    ~Module()
    {
        info_.vtable->destroy(block_);
        ::operator delete (block_, std::align_val_t{64});
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Processes copies of l and r in blocks of 256; returns them.
    std::pair<std::vector<float>, std::vector<float>> run(std::vector<float> l,
                                                          std::vector<float> r)
    {
        for (size_t a = 0; a < l.size(); a += 256) {
            const unsigned n = static_cast<unsigned>(std::min<size_t>(256, l.size() - a));
            info_.vtable->process(l.data() + a, r.data() + a, n, params, block_, rate_);
        }
        return {std::move(l), std::move(r)};
    }
    std::vector<float> runMono(const std::vector<float>& x) { return run(x, x).first; }
    void reset() { info_.vtable->reset(block_); }

    float params[kMaxFXParams] = {};

private:
    const FXModuleInfo& info_;
    double rate_;
    void* block_ = nullptr;
};

// A sine without exact zeros, so denormal guards never replace a sample.
std::vector<float> tone(double hz, size_t frames, double amplitude = 0.5)
{
    return test::sine(hz, kRate, frames, amplitude, 0.3);
}

// Steady-state gain at hz in dB (the first half is discarded as settling time).
double gainDb(Module& m, double hz)
{
    const size_t n = 16384;
    const std::vector<float> x = tone(hz, n);
    const std::vector<float> y = m.runMono(x);
    const size_t half = n / 2;
    return 20.0 * std::log10(test::amplitudeAt(y.data() + half, half, hz, kRate) /
                             test::amplitudeAt(x.data() + half, half, hz, kRate));
}

// The linear three-band EQ's exact response: gM + (gL - gM) LP_lo + (gH - gM) (1 - LP_hi).
double expectedEqDb(double hz, double loHz, double hiHz, double lowDb, double midDb, double highDb)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / kRate);
    auto lowpass = [&](double fc) {
        const double p = std::exp(-2.0 * std::numbers::pi * fc / kRate);
        return (1.0 - p) / (1.0 - p * z1);
    };
    const double gL = std::pow(10.0, lowDb / 20.0);
    const double gM = std::pow(10.0, midDb / 20.0);
    const double gH = std::pow(10.0, highDb / 20.0);
    const std::complex<double> h = gM + (gL - gM) * lowpass(std::min(loHz, hiHz)) +
                                   (gH - gM) * (1.0 - lowpass(std::max(loHz, hiHz)));
    return 20.0 * std::log10(std::abs(h));
}

TEST(EQModule, AllGainsZeroIsTransparent)
{
    Module eq(FXType::EQ);
    const std::vector<float> x = test::noise(4096, 3, 0.8);
    const auto [l, r] = eq.run(x, x);
    for (size_t i = 0; i < x.size(); ++i) {
        ASSERT_NEAR(l[i], x[i], 1e-6f) << i;
        ASSERT_NEAR(r[i], x[i], 1e-6f) << i;
    }
}

TEST(EQModule, BandGainsFollowTheCrossoverResponse)
{
    struct Case
    {
        float loHz, hiHz, lowDb, midDb, highDb;
    };
    const Case cases[] = {
        {120.0f, 4200.0f, 12.0f, 0.0f, 0.0f},   {120.0f, 4200.0f, 0.0f, -12.0f, 0.0f},
        {120.0f, 4200.0f, 0.0f, 0.0f, 18.0f},   {300.0f, 2000.0f, -24.0f, 6.0f, -6.0f},
        {2000.0f, 300.0f, -24.0f, 6.0f, -6.0f}, // crossed knobs: the lower one splits low/mid
    };
    for (const Case& c : cases) {
        for (double hz : {40.0, 200.0, 1000.0, 3000.0, 12000.0}) {
            Module eq(FXType::EQ);
            eq.params[0] = c.loHz;
            eq.params[1] = c.hiHz;
            eq.params[2] = c.lowDb;
            eq.params[3] = c.midDb;
            eq.params[4] = c.highDb;
            EXPECT_NEAR(gainDb(eq, hz),
                        expectedEqDb(hz, c.loHz, c.hiHz, c.lowDb, c.midDb, c.highDb), 0.05)
                << hz << " Hz, bands " << c.lowDb << "/" << c.midDb << "/" << c.highDb;
        }
    }
    // Low +12 dB really lifts the lows and leaves the highs.
    Module eq(FXType::EQ);
    eq.params[2] = 12.0f;
    EXPECT_NEAR(gainDb(eq, 30.0), 12.0, 0.5);
    EXPECT_NEAR(gainDb(eq, 12000.0), 0.0, 0.3);
}

TEST(EQModule, CrossedCrossoversLeaveNoMidBand)
{
    // Both crossovers at 1000 Hz: the mid band is empty, so its gain does nothing.
    Module eq(FXType::EQ);
    eq.params[0] = 1000.0f;
    eq.params[1] = 1000.0f;
    eq.params[3] = -24.0f;
    const std::vector<float> x = test::noise(8192, 9, 0.5);
    const std::vector<float> y = eq.runMono(x);
    EXPECT_LT(test::errorDb(x.data(), y.data(), x.size()), -100.0);
}

TEST(ThreeBandEQ, ShapedVariantAtUnityIsTransparentAndBypassDoesNothing)
{
    ThreeBandEQ eq;
    eq.setSampleRate(kRate);
    ThreeBandEQParams p;
    p.shaped = true;
    eq.setParams(p);
    const std::vector<float> x = test::noise(4096, 4, 0.9);
    std::vector<float> l = x, r = x;
    eq.process(l.data(), r.data(), static_cast<unsigned>(l.size()));
    for (size_t i = 0; i < x.size(); ++i) {
        ASSERT_NEAR(l[i], x[i], 1e-6f);
    }
    p.lowGainDb = 12.0f;
    p.bypass = true;
    eq.setParams(p);
    l = x;
    r = x;
    eq.process(l.data(), r.data(), static_cast<unsigned>(l.size()));
    EXPECT_EQ(l, x);
}

TEST(ThreeBandEQ, ShapedBoostSaturatesTowardsFullScale)
{
    // A boosted band bends along a sine: small signals get the full boost, large ones less.
    auto lowGain = [](double amplitude) {
        ThreeBandEQ eq;
        eq.setSampleRate(kRate);
        ThreeBandEQParams p;
        p.shaped = true;
        p.lowGainDb = 3.0f;
        eq.setParams(p);
        std::vector<float> l = test::sine(40.0, kRate, 48000, amplitude, 0.3);
        std::vector<float> r = l;
        const std::vector<float> x = l;
        eq.process(l.data(), r.data(), static_cast<unsigned>(l.size()));
        return test::amplitudeAt(l.data() + 24000, 24000, 40.0, kRate) /
               test::amplitudeAt(x.data() + 24000, 24000, 40.0, kRate);
    };
    const double small = lowGain(0.01);
    const double large = lowGain(0.9);
    EXPECT_GT(20.0 * std::log10(small), 2.5);
    EXPECT_LT(large, small);
}

TEST(AirBoost, CentreIsIdentityAndAirLiftsHighs)
{
    Module air(FXType::AirBoost);
    air.params[0] = 0.5f;
    air.params[1] = 0.5f;
    const std::vector<float> x = test::noise(4096, 5, 0.7);
    const std::vector<float> y = air.runMono(x);
    for (size_t i = 0; i < x.size(); ++i) {
        ASSERT_NEAR(y[i], x[i], 1e-6f) << i;
    }
    Module bright(FXType::AirBoost);
    bright.params[0] = 1.0f;
    const double lift = gainDb(bright, 15000.0) - gainDb(bright, 100.0);
    EXPECT_GT(lift, 6.0);
    Module ground(FXType::AirBoost);
    ground.params[0] = 0.5f;
    ground.params[1] = 0.0f; // no ground: the lows go
    EXPECT_LT(gainDb(ground, 50.0), -12.0);
}

TEST(BassBoost, WeightZeroIsIdentityAndWeightLiftsLows)
{
    Module bass(FXType::BassBoost);
    bass.params[1] = 0.0f;
    const std::vector<float> x = tone(60.0, 4096);
    EXPECT_EQ(bass.runMono(x), x);

    Module boost(FXType::BassBoost);
    boost.params[0] = 0.3f;
    boost.params[1] = 1.0f;
    EXPECT_GT(gainDb(boost, 40.0), 3.0);
    EXPECT_NEAR(gainDb(boost, 3000.0), 0.0, 0.5);
}

TEST(Saturate, MixZeroReturnsTheInputPlusDither)
{
    Module sat(FXType::Saturate);
    sat.params[4] = 0.0f;
    const std::vector<float> x = test::noise(4096, 6, 0.8);
    const std::vector<float> y = sat.runMono(x);
    double worst = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        worst = std::max(worst, std::fabs(double(y[i]) - x[i]));
    }
    EXPECT_LT(worst, 1e-6);
    EXPECT_GT(worst, 0.0); // the dither is there
}

TEST(Saturate, DriveAddsHarmonicsToTheMiddleBand)
{
    Module sat(FXType::Saturate);
    sat.params[0] = 1.0f; // +12 dB
    sat.params[1] = 0.0f; // wide band
    const std::vector<float> x = tone(1000.0, 16384, 0.5);
    const std::vector<float> y = sat.runMono(x);
    const double h3 = test::amplitudeAt(y.data() + 8192, 8192, 3000.0, kRate);
    const double fundamental = test::amplitudeAt(y.data() + 8192, 8192, 1000.0, kRate);
    EXPECT_GT(h3 / fundamental, 0.01);
}

TEST(Bitcrusher, TransparentCornerAndOutputLimit)
{
    Module crush(FXType::Bitcrusher);
    crush.params[0] = 1.0f;
    crush.params[1] = 1.0f;
    const std::vector<float> x = test::noise(4096, 7, 1.0);
    EXPECT_EQ(crush.runMono(x), x);

    const std::vector<float> loud = test::noise(4096, 8, 10.0);
    EXPECT_LE(test::peak(crush.runMono(loud)), 1.0);

    Module lofi(FXType::Bitcrusher);
    lofi.params[0] = 0.3f;
    lofi.params[1] = 0.2f;
    const std::vector<float> y = lofi.runMono(test::noise(4096, 9, 3.0));
    EXPECT_LE(test::peak(y), 1.0);
    // Rate reduction holds values: many repeated neighbours.
    int repeats = 0;
    for (size_t i = 1; i < y.size(); ++i) {
        repeats += y[i] == y[i - 1];
    }
    EXPECT_GT(repeats, 2000);
}

TEST(SubBeast, MixZeroIsBitExactAndSilenceStaysSilent)
{
    Module sub(FXType::SubBeast);
    sub.params[7] = 0.0f;
    const std::vector<float> x = test::noise(4096, 10, 0.9);
    EXPECT_EQ(sub.runMono(x), x);

    Module quiet(FXType::SubBeast);
    const std::vector<float> silence(8192, 0.0f);
    EXPECT_EQ(quiet.runMono(silence), silence);
}

TEST(SubBeast, BurstPlaysASubAtTheTunedFrequency)
{
    Module sub(FXType::SubBeast);
    sub.params[0] = 0.7f; // 30 * (8/3)^0.7 = 59.6 Hz
    sub.params[2] = 0.0f; // no drop
    sub.params[4] = 0.0f; // no FM
    sub.params[5] = 0.0f; // no drive
    sub.params[6] = 0.0f; // no motion
    sub.params[1] = 0.0f; // slow release (200 ms) keeps the envelope up under the burst
    const std::vector<float> x = tone(2000.0, 24000, 0.5);
    const std::vector<float> y = sub.runMono(x);
    std::vector<float> added(y.size());
    for (size_t i = 0; i < y.size(); ++i) {
        added[i] = y[i] - x[i];
    }
    const double f0 = 30.0 * std::pow(8.0 / 3.0, 0.7);
    EXPECT_NEAR(test::dominantFrequency(added.data() + 8000, 16000, kRate), f0, 1.5);
    EXPECT_GT(test::peak(added), 0.1);
}

TEST(SubBeast, DropStartsHighAndSweepsDown)
{
    Module sub(FXType::SubBeast);
    sub.params[2] = 1.0f; // 24 semitones
    sub.params[3] = 0.0f; // slowest sweep, 200 ms
    sub.params[4] = sub.params[5] = sub.params[6] = 0.0f;
    sub.params[1] = 0.0f;
    const std::vector<float> x = tone(3000.0, 24000, 0.5);
    const std::vector<float> y = sub.runMono(x);
    std::vector<float> added(y.size());
    for (size_t i = 0; i < y.size(); ++i) {
        added[i] = y[i] - x[i];
    }
    // Zero crossings per window: many more early (dropped from two octaves up) than late.
    auto crossings = [&](size_t from, size_t to) {
        int n = 0;
        for (size_t i = from + 1; i < to; ++i) {
            n += (added[i - 1] < 0.0f) != (added[i] < 0.0f);
        }
        return n;
    };
    EXPECT_GT(crossings(200, 2600), 2 * crossings(21600, 24000));
}

TEST(Transient, CentreIsNearlyTransparentAndShapeLiftsAttacks)
{
    std::vector<float> burst(24000, 0.0f);
    const std::vector<float> t = tone(440.0, 12000, 0.5);
    std::copy(t.begin(), t.end(), burst.begin() + 6000);

    Module centre(FXType::Transient);
    const std::vector<float> y = centre.runMono(burst);
    EXPECT_LT(test::errorDb(burst.data(), y.data(), burst.size()), -30.0);

    Module punch(FXType::Transient);
    punch.params[1] = 1.0f;
    const std::vector<float> lifted = punch.runMono(burst);
    const double attack = test::peak(lifted.data() + 6000, 480);
    const double sustain = test::peak(lifted.data() + 16000, 480);
    EXPECT_GT(attack, 1.5 * sustain);
    EXPECT_LE(attack, 8.0 * 0.5 + 1e-3); // the lift is limited to +18 dB

    Module soft(FXType::Transient);
    soft.params[1] = 0.0f;
    const std::vector<float> dulled = soft.runMono(burst);
    EXPECT_LT(test::peak(dulled.data() + 6000, 240), test::peak(dulled.data() + 16000, 480));
}

} // namespace
} // namespace vesk
