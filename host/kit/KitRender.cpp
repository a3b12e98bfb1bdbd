#include "host/kit/KitRender.h"

#include "export/VariationSet.h"
#include "host/ClapHost.h"
#include "host/kit/Kit.h"
#include "plugin/VeskVariationSetExt.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <limits.h>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace vesk::kit {

const char* kRenderUsage =
    "  vesk-kit render KIT.json|STATE [options]\n"
    "                                     a variation set through the plug-in:\n"
    "    --plugin FILE      the plug-in (default: Vesk.clap built beside vesk-kit)\n"
    "    --count N          variations, 1..1000 (default 20)\n"
    "    --what mix|stems|both              (default mix)\n"
    "    --name TEMPLATE    tokens {kit} {n} {n:03} {pool} {seed} {date} (default {kit}_{n:02})\n"
    "    --format f32|24|16 (default f32; 16 is dithered)\n"
    "    --loudness LUFS    integrated loudness target, under the true-peak ceiling\n"
    "    --ceiling DBTP     true-peak ceiling for --loudness (default -1)\n"
    "    --peak DBFS        peak normalisation instead\n"
    "    --seed N           base seed (default: a fresh one, printed)\n"
    "    --out DIR          folder for the files (default: a new folder per set in the export\n"
    "                       folder); existing files are never replaced\n"
    "    --shard I/N        render only the I-th of N equal shares of the set\n"
    "    --kit NAME         the {kit} name (default: the kit file's name)\n"
    "    --time SECONDS     the set's date, seconds since 1970: {date} and the files'\n"
    "                       origination time (default: now for {date}, no time in files)\n"
    "    --rate HZ          engine rate (default 48000)\n"
    "    --threads 1|2      render threads (default 2)\n";

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted.store(true);
}

bool readAll(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string stemOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

bool fileExists(const std::string& path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

// The plug-in built beside this program: in its folder, or in the build tree's plugin folder.
std::string defaultPluginPath(const char* argv0)
{
    std::string self;
    char buffer[PATH_MAX] = {};
#if defined(__APPLE__)
    uint32_t size = sizeof buffer;
    if (_NSGetExecutablePath(buffer, &size) == 0)
        self = buffer;
#else
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        self.assign(buffer, size_t(n));
#endif
    if (self.empty() && argv0 != nullptr)
        self = argv0;
    const std::string dir = folderOf(self);
    for (const std::string& candidate :
         {dir + "/Vesk.clap", dir + "/../../plugin/Vesk.clap", dir + "/../plugin/Vesk.clap"})
        if (fileExists(candidate))
            return candidate;
    return dir + "/Vesk.clap";
}

// A kit without a salt of its own renders with this one, so every run of one kit and base seed
// (a shard on another machine, a file made again) gives the same sounds.
constexpr const char* kFixedKitSalt = "0x6b69742073616c74";

std::string withSalt(const std::string& kitJson)
{
    juce::var kit;
    if (juce::JSON::parse(juce::String::fromUTF8(kitJson.data(), int(kitJson.size())), kit)
            .failed() ||
        kit.getDynamicObject() == nullptr || kit.hasProperty("salt"))
        return kitJson;
    kit.getDynamicObject()->setProperty("salt", juce::String(kFixedKitSalt));
    return juce::JSON::toString(kit, true).toStdString();
}

int failWith(const std::string& why)
{
    std::fprintf(stderr, "vesk-kit: %s\n", why.c_str());
    return 1;
}

void drawBar(int done, int total)
{
    constexpr int kWidth = 40;
    const int filled = total > 0 ? done * kWidth / total : 0;
    std::string bar(size_t(filled), '#');
    bar.append(size_t(kWidth - filled), '-');
    std::fprintf(stderr, "\r[%s] %d of %d", bar.c_str(), done, total);
    std::fflush(stderr);
}

std::map<std::string, std::string> parseLines(const std::string& text)
{
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        const std::string line = text.substr(pos, end - pos);
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = line.substr(eq + 1);
        pos = end + 1;
    }
    return out;
}

} // namespace

int renderCommand(int argc, char** argv)
{
    std::string input, pluginPath, kitName, rateText = "48000";
    std::string request;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        static const std::map<std::string, std::string> kKeys = {
            {"--count", "count"},     {"--what", "what"},         {"--name", "name"},
            {"--format", "format"},   {"--loudness", "loudness"}, {"--peak", "peak"},
            {"--ceiling", "ceiling"}, {"--seed", "seed"},         {"--out", "out"},
            {"--shard", "shard"},     {"--threads", "threads"},   {"--time", "time"}};
        std::string v;
        if (const auto it = kKeys.find(arg); it != kKeys.end()) {
            if (!value(v))
                return failWith(arg + " needs a value");
            if (v.find('\n') != std::string::npos)
                return failWith(arg + " holds a line break");
            request += it->second + "=" + v + "\n";
        } else if (arg == "--plugin") {
            if (!value(pluginPath))
                return failWith("--plugin needs a file");
        } else if (arg == "--kit") {
            if (!value(kitName))
                return failWith("--kit needs a name");
        } else if (arg == "--rate") {
            if (!value(rateText))
                return failWith("--rate needs a value");
        } else if (!arg.empty() && arg[0] == '-') {
            return failWith("unknown option " + arg + " (vesk-kit --help lists them)");
        } else if (input.empty()) {
            input = arg;
        } else {
            return failWith("one kit or state file only (got " + input + " and " + arg + ")");
        }
    }
    if (input.empty())
        return failWith("render needs a kit JSON or a state file");
    // Nothing plays beside a set on the command line: full speed.
    request += "priority=normal\n";

    // The options checked here first, so a bad one never waits for the plug-in to load.
    VariationSetRequest parsed;
    std::string why;
    if (!parseSetRequest(request, parsed, why) || !validateSetRequest(parsed, why))
        return failWith(why);
    char* end = nullptr;
    const double rate = std::strtod(rateText.c_str(), &end);
    if (end == rateText.c_str() || *end != '\0' || !(rate >= 8000.0 && rate <= 384000.0))
        return failWith("--rate must be between 8000 and 384000 Hz");
    if (pluginPath.empty())
        pluginPath = defaultPluginPath(argv[0]);

    std::string bytes;
    if (!readAll(input, bytes))
        return failWith("cannot read " + input);
    std::vector<uint8_t> state;
    size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && bytes[first] == '{') {
        if (!buildKitState(withSalt(bytes), folderOf(input), state, why))
            return failWith(input + ": " + why);
    } else {
        state.assign(bytes.begin(), bytes.end());
    }
    if (kitName.empty())
        kitName = stemOf(input);

    try {
        host::PluginLibrary library(pluginPath);
        host::HostOptions options;
        options.trackName = kitName;
        host::HostedPlugin plugin(library, "com.halvoren.vesk", options);
        // The track's name is the kit's name in file names ({kit}).
        if (const auto* trackInfo = plugin.extension<clap_plugin_track_info_t>(CLAP_EXT_TRACK_INFO))
            trackInfo->changed(plugin.plugin());
        if (!plugin.loadState(state))
            return failWith(input + ": the plug-in refuses this state");
        if (!plugin.activate(rate, 4096))
            return failWith("the plug-in cannot be activated at " + rateText + " Hz");
        plugin.setRenderMode(true);
        for (int k = 0; k < 4 && plugin.pumpMainThread(); ++k) {
        }
        const auto* ext = plugin.extension<vesk_plugin_variation_set_t>(VESK_EXT_VARIATION_SET);
        if (ext == nullptr)
            return failWith(pluginPath + " cannot render variation sets (too old a plug-in?)");

        char error[1024] = {};
        const uint32_t job = ext->start(plugin.plugin(), request.c_str(), error, sizeof error);
        if (job == 0)
            return failWith(error[0] != '\0' ? error : "the set did not start");

        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        const bool tty = ::isatty(2) != 0;
        int lastShown = -1;
        int32_t status = VESK_SET_RUNNING;
        bool cancelSent = false;
        for (;;) {
            uint32_t done = 0, total = 0;
            status = ext->progress(plugin.plugin(), job, &done, &total);
            if (int(done) != lastShown && total > 0) {
                if (tty)
                    drawBar(int(done), int(total));
                else
                    std::printf("%u of %u\n", done, total);
                std::fflush(stdout);
                lastShown = int(done);
            }
            if (status != VESK_SET_RUNNING)
                break;
            if (interrupted.load() && !cancelSent) {
                ext->cancel(plugin.plugin(), job);
                cancelSent = true;
            }
            plugin.pumpMainThread();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (tty && lastShown >= 0)
            std::fputc('\n', stderr);
        std::vector<char> text(ext->result(plugin.plugin(), job, nullptr, 0) + 1);
        ext->result(plugin.plugin(), job, text.data(), uint32_t(text.size()));
        ext->release(plugin.plugin(), job);
        const auto fields = parseLines(text.data());
        auto field = [&](const char* key) {
            const auto it = fields.find(key);
            return it != fields.end() ? it->second : std::string();
        };
        if (status == VESK_SET_FINISHED) {
            std::printf("%s files of %s variations in %s (base seed %s)\n", field("files").c_str(),
                        field("variations").c_str(), field("folder").c_str(),
                        field("seed").c_str());
            return 0;
        }
        if (status == VESK_SET_CANCELLED)
            return failWith("cancelled after " + field("variations") + " of " + field("total") +
                            " variations; " + field("files") + " complete files in " +
                            field("folder"));
        return failWith(field("error").empty() ? "the set failed" : field("error"));
    } catch (const std::exception& e) {
        return failWith(e.what());
    }
}

} // namespace vesk::kit
