// Save and load of a whole instance: through the real plug-in file (vesk-host's library) where
// the behaviour shows from outside, in-process where the test needs to set the instance up.
#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "host/ClapHost.h"
#include "host/FakeReaper.h"
#include "persistence/StateSerializer.h"
#include "plugin/Messages.h"
#include "plugin/VeskPlugin.h"
#include "tests/support/InProcessPlugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vesk::host::HostedPlugin;
using vesk::host::HostOptions;
using vesk::host::PluginLibrary;

namespace {

constexpr const char* kId = "com.halvoren.vesk";

PluginLibrary& library()
{
    static PluginLibrary lib(VESK_CLAP_PATH);
    return lib;
}

fs::path tmpDir(const std::string& name)
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    const fs::path dir = fs::path(env != nullptr ? env : VESK_TEST_TMP_DIR) / ("state-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A short decaying tone, different per seed.
void writeTone(const fs::path& path, int seed, int frames = 2400)
{
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    const double f = 110.0 * (1 + seed % 7);
    for (int i = 0; i < frames; ++i) {
        const double env = std::exp(-4.0 * i / frames);
        left[size_t(i)] = float(0.5 * env * std::sin(2.0 * M_PI * f * i / 48000.0));
        right[size_t(i)] = float(0.4 * env * std::sin(2.0 * M_PI * f * 1.01 * i / 48000.0));
    }
    ASSERT_TRUE(vesk::writeWav(path.string(), left, right, 48000.0));
}

// An in-process host: state extension with a dirty counter, and optionally a fake REAPER.
struct InProcessHost
{
    clap_host_t host{};
    clap_host_state_t state{};
    vesk::host::FakeReaper* reaper = nullptr;
    int dirty = 0;

    InProcessHost()
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "state test";
        host.vendor = "";
        host.url = "";
        host.version = "";
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<InProcessHost*>(h->host_data);
            if (std::strcmp(id, CLAP_EXT_STATE) == 0)
                return &self->state;
            return self->reaper != nullptr ? self->reaper->extension(id) : nullptr;
        };
        host.request_callback = [](const clap_host_t*) {};
        host.request_process = [](const clap_host_t*) {};
        host.request_restart = [](const clap_host_t*) {};
        state.mark_dirty = [](const clap_host_t* h) {
            ++static_cast<InProcessHost*>(h->host_data)->dirty;
        };
    }
};

struct InstanceDeleter
{
    void operator()(VeskPlugin* p) const { VeskPlugin::clapDestroy(&p->clapPlugin); }
};
using Instance = std::unique_ptr<VeskPlugin, InstanceDeleter>;

Instance makeInstance(InProcessHost& host)
{
    return Instance(vesk::test::newInitialisedInstance(&host.host));
}

// The host side takes at most 700 bytes per write and gives at most 333 per read, as a host may.
std::vector<uint8_t> saveInProcess(VeskPlugin& p)
{
    std::vector<uint8_t> out;
    EXPECT_TRUE(vesk::test::saveState(p, out, 700));
    return out;
}

bool loadInProcess(VeskPlugin& p, const std::vector<uint8_t>& bytes)
{
    return vesk::test::loadState(p, bytes, 333);
}

// Applies one message as the main thread's dispatcher does.
template <class R> void command(VeskPlugin& p, const R& message)
{
    uint8_t payload[R::kMaxSize];
    p.applyCommand(R::kId, payload, message.encode(payload));
}

// Every pool with two sample files and its own settings, both buses full, the master changed,
// masks set and some pools locked to a draw.
// A light setup (for tests that load many times) gives only two pools samples and short
// envelopes.
void buildRichSetup(VeskPlugin& p, const fs::path& dir, int lanesSlots = vesk::kMaxSlots,
                    bool light = false)
{
    std::lock_guard<std::mutex> lock(p.stateMutex);
    for (int i = 0; i < vesk::kNumPools; ++i) {
        vesk::SamplePool& pool = p.sampler.pools[i];
        for (int k = 0; k < (light && i > 1 ? 0 : 2); ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "s%d_%d.wav", i, k);
            const fs::path file = dir / name;
            writeTone(file, i * 2 + k);
            auto audio = vesk::loadWavRaw(file.string(), 48000.0);
            ASSERT_NE(audio, nullptr);
            p.rawAudioCache.put(file.string(), audio);
            p.sampler.appendSample(i, vesk::SampleData{audio, k * 100, uint64_t(k * 1000)});
        }
        pool.pitch = {float(i) - 3.0f, 0.25f, i % 2 == 0};
        pool.volume = {-3.0f * float(i), 0.5f, true};
        pool.pan = {10.0f * float(i) - 40.0f, 0.3f, i % 3 == 0};
        pool.delay = {5.0f * float(i), 0.1f, i % 2 == 1};
        pool.start = {float(i), 0.2f, true};
        pool.reverseChance = 12.5f * float(i);
        std::snprintf(pool.name, sizeof pool.name, "Pool %d \xC3\xA9", i + 1);
        for (vesk::EnvelopeData* env :
             {&pool.volumeEnv, &pool.panEnv, &pool.pitchEnv, &pool.hpfEnv, &pool.lpfEnv}) {
            env->count = uint32_t(light ? (i < 2 ? 1 : 0) : 2 + i);
            env->enabled = i % 2 == 0;
            for (uint32_t n = 0; n < env->count; ++n)
                env->points[n] = {float(n) / float(env->count), float(n) - 1.0f};
        }
        pool.hpfHz = 20.0f * float(i);
        pool.lpfHz = 20000.0f - 1000.0f * float(i);
        pool.outputRoute = vesk::PoolRoute(i % 3);
        pool.fadeIn = 0.01f * float(i);
        pool.fadeOut = 0.02f * float(i);
        pool.pitchTrack = i % 2 == 1;
        pool.grainCloud = i == 7;
    }
    for (int l = 0; l < vesk::kNumLanes; ++l) {
        vesk::FXLane& lane = p.lanes[l];
        for (int s = 0; s < lanesSlots; ++s) {
            const int index = lane.appendModule(uint32_t(1 + (s * 7 + l) % vesk::kNumFXTypes));
            ASSERT_GE(index, 0);
            vesk::FXSlot& slot = lane.slots[index];
            slot.bypassed = s % 5 == 0;
            if (slot.paramCount > 0) {
                slot.params[0] = slot.paramMin[0] + 0.25f * (slot.paramMax[0] - slot.paramMin[0]);
                slot.modSource[0] = uint8_t(1 + s % 4);
                slot.modDepth[0] = 0.5f;
            }
        }
        lane.bypassed = l == 1;
        lane.muted = false;
        lane.soloed = l == 0;
    }
    p.bus1ToMaster = true;
    p.masterFx.setBypassed(false);
    p.masterFx.setEQ(3.0f, -2.0f, 1.5f);
    p.masterFx.setEnhance(2.0f, 30.0f, 10.0f);
    p.masterFx.setEnhanceMulti(true);
    p.masterFx.setReverb(0.4f, 0.5f, 2.0f, 0.25f, 0.6f, 1.2f);
    p.masterFx.setLimiter(-6.0f, -0.5f, 150.0f);
    p.masterFx.setOutputGainDb(-2.0f);
    p.sampler.retriggerMode = false;
    p.autoSplit.store(true);
    p.visiblePools.store(0xFF);
    p.soloShadow.store(0x01);
    p.sampler.soloMask = 0x01;
    p.muteShadow.store(0x06);
    p.sampler.muteMask = 0x06;
    p.sampler.trigger(12345, 60);
    p.sampler.stop();
    for (int i : {0, 3, 5})
        p.sampler.setPoolLocked(i, true);
    p.freezeShadow = p.sampler.freezeMask;
    // The seed of the last trigger is not restored by a load: keep it at a new instance's value.
    p.sampler.lastSeed = 0;
}

std::vector<uint8_t> saveWithHost(HostedPlugin& plugin)
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(plugin.saveState(bytes));
    return bytes;
}

uint32_t readU32(const std::vector<uint8_t>& b, size_t at)
{
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Offset of the first byte where two streams differ (the shorter size when one is a prefix).
size_t firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return i;
    return a.size() == b.size() ? a.size() : n;
}

} // namespace

TEST(PluginState, FreshInstanceRoundTripsThroughThePluginFile)
{
    HostedPlugin a(library(), kId);
    const std::vector<uint8_t> first = saveWithHost(a);
    ASSERT_GE(first.size(), 8u + 4u + 8u + 4u);
    EXPECT_EQ(readU32(first, 0), 0x5645534Bu);
    EXPECT_EQ(std::string(first.begin(), first.begin() + 4), "KSEV");
    EXPECT_EQ(readU32(first, 4), 1u);
    EXPECT_EQ(readU32(first, 8), 0u); // no project root outside REAPER
    double rate = 0.0;
    std::memcpy(&rate, first.data() + 12, 8);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(readU32(first, 20), 0u); // pool 0 holds no samples

    HostedPlugin b(library(), kId);
    ASSERT_TRUE(b.loadState(first));
    EXPECT_EQ(saveWithHost(b), first);
    EXPECT_EQ(b.dirtyCount(), 0u); // loading is not an edit
}

TEST(PluginState, RichSetupRoundTripsThroughThePluginFile)
{
    const fs::path dir = tmpDir("rich");
    InProcessHost host;
    Instance setup = makeInstance(host);
    buildRichSetup(*setup, dir);
    const std::vector<uint8_t> first = saveInProcess(*setup);

    HostedPlugin b(library(), kId);
    ASSERT_TRUE(b.loadState(first));
    const std::vector<uint8_t> second = saveWithHost(b);
    EXPECT_EQ(second.size(), first.size());
    EXPECT_EQ(firstDifference(second, first), first.size());

    // The seed of the last trigger stays the instance's own.
    {
        InProcessHost h;
        Instance q = makeInstance(h);
        q->sampler.lastSeed = 42;
        // The seed comes before six flag and mask bytes and the frozen draws (three locked pools
        // of 26 bytes, five unlocked of 1).
        std::vector<uint8_t> seeded = first;
        const uint64_t stored = 777;
        std::memcpy(seeded.data() + seeded.size() - (3 * 26 + 5) - 6 - 8, &stored, 8);
        ASSERT_TRUE(loadInProcess(*q, seeded));
        EXPECT_EQ(q->sampler.lastSeed, 42u);
    }

    // Loading into an instance that already holds a rich setup replaces all of it.
    HostedPlugin c(library(), kId);
    ASSERT_TRUE(c.loadState(first));
    HostedPlugin fresh(library(), kId);
    const std::vector<uint8_t> empty = saveWithHost(fresh);
    ASSERT_TRUE(c.loadState(empty));
    EXPECT_EQ(saveWithHost(c), empty);
}

TEST(PluginState, EveryPrefixFailsAndIsWrittenBackUnchanged)
{
    const fs::path dir = tmpDir("prefix");
    InProcessHost host;
    Instance setup = makeInstance(host);
    buildRichSetup(*setup, dir, 1, true);
    const std::vector<uint8_t> full = saveInProcess(*setup);

    // An empty stream (in-process: the host library's reader cannot hand out zero bytes).
    {
        InProcessHost h;
        Instance q = makeInstance(h);
        EXPECT_FALSE(loadInProcess(*q, {}));
        EXPECT_TRUE(q->backend.current().stateUnread);
    }
    HostedPlugin p(library(), kId);
    for (size_t n = 1; n < full.size(); ++n) {
        const std::vector<uint8_t> prefix(full.begin(), full.begin() + long(n));
        ASSERT_FALSE(p.loadState(prefix)) << "prefix of " << n << " bytes";
        if (n % 7 == 0 || n + 64 > full.size()) {
            std::vector<uint8_t> saved;
            ASSERT_TRUE(p.saveState(saved));
            ASSERT_EQ(saved, prefix) << "prefix of " << n << " bytes";
        }
    }
    ASSERT_TRUE(p.loadState(full));
    EXPECT_EQ(saveWithHost(p), full);
}

TEST(PluginState, ForeignStreamsAreKeptUntilTheFirstEdit)
{
    HostedPlugin fresh(library(), kId);
    const std::vector<uint8_t> valid = saveWithHost(fresh);

    std::vector<uint8_t> version2 = valid;
    version2[4] = 2;
    std::vector<uint8_t> wrongMagic = valid;
    wrongMagic[0] = 'X';
    std::vector<uint8_t> insaneRate = valid; // decode rate 1 Hz
    const double one = 1.0;
    std::memcpy(insaneRate.data() + 12, &one, 8);
    std::vector<uint8_t> nanRate = valid;
    const double nan = std::nan("");
    std::memcpy(nanRate.data() + 12, &nan, 8);
    std::vector<uint8_t> hugeCount = valid; // pool 0 claims 65 samples
    hugeCount[20] = 65;

    for (const auto* bytes : {&version2, &wrongMagic, &insaneRate, &nanRate, &hugeCount}) {
        InProcessHost host;
        Instance p = makeInstance(host);
        ASSERT_FALSE(loadInProcess(*p, *bytes));
        const vesk::VeskState& shown = p->backend.current();
        EXPECT_TRUE(shown.stateUnread);
        EXPECT_EQ(saveInProcess(*p), *bytes);
        EXPECT_EQ(saveInProcess(*p), *bytes);

        // One settings change: from now on the save is the current settings.
        command(*p, vesk::msg::SetReverseChance{2, 40.0f});
        EXPECT_GE(host.dirty, 1);
        const std::vector<uint8_t> now = saveInProcess(*p);
        ASSERT_GE(now.size(), 8u);
        EXPECT_EQ(readU32(now, 0), 0x5645534Bu);
        EXPECT_EQ(readU32(now, 4), 1u);
        InProcessHost host2;
        Instance check = makeInstance(host2);
        ASSERT_TRUE(loadInProcess(*check, now));
        EXPECT_EQ(check->sampler.pools[2].reverseChance, 40.0f);
        EXPECT_FALSE(check->backend.current().stateUnread);
    }
}

TEST(PluginState, OversizedStreamIsRefused)
{
    HostedPlugin p(library(), kId);
    std::vector<uint8_t> big(32u * 1024u * 1024u + 1u, 0);
    EXPECT_FALSE(p.loadState(big));
}

TEST(PluginState, SamplePathsFollowTheProjectFolder)
{
    const fs::path base = tmpDir("paths");
    const fs::path project = base / "proj";
    const fs::path sibling = base / "proj2"; // shares a prefix with the project folder
    fs::create_directories(project / "audio");
    fs::create_directories(sibling);
    writeTone(project / "audio" / "a.wav", 1);
    writeTone(sibling / "b.wav", 2);

    vesk::host::FakeReaper reaper;
    reaper.projectPath = project.string() + "/";
    InProcessHost host;
    host.reaper = &reaper;
    Instance p = makeInstance(host);
    {
        std::lock_guard<std::mutex> lock(p->stateMutex);
        for (const fs::path& f : {project / "audio" / "a.wav", sibling / "b.wav"})
            p->sampler.appendSample(0, {vesk::loadWavRaw(f.string(), 48000.0), 0, 0});
    }
    const std::vector<uint8_t> saved = saveInProcess(*p);
    const std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("$PROJECT/audio/a.wav"), std::string::npos);
    EXPECT_NE(text.find(sibling.string() + "/b.wav"), std::string::npos);
    EXPECT_EQ(text.find("$PROJECT/b.wav"), std::string::npos);

    // The project moves: the sample is found in the new folder.
    const fs::path moved = base / "moved";
    fs::rename(project, moved);
    reaper.projectPath = moved.string();
    {
        InProcessHost h;
        h.reaper = &reaper;
        Instance q = makeInstance(h);
        ASSERT_TRUE(loadInProcess(*q, saved));
        ASSERT_EQ(q->sampler.pools[0].samples.size(), 2u);
        const auto& audio = q->sampler.pools[0].samples[0].audio;
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->channels, 2);
        EXPECT_EQ(audio->path, (moved / "audio" / "a.wav").string());
        EXPECT_EQ(q->backend.current().missingFiles, 0);
        const std::vector<uint8_t> again = saveInProcess(*q);
        EXPECT_NE(std::string(again.begin(), again.end()).find("$PROJECT/audio/a.wav"),
                  std::string::npos);
    }

    // Not under the new root but still in the old one: the stored root is tried next.
    const fs::path empty = base / "empty";
    fs::create_directories(empty);
    fs::rename(moved, project);
    reaper.projectPath = empty.string();
    {
        InProcessHost h;
        h.reaper = &reaper;
        Instance q = makeInstance(h);
        ASSERT_TRUE(loadInProcess(*q, saved));
        EXPECT_EQ(q->sampler.pools[0].samples[0].audio->path,
                  (project / "audio" / "a.wav").string());
    }

    // The file is gone: a placeholder keeps the stored path, is counted, and is saved again.
    fs::remove(project / "audio" / "a.wav");
    reaper.projectPath = project.string();
    {
        InProcessHost h;
        h.reaper = &reaper;
        Instance q = makeInstance(h);
        ASSERT_TRUE(loadInProcess(*q, saved));
        ASSERT_EQ(q->sampler.pools[0].samples.size(), 2u);
        const auto& audio = q->sampler.pools[0].samples[0].audio;
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->channels, 0);
        EXPECT_EQ(audio->path, "$PROJECT/audio/a.wav");
        EXPECT_EQ(q->backend.current().missingFiles, 1);
        EXPECT_EQ(q->sampler.pools[0].lastTrigger.sampleIndex, 1); // the first playable one
        EXPECT_EQ(saveInProcess(*q), saved);
        // Back in place: reopening finds it.
        writeTone(project / "audio" / "a.wav", 1);
        ASSERT_TRUE(loadInProcess(*q, saved));
        EXPECT_EQ(q->backend.current().missingFiles, 0);
    }
}

TEST(PluginState, ALockedPoolSoundsTheSameAfterReopening)
{
    const fs::path dir = tmpDir("locked");
    writeTone(dir / "t.wav", 3, 9600);
    InProcessHost host;
    Instance a = makeInstance(host);
    {
        std::lock_guard<std::mutex> lock(a->stateMutex);
        a->sampler.appendSample(0, {vesk::loadWavRaw((dir / "t.wav").string(), 48000.0), 0, 0});
        vesk::SamplePool& pool = a->sampler.pools[0];
        pool.pitch = {2.0f, 0.8f, true};
        pool.volume = {-4.0f, 0.6f, true};
        pool.pan = {-20.0f, 0.7f, true};
        a->sampler.trigger(777, 60);
        a->sampler.stop();
        ASSERT_TRUE(a->sampler.setPoolLocked(0, true));
        a->freezeShadow = a->sampler.freezeMask;
    }
    const std::vector<uint8_t> saved = saveInProcess(*a);
    InProcessHost host2;
    Instance b = makeInstance(host2);
    ASSERT_TRUE(loadInProcess(*b, saved));

    auto render = [](VeskPlugin& p) {
        std::vector<float> left(4096, 0.0f), right(4096, 0.0f);
        std::lock_guard<std::mutex> lock(p.stateMutex);
        p.sampler.trigger(999, 60); // locked: the frozen draw, whatever the seed
        p.sampler.renderPoolVoices(0, left.data(), right.data(), 4096);
        left.insert(left.end(), right.begin(), right.end());
        return left;
    };
    const std::vector<float> before = render(*a);
    const std::vector<float> after = render(*b);
    double peak = 0.0, diff = 0.0;
    for (size_t i = 0; i < before.size(); ++i) {
        peak = std::max(peak, double(std::fabs(before[i])));
        diff = std::max(diff, double(std::fabs(before[i] - after[i])));
    }
    EXPECT_GT(peak, 0.01);
    EXPECT_LT(diff, 1e-4 * peak);
}

TEST(PluginState, DamagedValuesNeverReachTheSound)
{
    const fs::path dir = tmpDir("damaged");
    InProcessHost host;
    Instance setup = makeInstance(host);
    buildRichSetup(*setup, dir, 4);
    {
        // Every float a command would refuse.
        std::lock_guard<std::mutex> lock(setup->stateMutex);
        const float nan = std::nanf("");
        for (vesk::SamplePool& pool : setup->sampler.pools) {
            pool.pitch.base = nan;
            pool.volume.base = INFINITY;
            pool.pan.range = nan;
            pool.hpfHz = nan;
            pool.lpfHz = -INFINITY;
            pool.fadeIn = nan;
            pool.volumeEnv.points[0].y = nan;
            pool.pitchEnv.points[1].x = nan;
        }
        for (vesk::FXLane& lane : setup->lanes)
            for (int s = 0; s < lane.slotCount; ++s) {
                lane.slots[s].params[0] = nan;
                lane.slots[s].modSource[0] = 200;
                lane.slots[s].modDepth[0] = nan;
            }
        for (vesk::VoiceParams& frozen : setup->sampler.frozenParams) {
            frozen.pitchRatio = nan;
            frozen.gain = INFINITY;
        }
    }
    const std::vector<uint8_t> damaged = saveInProcess(*setup);

    HostedPlugin p(library(), kId);
    ASSERT_TRUE(p.loadState(damaged));
    ASSERT_TRUE(p.activate(48000.0, 512));
    std::vector<float> left, right;
    vesk::host::TimedEvent note;
    note.frame = 0;
    p.render(24000, 512, {note}, left, right);
    for (size_t i = 0; i < left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << i;
        ASSERT_LE(std::fabs(left[i]), 2.0f);
    }
}

TEST(PluginState, LoadingWhileSoundsPlayReplacesRegionsSafely)
{
    const fs::path dir = tmpDir("playing");
    InProcessHost host;
    Instance setup = makeInstance(host);
    buildRichSetup(*setup, dir, 0);
    const std::vector<uint8_t> rich = saveInProcess(*setup);
    InProcessHost host2;
    Instance empty = makeInstance(host2);
    const std::vector<uint8_t> none = saveInProcess(*empty);

    HostedPlugin p(library(), kId);
    ASSERT_TRUE(p.loadState(rich));
    ASSERT_TRUE(p.activate(48000.0, 256));
    std::vector<float> left, right;
    vesk::host::TimedEvent note;
    note.frame = 0;
    p.render(1024, 256, {note}, left, right);
    // The regions the voices read go away in the middle of the sound.
    ASSERT_TRUE(p.loadState(none));
    p.render(2048, 256, {}, left, right);
    ASSERT_TRUE(p.loadState(rich));
    p.render(1024, 256, {note}, left, right);
    for (float v : left)
        ASSERT_TRUE(std::isfinite(v));
}

TEST(PluginState, AStateSavedAtAnotherRateCoversTheSameAudio)
{
    const fs::path dir = tmpDir("rate");
    writeTone(dir / "t.wav", 4, 48000);
    InProcessHost host;
    Instance a = makeInstance(host);
    ASSERT_TRUE(VeskPlugin::clapActivate(&a->clapPlugin, 44100.0, 1, 512));
    VeskPlugin::clapDeactivate(&a->clapPlugin);
    {
        std::lock_guard<std::mutex> lock(a->stateMutex);
        // Frames 4410..8820 at 44.1 kHz: 0.1 s to 0.2 s of the file.
        a->sampler.appendSample(0,
                                {vesk::loadWavRaw((dir / "t.wav").string(), 44100.0), 4410, 4410});
    }
    const std::vector<uint8_t> saved = saveInProcess(*a);
    double stored = 0.0;
    std::memcpy(&stored, saved.data() + 12, 8);
    EXPECT_EQ(stored, 44100.0);

    InProcessHost host2;
    Instance b = makeInstance(host2); // runs at 48 kHz
    ASSERT_TRUE(loadInProcess(*b, saved));
    ASSERT_EQ(b->sampler.pools[0].samples.size(), 1u);
    const vesk::SampleData& region = b->sampler.pools[0].samples[0];
    ASSERT_NE(region.audio, nullptr);
    EXPECT_EQ(region.audio->sampleRate, 48000.0);
    EXPECT_EQ(region.offset, 4800); // still 0.1 s
    EXPECT_EQ(region.length, 4800u);
    EXPECT_EQ(b->loadedSampleRate, 48000.0);
    // Saved again, the state records the rate its frames now count at.
    const std::vector<uint8_t> again = saveInProcess(*b);
    std::memcpy(&stored, again.data() + 12, 8);
    EXPECT_EQ(stored, 48000.0);
}
