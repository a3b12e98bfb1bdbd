// Notes as a host sends them: CLAP note events, or raw MIDI (the MIDI and MPE dialects the note
// port offers). A raw MIDI note-on plays exactly as the CLAP note-on of its key, channel and
// velocity.
#include "support/HostProcess.h"
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <cmath>
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

// Pool 0 holds a 440 Hz tone (or a click at its first frame) with random pitch and pan, routed
// straight to the master chain.
void loadTone(Instance& inst, bool click = false)
{
    const std::string path = tmpPath(click ? "click.wav" : "tone.wav");
    std::vector<float> s = sine(440.0, 48000.0, 9600, 0.5);
    if (click) {
        std::fill(s.begin(), s.end(), 0.0f);
        s[0] = 1.0f;
    }
    ASSERT_TRUE(writeWav(path, s, s, 48000.0));
    ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(0, path));
    inst.pump();
    inst.finishJobs();
    std::lock_guard<std::mutex> lock(inst.plugin->stateMutex);
    SamplePool& pool = inst.plugin->sampler.pools[0];
    ASSERT_EQ(pool.samples.size(), 1u);
    pool.outputRoute = PoolRoute::Master;
    pool.pitch = {0.0f, 1.0f, true};
    pool.pan = {0.0f, 1.0f, true};
}

std::string stateFile()
{
    Instance inst;
    loadTone(inst);
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(saveState(*inst.plugin, bytes));
    const std::string path = tmpPath("notes.state");
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    return path;
}

double peakOf(const std::string& wav)
{
    auto audio = loadWavRaw(wav, 48000.0);
    EXPECT_NE(audio, nullptr);
    return audio != nullptr ? std::max(peak(audio->left), peak(audio->right)) : 0.0;
}

// One block's events in the CLAP list shape.
struct Events
{
    std::vector<clap_event_note_t> notes;
    std::vector<clap_event_midi_t> midi;
    std::vector<const clap_event_header_t*> order;
    clap_input_events_t list{this, size, get};

    Events()
    {
        notes.reserve(32);
        midi.reserve(32);
    }
    static uint32_t size(const clap_input_events_t* l)
    {
        return uint32_t(static_cast<const Events*>(l->ctx)->order.size());
    }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i)
    {
        return static_cast<const Events*>(l->ctx)->order[i];
    }
    void note(uint32_t time, int16_t key, int16_t channel, double velocity)
    {
        clap_event_note_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_ON, 0};
        e.key = key;
        e.channel = channel;
        e.note_id = -1;
        e.velocity = velocity;
        notes.push_back(e);
        order.push_back(&notes.back().header);
    }
    void raw(uint32_t time, uint8_t b0, uint8_t b1, uint8_t b2)
    {
        clap_event_midi_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
        e.data[0] = b0;
        e.data[1] = b1;
        e.data[2] = b2;
        midi.push_back(e);
        order.push_back(&midi.back().header);
    }
};

TEST(HostNotes, AMidiNoteOnSoundsExactlyAsTheClapNoteOn)
{
    const std::string state = stateFile();
    struct Case
    {
        std::string midi;
        std::string note;
    };
    // 100 / 127 = 0.787..: the velocity only reaches FX modulation, which this state has none of.
    const Case cases[] = {
        {"0:0x90:60:100", "0:60:0.787"},
        {"300:0x90:60:100", "300:60:0.787"},       // inside the first block
        {"5000:0x90:72:127", "5000:72:1"},         // a later block, another key
        {"700:0x9F:60:100", "700:60:0.787:-1:15"}, // channel 15
    };
    for (const Case& c : cases) {
        const std::string midiOut = tmpPath("midi.wav");
        const std::string noteOut = tmpPath("note.wav");
        ASSERT_EQ(runVeskHost({"--load-state", state, "--offline", "--seconds", "0.5", "--midi",
                               c.midi, "--out", midiOut}),
                  0);
        ASSERT_EQ(runVeskHost({"--load-state", state, "--offline", "--seconds", "0.5", "--note",
                               c.note, "--out", noteOut}),
                  0);
        EXPECT_GT(peakOf(midiOut), 0.05) << c.midi;
        EXPECT_EQ(fileBytes(midiOut), fileBytes(noteOut)) << c.midi;
    }
    // Velocity 0 is a note-off: nothing sounds.
    ASSERT_EQ(runVeskHost({"--load-state", state, "--seconds", "0.5", "--midi", "0:0x90:60:0",
                           "--midi", "10:0x80:60:64", "--out", tmpPath("off.wav")}),
              0);
    EXPECT_EQ(peakOf(tmpPath("off.wav")), 0.0);
}

TEST(HostNotes, MidiNoteOnsTriggerOnTheirFrameWithTheirVelocity)
{
    Instance inst;
    loadTone(inst, true);
    const uint32_t latency = VeskPlugin::clapLatencyGet(&inst.plugin->clapPlugin);
    for (uint32_t at : {0u, 100u, 511u}) {
        Events ev;
        ev.raw(at, 0x93, 60, 64);
        std::vector<float> l, r;
        inst.render(512, 512, l, r, &ev.list);
        inst.render(2048, 512, l, r);
        // The pan is drawn at random, so the click may sit in either channel.
        std::vector<float> louder(l.size());
        for (size_t i = 0; i < l.size(); ++i)
            louder[i] = std::max(std::fabs(l[i]), std::fabs(r[i]));
        EXPECT_EQ(firstAbove(louder.data(), louder.size(), 0.01), int64_t(at + latency)) << at;
        EXPECT_FLOAT_EQ(inst.plugin->modInput.velocity, 64.0f / 127.0f);
        inst.send(msg::StopAll{});
        inst.render(4800, 512, l, r);
    }
}

TEST(HostNotes, MidiChannelsAreHeldAndReleasedAsBefore)
{
    Instance inst;
    loadTone(inst);
    VeskPlugin& p = *inst.plugin;
    std::vector<float> l, r;
    auto block = [&](Events& ev) { inst.render(64, 64, l, r, &ev.list); };
    {
        // MPE: member channels 1 and 15 hold notes; their pressure and bend reach the targets
        // while each is the current channel.
        Events ev;
        ev.raw(0, 0xD1, 32, 0);      // pressure on channel 1, before its note
        ev.raw(0, 0x91, 60, 90);     // note on channel 1
        ev.raw(0, 0xEF, 0x00, 0x60); // bend +0.5 on channel 15, no note there yet
        ev.raw(0, 0x9F, 64, 90);     // note on channel 15: now current
        block(ev);
    }
    EXPECT_EQ(p.channels.heldNotes[1], 1);
    EXPECT_EQ(p.channels.heldNotes[15], 1);
    EXPECT_EQ(p.channels.channelStack[p.channels.channelStackSize - 1], 15);
    EXPECT_FLOAT_EQ(p.modInput.bendTarget, 0.5f);
    {
        Events ev;
        ev.raw(0, 0x9F, 64, 0); // velocity 0: channel 15 released
        block(ev);
    }
    EXPECT_EQ(p.channels.heldNotes[15], 0);
    EXPECT_EQ(p.channels.channelStack[p.channels.channelStackSize - 1], 1);
    EXPECT_FLOAT_EQ(p.modInput.pressureTarget, 32.0f / 127.0f);
    EXPECT_FLOAT_EQ(p.modInput.bendTarget, 0.0f);
    {
        Events ev;
        ev.raw(0, 0x81, 60, 0); // note-off: channel 1 released
        block(ev);
    }
    EXPECT_EQ(p.channels.channelStackSize, 0);
    EXPECT_FLOAT_EQ(p.modInput.pressureTarget, 0.0f);
}

TEST(HostNotes, EveryMidiNoteOnTriggers)
{
    Instance inst;
    loadTone(inst);
    VeskPlugin::clapRenderSet(&inst.plugin->clapPlugin, CLAP_RENDER_OFFLINE);
    std::vector<float> l, r;
    // One note-on per channel at frame 10 of a block; each is a trigger of its own.
    uint64_t last = inst.plugin->sampler.lastSeed;
    for (uint8_t ch = 0; ch < 16; ++ch) {
        Events ev;
        ev.raw(10, uint8_t(0x90 | ch), 60, 100);
        inst.render(256, 256, l, r, &ev.list);
        EXPECT_NE(inst.plugin->sampler.lastSeed, last) << int(ch);
        last = inst.plugin->sampler.lastSeed;
        EXPECT_TRUE(inst.plugin->sampler.voices[0][0].isActive()) << int(ch);
    }
    // Bytes that are not note-ons trigger nothing: control change, pressure, bend, note-off.
    for (uint8_t status : {0xB0, 0xD0, 0xE0, 0x80, 0xF8}) {
        Events ev;
        ev.raw(10, status, 60, 100);
        inst.render(256, 256, l, r, &ev.list);
        EXPECT_EQ(inst.plugin->sampler.lastSeed, last) << int(status);
    }
}

} // namespace
