// Granular: plays up to 24 short grains with a parabolic envelope out of a half-second history
// of the input, with random length, transposition, position, level and pan per grain.
//
// The generator is seeded from a fixed value at construction and again at every reset, so the
// same input after a reset gives the same grains in every run and every render.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vesk::GranulationFX {

namespace {

constexpr int kGrains = 24;
constexpr uint32_t kSeed = 0x12345678u;

struct Grain
{
    bool active;
    uint32_t length;
    uint32_t age;
    uint32_t start;
    float position;
    float rate;
    float envStep;
    float lToL, rToL, rToR, lToR;
};

struct State
{
    Grain grains[kGrains];
    float* rings; // 2 x size
    uint32_t size;
    uint32_t write;
    double countdown;
    uint32_t generator;
    double rate;
};

uint32_t ringSize(double rate)
{
    return static_cast<uint32_t>(std::max(0.5 * rate, 64.0));
}

void clear(State& s)
{
    std::memset(s.rings, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
    s.countdown = 0.0;
    for (Grain& g : s.grains)
        g.active = false;
    s.generator = kSeed;
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    const uint32_t size = ringSize(s.rate);
    fxsupport::resizeStereoLine(s.rings, s.size, size);
    clear(s);
}

void construct(void* block, double rate)
{
    fxsupport::parabolicGrainEnvelope();
    configure(fxsupport::createState<State>(block), rate);
}

inline float draw(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return static_cast<float>(x >> 8) * (1.0f / 16777216.0f);
}

struct Settings
{
    double interval;
    uint32_t baseLength;
    float jitter, pitchRange, spread, panWidth, volumeJitter, mix;
};

void startGrain(State& s, const Settings& k)
{
    Grain* g = nullptr;
    for (Grain& candidate : s.grains) {
        if (!candidate.active) {
            g = &candidate;
            break;
        }
    }
    if (g == nullptr)
        return;
    const uint32_t half = s.size / 2;
    const float u1 = draw(s.generator);
    const float u2 = draw(s.generator);
    const float u3 = draw(s.generator);
    const float u4 = draw(s.generator);
    const float u5 = draw(s.generator);
    const double raw = (1.0 + k.jitter * (2.0 * u1 - 1.0)) * k.baseLength;
    const uint32_t length = std::min(std::max(static_cast<uint32_t>(std::max(raw, 0.0)), 4u), half);
    const float rate = std::exp2(k.pitchRange * (2.0f * u2 - 1.0f) / 12.0f);
    const uint32_t offset = static_cast<uint32_t>(k.spread * u3 * double(s.size - length));
    const float gain = 1.0f - k.volumeJitter * u4;
    const float p = k.panWidth * (2.0f * u5 - 1.0f);
    const float cL = std::sqrt(1.0f - p);
    const float cR = std::sqrt(1.0f + p);
    const float w = k.panWidth;
    g->lToL = (1.0f - w + cL * w / 2.0f) * gain;
    g->rToL = cL * (w / 2.0f) * gain;
    g->rToR = (1.0f - w + cR * w / 2.0f) * gain;
    g->lToR = cR * (w / 2.0f) * gain;
    // start = write + 1 - length - offset (mod size), computed without leaving 0..size.
    const uint64_t back = uint64_t(length) + offset + s.size - 1;
    g->start = static_cast<uint32_t>((uint64_t(s.write) + 2 * uint64_t(s.size) - back) % s.size);
    g->length = length;
    g->position = 0.0f;
    g->age = 0;
    g->rate = rate;
    g->envStep = 256.0f / length;
    g->active = true;
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.rings == nullptr)
        return;
    Settings k;
    k.interval = s.rate / (5.0 + 75.0 * fxsupport::clamp01(params[0]));
    const double lengthSamples = (10.0 + 190.0 * fxsupport::clamp01(params[1])) * 0.001 * s.rate;
    k.baseLength = std::min(std::max(static_cast<uint32_t>(lengthSamples), 4u), s.size / 2);
    k.jitter = fxsupport::clamp01(params[2]);
    k.pitchRange = 12.0f * fxsupport::clamp01(params[3]);
    k.spread = fxsupport::clamp01(params[4]);
    k.panWidth = fxsupport::clamp01(params[5]);
    k.volumeJitter = fxsupport::clamp01(params[6]);
    k.mix = fxsupport::clamp01(params[7]);
    const float* lut = fxsupport::parabolicGrainEnvelope();
    float* ringL = s.rings;
    float* ringR = s.rings + s.size;
    const uint32_t size = s.size;
    for (unsigned i = 0; i < frames; ++i) {
        const float l = left[i];
        const float r = right[i];
        ringL[s.write] = l;
        ringR[s.write] = r;
        s.countdown -= 1.0;
        while (s.countdown <= 0.0) {
            startGrain(s, k);
            s.countdown += k.interval;
        }
        float wetL = 0.0f;
        float wetR = 0.0f;
        for (Grain& g : s.grains) {
            if (!g.active)
                continue;
            const uint32_t n = static_cast<uint32_t>(g.position);
            uint32_t i0 = g.start + n;
            if (i0 >= size)
                i0 -= size;
            const uint32_t i1 = i0 + 1 == size ? 0 : i0 + 1;
            const float phi = g.position - float(n);
            const float gl = ringL[i0] + phi * (ringL[i1] - ringL[i0]);
            const float gr = ringR[i0] + phi * (ringR[i1] - ringR[i0]);
            const float y = g.envStep * float(g.age);
            const int j = std::min(static_cast<int>(y), 255);
            const float env = lut[j] + (y - float(j)) * (lut[j + 1] - lut[j]);
            g.position += g.rate;
            ++g.age;
            wetL += (gl * g.lToL + gr * g.rToL) * env;
            wetR += (gr * g.rToR + gl * g.lToR) * env;
            if (g.age >= g.length)
                g.active = false;
        }
        left[i] = l * (1.0f - k.mix) + k.mix * wetL;
        right[i] = r * (1.0f - k.mix) + k.mix * wetR;
        if (++s.write == size)
            s.write = 0;
    }
}

using Lifecycle = fxsupport::RingLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State), construct, Lifecycle::destroy, Lifecycle::reset, Lifecycle::setSampleRate,
    process};

} // namespace vesk::GranulationFX
