// 2x up- and downsampling with polyphase IIR half-band filters: two chains of first-order
// allpass sections (in the low-rate domain) per direction, one chain per polyphase branch. Eight
// coefficients give about 0.04 x rate of transition band and more than 90 dB of image rejection,
// at a few multiplies per sample and no latency beyond the filters' phase.
#pragma once

#include <array>

namespace vesk {

namespace dsp {

inline constexpr int kHalfBandCoefs = 8;
inline constexpr std::array<double, kHalfBandCoefs> kHalfBandCoefficients = {
    0.044076092541217804, 0.1620955467224121, 0.3205767869949341, 0.4852682054042816,
    0.6340200304985046,   0.7590285539627075, 0.8629928231239319, 0.9547836184501648};

// One half-band filter for one channel. Branch 0 runs the even coefficients, branch 1 the odd.
class HalfBand2x
{
public:
    // [audio thread] One low-rate sample in, two high-rate samples out.
    void upsample(float input, float& out0, float& out1);
    // [audio thread] Two high-rate samples in (in0 earlier), one low-rate sample out.
    float downsample(float in0, float in1);
    // [audio thread]
    void reset();

private:
    // Each branch: the input memory of its first section, then each section's output memory.
    double mem0_[kHalfBandCoefs / 2 + 1] = {};
    double mem1_[kHalfBandCoefs / 2 + 1] = {};
};

} // namespace dsp

// Four half-band filters: up- and downsamplers for left and right.
class Oversampler2x
{
public:
    // [audio thread] frames low-rate samples -> 2 x frames high-rate samples.
    void upsample(int channel, const float* in, float* out, unsigned frames);
    // [audio thread] 2 x frames high-rate samples -> frames low-rate samples.
    void downsample(int channel, const float* in, float* out, unsigned frames);
    // [audio thread] Clears all four filters.
    void reset();

private:
    dsp::HalfBand2x up_[2];
    dsp::HalfBand2x down_[2];
};

} // namespace vesk
