// The voice's per-sample stage against a plain loop: fades, then the high-pass and the low-pass
// one after the other per sample, each stretch of frames with its own coefficients and gains.
#include "engine/VoiceMix.h"

#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vesk {
namespace {

constexpr double kRate = 48000.0;
constexpr double kDamping = 1.4142135623730951;

// One step of the trapezoidal state-variable filter as the playback rules write it.
double tick(const SvfCoefficients& c, SvfState& s, double x, bool highPass)
{
    const double bp = c.a1 * s.s1 + c.a2 * (x - s.s2);
    const double lp = s.s2 + c.a2 * s.s1 + c.a3 * (x - s.s2);
    s.s1 = 2.0 * bp - s.s1;
    s.s2 = 2.0 * lp - s.s2;
    return highPass ? x - kDamping * bp - lp : lp;
}

double differenceDb(const std::vector<float>& a, const std::vector<float>& b)
{
    double e = 0.0, ref = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        e += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
        ref += double(a[i]) * a[i];
    }
    return e == 0.0 ? -300.0 : 10.0 * std::log10(e / std::max(ref, 1e-300));
}

TEST(VoiceMix, SegmentsMatchAPlainLoop)
{
    struct Case
    {
        int channels;
        bool highPass, lowPass, fades;
        int maxSegment; // segments of 1..maxSegment frames
    };
    const Case cases[] = {
        {2, true, true, false, 64}, {1, true, true, false, 64},   {2, true, true, true, 3},
        {1, true, true, true, 1},   {2, true, false, false, 50},  {1, false, true, true, 200},
        {2, false, false, true, 7}, {2, true, true, false, 2048},
    };
    uint32_t seed = 17;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return double(seed >> 8) / 16777216.0;
    };
    for (const Case& c : cases) {
        const int n = 2048;
        const auto inL = test::noise(n, 31, 0.5), inR = test::noise(n, 32, 0.5);
        std::vector<double> fade(n);
        for (int i = 0; i < n; ++i)
            fade[size_t(i)] = 0.5 + 0.5 * std::sin(0.01 * i);
        std::vector<VoiceMixSegment> segs;
        for (int at = 0; at < n;) {
            VoiceMixSegment s;
            s.frames = std::min(n - at, 1 + int(next() * c.maxSegment));
            s.gainLeft = 0.2 + next();
            s.gainRight = 0.2 + next();
            s.highPass = svfCoefficients(20.0 + 3000.0 * next(), kRate);
            s.lowPass = svfCoefficients(500.0 + 15000.0 * next(), kRate);
            segs.push_back(s);
            at += s.frames;
        }
        // Two calls, so the states carry over from one to the next.
        SvfState hp[2] = {}, lp[2] = {};
        std::vector<float> outL(n, 0.0f), outR(n, 0.0f);
        const size_t half = segs.size() / 2;
        int from = 0;
        for (const auto& [first, last] : {std::pair{size_t(0), half}, {half, segs.size()}}) {
            VoiceMixChunk k;
            k.in[0] = inL.data() + from;
            k.in[1] = inR.data() + from;
            k.channels = c.channels;
            k.fadeGain = c.fades ? fade.data() + from : nullptr;
            k.highPass = c.highPass;
            k.lowPass = c.lowPass;
            k.highPassState = hp;
            k.lowPassState = lp;
            k.segments = segs.data() + first;
            k.segmentCount = int(last - first);
            k.outLeft = outL.data() + from;
            k.outRight = outR.data() + from;
            mixVoiceChunk(k);
            for (size_t s = first; s < last; ++s)
                from += segs[s].frames;
        }

        SvfState mhp[2] = {}, mlp[2] = {};
        std::vector<float> modelL(n, 0.0f), modelR(n, 0.0f);
        for (int i = 0, s = 0, end = segs[0].frames; i < n; ++i) {
            if (i == end)
                end += segs[size_t(++s)].frames;
            const VoiceMixSegment& seg = segs[size_t(s)];
            double y[2] = {};
            for (int ch = 0; ch < c.channels; ++ch) {
                y[ch] = double((ch == 0 ? inL : inR)[size_t(i)]);
                if (c.fades)
                    y[ch] *= fade[size_t(i)];
                if (c.highPass)
                    y[ch] = tick(seg.highPass, mhp[ch], y[ch], true);
                if (c.lowPass)
                    y[ch] = tick(seg.lowPass, mlp[ch], y[ch], false);
            }
            if (c.channels == 1)
                y[1] = y[0];
            modelL[size_t(i)] = float(seg.gainLeft * y[0]);
            modelR[size_t(i)] = float(seg.gainRight * y[1]);
        }
        EXPECT_LT(differenceDb(modelL, outL), -120.0)
            << c.channels << " channels, segments up to " << c.maxSegment;
        EXPECT_LT(differenceDb(modelR, outR), -120.0)
            << c.channels << " channels, segments up to " << c.maxSegment;
    }
}

} // namespace
} // namespace vesk
