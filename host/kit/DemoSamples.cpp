// vesk-demo-samples: synthesises the demo's sample files (impacts, noise sweeps, metallic hits)
// into a folder, so the demo needs no recorded audio. Usage: vesk-demo-samples FOLDER
//
// Every sound comes from a generator with a fixed seed: the same files on every machine.
#include "audio_files/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr double kTwoPi = 6.283185307179586;

struct Noise
{
    uint64_t state;
    // Uniform in -1..1.
    double next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return double(state >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }
};

struct Stereo
{
    std::vector<float> left, right;
    explicit Stereo(double seconds)
        : left(size_t(seconds * kRate), 0.0f), right(size_t(seconds * kRate), 0.0f)
    {}
    size_t size() const { return left.size(); }
};

// Scales both channels so the larger peak is `target`.
void normalise(Stereo& s, double target)
{
    double peak = 0.0;
    for (size_t i = 0; i < s.size(); ++i) {
        peak = std::max({peak, double(std::fabs(s.left[i])), double(std::fabs(s.right[i]))});
    }
    if (peak <= 0.0) {
        return;
    }
    const float g = float(target / peak);
    for (size_t i = 0; i < s.size(); ++i) {
        s.left[i] *= g;
        s.right[i] *= g;
    }
}

// A drum-like impact: a sine falling in pitch, a click of noise and a body resonance.
Stereo impact(uint64_t seed, double startHz, double endHz, double seconds)
{
    Stereo s(seconds);
    Noise n{seed * 0x9E3779B97F4A7C15ull + 1};
    double phase = 0.0, lp = 0.0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double hz = endHz + (startHz - endHz) * std::exp(-t * 30.0);
        phase += kTwoPi * hz / kRate;
        const double body = std::sin(phase) * std::exp(-t * 6.0 / seconds);
        lp += 0.3 * (n.next() - lp);
        const double click = lp * std::exp(-t * 80.0);
        const double v = body + 0.6 * click;
        s.left[i] = float(v);
        s.right[i] = float(0.95 * v + 0.05 * click);
    }
    normalise(s, 0.8);
    return s;
}

// Noise through a resonant band-pass whose centre sweeps from fromHz to toHz.
Stereo noiseSweep(uint64_t seed, double fromHz, double toHz, double seconds)
{
    Stereo s(seconds);
    Noise n{seed * 0xD1B54A32D192ED03ull + 7};
    double l1 = 0.0, b1 = 0.0, l2 = 0.0, b2 = 0.0; // state-variable filters, one per channel
    const double q = 0.15;
    for (size_t i = 0; i < s.size(); ++i) {
        const double x = double(i) / double(s.size());
        const double hz = fromHz * std::pow(toHz / fromHz, x);
        const double f = 2.0 * std::sin(M_PI * std::min(hz, 12000.0) / kRate);
        const double env = std::sin(M_PI * x); // swells and fades
        const double inL = n.next(), inR = n.next();
        l1 += f * b1;
        b1 += f * (inL - l1 - q * b1);
        l2 += f * b2;
        b2 += f * (inR - l2 - q * b2);
        s.left[i] = float(b1 * env);
        s.right[i] = float(b2 * env);
    }
    normalise(s, 0.7);
    return s;
}

// A metallic hit: inharmonic partials with their own decays, slightly detuned per channel.
Stereo metal(uint64_t seed, double fundamentalHz, double seconds)
{
    static const double ratios[] = {1.0, 2.76, 5.40, 8.93, 13.34, 18.64};
    Stereo s(seconds);
    Noise n{seed + 99};
    double amp[6], decay[6], detune[6];
    for (int k = 0; k < 6; ++k) {
        amp[k] = 1.0 / (1.0 + k) * (0.8 + 0.2 * n.next());
        decay[k] = (2.0 + 1.5 * k) / seconds;
        detune[k] = 1.0 + 0.002 * n.next();
    }
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        double l = 0.0, r = 0.0;
        for (int k = 0; k < 6; ++k) {
            const double hz = fundamentalHz * ratios[k];
            if (hz * detune[k] > 0.45 * kRate) {
                continue;
            }
            const double e = amp[k] * std::exp(-t * decay[k]);
            l += e * std::sin(kTwoPi * hz * t);
            r += e * std::sin(kTwoPi * hz * detune[k] * t + 0.3 * k);
        }
        const double strike = std::exp(-t * 400.0) * n.next() * 0.3;
        s.left[i] = float(l + strike);
        s.right[i] = float(r + strike);
    }
    normalise(s, 0.75);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vesk-demo-samples FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    struct File
    {
        const char* name;
        Stereo sound;
    };
    const File files[] = {
        {"impact_low.wav", impact(1, 160.0, 45.0, 1.2)},
        {"impact_mid.wav", impact(2, 420.0, 110.0, 0.7)},
        {"impact_tom.wav", impact(3, 260.0, 80.0, 0.9)},
        {"sweep_up.wav", noiseSweep(4, 200.0, 9000.0, 1.5)},
        {"sweep_down.wav", noiseSweep(5, 8000.0, 300.0, 1.2)},
        {"metal_bell.wav", metal(6, 523.0, 2.0)},
        {"metal_plate.wav", metal(7, 311.0, 1.4)},
        {"metal_tick.wav", metal(8, 1250.0, 0.5)},
    };
    for (const File& f : files) {
        const std::string path = (dir / f.name).string();
        if (!vesk::writeWav(path, f.sound.left, f.sound.right, kRate)) {
            std::fprintf(stderr, "vesk-demo-samples: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%zu demo samples in %s\n", sizeof files / sizeof files[0], dir.string().c_str());
    return 0;
}
