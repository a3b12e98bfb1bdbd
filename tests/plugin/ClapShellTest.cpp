// The plug-in file as any CLAP host sees it, driven through vesk-host's library.
#include "host/ClapHost.h"
#include "support/AllocCounter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vesk::host;

namespace {

constexpr const char* kId = "com.halvoren.vesk";

PluginLibrary& library()
{
    static PluginLibrary lib(VESK_CLAP_PATH);
    return lib;
}

// The output of a command, whole.
std::string commandOutput(const std::string& command)
{
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        pclose(p);
    }
    return out;
}

int countEntries(const char* dir, bool socketsOnly)
{
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            if (socketsOnly) {
                struct stat st
                {};
                if (stat((std::string(dir) + "/" + e->d_name).c_str(), &st) != 0 ||
                    !S_ISSOCK(st.st_mode))
                    continue;
            }
            ++n;
        }
        closedir(d);
    }
    return n;
}

TEST(ClapEntry, TheFileExportsClapEntryAloneAndNoUniqueSymbols)
{
    const std::string file = VESK_CLAP_PATH;
    const std::string dynamic = commandOutput("readelf -W --dyn-syms '" + file + "'");
    ASSERT_NE(dynamic.find("clap_entry"), std::string::npos) << dynamic;
    // Defined dynamic symbols: every row whose section index is a number.
    int defined = 0;
    size_t at = 0;
    while ((at = dynamic.find('\n', at)) != std::string::npos) {
        const size_t end = dynamic.find('\n', at + 1);
        const std::string row =
            dynamic.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        at = end;
        char num[16], value[32], type[32], bind[32], vis[32], ndx[32], name[256];
        unsigned long size = 0;
        if (std::sscanf(row.c_str(), "%15s %31s %lu %31s %31s %31s %31s %255s", num, value, &size,
                        type, bind, vis, ndx, name) == 8 &&
            std::strcmp(ndx, "UND") != 0 && std::strcmp(ndx, "Ndx") != 0) {
            ++defined;
            EXPECT_STREQ(name, "clap_entry") << row;
        }
    }
    EXPECT_EQ(defined, 1);
    EXPECT_EQ(commandOutput("readelf -W -s '" + file + "'").find("UNIQUE"), std::string::npos)
        << "an STB_GNU_UNIQUE symbol keeps the file loaded after dlclose";
}

TEST(ClapEntry, LoadingAndScanningOpensNoDisplayAndStartsNoThread)
{
    // In a child process of its own, so nothing loaded by other tests counts.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int threads = countEntries("/proc/self/task", false);
        const int sockets = countEntries("/proc/self/fd", true);
        int code = 0;
        {
            PluginLibrary lib(VESK_CLAP_PATH);
            const auto* factory = lib.factory();
            if (factory == nullptr || factory->get_plugin_count(factory) != 1 ||
                factory->get_plugin_descriptor(factory, 0) == nullptr)
                code = 10;
            if (countEntries("/proc/self/task", false) != threads)
                code = 11;
            if (countEntries("/proc/self/fd", true) != sockets)
                code = 12;
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no factory, 11: a thread started, 12: a socket "
                                         "(an X connection) opened";
}

TEST(ClapEntry, FactoryAndDescriptor)
{
    const clap_plugin_entry_t& entry = library().entry();
    EXPECT_EQ(entry.clap_version.major, 1u);
    EXPECT_EQ(entry.clap_version.minor, 2u);
    EXPECT_EQ(entry.clap_version.revision, 0u);
    EXPECT_EQ(entry.get_factory(nullptr), nullptr);
    EXPECT_EQ(entry.get_factory("clap.plugin-factory.draft"), nullptr);
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry.get_factory("clap.plugin-factory"));
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->get_plugin_count(factory), 1u);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);

    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->id, kId);
    EXPECT_STREQ(d->name, "Halvoren Vesk");
    EXPECT_STREQ(d->vendor, "Halvoren");
    EXPECT_STREQ(d->version, "0.1.0");
    EXPECT_STREQ(d->description, "Creative layered sampler for sound design");
    ASSERT_NE(d->url, nullptr);
    ASSERT_NE(d->manual_url, nullptr);
    ASSERT_NE(d->support_url, nullptr);
    EXPECT_STREQ(d->url, "");
    EXPECT_EQ(d->clap_version.minor, 2u);
    ASSERT_NE(d->features, nullptr);
    EXPECT_STREQ(d->features[0], "instrument");
    EXPECT_STREQ(d->features[1], "sampler");
    EXPECT_EQ(d->features[2], nullptr);
}

TEST(ClapEntry, CreateRefusesForeignIdsAndNullHost)
{
    const clap_plugin_factory_t* factory = library().factory();
    HostedPlugin probe(library(), kId);
    const clap_host_t* host = probe.host();
    EXPECT_EQ(factory->create_plugin(factory, host, "COM.HALVOREN.VESK"), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, host, "com.halvoren.vesk2"), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, host, nullptr), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, nullptr, kId), nullptr);

    const clap_plugin_t* a = factory->create_plugin(factory, host, kId);
    const clap_plugin_t* b = factory->create_plugin(factory, host, kId);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->desc, factory->get_plugin_descriptor(factory, 0));
    EXPECT_NE(a->plugin_data, nullptr);
    EXPECT_NE(a->plugin_data, b->plugin_data);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a->plugin_data) % 64, 0u);
    a->destroy(a); // destroyed without init or activation
    b->destroy(b);
}

TEST(ClapEntry, OnlyClapEntryIsExported)
{
    void* handle = ::dlopen(VESK_CLAP_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(::dlsym(handle, "clap_entry"), nullptr);
    EXPECT_EQ(::dlsym(handle, "_ZN10VeskPlugin11clapProcessEPK11clap_pluginPK12clap_process"),
              nullptr);
    ::dlclose(handle);
}

TEST(ClapInstance, PortsLatencyAndExtensionLookup)
{
    HostedPlugin p(library(), kId);
    const auto* audio = p.extension<clap_plugin_audio_ports_t>("clap.audio-ports");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->count(p.plugin(), true), 0u);
    EXPECT_EQ(audio->count(p.plugin(), false), 1u);
    clap_audio_port_info_t info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_FALSE(audio->get(p.plugin(), 0, true, &info));
    EXPECT_EQ(info.id, 0xABABABABu) << "a refused get leaves the record alone";
    EXPECT_FALSE(audio->get(p.plugin(), 1, false, &info));
    ASSERT_TRUE(audio->get(p.plugin(), 0, false, &info));
    EXPECT_EQ(info.id, 0u);
    EXPECT_STREQ(info.name, "Output");
    EXPECT_EQ(info.flags, CLAP_AUDIO_PORT_IS_MAIN);
    EXPECT_EQ(info.channel_count, 2u);
    EXPECT_STREQ(info.port_type, "stereo");
    EXPECT_EQ(info.in_place_pair, CLAP_INVALID_ID);

    const auto* notes = p.extension<clap_plugin_note_ports_t>("clap.note-ports");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(notes->count(p.plugin(), true), 1u);
    EXPECT_EQ(notes->count(p.plugin(), false), 0u);
    clap_note_port_info_t n{};
    EXPECT_FALSE(notes->get(p.plugin(), 0, false, &n));
    ASSERT_TRUE(notes->get(p.plugin(), 0, true, &n));
    EXPECT_STREQ(n.name, "MIDI In");
    EXPECT_EQ(n.supported_dialects, 7u);
    EXPECT_EQ(n.preferred_dialect, uint32_t(CLAP_NOTE_DIALECT_CLAP));

    for (const char* id : {"clap.audio-ports", "clap.latency", "clap.render", "clap.state",
                           "clap.track-info/1", "clap.note-ports", "clap.params"})
        EXPECT_NE(p.extension<void>(id), nullptr) << id;
    // The editor's extensions exist exactly when the file carries the editor: never a clap.gui
    // whose functions all fail.
    for (const char* id : {"clap.gui", "clap.timer-support", "clap.posix-fd-support"})
        EXPECT_EQ(p.extension<void>(id) != nullptr, VESK_CLAP_HAS_GUI != 0) << id;
    for (const char* id : {"clap.track-info", "clap.param", "CLAP.STATE", "", "clap.render/1"})
        EXPECT_EQ(p.extension<void>(id), nullptr) << id;

    const auto* render = p.extension<clap_plugin_render_t>("clap.render");
    EXPECT_FALSE(render->has_hard_realtime_requirement(p.plugin()));
    EXPECT_TRUE(render->set(p.plugin(), CLAP_RENDER_OFFLINE));
    EXPECT_TRUE(render->set(p.plugin(), CLAP_RENDER_REALTIME));
    EXPECT_TRUE(render->set(p.plugin(), 7));
}

TEST(ClapInstance, LatencyFollowsTheActivationRate)
{
    HostedPlugin p(library(), kId);
    EXPECT_EQ(p.latency(), 480u) << "before any activation";
    ASSERT_TRUE(p.activate(44100.0, 512));
    EXPECT_EQ(p.latency(), 441u);
    p.deactivate();
    ASSERT_TRUE(p.activate(96000.0, 64)); // again, at another rate
    EXPECT_EQ(p.latency(), 960u);
    ASSERT_TRUE(p.activate(22050.0, 64)); // ceil(220.5)
    EXPECT_EQ(p.latency(), 221u);
}

TEST(ClapInstance, HostWithoutExtensionsStillWorks)
{
    HostOptions opts;
    opts.offerExtensions = false;
    HostedPlugin p(library(), kId, opts);
    if (const auto* ti = p.extension<clap_plugin_track_info_t>("clap.track-info/1"))
        ti->changed(p.plugin());
    ASSERT_TRUE(p.activate(48000.0, 256));
    std::vector<float> l, r;
    p.render(4800, 256, {}, l, r);
    EXPECT_EQ(l.size(), 4800u);
    std::vector<uint8_t> state;
    EXPECT_TRUE(p.saveState(state));
    EXPECT_EQ(p.dirtyCount(), 0u);
}

TEST(ClapInstance, HundredInstancesComeAndGo)
{
    for (int i = 0; i < 100; ++i) {
        HostedPlugin p(library(), kId);
        ASSERT_TRUE(p.activate(i % 2 ? 44100.0 : 48000.0, 128));
        std::vector<float> l, r;
        p.render(256, 128, {}, l, r);
    }
}

TEST(ClapInstance, ProcessNeitherAllocatesNorLocks)
{
    HostedPlugin p(library(), kId);
    ASSERT_TRUE(p.activate(48000.0, 512));
    vesk::test::AllocCounts counts;
    p.beforeProcess = [] { vesk::test::armAudioThread(); };
    p.afterProcess = [&counts] {
        const auto c = vesk::test::disarmAudioThread();
        counts.allocations += c.allocations;
        counts.frees += c.frees;
        counts.locks += c.locks;
    };
    std::vector<float> l, r;
    l.reserve(48000);
    r.reserve(48000);
    TimedEvent note;
    note.frame = 100;
    p.render(48000, 512, {note}, l, r);
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.locks, 0u);
}

TEST(ClapInstance, TrackNameReachesTheInstance)
{
    HostOptions opts;
    opts.trackName = "Drums";
    HostedPlugin p(library(), kId, opts);
    const auto* ti = p.extension<clap_plugin_track_info_t>("clap.track-info/1");
    ASSERT_NE(ti, nullptr);
    ti->changed(p.plugin()); // must not crash with no editor open
    p.options().offerTrackInfo = false;
    ti->changed(p.plugin()); // extension gone: name kept, no crash
}

} // namespace
