// Micro Modal: six parallel band-pass modes per channel, tuned to the partial ratios of one of
// four materials above a base pitch, mixed with the dry signal.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::MicroModalFX {

namespace detail {
// Mode frequency ratios by material.
inline constexpr float kModeRatios[4][6] = {{1.0f, 2.76f, 5.4f, 8.93f, 13.34f, 18.65f},
                                            {1.0f, 2.0f, 2.4f, 3.0f, 4.5f, 5.4f},
                                            {1.0f, 2.0f, 3.51f, 5.93f, 8.54f, 11.5f},
                                            {1.0f, 2.92f, 5.4f, 8.93f, 13.5f, 19.0f}};
} // namespace detail

namespace {

constexpr int kModes = 6;
constexpr double kMiddleC = 261.6256;

struct Coefficients
{
    float b0, b2, a1, a2;
};

struct State
{
    Coefficients coef[kModes];
    float mem[2][kModes][2]; // channel, mode, (s1, s2)
    double rate;
    float cachedPitch;
    float cachedDecay;
    int cachedMaterial;
};

void invalidate(State& s)
{
    s.cachedPitch = 999.0f;
    s.cachedDecay = -1.0f;
    s.cachedMaterial = -1;
}

void clearMemories(State& s)
{
    for (auto& ch : s.mem)
        for (auto& m : ch)
            m[0] = m[1] = 0.0f;
}

void design(State& s, float pitch, float decay, int material)
{
    const double base = kMiddleC * std::exp2(pitch / 12.0);
    const double q = 20.0 + 130.0 * decay;
    for (int i = 0; i < kModes; ++i) {
        double f = base * detail::kModeRatios[material][i];
        f = std::max(std::min(f, 0.49 * s.rate), 20.0);
        const double w = 2.0 * std::numbers::pi * f / s.rate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double a = 1.0 / (1.0 + alpha);
        s.coef[i] = {static_cast<float>(alpha * a), static_cast<float>(-alpha * a),
                     static_cast<float>(-2.0 * std::cos(w) * a),
                     static_cast<float>((1.0 - alpha) * a)};
    }
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    // Pitch, Decay and Mix are clamped as well: a decay below -0.15 would make Q negative and the
    // modes unstable, a non-finite value would poison the filters.
    const float pitch = fxsupport::clampTo(params[0], -24.0f, 24.0f);
    const float decay = fxsupport::clamp01(params[1]);
    const int material = static_cast<int>(fxsupport::clamp01(params[2]) * 3.999f);
    const float mix = fxsupport::clamp01(params[3]);
    if (pitch != s.cachedPitch || decay != s.cachedDecay || material != s.cachedMaterial) {
        design(s, pitch, decay, material);
        s.cachedPitch = pitch;
        s.cachedDecay = decay;
        s.cachedMaterial = material;
    }
    float* io[2] = {left, right};
    const float wetGain = 6.0f * mix;
    for (int c = 0; c < 2; ++c) {
        float* x = io[c];
        for (unsigned n = 0; n < frames; ++n) {
            const float in = x[n];
            float sum = 0.0f;
            for (int i = 0; i < kModes; ++i) {
                const Coefficients& k = s.coef[i];
                float* m = s.mem[c][i];
                const float y = k.b0 * in + m[0];
                m[0] = m[1] - k.a1 * y;
                m[1] = k.b2 * in - k.a2 * y;
                sum += y;
            }
            x[n] = in * (1.0f - mix) + wetGain * sum;
        }
    }
}

using Lifecycle = fxsupport::CachedDesignLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::MicroModalFX
