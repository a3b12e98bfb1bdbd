// Prism: twelve tuned partials, each a fourth-order band-pass (two identical biquads), with
// brightness, body and focus controls, mixed with the dry signal.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <cmath>
#include <numbers>

namespace vesk::HarmonicPrismFX {

namespace detail {
// Partial ratios by material: all harmonics, odd harmonics, fundamental and even harmonics,
// octaves.
inline constexpr float kModeRatios[4][12] = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                                             {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23},
                                             {1, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22},
                                             {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048}};
} // namespace detail

namespace {

constexpr int kPartials = 12;
constexpr double kMiddleC = 261.6256;

struct Coefficients
{
    float b0, b2, a1, a2;
};

struct State
{
    Coefficients coef[kPartials];
    float gain[kPartials];
    float mem[2][kPartials][2][2]; // channel, partial, stage, (s1, s2)
    double rate;
    float cached[4]; // Pitch, Focus, Brill, Body
    int cachedMaterial;
};

void invalidate(State& s)
{
    s.cached[0] = 999.0f;
    s.cached[1] = s.cached[2] = s.cached[3] = -1.0f;
    s.cachedMaterial = -1;
}

void clearMemories(State& s)
{
    for (auto& ch : s.mem)
        for (auto& p : ch)
            for (auto& st : p)
                st[0] = st[1] = 0.0f;
}

void design(State& s, float pitch, float focus, float brill, float body, int material)
{
    const double base = kMiddleC * std::exp2(pitch / 12.0);
    const double q = 30.0 + 270.0 * focus;
    for (int i = 1; i <= kPartials; ++i) {
        const double f = base * detail::kModeRatios[material][i - 1];
        const double amplitude = std::pow(double(i), -2.0 * brill);
        const double d = 1.0 - 1.0 / (double(i) * i);
        const double bodyWeight = d + (1.0 - d) * body;
        s.gain[i - 1] = static_cast<float>(28.0 * amplitude * bodyWeight);
        if (f > 0.49 * s.rate || f < 20.0) {
            s.coef[i - 1] = {0.0f, 0.0f, 0.0f, 0.0f};
            continue;
        }
        const double w = 2.0 * std::numbers::pi * f / s.rate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double a = 1.0 / (1.0 + alpha);
        s.coef[i - 1] = {static_cast<float>(alpha * a), static_cast<float>(-alpha * a),
                         static_cast<float>(-2.0 * std::cos(w) * a),
                         static_cast<float>((1.0 - alpha) * a)};
    }
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    const float pitch = fxsupport::clampTo(params[0], -24.0f, 24.0f);
    const float focus = fxsupport::clamp01(params[1]);
    const float brill = fxsupport::clamp01(params[2]);
    const float mix = fxsupport::clamp01(params[3]);
    const float body = fxsupport::clamp01(params[4]);
    const int material = static_cast<int>(fxsupport::clamp01(params[5]) * 3.999f);
    if (pitch != s.cached[0] || focus != s.cached[1] || brill != s.cached[2] ||
        body != s.cached[3] || material != s.cachedMaterial) {
        design(s, pitch, focus, brill, body, material);
        s.cached[0] = pitch;
        s.cached[1] = focus;
        s.cached[2] = brill;
        s.cached[3] = body;
        s.cachedMaterial = material;
    }
    float* io[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        float* x = io[c];
        for (unsigned n = 0; n < frames; ++n) {
            const float in = x[n];
            float sum = 0.0f;
            for (int i = 0; i < kPartials; ++i) {
                const Coefficients& k = s.coef[i];
                float v = in;
                for (int st = 0; st < 2; ++st) {
                    float* m = s.mem[c][i][st];
                    const float y = k.b0 * v + m[0];
                    m[0] = m[1] - k.a1 * y;
                    m[1] = k.b2 * v - k.a2 * y;
                    v = y;
                }
                sum += s.gain[i] * v;
            }
            x[n] = in * (1.0f - mix) + mix * sum;
        }
    }
}

using Lifecycle = fxsupport::CachedDesignLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::HarmonicPrismFX
