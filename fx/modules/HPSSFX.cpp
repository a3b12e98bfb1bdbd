// HPSS: harmonic/percussive separation by median filtering of the power spectrogram. A bin that
// is steady over time (time median) counts as harmonic, one that is spread over frequency
// (frequency median) as percussive; Layer blends the two parts with a soft mask.
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/FXVTables.h"
#include "fx/dsp/Stft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace vesk::HPSSFX {

namespace {

constexpr int kBins = Stft::kBins;
constexpr int kHistory = 128;
constexpr int kMaxWidth = 129;

struct Impl
{
    Stft stft;
    double rate = 48000.0;
    int group = 1; // hops averaged per history frame

    // Per block.
    float harmonicGain = 1.0f;
    float percussiveGain = 1.0f;
    int timeLength = 3;
    int width = 3;
    float exponent = 1.0f;

    float power[kBins] = {};
    float accumulator[kBins] = {};
    float history[kHistory][kBins] = {};
    float timeMedian[kBins] = {};
    float freqMedian[kBins] = {};
    float window[kMaxWidth] = {};
    int windowCount = 0;
    int writeIndex = 0;
    int filled = 0;
    int hops = 0;

    // Time-median windows: per bin, the values of the most recent history frames in ascending
    // order, kept up to date frame by frame (one removal and one insertion) instead of selecting
    // the median afresh on every hop. Rebuilt when the median length changes.
    float sorted[kBins][kHistory] = {};
    int sortedCount = 0;   // frames in every bin's window
    int sortedLength = -1; // the median length the windows were built for
    bool sortedValid = false;
};

struct State
{
    Impl* impl;
};

int groupFor(double rate)
{
    if (!(rate > 0.0))
        rate = 48000.0;
    return std::max(1, static_cast<int>(std::lround(rate / 48000.0)));
}

void restartAnalysis(Impl& m)
{
    std::fill(m.accumulator, m.accumulator + kBins, 0.0f);
    m.writeIndex = 0;
    m.filled = 0;
    m.hops = 0;
    m.sortedValid = false;
    m.sortedCount = 0;
}

void clear(Impl& m)
{
    m.stft.reset();
    restartAnalysis(m);
    std::memset(m.history, 0, sizeof(m.history));
    std::fill(m.timeMedian, m.timeMedian + kBins, 0.0f);
    std::fill(m.freqMedian, m.freqMedian + kBins, 0.0f);
    std::fill(m.power, m.power + kBins, 0.0f);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    auto impl = std::make_unique<Impl>();
    impl->rate = fxsupport::safeRate(rate);
    impl->group = groupFor(rate);
    s.impl = impl.release();
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void reset(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        clear(*m);
}

void setSampleRate(void* block, double rate)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl) {
        m->rate = fxsupport::safeRate(rate);
        m->group = groupFor(rate);
        clear(*m);
    }
}

// Mirror at both ends without repeating the edge bin.
inline int mirror(int i)
{
    int r = i < 0 ? -i : i;
    if (r >= kBins)
        r = 2 * (kBins - 1) - r;
    return std::clamp(r, 0, kBins - 1);
}

// Sorted-array helpers: remove one occurrence of v, insert v in order. The arrays are short
// (at most 129 values), so plain loops beat library calls here.
inline void sortedRemove(float* data, int& count, float v)
{
    const int at = static_cast<int>(std::lower_bound(data, data + count, v) - data);
    if (at == count)
        return;
    for (int i = at; i + 1 < count; ++i)
        data[i] = data[i + 1];
    --count;
}

inline void sortedInsert(float* data, int& count, float v)
{
    int i = count;
    while (i > 0 && data[i - 1] > v) {
        data[i] = data[i - 1];
        --i;
    }
    data[i] = v;
    ++count;
}

void windowRemove(Impl& m, float v)
{
    sortedRemove(m.window, m.windowCount, v);
}
void windowInsert(Impl& m, float v)
{
    sortedInsert(m.window, m.windowCount, v);
}

// Appends an averaged frame to the history and to the time-median windows.
void pushFrame(Impl& m)
{
    const float scale = 1.0f / m.group;
    if (m.sortedValid) {
        const bool full = m.sortedCount == m.sortedLength;
        const int leaving = (m.writeIndex - m.sortedCount + kHistory) % kHistory;
        for (int b = 0; b < kBins; ++b) {
            int count = m.sortedCount;
            if (full)
                sortedRemove(m.sorted[b], count, m.history[leaving][b]);
            sortedInsert(m.sorted[b], count, m.accumulator[b] * scale);
        }
        if (!full)
            ++m.sortedCount;
    }
    for (int b = 0; b < kBins; ++b) {
        m.history[m.writeIndex][b] = m.accumulator[b] * scale;
        m.accumulator[b] = 0.0f;
    }
    m.writeIndex = (m.writeIndex + 1) % kHistory;
    m.filled = std::min(m.filled + 1, kHistory);
}

// Rebuilds every bin's window from the n most recent history frames.
void rebuildWindows(Impl& m, int n)
{
    for (int b = 0; b < kBins; ++b) {
        float* w = m.sorted[b];
        for (int j = 0; j < n; ++j)
            w[j] = m.history[(m.writeIndex - 1 - j + kHistory) % kHistory][b];
        std::sort(w, w + n);
    }
    m.sortedCount = n;
    m.sortedLength = m.timeLength;
    m.sortedValid = true;
}

void processHop(Impl& m, Stft::Bin* l, Stft::Bin* r)
{
    for (int b = 0; b < kBins; ++b) {
        m.power[b] = Stft::power(l[b]) + Stft::power(r[b]);
        m.accumulator[b] += m.power[b];
    }
    if (++m.hops >= m.group) {
        pushFrame(m);
        m.hops = 0;
    }

    const float gH = m.harmonicGain;
    const float gP = m.percussiveGain;
    if (gH == gP) {
        if (gH != 1.0f) {
            for (int b = 0; b < kBins; ++b) {
                l[b] *= gH;
                r[b] *= gH;
            }
        }
        return;
    }

    // Time median: the element of rank n/2 among the n most recent history frames. Without any
    // frame yet the medians keep their values (zero after a reset).
    const int n = std::min(m.timeLength, m.filled);
    if (n > 0) {
        if (!m.sortedValid || m.sortedLength != m.timeLength || m.sortedCount != n)
            rebuildWindows(m, n);
        for (int b = 0; b < kBins; ++b)
            m.timeMedian[b] = m.sorted[b][n / 2];
    }

    // Frequency median of this hop's power, sliding a sorted window from bin to bin.
    const int half = m.width / 2;
    m.windowCount = 0;
    for (int j = -half; j <= half; ++j)
        windowInsert(m, m.power[mirror(j)]);
    for (int b = 0; b < kBins; ++b) {
        if (b > 0) {
            windowRemove(m, m.power[mirror(b - 1 - half)]);
            windowInsert(m, m.power[mirror(b + half)]);
        }
        m.freqMedian[b] = m.window[half];
    }

    for (int b = 0; b < kBins; ++b) {
        const float h = m.timeMedian[b];
        const float p = m.freqMedian[b];
        float mask;
        if (h > 0.0f) {
            const float ratio = p / h;
            const float e = m.exponent;
            mask = 1.0f / (1.0f + (e == 1.0f   ? ratio
                                   : e == 2.0f ? ratio * ratio
                                               : std::pow(ratio, e)));
        } else
            mask = p > 0.0f ? 0.0f : 0.5f;
        const float g = gP + (gH - gP) * mask;
        l[b] *= g;
        r[b] *= g;
    }
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0 || frames > 4096)
        return;
    const float layer = fxsupport::clamp01(params[0]);
    m->harmonicGain = std::min(2.0f * layer, 1.0f);
    m->percussiveGain = std::min(2.0f - 2.0f * layer, 1.0f);
    const double frameMs = m->group * double(Stft::kHop) * 1000.0 / m->rate;
    const double timeMs = 20.0 * std::pow(25.0, double(fxsupport::clamp01(params[1])));
    m->timeLength = std::clamp(static_cast<int>(std::lround(timeMs / frameMs)), 3, kHistory);
    const double widthHz = 100.0 * std::pow(40.0, double(fxsupport::clamp01(params[2])));
    const int widthBins = static_cast<int>(std::lround(widthHz / (m->rate / Stft::kWindow))) | 1;
    m->width = std::clamp(widthBins, 3, kMaxWidth);
    const float sharp = params[3];
    m->exponent = sharp >= 1.0f ? (sharp <= 8.0f ? 0.5f * sharp : 4.0f) : 0.5f;
    m->stft.process(left, right, frames, [m](Stft::Bin* l, Stft::Bin* r) { processHop(*m, l, r); });
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

// [audio thread] A trigger restarts the analysis: the history already kept is no longer used.
void notifyTrigger(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        restartAnalysis(*m);
}

} // namespace vesk::HPSSFX
