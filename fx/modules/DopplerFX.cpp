// Doppler: turns each new sound into a fly-by. When signal starts after silence (or after a
// trigger) a pass plays: the input is replayed through short overlapping grains whose pitch
// glides from up to +24 semitones while the virtual source approaches to the mirrored value below
// while it recedes; level and brightness follow the distance.
//
// The generator is seeded from a fixed value at construction and again at every reset, so a pass
// sounds the same in every run and every render.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/FXVTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::DopplerFX {

namespace {

constexpr int kGrains = 48;
constexpr uint32_t kSeed = 0x9e3779b9u;
constexpr float kAudible = 0.001f;

struct Grain
{
    uint8_t active;
    uint32_t length;
    uint32_t age;
    uint32_t start;
    float position;
    float rate;
    float envStep;
};

struct State
{
    Grain grains[kGrains];
    float* rings; // 2 x size
    uint32_t size;
    uint32_t mask;
    uint32_t write;
    bool passActive;
    uint32_t passPosition;
    float readLag;
    double countdown;
    bool armed;
    uint32_t silence;
    float smoothed[2];
    double damping; // lambda
    uint32_t generator;
    double rate;
};

void restartPass(State& s)
{
    s.passActive = false;
    s.passPosition = 0;
    s.readLag = 0.0f;
    s.countdown = 0.0;
    s.armed = true;
    s.silence = 0;
    for (Grain& g : s.grains)
        g.active = 0;
}

void clear(State& s)
{
    std::memset(s.rings, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
    restartPass(s);
    s.smoothed[0] = s.smoothed[1] = 0.0f;
    s.generator = kSeed;
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    fxsupport::resizeStereoLine(s.rings, s.size,
                                fxsupport::powerOfTwoAtLeast(std::max(64.0, 3.0 * s.rate)));
    s.mask = s.size - 1;
    s.damping = 1.0 - std::exp(-2.0 * std::numbers::pi * 380.0 / s.rate);
    clear(s);
}

void construct(void* block, double rate)
{
    fxsupport::parabolicGrainEnvelope();
    configure(fxsupport::createState<State>(block), rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.rings == nullptr)
        return;
    const double R = s.rate;
    const float throwKnob = fxsupport::clamp01(params[0]);
    const float attackKnob = fxsupport::clamp01(params[1]);
    const float tailKnob = fxsupport::clamp01(params[2]);
    const uint32_t attack =
        std::max(1u, static_cast<uint32_t>(R * (0.005 + 1.995 * attackKnob * attackKnob)));
    const uint32_t tail =
        std::max(1u, static_cast<uint32_t>(R * (0.01 + 2.99 * tailKnob * tailKnob)));
    const uint32_t passLength = attack + tail;
    const double closest = 1.2 - 1.13 * fxsupport::clamp01(params[3]);
    const double q = closest * closest;
    const double a = std::sqrt(q + 1.0);
    const float lagStep = 1.0f - (0.25f + 0.75f * fxsupport::clamp01(params[4]));
    const double spacing = R / (10.0 + 110.0 * fxsupport::clamp01(params[5]));
    const double sizeKnob = fxsupport::clamp01(params[6]);
    const uint32_t grainLength = std::min(
        std::max(8u, static_cast<uint32_t>((20.0 + 280.0 * sizeKnob) * 0.001 * R)), s.size / 5);
    const float envStep = 256.0f / grainLength;
    const float mix = fxsupport::clamp01(params[7]);
    const double brightBase = 1.0 - 0.6 * (1.0 - s.damping);
    const uint32_t silenceLimit = static_cast<uint32_t>(R * 0.05);
    const float* table = fxsupport::parabolicGrainEnvelope();
    float* ringL = s.rings;
    float* ringR = s.rings + s.size;

    for (unsigned i = 0; i < frames; ++i) {
        const float xl = left[i];
        const float xr = right[i];
        ringL[s.write] = xl;
        ringR[s.write] = xr;

        if (!s.passActive) {
            if (!(std::max(std::abs(xl), std::abs(xr)) >= kAudible)) {
                if (s.silence < silenceLimit)
                    ++s.silence;
                if (s.silence >= silenceLimit)
                    s.armed = true;
            } else {
                s.silence = 0;
                if (s.armed) {
                    s.armed = false;
                    s.passActive = true;
                    s.passPosition = 0;
                    s.countdown = 0.0;
                    s.readLag = 0.0f;
                }
            }
        }

        double level = 1.0;
        double bright = 1.0;
        bool spawning = false;
        if (s.passActive) {
            const uint32_t p = s.passPosition;
            double v;
            double fade = 1.0;
            if (p < attack) {
                v = double(p) / attack - 1.0;
            } else {
                v = double(p - attack) / tail;
                const double x = std::min(v, 1.0);
                fade = 1.0 - x * x * (3.0 - 2.0 * x);
            }
            spawning = p < passLength;
            const double distance = std::sqrt(v * v + q);
            level = fade * closest / distance;
            bright = (1.0 - brightBase) * closest / distance + brightBase;
            if (spawning) {
                s.countdown -= 1.0;
                if (s.countdown <= 0.0) {
                    const double rho =
                        std::clamp(std::exp2(-2.0 * throwKnob * a * v / distance), 0.25, 4.0);
                    while (s.countdown <= 0.0) {
                        s.countdown += spacing;
                        Grain* g = nullptr;
                        for (Grain& candidate : s.grains) {
                            if (!candidate.active) {
                                g = &candidate;
                                break;
                            }
                        }
                        if (g == nullptr)
                            continue; // all 48 busy: this grain is dropped
                        g->length = grainLength;
                        g->age = 0;
                        g->position = 0.0f;
                        g->rate = static_cast<float>(rho);
                        g->envStep = envStep;
                        g->active = 1;
                        uint32_t& x = s.generator;
                        x ^= x << 13;
                        x ^= x >> 17;
                        x ^= x << 5;
                        const double r = double(x >> 8) * (1.0 / 16777216.0);
                        double offset = s.readLag + 0.5 * grainLength * r;
                        offset = std::max(offset, grainLength * (rho - 1.0) + 4.0);
                        offset = std::min(offset, double(s.size) - grainLength * rho - 2.0);
                        g->start =
                            (s.write - static_cast<uint32_t>(std::max(offset, 0.0))) & s.mask;
                    }
                }
            }
        }

        float sumL = 0.0f;
        float sumR = 0.0f;
        bool anyGrain = false;
        for (Grain& g : s.grains) {
            if (!g.active)
                continue;
            const uint32_t whole = static_cast<uint32_t>(g.position);
            const float frac = g.position - float(whole);
            const uint32_t k0 = (g.start + whole) & s.mask;
            const uint32_t k1 = (k0 + 1) & s.mask;
            const float y = g.envStep * float(g.age);
            const int j = std::min(static_cast<int>(y), 255);
            const float e = table[j] + (y - float(j)) * (table[j + 1] - table[j]);
            sumL += e * (ringL[k0] + frac * (ringL[k1] - ringL[k0]));
            sumR += e * (ringR[k0] + frac * (ringR[k1] - ringR[k0]));
            g.position += g.rate;
            if (++g.age >= g.length)
                g.active = 0;
            else
                anyGrain = true;
        }

        s.smoothed[0] += static_cast<float>(bright * (level * sumL - s.smoothed[0]));
        s.smoothed[1] += static_cast<float>(bright * (level * sumR - s.smoothed[1]));
        left[i] = xl * (1.0f - mix) + mix * s.smoothed[0];
        right[i] = xr * (1.0f - mix) + mix * s.smoothed[1];

        s.write = (s.write + 1) & s.mask;
        if (s.passActive) {
            ++s.passPosition;
            if (spawning)
                s.readLag += lagStep;
            if (!anyGrain && s.passPosition >= passLength)
                s.passActive = false;
        }
    }
}

using Lifecycle = fxsupport::RingLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State), construct, Lifecycle::destroy, Lifecycle::reset, Lifecycle::setSampleRate,
    process};

// [audio thread] A trigger ends a running pass and re-arms: the next sound starts a new one.
void notifyTrigger(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.rings != nullptr)
        restartPass(s);
}

} // namespace vesk::DopplerFX
