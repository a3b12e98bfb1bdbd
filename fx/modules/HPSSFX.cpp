// HPSS: harmonic/percussive separation by median filtering of the power spectrogram. A bin that
// is steady over time (time median) counts as harmonic, one that is spread over frequency
// (frequency median) as percussive; Layer blends the two parts with a soft mask.
#include "engine/CpuFeatures.h"
#include "engine/VectorValues.h"
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"
#include "fx/FXVTables.h"
#include "fx/dsp/Stft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>

namespace vesk::HPSSFX {

namespace {

constexpr int kBins = Stft::kBins;
constexpr int kHistory = 128;
constexpr int kMaxWidth = 129;

// The median windows are kept as columns of sorted values side by side, so one vector operation
// works on four or eight windows at once. The time windows have one column per bin (padded to a
// multiple of sixteen, two vectors at a time); the frequency median slides eight windows over
// eight stretches of the spectrum.
constexpr int kLanes = 8;
constexpr int kPaddedBins = (kBins + 2 * kLanes - 1) / (2 * kLanes) * (2 * kLanes);
constexpr int kStretch = (kBins + kLanes - 1) / kLanes; // bins per frequency window
constexpr int kEdge = kMaxWidth / 2; // bins a frequency window reaches past its centre

struct Impl
{
    Stft stft;
    double rate = 48000.0;
    int group = 1; // hops averaged per history frame, from the rate

    // [audio thread] Clears the transform, the history, the medians and every counter.
    void clear();

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
    float freqMedian[kLanes * kStretch] = {};           // kBins used
    float extended[kLanes * kStretch + 2 * kEdge] = {}; // power, mirrored past both ends
    float lanes[kMaxWidth + 1][kLanes] = {}; // the eight frequency windows, one column each
    int writeIndex = 0;
    int filled = 0;
    int hops = 0;

    // Time-median windows: row j holds, for every bin, the value of rank j among the bin's most
    // recent history frames. Kept up to date frame by frame (the leaving frame's value out, the
    // new one in) instead of selecting the median afresh on every hop; rebuilt when the median
    // length changes or after they were dropped. The row after the last holds +infinity.
    alignas(64) float sorted[kHistory + 1][kPaddedBins] = {}; // rows start on cache lines
    float leaving[kPaddedBins] = {};
    float entering[kPaddedBins] = {};
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

void Impl::clear()
{
    stft.reset();
    restartAnalysis(*this);
    std::memset(history, 0, sizeof(history));
    std::fill(timeMedian, timeMedian + kBins, 0.0f);
    std::fill(freqMedian, freqMedian + kBins, 0.0f);
    std::fill(power, power + kBins, 0.0f);
}

using Lifecycle = fxsupport::HeapImplLifecycle<State, Impl>;

// Four floats side by side for the portable build (SSE2 or NEON registers; wider vectors would be
// split up there), eight for the AVX2 build.
using vec::Float4;
using vec::Float8;
using vec::kWidthOf;
using vec::load;
using vec::splat;
using vec::store;

// Takes leaving[c] out of sorted column c and puts entering[c] in, for kWidthOf<V> side-by-side
// columns and without branches. Column c holds `count` values, rows[j * stride + c] for
// j = 0..count-1, among them leaving[c] (a column that is to grow by one has +infinity in its last
// row and as the leaving value), and row `count` holds +infinity. Both steps go row by row in one
// pass: taking the leaving value out, a row below it keeps its value and the others take the next
// row's; putting the entering value in, row j becomes max(row j - 1, min(entering, row j)) of the
// shortened column (-infinity before the first row).
template <class V, int Groups = 1>
[[gnu::always_inline]] inline void replaceInColumns(float* rows, size_t stride, int count,
                                                    const float* leaving, const float* entering)
{
    constexpr int w = kWidthOf<V>;
    V top;
    splat(top, std::numeric_limits<float>::infinity());
    V a[Groups], v[Groups], value[Groups], previous[Groups];
    for (int g = 0; g < Groups; ++g) {
        load(a[g], leaving + g * w);
        load(v[g], entering + g * w);
        load(value[g], rows + g * w);
        previous[g] = -top; // the row before, with the leaving value taken out
    }
    for (int j = 0; j < count; ++j) {
        for (int g = 0; g < Groups; ++g) {
            V next;
            load(next, rows + size_t(j + 1) * stride + g * w);
            const V shortened = value[g] < a[g] ? value[g] : next;
            const V lower = v[g] < shortened ? v[g] : shortened;
            const V out = previous[g] < lower ? lower : previous[g];
            store(rows + size_t(j) * stride + g * w, out);
            previous[g] = shortened;
            value[g] = next;
        }
    }
}

// The time windows of every bin: `leaving` and `entering` hold one value per bin.
template <class V>
[[gnu::always_inline]] inline void updateTimeColumns(float* sorted, int count, const float* leaving,
                                                     const float* entering)
{
    // Two vectors side by side per row: a whole cache line of each row at a time.
    constexpr int kStep = 2 * kWidthOf<V>;
    static_assert(kPaddedBins % kStep == 0);
    for (int b = 0; b < kPaddedBins; b += kStep)
        replaceInColumns<V, 2>(sorted + b, kPaddedBins, count, leaving + b, entering + b);
}

// Mirror at both ends without repeating the edge bin.
[[gnu::always_inline]] inline int mirrored(int i)
{
    int r = i < 0 ? -i : i;
    if (r >= kBins)
        r = 2 * (kBins - 1) - r;
    return std::clamp(r, 0, kBins - 1);
}

// The median of power[mirrored(b - half .. b + half)] for every bin b, with width = 2 * half + 1,
// from `extended` (power[mirrored(i)] at i + kEdge, for every i the windows reach). Each of the
// eight columns of `lanes` slides a sorted window over its own stretch of kStretch bins, filled by
// insertion at the stretch's first bin; `out` has room for all the stretches.
template <class V>
[[gnu::always_inline]] inline void frequencyMedians(const float* extended, int width, float* out,
                                                    float (*lanes)[kLanes])
{
    static_assert(kLanes % kWidthOf<V> == 0);
    const int half = width / 2;
    const float* first = extended + kEdge - half; // the value leaving after a stretch's first bin
    const float inf = std::numeric_limits<float>::infinity();
    float a[kLanes];
    float v[kLanes];
    std::fill(a, a + kLanes, inf); // nothing leaves while the windows fill
    std::fill(&lanes[0][0], &lanes[0][0] + kLanes, inf);
    for (int i = 0; i < width; ++i) {
        for (int c = 0; c < kLanes; ++c) {
            v[c] = first[c * kStretch + i];
            lanes[i + 1][c] = inf;
        }
        for (int c = 0; c < kLanes; c += kWidthOf<V>)
            replaceInColumns<V>(&lanes[0][c], kLanes, i + 1, a + c, v + c);
    }
    for (int c = 0; c < kLanes; ++c)
        out[c * kStretch] = lanes[half][c];
    for (int k = 1; k < kStretch; ++k) {
        for (int c = 0; c < kLanes; ++c) {
            a[c] = first[c * kStretch + k - 1];
            v[c] = first[c * kStretch + k - 1 + width];
        }
        for (int c = 0; c < kLanes; c += kWidthOf<V>)
            replaceInColumns<V>(&lanes[0][c], kLanes, width, a + c, v + c);
        for (int c = 0; c < kLanes; ++c)
            out[c * kStretch + k] = lanes[half][c];
    }
}

// Narrow frequency windows take their medians with a selection network instead: the window's
// values are loaded for eight bins side by side and put through fixed compare-and-exchange steps,
// all in registers. The network is Batcher's odd-even merge sort for the next power of two, less
// every step that touches a position past the window (those positions would hold +infinity and
// never move) and every step whose outputs the middle position does not depend on; a step of
// which only one output is used computes only that one.
constexpr int kMaxNetworkWidth = 17; // wider, sliding the window is quicker

struct Exchange
{
    int low = 0;  // gets the smaller value
    int high = 0; // gets the larger value
    bool keepLow = false;
    bool keepHigh = false;
};

template <int Width> struct MedianNetwork
{
    static constexpr int kMaxSteps = 512;
    Exchange steps[kMaxSteps] = {};
    int count = 0;

    constexpr MedianNetwork()
    {
        int size = 1;
        while (size < Width)
            size *= 2;
        Exchange all[kMaxSteps] = {};
        int n = 0;
        for (int p = 1; p < size; p *= 2)
            for (int k = p; k >= 1; k /= 2)
                for (int j = k % p; j + k < size; j += 2 * k)
                    for (int i = 0; i < k && i + j + k < size; ++i)
                        if ((i + j) / (2 * p) == (i + j + k) / (2 * p) && i + j + k < Width)
                            all[n++] = Exchange{i + j, i + j + k, true, true};
        // Backwards from the middle position: a step is kept when one of its outputs is needed,
        // and then both its inputs are.
        bool needed[Width] = {};
        needed[Width / 2] = true;
        bool kept[kMaxSteps] = {};
        for (int s = n - 1; s >= 0; --s) {
            Exchange& e = all[s];
            e.keepLow = needed[e.low];
            e.keepHigh = needed[e.high];
            kept[s] = e.keepLow || e.keepHigh;
            if (kept[s])
                needed[e.low] = needed[e.high] = true;
        }
        for (int s = 0; s < n; ++s)
            if (kept[s])
                steps[count++] = all[s];
    }
};

template <int Width> constexpr MedianNetwork<Width> kNetwork{};

template <class V, int Low, int High, bool KeepLow, bool KeepHigh>
[[gnu::always_inline]] inline void exchange(V* x)
{
    const V a = x[Low];
    const V b = x[High];
    // Two comparisons rather than one shared: each is then a single min or max instruction.
    if constexpr (KeepLow)
        x[Low] = a < b ? a : b;
    if constexpr (KeepHigh)
        x[High] = b < a ? a : b;
}

template <class V, int Width, int... S>
[[gnu::always_inline]] inline void runNetwork(V* x, std::integer_sequence<int, S...>)
{
    constexpr const Exchange* e = kNetwork<Width>.steps;
    (exchange<V, e[S].low, e[S].high, e[S].keepLow, e[S].keepHigh>(x), ...);
}

// Written out rather than looped, so the values are loaded straight into registers.
template <class V, int... T>
[[gnu::always_inline]] inline void loadWindow(V* x, const float* p,
                                              std::integer_sequence<int, T...>)
{
    (load(x[T], p + T), ...);
}

// out[b] = the median of power[mirrored(b - Width/2 .. b + Width/2)] for b = 0..kLanes*kStretch-1,
// from `extended` as for frequencyMedians.
template <class V, int Width>
[[gnu::always_inline]] inline void networkMedians(const float* extended, float* out)
{
    constexpr int w = kWidthOf<V>;
    static_assert((kLanes * kStretch) % w == 0);
    const float* first = extended + kEdge - Width / 2;
    for (int b = 0; b < kLanes * kStretch; b += w) {
        V x[Width];
        loadWindow(x, first + b, std::make_integer_sequence<int, Width>{});
        runNetwork<V, Width>(x, std::make_integer_sequence<int, kNetwork<Width>.count>{});
        store(out + b, x[Width / 2]);
    }
}

using NetworkFn = void (*)(const float*, float*);

struct MedianKernels
{
    void (*updateTime)(float*, int, const float*, const float*);
    void (*frequency)(const float*, int, float*, float (*)[kLanes]);
    const NetworkFn* networks; // by width: 3, 5, .. kMaxNetworkWidth
};

void updateTimePortable(float* sorted, int count, const float* leaving, const float* entering)
{
    updateTimeColumns<Float4>(sorted, count, leaving, entering);
}

void frequencyPortable(const float* power, int width, float* out, float (*lanes)[kLanes])
{
    frequencyMedians<Float4>(power, width, out, lanes);
}

template <int Width> void networkPortable(const float* extended, float* out)
{
    networkMedians<Float4, Width>(extended, out);
}

constexpr NetworkFn kNetworksPortable[] = {
    networkPortable<3>,  networkPortable<5>,  networkPortable<7>,  networkPortable<9>,
    networkPortable<11>, networkPortable<13>, networkPortable<15>, networkPortable<17>};
static_assert(std::size(kNetworksPortable) == (kMaxNetworkWidth - 1) / 2);

#if VESK_HAS_AVX2_BUILD
// The same kernels eight columns at a time for AVX2, chosen at run time. They only compare and
// select, so the results are the same on every processor.
VESK_TARGET_AVX2 void updateTimeAvx2(float* sorted, int count, const float* leaving,
                                     const float* entering)
{
    updateTimeColumns<Float8>(sorted, count, leaving, entering);
}

VESK_TARGET_AVX2 void frequencyAvx2(const float* power, int width, float* out,
                                    float (*lanes)[kLanes])
{
    frequencyMedians<Float8>(power, width, out, lanes);
}

template <int Width> VESK_TARGET_AVX2 void networkAvx2(const float* extended, float* out)
{
    networkMedians<Float8, Width>(extended, out);
}

constexpr NetworkFn kNetworksAvx2[] = {networkAvx2<3>,  networkAvx2<5>,  networkAvx2<7>,
                                       networkAvx2<9>,  networkAvx2<11>, networkAvx2<13>,
                                       networkAvx2<15>, networkAvx2<17>};
static_assert(std::size(kNetworksAvx2) == (kMaxNetworkWidth - 1) / 2);
#endif

const MedianKernels kKernels =
    VESK_CHOOSE_BUILD((MedianKernels{updateTimeAvx2, frequencyAvx2, kNetworksAvx2}),
                      (MedianKernels{updateTimePortable, frequencyPortable, kNetworksPortable}));

// Appends an averaged frame to the history and, while they are kept, to the time-median windows.
void pushFrame(Impl& m)
{
    const float scale = 1.0f / m.group;
    for (int b = 0; b < kBins; ++b)
        m.entering[b] = m.accumulator[b] * scale;
    if (m.sortedValid) {
        const bool full = m.sortedCount == m.sortedLength;
        int rows = m.sortedCount;
        if (full) {
            const int leaving = (m.writeIndex - m.sortedCount + kHistory) % kHistory;
            std::copy(m.history[leaving], m.history[leaving] + kBins, m.leaving);
        } else {
            // The windows grow by one: an empty last row (the +infinity row already there), a new
            // +infinity row after it, and nothing leaves.
            std::fill(m.leaving, m.leaving + kPaddedBins, std::numeric_limits<float>::infinity());
            ++rows;
            std::fill(m.sorted[rows], m.sorted[rows] + kPaddedBins,
                      std::numeric_limits<float>::infinity());
        }
        kKernels.updateTime(&m.sorted[0][0], rows, m.leaving, m.entering);
        m.sortedCount = rows;
    }
    std::copy(m.entering, m.entering + kBins, m.history[m.writeIndex]);
    std::fill(m.accumulator, m.accumulator + kBins, 0.0f);
    m.writeIndex = (m.writeIndex + 1) % kHistory;
    m.filled = std::min(m.filled + 1, kHistory);
}

// Rebuilds every bin's window from the n most recent history frames.
void rebuildWindows(Impl& m, int n)
{
    for (int b = 0; b < kBins; ++b) {
        float column[kHistory];
        for (int j = 0; j < n; ++j)
            column[j] = m.history[(m.writeIndex - 1 - j + kHistory) % kHistory][b];
        std::sort(column, column + n);
        for (int j = 0; j < n; ++j)
            m.sorted[j][b] = column[j];
    }
    std::fill(m.sorted[n], m.sorted[n] + kPaddedBins, std::numeric_limits<float>::infinity());
    m.sortedCount = n;
    m.sortedLength = m.timeLength;
    m.sortedValid = true;
}

// Mask of the harmonic part: 1 / (1 + (p / h)^exponent) for the time median h and frequency
// median p; with h = 0 it is 0 where p > 0, else 0.5. The harmonic value is worked out for every
// bin and stored, whether used or not, so the loops have no branches and vectorise.
[[gnu::always_inline]] inline void maskBins(const float* th, const float* fp, float gH, float gP,
                                            float e, float* l, float* r)
{
    float harmonic[kBins];
    if (e == 1.0f) {
        for (int b = 0; b < kBins; ++b)
            harmonic[b] = 1.0f / (1.0f + fp[b] / th[b]);
    } else if (e == 2.0f) {
        for (int b = 0; b < kBins; ++b) {
            const float ratio = fp[b] / th[b];
            harmonic[b] = 1.0f / (1.0f + ratio * ratio);
        }
    } else {
        for (int b = 0; b < kBins; ++b)
            harmonic[b] = th[b] > 0.0f ? 1.0f / (1.0f + std::pow(fp[b] / th[b], e)) : 0.0f;
    }
    for (int b = 0; b < kBins; ++b) {
        const float h = th[b];
        const float p = fp[b];
        const float hm = harmonic[b];
        const float silent = p > 0.0f ? 0.0f : 0.5f;
        const float mask = h > 0.0f ? hm : silent;
        const float g = gP + (gH - gP) * mask;
        l[2 * b] *= g;
        l[2 * b + 1] *= g;
        r[2 * b] *= g;
        r[2 * b + 1] *= g;
    }
}

using MaskFn = void (*)(const float*, const float*, float, float, float, float*, float*);

void maskPortable(const float* th, const float* fp, float gH, float gP, float e, float* l, float* r)
{
    maskBins(th, fp, gH, gP, e, l, r);
}

#if VESK_HAS_AVX2_BUILD
// Without fused multiply-add (see Stft.h), so it rounds exactly as the portable build.
VESK_TARGET_AVX2_NO_FMA void maskAvx2(const float* th, const float* fp, float gH, float gP, float e,
                                      float* l, float* r)
{
    maskBins(th, fp, gH, gP, e, l, r);
}
#endif

const MaskFn kMask = VESK_CHOOSE_BUILD(maskAvx2, maskPortable);

void processHop(Impl& m, Stft::Bin* l, Stft::Bin* r)
{
    const float* lf = reinterpret_cast<const float*>(l);
    const float* rf = reinterpret_cast<const float*>(r);
    for (int b = 0; b < kBins; ++b) {
        const float pl = lf[2 * b] * lf[2 * b] + lf[2 * b + 1] * lf[2 * b + 1];
        const float pr = rf[2 * b] * rf[2 * b] + rf[2 * b + 1] * rf[2 * b + 1];
        m.power[b] = pl + pr;
        m.accumulator[b] += m.power[b];
    }

    const float gH = m.harmonicGain;
    const float gP = m.percussiveGain;
    // Without separation the medians are not looked at, so the time windows are dropped rather
    // than kept up to date; they are rebuilt from the history when separation resumes.
    if (gH == gP)
        m.sortedValid = false;
    if (++m.hops >= m.group) {
        pushFrame(m);
        m.hops = 0;
    }
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
        std::copy(m.sorted[n / 2], m.sorted[n / 2] + kBins, m.timeMedian);
    }

    // Frequency median of this hop's power over `width` bins around each bin.
    std::copy(m.power, m.power + kBins, m.extended + kEdge);
    for (int i = -kEdge; i < 0; ++i)
        m.extended[i + kEdge] = m.power[mirrored(i)];
    for (int i = kBins; i < kLanes * kStretch + kEdge; ++i)
        m.extended[i + kEdge] = m.power[mirrored(i)];
    if (m.width <= kMaxNetworkWidth)
        kKernels.networks[(m.width - 3) / 2](m.extended, m.freqMedian);
    else
        kKernels.frequency(m.extended, m.width, m.freqMedian, m.lanes);

    kMask(m.timeMedian, m.freqMedian, gH, gP, m.exponent, reinterpret_cast<float*>(l),
          reinterpret_cast<float*>(r));
}

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr || frames == 0 || frames > 4096)
        return;
    m->group = groupFor(m->rate);
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

extern const FXModuleVTable kVTable = {
    sizeof(State),    Lifecycle::construct,     Lifecycle::destroy,
    Lifecycle::reset, Lifecycle::setSampleRate, process};

// [audio thread] A trigger restarts the analysis: the history already kept is no longer used.
void notifyTrigger(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        restartAnalysis(*m);
}

} // namespace vesk::HPSSFX
