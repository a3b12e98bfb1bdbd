// vesk-host: render a CLAP plug-in headlessly. Run with --help for the options.
#include "host/ClapHost.h"
#include "host/FakeReaper.h"
#include "host/HostGui.h"
#include "host/ParamOptions.h"

#include "audio_files/WavWriter.h"
#include "plugin/Messages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace vesk::host;

namespace {

const char* kUsage =
    "usage: vesk-host --plugin FILE.clap [options]\n"
    "  --id ID               plug-in id (default: the factory's first)\n"
    "  --rate HZ             sample rate (default 48000)\n"
    "  --block N             frames per process call (default 512)\n"
    "  --seconds S           length to render (default 1)\n"
    "  --out FILE.wav        write the output as 32-bit float WAV\n"
    "  --note F:KEY[:VEL[:LEN[:CH]]]  note on at frame F (velocity 0..1, off after LEN frames)\n"
    "  --midi F:B0:B1:B2     raw MIDI bytes (decimal or 0x..) at frame F\n"
    "  --track NAME          track name answered by clap.track-info/1\n"
    "  --offline             put the plug-in into offline render mode\n"
    "  --no-extensions       offer no host extensions at all\n"
    "  --load-state FILE     load a state file before activation\n"
    "  --save-state FILE     save the state after rendering\n"
    "  --describe            print the descriptor and ports and exit\n"
    "  --json FILE           also write the summary to FILE\n"
    "  --reaper-project DIR  play REAPER (a stand-in) with DIR as the project folder\n"
    "  --reaper-track NAME   add a REAPER track NAME holding the plug-in (repeatable);\n"
    "                        the first also becomes the --track name unless one is given\n"
    "  --reaper-muted        the first such track starts muted\n"
    "  --reaper-omit FUNC    REAPER does not offer this API function (repeatable)\n"
    "  --reaper-json FILE    write the REAPER project as JSON at the end\n"
    "  --export-stems        after rendering, export the last trigger as stems (as the editor's\n"
    "                        export button does) and wait up to 120 s for the result\n"
    "  --export-mix          the same for the mix\n"
    "  --transport SECONDS   send a playing transport (120 bpm, 4/4) with every block, at song\n"
    "                        position SECONDS at the first frame\n"
    "  --random F:SEED       send the editor's Random trigger with SEED (decimal or 0x..) before\n"
    "                        the block holding frame F (it sounds at that block's start)\n"
    "  --instances N         N instances in this process (default 1), all created before any\n"
    "                        loads its state, rendered one after the other with the same options;\n"
    "                        with N > 1, instance k writes its --out and --save-state files with\n"
    "                        -k before the extension\n"
    "  --reaper-mute-at S    the first REAPER track is muted from S seconds into the render\n"
    "  --reaper-unmute-at S  ... and unmuted from S seconds (both repeatable)\n";

bool parseNumber(const std::string& s, double& out)
{
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end != s.c_str() && *end == '\0' && std::isfinite(out);
}

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, sep))
        parts.push_back(item);
    return parts;
}

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "vesk-host: %s\n", message.c_str());
    std::exit(2);
}

// The file of instance k (1-based) of n: with n > 1, "-k" goes before the extension.
std::string instancePath(const std::string& path, int k, int n)
{
    if (n <= 1 || path.empty())
        return path;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string named = hasExtension ? path.substr(0, dot) : path;
    named += '-';
    named += std::to_string(k);
    if (hasExtension)
        named += path.substr(dot);
    return named;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    std::string pluginPath, pluginId, outPath, loadStatePath, saveStatePath, jsonPath;
    double rate = 48000.0, seconds = 1.0, block = 512.0;
    bool offline = false, describeOnly = false;
    HostOptions options;
    std::vector<TimedEvent> events;
    bool reaper = false, reaperMuted = false;
    std::vector<bool> exports; // the exports to run after rendering: false stems, true the mix
    std::string reaperJsonPath;
    std::vector<std::string> reaperTracks, reaperOmitted;
    vesk::host::FakeReaper fakeReaper;
    int instanceCount = 1;
    std::vector<std::pair<uint64_t, uint64_t>> randomTriggers; // frame, seed
    std::vector<std::pair<double, bool>> muteChanges;          // seconds, muted
    GuiHost gui;
    ParamOptions paramOptions;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail("missing value after " + arg);
            return argv[++i];
        };
        std::string guiError;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(ParamOptions::usage(), stdout);
            std::fputs(GuiHost::usage(), stdout);
            return 0;
        } else if (gui.parseOption(arg, value, guiError)) {
            if (!guiError.empty())
                fail(guiError);
        } else if (std::string paramError; paramOptions.parse(arg, value, events, paramError)) {
            if (!paramError.empty())
                fail(paramError);
        } else if (arg == "--plugin") {
            pluginPath = value();
        } else if (arg == "--id") {
            pluginId = value();
        } else if (arg == "--rate") {
            if (!parseNumber(value(), rate) || rate < 1000.0 || rate > 1536000.0)
                fail("bad --rate");
        } else if (arg == "--block") {
            if (!parseNumber(value(), block) || block < 1.0 || block > 65536.0)
                fail("bad --block");
        } else if (arg == "--seconds") {
            if (!parseNumber(value(), seconds) || seconds < 0.0 || seconds > 3600.0)
                fail("bad --seconds");
        } else if (arg == "--out") {
            outPath = value();
        } else if (arg == "--note") {
            const auto p = split(value(), ':');
            double f = 0, key = 60, vel = 1, len = -1, ch = 0;
            if (p.size() < 2 || !parseNumber(p[0], f) || !parseNumber(p[1], key) ||
                (p.size() > 2 && !parseNumber(p[2], vel)) ||
                (p.size() > 3 && !parseNumber(p[3], len)) ||
                (p.size() > 4 && !parseNumber(p[4], ch)) || f < 0 || key < 0 || key > 127)
                fail("bad --note (F:KEY[:VEL[:LEN[:CH]]])");
            TimedEvent on;
            on.kind = TimedEvent::Kind::NoteOn;
            on.frame = uint64_t(f);
            on.key = int16_t(key);
            on.velocity = vel;
            on.channel = int16_t(ch);
            events.push_back(on);
            if (len >= 0) {
                TimedEvent off = on;
                off.kind = TimedEvent::Kind::NoteOff;
                off.frame = uint64_t(f + len);
                events.push_back(off);
            }
        } else if (arg == "--midi") {
            const auto p = split(value(), ':');
            if (p.size() != 4)
                fail("bad --midi (F:B0:B1:B2)");
            TimedEvent e;
            e.kind = TimedEvent::Kind::Midi;
            double f = 0;
            if (!parseNumber(p[0], f) || f < 0)
                fail("bad --midi frame");
            e.frame = uint64_t(f);
            for (int b = 0; b < 3; ++b)
                e.midi[b] = uint8_t(std::strtoul(p[b + 1].c_str(), nullptr, 0) & 0xFF);
            events.push_back(e);
        } else if (arg == "--track") {
            options.trackName = value();
        } else if (arg == "--offline") {
            offline = true;
        } else if (arg == "--no-extensions") {
            options.offerExtensions = false;
        } else if (arg == "--load-state") {
            loadStatePath = value();
        } else if (arg == "--save-state") {
            saveStatePath = value();
        } else if (arg == "--describe") {
            describeOnly = true;
        } else if (arg == "--json") {
            jsonPath = value();
        } else if (arg == "--export-stems") {
            exports.push_back(false);
        } else if (arg == "--export-mix") {
            exports.push_back(true);
        } else if (arg == "--reaper-project") {
            reaper = true;
            fakeReaper.projectPath = value();
        } else if (arg == "--reaper-track") {
            reaper = true;
            reaperTracks.push_back(value());
        } else if (arg == "--reaper-muted") {
            reaperMuted = true;
        } else if (arg == "--reaper-omit") {
            reaper = true;
            reaperOmitted.push_back(value());
        } else if (arg == "--reaper-json") {
            reaper = true;
            reaperJsonPath = value();
        } else if (arg == "--transport") {
            if (!parseNumber(value(), options.transportStartSeconds) ||
                std::fabs(options.transportStartSeconds) > 1.0e6)
                fail("bad --transport");
            options.sendTransport = true;
        } else if (arg == "--random") {
            const auto p = split(value(), ':');
            double f = 0;
            char* end = nullptr;
            if (p.size() != 2 || !parseNumber(p[0], f) || f < 0)
                fail("bad --random (F:SEED)");
            const uint64_t seed = std::strtoull(p[1].c_str(), &end, 0);
            if (p[1].empty() || *end != '\0')
                fail("bad --random seed");
            randomTriggers.emplace_back(uint64_t(f), seed);
        } else if (arg == "--instances") {
            double n = 0;
            if (!parseNumber(value(), n) || n < 1 || n > 16 || n != std::floor(n))
                fail("bad --instances (1..16)");
            instanceCount = int(n);
        } else if (arg == "--reaper-mute-at" || arg == "--reaper-unmute-at") {
            double at = 0;
            if (!parseNumber(value(), at) || at < 0)
                fail("bad " + arg);
            reaper = true;
            muteChanges.emplace_back(at, arg == "--reaper-mute-at");
        } else {
            fail("unknown option " + arg + "\n" + kUsage);
        }
    }
    if (pluginPath.empty())
        fail(std::string("--plugin is required\n") + kUsage);
    if (const std::string error = gui.checkOptions(); !error.empty())
        fail(error);
    if (reaper) {
        for (const std::string& name : reaperTracks)
            fakeReaper.addTrack(name, {vesk::host::FakeReaper::kPluginFxName});
        if (reaperMuted && !fakeReaper.tracks.empty())
            fakeReaper.tracks.front()->muted = true;
        for (const std::string& f : reaperOmitted)
            fakeReaper.omit(f);
        if (options.trackName.empty() && !reaperTracks.empty())
            options.trackName = reaperTracks.front();
        options.extraExtension = [&fakeReaper](const char* id) { return fakeReaper.extension(id); };
    }
    if (gui.editorRun() || gui.reloadRun()) {
        std::string error;
        if (!gui.install(options, error))
            fail(error);
    }

    try {
        if (gui.reloadRun())
            gui.runReloadCycles(pluginPath, pluginId);
        PluginLibrary library(pluginPath);
        const clap_plugin_factory_t* factory = library.factory();
        if (factory->get_plugin_count(factory) == 0)
            fail("the factory offers no plug-in");
        const clap_plugin_descriptor_t* desc = nullptr;
        for (uint32_t i = 0; i < factory->get_plugin_count(factory); ++i) {
            const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, i);
            if (d != nullptr && (pluginId.empty() || pluginId == d->id)) {
                desc = d;
                break;
            }
        }
        if (desc == nullptr)
            fail("no plug-in with id " + pluginId);

        // Every instance exists before any of them loads its state (a duplicated track). With
        // the editor open, the real-time run makes the further instances itself.
        if (gui.editorRun()) {
            gui.setInstances(instanceCount);
            instanceCount = 1;
        }
        std::vector<std::unique_ptr<HostedPlugin>> instances;
        for (int k = 0; k < instanceCount; ++k)
            instances.push_back(std::make_unique<HostedPlugin>(library, desc->id, options));
        HostedPlugin& plugin = *instances.front();
        const uint32_t latencyBefore = plugin.latency();
        std::vector<uint8_t> loadedState;
        if (!loadStatePath.empty() && !readFile(loadStatePath, loadedState))
            fail("cannot read " + loadStatePath);
        for (auto& instance : instances) {
            if (!options.trackName.empty()) {
                if (const auto* ti =
                        instance->extension<clap_plugin_track_info_t>(CLAP_EXT_TRACK_INFO))
                    ti->changed(instance->plugin());
            }
            if (!loadStatePath.empty() && !instance->loadState(loadedState))
                std::fprintf(stderr, "vesk-host: the plug-in did not accept %s\n",
                             loadStatePath.c_str());
            if (offline)
                instance->setRenderMode(true);
            if (!instance->activate(rate, uint32_t(block)))
                fail("activation failed");
        }

        std::ostringstream summary;
        const std::string described = describePluginJson(*desc, plugin, latencyBefore);
        if (describeOnly) {
            std::cout << described << std::endl;
            return 0;
        }
        if (paramOptions.listParams) {
            std::cout << describeParamsJson(plugin) << std::endl;
            return 0;
        }

        // The timed messages and mute changes, sent before the block they fall into.
        std::sort(muteChanges.begin(), muteChanges.end());
        auto timedActions = [&](HostedPlugin& target) {
            return [&, target = &target](uint64_t frame, uint32_t n) {
                for (const auto& [at, seed] : randomTriggers)
                    if (at >= frame && at < frame + n && !target->send(vesk::msg::Trigger{seed}))
                        fail("the plug-in did not take the Random trigger");
                for (const auto& [at, muted] : muteChanges) {
                    const uint64_t f = uint64_t(std::llround(at * rate));
                    if (f >= frame && f < frame + n && !fakeReaper.tracks.empty())
                        fakeReaper.tracks.front()->muted = muted;
                }
            };
        };

        const uint64_t frames = uint64_t(std::llround(seconds * rate));
        std::vector<float> left, right;
        RenderStats stats;
        std::ostringstream perInstance;
        for (int k = 0; k < instanceCount; ++k) {
            HostedPlugin& p = *instances[size_t(k)];
            if (reaper && !fakeReaper.tracks.empty())
                fakeReaper.tracks.front()->muted = reaperMuted;
            std::vector<float> l, r;
            p.beforeBlock = timedActions(p);
            const RenderStats s =
                gui.editorRun()
                    ? gui.run(library, desc->id, p, loadStatePath.empty() ? nullptr : &loadedState,
                              events, uint32_t(block), l, r)
                    : p.render(frames, uint32_t(block), events, l, r);
            p.beforeBlock = nullptr;
            p.pumpMainThread();
            if (!paramOptions.flushes.empty() && !p.flushParams(paramOptions.flushes))
                fail("the plug-in offers no clap.params to flush");

            // An export: the command goes down the editor's ring (which asks for a main-thread
            // pass); that pass starts the job, and the job asks for one more pass when its files
            // are written. The count is taken before the first pass, so a job that finishes at
            // once is still seen.
            for (const bool mix : exports) {
                if (!(mix ? p.send(vesk::msg::RenderMix{}) : p.send(vesk::msg::RenderStems{})))
                    fail("the plug-in did not take the export command");
                const uint32_t before = p.callbackRequests();
                p.pumpMainThread(); // applies the command, posts the job
                if (!p.pumpUntil([&] { return p.callbackRequests() > before; }, 120000))
                    fail("the export did not finish within 120 s");
                p.pumpMainThread(); // places the result
            }

            const std::string out = instancePath(outPath, k + 1, instanceCount);
            if (!out.empty() && !l.empty() && !vesk::writeWav(out, l, r, rate))
                fail("cannot write " + out);
            const std::string saveTo = instancePath(saveStatePath, k + 1, instanceCount);
            if (!saveTo.empty()) {
                std::vector<uint8_t> bytes;
                if (!p.saveState(bytes) || !writeFile(saveTo, bytes))
                    fail("cannot save the state to " + saveTo);
            }
            const ChannelLevel il = measure(l), ir = measure(r);
            perInstance << (k == 0 ? "" : ", ") << "{\"dirty_count\": " << p.dirtyCount()
                        << ", \"output\": {\"file\": " << jsonString(out)
                        << ", \"left\": {\"peak\": " << il.peak << ", \"rms\": " << il.rms
                        << "}, \"right\": {\"peak\": " << ir.peak << ", \"rms\": " << ir.rms
                        << "}}}";
            if (k == 0) {
                left = std::move(l);
                right = std::move(r);
                stats = s;
            }
        }

        if (reaper && !reaperJsonPath.empty()) {
            const std::string project = fakeReaper.json();
            if (!writeFile(reaperJsonPath, std::vector<uint8_t>(project.begin(), project.end())))
                fail("cannot write " + reaperJsonPath);
        }

        const ChannelLevel l = measure(left), r = measure(right);
        double maxBlock = 0.0, sumBlock = 0.0;
        for (double t : stats.blockMicros) {
            maxBlock = std::max(maxBlock, t);
            sumBlock += t;
        }
        summary << "{\n  \"plugin\": " << described << ",\n  \"rate\": " << rate
                << ",\n  \"block\": " << uint32_t(block) << ",\n  \"frames\": " << stats.frames
                << ",\n  \"dirty_count\": " << plugin.dirtyCount()
                << ",\n  \"main_thread_callbacks\": " << stats.mainThreadCallbacks
                << ",\n  \"output\": {\"file\": "
                << jsonString(instancePath(outPath, 1, instanceCount))
                << ", \"left\": {\"peak\": " << l.peak << ", \"rms\": " << l.rms
                << "}, \"right\": {\"peak\": " << r.peak << ", \"rms\": " << r.rms << "}}"
                << ",\n  \"block_micros\": {\"mean\": "
                << (stats.blockMicros.empty() ? 0.0 : sumBlock / double(stats.blockMicros.size()))
                << ", \"median\": " << median(stats.blockMicros) << ", \"max\": " << maxBlock
                << "},\n  \"instances\": [" << perInstance.str() << "]";
        if (gui.editorRun() || gui.reloadRun())
            summary << ",\n  \"gui\": " << gui.json();
        summary << "\n}\n";
        std::cout << summary.str();
        if (!jsonPath.empty()) {
            const std::string s = summary.str();
            if (!writeFile(jsonPath, std::vector<uint8_t>(s.begin(), s.end())))
                fail("cannot write " + jsonPath);
        }
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return 0;
}
