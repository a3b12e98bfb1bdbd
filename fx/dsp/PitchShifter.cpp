#include "fx/dsp/PitchShifter.h"

#include "fx/dsp/FftwPlanner.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace vesk {

namespace {

using Bin = std::complex<float>;

constexpr int kChannels = 2;
constexpr int kOverlap = 8;
constexpr double kTwoPi = 6.283185307179586;

double usableRate(double rate)
{
    return rate >= 1.0 && std::isfinite(rate) ? rate : 48000.0;
}

// Window length: 2048 at 44.1 and 48 kHz, the same duration at other rates, as a power of two.
// The frame holds the window with an eighth of its length of zeros on each side: a finer grid of
// bins for the peaks, and a latency above 50 ms.
int windowLengthFor(double rate)
{
    const double octaves = std::round(std::log2(rate / 48000.0));
    const int n = int(std::lround(2048.0 * std::exp2(octaves)));
    return std::clamp(n, 512, 16384);
}

// a * b without the library's checks for infinite and not-a-number parts (the values here are
// finite), which otherwise make the product a call.
inline Bin mul(Bin a, Bin b)
{
    return Bin(a.real() * b.real() - a.imag() * b.imag(),
               a.real() * b.imag() + a.imag() * b.real());
}

// atan2 to about 1e-5 rad (Abramowitz and Stegun 4.4.49 on the reduced ratio), written with
// selects only so that a loop over many values runs on vectors.
inline double fastAtan2(double y, double x)
{
    const double ax = std::fabs(x), ay = std::fabs(y);
    const double hi = std::max(std::max(ax, ay), 1e-300);
    const double a = std::min(ax, ay) / hi;
    const double q = a * a;
    double r =
        a * (0.9998660 + q * (-0.3302995 + q * (0.1801410 + q * (-0.0851330 + q * 0.0208351))));
    r = ay > ax ? 1.5707963267948966 - r : r;
    r = x < 0.0 ? 3.141592653589793 - r : r;
    return y < 0.0 ? -r : r;
}

// cos and sin of x in [-pi, pi], to about 1e-7, likewise with selects only.
inline void fastCosSin(double x, float& cosOut, float& sinOut)
{
    constexpr double kPi = 3.141592653589793;
    constexpr double kHalfPi = 1.5707963267948966;
    const bool above = x > kHalfPi;
    const bool below = x < -kHalfPi;
    x = above ? kPi - x : (below ? -kPi - x : x);
    const double sign = above || below ? -1.0 : 1.0;
    const double q = x * x;
    const double sn =
        x * (1.0 + q * (-1.0 / 6 +
                        q * (1.0 / 120 + q * (-1.0 / 5040 + q * (1.0 / 362880 - q / 39916800)))));
    const double cs =
        1.0 +
        q * (-0.5 + q * (1.0 / 24 + q * (-1.0 / 720 + q * (1.0 / 40320 +
                                                           q * (-1.0 / 3628800 + q / 479001600)))));
    cosOut = float(sign * cs);
    sinOut = float(sn);
}

float safeSemitones(float v)
{
    if (!std::isfinite(v))
        return 0.0f;
    return std::clamp(v, -PitchShifter::kMaxSemitones, PitchShifter::kMaxSemitones);
}

// Adding and taking away 1.5 x 2^52 rounds a double below 2^51 to the nearest whole number,
// without a call or a branch, so loops that use it can run on vectors.
inline double nearestWhole(double x)
{
    constexpr double kRound = 6755399441055744.0;
    return (x + kRound) - kRound;
}

// x wrapped into [-pi, pi].
inline double wrapPhase(double x)
{
    return x - kTwoPi * nearestWhole(x * (1.0 / kTwoPi));
}

} // namespace

struct PitchShifter::Impl
{
    double rate = 48000.0;
    int n = 4096;  // frame length
    int hop = 512; // n / kOverlap
    int bins = 2049;
    float outScale = 1.0f; // undoes the transform's gain and the windows' overlap

    std::vector<float> window;
    std::vector<float> history[kChannels]; // the newest n input samples
    std::vector<float> overlap[kChannels]; // output sums; the first hop is being played
    int fill = 0;                          // input samples of the current hop

    float* frame = nullptr;  // n, FFTW-aligned
    Bin* spectrum = nullptr; // bins, FFTW-aligned
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;

    // Per channel, from the last hop: the spectrum (phases at the frame centre) and, per bin,
    // the phase turn of the region that held it.
    std::vector<Bin> previous[kChannels];
    std::vector<double> turn[kChannels];

    // Per hop.
    std::vector<Bin> input;     // this hop's spectrum, phases at the frame centre
    std::vector<Bin> output;    // the moved spectrum
    std::vector<float> power;   // |input|^2
    std::vector<double> turned; // the new turn per bin
    std::vector<int> peaks;     // the first peakCount are this hop's
    int peakCount = 0;
    std::vector<int> strong; // the peaks the formant envelope runs through
    std::vector<double> peakRe, peakIm, peakPhase, peakMove; // per peak
    std::vector<float> peakRotRe, peakRotIm;
    std::vector<int> bounds;     // region k spans bins [bounds[k], bounds[k + 1])
    std::vector<float> logLevel; // formant envelope: log magnitude through the peaks
    std::vector<float> binGain;  // formant gain per output bin

    double scale = 1.0;        // pitch scale
    double formantScale = 1.0; // where the formants go, as a frequency factor
    bool formantShift = false;
    float pitch = 0.0f;
    float formant = 0.0f;

    explicit Impl(double rateHz)
    {
        rate = usableRate(rateHz);
        const int w = windowLengthFor(rate);
        n = w + w / 4;
        hop = w / kOverlap;
        bins = n / 2 + 1;
        window.assign(size_t(n), 0.0f);
        for (int i = 0; i < w; ++i)
            window[size_t(i + w / 8)] = float(0.5 - 0.5 * std::cos(kTwoPi * i / w));
        double sum = 0.0; // squared windows over the frames that overlap one sample
        for (int i = w / 8; i < n; i += hop)
            sum += double(window[size_t(i)]) * window[size_t(i)];
        outScale = float(1.0 / (sum * n));
        for (int c = 0; c < kChannels; ++c) {
            history[c].assign(size_t(n), 0.0f);
            overlap[c].assign(size_t(n), 0.0f);
            previous[c].assign(size_t(bins), Bin{});
            turn[c].assign(size_t(bins), 0.0);
        }
        input.assign(size_t(bins), Bin{});
        output.assign(size_t(bins), Bin{});
        power.assign(size_t(bins), 0.0f);
        turned.assign(size_t(bins), 0.0);
        peaks.assign(size_t(bins), 0);
        strong.reserve(size_t(bins));
        for (std::vector<double>* v : {&peakRe, &peakIm, &peakPhase, &peakMove})
            v->assign(size_t(bins), 0.0);
        peakRotRe.assign(size_t(bins), 0.0f);
        peakRotIm.assign(size_t(bins), 0.0f);
        bounds.assign(size_t(bins) + 1, 0);
        logLevel.assign(size_t(bins), 0.0f);
        binGain.assign(size_t(bins), 1.0f);

        frame = fftwf_alloc_real(size_t(n));
        spectrum = reinterpret_cast<Bin*>(fftwf_alloc_complex(size_t(bins)));
        if (frame == nullptr || spectrum == nullptr) {
            release();
            throw std::bad_alloc();
        }
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        auto* spec = reinterpret_cast<fftwf_complex*>(spectrum);
        forward = fftwf_plan_dft_r2c_1d(n, frame, spec, FFTW_ESTIMATE);
        inverse = fftwf_plan_dft_c2r_1d(n, spec, frame, FFTW_ESTIMATE);
        if (forward == nullptr || inverse == nullptr) {
            lockedRelease();
            throw std::bad_alloc();
        }
    }

    ~Impl() { release(); }

    void release()
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        lockedRelease();
    }

    void lockedRelease()
    {
        if (forward != nullptr)
            fftwf_destroy_plan(forward);
        if (inverse != nullptr)
            fftwf_destroy_plan(inverse);
        forward = inverse = nullptr;
        fftwf_free(frame);
        fftwf_free(spectrum);
        frame = nullptr;
        spectrum = nullptr;
    }

    void clear()
    {
        for (int c = 0; c < kChannels; ++c) {
            std::fill(history[c].begin(), history[c].end(), 0.0f);
            std::fill(overlap[c].begin(), overlap[c].end(), 0.0f);
            std::fill(previous[c].begin(), previous[c].end(), Bin{});
            std::fill(turn[c].begin(), turn[c].end(), 0.0);
        }
        fill = 0;
    }

    void process(const float* inL, const float* inR, float* outL, float* outR, unsigned frames)
    {
        const float* in[kChannels] = {inL, inR};
        float* out[kChannels] = {outL, outR};
        unsigned done = 0;
        while (done < frames) {
            const unsigned m = std::min<unsigned>(frames - done, unsigned(hop - fill));
            for (int c = 0; c < kChannels; ++c) {
                float* h = history[c].data() + (n - hop) + fill;
                const float* x = in[c] + done;
                // Read the input before the output is written: the two may alias.
                for (unsigned i = 0; i < m; ++i)
                    h[i] = std::isfinite(x[i]) ? x[i] : 0.0f;
                std::memcpy(out[c] + done, overlap[c].data() + fill, m * sizeof(float));
            }
            fill += int(m);
            done += m;
            if (fill == hop) {
                for (int c = 0; c < kChannels; ++c)
                    runHop(c);
                fill = 0;
            }
        }
    }

    // One hop of one channel: analyse the newest frame, move its regions, add the result into
    // the output sums, and move the history and the sums on by a hop.
    void runHop(int c)
    {
        const float* w = window.data();
        const float* h = history[c].data();
        for (int i = 0; i < n; ++i)
            frame[i] = h[i] * w[i];
        fftwf_execute(forward);
        // Phases at the frame centre: odd bins change sign.
        for (int k = 0; k < bins; ++k) {
            const Bin z = (k & 1) != 0 ? -spectrum[k] : spectrum[k];
            input[size_t(k)] = z;
            power[size_t(k)] = z.real() * z.real() + z.imag() * z.imag();
        }

        findRegions();
        if (formantShift)
            formantGains();
        moveRegions(c);

        for (int k = 0; k < bins; ++k)
            spectrum[k] = (k & 1) != 0 ? -output[size_t(k)] : output[size_t(k)];
        fftwf_execute(inverse);

        float* o = overlap[c].data();
        std::memmove(o, o + hop, size_t(n - hop) * sizeof(float));
        std::fill(o + (n - hop), o + n, 0.0f);
        for (int i = 0; i < n; ++i)
            o[i] += frame[i] * w[i] * outScale;
        float* hist = history[c].data();
        std::memmove(hist, hist + hop, size_t(n - hop) * sizeof(float));

        std::copy(input.begin(), input.end(), previous[c].begin());
        std::copy(turned.begin(), turned.end(), turn[c].begin());
    }

    // Peaks are bins above their neighbours and above a floor 100 dB under the frame's strongest
    // bin; each region runs from the lowest bin between its peak and the one
    // before to the lowest bin between its peak and the next.
    void findRegions()
    {
        float top = 0.0f;
        for (int k = 0; k < bins; ++k)
            top = std::max(top, power[size_t(k)]);
        const float floor = std::max(top * 1e-10f, 1e-24f);
        const float* p = power.data();
        // Without branches: noise makes the comparisons unpredictable.
        int* out = peaks.data();
        int count = 0;
        for (int k = 1; k + 1 < bins; ++k) {
            out[count] = k;
            count += int((p[k] > floor) & (p[k] > p[k - 1]) & (p[k] >= p[k + 1]));
        }
        peakCount = count;
        int* b = bounds.data();
        b[0] = 0;
        for (int i = 1; i < count; ++i) {
            int low = out[i - 1] + 1;
            float lowest = p[low];
            for (int k = low + 1; k < out[i]; ++k) {
                const bool lower = p[k] < lowest;
                low = lower ? k : low;
                lowest = lower ? p[k] : lowest;
            }
            b[i] = low;
        }
        b[count] = bins;
    }

    // Moves each region to its peak's new frequency and turns it by that partial's phase.
    void moveRegions(int c)
    {
        std::fill(output.begin(), output.end(), Bin{});
        const Bin* prev = previous[c].data();
        const double* prevTurn = turn[c].data();
        const double binPerRadian = double(n) / kTwoPi;
        const double expectedPerBin = kTwoPi * double(hop) / double(n);
        if (peakCount == 0) {
            std::fill(turned.begin(), turned.end(), 0.0);
            return;
        }
        const Bin* src = input.data();
        Bin* dst = output.data();
        const float* gain = binGain.data();

        // Every peak's partial: its frequency from its phase advance over the hop, the new turn
        // and the move in bins; first gathered, then worked out side by side.
        const int* pks = peaks.data();
        double* zRe = peakRe.data();
        double* zIm = peakIm.data();
        double* phaseOf = peakPhase.data();
        double* moveOf = peakMove.data();
        float* rotRe = peakRotRe.data();
        float* rotIm = peakRotIm.data();
        for (int r = 0; r < peakCount; ++r) {
            const int pk = pks[r];
            const Bin z = mul(src[pk], std::conj(prev[pk]));
            zRe[r] = double(z.real());
            zIm[r] = double(z.imag());
            phaseOf[r] = prevTurn[pk];
        }
        const double toShift = (scale - 1.0) / double(hop); // radians per sample, per radian
        for (int r = 0; r < peakCount; ++r) {
            const double expected = expectedPerBin * double(pks[r]);
            const double deviation = wrapPhase(fastAtan2(zIm[r], zRe[r]) - expected);
            const double shiftPerHop = (expected + deviation) * (scale - 1.0);
            const double phase = wrapPhase(phaseOf[r] + shiftPerHop);
            phaseOf[r] = phase;
            moveOf[r] = (expected + deviation) * toShift * binPerRadian;
            fastCosSin(phase, rotRe[r], rotIm[r]);
        }

        for (int r = 0; r < peakCount; ++r) {
            const int pk = pks[r];
            const int lo = bounds[size_t(r)];
            const int hi = bounds[size_t(r) + 1];
            const double phase = phaseOf[r];
            const Bin rot(rotRe[r], rotIm[r]);
            if (scale > 1.0) {
                // Upwards the region widens with the frequency scale, as everything in it moves
                // in proportion: output bin q reads the input at pk + (q - target) / scale.
                const double target = pk + moveOf[r];
                const double inv = 1.0 / scale;
                const int qFrom = std::max(0, int(std::ceil(target + (lo - pk) * scale)));
                const int qTo = std::min(bins - 1, int(std::ceil(target + (hi - pk) * scale)));
                for (int q = qFrom; q < qTo; ++q) {
                    const double x = pk + (q - target) * inv;
                    const int k = std::clamp(int(x), 0, bins - 2); // x >= 0 here
                    const float a = std::clamp(float(x - k), 0.0f, 1.0f);
                    const Bin v = src[k] + a * (src[k + 1] - src[k]);
                    dst[q] += formantShift ? mul(v, rot) * gain[q] : mul(v, rot);
                }
            } else {
                // Downwards (and unmoved) the region moves whole, by the nearest number of bins.
                const int move = int(std::lround(moveOf[r]));
                const int from = std::max(lo, -move);
                const int to = std::min(hi, bins - move);
                if (formantShift) {
                    for (int k = from; k < to; ++k)
                        dst[k + move] += mul(src[k], rot) * gain[k + move];
                } else {
                    for (int k = from; k < to; ++k)
                        dst[k + move] += mul(src[k], rot);
                }
            }
            for (int k = lo; k < hi; ++k)
                turned[size_t(k)] = phase;
        }
    }

    // The gain that takes each output bin from the envelope that moved with the partials to the
    // envelope moved by the formant scale. The envelope runs through the peaks' levels (in log),
    // so a harmonic sound's envelope is that of its harmonics.
    void formantGains()
    {
        // The envelope runs through the peaks within 50 dB of the strongest (window side lobes
        // and noise below that would pull it down between the partials).
        float top = 0.0f;
        for (int i = 0; i < peakCount; ++i)
            top = std::max(top, power[size_t(peaks[size_t(i)])]);
        strong.clear();
        for (int i = 0; i < peakCount; ++i)
            if (power[size_t(peaks[size_t(i)])] >= top * 1e-5f)
                strong.push_back(peaks[size_t(i)]);
        if (strong.empty()) {
            std::fill(binGain.begin(), binGain.end(), 1.0f);
            return;
        }
        float* e = logLevel.data();
        const float* p = power.data();
        auto level = [&](int k) { return 0.5f * std::log(std::max(p[k], 1e-30f)); };
        const int first = strong.front();
        const int last = strong.back();
        std::fill(e, e + first + 1, level(first));
        std::fill(e + last, e + bins, level(last));
        for (size_t i = 1; i < strong.size(); ++i) {
            const int a = strong[i - 1], b = strong[i];
            const float la = level(a), lb = level(b);
            for (int k = a; k <= b; ++k)
                e[k] = la + (lb - la) * float(k - a) / float(b - a);
        }
        auto at = [&](double x) {
            if (x <= 0.0)
                return e[0];
            if (x >= double(bins - 1))
                return e[bins - 1];
            const int k = int(x);
            const float f = float(x - k);
            return e[k] + f * (e[k + 1] - e[k]);
        };
        const double fromScale = 1.0 / scale;
        const double toScale = 1.0 / formantScale;
        for (int k = 0; k < bins; ++k) {
            const float g = std::exp(at(k * toScale) - at(k * fromScale));
            binGain[size_t(k)] = std::clamp(g, 1.0f / 64.0f, 64.0f);
        }
    }
};

PitchShifter::PitchShifter(double rateHz) : impl_(std::make_unique<Impl>(rateHz)) {}

PitchShifter::~PitchShifter() = default;

unsigned PitchShifter::latencyFrames() const
{
    return unsigned(impl_->n);
}

void PitchShifter::setShift(float pitchSemitones, float formantSemitones)
{
    Impl& m = *impl_;
    const float p = safeSemitones(pitchSemitones);
    const float f = safeSemitones(formantSemitones);
    if (p == m.pitch && f == m.formant)
        return;
    m.pitch = p;
    m.formant = f;
    m.scale = std::exp2(double(p) / 12.0);
    m.formantShift = f != 0.0f;
    m.formantScale = std::exp2(double(p + f) / 12.0);
}

void PitchShifter::reset()
{
    impl_->clear();
}

void PitchShifter::process(const float* inLeft, const float* inRight, float* outLeft,
                           float* outRight, unsigned frames)
{
    if (frames == 0 || frames > kMaxBlock)
        return;
    impl_->process(inLeft, inRight, outLeft, outRight, frames);
}

} // namespace vesk
