// Measurements on rendered audio for tests: level, frequency, spectrum, error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesk::test {

std::vector<float> sine(double freqHz, double rate, size_t frames, double amplitude = 1.0,
                        double phase = 0.0);
// White noise in [-amplitude, amplitude], from a seeded generator.
std::vector<float> noise(size_t frames, uint64_t seed, double amplitude = 1.0);

double peak(const float* x, size_t n);
double rms(const float* x, size_t n);
inline double peak(const std::vector<float>& x)
{
    return peak(x.data(), x.size());
}
inline double rms(const std::vector<float>& x)
{
    return rms(x.data(), x.size());
}
double toDb(double linear);

// Amplitude of the component at freqHz (Goertzel over a Hann window, corrected for the window's
// gain, so a full-scale sine reads about 1).
double amplitudeAt(const float* x, size_t n, double freqHz, double rate);
inline double amplitudeAt(const std::vector<float>& x, double freqHz, double rate)
{
    return amplitudeAt(x.data(), x.size(), freqHz, rate);
}

// Frequency of the strongest component, refined by parabolic interpolation on a Hann-windowed
// FFT of the whole signal (zero-padded to a power of two).
double dominantFrequency(const float* x, size_t n, double rate);
inline double dominantFrequency(const std::vector<float>& x, double rate)
{
    return dominantFrequency(x.data(), x.size(), rate);
}

// Magnitude spectrum (Hann window), bins of rate / fftSize.
std::vector<double> magnitudeSpectrum(const float* x, size_t n, size_t fftSize);

// Residual of y against the best-fitting gain of x: 20 log10(|y - g x| / |y|).
double errorDb(const float* reference, const float* actual, size_t n);

// Index of the first sample whose magnitude exceeds threshold, or -1.
int64_t firstAbove(const float* x, size_t n, double threshold);

// A 1 kHz tone of amplitude 0.5 under a Gaussian envelope (sigma 20 ms) centred at frame
// `centre`.
std::vector<float> toneBurst(size_t frames, double centre, double rate);

// Centre of the signal's energy in frames; -1 for silence.
double energyCentre(const std::vector<float>& y);

} // namespace vesk::test
