// Three-band crossover EQ: two one-pole low-passes split low, mid and high, each band gets its own
// gain. The linear variant is a plain gain per band (all gains at 0 dB is transparent); the shaped
// variant bends each band's gain along a sine curve towards full scale, as the master chain uses.
#pragma once

#include <cstdint>

namespace vesk {

struct ThreeBandEQParams
{
    float lowGainDb = 0.0f;
    float midGainDb = 0.0f;
    float highGainDb = 0.0f;
    float lowMidHz = 120.0f;
    float midHighHz = 4200.0f;
    bool bypass = false;
    bool shaped = false;
};

class ThreeBandEQ
{
public:
    // [main thread] Stores the parameters; derives crossover coefficients when the rate is known
    // and converts the gains to linear. Non-finite values are replaced by the defaults, gains are
    // limited to +-60 dB and crossovers to 1 Hz .. 0.499 x rate.
    void setParams(const ThreeBandEQParams& p);
    // [main thread] Stores the rate and re-derives the crossover coefficients.
    void setSampleRate(double rate);
    // [audio thread] Clears the four low-pass memories.
    void reset();
    // [audio thread] In place; nothing when bypassed.
    void process(float* left, float* right, unsigned frames);

    const ThreeBandEQParams& params() const { return params_; }

private:
    void updateCrossovers();
    template <bool Shaped> void run(float* left, float* right, unsigned frames);

    ThreeBandEQParams params_;
    double sampleRate_ = 0.0;
    double loOneMinusP_ = 1.0, loMinusP_ = 0.0; // 1 - p and -p of the lower crossover
    double hiOneMinusP_ = 1.0, hiMinusP_ = 0.0;
    double lowLP_[2] = {0.0, 0.0};
    double highLP_[2] = {0.0, 0.0};
    double gain_[3] = {1.0, 1.0, 1.0};
    double gainMinusOne_[3] = {0.0, 0.0, 0.0};
    double absGainMinusOne_[3] = {0.0, 0.0, 0.0};
};

} // namespace vesk
