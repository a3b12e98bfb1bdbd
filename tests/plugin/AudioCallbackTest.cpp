// The audio callback: sample-exact notes, block-size invariance, expressions, the lock, routing.
#include "support/AllocCounter.h"
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
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

// A WAV file with a sine of `freq` Hz, `seconds` long, at 48 kHz.
std::string sineFile(const std::string& name, double freq, double seconds, double amp = 0.5)
{
    const std::string path = tmpPath(name);
    const std::vector<float> s = sine(freq, 48000.0, size_t(seconds * 48000.0), amp);
    EXPECT_TRUE(writeWav(path, s, s, 48000.0));
    return path;
}

// A file that starts with a click at frame 0 and is silent after.
std::string clickFile(const std::string& name)
{
    std::vector<float> s(4800, 0.0f);
    s[0] = 1.0f;
    const std::string path = tmpPath(name);
    EXPECT_TRUE(writeWav(path, s, s, 48000.0));
    return path;
}

// Events of one block, in the CLAP list shape.
struct EventList
{
    std::vector<clap_event_note_t> notes;
    std::vector<clap_event_midi_t> midi;
    std::vector<clap_event_note_expression_t> expressions;
    std::vector<const clap_event_header_t*> order;
    clap_input_events_t list{this, size, get};

    static uint32_t size(const clap_input_events_t* l)
    {
        return uint32_t(static_cast<const EventList*>(l->ctx)->order.size());
    }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i)
    {
        return static_cast<const EventList*>(l->ctx)->order[i];
    }
    EventList()
    {
        notes.reserve(16);
        midi.reserve(16);
        expressions.reserve(16);
    }
    void note(uint16_t type, uint32_t time, int16_t key, int16_t channel = 0, uint16_t space = 0)
    {
        clap_event_note_t e{};
        e.header = {sizeof e, time, space, type, 0};
        e.key = key;
        e.channel = channel;
        e.note_id = -1;
        e.velocity = 0.8;
        notes.push_back(e);
        order.push_back(&notes.back().header);
    }
    void raw(uint32_t time, uint8_t b0, uint8_t b1, uint8_t b2)
    {
        clap_event_midi_t e{};
        e.header = {sizeof e, time, 0, CLAP_EVENT_MIDI, 0};
        e.data[0] = b0;
        e.data[1] = b1;
        e.data[2] = b2;
        midi.push_back(e);
        order.push_back(&midi.back().header);
    }
    void expression(int32_t id, int16_t channel, double value)
    {
        clap_event_note_expression_t e{};
        e.header = {sizeof e, 0, 0, CLAP_EVENT_NOTE_EXPRESSION, 0};
        e.expression_id = id;
        e.channel = channel;
        e.key = -1;
        e.note_id = -1;
        e.value = value;
        expressions.push_back(e);
        order.push_back(&expressions.back().header);
    }
};

// An instance whose pool 0 holds one file, routed straight to the master (bypassed), so the
// output is the voice itself.
void loadDirect(Instance& inst, const std::string& path)
{
    ASSERT_TRUE(inst.plugin->backend.SendLoadToPool(0, path));
    inst.send(msg::SetPoolRoute{0, PoolRoute::Master});
    inst.pump();
    inst.finishJobs();
    ASSERT_EQ(inst.snapshot().pools[0].sampleCount, 1);
}

// Latency of the master chain (bypassed or not, the chain keeps its delay).
uint32_t latency(Instance& inst)
{
    return VeskPlugin::clapLatencyGet(&inst.plugin->clapPlugin);
}

TEST(AudioCallback, NoteStartsOnItsFrame)
{
    Instance inst;
    loadDirect(inst, clickFile("click.wav"));
    for (uint32_t at : {0u, 100u, 511u}) {
        EventList ev;
        ev.note(CLAP_EVENT_NOTE_ON, at, 60);
        std::vector<float> l, r;
        inst.render(512, 512, l, r, &ev.list);
        inst.render(2048, 512, l, r);
        const int64_t first = firstAbove(l.data(), l.size(), 0.01);
        EXPECT_EQ(first, int64_t(at + latency(inst))) << "note at " << at;
        inst.send(msg::StopAll{});
        inst.render(4800, 512, l, r);
    }
}

TEST(AudioCallback, NoteBeyondTheBlockWaitsForTheBlockEnd)
{
    Instance inst;
    loadDirect(inst, clickFile("click2.wav"));
    EventList ev;
    ev.note(CLAP_EVENT_NOTE_ON, 5000, 60);
    std::vector<float> l, r;
    inst.render(512, 512, l, r, &ev.list);
    inst.render(2048, 512, l, r);
    EXPECT_EQ(firstAbove(l.data(), l.size(), 0.01), int64_t(512 + latency(inst)));
}

std::vector<float> renderWithBlock(uint32_t block)
{
    Instance inst;
    loadDirect(inst, sineFile("inv.wav", 440.0, 0.3));
    inst.send(msg::SetPitch{0, 0, 1, true});
    inst.send(msg::SetPan{0, 0, 1, true});
    inst.send(msg::SetDelay{0, 0, 0.01f, true});
    inst.pump();
    inst.send(msg::Trigger{12345});
    std::vector<float> l, r;
    inst.render(24000, block, l, r);
    l.insert(l.end(), r.begin(), r.end());
    return l;
}

TEST(AudioCallback, OutputDoesNotDependOnTheBlockSize)
{
    const std::vector<float> reference = renderWithBlock(512);
    ASSERT_GT(peak(reference), 0.1);
    for (uint32_t block : {1u, 64u, 4097u}) {
        const std::vector<float> out = renderWithBlock(block);
        ASSERT_EQ(out.size(), reference.size());
        size_t firstDiff = out.size();
        for (size_t i = 0; i < out.size(); ++i)
            if (std::memcmp(&out[i], &reference[i], sizeof(float)) != 0) {
                firstDiff = i;
                break;
            }
        EXPECT_EQ(firstDiff, out.size())
            << "block " << block << ": first difference at frame " << firstDiff % 24000;
    }
}

TEST(AudioCallback, ExpressionBookkeeping)
{
    Instance inst;
    VeskPlugin& p = *inst.plugin;
    std::vector<float> l, r;
    {
        EventList ev;
        ev.note(CLAP_EVENT_NOTE_ON, 0, 200, 3); // key 200 plays note 60
        ev.expression(CLAP_NOTE_EXPRESSION_PRESSURE, 3, 1.7);
        ev.expression(CLAP_NOTE_EXPRESSION_TUNING, 3, -3.0);
        ev.note(CLAP_EVENT_NOTE_ON, 0, 64, 5);
        ev.expression(CLAP_NOTE_EXPRESSION_PRESSURE, 5, 0.25);
        ev.expression(CLAP_NOTE_EXPRESSION_BRIGHTNESS, 5, std::nan(""));
        inst.render(64, 64, l, r, &ev.list);
    }
    EXPECT_EQ(p.channels.channelPressure[3], 1.0f);
    EXPECT_EQ(p.channels.channelBend[3], -1.0f);
    EXPECT_EQ(p.channels.channelSlide[5], 1.0f) << "not-a-number stores 1";
    EXPECT_EQ(p.modInput.pressureTarget, 0.25f) << "channel 5 is current";
    {
        EventList ev;
        ev.note(CLAP_EVENT_NOTE_OFF, 0, 64, 5);
        inst.render(64, 64, l, r, &ev.list);
    }
    EXPECT_EQ(p.modInput.pressureTarget, 1.0f) << "back to channel 3";
    EXPECT_EQ(p.modInput.bendTarget, -1.0f);
    {
        EventList ev;
        ev.raw(0, 0x91, 60, 100); // raw note-on: no trigger, channel 1 current
        ev.raw(0, 0xE1, 0x00, 0x40);
        ev.raw(0, 0xD1, 127, 0);
        ev.raw(0, 0xB1, 74, 127);
        inst.render(64, 64, l, r, &ev.list);
    }
    EXPECT_EQ(p.channels.channelStack[p.channels.channelStackSize - 1], 1);
    EXPECT_EQ(p.modInput.bendTarget, 0.0f);
    EXPECT_EQ(p.modInput.pressureTarget, 1.0f);
    EXPECT_EQ(p.modInput.slideTarget, 1.0f);
    {
        EventList ev;
        ev.raw(0, 0x91, 60, 0);                   // velocity 0 releases
        ev.note(CLAP_EVENT_NOTE_ON, 0, 60, -7);   // channel below -1: skipped
        ev.note(CLAP_EVENT_NOTE_ON, 0, 60, 16);   // above 15: skipped
        ev.note(CLAP_EVENT_NOTE_ON, 0, 60, 2, 7); // another event space: not a note
        ev.expression(CLAP_NOTE_EXPRESSION_PRESSURE, 16, 0.5); // no such channel: skipped
        inst.render(64, 64, l, r, &ev.list);
    }
    EXPECT_EQ(p.channels.channelPressure[0], 0.0f);
    EXPECT_EQ(p.channels.channelStackSize, 1);
    EXPECT_EQ(p.channels.channelStack[0], 3);
}

TEST(AudioCallback, HeldLockSilencesTheBlockAndDefersTheTrigger)
{
    Instance inst;
    loadDirect(inst, sineFile("lock.wav", 1000.0, 0.5));
    std::vector<float> l, r;
    inst.plugin->stateMutex.lock();
    inst.send(msg::Trigger{7});
    inst.render(512, 512, l, r);
    inst.plugin->stateMutex.unlock();
    EXPECT_EQ(peak(l), 0.0);
    EXPECT_EQ(inst.plugin->deferredTriggerCount, 1);
    l.clear();
    r.clear();
    inst.render(2048, 512, l, r);
    EXPECT_GT(peak(l), 0.1) << "the deferred trigger sounds in the next block";

    // 64 deferred triggers fit; the 65th is counted as dropped.
    inst.plugin->stateMutex.lock();
    const int32_t dropped = inst.plugin->queues.droppedCommands.load();
    for (int i = 0; i < 65; ++i) {
        inst.send(msg::Trigger{uint64_t(i)});
        inst.render(1, 1, l, r);
    }
    inst.plugin->stateMutex.unlock();
    EXPECT_EQ(inst.plugin->deferredTriggerCount, 64);
    EXPECT_EQ(inst.plugin->queues.droppedCommands.load(), dropped + 1);
}

TEST(AudioCallback, OfflineModeWaitsForTheLock)
{
    Instance inst;
    loadDirect(inst, sineFile("offline.wav", 1000.0, 0.5));
    VeskPlugin::clapRenderSet(&inst.plugin->clapPlugin, CLAP_RENDER_OFFLINE);
    inst.send(msg::Trigger{7});
    std::vector<float> l, r;
    inst.plugin->stateMutex.lock();
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        inst.plugin->stateMutex.unlock();
    });
    inst.render(1536, 1536, l, r); // blocks until the holder lets go
    holder.join();
    EXPECT_GT(peak(l), 0.1);
}

TEST(AudioCallback, OutputWithOneChannelIsNotWritten)
{
    Instance inst;
    float mono[64];
    std::fill(std::begin(mono), std::end(mono), 7.0f);
    float* ch[1] = {mono};
    clap_audio_buffer_t out{};
    out.data32 = ch;
    out.channel_count = 1;
    clap_process_t proc{};
    proc.frames_count = 64;
    proc.audio_outputs = &out;
    proc.audio_outputs_count = 1;
    VeskPlugin::clapProcess(&inst.plugin->clapPlugin, &proc);
    EXPECT_EQ(mono[0], 7.0f);
    proc.audio_outputs_count = 0;
    proc.audio_outputs = nullptr;
    EXPECT_EQ(VeskPlugin::clapProcess(&inst.plugin->clapPlugin, &proc), CLAP_PROCESS_CONTINUE);
}

TEST(AudioCallback, NotesWithinOneSecondDrawDifferentVariations)
{
    Instance inst;
    loadDirect(inst, sineFile("vary.wav", 440.0, 0.2));
    inst.send(msg::SetPitch{0, 0, 1, true});
    inst.pump();
    std::vector<float> l, r;
    float ratios[4];
    for (float& ratio : ratios) {
        EventList ev;
        ev.note(CLAP_EVENT_NOTE_ON, 0, 60);
        inst.render(64, 64, l, r, &ev.list);
        ratio = inst.plugin->sampler.lastParams[0].pitchRatio;
    }
    EXPECT_NE(ratios[0], ratios[1]);
    EXPECT_NE(ratios[1], ratios[2]);
    EXPECT_NE(ratios[2], ratios[3]);
}

TEST(AudioCallback, ResetRunsUnderTheLockAtTheNextBlock)
{
    Instance inst;
    loadDirect(inst, sineFile("reset.wav", 1000.0, 1.0));
    inst.send(msg::Trigger{3});
    std::vector<float> l, r;
    inst.render(512, 512, l, r);
    ASSERT_TRUE(inst.plugin->sampler.isPlaying());
    VeskPlugin::clapReset(&inst.plugin->clapPlugin);
    EXPECT_TRUE(inst.plugin->sampler.isPlaying()) << "nothing changes outside the lock";
    inst.render(512, 512, l, r);
    inst.render(512, 512, l, r);
    EXPECT_FALSE(inst.plugin->sampler.voices[0][0].isActive() &&
                 inst.plugin->sampler.voices[0][0].state == 1);
}

TEST(AudioCallback, WholeProcessCallsNeitherAllocateNorLock)
{
    Instance inst;
    loadDirect(inst, sineFile("alloc.wav", 440.0, 0.5));
    inst.send(msg::SetPoolRoute{0, PoolRoute::Bus1});
    inst.send(msg::AddFxSlot{0, 1});
    inst.send(msg::SetMasterBypass{false});
    inst.send(msg::SetGrainCloud{1, true});
    inst.pump();
    std::vector<float> l, r;
    l.reserve(48000 * 3);
    r.reserve(48000 * 3);
    inst.render(512, 512, l, r); // first block outside the count (lazy one-time set-up)

    EventList ev;
    ev.note(CLAP_EVENT_NOTE_ON, 10, 60, 0);
    ev.raw(20, 0xE0, 0, 0x50);
    ev.expression(CLAP_NOTE_EXPRESSION_PRESSURE, 0, 0.5);
    ev.note(CLAP_EVENT_NOTE_OFF, 300, 60, 0);
    inst.send(msg::Trigger{99});
    inst.send(msg::PlaySample{0, 0});
    inst.send(msg::Replay{});
    inst.send(msg::StopPool{0});

    AllocCounts counts;
    inst.beforeProcess = [] { armAudioThread(); };
    inst.afterProcess = [&counts] {
        const AllocCounts c = disarmAudioThread();
        counts.allocations += c.allocations;
        counts.frees += c.frees;
        counts.locks += c.locks;
    };
    inst.render(48000, 512, l, r, &ev.list);
    inst.beforeProcess = nullptr;
    inst.afterProcess = nullptr;
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.locks, 0u);
    EXPECT_GT(peak(l), 0.0);
}

} // namespace
