// vesk-kit: kits from the command line. Run with --help for the commands.
#include "host/kit/Kit.h"
#include "host/kit/KitRender.h"

#include "audio_files/WavLoader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kUsage =
    "usage:\n"
    "  vesk-kit build KIT.json STATE      write the plug-in state of a kit\n"
    "  vesk-kit print STATE [OUT.json]    print a state as kit JSON (as the plug-in reads it)\n"
    "  vesk-kit levels FILE.wav...        peak, RMS and length of rendered files; fails when a\n"
    "                                     file is silent, above full scale or not finite\n";

void printUsage(FILE* to)
{
    std::fputs(kUsage, to);
    std::fputs(vesk::kit::kRenderUsage, to);
    std::fputs("vesk-host --load-state STATE plays a kit.\n", to);
}

bool readText(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool writeBytes(const std::string& path, const void* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    return bool(out);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

int levels(int argc, char** argv)
{
    bool allGood = true;
    for (int i = 2; i < argc; ++i) {
        const std::string path = argv[i];
        // Decoded at 48 kHz only to read it; the length is reported at the file's own rate.
        auto audio = vesk::loadWavRaw(path, 48000.0);
        if (audio == nullptr) {
            std::printf("%s: unreadable\n", path.c_str());
            allGood = false;
            continue;
        }
        double peak = 0.0, sum = 0.0;
        size_t nonFinite = 0, count = 0;
        for (const std::vector<float>* ch : {&audio->left, &audio->right}) {
            for (float v : *ch) {
                if (!std::isfinite(v)) {
                    ++nonFinite;
                    continue;
                }
                peak = std::max(peak, double(std::fabs(v)));
                sum += double(v) * v;
                ++count;
            }
        }
        const double rms = count > 0 ? std::sqrt(sum / double(count)) : 0.0;
        const double seconds = double(audio->left.size()) / 48000.0;
        auto db = [](double x) { return x > 0.0 ? 20.0 * std::log10(x) : -999.0; };
        const bool silent = peak < 1.0e-4;
        const bool clipped = peak > 1.0;
        std::printf("%s: %.3f s, peak %.4f (%.1f dBFS), rms %.4f (%.1f dBFS)%s%s%s\n", path.c_str(),
                    seconds, peak, db(peak), rms, db(rms), silent ? ", SILENT" : "",
                    clipped ? ", ABOVE FULL SCALE" : "", nonFinite > 0 ? ", NOT FINITE" : "");
        allGood = allGood && !silent && !clipped && nonFinite == 0;
    }
    return allGood ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        printUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    if (command == "build" && argc == 4) {
        std::string json, error;
        if (!readText(argv[2], json)) {
            std::fprintf(stderr, "vesk-kit: cannot read %s\n", argv[2]);
            return 2;
        }
        std::vector<uint8_t> state;
        if (!vesk::kit::buildKitState(json, folderOf(argv[2]), state, error)) {
            std::fprintf(stderr, "vesk-kit: %s: %s\n", argv[2], error.c_str());
            return 1;
        }
        if (!writeBytes(argv[3], state.data(), state.size())) {
            std::fprintf(stderr, "vesk-kit: cannot write %s\n", argv[3]);
            return 2;
        }
        std::printf("%s: %zu bytes\n", argv[3], state.size());
        return 0;
    }
    if (command == "print" && (argc == 3 || argc == 4)) {
        std::string bytes, json, error;
        if (!readText(argv[2], bytes)) {
            std::fprintf(stderr, "vesk-kit: cannot read %s\n", argv[2]);
            return 2;
        }
        const std::vector<uint8_t> state(bytes.begin(), bytes.end());
        if (!vesk::kit::stateToKitJson(state, json, error)) {
            std::fprintf(stderr, "vesk-kit: %s: %s\n", argv[2], error.c_str());
            return 1;
        }
        json += "\n";
        if (argc == 4) {
            if (!writeBytes(argv[3], json.data(), json.size())) {
                std::fprintf(stderr, "vesk-kit: cannot write %s\n", argv[3]);
                return 2;
            }
        } else {
            std::fputs(json.c_str(), stdout);
        }
        return 0;
    }
    if (command == "levels" && argc >= 3) {
        return levels(argc, argv);
    }
    if (command == "render") {
        return vesk::kit::renderCommand(argc, argv);
    }
    printUsage(stderr);
    return 2;
}
