// The STFT modules (SpecBlur, SpecGate, HPSS): exact pass-through at their neutral settings, the
// gate's threshold, the separation of a tone from clicks, HPSS's medians against a direct
// computation, blocks outside 1..4096.
#include "ModuleRunner.h"
#include "fx/dsp/Stft.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace vesk {
namespace {

using test::ModuleRunner;

constexpr double kRate = 48000.0;
constexpr size_t kLatency = Stft::kLatencyFrames;

TEST(SpectralModules, NeutralSettingsReturnTheInputDelayedByTheLatency)
{
    const struct
    {
        const char* name;
        FXType type;
        int knob;
        float value;
    } cases[] = {{"SpecBlur mix 0", FXType::SpecBlur, 1, 0.0f},
                 {"SpecGate reduce 1", FXType::SpecGate, 1, 1.0f},
                 {"HPSS layer 0.5", FXType::HPSS, 0, 0.5f}};
    for (const auto& c : cases) {
        ModuleRunner m(c.type);
        m.params[c.knob] = c.value;
        const auto a = test::noise(24000, 21, 0.5);
        const auto b = test::sine(333.0, kRate, 24000, 0.5);
        auto [l, r] = m.run(a, b, 1000);
        const size_t n = a.size() - kLatency;
        EXPECT_LT(test::errorDb(a.data(), l.data() + kLatency, n), -100.0) << c.name;
        EXPECT_LT(test::errorDb(b.data(), r.data() + kLatency, n), -100.0) << c.name;
        EXPECT_NEAR(test::rms(l.data() + kLatency, n) / test::rms(a.data(), n), 1.0, 1e-4)
            << c.name;
        EXPECT_EQ(m.counts.total(), 0u) << c.name;
    }
}

TEST(SpectralModules, EmptyAndOversizedBlocksPassUntouched)
{
    for (FXType t : {FXType::SpecBlur, FXType::SpecGate, FXType::HPSS}) {
        ModuleRunner m(t);
        auto x = test::noise(4097, 2, 0.5);
        auto l = x;
        auto r = x;
        m.process(l, r, 4097);
        EXPECT_EQ(l, x) << int(t);
    }
}

TEST(SpectralGateHoldFX, PassesALoudSineAndSilencesAQuietOne)
{
    // Defaults: threshold 0 dB on the STFT's scale, reduce 0. A -20 dBFS sine reads about 20 at
    // its bins, a -60 dBFS one about 0.2.
    const size_t n = 24000;
    ModuleRunner loud(FXType::SpecGate);
    const auto x = test::sine(1000.0, kRate, n, 0.1);
    const auto y = loud.runMono(x);
    EXPECT_LT(test::errorDb(x.data() + 4000, y.data() + 4000 + kLatency, n - 4000 - kLatency),
              -40.0);
    EXPECT_NEAR(test::rms(y.data() + 8000, 8000), test::rms(x.data() + 8000, 8000), 1e-3);

    ModuleRunner quiet(FXType::SpecGate);
    const auto z = quiet.runMono(test::sine(1000.0, kRate, n, 0.001));
    EXPECT_LT(test::peak(z.data() + 4000, n - 4000), 1e-7);
}

TEST(SpectralGateHoldFX, GatesTheChannelsIndependently)
{
    ModuleRunner m(FXType::SpecGate);
    auto [l, r] =
        m.run(test::sine(1000.0, kRate, 24000, 0.1), test::sine(1000.0, kRate, 24000, 0.001));
    EXPECT_GT(test::rms(l.data() + 8000, 8000), 0.05);
    EXPECT_LT(test::peak(r.data() + 4000, 20000), 1e-7);
}

// Energy of y that is not explained by the best-fitting multiple of x.
void fit(const std::vector<float>& x, const float* y, size_t n, double& fitted, double& rest)
{
    double xy = 0.0;
    double xx = 0.0;
    for (size_t i = 0; i < n; ++i) {
        xy += double(x[i]) * y[i];
        xx += double(x[i]) * x[i];
    }
    const double g = xx > 0.0 ? xy / xx : 0.0;
    fitted = g * g * xx;
    rest = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double e = y[i] - g * x[i];
        rest += e * e;
    }
}

TEST(HPSSFX, SeparatesASineFromClicks)
{
    // A steady 1 kHz sine plus a click every 4096 samples. Layer 1 keeps the harmonic part,
    // Layer 0 the percussive part; each must improve its part's share by at least 15 dB.
    const size_t n = 96000;
    const auto sine = test::sine(1000.0, kRate, n, 0.2);
    std::vector<float> clicks(n, 0.0f);
    for (size_t i = 2000; i < n; i += 4096)
        clicks[i] = 1.0f;
    std::vector<float> mix(n);
    for (size_t i = 0; i < n; ++i)
        mix[i] = sine[i] + clicks[i];
    const size_t from = 24000; // the time median has filled by then
    const size_t len = n - from - kLatency;
    const std::vector<float> sinePart(sine.begin() + from, sine.begin() + from + len);
    const std::vector<float> clickPart(clicks.begin() + from, clicks.begin() + from + len);
    double sineEnergy = 0.0, clickEnergy = 0.0, unused = 0.0;
    fit(sinePart, sinePart.data(), len, sineEnergy, unused);
    fit(clickPart, clickPart.data(), len, clickEnergy, unused);
    const double inputDb = 10.0 * std::log10(sineEnergy / clickEnergy);

    ModuleRunner harmonic(FXType::HPSS);
    harmonic.params[0] = 1.0f;
    const auto h = harmonic.runMono(mix);
    double kept = 0.0, leaked = 0.0;
    fit(sinePart, h.data() + from + kLatency, len, kept, leaked);
    EXPECT_GT(10.0 * std::log10(kept / leaked) - inputDb, 15.0);

    ModuleRunner percussive(FXType::HPSS);
    percussive.params[0] = 0.0f;
    const auto p = percussive.runMono(mix);
    fit(clickPart, p.data() + from + kLatency, len, kept, leaked);
    EXPECT_GT(10.0 * std::log10(kept / leaked) + inputDb, 15.0);
    EXPECT_EQ(harmonic.counts.total() + percussive.counts.total(), 0u);
}

// HPSS worked out directly at 48 kHz (one hop per history frame): each median taken afresh from
// its values, the mask as documented in the module. The module keeps its medians up to date frame
// by frame; the output must be the same.
class DirectHpss
{
public:
    void process(std::vector<float>& l, std::vector<float>& r, size_t at, unsigned n,
                 const float* params)
    {
        const float layer = params[0];
        gH_ = std::min(2.0f * layer, 1.0f);
        gP_ = std::min(2.0f - 2.0f * layer, 1.0f);
        const double frameMs = Stft::kHop * 1000.0 / kRate;
        const double timeMs = 20.0 * std::pow(25.0, double(params[1]));
        timeLength_ = std::clamp(int(std::lround(timeMs / frameMs)), 3, 128);
        const double widthHz = 100.0 * std::pow(40.0, double(params[2]));
        width_ = std::clamp(int(std::lround(widthHz / (kRate / Stft::kWindow))) | 1, 3, 129);
        exponent_ = 0.5f * params[3];
        stft_.process(l.data() + at, r.data() + at, n,
                      [this](Stft::Bin* a, Stft::Bin* b) { hop(a, b); });
    }
    void restart() { frames_.clear(); }

private:
    void hop(Stft::Bin* l, Stft::Bin* r)
    {
        constexpr int kBins = Stft::kBins;
        std::vector<float> power(kBins);
        for (int b = 0; b < kBins; ++b)
            power[b] = Stft::power(l[b]) + Stft::power(r[b]);
        frames_.push_front(power);
        if (frames_.size() > 128)
            frames_.pop_back();
        if (gH_ == gP_) {
            for (int b = 0; b < kBins; ++b) {
                l[b] *= gH_;
                r[b] *= gH_;
            }
            return;
        }
        const int n = std::min<int>(timeLength_, int(frames_.size()));
        const int half = width_ / 2;
        std::vector<float> values;
        for (int b = 0; b < kBins; ++b) {
            values.clear();
            for (int j = 0; j < n; ++j)
                values.push_back(frames_[size_t(j)][size_t(b)]);
            std::nth_element(values.begin(), values.begin() + n / 2, values.end());
            const float h = values[size_t(n / 2)];
            values.clear();
            for (int i = b - half; i <= b + half; ++i) {
                const int k = std::abs(i) < kBins ? std::abs(i) : 2 * (kBins - 1) - i;
                values.push_back(power[size_t(k)]);
            }
            std::nth_element(values.begin(), values.begin() + half, values.end());
            const float p = values[size_t(half)];
            float mask = p > 0.0f ? 0.0f : 0.5f;
            if (h > 0.0f) {
                const float ratio = p / h;
                const float e = exponent_;
                mask = 1.0f / (1.0f + (e == 1.0f   ? ratio
                                       : e == 2.0f ? ratio * ratio
                                                   : std::pow(ratio, e)));
            }
            const float g = gP_ + (gH_ - gP_) * mask;
            l[b] *= g;
            r[b] *= g;
        }
    }

    Stft stft_;
    std::deque<std::vector<float>> frames_; // newest first
    float gH_ = 1.0f, gP_ = 1.0f, exponent_ = 1.0f;
    int timeLength_ = 3, width_ = 3;
};

TEST(HPSSFX, MediansEqualADirectComputationWhileTheKnobsMoveAndTriggersRestart)
{
    // Each case moves one knob every few blocks (Time changes the median length, Layer passes
    // through 0.5 where nothing is separated) and restarts the analysis now and then.
    const struct
    {
        const char* name;
        float params[4];
        int movingKnob;
        float low, high;
    } cases[] = {{"time sweep, sharp 2", {0.2f, 0.3f, 0.44f, 2.0f}, 1, 0.0f, 0.4f},
                 {"layer through 0.5, sharp 4", {0.8f, 0.2f, 0.1f, 4.0f}, 0, 0.3f, 0.7f},
                 {"wide, sharp 3", {0.0f, 0.9f, 1.0f, 3.0f}, 1, 0.85f, 1.0f},
                 // Widths of 3 to 21 bins, across the change from networks to sliding windows.
                 {"width sweep, sharp 1", {0.3f, 0.25f, 0.0f, 1.0f}, 2, 0.0f, 0.62f}};
    const size_t n = 48000;
    std::vector<float> a = test::noise(n, 31, 0.3);
    const std::vector<float> tone = test::sine(700.0, kRate, n, 0.2);
    for (size_t i = 0; i < n; ++i)
        a[i] += tone[i] + (i % 3000 == 100 ? 0.8f : 0.0f);
    const std::vector<float> b = test::noise(n, 32, 0.2);
    for (const auto& c : cases) {
        ModuleRunner module(FXType::HPSS);
        DirectHpss direct;
        std::copy(c.params, c.params + 4, module.params);
        std::vector<float> ml = a, mr = b, dl = a, dr = b;
        static constexpr unsigned kBlocks[] = {256, 1000, 77, 4096, 300};
        size_t at = 0;
        for (int k = 0; at < n; ++k) {
            const unsigned len = unsigned(std::min<size_t>(kBlocks[k % 5], n - at));
            if (k % 4 == 3)
                module.params[c.movingKnob] = c.low + (c.high - c.low) * float((k * 7) % 10) / 9;
            if (k % 11 == 10) {
                module.trigger();
                direct.restart();
            }
            std::vector<float> bl(ml.begin() + at, ml.begin() + at + len);
            std::vector<float> br(mr.begin() + at, mr.begin() + at + len);
            module.process(bl, br, len);
            std::copy(bl.begin(), bl.end(), ml.begin() + at);
            std::copy(br.begin(), br.end(), mr.begin() + at);
            direct.process(dl, dr, at, len, module.params);
            at += len;
        }
        size_t differing = 0;
        for (size_t i = 0; i < n; ++i)
            differing += (ml[i] != dl[i]) + (mr[i] != dr[i]);
        EXPECT_EQ(differing, 0u) << c.name;
        EXPECT_GT(test::rms(ml.data() + kLatency, n - kLatency), 0.01) << c.name;
        EXPECT_EQ(module.counts.total(), 0u) << c.name;
    }
}

TEST(SpectralBlurFX, ALongReleaseHoldsLoudBinsOverAQuietContinuation)
{
    // Loud noise, then the same noise 40 dB down. Each bin's magnitude follows its envelope (up
    // to 4 times the bin's own), so with a long release the quiet part comes out louder for a
    // while; with the shortest release (5 ms) it is back to its own level within 50 ms.
    auto x = test::noise(24000, 6, 0.5);
    for (size_t i = 9600; i < x.size(); ++i)
        x[i] *= 0.01f;
    const size_t from = 9600 + kLatency + 2400; // 50..100 ms after the change
    const double quiet = test::rms(x.data() + 9600 + 2400, 2400);
    ModuleRunner slow(FXType::SpecBlur);
    slow.params[0] = 0.6f; // release 5 ms x 400^0.6 = 183 ms
    const auto y = slow.runMono(x);
    EXPECT_GT(test::rms(y.data() + from, 2400), 2.0 * quiet);
    ModuleRunner fast(FXType::SpecBlur);
    fast.params[0] = 0.0f;
    const auto z = fast.runMono(x);
    EXPECT_NEAR(test::rms(z.data() + from, 2400) / quiet, 1.0, 0.25);
}

} // namespace
} // namespace vesk
