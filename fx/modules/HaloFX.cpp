// Halo: four tuned feedback combs excited by the mono input ring at a chord (a base pitch plus
// one of five voicings), spread across the stereo field and DC-blocked.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vesk::HaloFX {

namespace detail {
// Semitones added to the Pitch knob for the four combs, by Voice step.
inline constexpr float kVoicings[5][4] = {{0.0f, 0.07f, -0.07f, 0.13f},
                                          {0.0f, 12.0f, -12.0f, 24.0f},
                                          {0.0f, 7.0f, 12.0f, 19.0f},
                                          {0.0f, 4.0f, 7.0f, 12.0f},
                                          {0.0f, 3.0f, 7.0f, 12.0f}};
} // namespace detail

namespace {

constexpr int kCombs = 4;
constexpr double kMiddleC = 261.6256;

struct State
{
    float* lines; // kCombs x size
    unsigned size;
    unsigned mask;
    unsigned write;
    double loop[kCombs];
    double previousWet[2];
    double dcBlock[2];
    double rate;
};

unsigned lineSize(double rate)
{
    return fxsupport::powerOfTwoAtLeast(static_cast<unsigned>(rate / 30.0 + 4.0));
}

void clear(State& s)
{
    std::memset(s.lines, 0, sizeof(float) * kCombs * s.size);
    s.write = 0;
    for (double& v : s.loop)
        v = 0.0;
    s.previousWet[0] = s.previousWet[1] = 0.0;
    s.dcBlock[0] = s.dcBlock[1] = 0.0;
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    const unsigned size = lineSize(s.rate);
    fxsupport::resizeLines(s.lines, s.size, kCombs, size);
    s.mask = size - 1;
    clear(s);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.lines == nullptr)
        return;
    // Pitch, Decay and Mix are clamped here too: a decay above 1 would make the combs' loop gain
    // exceed 1, a non-finite pitch would make the delays meaningless.
    const double pitch = fxsupport::clampTo(params[0], -24.0f, 24.0f);
    const double decay = fxsupport::clamp01(params[1]);
    const int voice = static_cast<int>(fxsupport::clamp01(params[2]) * 4.999f);
    const double mix = fxsupport::clamp01(params[3]);
    double delay[kCombs];
    for (int k = 0; k < kCombs; ++k) {
        const double f = kMiddleC * std::exp2((pitch + detail::kVoicings[voice][k]) / 12.0);
        delay[k] = std::clamp(s.rate / f, 2.0, double(s.size) - 2.0);
    }
    const double g = 0.85 + 0.149 * decay;
    const double p = 0.4 + 0.3 * (1.0 - decay);
    static constexpr double kLeft[kCombs] = {0.924, 0.793, 0.609, 0.383};
    static constexpr double kRight[kCombs] = {0.383, 0.609, 0.793, 0.924};
    for (unsigned i = 0; i < frames; ++i) {
        const double x = 0.5 * (double(left[i]) + right[i]);
        double wet[2] = {0.0, 0.0};
        for (int k = 0; k < kCombs; ++k) {
            float* line = s.lines + k * s.size;
            const unsigned n = static_cast<unsigned>(delay[k]);
            const double f = delay[k] - n;
            const double read =
                line[(s.write - n) & s.mask] * (1.0 - f) + line[(s.write - n - 1) & s.mask] * f;
            s.loop[k] = std::clamp(s.loop[k] + p * (read - s.loop[k]), -1.0, 1.0);
            line[s.write] = static_cast<float>(0.5 * x + g * s.loop[k]);
            wet[0] += kLeft[k] * s.loop[k];
            wet[1] += kRight[k] * s.loop[k];
        }
        s.write = (s.write + 1) & s.mask;
        float* io[2] = {left, right};
        for (int c = 0; c < 2; ++c) {
            const double w = 0.6 * wet[c];
            s.dcBlock[c] = 0.999 * s.dcBlock[c] + w - s.previousWet[c];
            s.previousWet[c] = w;
            io[c][i] = static_cast<float>(io[c][i] * (1.0 - mix) + mix * s.dcBlock[c]);
        }
    }
}

using Lifecycle = fxsupport::DelayLineLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

} // namespace vesk::HaloFX
