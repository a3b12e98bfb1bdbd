// TapeStartStop: plays each new sound with a tape spin-up and ends it with a power-down. A pass
// starts at the first sound after the module is armed (initially, after 50 ms of silence, or on a
// trigger); the stop replays the recent input ever slower, read at a growing lag.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/FXVTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vesk::TapeStartStopFX {

namespace {

constexpr int kTableSize = 2048;
constexpr float kAudible = 0.001f;

struct Tables
{
    float rise[kTableSize];  // x^1.7
    float lag[kTableSize];   // x^2.7 / 2.7
    float level[kTableSize]; // x^2.5
};

const Tables& tables()
{
    static const Tables t = [] {
        Tables r{};
        for (int i = 0; i < kTableSize; ++i) {
            const double x = double(i) / (kTableSize - 1);
            r.rise[i] = static_cast<float>(std::pow(x, 1.7));
            r.lag[i] = static_cast<float>(std::pow(x, 2.7) / 2.7);
            r.level[i] = static_cast<float>(std::pow(x, 2.5));
        }
        return r;
    }();
    return t;
}

inline double lookup(const float* table, double y)
{
    if (!(y > 0.0))
        return table[0];
    if (y >= 1.0)
        return table[kTableSize - 1];
    const double p = y * (kTableSize - 1);
    const int n = static_cast<int>(p);
    return table[n] + (table[std::min(n + 1, kTableSize - 1)] - table[n]) * (p - n);
}

struct State
{
    float* rings; // 2 x size
    unsigned size;
    unsigned mask;
    unsigned write;
    bool active;
    bool armed;
    unsigned position; // frames since the pass began
    unsigned silence;
    double smoothed[2];
    double brightness; // c
    double rate;
};

unsigned ringSize(double rate)
{
    return fxsupport::powerOfTwoAtLeast(std::max(64.0, 2.5 * rate));
}

void restart(State& s)
{
    s.active = false;
    s.armed = true;
    s.position = 0;
    s.silence = 0;
    s.smoothed[0] = s.smoothed[1] = 0.0;
}

void clear(State& s)
{
    std::memset(s.rings, 0, sizeof(float) * 2 * s.size);
    s.write = 0;
    restart(s);
}

void configure(State& s, double rate)
{
    s.rate = fxsupport::safeRate(rate);
    const unsigned size = ringSize(s.rate);
    fxsupport::resizeStereoLine(s.rings, s.size, size);
    s.mask = s.size - 1;
    s.brightness = 1.0 - std::exp(-2.0 * std::numbers::pi * 150.0 / s.rate);
    clear(s);
}

void construct(void* block, double rate)
{
    tables();
    configure(fxsupport::createState<State>(block), rate);
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    State& s = fxsupport::stateOf<State>(block);
    if (s.rings == nullptr)
        return;
    const Tables& t = tables();
    const double rate = s.rate;
    const unsigned startAt =
        static_cast<unsigned>(rate * fxsupport::clampTo(params[0], 0.0f, 10.0f));
    const unsigned startLen =
        static_cast<unsigned>(rate * fxsupport::clampTo(params[1], 0.0f, 3.0f));
    const unsigned startEnd = startAt + startLen;
    const unsigned stopAt =
        static_cast<unsigned>(rate * fxsupport::clampTo(params[2], 0.05f, 10.0f));
    const unsigned stopLen =
        std::max(2u, static_cast<unsigned>(rate * fxsupport::clampTo(params[3], 0.05f, 3.0f)));
    const unsigned stopBegin = std::max(startEnd, stopAt);
    const unsigned armAfter = static_cast<unsigned>(rate * 0.05);
    const unsigned endAfter = static_cast<unsigned>(rate * 0.1);
    const double c = s.brightness;
    const double maxLag = double(s.size) - 2.0;
    float* ring[2] = {s.rings, s.rings + s.size};
    float* io[2] = {left, right};
    for (unsigned i = 0; i < frames; ++i) {
        const float in[2] = {io[0][i], io[1][i]};
        ring[0][s.write] = in[0];
        ring[1][s.write] = in[1];
        const float peak = std::max(std::abs(in[0]), std::abs(in[1]));
        float out[2] = {0.0f, 0.0f};
        if (!s.active) {
            if (!(peak >= kAudible)) {
                if (s.silence < armAfter)
                    ++s.silence;
                if (s.silence >= armAfter)
                    s.armed = true;
            } else {
                s.silence = 0;
                if (s.armed) {
                    s.armed = false;
                    s.active = true;
                    s.position = 0;
                }
            }
        }
        if (s.active) {
            const unsigned p = s.position;
            if (p < startAt) {
                // waiting for the start
            } else if (p < startEnd) {
                const double g = lookup(t.rise, double(p - startAt) / startLen);
                const double k = c + g * (1.0 - c);
                for (int ch = 0; ch < 2; ++ch) {
                    s.smoothed[ch] += (in[ch] - s.smoothed[ch]) * k;
                    out[ch] = static_cast<float>(g * s.smoothed[ch]);
                }
            } else if (p < stopAt) {
                out[0] = in[0];
                out[1] = in[1];
                if (peak >= kAudible) {
                    s.silence = 0;
                } else if (++s.silence >= endAfter) {
                    restart(s);
                }
            } else if (p >= stopBegin + stopLen) {
                // The stop has run out; silent until re-armed by silence or a trigger.
                s.active = false;
                s.position = 0;
                s.silence = 0;
            } else {
                const double y = double(p - stopBegin) / stopLen;
                const double rise = lookup(t.rise, y);
                const double speed = 1.0 - rise;
                const double lag = std::min(stopLen * lookup(t.lag, y), maxLag);
                const double gain = lookup(t.level, speed);
                const unsigned n = static_cast<unsigned>(lag);
                const double f = lag - n;
                const double k = c + speed * (1.0 - c);
                for (int ch = 0; ch < 2; ++ch) {
                    const double read = ring[ch][(s.write - n) & s.mask] * (1.0 - f) +
                                        ring[ch][(s.write - n - 1) & s.mask] * f;
                    s.smoothed[ch] += (read - s.smoothed[ch]) * k;
                    out[ch] = static_cast<float>(gain * s.smoothed[ch]);
                }
            }
            if (s.active)
                ++s.position;
        }
        io[0][i] = out[0];
        io[1][i] = out[1];
        s.write = (s.write + 1) & s.mask;
    }
}

using Lifecycle = fxsupport::RingLifecycle<State>;

} // namespace

extern const FXModuleVTable kVTable = {
    sizeof(State), construct, Lifecycle::destroy, Lifecycle::reset, Lifecycle::setSampleRate,
    process};

// [audio thread] A trigger restarts the pass: the next sound plays the start ramp again.
void notifyTrigger(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    restart(s);
}

} // namespace vesk::TapeStartStopFX
