#include "Signal.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::test {

std::vector<float> sine(double freqHz, double rate, size_t frames, double amplitude, double phase)
{
    std::vector<float> out(frames);
    const double w = 2.0 * std::numbers::pi * freqHz / rate;
    for (size_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(w * double(i) + phase));
    return out;
}

std::vector<float> noise(size_t frames, uint64_t seed, double amplitude)
{
    std::vector<float> out(frames);
    uint64_t s = seed ? seed : 1;
    for (size_t i = 0; i < frames; ++i) {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        const double u = double((s * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-53;
        out[i] = static_cast<float>(amplitude * (2.0 * u - 1.0));
    }
    return out;
}

double peak(const float* x, size_t n)
{
    double p = 0.0;
    for (size_t i = 0; i < n; ++i)
        p = std::max(p, double(std::fabs(x[i])));
    return p;
}

double rms(const float* x, size_t n)
{
    if (n == 0)
        return 0.0;
    double s = 0.0;
    for (size_t i = 0; i < n; ++i)
        s += double(x[i]) * double(x[i]);
    return std::sqrt(s / double(n));
}

double toDb(double linear)
{
    return 20.0 * std::log10(std::max(linear, 1e-30));
}

double amplitudeAt(const float* x, size_t n, double freqHz, double rate)
{
    if (n < 2)
        return 0.0;
    const double w = 2.0 * std::numbers::pi * freqHz / rate;
    double re = 0.0, im = 0.0, wsum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double win = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(n - 1));
        re += win * x[i] * std::cos(w * double(i));
        im -= win * x[i] * std::sin(w * double(i));
        wsum += win;
    }
    return 2.0 * std::hypot(re, im) / wsum;
}

std::vector<double> magnitudeSpectrum(const float* x, size_t n, size_t fftSize)
{
    std::vector<double> in(fftSize, 0.0);
    const size_t m = std::min(n, fftSize);
    for (size_t i = 0; i < m; ++i) {
        const double win =
            m > 1 ? 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(m - 1)) : 1.0;
        in[i] = win * x[i];
    }
    std::vector<fftw_complex> out(fftSize / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(int(fftSize), in.data(), out.data(), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    std::vector<double> mag(out.size());
    for (size_t k = 0; k < out.size(); ++k)
        mag[k] = std::hypot(out[k][0], out[k][1]);
    return mag;
}

double dominantFrequency(const float* x, size_t n, double rate)
{
    size_t fftSize = 1;
    while (fftSize < n * 2)
        fftSize <<= 1;
    const std::vector<double> mag = magnitudeSpectrum(x, n, fftSize);
    size_t best = 1;
    for (size_t k = 1; k + 1 < mag.size(); ++k)
        if (mag[k] > mag[best])
            best = k;
    double delta = 0.0;
    if (best > 0 && best + 1 < mag.size()) {
        const double a = std::log(mag[best - 1] + 1e-30);
        const double b = std::log(mag[best] + 1e-30);
        const double c = std::log(mag[best + 1] + 1e-30);
        const double d = a - 2.0 * b + c;
        if (d != 0.0)
            delta = 0.5 * (a - c) / d;
    }
    return (double(best) + delta) * rate / double(fftSize);
}

double errorDb(const float* reference, const float* actual, size_t n)
{
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (size_t i = 0; i < n; ++i) {
        xy += double(reference[i]) * actual[i];
        xx += double(reference[i]) * reference[i];
        yy += double(actual[i]) * actual[i];
    }
    if (yy == 0.0)
        return xx == 0.0 ? -300.0 : 0.0;
    const double g = xx > 0.0 ? xy / xx : 0.0;
    double e = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(actual[i]) - g * reference[i];
        e += d * d;
    }
    return 10.0 * std::log10(std::max(e / yy, 1e-30));
}

int64_t firstAbove(const float* x, size_t n, double threshold)
{
    for (size_t i = 0; i < n; ++i)
        if (std::fabs(x[i]) > threshold)
            return int64_t(i);
    return -1;
}

std::vector<float> toneBurst(size_t frames, double centre, double rate)
{
    std::vector<float> x(frames);
    const double sigma = 0.02 * rate;
    for (size_t i = 0; i < frames; ++i) {
        const double t = (double(i) - centre) / sigma;
        x[i] = static_cast<float>(0.5 * std::exp(-0.5 * t * t) *
                                  std::sin(2.0 * std::numbers::pi * 1000.0 * double(i) / rate));
    }
    return x;
}

double energyCentre(const std::vector<float>& y)
{
    double sum = 0.0;
    double weighted = 0.0;
    for (size_t i = 0; i < y.size(); ++i) {
        const double e = double(y[i]) * y[i];
        sum += e;
        weighted += e * double(i);
    }
    return sum > 0.0 ? weighted / sum : -1.0;
}

} // namespace vesk::test
