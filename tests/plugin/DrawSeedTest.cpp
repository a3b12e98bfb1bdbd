// Where the draws of a trigger come from: every instance draws its own sequence (its salt),
// every live note draws afresh, and an offline bounce draws the same every time it is rendered.
// Through the real plug-in file in vesk-host (fresh processes where a test needs them), and
// in-process where the test looks at what the engine drew.
#include "support/AllocCounter.h"
#include "support/HostProcess.h"
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "engine/TriggerSeed.h"
#include "persistence/StateFormat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

using namespace vesk;
using namespace vesk::test;

namespace {

std::string tmpPath(const std::string& name)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    return std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR) + "/" + name;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Pool 0 plays a 440 Hz tone with wide random pitch, volume and pan; with `rich`, also a second
// pool with envelopes on both filters, the volume and the pitch, through FX bus 1 (Phaser,
// Flanger, frequency shifter, delay) and FX bus 2 (reverb), with the master chain on (its reverb
// and limiter at their defaults).
std::string stateFile(const std::string& name, bool rich = false)
{
    const std::string tone = tmpPath(name + "-tone.wav");
    const std::vector<float> s = sine(440.0, 48000.0, 14400, 0.5);
    EXPECT_TRUE(writeWav(tone, s, s, 48000.0));
    Instance inst;
    VeskPlugin& p = *inst.plugin;
    EXPECT_TRUE(p.backend.SendLoadToPool(0, tone));
    if (rich) {
        EXPECT_TRUE(p.backend.SendLoadToPool(1, tone));
    }
    inst.pump();
    inst.finishJobs();
    {
        std::lock_guard<std::mutex> lock(p.stateMutex);
        SamplePool& pool = p.sampler.pools[0];
        pool.pitch = {0.0f, 1.0f, true};
        pool.volume = {-6.0f, 0.5f, true};
        pool.pan = {0.0f, 1.0f, true};
        pool.outputRoute = PoolRoute::Master;
        if (rich) {
            SamplePool& second = p.sampler.pools[1];
            second.pitch = {-5.0f, 0.5f, true};
            second.start = {10.0f, 0.5f, true};
            second.fadeIn = 0.05f;
            second.fadeOut = 0.2f;
            for (EnvelopeData* env :
                 {&second.volumeEnv, &second.pitchEnv, &second.hpfEnv, &second.lpfEnv}) {
                env->enabled = true;
                env->count = 3;
            }
            second.volumeEnv.points[0] = {0.0f, -24.0f};
            second.volumeEnv.points[1] = {0.3f, 0.0f};
            second.volumeEnv.points[2] = {1.0f, -12.0f};
            second.pitchEnv.points[0] = {0.0f, 0.0f};
            second.pitchEnv.points[1] = {0.5f, 7.0f};
            second.pitchEnv.points[2] = {1.0f, -3.0f};
            second.hpfEnv.points[0] = {0.0f, 50.0f};
            second.hpfEnv.points[1] = {0.5f, 400.0f};
            second.hpfEnv.points[2] = {1.0f, 100.0f};
            second.lpfEnv.points[0] = {0.0f, 1500.0f};
            second.lpfEnv.points[1] = {0.4f, 9000.0f};
            second.lpfEnv.points[2] = {1.0f, 3000.0f};
            second.outputRoute = PoolRoute::Bus1;
            for (FXType t : {FXType::Phaser, FXType::Flanger, FXType::FreqShift})
                EXPECT_GE(p.lanes[0].appendModule(uint32_t(t)), 0);
            EXPECT_GE(p.lanes[1].appendModule(uint32_t(FXType::Reverb)), 0);
            p.masterFx.setBypassed(false);
        }
    }
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(saveState(p, bytes));
    const std::string path = tmpPath(name + ".state");
    EXPECT_TRUE(writeFile(path, bytes));
    return path;
}

// One vesk-host render of `state`; returns the output file's bytes (empty when it failed).
std::vector<uint8_t> render(const std::string& state, const std::string& out,
                            std::vector<std::string> extra)
{
    std::vector<std::string> args = {"--load-state", state, "--seconds", "1", "--out", out};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(runVeskHost(args), 0);
    return fileBytes(out);
}

std::vector<float> samplesOf(const std::string& wav)
{
    auto audio = loadWavRaw(wav, 48000.0);
    EXPECT_NE(audio, nullptr);
    if (audio == nullptr)
        return {};
    std::vector<float> both = audio->left;
    both.insert(both.end(), audio->right.begin(), audio->right.end());
    return both;
}

TEST(DrawSeed, AnOfflineBounceGivesTheSameBitsEveryTimeAndAtAnyBlockSize)
{
    for (bool rich : {false, true}) {
        const std::string name = rich ? "rich" : "plain";
        const std::string state = stateFile(name, rich);
        const std::vector<std::string> notes = {
            "--note", "0:60:1", "--note", "11000:64:0.5:2000:3", "--midi", "30000:0x91:67:90"};
        auto run = [&](const std::string& tag, std::vector<std::string> extra) {
            extra.insert(extra.end(), notes.begin(), notes.end());
            return render(state, tmpPath(name + "-" + tag + ".wav"), extra);
        };
        const std::vector<uint8_t> first = run("64", {"--offline", "--block", "64"});
        ASSERT_GT(first.size(), 48000u * 8);
        EXPECT_GT(peak(samplesOf(tmpPath(name + "-64.wav"))), 0.05);
        // More than a second later (no clock in the seeds), in blocks of another size.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        EXPECT_EQ(run("512", {"--offline", "--block", "512"}), first) << name;
        EXPECT_EQ(run("100", {"--offline", "--block", "100"}), first) << name;

        // Live play draws afresh in every run.
        const std::vector<uint8_t> live1 = run("live1", {});
        const std::vector<uint8_t> live2 = run("live2", {});
        EXPECT_NE(live1, live2) << name;
        EXPECT_NE(live1, first) << name;
    }
}

TEST(DrawSeed, OfflineSeedsFollowTheSongPosition)
{
    const std::string state = stateFile("song");
    // Without a transport the position counts from activation; a transport at 0 is the same.
    const std::vector<uint8_t> plain =
        render(state, tmpPath("a.wav"), {"--offline", "--note", "0:60"});
    EXPECT_EQ(render(state, tmpPath("b.wav"), {"--offline", "--transport", "0", "--note", "0:60"}),
              plain);
    // The same note one second further into the song draws differently ...
    const std::vector<uint8_t> later =
        render(state, tmpPath("c.wav"), {"--offline", "--transport", "1", "--note", "0:60"});
    EXPECT_NE(later, plain);
    EXPECT_EQ(render(state, tmpPath("d.wav"),
                     {"--offline", "--transport", "1", "--block", "64", "--note", "0:60"}),
              later);
    // ... and exactly like a note that sits at that song position in a render from 0.
    EXPECT_EQ(runVeskHost({"--load-state", state, "--seconds", "2", "--offline", "--transport", "0",
                           "--note", "48000:60", "--out", tmpPath("e.wav")}),
              0);
    const std::vector<float> a = samplesOf(tmpPath("c.wav"));
    const std::vector<float> b = samplesOf(tmpPath("e.wav"));
    ASSERT_EQ(a.size(), 2 * 48000u);
    ASSERT_EQ(b.size(), 2 * 96000u);
    size_t differing = 0;
    for (size_t i = 0; i < 48000; ++i) {
        differing += a[i] != b[48000 + i];                 // left
        differing += a[48000 + i] != b[96000 + 48000 + i]; // right
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(peak(a), 0.05);
    // Key and channel take part: another key or channel at the same place draws differently.
    EXPECT_NE(render(state, tmpPath("f.wav"), {"--offline", "--note", "0:61"}), plain);
    EXPECT_NE(render(state, tmpPath("g.wav"), {"--offline", "--note", "0:60:1:-1:1"}), plain);
}

TEST(DrawSeed, TwoInstancesOfOneStateDrawDifferently)
{
    const std::string state = stateFile("twins");
    std::vector<uint8_t> stripped = fileBytes(state);
    stripped.resize(stripped.size() - kSaltChunkBytes); // as saved before salts
    const std::string old = tmpPath("old.state");
    ASSERT_TRUE(writeFile(old, stripped));

    struct Case
    {
        const char* what;
        std::string state;
        std::vector<std::string> trigger;
        bool duplicate; // the second instance finds the salt taken
    };
    const Case cases[] = {
        {"note", state, {"--note", "0:60"}, true},
        {"note, offline", state, {"--offline", "--note", "0:60"}, true},
        {"Random trigger", state, {"--random", "0:12345"}, true},
        {"note, state without a salt", old, {"--offline", "--note", "0:60"}, false},
        {"Random trigger, state without a salt", old, {"--random", "0:12345"}, false},
    };
    for (const Case& c : cases) {
        const std::string out = tmpPath("twin.wav");
        const std::string json = tmpPath("twin.json");
        std::vector<std::string> args = {"--load-state", c.state, "--instances", "2",
                                         "--seconds",    "1",     "--out",       out,
                                         "--json",       json};
        args.insert(args.end(), c.trigger.begin(), c.trigger.end());
        ASSERT_EQ(runVeskHost(args), 0) << c.what;
        const std::vector<uint8_t> first = fileBytes(tmpPath("twin-1.wav"));
        const std::vector<uint8_t> second = fileBytes(tmpPath("twin-2.wav"));
        ASSERT_GT(first.size(), 48000u * 8) << c.what;
        EXPECT_EQ(first.size(), second.size()) << c.what;
        EXPECT_NE(first, second) << c.what;
        EXPECT_GT(peak(samplesOf(tmpPath("twin-2.wav"))), 0.05) << c.what;
        // The instance that had to take a new salt tells the host the project changed (its
        // state must be saved again); the original, and instances of an old state, do not.
        const std::vector<double> dirty = jsonNumbers(fileText(json), "dirty_count");
        ASSERT_EQ(dirty.size(), 3u) << c.what; // the summary's own, then one per instance
        EXPECT_EQ(dirty[1], 0.0) << c.what;
        EXPECT_EQ(dirty[2], c.duplicate ? 1.0 : 0.0) << c.what;
    }
}

TEST(DrawSeed, TheSaltTravelsWithTheSavedState)
{
    const std::string state = stateFile("travel");
    const std::vector<std::string> notes = {"--offline", "--note", "0:60", "--note", "20000:62"};
    auto args = [&](std::vector<std::string> a) {
        a.insert(a.end(), notes.begin(), notes.end());
        return a;
    };
    // The salt chunk: the last bytes of the stream.
    auto saltChunk = [](const std::vector<uint8_t>& bytes) {
        return bytes.size() < kSaltChunkBytes
                   ? std::vector<uint8_t>()
                   : std::vector<uint8_t>(bytes.end() - kSaltChunkBytes, bytes.end());
    };
    const std::vector<uint8_t> before =
        render(state, tmpPath("before.wav"), args({"--save-state", tmpPath("resaved.state")}));
    // The instance saves the salt it loaded, and the reloaded project bounces the same.
    const std::vector<uint8_t> resavedState = fileBytes(tmpPath("resaved.state"));
    EXPECT_EQ(resavedState.size(), fileBytes(state).size());
    EXPECT_EQ(saltChunk(resavedState), saltChunk(fileBytes(state)));
    EXPECT_EQ(render(tmpPath("resaved.state"), tmpPath("after.wav"), args({})), before);

    // A state from before salts loads; every instance of it takes a salt of its own, which its
    // next save keeps.
    std::vector<uint8_t> stripped = fileBytes(state);
    stripped.resize(stripped.size() - kSaltChunkBytes);
    const std::string old = tmpPath("old.state");
    ASSERT_TRUE(writeFile(old, stripped));
    const std::vector<uint8_t> oldFirst =
        render(old, tmpPath("old1.wav"), args({"--save-state", tmpPath("old-resaved.state")}));
    EXPECT_GT(peak(samplesOf(tmpPath("old1.wav"))), 0.05);
    EXPECT_NE(render(old, tmpPath("old2.wav"), args({})), oldFirst);
    const std::vector<uint8_t> resaved = fileBytes(tmpPath("old-resaved.state"));
    ASSERT_EQ(resaved.size(), stripped.size() + kSaltChunkBytes);
    const std::vector<uint8_t> chunk = saltChunk(resaved);
    EXPECT_EQ(std::string(chunk.begin(), chunk.begin() + 4), "SALT");
    EXPECT_EQ(render(tmpPath("old-resaved.state"), tmpPath("old3.wav"), args({})), oldFirst);
}

// In-process: what the engine drew.

// An instance with the plain state of stateFile, offline.
void loadPlain(Instance& inst, const std::string& state)
{
    ASSERT_TRUE(loadState(*inst.plugin, fileBytes(state)));
    VeskPlugin::clapRenderSet(&inst.plugin->clapPlugin, CLAP_RENDER_OFFLINE);
}

TEST(DrawSeed, ARandomSeedDrawsAlikeOnlyWithTheSameSalt)
{
    const std::string state = stateFile("replay");
    auto draw = [](Instance& inst, uint64_t seed) {
        inst.send(msg::Trigger{seed});
        std::vector<float> l, r;
        inst.render(512, 512, l, r);
        EXPECT_EQ(inst.plugin->sampler.lastSeed, seed) << "shown, stored and named as sent";
        return inst.plugin->sampler.lastParams[0];
    };
    auto a = std::make_unique<Instance>();
    loadPlain(*a, state);
    const uint64_t salt = a->plugin->seedSalt;
    const VoiceParams first = draw(*a, 0xC0FFEE);
    // A duplicate of it (the state loaded while `a` lives) has a salt of its own.
    Instance b;
    loadPlain(b, state);
    EXPECT_NE(b.plugin->seedSalt, salt);
    const VoiceParams elsewhere = draw(b, 0xC0FFEE);
    EXPECT_NE(elsewhere.pitchRatio, first.pitchRatio);
    EXPECT_NE(elsewhere.pan, first.pan);
    // The same engine state, salt and seed give the same draw: on a copy of the engine ...
    Instance c;
    loadPlain(c, state);
    {
        std::lock_guard<std::mutex> lock(c.plugin->stateMutex);
        c.plugin->sampler.triggerSalted(salt, 0xC0FFEE, 60);
    }
    EXPECT_EQ(c.plugin->sampler.lastSeed, 0xC0FFEEu);
    EXPECT_EQ(c.plugin->sampler.lastParams[0].pitchRatio, first.pitchRatio);
    EXPECT_EQ(c.plugin->sampler.lastParams[0].gain, first.gain);
    EXPECT_EQ(c.plugin->sampler.lastParams[0].pan, first.pan);
    // ... and in the project opened again after the original instance is gone.
    a.reset();
    Instance reopened;
    loadPlain(reopened, state);
    EXPECT_EQ(reopened.plugin->seedSalt, salt);
    const VoiceParams again = draw(reopened, 0xC0FFEE);
    EXPECT_EQ(again.pitchRatio, first.pitchRatio);
    EXPECT_EQ(again.gain, first.gain);
    EXPECT_EQ(again.pan, first.pan);
}

TEST(DrawSeed, NotesOfOneSecondDrawAfreshLiveAndByPositionOffline)
{
    const std::string state = stateFile("afresh");
    for (bool offline : {false, true}) {
        Instance inst;
        ASSERT_TRUE(loadState(*inst.plugin, fileBytes(state)));
        if (offline)
            VeskPlugin::clapRenderSet(&inst.plugin->clapPlugin, CLAP_RENDER_OFFLINE);
        uint64_t seeds[3];
        std::vector<float> l, r;
        for (uint64_t& seed : seeds) {
            clap_event_note_t on{};
            on.header = {sizeof on, 100, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_ON, 0};
            on.key = 60;
            on.note_id = -1;
            on.velocity = 1.0;
            const clap_event_header_t* list[1] = {&on.header};
            clap_input_events_t in{list, [](const clap_input_events_t*) { return 1u; },
                                   [](const clap_input_events_t* e, uint32_t i) {
                                       return static_cast<const clap_event_header_t* const*>(
                                           e->ctx)[i];
                                   }};
            inst.render(256, 256, l, r, &in);
            seed = inst.plugin->sampler.lastSeed;
        }
        EXPECT_NE(seeds[0], seeds[1]);
        EXPECT_NE(seeds[1], seeds[2]);
        if (offline) {
            // Frame 100 of blocks at 0, 256 and 512 since activation.
            EXPECT_EQ(seeds[0], offlineNoteSeed(100, 60, 0));
            EXPECT_EQ(seeds[2], offlineNoteSeed(612, 60, 0));
        }
    }
}

TEST(DrawSeed, OfflineProcessCallsWithNotesNeitherAllocateNorLockButOnce)
{
    const std::string state = stateFile("alloc", true);
    Instance inst;
    ASSERT_TRUE(loadState(*inst.plugin, fileBytes(state)));
    VeskPlugin::clapRenderSet(&inst.plugin->clapPlugin, CLAP_RENDER_OFFLINE);
    std::vector<float> l, r;
    l.reserve(48000 * 2);
    r.reserve(48000 * 2);
    inst.render(512, 512, l, r); // first block outside the count (lazy one-time set-up)

    // Notes as CLAP events and as MIDI, a transport in the block, a Random trigger.
    clap_event_note_t on{};
    on.header = {sizeof on, 10, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_ON, 0};
    on.key = 60;
    on.note_id = -1;
    on.velocity = 0.8;
    clap_event_transport_t transport{};
    transport.header = {sizeof transport, 40, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
    transport.flags = CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING;
    transport.song_pos_seconds = 3 * CLAP_SECTIME_FACTOR;
    clap_event_midi_t midi{};
    midi.header = {sizeof midi, 200, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
    midi.data[0] = 0x95;
    midi.data[1] = 64;
    midi.data[2] = 100;
    const clap_event_header_t* list[3] = {&on.header, &transport.header, &midi.header};
    clap_input_events_t in{list, [](const clap_input_events_t*) { return 3u; },
                           [](const clap_input_events_t* e, uint32_t i) {
                               return static_cast<const clap_event_header_t* const*>(e->ctx)[i];
                           }};
    inst.send(msg::Trigger{99});

    AllocCounts counts;
    uint64_t calls = 0;
    inst.beforeProcess = [] { armAudioThread(); };
    inst.afterProcess = [&] {
        const AllocCounts c = disarmAudioThread();
        counts.allocations += c.allocations;
        counts.frees += c.frees;
        counts.locks += c.locks;
        ++calls;
    };
    for (int block = 0; block < 40; ++block)
        inst.render(512, 512, l, r, block % 10 == 0 ? &in : nullptr);
    inst.beforeProcess = nullptr;
    inst.afterProcess = nullptr;
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    if (countsMallocAndLocks()) {
        EXPECT_EQ(counts.locks, calls) << "offline: the one waiting lock per block";
    }
    EXPECT_GT(peak(l), 0.01);
}

} // namespace
