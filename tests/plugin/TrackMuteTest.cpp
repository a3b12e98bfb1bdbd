// The REAPER track's mute switch: a muted track leaves nothing behind. Muting cuts every voice
// and grain at once and resets the FX buses and the master chain; after the unmute the output
// stays silent until the next trigger, which sounds as usual.
#include "support/AllocCounter.h"
#include "support/HostProcess.h"
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace vesk;
using namespace vesk::test;

namespace {

std::string tmpPath(const std::string& name)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    return std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR) + "/" + name;
}

// Pool 0: a 440 Hz tone of two seconds straight to the master chain, which is on (its reverb and
// limiter at their defaults); pool 1: a grain cloud of the same tone on FX bus 1 (a delay).
void setUp(Instance& inst)
{
    const std::string path = tmpPath("long.wav");
    const std::vector<float> s = sine(440.0, 48000.0, 96000, 0.5);
    ASSERT_TRUE(writeWav(path, s, s, 48000.0));
    for (uint32_t pool : {0u, 1u})
        ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(pool, path));
    inst.pump();
    inst.finishJobs();
    std::lock_guard<std::mutex> lock(inst.plugin->stateMutex);
    VeskPlugin& p = *inst.plugin;
    ASSERT_EQ(p.sampler.pools[1].samples.size(), 1u);
    p.sampler.pools[0].outputRoute = PoolRoute::Master;
    p.sampler.pools[1].grainCloud = true;
    p.bus1ToMaster = true;
    ASSERT_GE(p.lanes[0].appendModule(uint32_t(FXType::Delay)), 0);
    p.masterFx.setBypassed(false);
}

TEST(TrackMute, UnmutingPlaysNothingOfWhatTheMuteStopped)
{
    // The state, as a project would hold it.
    const std::string state = tmpPath("mute.state");
    {
        Instance inst;
        setUp(inst);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(saveState(*inst.plugin, bytes));
        FILE* f = std::fopen(state.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    // A held note, the track muted at 0.5 s and unmuted at 1.0 s, the next note at 1.2 s.
    const std::string out = tmpPath("mute.wav");
    ASSERT_EQ(runVeskHost({"--load-state", state, "--reaper-track", "Synth", "--reaper-mute-at",
                           "0.5", "--reaper-unmute-at", "1.0", "--note", "0:60", "--note",
                           "57600:60", "--seconds", "1.6", "--out", out}),
              0);
    auto audio = loadWavRaw(out, 48000.0);
    ASSERT_NE(audio, nullptr);
    const std::vector<float>& l = audio->left;
    const std::vector<float>& r = audio->right;
    ASSERT_EQ(l.size(), 76800u);
    const size_t latency = 480; // the limiter's look-ahead at 48 kHz
    EXPECT_GT(peak(l.data() + 4800, 19200), 0.05) << "the held note sounds before the mute";

    // The first muted block: the main-thread pass that sees the switch comes within about 33 ms.
    size_t muted = 24000;
    while (muted < 24000 + 4800 && (l[muted] != 0.0f || r[muted] != 0.0f))
        ++muted;
    ASSERT_LT(muted, 24000u + 4800u) << "the mute took effect within 100 ms";
    const size_t next = 57600 + latency;
    double loudest = 0.0;
    for (size_t i = muted; i < next; ++i)
        loudest = std::max({loudest, double(std::fabs(l[i])), double(std::fabs(r[i]))});
    EXPECT_LT(loudest, 1e-7) << "below -140 dBFS from the first muted block to the next note";
    EXPECT_GT(peak(l.data() + next, 4800), 0.05) << "the next note sounds";
    EXPECT_GT(
        dominantFrequency(std::vector<float>(l.begin() + long(next), l.begin() + long(next) + 9600),
                          48000.0),
        430.0);
}

TEST(TrackMute, ATriggerDuringTheMuteIsDrawnButLeavesNothingToPlay)
{
    Instance inst;
    setUp(inst);
    VeskPlugin& p = *inst.plugin;
    std::vector<float> l, r;
    inst.send(msg::Trigger{5});
    inst.render(4096, 512, l, r);
    ASSERT_GT(peak(l), 0.05);

    p.trackMuted.store(true);
    l.clear();
    r.clear();
    inst.render(512, 512, l, r);
    // Cut at once: no voice fading, no grain, no walk left.
    for (const auto& voices : p.sampler.voices)
        for (const Voice& v : voices)
            EXPECT_FALSE(v.isActive());
    for (const CloudGrain& g : p.sampler.grains)
        EXPECT_FALSE(g.active.load());
    for (const WalkState& w : p.sampler.walks)
        EXPECT_FALSE(w.active);
    // The editor's Random while muted: drawn (the rows show it, an export renders it), not played.
    inst.send(msg::Trigger{77});
    inst.render(4096, 512, l, r);
    EXPECT_EQ(p.sampler.lastSeed, 77u);
    EXPECT_TRUE(p.sampler.lastParams[0].valid);
    EXPECT_FALSE(p.sampler.isPlaying());
    EXPECT_EQ(peak(l), 0.0);

    p.trackMuted.store(false);
    l.clear();
    r.clear();
    inst.render(48000, 512, l, r);
    // Below -140 dBFS (what is left is the delay's guard against denormal numbers, about 1e-25).
    EXPECT_LT(peak(l), 1e-7);
    EXPECT_LT(peak(r), 1e-7);
    inst.send(msg::Trigger{78});
    inst.render(4096, 512, l, r);
    EXPECT_GT(peak(l), 0.05);
}

TEST(TrackMute, NotesWhileMutedHoldChannelsAndTriggerNothing)
{
    Instance inst;
    setUp(inst);
    VeskPlugin& p = *inst.plugin;
    p.trackMuted.store(true);
    clap_event_note_t on{};
    on.header = {sizeof on, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_ON, 0};
    on.key = 60;
    on.channel = 2;
    on.note_id = -1;
    on.velocity = 1.0;
    clap_event_midi_t midi{};
    midi.header = {sizeof midi, 5, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
    midi.data[0] = 0x94;
    midi.data[1] = 62;
    midi.data[2] = 100;
    const clap_event_header_t* list[2] = {&on.header, &midi.header};
    clap_input_events_t in{list, [](const clap_input_events_t*) { return 2u; },
                           [](const clap_input_events_t* e, uint32_t i) {
                               return static_cast<const clap_event_header_t* const*>(e->ctx)[i];
                           }};
    std::vector<float> l, r;
    inst.render(512, 512, l, r, &in);
    EXPECT_EQ(p.channels.heldNotes[2], 1);
    EXPECT_EQ(p.channels.heldNotes[4], 1);
    EXPECT_FALSE(p.sampler.isPlaying());
    EXPECT_FALSE(p.sampler.lastParams[0].valid);
    midi.data[2] = 0; // velocity 0 releases, muted or not
    const clap_event_header_t* offList[1] = {&midi.header};
    in.ctx = offList;
    in.size = [](const clap_input_events_t*) { return 1u; };
    inst.render(512, 512, l, r, &in);
    EXPECT_EQ(p.channels.heldNotes[4], 0);
    EXPECT_EQ(peak(l), 0.0);
}

TEST(TrackMute, MutingAndUnmutingNeitherAllocateNorLock)
{
    Instance inst;
    setUp(inst);
    VeskPlugin& p = *inst.plugin;
    std::vector<float> l, r;
    l.reserve(48000 * 3);
    r.reserve(48000 * 3);
    inst.render(512, 512, l, r); // first block outside the count (lazy one-time set-up)

    clap_event_note_t on{};
    on.header = {sizeof on, 30, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_ON, 0};
    on.key = 64;
    on.note_id = -1;
    on.velocity = 0.9;
    clap_event_midi_t midi{};
    midi.header = {sizeof midi, 90, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
    midi.data[0] = 0x91;
    midi.data[1] = 67;
    midi.data[2] = 80;
    const clap_event_header_t* list[2] = {&on.header, &midi.header};
    clap_input_events_t in{list, [](const clap_input_events_t*) { return 2u; },
                           [](const clap_input_events_t* e, uint32_t i) {
                               return static_cast<const clap_event_header_t* const*>(e->ctx)[i];
                           }};

    AllocCounts counts;
    inst.beforeProcess = [] { armAudioThread(); };
    inst.afterProcess = [&counts] {
        const AllocCounts c = disarmAudioThread();
        counts.allocations += c.allocations;
        counts.frees += c.frees;
        counts.locks += c.locks;
    };
    // Notes, then muted blocks with notes and Random triggers, then unmuted blocks with notes.
    for (int round = 0; round < 3; ++round) {
        inst.render(2048, 512, l, r, &in);
        p.trackMuted.store(true);
        inst.send(msg::Trigger{uint64_t(round)});
        inst.render(2048, 512, l, r, &in);
        inst.send(msg::Trigger{uint64_t(round + 10)});
        inst.render(1024, 512, l, r);
        p.trackMuted.store(false);
        inst.render(2048, 512, l, r);
    }
    inst.beforeProcess = nullptr;
    inst.afterProcess = nullptr;
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.locks, 0u);
    EXPECT_GT(peak(l), 0.05);
}

} // namespace
