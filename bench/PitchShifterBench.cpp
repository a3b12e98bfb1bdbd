// The pitch shifter against the one the Pitch module used before (Rubber Band's R3 engine read
// back by our interpolator, bench/StretchPitchShifter), in the same run: CPU per stereo frame and
// quality.
//
// Quality is a log-spectral distance in dB (lower is better) to the ideal pure transposition:
// the input resampled offline at very high quality (libsoxr, very high quality preset), which
// scales every frequency by the pitch factor and the time axis by its inverse. Frame t of the
// shifter's output (after its latency) is compared with frame t / factor of the resampled input:
// Hann frames of 2048 samples every 512, magnitudes floored 70 dB under the reference's loudest
// bin, bins up to 0.9 of the band both signals can hold. Three sounds, all made here: speech
// (a formant synthesiser: a glottal pulse train with jitter and a moving pitch, vowels through
// three resonances, noise bursts for consonants, syllables at four a second), a plucked string
// (Karplus-Strong notes) and white noise.
//
// Counters: lsd_db for each shifter and sound and setting, new_over_old the ratio of the two (at
// most 1 means no worse); ns_per_frame and new_over_old for the CPU benchmarks.
#include "bench/BenchSupport.h"
#include "bench/StretchPitchShifter.h"

#include "audio_files/Resample.h"
#include "fx/dsp/PitchShifter.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using vesk::PitchShifter;
using vesk::bench::StretchPitchShifter;
using vesk::bench::threadCpuNs;

constexpr double kRate = 48000.0;
constexpr unsigned kBlock = 512;

// Two-pole resonator (constant peak gain), for the formant synthesiser.
struct Resonator
{
    double y1 = 0.0, y2 = 0.0;
    double tick(double x, double freq, double bandwidth)
    {
        const double r = std::exp(-std::numbers::pi * bandwidth / kRate);
        const double a1 = 2.0 * r * std::cos(2.0 * std::numbers::pi * freq / kRate);
        const double a2 = -r * r;
        const double y = (1.0 - r) * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

std::vector<float> speech(size_t frames)
{
    // Vowel formants (Hz): a, e, i, o, u.
    static constexpr double kVowels[5][3] = {{800, 1200, 2500},
                                             {400, 2000, 2600},
                                             {300, 2300, 3000},
                                             {500, 900, 2400},
                                             {350, 800, 2300}};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    std::vector<float> x(frames);
    Resonator res[3];
    double phase = 0.0;
    double formants[3] = {800, 1200, 2500};
    const double syllable = 0.25 * kRate;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const size_t s = size_t(double(i) / syllable);
        const double inSyllable = std::fmod(double(i), syllable) / syllable;
        const double* target = kVowels[(s * 3 + 1) % 5];
        for (int k = 0; k < 3; ++k)
            formants[k] += (target[k] - formants[k]) * 0.002; // glides between vowels
        const double f0 = 120.0 + 30.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t) +
                          8.0 * std::sin(2.0 * std::numbers::pi * 5.0 * t);
        phase += f0 * (1.0 + 0.01 * uni(rng)) / kRate;
        double source = 0.0;
        if (phase >= 1.0) {
            phase -= 1.0;
            source = 1.0;
        }
        // A consonant: noise over the first 15 % of every other syllable, else voiced.
        const bool consonant = (s % 2 == 1) && inSyllable < 0.15;
        const double excitation = consonant ? 0.15 * uni(rng) : source;
        double y = 0.0;
        for (int k = 0; k < 3; ++k)
            y += res[k].tick(excitation, consonant ? 3500.0 + 800.0 * k : formants[k],
                             consonant ? 900.0 : 80.0 + 40.0 * k) /
                 double(k + 1);
        const double envelope = std::sin(std::numbers::pi * inSyllable);
        x[i] = float(0.8 * envelope * y);
    }
    return x;
}

std::vector<float> pluckedString(size_t frames)
{
    static constexpr double kNotes[] = {110.0, 164.8, 220.0, 130.8, 196.0, 146.8, 261.6, 98.0};
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    std::vector<float> x(frames, 0.0f);
    const size_t noteLength = size_t(0.5 * kRate);
    for (size_t start = 0, k = 0; start < frames; start += noteLength, ++k) {
        const int period = int(kRate / kNotes[k % 8]);
        std::vector<double> line(static_cast<size_t>(period));
        for (double& v : line)
            v = uni(rng);
        double last = 0.0;
        for (size_t i = 0; i < noteLength * 2 && start + i < frames; ++i) {
            const size_t at = i % size_t(period);
            const double y = line[at];
            line[at] = 0.996 * 0.5 * (y + last);
            last = y;
            x[start + i] += float(0.3 * y);
        }
    }
    return x;
}

std::vector<float> whiteNoise(size_t frames)
{
    std::vector<float> x = vesk::bench::noiseBlock(frames, 11);
    for (float& v : x)
        v *= 0.5f;
    return x;
}

// Magnitude spectra of Hann frames of 2048 centred on the given positions.
class Spectra
{
public:
    static constexpr int kN = 2048;

    Spectra()
    {
        in_ = fftwf_alloc_real(kN);
        out_ = fftwf_alloc_complex(kN / 2 + 1);
        plan_ = fftwf_plan_dft_r2c_1d(kN, in_, out_, FFTW_ESTIMATE);
        for (int i = 0; i < kN; ++i)
            window_[i] = float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kN));
    }
    ~Spectra()
    {
        fftwf_destroy_plan(plan_);
        fftwf_free(in_);
        fftwf_free(out_);
    }
    Spectra(const Spectra&) = delete;
    Spectra& operator=(const Spectra&) = delete;

    // |X| of the frame of x centred on `centre` (zeros outside x).
    void magnitudes(const std::vector<float>& x, double centre, std::vector<double>& mag)
    {
        const long first = long(std::lround(centre)) - kN / 2;
        for (int i = 0; i < kN; ++i) {
            const long at = first + i;
            in_[i] = at >= 0 && at < long(x.size()) ? x[size_t(at)] * window_[i] : 0.0f;
        }
        fftwf_execute(plan_);
        mag.resize(kN / 2 + 1);
        for (int k = 0; k <= kN / 2; ++k)
            mag[size_t(k)] = std::hypot(double(out_[k][0]), double(out_[k][1]));
    }

private:
    float* in_ = nullptr;
    fftwf_complex* out_ = nullptr;
    fftwf_plan plan_ = nullptr;
    float window_[kN];
};

// Log-spectral distance of a shifter's output y (latency already removed) to the reference r,
// the input resampled by 1 / factor.
double logSpectralDistance(const std::vector<float>& y, const std::vector<float>& r, double factor)
{
    Spectra spectra;
    constexpr int kHop = 512;
    const int top = int(0.9 * (Spectra::kN / 2) * std::min(1.0, factor));
    std::vector<double> a, b;
    // The reference's loudest bin sets the floor.
    double loudest = 0.0;
    for (double c = Spectra::kN; c + Spectra::kN < double(r.size()); c += kHop) {
        spectra.magnitudes(r, c, b);
        for (int k = 1; k < top; ++k)
            loudest = std::max(loudest, b[size_t(k)]);
    }
    const double floor = loudest * std::pow(10.0, -70.0 / 20.0);
    double sum = 0.0;
    int count = 0;
    const double margin = 0.1 * kRate + Spectra::kN;
    for (double c = margin; c + margin < double(y.size()) && (c / factor) + Spectra::kN < r.size();
         c += kHop) {
        spectra.magnitudes(y, c, a);
        spectra.magnitudes(r, c / factor, b);
        double e = 0.0;
        for (int k = 1; k < top; ++k) {
            const double d =
                20.0 * std::log10(std::max(a[size_t(k)], floor) / std::max(b[size_t(k)], floor));
            e += d * d;
        }
        sum += std::sqrt(e / (top - 1));
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

// Power in bands of a frame of x centred on `centre`, the Hann window `length` samples long;
// each bin's power is divided by length x (sum of the squared window), so a band holds the
// signal's power in it whatever the window length.
void bandPowers(const std::vector<float>& x, double centre, int length,
                const std::vector<double>& edgesHz, std::vector<double>& out)
{
    std::vector<float> in(static_cast<size_t>(length));
    std::vector<fftwf_complex> spec(static_cast<size_t>(length / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(length, in.data(), spec.data(), FFTW_ESTIMATE);
    double w2 = 0.0;
    const long first = long(std::lround(centre)) - length / 2;
    for (int i = 0; i < length; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / length);
        w2 += w * w;
        const long at = first + i;
        in[size_t(i)] = at >= 0 && at < long(x.size()) ? float(x[size_t(at)] * w) : 0.0f;
    }
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);
    out.assign(edgesHz.size() - 1, 0.0);
    const double binHz = kRate / length;
    for (int k = 1; k <= length / 2; ++k) {
        const double f = k * binHz;
        const auto it = std::upper_bound(edgesHz.begin(), edgesHz.end(), f);
        if (it == edgesHz.begin() || it == edgesHz.end())
            continue;
        const double p = double(spec[size_t(k)][0]) * spec[size_t(k)][0] +
                         double(spec[size_t(k)][1]) * spec[size_t(k)][1];
        out[size_t(it - edgesHz.begin() - 1)] += p / (length * w2);
    }
}

// Log distance of band powers (sixth-octave bands, at least 60 Hz wide, from 50 Hz to 0.9 of the
// band both signals hold), with frames that cover the same stretch of the input: 2048 samples of
// the output against 2048 / factor samples of the reference. The plain distance above compares
// equal windows, so for a factor above 1 the reference's frame spans more of the input's time
// than the output's, and less below 1.
double bandDistance(const std::vector<float>& y, const std::vector<float>& r, double factor)
{
    std::vector<double> edges = {50.0};
    const double top = 0.9 * 0.5 * kRate * std::min(1.0, factor);
    while (edges.back() < top)
        edges.push_back(
            std::min(top, std::max(edges.back() * std::exp2(1.0 / 6.0), edges.back() + 60.0)));
    const int lengthY = 2048;
    const int lengthR = int(std::lround(2048.0 / factor)) & ~1;
    std::vector<double> a, b;
    double loudest = 0.0;
    for (double c = 4096; c + 4096 < double(r.size()); c += 512) {
        bandPowers(r, c, lengthR, edges, b);
        for (double v : b)
            loudest = std::max(loudest, v);
    }
    const double floor = loudest * 1e-7;
    double sum = 0.0;
    int count = 0;
    const double margin = 0.1 * kRate + 4096;
    for (double c = margin; c + margin < double(y.size()) && c / factor + 4096 < r.size();
         c += 512) {
        bandPowers(y, c, lengthY, edges, a);
        bandPowers(r, c / factor, lengthR, edges, b);
        double e = 0.0;
        for (size_t k = 0; k < a.size(); ++k) {
            const double d = 10.0 * std::log10(std::max(a[k], floor) / std::max(b[k], floor));
            e += d * d;
        }
        sum += std::sqrt(e / double(a.size()));
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

// Runs a mono sound through both channels of a shifter in 512-frame blocks, with enough silence
// after it to flush the latency; returns the left output with the latency removed.
template <class Shifter> std::vector<float> shift(const std::vector<float>& x, float semitones)
{
    Shifter shifter(kRate);
    shifter.setShift(semitones, 0.0f);
    const unsigned latency = shifter.latencyFrames();
    std::vector<float> l = x, r = x;
    l.resize(x.size() + latency + kBlock, 0.0f);
    r.resize(l.size(), 0.0f);
    for (size_t pos = 0; pos < l.size(); pos += kBlock) {
        const unsigned n = unsigned(std::min<size_t>(kBlock, l.size() - pos));
        shifter.process(l.data() + pos, r.data() + pos, l.data() + pos, r.data() + pos, n);
    }
    return std::vector<float>(l.begin() + latency, l.begin() + latency + long(x.size()));
}

struct Sound
{
    const char* name;
    std::vector<float> (*make)(size_t);
};
const Sound kSounds[] = {{"speech", speech}, {"string", pluckedString}, {"noise", whiteNoise}};
const float kSettings[] = {-12.0f, -5.0f, 3.0f, 7.0f, 12.0f};

void BM_Quality(benchmark::State& state)
{
    const Sound& sound = kSounds[state.range(0)];
    const float semitones = kSettings[state.range(1)];
    const std::vector<float> x = sound.make(size_t(4.0 * kRate));
    const double factor = std::exp2(double(semitones) / 12.0);
    std::vector<float> reference;
    vesk::resampleChannel(x, kRate * factor, reference, kRate);
    double lsdNew = 0.0, lsdOld = 0.0, bandNew = 0.0, bandOld = 0.0;
    for (auto _ : state) {
        const std::vector<float> yNew = shift<PitchShifter>(x, semitones);
        const std::vector<float> yOld = shift<StretchPitchShifter>(x, semitones);
        lsdNew = logSpectralDistance(yNew, reference, factor);
        lsdOld = logSpectralDistance(yOld, reference, factor);
        bandNew = bandDistance(yNew, reference, factor);
        bandOld = bandDistance(yOld, reference, factor);
    }
    state.SetLabel(std::string(sound.name) + " " + std::to_string(int(semitones)) + " st");
    state.counters["lsd_db_new"] = lsdNew;
    state.counters["lsd_db_old"] = lsdOld;
    state.counters["new_over_old"] = lsdNew / lsdOld;
    state.counters["band_db_new"] = bandNew;
    state.counters["band_db_old"] = bandOld;
    state.counters["band_new_over_old"] = bandNew / bandOld;
}
BENCHMARK(BM_Quality)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3, 4}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// CPU per stereo frame of both shifters on noise at one setting, in alternating batches.
void BM_Cost(benchmark::State& state)
{
    const float semitones = float(state.range(0));
    PitchShifter next(kRate);
    StretchPitchShifter old(kRate);
    next.setShift(semitones, 0.0f);
    old.setShift(semitones, 0.0f);
    const std::vector<float> inL = vesk::bench::noiseBlock(kBlock * 64, 3);
    const std::vector<float> inR = vesk::bench::noiseBlock(kBlock * 64, 4);
    std::vector<float> l(kBlock), r(kBlock);
    double nsNew = 0.0, nsOld = 0.0, frames = 0.0;
    size_t at = 0;
    for (auto _ : state) {
        for (int which = 0; which < 2; ++which) {
            double spent = 0.0;
            for (int b = 0; b < 16; ++b) {
                std::copy(inL.begin() + long(at), inL.begin() + long(at + kBlock), l.begin());
                std::copy(inR.begin() + long(at), inR.begin() + long(at + kBlock), r.begin());
                at = (at + kBlock) % inL.size();
                const double t0 = threadCpuNs();
                if (which == 0)
                    next.process(l.data(), r.data(), l.data(), r.data(), kBlock);
                else
                    old.process(l.data(), r.data(), l.data(), r.data(), kBlock);
                spent += threadCpuNs() - t0;
                benchmark::DoNotOptimize(l.data());
            }
            (which == 0 ? nsNew : nsOld) += spent;
        }
        frames += 16.0 * kBlock;
    }
    state.counters["ns_per_frame_new"] = nsNew / frames;
    state.counters["ns_per_frame_old"] = nsOld / frames;
    state.counters["new_over_old"] = nsNew / nsOld;
}
BENCHMARK(BM_Cost)->Arg(0)->Arg(7)->Arg(-12)->Arg(24)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
