#include "fx/dsp/HilbertPair.h"

#include "support/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vesk {
namespace {

struct Case
{
    double rate;
    double freqHz;
};

// Envelope deviation sqrt(I^2 + Q^2) - 1 of a unit sine, after the filters have settled. With a
// 90-degree difference and unit gain the envelope is flat; a phase error e gives a ripple of
// about tan(e/2), which is also the level of the unwanted image of a frequency shifter.
double worstEnvelopeError(const Case& c)
{
    HilbertPair h;
    h.setSampleRate(c.rate);
    const size_t n = static_cast<size_t>(c.rate); // one second
    const auto x = test::sine(c.freqHz, c.rate, n);
    double worst = 0.0;
    for (size_t k = 0; k < n; ++k) {
        float i;
        float q;
        h.process(x[k], i, q);
        if (k >= n / 2)
            worst = std::max(worst, std::abs(std::hypot(double(i), double(q)) - 1.0));
    }
    return worst;
}

TEST(HilbertPair, QuadratureAcrossTheBandAtCommonRates)
{
    const Case cases[] = {{48000, 20},    {48000, 100},   {48000, 1000}, {48000, 10000},
                          {48000, 20000}, {44100, 20},    {44100, 5000}, {44100, 20000},
                          {96000, 20},    {96000, 20000}, {22050, 50},   {22050, 10000}};
    for (const Case& c : cases) {
        // 0.01 is -40 dB; the design reaches about -59 dB inside the band.
        EXPECT_LT(worstEnvelopeError(c), 0.01) << c.rate << " Hz rate, " << c.freqHz << " Hz";
    }
}

TEST(HilbertPair, QuadratureOutputLagsTheInPhaseOutput)
{
    // For a positive frequency Q must lag I by 90 degrees (I + iQ is then the analytic signal):
    // with I = cos(p), Q = sin(p) the product I[k] Q[k+1] - Q[k] I[k+1] is sin(w) > 0.
    HilbertPair h;
    h.setSampleRate(48000.0);
    const auto x = test::sine(1000.0, 48000.0, 9600);
    float pi = 0.0f;
    float pq = 0.0f;
    double cross = 0.0;
    for (size_t k = 0; k < x.size(); ++k) {
        float i;
        float q;
        h.process(x[k], i, q);
        if (k >= 4800)
            cross += double(pi) * q - double(pq) * i;
        pi = i;
        pq = q;
    }
    EXPECT_GT(cross, 0.0);
}

TEST(HilbertPair, ResetClearsTheMemories)
{
    HilbertPair h;
    h.setSampleRate(48000.0);
    float i;
    float q;
    for (int k = 0; k < 100; ++k)
        h.process(1.0f, i, q);
    h.reset();
    h.process(0.0f, i, q);
    EXPECT_EQ(i, 0.0f);
    EXPECT_EQ(q, 0.0f);
}

} // namespace
} // namespace vesk
