// Host parameters in-process: the table, texts, where host values land, the editor's gestures
// going out, bad input, a busy lock, modulation and the real-time rules.
#include "ParamsSupport.h"

#include "support/AllocCounter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <thread>

using namespace vesk;
using namespace vesk::test;
using vesk::params::Kind;
using vesk::params::ParamDef;

namespace {

const ParamDef& def(clap_id id)
{
    const ParamDef* d = params::find(id);
    EXPECT_NE(d, nullptr) << id;
    return *d;
}

std::string text(clap_id id, double v)
{
    char buf[64];
    EXPECT_TRUE(params::formatValue(def(id), v, buf, sizeof buf));
    return buf;
}

// A value away from the default, inside the range (switches flip).
double nonDefault(const ParamDef& d)
{
    if (d.stepped())
        return d.defaultValue >= 0.5 ? 0.0 : 1.0;
    return d.minValue + 0.37 * (d.maxValue - d.minValue);
}

TEST(Params, TableHasTheDocumentedStableIds)
{
    ASSERT_EQ(params::kCount, 105u);
    const ParamDef* t = params::table();
    std::set<clap_id> ids;
    const char* poolSlots[] = {"Volume", "Volume Random", "Pan",   "Pan Random",
                               "Pitch",  "Pitch Random",  "Start", "HPF",
                               "LPF",    "Reverse",       "Mute",  "Solo"};
    for (int p = 0; p < 8; ++p) {
        for (int s = 0; s < 12; ++s) {
            const ParamDef& d = t[p * 12 + s];
            EXPECT_EQ(d.id, clap_id(1000 + 100 * p + s));
            EXPECT_EQ(std::string(d.name), "Pool " + std::to_string(p + 1) + " " + poolSlots[s]);
            EXPECT_EQ(std::string(d.module), "Pool " + std::to_string(p + 1));
            EXPECT_EQ(d.index, p);
        }
    }
    const char* busSlots[] = {"Bypass", "Mute", "Solo"};
    for (int b = 0; b < 2; ++b)
        for (int s = 0; s < 3; ++s) {
            const ParamDef& d = t[96 + b * 3 + s];
            EXPECT_EQ(d.id, clap_id(2000 + 100 * b + s));
            EXPECT_EQ(std::string(d.name), "FX Bus " + std::to_string(b + 1) + " " + busSlots[s]);
            EXPECT_TRUE(d.stepped());
        }
    EXPECT_STREQ(t[102].name, "Master Output");
    EXPECT_STREQ(t[103].name, "Master Bypass");
    EXPECT_STREQ(t[104].name, "Limiter Ceiling");
    for (uint32_t i = 0; i < params::kCount; ++i) {
        EXPECT_TRUE(ids.insert(t[i].id).second) << t[i].id;
        EXPECT_EQ(params::indexOf(t[i].id), int(i));
        EXPECT_TRUE(t[i].flags & CLAP_PARAM_IS_AUTOMATABLE);
        // Switches are stepped 0/1 and never modulated; everything else is continuous.
        EXPECT_NE(t[i].stepped(), t[i].modulatable()) << t[i].name;
        if (t[i].stepped()) {
            EXPECT_EQ(t[i].minValue, 0.0);
            EXPECT_EQ(t[i].maxValue, 1.0);
        }
        EXPECT_GE(t[i].defaultValue, t[i].minValue);
        EXPECT_LE(t[i].defaultValue, t[i].maxValue);
    }
    // The editor's knob ranges.
    struct Range
    {
        clap_id id;
        double lo, hi, def;
    };
    for (const Range& r :
         {Range{1200, -48, 12, 0}, Range{1202, -100, 100, 0}, Range{1204, -12, 12, 0},
          Range{1205, 0, 100, 0}, Range{1206, 0, 100, 0}, Range{1207, 0, 20000, 0},
          Range{1208, 0, 20000, 20000}, Range{1209, 0, 100, 0}, Range{3000, -48, 6, 0},
          Range{3001, 0, 1, 1}, Range{3002, -12, 0, -0.1}}) {
        EXPECT_EQ(def(r.id).minValue, r.lo) << r.id;
        EXPECT_EQ(def(r.id).maxValue, r.hi) << r.id;
        EXPECT_NEAR(def(r.id).defaultValue, r.def, 1e-9) << r.id;
    }
    for (clap_id unknown : {0u, 999u, 1012u, 1099u, 1800u, 2003u, 2200u, 3003u, CLAP_INVALID_ID})
        EXPECT_EQ(params::find(unknown), nullptr) << unknown;
}

TEST(Params, TextsMatchTheKnobsAndRoundTrip)
{
    struct Case
    {
        clap_id id;
        double value;
        const char* text;
    };
    for (const Case& c : {Case{1000, -48.0, "-inf dB"},
                          Case{1000, -47.95, "-inf dB"},
                          Case{1000, -12.0, "-12.0 dB"},
                          Case{1000, 3.25, "3.2 dB"},
                          Case{1001, 25.0,
                               "\xC2\xB1"
                               "5.0 dB"},
                          Case{1003, 50.0,
                               "\xC2\xB1"
                               "50.0 %"},
                          Case{1005, 50.0,
                               "\xC2\xB1"
                               "6.0 st"},
                          Case{1002, -100.0, "-100.0 %"},
                          Case{1004, 12.0, "12.0 st"},
                          Case{1004, -0.01, "0.0 st"},
                          Case{1007, 0.0, "Off"},
                          Case{1007, 8000.0, "8000 Hz"},
                          Case{1008, 20000.0, "Off"},
                          Case{1008, 440.4, "440 Hz"},
                          Case{1009, 30.0, "30.0 %"},
                          Case{1010, 1.0, "On"},
                          Case{1011, 0.0, "Off"},
                          Case{2001, 1.0, "On"},
                          Case{3000, -48.0, "-inf dB"},
                          Case{3000, 6.0, "6.0 dB"},
                          Case{3002, -12.0, "-12.0 dB"},
                          Case{3002, -0.1, "-0.1 dB"}})
        EXPECT_EQ(text(c.id, c.value), c.text) << c.id << " " << c.value;

    struct Parse
    {
        clap_id id;
        const char* text;
        double value;
    };
    for (const Parse& p :
         {Parse{1000, "-inf dB", -48.0}, Parse{1000, "-6", -6.0}, Parse{1000, "+3.5 dB", 3.5},
          Parse{1001,
                "\xC2\xB1"
                "5.0 dB",
                25.0},
          Parse{1005, "12 st", 100.0}, Parse{1007, "8k", 8000.0}, Parse{1007, "1.5 kHz", 1500.0},
          Parse{1007, "off", 0.0}, Parse{1008, "Off", 20000.0}, Parse{1010, "On", 1.0},
          Parse{1010, "off", 0.0}, Parse{1010, "0.7", 1.0}, Parse{1004, "99 st", 12.0},
          Parse{3002, "-30", -12.0}}) {
        double v = -1e9;
        EXPECT_TRUE(params::parseValue(def(p.id), p.text, v)) << p.text;
        EXPECT_NEAR(v, p.value, 1e-9) << p.id << " " << p.text;
    }
    for (const char* bad : {"", "abc", "dB", "nan", "inf", "\xC2\xB1"}) {
        double v = 0;
        EXPECT_FALSE(params::parseValue(def(1004), bad, v)) << bad;
    }

    // Every parameter over its range: the text of the value read back from a text is that text.
    const ParamDef* t = params::table();
    for (uint32_t i = 0; i < params::kCount; ++i) {
        for (int k = 0; k <= 20; ++k) {
            const double v = t[i].minValue + (t[i].maxValue - t[i].minValue) * k / 20.0;
            char first[64], second[64];
            ASSERT_TRUE(params::formatValue(t[i], v, first, sizeof first));
            double back = 0;
            ASSERT_TRUE(params::parseValue(t[i], first, back)) << t[i].name << " " << first;
            ASSERT_TRUE(params::formatValue(t[i], back, second, sizeof second));
            EXPECT_STREQ(first, second) << t[i].name;
        }
    }
    char small[4];
    EXPECT_TRUE(params::formatValue(def(1007), 12345.0, small, sizeof small));
    EXPECT_EQ(std::strlen(small), 3u);
}

TEST(Params, HostValuesLandWhereTheEditorsCommandsDo)
{
    // The same change made by the host (flush) and by the editor (its command): every parameter
    // and the published snapshot then agree between the two instances.
    struct Case
    {
        clap_id id;
        double value;
        std::function<bool(Instance&)> command;
    };
    const std::vector<Case> cases = {
        {1200, -6.5,
         [](Instance& i) {
             return i.send(msg::SetVolume{2, -6.5f, 0.0f, false});
         }},
        {1205, 40.0,
         [](Instance& i) {
             return i.send(msg::SetPitch{2, 0.0f, 0.4f, false});
         }},
        {1202, 35.0,
         [](Instance& i) {
             return i.send(msg::SetPan{2, 35.0f, 0.0f, false});
         }},
        {1206, 12.5,
         [](Instance& i) {
             return i.send(msg::SetStart{2, 12.5f, 0.0f, false});
         }},
        {1207, 700.0,
         [](Instance& i) {
             return i.send(msg::SetHpf{2, 700.0f});
         }},
        {1208, 3000.0,
         [](Instance& i) {
             return i.send(msg::SetLpf{2, 3000.0f});
         }},
        {1209, 20.0,
         [](Instance& i) {
             return i.send(msg::SetReverseChance{2, 20.0f});
         }},
        {1210, 1.0,
         [](Instance& i) {
             return i.send(msg::SetPoolMute{2, true});
         }},
        {1211, 1.0,
         [](Instance& i) {
             return i.send(msg::SetPoolSolo{2, true});
         }},
        {2101, 1.0,
         [](Instance& i) {
             return i.send(msg::SetLaneMute{1, true});
         }},
        {2000, 1.0,
         [](Instance& i) {
             return i.send(msg::SetLaneBypass{0, true});
         }},
        {3000, -3.0, [](Instance& i) { return i.send(msg::SetMasterOutputGain{-3.0f}); }},
        {3001, 0.0, [](Instance& i) { return i.send(msg::SetMasterBypass{false}); }},
        {3002, -2.0,
         [](Instance& i) {
             return i.send(msg::SetMasterLimiter{-3.0f, -2.0f, 100.0f});
         }},
    };
    for (const Case& c : cases) {
        ParamsInstance host;
        Instance editor;
        ParamEvents ev;
        ev.value(0, c.id, c.value);
        host.flush(ev);
        host.pump();
        ASSERT_TRUE(c.command(editor));
        editor.pump();
        EXPECT_NEAR(host.value(c.id), c.value, 1e-6) << c.id;
        for (uint32_t i = 0; i < params::kCount; ++i) {
            const ParamDef& d = params::table()[i];
            double fromEditor = 0;
            std::lock_guard<std::mutex> lock(editor.plugin->stateMutex);
            fromEditor = editor.plugin->readParam(d);
            EXPECT_NEAR(host.value(d.id), fromEditor, 1e-6) << c.id << ": " << d.name;
        }
        const VeskState& a = host.plugin->backend.current();
        const VeskState& b = editor.snapshot();
        EXPECT_EQ(a.soloMask, b.soloMask);
        EXPECT_EQ(a.muteMask, b.muteMask);
        EXPECT_EQ(a.pools[2].hpfHz, b.pools[2].hpfHz);
        EXPECT_EQ(a.pools[2].volume.base, b.pools[2].volume.base);
        EXPECT_EQ(a.pools[2].pitch.range, b.pools[2].pitch.range);
        EXPECT_EQ(a.master.outputGainDb, b.master.outputGainDb);
        EXPECT_EQ(a.master.bypassed, b.master.bypassed);
        EXPECT_EQ(a.master.limiterCeiling, b.master.limiterCeiling);
        std::vector<uint8_t> sa, sb;
        ASSERT_TRUE(saveState(*host.plugin, sa));
        ASSERT_TRUE(saveState(*editor.plugin, sb));
        EXPECT_EQ(sa.size(), sb.size()) << "the stream layout is the same";
    }
}

TEST(Params, EditorGesturesReachTheHostInOrder)
{
    ParamsInstance inst;
    VeskParamGestures& g = inst.plugin->paramGestures;
    // Not processing: every event asks the host for a flush, and the flush carries them.
    EXPECT_TRUE(g.begin(1004));
    EXPECT_TRUE(g.value(1004, 1.5));
    EXPECT_TRUE(g.value(1004, 3.0));
    EXPECT_TRUE(g.value(1004, 99.0)); // clamped to the knob's range
    EXPECT_TRUE(g.end(1004));
    EXPECT_FALSE(g.begin(4242)) << "unknown id";
    EXPECT_FALSE(g.value(1004, std::nan(""))) << "NaN";
    EXPECT_EQ(inst.host.flushRequests.load(), 5);

    // A host that refuses keeps them waiting.
    ParamOutput refusing;
    refusing.refuse = true;
    inst.flush(ParamEvents{}, &refusing);
    EXPECT_TRUE(refusing.events.empty());

    ParamOutput out;
    inst.flush(ParamEvents{}, &out);
    ASSERT_EQ(out.events.size(), 5u);
    EXPECT_EQ(out.events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(out.events[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(out.events[1].value, 1.5);
    EXPECT_EQ(out.events[2].value, 3.0);
    EXPECT_EQ(out.events[3].value, 12.0);
    EXPECT_EQ(out.events[4].type, CLAP_EVENT_PARAM_GESTURE_END);
    for (const auto& e : out.events)
        EXPECT_EQ(e.id, 1004u);
    // Telling the host changes nothing in the engine (the editor's command does that).
    EXPECT_EQ(inst.value(1004), 0.0);

    // Processing: no flush request; the next process call carries them.
    VeskPlugin::clapStartProcessing(&inst.plugin->clapPlugin);
    EXPECT_TRUE(g.begin(3000));
    EXPECT_TRUE(g.value(3000, -6.0));
    EXPECT_TRUE(g.end(3000));
    EXPECT_EQ(inst.host.flushRequests.load(), 5);
    ParamOutput fromProcess;
    std::vector<float> l, r;
    inst.process(256, l, r, nullptr, &fromProcess);
    ASSERT_EQ(fromProcess.events.size(), 3u);
    EXPECT_EQ(fromProcess.events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(fromProcess.events[1].value, -6.0);
    EXPECT_EQ(fromProcess.events[2].type, CLAP_EVENT_PARAM_GESTURE_END);
    // Left over when processing stops: the next main-thread pass asks for a flush.
    EXPECT_TRUE(g.value(3000, -5.0));
    VeskPlugin::clapStopProcessing(&inst.plugin->clapPlugin);
    EXPECT_EQ(inst.host.flushRequests.load(), 5);
    inst.pump();
    EXPECT_EQ(inst.host.flushRequests.load(), 6);

    // A full ring refuses and counts.
    ParamOutput drain;
    inst.flush(ParamEvents{}, &drain);
    uint32_t accepted = 0;
    for (uint32_t i = 0; i < VeskParamGestures::kSlots + 10; ++i)
        accepted += g.value(1000, -1.0) ? 1 : 0;
    EXPECT_EQ(accepted, VeskParamGestures::kSlots);
    EXPECT_EQ(g.dropped(), 10u);
}

TEST(Params, HostValuesAreNotEchoed)
{
    ParamsInstance inst;
    ParamEvents ev;
    ev.value(0, 1004, 5.0);
    ev.value(10, 1007, 300.0);
    ev.mod(20, 1004, 2.0);
    ParamOutput out;
    std::vector<float> l, r;
    inst.process(256, l, r, &ev, &out);
    inst.pump();
    EXPECT_TRUE(out.events.empty());
    EXPECT_EQ(inst.value(1004), 5.0);
    EXPECT_EQ(inst.value(1007), 300.0);
    EXPECT_EQ(inst.host.flushRequests.load(), 0);
    EXPECT_EQ(inst.host.dirty, 0) << "the host made the change and knows it";
    // The editor follows.
    EXPECT_EQ(inst.plugin->backend.current().pools[0].pitch.base, 5.0f);
}

TEST(Params, EditorCommandsThatMoveAValueMakeTheHostReadThemAgain)
{
    ParamsInstance inst;
    ASSERT_TRUE(msg::send(inst.plugin->backend, msg::SetPitch{4, 7.0f, 0.0f, false}));
    inst.pump();
    EXPECT_EQ(inst.host.rescans, 1);
    EXPECT_EQ(inst.value(1404), 7.0);
    // A command that moves no parameter, and host values: no rescan.
    ASSERT_TRUE(msg::send(inst.plugin->backend, msg::SetPoolVisible{4, true}));
    inst.pump();
    ParamEvents ev;
    ev.value(0, 1404, 2.0);
    std::vector<float> l, r;
    inst.process(64, l, r, &ev);
    inst.pump();
    EXPECT_EQ(inst.host.rescans, 1);
    ASSERT_TRUE(msg::send(inst.plugin->backend, msg::SetPoolMute{4, true}));
    inst.pump();
    EXPECT_EQ(inst.host.rescans, 2);
}

TEST(Params, BadInputIsIgnoredOrClamped)
{
    ParamsInstance inst;
    inst.loadPool(0, sine(440.0, 48000.0, 48000, 0.5), "params_bad.wav");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ParamEvents ev;
    ev.note(0, 60);
    ev.value(1, 1004, 5.0);
    ev.value(2, 1004, nan);   // ignored: 5 stays
    ev.value(3, 1000, inf);   // clamped to 12
    ev.value(4, 1002, -inf);  // clamped to -100
    ev.value(5, 1007, 1.0e9); // clamped to 20000
    ev.value(6, 1008, -5.0);  // clamped to 0
    ev.value(7, 1010, 7.0);   // a switch: on
    ev.value(8, 4242, 1.0);   // unknown
    ev.value(9, 1012, 1.0);   // unknown slot
    ev.value(9, CLAP_INVALID_ID, 1.0);
    ev.mod(10, 1004, nan);
    ev.mod(11, 1004, inf);
    ev.mod(12, 1010, 1.0);   // a switch takes no modulation
    ev.mod(13, 3000, 1e30);  // clamped to the span
    ev.mod(14, 3001, 1.0);   // nor does the master's
    ev.value(14, 3001, 0.0); // the master runs
    ev.value(15, 3002, nan);
    // A header that is too short for its type, and one of another space.
    ParamEvents::Storage shortOne{};
    shortOne.value.header = {sizeof(clap_event_header_t), 16, CLAP_CORE_EVENT_SPACE_ID,
                             CLAP_EVENT_PARAM_VALUE, 0};
    ev.events.push_back(shortOne);
    ParamEvents::Storage otherSpace = ev.events[1];
    otherSpace.header.space_id = 77;
    otherSpace.value.value = -12.0;
    ev.events.push_back(otherSpace);
    std::vector<float> l, r;
    inst.process(512, l, r, &ev);
    for (int i = 0; i < 40; ++i)
        inst.process(512, l, r);
    for (float v : l)
        ASSERT_TRUE(std::isfinite(v));
    for (float v : r)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_EQ(inst.value(1004), 5.0);
    EXPECT_EQ(inst.value(1000), 12.0);
    EXPECT_EQ(inst.value(1002), -100.0);
    EXPECT_EQ(inst.value(1007), 20000.0);
    EXPECT_EQ(inst.value(1008), 0.0);
    EXPECT_EQ(inst.value(1010), 1.0);
    EXPECT_EQ(inst.value(3001), 0.0);
    EXPECT_NEAR(inst.value(3002), -0.1, 1e-6);
    EXPECT_EQ(inst.plugin->paramRuntime.modCount, 1) << "only the master output's amount";
    // The CLAP functions refuse what they cannot answer.
    const clap_plugin_params_t& p = inst.params();
    double v = 0;
    char buf[32];
    EXPECT_FALSE(p.get_value(&inst.plugin->clapPlugin, 4242, &v));
    EXPECT_FALSE(p.get_value(&inst.plugin->clapPlugin, 1004, nullptr));
    EXPECT_FALSE(p.value_to_text(&inst.plugin->clapPlugin, 4242, 0.0, buf, sizeof buf));
    EXPECT_FALSE(p.value_to_text(&inst.plugin->clapPlugin, 1004, 0.0, buf, 0));
    EXPECT_TRUE(p.value_to_text(&inst.plugin->clapPlugin, 1004, nan, buf, sizeof buf));
    EXPECT_FALSE(p.text_to_value(&inst.plugin->clapPlugin, 1004, nullptr, &v));
    EXPECT_FALSE(p.text_to_value(&inst.plugin->clapPlugin, 4242, "1", &v));
    clap_param_info_t info;
    EXPECT_FALSE(p.get_info(&inst.plugin->clapPlugin, params::kCount, &info));
    EXPECT_FALSE(p.get_info(&inst.plugin->clapPlugin, 0, nullptr));
    p.flush(&inst.plugin->clapPlugin, nullptr, nullptr);
}

TEST(Params, ValuesThatMeetABusyLockApplyAtTheNextBlock)
{
    ParamsInstance inst;
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        std::lock_guard<std::mutex> lock(inst.plugin->stateMutex);
        held = true;
        while (!release)
            std::this_thread::yield();
    });
    while (!held)
        std::this_thread::yield();
    ParamEvents ev;
    ev.value(0, 1007, 500.0);
    ev.value(5, 1007, 900.0); // the newest wins
    ev.mod(6, 1008, -1000.0);
    std::vector<float> l, r;
    inst.process(256, l, r, &ev);
    EXPECT_EQ(inst.plugin->sampler.pools[0].hpfHz, 0.0f) << "nothing changes outside the lock";
    release = true;
    holder.join();
    inst.process(256, l, r);
    EXPECT_EQ(inst.value(1007), 900.0);
    EXPECT_EQ(inst.plugin->paramRuntime.modCount, 1);
}

TEST(Params, ModulationIsHeardButNeverStored)
{
    ParamsInstance inst;
    inst.loadPool(0, noise(96000, 7, 0.3), "params_mod.wav");
    std::vector<uint8_t> before;
    ASSERT_TRUE(saveState(*inst.plugin, before));

    ParamEvents ev;
    ev.value(0, 1008, 8000.0);
    ev.note(0, 60);
    ev.mod(4800, 1008, -7500.0); // the low-pass at 500 Hz from 0.1 s
    std::vector<float> l, r;
    inst.process(4096, l, r, &ev);
    for (int i = 0; i < 10; ++i)
        inst.process(4096, l, r);
    // 0.1 s of an 8 kHz low-pass, then of a 500 Hz one: far less above 2 kHz.
    const double open = amplitudeAt(l.data() + 1000, 3600, 4000.0, 48000.0);
    const double shut = amplitudeAt(l.data() + 24000, 16000, 4000.0, 48000.0);
    EXPECT_GT(open, 0.0);
    EXPECT_LT(shut, open * 0.1) << open << " " << shut;

    EXPECT_EQ(inst.value(1008), 8000.0) << "get_value is the value, not value + modulation";
    inst.pump();
    EXPECT_EQ(inst.plugin->backend.current().pools[0].lpfHz, 8000.0f);
    std::vector<uint8_t> modulated;
    ASSERT_TRUE(saveState(*inst.plugin, modulated));
    ParamsInstance plain;
    ParamEvents set;
    set.value(0, 1008, 8000.0);
    plain.flush(set);
    ASSERT_TRUE(loadState(*plain.plugin, modulated.data(), modulated.size()));
    EXPECT_EQ(plain.value(1008), 8000.0);

    // A reset clears every amount.
    VeskPlugin::clapReset(&inst.plugin->clapPlugin);
    inst.process(256, l, r);
    EXPECT_EQ(inst.plugin->paramRuntime.modCount, 0);
    EXPECT_EQ(inst.plugin->paramRuntime.mod[params::indexOf(1008)], 0.0f);
}

// One host parameter event at a frame of the whole render.
struct AutomationPoint
{
    uint32_t frame;
    clap_id id;
    bool isMod;
    double value;
};

// Renders `frames` frames of two pools (noise and a 330 Hz tone, a note at frame 0) in host
// blocks of `block` frames carrying `events`; cutAtEvents ends every block at its next event,
// so each block starts with its events. `after` looks at the instance at the end.
std::pair<std::vector<float>, std::vector<float>>
renderAutomation(const std::vector<AutomationPoint>& events, uint32_t frames, bool cutAtEvents,
                 uint32_t block, const std::function<void(ParamsInstance&)>& after = {})
{
    ParamsInstance inst;
    inst.loadPool(0, noise(24000, 5, 0.3), "params_dense0.wav");
    inst.loadPool(1, sine(330.0, 48000.0, 24000, 0.4), "params_dense1.wav");
    std::vector<float> l, r;
    ParamEvents ev;
    size_t next = 0;
    for (uint32_t start = 0; start < frames;) {
        uint32_t end = std::min(start + block, frames);
        if (cutAtEvents) {
            // The next event after this block's first frame ends the block.
            size_t k = next;
            while (k < events.size() && events[k].frame <= start)
                ++k;
            if (k < events.size())
                end = std::min(end, events[k].frame);
        }
        ev.clear();
        if (start == 0)
            ev.note(0, 60);
        for (; next < events.size() && events[next].frame < end; ++next) {
            const AutomationPoint& e = events[next];
            if (e.isMod)
                ev.mod(e.frame - start, e.id, e.value);
            else
                ev.value(e.frame - start, e.id, e.value);
        }
        inst.process(end - start, l, r, &ev);
        start = end;
    }
    if (after)
        after(inst);
    return std::make_pair(l, r);
}

// Events for two pools' own sound (queued, splitting only that pool), for the master chain
// (splitting only the chain), a bus switch (splitting the block) and modulation on top, at frames
// off any block grid: the same sound for any host block size, and the values where the last
// events left them.
TEST(Params, EventsSoundAlikeForAnyBlockSize)
{
    std::vector<AutomationPoint> events = {
        {0, 3001, false, 0.0},     {333, 1006, false, 10.0},   {2500, 1105, true, 20.0},
        {0, 1107, false, 150.0},   {333, 1007, false, 900.0},  {333, 1004, true, 5.0},
        {1000, 1104, false, -3.0}, {1001, 1000, false, -9.0},  {2047, 3000, false, -4.0},
        {2048, 1004, true, 7.0},   {2500, 1007, true, 2000.0}, {2500, 1007, false, 100.0},
        {3001, 1102, false, 60.0}, {3900, 2000, false, 1.0},   {4321, 1108, true, -9000.0},
        {5000, 1004, true, 0.0},   {6000, 3002, true, -3.0},   {6001, 1010, false, 1.0},
        {7000, 1010, false, 0.0},  {7777, 1100, false, -20.0},
    };
    // CLAP hands events in time order.
    std::stable_sort(
        events.begin(), events.end(),
        [](const AutomationPoint& a, const AutomationPoint& b) { return a.frame < b.frame; });
    auto values = [](ParamsInstance& inst) {
        EXPECT_EQ(inst.value(1007), 100.0);
        EXPECT_EQ(inst.value(1004), 0.0) << "modulation leaves the value alone";
        EXPECT_EQ(inst.value(1100), -20.0);
        EXPECT_EQ(inst.value(2000), 1.0);
        EXPECT_EQ(inst.value(1006), 10.0);
        EXPECT_EQ(inst.plugin->paramRuntime.mod[params::indexOf(1105)], 20.0f);
    };
    auto run = [&](uint32_t block) {
        return renderAutomation(events, 12000, false, block, values);
    };
    const auto reference = run(512);
    EXPECT_GT(peak(reference.first), 0.01);
    for (uint32_t block : {64u, 100u, 4096u, 1u << 12}) {
        const auto other = run(block);
        EXPECT_EQ(other.first, reference.first) << block;
        EXPECT_EQ(other.second, reference.second) << block;
    }
}

// Dense automation of a pool's sound (hundreds of events in a block, several at one frame,
// filters switching on and off, modulation on top, master events between):
// the same bits as host blocks cut at every event, where each block starts with its events.
TEST(Params, DenseAutomationSoundsLikeBlocksCutAtEveryEvent)
{
    std::vector<AutomationPoint> events;
    constexpr uint32_t kFrames = 9000;
    for (uint32_t f = 0, k = 0; f < kFrames; f += 1 + (k * 7) % 5, ++k) {
        const double t = 0.5 + 0.5 * std::sin(0.05 * double(k));
        switch (k % 6) {
        case 0: // HPF, off now and then
            events.push_back({f, 1007, false, k % 24 == 0 ? 0.0 : 20.0 + 400.0 * t});
            break;
        case 1: // LPF, off now and then
            events.push_back({f, 1008, false, k % 30 == 1 ? 20000.0 : 3000.0 + 12000.0 * t});
            break;
        case 2: // volume, with the pan at the same frame
            events.push_back({f, 1000, false, -12.0 * t});
            events.push_back({f, 1002, false, -80.0 + 160.0 * t});
            break;
        case 3:
            events.push_back({f, 1004, false, -3.0 + 6.0 * t});
            break;
        case 4: // the other pool, and modulation of the first one's pitch
            events.push_back({f, 1100, false, -20.0 * t});
            events.push_back({f, 1004, true, 1.5 * t});
            break;
        default: // now and then the master
            if (k % 300 == 5)
                events.push_back({f, 3000, false, -6.0 * t});
            events.push_back({f, 1108, false, 2000.0 + 10000.0 * t});
            break;
        }
    }
    auto lastValues = [&](ParamsInstance& inst) {
        for (clap_id id : {1007u, 1008u, 1000u}) {
            const auto last = std::find_if(events.rbegin(), events.rend(),
                                           [&](const AutomationPoint& e) { return e.id == id; });
            EXPECT_EQ(inst.value(id), double(float(last->value))) << id; // stored as float
        }
    };
    const auto reference = renderAutomation(events, kFrames, true, 4096, lastValues);
    EXPECT_GT(peak(reference.first), 0.01);
    for (uint32_t block : {512u, 4096u}) {
        const auto other = renderAutomation(events, kFrames, false, block, lastValues);
        EXPECT_EQ(other.first, reference.first) << block;
        EXPECT_EQ(other.second, reference.second) << block;
    }
}

// The master chain's own parameters (output, limiter ceiling, bypass, and modulation of the
// output) cut only the master chain: a curve with a point every few frames sounds as host
// blocks cut at every point, in blocks of any size, and is heard.
TEST(Params, DenseMasterAutomationCutsOnlyTheMasterChainAndSoundsTheSame)
{
    std::vector<AutomationPoint> events;
    constexpr uint32_t kFrames = 12000;
    for (uint32_t f = 0, k = 0; f < kFrames; f += 3 + (k * 5) % 7, ++k) {
        const double t = 0.5 + 0.5 * std::sin(0.02 * double(k));
        events.push_back({f, 3000, false, -24.0 * t});
        if (k % 9 == 4)
            events.push_back({f, 3002, false, -12.0 * t});
        if (k % 40 == 17)
            events.push_back({f, 3001, false, double((k / 40) % 2)});
        if (k % 13 == 6)
            events.push_back({f, 3000, true, 3.0 * t});
        if (k % 11 == 2) // a pool's own knob between them
            events.push_back({f, 1007, false, 30.0 + 300.0 * t});
    }
    const auto reference = renderAutomation(events, kFrames, true, 4096);
    for (uint32_t block : {64u, 512u, 4096u}) {
        const auto other = renderAutomation(events, kFrames, false, block);
        EXPECT_EQ(other.first, reference.first) << block;
        EXPECT_EQ(other.second, reference.second) << block;
    }
    // The curve is heard: without it the level differs.
    const auto flat = renderAutomation({}, kFrames, false, 512);
    EXPECT_GT(peak(reference.first), 0.01);
    EXPECT_NE(reference.first, flat.first);
}

// Modulation aimed at a note (note id or key given) lasts until the next note-on; the global
// amount stays.
TEST(Params, NoteModulationEndsAtTheNextNoteGlobalModulationStays)
{
    for (const bool global : {false, true}) {
        ParamsInstance inst;
        inst.loadPool(0, sine(440.0, 48000.0, 96000, 0.4), "params_notemod.wav");
        ParamEvents ev;
        ev.note(0, 60);
        ev.mod(0, 1004, 12.0);
        if (!global) {
            ev.events.back().mod.note_id = 3;
            ev.events.back().mod.key = 60;
        }
        std::vector<float> l, r;
        inst.process(4096, l, r, &ev);
        for (int i = 0; i < 5; ++i)
            inst.process(4096, l, r);
        ParamEvents second;
        second.note(100, 64);
        inst.process(4096, l, r, &second);
        for (int i = 0; i < 5; ++i)
            inst.process(4096, l, r);
        const double before = dominantFrequency(l.data() + 4096, 16384, 48000.0);
        const double after = dominantFrequency(l.data() + 6 * 4096 + 4096, 16384, 48000.0);
        EXPECT_NEAR(before, 880.0, 4.0) << global;
        EXPECT_NEAR(after, global ? 880.0 : 440.0, 4.0) << global;
        EXPECT_EQ(inst.value(1004), 0.0);
    }
}

TEST(Params, ProcessWithParamAndModEventsNeitherAllocatesNorLocks)
{
    // The canary: the counter sees an allocation made while armed.
    armAudioThread();
    auto* canary = new int(7);
    asm volatile("" : : "g"(canary) : "memory"); // not paired away by the compiler
    delete canary;
    const AllocCounts c = disarmAudioThread();
    ASSERT_GE(c.allocations, 1u) << "the allocation counter is not live";

    ParamsInstance inst;
    inst.loadPool(0, noise(96000, 3, 0.3), "params_alloc.wav");
    ASSERT_TRUE(msg::send(inst.plugin->backend, msg::SetMasterBypass{false}));
    ASSERT_TRUE(msg::send(inst.plugin->backend, msg::AddFxSlot{0, 1}));
    inst.pump();
    std::vector<float> l, r;
    l.reserve(48000 * 2);
    r.reserve(48000 * 2);
    inst.process(512, l, r); // one-time set-up outside the count
    // The editor's gestures go out through the same calls.
    inst.plugin->paramGestures.begin(1004);
    inst.plugin->paramGestures.value(1004, 2.0);
    inst.plugin->paramGestures.end(1004);

    AllocCounts counts;
    inst.beforeProcess = [] { armAudioThread(); };
    inst.afterProcess = [&counts] {
        const AllocCounts a = disarmAudioThread();
        counts.allocations += a.allocations;
        counts.frees += a.frees;
        counts.locks += a.locks;
    };
    ParamEvents ev;
    ParamOutput out;
    for (int block = 0; block < 60; ++block) {
        ev.clear();
        if (block == 0)
            ev.note(0, 60);
        for (uint32_t k = 0; k < 16; ++k) {
            const uint32_t t = k * 32;
            ev.value(t, 1007, 20.0 + 100.0 * (block * 16 + k));
            ev.mod(t, 1004, (k % 2) ? 3.0 : -3.0);
            ev.value(t, 1010 + (k % 2), 0.0);
            ev.value(t, 2001, 0.0);
            ev.mod(t, 3000, -1.0);
            ev.value(t, 3002, -1.0 - 0.1 * k);
        }
        inst.process(512, l, r, &ev, &out);
    }
    inst.beforeProcess = nullptr;
    inst.afterProcess = nullptr;
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.locks, 0u);
    EXPECT_EQ(out.events.size(), 3u);
    EXPECT_GT(peak(l), 0.0);
}

TEST(Params, FlushWhileInactiveChangesTheSavedStateAndLoadRescans)
{
    ParamsInstance inst;
    VeskPlugin::clapDeactivate(&inst.plugin->clapPlugin);
    ParamEvents ev;
    ev.value(0, 1307, 5000.0);
    ev.value(0, 2100, 1.0);
    inst.flush(ev);
    std::vector<uint8_t> saved;
    ASSERT_TRUE(saveState(*inst.plugin, saved));

    ParamsInstance other;
    ASSERT_TRUE(loadState(*other.plugin, saved.data(), saved.size()));
    EXPECT_EQ(other.host.rescans, 1) << "a loaded state tells the host to read the values again";
    EXPECT_EQ(other.value(1307), 5000.0);
    EXPECT_EQ(other.value(2100), 1.0);
    EXPECT_EQ(other.plugin->sampler.pools[3].hpfHz, 5000.0f);
}

TEST(Params, SavedProjectRestoresEveryParameter)
{
    ParamsInstance a;
    ParamEvents ev;
    const ParamDef* t = params::table();
    for (uint32_t i = 0; i < params::kCount; ++i)
        ev.value(0, t[i].id, nonDefault(t[i]));
    a.flush(ev);
    std::vector<uint8_t> saved;
    ASSERT_TRUE(saveState(*a.plugin, saved));

    ParamsInstance b;
    ASSERT_TRUE(loadState(*b.plugin, saved.data(), saved.size()));
    b.pump();
    for (uint32_t i = 0; i < params::kCount; ++i)
        EXPECT_NEAR(b.value(t[i].id), nonDefault(t[i]), 1e-4) << t[i].name;
    // get_value equals what the editor shows.
    const VeskState& s = b.plugin->backend.current();
    for (int p = 0; p < 8; ++p) {
        const PoolState& ps = s.pools[p];
        const clap_id base = 1000 + 100 * p;
        EXPECT_FLOAT_EQ(float(b.value(base + 0)), ps.volume.base);
        EXPECT_FLOAT_EQ(float(b.value(base + 1)), ps.volume.range * 100.0f);
        EXPECT_FLOAT_EQ(float(b.value(base + 2)), ps.pan.base);
        EXPECT_FLOAT_EQ(float(b.value(base + 3)), ps.pan.range * 100.0f);
        EXPECT_FLOAT_EQ(float(b.value(base + 4)), ps.pitch.base);
        EXPECT_FLOAT_EQ(float(b.value(base + 5)), ps.pitch.range * 100.0f);
        EXPECT_FLOAT_EQ(float(b.value(base + 6)), ps.start.base);
        EXPECT_FLOAT_EQ(float(b.value(base + 7)), ps.hpfHz);
        EXPECT_FLOAT_EQ(float(b.value(base + 8)), ps.lpfHz);
        EXPECT_FLOAT_EQ(float(b.value(base + 9)), ps.reverseChance);
        EXPECT_EQ(b.value(base + 10), double((s.muteMask >> p) & 1));
        EXPECT_EQ(b.value(base + 11), double((s.soloMask >> p) & 1));
    }
    EXPECT_FLOAT_EQ(float(b.value(3000)), s.master.outputGainDb);
    EXPECT_EQ(b.value(3001), double(s.master.bypassed));
    EXPECT_FLOAT_EQ(float(b.value(3002)), s.master.limiterCeiling);
}

} // namespace
