// Host automation through the real plug-in file in vesk-host, as a DAW drives it: the parameter
// list, an automation ramp heard in the spectrum, sample-accurate and alike for any block size, a
// modulation of the pitch, a flush outside processing, and bad values.
#include "ParamsSupport.h"

#include "support/AllocCounter.h"
#include "support/HostProcess.h"

#include "host/ClapHost.h"

#include "audio_files/WavLoader.h"

#include <cmath>

using namespace vesk;
using namespace vesk::test;

namespace {

// A state whose pool 1 holds `samples` (one file) straight to the master chain, written to a
// file; the master chain stays bypassed, so the output is the pool's sound delayed by the
// limiter's look-ahead.
std::string poolState(const std::vector<float>& samples, const std::string& name)
{
    ParamsInstance inst;
    inst.loadPool(0, samples, name + ".wav");
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(saveState(*inst.plugin, bytes));
    const std::string path = paramsTmpPath(name + ".state");
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    return path;
}

struct Rendered
{
    std::vector<float> left, right;
};

Rendered render(const std::string& state, const std::string& out, std::vector<std::string> args)
{
    args.insert(args.end(), {"--load-state", state, "--out", paramsTmpPath(out)});
    EXPECT_EQ(runVeskHost(args), 0);
    Rendered r;
    auto audio = loadWavRaw(paramsTmpPath(out), 48000.0);
    EXPECT_NE(audio, nullptr) << out;
    if (audio != nullptr) {
        r.left = audio->left;
        r.right = audio->right;
    }
    return r;
}

// Energy of the band [loHz, hiHz] in 8192 frames of x from `from`.
double bandEnergy(const std::vector<float>& x, size_t from, double loHz, double hiHz)
{
    constexpr size_t kFft = 8192;
    if (from + kFft > x.size())
        return 0.0;
    const std::vector<double> mag = magnitudeSpectrum(x.data() + from, kFft, kFft);
    double e = 0.0;
    for (size_t k = 0; k < mag.size(); ++k) {
        const double hz = double(k) * 48000.0 / double(kFft);
        if (hz >= loHz && hz <= hiHz)
            e += mag[k] * mag[k];
    }
    return e;
}

size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return i;
    return n;
}

TEST(ParamsHost, ListAsDocumented)
{
    const std::string out = paramsTmpPath("params_list.json");
    ASSERT_EQ(runVeskHost({"--list-params"}, out), 0);
    const std::string json = fileText(out);
    size_t count = 0;
    for (size_t at = json.find("{\"id\": "); at != std::string::npos;
         at = json.find("{\"id\": ", at + 1))
        ++count;
    EXPECT_EQ(count, params::kCount);
    for (const char* entry :
         {"{\"id\": 1000, \"name\": \"Pool 1 Volume\", \"module\": \"Pool 1\", \"min\": -48, "
          "\"max\": 12, \"default\": 0, \"flags\": 1056, \"stepped\": false, \"automatable\": "
          "true, \"modulatable\": true, \"value\": 0, \"text\": \"0.0 dB\"}",
          "{\"id\": 1204, \"name\": \"Pool 3 Pitch\", \"module\": \"Pool 3\", \"min\": -12, "
          "\"max\": 12, \"default\": 0",
          "{\"id\": 1207, \"name\": \"Pool 3 HPF\", \"module\": \"Pool 3\", \"min\": 0, "
          "\"max\": 20000, \"default\": 0, \"flags\": 1056",
          "\"text\": \"Off\"}",
          "{\"id\": 1710, \"name\": \"Pool 8 Mute\", \"module\": \"Pool 8\", \"min\": 0, \"max\": "
          "1, \"default\": 0, \"flags\": 33, \"stepped\": true, \"automatable\": true, "
          "\"modulatable\": false",
          "{\"id\": 2102, \"name\": \"FX Bus 2 Solo\"",
          "{\"id\": 3000, \"name\": \"Master Output\", \"module\": \"Master\", \"min\": -48, "
          "\"max\": 6",
          "{\"id\": 3001, \"name\": \"Master Bypass\", \"module\": \"Master\", \"min\": 0, "
          "\"max\": "
          "1, \"default\": 1, \"flags\": 33",
          "{\"id\": 3002, \"name\": \"Limiter Ceiling\""})
        EXPECT_NE(json.find(entry), std::string::npos) << entry;
    // Bad options are refused with a clear exit.
    EXPECT_EQ(runVeskHost({"--param", "1:x:2"}), 2);
    EXPECT_EQ(runVeskHost({"--param-ramp", "100:50:1007:0:1"}), 2);
}

TEST(ParamsHost, HpfRampIsHeardSampleAccurateAndAlikeForAnyBlock)
{
    const std::string state = poolState(noise(48000 * 3, 11, 0.3), "params_ramp");
    // Pool 1 HPF from 20 Hz to 8 kHz over 2 s, one automation point every 64 frames.
    const std::vector<std::string> ramp = {
        "--note", "0:60", "--param-ramp", "0:96000:1007:20:8000:64", "--seconds", "2.5"};
    auto args = [&](const char* block) {
        std::vector<std::string> a = ramp;
        a.insert(a.end(), {"--block", block});
        return a;
    };
    const Rendered small = render(state, "params_ramp64.wav", args("64"));
    const Rendered large = render(state, "params_ramp512.wav", args("512"));
    ASSERT_EQ(small.left.size(), 120000u);
    EXPECT_EQ(small.left, large.left) << "identical for host blocks of 64 and 512";
    EXPECT_EQ(small.right, large.right);

    // The low band falls away as the cut-off rises, the top stays.
    double lastLow = 1e300;
    for (double at : {0.1, 0.6, 1.1, 1.6}) {
        const double low = bandEnergy(small.left, size_t(at * 48000), 100.0, 1000.0);
        EXPECT_LT(low, lastLow * 0.5) << at;
        lastLow = low;
    }
    const double lowStart = bandEnergy(small.left, 4800, 100.0, 1000.0);
    const double lowEnd = bandEnergy(small.left, 96000, 100.0, 1000.0);
    // A 12 dB per octave high-pass at 8 kHz is at least 36 dB down at 1 kHz.
    EXPECT_LT(10.0 * std::log10(lowEnd / lowStart), -30.0);
    const double topStart = bandEnergy(small.left, 4800, 12000.0, 16000.0);
    const double topEnd = bandEnergy(small.left, 96000, 12000.0, 16000.0);
    EXPECT_NEAR(10.0 * std::log10(topEnd / topStart), 0.0, 4.0);

    // One automation point off the block grid: the output changes at that very frame (plus the
    // limiter's look-ahead of 480 frames), for either block size.
    const std::vector<std::string> note = {"--note", "0:60", "--seconds", "0.5"};
    std::vector<std::string> stepped = note;
    stepped.insert(stepped.end(), {"--param", "10007:1007:8000"});
    const Rendered without = render(state, "params_step_none.wav", note);
    for (const char* block : {"64", "512", "100"}) {
        std::vector<std::string> a = stepped;
        a.insert(a.end(), {"--block", block});
        const Rendered with = render(state, std::string("params_step_") + block + ".wav", a);
        EXPECT_EQ(firstDifference(without.left, with.left), 10007u + 480u) << block;
    }
}

TEST(ParamsHost, PitchModulationMovesAnOctaveAndBack)
{
    const std::string state = poolState(sine(440.0, 48000.0, 48000 * 6, 0.5), "params_pitch");
    const Rendered r = render(state, "params_pitch.wav",
                              {"--note", "0:60", "--param-mod", "48000:1004:12", "--param-mod",
                               "96000:1004:0", "--seconds", "3"});
    ASSERT_EQ(r.left.size(), 144000u);
    auto frequencyAt = [&](double fromSeconds) {
        return dominantFrequency(r.left.data() + size_t(fromSeconds * 48000), 24000, 48000.0);
    };
    EXPECT_NEAR(frequencyAt(0.2), 440.0, 2.0);
    EXPECT_NEAR(frequencyAt(1.2), 880.0, 4.0);
    EXPECT_NEAR(frequencyAt(2.2), 440.0, 2.0);

    // The modulation is not the value: the saved state keeps pitch 0.
    const std::string saved = paramsTmpPath("params_pitch_after.state");
    ASSERT_EQ(runVeskHost({"--load-state", state, "--note", "0:60", "--param-mod", "0:1004:12",
                           "--seconds", "0.2", "--save-state", saved}),
              0);
    ParamsInstance check;
    const std::vector<uint8_t> bytes = fileBytes(saved);
    ASSERT_TRUE(loadState(*check.plugin, bytes.data(), bytes.size()));
    EXPECT_EQ(check.value(1004), 0.0);
}

TEST(ParamsHost, FlushOutsideProcessingChangesTheSavedState)
{
    const std::string saved = paramsTmpPath("params_flush.state");
    ASSERT_EQ(runVeskHost({"--seconds", "0", "--param-flush", "1007:5000", "--param-flush",
                           "3001:0", "--param-flush", "1610:1", "--save-state", saved}),
              0);
    ParamsInstance check;
    const std::vector<uint8_t> bytes = fileBytes(saved);
    ASSERT_TRUE(loadState(*check.plugin, bytes.data(), bytes.size()));
    EXPECT_EQ(check.value(1007), 5000.0);
    EXPECT_EQ(check.value(3001), 0.0);
    EXPECT_EQ(check.value(1610), 1.0);
    EXPECT_EQ(check.plugin->sampler.pools[0].hpfHz, 5000.0f);
    EXPECT_FALSE(check.plugin->masterFx.bypassed);
    EXPECT_EQ(check.plugin->sampler.muteMask, 1u << 6);
}

TEST(ParamsHost, ProcessCallsCarryingParamEventsAllocateNothingInThePluginFile)
{
    // The canary: the counter sees what the plug-in file allocates while armed.
    host::PluginLibrary library(VESK_CLAP_PATH);
    host::HostedPlugin p(library, "com.halvoren.vesk");
    armAudioThread();
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(p.saveState(bytes)); // the state writer allocates
    const AllocCounts canary = disarmAudioThread();
    ASSERT_GT(canary.allocations, 0u) << "the allocation counter is not live";

    const std::string state = poolState(noise(48000 * 2, 21, 0.3), "params_alloc_host");
    ASSERT_TRUE(p.loadState(fileBytes(state)));
    ASSERT_TRUE(p.activate(48000.0, 512));
    std::vector<float> l, r;
    l.reserve(48000 * 2);
    r.reserve(48000 * 2);
    p.render(512, 512, {}, l, r); // one-time set-up outside the count

    std::vector<host::TimedEvent> events;
    host::TimedEvent note;
    note.frame = 10;
    events.push_back(note);
    for (uint64_t f = 0; f < 48000; f += 16) {
        host::TimedEvent e;
        e.kind = host::TimedEvent::Kind::ParamValue;
        e.frame = f;
        e.paramId = f % 32 == 0 ? 1007 : 3000;
        e.paramValue = f % 32 == 0 ? double(f % 4000) : -double(f % 12);
        events.push_back(e);
        e.kind = host::TimedEvent::Kind::ParamMod;
        e.paramId = 1004;
        e.paramValue = double(f % 7) - 3.0;
        events.push_back(e);
    }
    AllocCounts counts;
    p.beforeProcess = [] { armAudioThread(); };
    p.afterProcess = [&counts] {
        const AllocCounts c = disarmAudioThread();
        counts.allocations += c.allocations;
        counts.frees += c.frees;
        counts.locks += c.locks;
    };
    p.render(48000, 512, events, l, r);
    p.beforeProcess = nullptr;
    p.afterProcess = nullptr;
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.frees, 0u);
    EXPECT_EQ(counts.locks, 0u);
    EXPECT_GT(peak(l), 0.01);
}

TEST(ParamsHost, SavedProjectRestoresEveryParameter)
{
    // Every parameter automated away from its default, the project saved, and opened again: the
    // list the host reads shows every value back.
    const params::ParamDef* t = params::table();
    auto target = [&](uint32_t i) {
        const params::ParamDef& d = t[i];
        if (d.stepped())
            return d.defaultValue >= 0.5 ? 0.0 : 1.0;
        return std::round(d.minValue + 0.3 * (d.maxValue - d.minValue) + i % 5);
    };
    std::vector<std::string> args = {"--seconds", "0.05"};
    for (uint32_t i = 0; i < params::kCount; ++i) {
        char event[64];
        std::snprintf(event, sizeof event, "%u:%u:%.17g", i, t[i].id, target(i));
        args.insert(args.end(), {"--param", event});
    }
    const std::string saved = paramsTmpPath("params_project.state");
    args.insert(args.end(), {"--save-state", saved});
    ASSERT_EQ(runVeskHost(args), 0);
    const std::string out = paramsTmpPath("params_project.json");
    ASSERT_EQ(runVeskHost({"--load-state", saved, "--list-params"}, out), 0);
    const std::string json = fileText(out);
    for (uint32_t i = 0; i < params::kCount; ++i) {
        const size_t at = json.find("{\"id\": " + std::to_string(t[i].id) + ",");
        ASSERT_NE(at, std::string::npos) << t[i].id;
        const size_t v = json.find("\"value\": ", at);
        ASSERT_NE(v, std::string::npos);
        EXPECT_NEAR(std::strtod(json.c_str() + v + 9, nullptr), target(i), 1e-4) << t[i].name;
    }
}

TEST(ParamsHost, BadValuesNeverReachTheSound)
{
    const std::string state = poolState(sine(440.0, 48000.0, 48000, 0.5), "params_badhost");
    const std::string saved = paramsTmpPath("params_badhost_after.state");
    const Rendered r = render(state, "params_badhost.wav", {"--note",       "0:60",
                                                            "--param",      "100:4242:1",
                                                            "--param",      "200:1004:nan",
                                                            "--param",      "300:1000:inf",
                                                            "--param",      "400:1002:-inf",
                                                            "--param",      "500:1007:-7",
                                                            "--param",      "600:1008:1e40",
                                                            "--param-mod",  "700:1004:nan",
                                                            "--param-mod",  "800:1004:-inf",
                                                            "--param-mod",  "900:3000:inf",
                                                            "--param",      "1000:3001:0",
                                                            "--param",      "1100:3002:-99",
                                                            "--param",      "1200:4294967295:3",
                                                            "--seconds",    "0.5",
                                                            "--save-state", saved});
    ASSERT_FALSE(r.left.empty());
    for (const std::vector<float>* ch : {&r.left, &r.right})
        for (float v : *ch)
            ASSERT_TRUE(std::isfinite(v));
    EXPECT_GT(peak(r.left), 0.01) << "still sounding";
    ParamsInstance check;
    const std::vector<uint8_t> bytes = fileBytes(saved);
    ASSERT_TRUE(loadState(*check.plugin, bytes.data(), bytes.size()));
    EXPECT_EQ(check.value(1004), 0.0);
    EXPECT_EQ(check.value(1000), 12.0);
    EXPECT_EQ(check.value(1002), -100.0);
    EXPECT_EQ(check.value(1007), 0.0);
    EXPECT_EQ(check.value(1008), 20000.0);
    EXPECT_EQ(check.value(3002), -12.0);
}

} // namespace
