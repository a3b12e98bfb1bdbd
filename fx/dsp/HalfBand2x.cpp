#include "fx/dsp/HalfBand2x.h"

#include <cstddef>

namespace vesk {

namespace dsp {

namespace {

// A chain of first-order allpasses (c + z^-1) / (1 + c z^-1) over the coefficients first, first
// + 2, ... mem[0] holds the chain's previous input, mem[k + 1] section k's previous output.
inline double allpassChain(double x, double* mem, int first)
{
    for (int k = 0; k < kHalfBandCoefs / 2; ++k) {
        const double c = kHalfBandCoefficients[static_cast<size_t>(first + 2 * k)];
        const double y = (x - mem[k + 1]) * c + mem[k];
        mem[k] = x;
        x = y;
    }
    mem[kHalfBandCoefs / 2] = x;
    return x;
}

} // namespace

void HalfBand2x::upsample(float input, float& out0, float& out1)
{
    out0 = static_cast<float>(allpassChain(input, mem0_, 0));
    out1 = static_cast<float>(allpassChain(input, mem1_, 1));
}

float HalfBand2x::downsample(float in0, float in1)
{
    const double a = allpassChain(in1, mem0_, 0);
    const double b = allpassChain(in0, mem1_, 1);
    return static_cast<float>(0.5 * (a + b));
}

void HalfBand2x::reset()
{
    for (double& m : mem0_) {
        m = 0.0;
    }
    for (double& m : mem1_) {
        m = 0.0;
    }
}

} // namespace dsp

void Oversampler2x::upsample(int channel, const float* in, float* out, unsigned frames)
{
    dsp::HalfBand2x& f = up_[channel & 1];
    for (unsigned i = 0; i < frames; ++i) {
        f.upsample(in[i], out[2 * i], out[2 * i + 1]);
    }
}

void Oversampler2x::downsample(int channel, const float* in, float* out, unsigned frames)
{
    dsp::HalfBand2x& f = down_[channel & 1];
    for (unsigned i = 0; i < frames; ++i) {
        out[i] = f.downsample(in[2 * i], in[2 * i + 1]);
    }
}

void Oversampler2x::reset()
{
    for (int c = 0; c < 2; ++c) {
        up_[c].reset();
        down_[c].reset();
    }
}

} // namespace vesk
