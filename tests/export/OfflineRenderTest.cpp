// Offline render: the plan, the dry stems, FX buses with their tails, the mix through the master
// chain, the files and their names, and the failure paths.
#include "export/OfflineRender.h"
#include "export/RenderReport.h"

#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <regex>
#include <sys/resource.h>
#include <system_error>

using namespace vesk;
using namespace vesk::test;
namespace fs = std::filesystem;

namespace {

constexpr double kRate = 48000.0;

// ---- Stand-in FX modules with known behaviour, found under ids of their own. ----

// Echo: y = x + d, d being y from 100 ms earlier times 0.5.
struct EchoState
{
    float line[2][48000];
    int length;
    int pos;
};
void echoConstruct(void* s, double rate)
{
    static_cast<EchoState*>(s)->length = std::clamp(int(rate * 0.1), 1, 48000);
}
void nothing(void*) {}
void nothingConstruct(void*, double) {}
void echoReset(void* s)
{
    auto* e = static_cast<EchoState*>(s);
    std::memset(e->line, 0, sizeof e->line);
    e->pos = 0;
}
void echoProcess(float* l, float* r, unsigned n, const float*, void* s, double)
{
    auto* e = static_cast<EchoState*>(s);
    for (unsigned i = 0; i < n; ++i) {
        const float yl = l[i] + e->line[0][e->pos];
        const float yr = r[i] + e->line[1][e->pos];
        e->line[0][e->pos] = 0.5f * yl;
        e->line[1][e->pos] = 0.5f * yr;
        e->pos = (e->pos + 1) % e->length;
        l[i] = yl;
        r[i] = yr;
    }
}
// Hum: adds 0.5 to every sample, so it never falls quiet.
void humProcess(float* l, float* r, unsigned n, const float*, void*, double)
{
    for (unsigned i = 0; i < n; ++i) {
        l[i] += 0.5f;
        r[i] += 0.5f;
    }
}
// Broken: writes NaN.
void nanProcess(float* l, float* r, unsigned n, const float*, void*, double)
{
    std::fill(l, l + n, std::numeric_limits<float>::quiet_NaN());
    std::fill(r, r + n, std::numeric_limits<float>::quiet_NaN());
}
// Gain: multiplies by its first knob.
void gainProcess(float* l, float* r, unsigned n, const float* params, void*, double)
{
    for (unsigned i = 0; i < n; ++i) {
        l[i] *= params[0];
        r[i] *= params[0];
    }
}

const FXModuleVTable kEcho = {sizeof(EchoState), echoConstruct, nothing,
                              echoReset,         echoConstruct, echoProcess};
const FXModuleVTable kHum = {8, nothingConstruct, nothing, nothing, nothingConstruct, humProcess};
const FXModuleVTable kNan = {8, nothingConstruct, nothing, nothing, nothingConstruct, nanProcess};
const FXModuleVTable kGain = {8, nothingConstruct, nothing, nothing, nothingConstruct, gainProcess};

constexpr uint8_t kEchoId = 18, kHumId = 7, kNanId = 5, kGainId = 4;

const char* const kNames[2] = {"A", "B"};
const float kDefaults[2] = {1.0f, 0.0f};
const float kMin[2] = {0.0f, 0.0f};
const float kMax[2] = {4.0f, 1.0f};
const int kRows[2] = {0, 0};
const char* const kSuffixes[2] = {"", ""};

FXModuleInfo info(FXType type, const FXModuleVTable* vtable)
{
    return FXModuleInfo{type,    "Test",  2,       1,       kNames,  kDefaults,
                        kMin,    kMax,    kRows,   vtable,  nullptr, kSuffixes,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}

const FXModuleInfo* testModules(uint32_t id)
{
    static const FXModuleInfo echo = info(FXType(kEchoId), &kEcho);
    static const FXModuleInfo hum = info(FXType(kHumId), &kHum);
    static const FXModuleInfo nan = info(FXType(kNanId), &kNan);
    static const FXModuleInfo gain = info(FXType(kGainId), &kGain);
    switch (id) {
    case kEchoId:
        return &echo;
    case kHumId:
        return &hum;
    case kNanId:
        return &nan;
    case kGainId:
        return &gain;
    default:
        return nullptr;
    }
}

LaneFXSnapshot lane(std::initializer_list<std::pair<uint8_t, float>> modules)
{
    LaneFXSnapshot s;
    for (const auto& [type, knob] : modules) {
        s.slots[s.slotCount].type = type;
        s.slots[s.slotCount].params[0] = knob;
        ++s.slotCount;
    }
    return s;
}

// ---- Pools and stems. ----

std::shared_ptr<RawAudioData> audio(std::vector<float> left, double rate = kRate)
{
    auto a = std::make_shared<RawAudioData>();
    a->left = std::move(left);
    a->channels = 1;
    a->sampleRate = rate;
    a->path = "memory";
    return a;
}

std::unique_ptr<SamplePool> poolWith(std::vector<float> sound)
{
    auto pool = std::make_unique<SamplePool>();
    pool->samples.push_back(SampleData{audio(std::move(sound)), 0, 0});
    return pool;
}

VoiceParams played(float delayMs = 0.0f)
{
    VoiceParams p;
    p.valid = true;
    p.sampleIndex = 0;
    p.delayMs = delayMs;
    return p;
}

std::vector<float> impulseAt(size_t frame, size_t length)
{
    std::vector<float> x(length, 0.0f);
    x[frame] = 1.0f;
    return x;
}

Sampler::PoolRenderResult dryStem(const SamplePool& pool, const VoiceParams& p)
{
    Sampler::PoolRenderResult r;
    Sampler::renderPoolOffline(pool, p, kRate, r);
    return r;
}

size_t argmaxAbs(const std::vector<float>& x)
{
    size_t best = 0;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::abs(x[i]) > std::abs(x[best]))
            best = i;
    return best;
}

// ---- Files. ----

std::string freshDir(const std::string& name)
{
    const char* env = std::getenv("VESK_TEST_TMP_DIR");
    const fs::path dir = fs::path(env != nullptr ? env : VESK_TEST_TMP_DIR) / "export" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

struct Wav
{
    int channels = 0;
    uint32_t rate = 0;
    std::vector<float> left, right;
};

// Reads the 32-bit float files the export writes (44-byte header).
Wav readWav(const std::string& path)
{
    Wav w;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0)
        return w;
    uint16_t channels;
    std::memcpy(&channels, bytes.data() + 22, 2);
    std::memcpy(&w.rate, bytes.data() + 24, 4);
    w.channels = channels;
    const size_t frames = (bytes.size() - 44) / (4 * std::max<size_t>(channels, 1));
    for (size_t i = 0; i < frames; ++i) {
        float l, r = 0.0f;
        std::memcpy(&l, bytes.data() + 44 + (i * channels) * 4, 4);
        if (channels == 2)
            std::memcpy(&r, bytes.data() + 44 + (i * 2 + 1) * 4, 4);
        w.left.push_back(l);
        w.right.push_back(channels == 2 ? r : l);
    }
    return w;
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

RenderJob jobFor(const std::string& folder, RenderKind kind)
{
    RenderJob job;
    job.kind = kind;
    job.rate = kRate;
    job.id = 0xBEEF42;
    job.outputFolder = folder;
    job.insertIntoProject = true;
    job.timeStamp = 1700000000;
    job.moduleLookup = testModules;
    job.routes.fill(PoolRoute::Master);
    return job;
}

double correlation(const std::vector<float>& a, const std::vector<float>& b, size_t n)
{
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The plan and the dry stems

TEST(OfflineRenderPlan, TakesAudiblePoolsLastOrFrozenDraw)
{
    auto sampler = std::make_unique<Sampler>();
    for (int i = 0; i < kNumPools; ++i) {
        sampler->lastParams[i] = played(float(i));
        sampler->frozenParams[i] = played(100.0f + float(i));
    }
    sampler->lastParams[5].valid = false;
    sampler->freezeMask = 1u << 2 | 1u << 3;
    sampler->frozenParams[3].valid = false; // a lock without a valid record plays the last draw
    sampler->muteMask = 1u << 1;

    std::array<VoiceParams, kNumPools> plan;
    sampler->captureOfflineRenderPlan(plan);
    EXPECT_TRUE(plan[0].valid);
    EXPECT_FALSE(plan[1].valid) << "muted";
    EXPECT_FLOAT_EQ(plan[2].delayMs, 102.0f) << "locked: the frozen draw";
    EXPECT_FLOAT_EQ(plan[3].delayMs, 3.0f);
    EXPECT_FALSE(plan[5].valid) << "never played";

    sampler->soloMask = 1u << 4 | 1u << 1;
    sampler->captureOfflineRenderPlan(plan);
    for (int i = 0; i < kNumPools; ++i)
        EXPECT_EQ(plan[size_t(i)].valid, i == 4) << "pool " << i;
}

TEST(OfflineRenderDry, DelayBecomesLeadingSilenceAndStemsEndOnABlock)
{
    auto pool = poolWith(sine(440.0, kRate, 4800, 0.5));
    const auto stem = dryStem(*pool, played(500.0f));
    ASSERT_TRUE(stem.hasAudio);
    ASSERT_EQ(stem.left.size(), stem.right.size());
    EXPECT_EQ(stem.left.size() % 512, 0u);
    // 500 ms at 48 kHz: 24000 frames of silence, then the sound.
    EXPECT_EQ(firstAbove(stem.left.data(), stem.left.size(), 1e-6), 24000);
    EXPECT_NEAR(dominantFrequency(stem.left.data() + 24000, 4096, kRate), 440.0, 15.0);
}

TEST(OfflineRenderDry, PoolsWithoutAPlayableDrawRenderNothing)
{
    auto pool = poolWith(std::vector<float>(1000, 0.5f));
    VoiceParams outOfRange = played();
    outOfRange.sampleIndex = 1;
    EXPECT_FALSE(dryStem(*pool, VoiceParams{}).hasAudio);
    EXPECT_FALSE(dryStem(*pool, outOfRange).hasAudio);
    pool->samples[0].length = 0;
    pool->samples[0].offset = 5000; // beyond the file: not playable
    EXPECT_FALSE(dryStem(*pool, played()).hasAudio);
}

TEST(OfflineRenderDry, DamagedValuesCannotMakeAStemEndless)
{
    // A delay far beyond the knob's range, and a pitch envelope that drags the voice down to
    // 1/1024 of its speed right after it starts: the stem is cut at delay (3 s at most) + its
    // expected length + 30 s.
    auto pool = poolWith(std::vector<float>(4800, 0.5f)); // 0.1 s
    pool->pitchEnv.enabled = true;
    pool->pitchEnv.count = 1;
    pool->pitchEnv.points[0] = {0.0f, -1000.0f};
    const auto stem = dryStem(*pool, played(1.0e9f));
    const size_t bound = 3 * 48000 + 4800 + 30 * 48000;
    ASSERT_TRUE(stem.hasAudio);
    EXPECT_LE(stem.left.size(), bound);
    EXPECT_GE(stem.left.size(), bound - 512);
    const int64_t start = firstAbove(stem.left.data(), stem.left.size(), 1e-6);
    EXPECT_GE(start, 3 * 48000);
    EXPECT_LT(start, 3 * 48000 + 512);

    VoiceParams nan = played(std::numeric_limits<float>::quiet_NaN());
    nan.pitchOffset = std::numeric_limits<float>::infinity();
    pool->pitchEnv.enabled = false;
    const auto stem2 = dryStem(*pool, nan);
    EXPECT_LE(stem2.left.size(), size_t(4800 + 30 * 48000));
}

// ---------------------------------------------------------------------------------------------
// FX buses and tails

TEST(OfflineRenderTail, EchoRingsOutUntilFourQuietBlocksAndIsTrimmed)
{
    FXLane fx;
    buildOfflineLane(lane({{kEchoId, 0.0f}}), fx, kRate, testModules);
    ASSERT_EQ(fx.slotCount, 1);
    std::vector<float> l = impulseAt(100, 1024), r = impulseAt(100, 1024);
    processLaneWithTail(fx, l, r, kRate);
    // Echoes every 4800 frames at 0.5^k: the last at or above 0.0001 is k = 13 (1.2e-4).
    EXPECT_EQ(l.size(), size_t(100 + 13 * 4800 + 1));
    EXPECT_NEAR(l.back(), std::pow(0.5, 13), 1e-7);
    EXPECT_EQ(l.size(), r.size());
}

TEST(OfflineRenderTail, TailNeverExceedsThirtySeconds)
{
    for (uint8_t id : {kHumId, kNanId}) {
        FXLane fx;
        buildOfflineLane(lane({{id, 0.0f}}), fx, kRate, testModules);
        std::vector<float> l(1000, 0.1f), r(1000, 0.1f);
        processLaneWithTail(fx, l, r, kRate);
        if (id == kHumId) {
            EXPECT_EQ(l.size(), size_t(1000 + 30 * 48000)) << "never quiet: the whole 30 s";
        } else {
            EXPECT_LE(l.size(), size_t(1000 + 30 * 48000));
        }
    }
}

TEST(OfflineRenderTail, BypassedOrUnknownModulesLeaveTheSoundAlone)
{
    LaneFXSnapshot bypassed = lane({{kGainId, 3.0f}});
    bypassed.bypassed = 1;
    LaneFXSnapshot slotOff = lane({{kGainId, 3.0f}});
    slotOff.slots[0].bypassed = 1;
    LaneFXSnapshot unknown = lane({{31, 3.0f}, {0, 3.0f}, {29, 3.0f}});
    LaneFXSnapshot damaged;
    for (auto& slot : damaged.slots) {
        slot.type = kGainId;
        slot.params[0] = std::numeric_limits<float>::quiet_NaN(); // the default replaces it
    }
    damaged.slotCount = 1000;
    for (const LaneFXSnapshot* s : {&bypassed, &slotOff, &unknown}) {
        FXLane fx;
        buildOfflineLane(*s, fx, kRate, testModules);
        std::vector<float> l = sine(1000.0, kRate, 2048, 0.5), r = l;
        const std::vector<float> before = l;
        processLaneWithTail(fx, l, r, kRate);
        EXPECT_EQ(l, before);
    }
    FXLane fx;
    buildOfflineLane(damaged, fx, kRate, testModules);
    EXPECT_EQ(fx.slotCount, kMaxSlots);
    EXPECT_EQ(fx.slots[39].params[0], kDefaults[0]);
}

// ---------------------------------------------------------------------------------------------
// The stems job

TEST(OfflineRenderStems, BusPoolsCarryTheirBusAndMasterPoolsStayDry)
{
    const std::string dir = freshDir("stems");
    RenderJob job = jobFor(dir, RenderKind::Stems);
    auto pool = poolWith(impulseAt(100, 2000));
    const auto dry = dryStem(*pool, played());
    ASSERT_TRUE(dry.hasAudio);
    job.pools[0] = dry; // bus 1: echo
    job.pools[1] = dry; // bus 2: gain x2
    job.pools[4] = dry; // master: dry
    job.routes[0] = PoolRoute::Bus1;
    job.routes[1] = PoolRoute::Bus2;
    job.routes[4] = PoolRoute::Master;
    job.lanes[0] = lane({{kEchoId, 0.0f}});
    job.lanes[1] = lane({{kGainId, 2.0f}});

    const RenderResult result = runStemsJob(job);
    EXPECT_FALSE(result.isMix);
    EXPECT_TRUE(result.insertIntoProject);
    ASSERT_EQ(result.stemFiles.size(), 8u);
    const std::regex name("Vesk_[0-9]{14}_([1-8])_BEEF42\\.wav");
    for (int i = 0; i < 8; ++i) {
        const bool expected = i == 0 || i == 1 || i == 4;
        ASSERT_EQ(!result.stemFiles[size_t(i)].empty(), expected) << "pool " << i;
        if (!expected)
            continue;
        const fs::path path(result.stemFiles[size_t(i)]);
        EXPECT_EQ(path.parent_path().string(), dir);
        std::smatch m;
        const std::string file = path.filename().string();
        ASSERT_TRUE(std::regex_match(file, m, name)) << file;
        EXPECT_EQ(m[1].str(), std::to_string(i + 1));
    }
    EXPECT_EQ(filesIn(dir).size(), 3u);

    const size_t hit = argmaxAbs(dry.left);
    const Wav echo = readWav(result.stemFiles[0]);
    const Wav gain = readWav(result.stemFiles[1]);
    const Wav plain = readWav(result.stemFiles[4]);
    EXPECT_EQ(echo.channels, 2);
    EXPECT_EQ(echo.rate, 48000u);
    // Bus 1's echo and its tail: a copy 4800 frames later at half the level.
    ASSERT_GT(echo.left.size(), hit + 4800);
    EXPECT_GT(echo.left.size(), dry.left.size());
    EXPECT_NEAR(echo.left[hit + 4800], 0.5f * dry.left[hit], 1e-5);
    // Bus 2's gain, no tail beyond the sound; the master pool bit for bit as rendered.
    ASSERT_EQ(gain.left.size(), dry.left.size());
    EXPECT_FLOAT_EQ(gain.left[hit], 2.0f * dry.left[hit]);
    EXPECT_EQ(plain.left, dry.left);
    EXPECT_EQ(plain.right, dry.right);
}

TEST(OfflineRenderStems, TwoExportsInOneSecondNeverReplaceAFile)
{
    const std::string dir = freshDir("same_second");
    auto pool = poolWith(impulseAt(10, 600));
    const auto dry = dryStem(*pool, played());
    RenderJob first = jobFor(dir, RenderKind::Stems);
    first.pools[2] = dry;
    RenderJob second = jobFor(dir, RenderKind::Stems);
    second.pools[2] = dry;
    second.pools[2].left.assign(dry.left.size(), 0.25f);
    second.pools[2].right = second.pools[2].left;

    const RenderResult a = runStemsJob(first);
    const RenderResult b = runStemsJob(second);
    ASSERT_FALSE(a.stemFiles[2].empty());
    ASSERT_FALSE(b.stemFiles[2].empty());
    EXPECT_NE(a.stemFiles[2], b.stemFiles[2]);
    EXPECT_EQ(readWav(a.stemFiles[2]).left, dry.left) << "the first file is untouched";
    EXPECT_FLOAT_EQ(readWav(b.stemFiles[2]).left[0], 0.25f);
    std::string base = stemFileName(formatTimeStamp(1700000000), 3, 0xBEEF42);
    base.resize(base.size() - 4);
    EXPECT_EQ(fs::path(a.stemFiles[2]).filename().string(), base + ".wav");
    EXPECT_EQ(fs::path(b.stemFiles[2]).filename().string(), base + "-2.wav");
}

TEST(OfflineRenderStems, NothingWrittenMeansNothingToInsert)
{
    const std::string dir = freshDir("silent");
    RenderJob job = jobFor(dir, RenderKind::Stems);
    const RenderResult none = runStemsJob(job);
    EXPECT_FALSE(none.insertIntoProject);
    EXPECT_EQ(none.stemFiles, std::vector<std::string>(8));

    RenderJob mix = jobFor(dir, RenderKind::Mix);
    const RenderResult noMix = runMixJob(mix);
    EXPECT_FALSE(noMix.insertIntoProject);
    EXPECT_TRUE(noMix.mixFile.empty());
    EXPECT_TRUE(filesIn(dir).empty());
    for (const RenderResult* r : {&none, &noMix}) {
        const RenderReport report = describeRender(*r, false);
        EXPECT_TRUE(report.failed);
        EXPECT_NE(report.text.find("Nothing to export"), std::string::npos) << report.text;
    }
}

TEST(OfflineRenderStems, UnwritableFolderWritesAndInsertsNothing)
{
    const std::string dir = freshDir("unwritable");
    std::ofstream(dir + "/not_a_folder") << "x";
    auto pool = poolWith(impulseAt(10, 600));
    for (RenderKind kind : {RenderKind::Stems, RenderKind::Mix}) {
        RenderJob job = jobFor(dir + "/not_a_folder", kind);
        job.pools[0] = dryStem(*pool, played());
        const RenderResult r = runRenderJob(job);
        EXPECT_FALSE(r.insertIntoProject);
        EXPECT_TRUE(r.mixFile.empty());
        for (const auto& f : r.stemFiles)
            EXPECT_TRUE(f.empty());
        // The user reads why, and where it was tried.
        const RenderReport report = describeRender(r, false);
        EXPECT_TRUE(report.failed);
        EXPECT_EQ(report.text.find(kind == RenderKind::Mix ? "Export Mix failed: nothing could be "
                                                           : "Export Stems failed: nothing could "),
                  0u)
            << report.text;
        EXPECT_NE(report.text.find(dir + "/not_a_folder (Not a directory)"), std::string::npos)
            << report.text;
    }
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"not_a_folder"});
}

TEST(OfflineRenderStems, FullDiskLeavesNoPartialFileAndNothingToInsert)
{
    const std::string dir = freshDir("full_disk");
    auto pool = poolWith(std::vector<float>(48000, 0.5f));
    const auto dry = dryStem(*pool, played());
    auto small = poolWith(std::vector<float>(256, 0.5f));
    const auto tiny = dryStem(*small, played());

    // The disk "fills up" after 64 KiB per file.
    struct rlimit saved
    {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);

    RenderJob job = jobFor(dir, RenderKind::Stems);
    job.pools[0] = dry;  // 1 s stereo: 384 KB, does not fit
    job.pools[1] = tiny; // fits
    const RenderResult stems = runStemsJob(job);
    RenderJob mixJob = jobFor(dir, RenderKind::Mix);
    mixJob.pools[0] = dry;
    const RenderResult mix = runMixJob(mixJob);

    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(stems.stemFiles[0].empty());
    EXPECT_FALSE(stems.stemFiles[1].empty());
    EXPECT_TRUE(stems.insertIntoProject) << "the file that fits is placed";
    EXPECT_TRUE(mix.mixFile.empty());
    EXPECT_FALSE(mix.insertIntoProject);
    EXPECT_EQ(filesIn(dir),
              std::vector<std::string>{fs::path(stems.stemFiles[1]).filename().string()});
    // A partial export is not reported as a success.
    const RenderReport partial = describeRender(stems, true);
    EXPECT_TRUE(partial.failed);
    EXPECT_EQ(partial.text, "1 stem of 2 written to " + dir + "; the others failed (" +
                                std::generic_category().message(EFBIG) + ")");
    EXPECT_TRUE(describeRender(mix, false).failed);
}

TEST(OfflineRenderReport, SaysWhereTheFilesWentHowManyAndWhyNot)
{
    RenderResult stems;
    stems.outputFolder = "/p/Proj";
    stems.stemFiles = {"/p/Proj/a.wav", "", "/p/Proj/c.wav", "", "", "", "", ""};
    stems.soundingPools = 2;
    RenderResult one = stems;
    one.stemFiles[2].clear();
    one.soundingPools = 1;
    RenderResult mix;
    mix.isMix = true;
    mix.outputFolder = "/h/Exports";
    mix.mixFile = "/h/Exports/m.wav";
    mix.soundingPools = 3;
    RenderResult full = mix;
    full.mixFile.clear();
    full.failure = "the disk is full";
    struct Case
    {
        RenderReport report;
        const char* text;
        bool failed;
    } cases[] = {
        {describeRender(stems, false), "2 stems written to /p/Proj", false},
        {describeRender(stems, true), "2 stems written to /p/Proj and placed on the pool tracks",
         false},
        {describeRender(one, false), "1 stem written to /p/Proj", false},
        {describeRender(mix, false), "Mix written to /h/Exports", false},
        {describeRender(mix, true), "Mix written to /h/Exports and placed on this track", false},
        {describeRender(full, false),
         "Export Mix failed: nothing could be written to /h/Exports (the disk is full)", true},
        {describeRenderNotStarted(false, "not enough memory"),
         "Export Stems failed: not enough memory", true},
        {describeRenderRunning(true), "Exporting the mix\xe2\x80\xa6", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.report.text, c.text);
        EXPECT_EQ(c.report.failed, c.failed) << c.text;
    }
}

// ---------------------------------------------------------------------------------------------
// The mix job

TEST(OfflineRenderMix, MasterLatencyIsRemovedSoTheMixLinesUpWithTheStems)
{
    const std::string dir = freshDir("mix_align");
    auto pool = poolWith(impulseAt(300, 3000));
    const auto dry = dryStem(*pool, played(20.0f));
    RenderJob job = jobFor(dir, RenderKind::Mix);
    job.pools[3] = dry;
    job.routes[3] = PoolRoute::Master;
    const RenderResult r = runMixJob(job);
    ASSERT_FALSE(r.mixFile.empty());
    EXPECT_TRUE(r.isMix);
    EXPECT_TRUE(r.insertIntoProject);
    EXPECT_TRUE(std::regex_match(fs::path(r.mixFile).filename().string(),
                                 std::regex("Vesk_Mix_[0-9]{14}_BEEF42\\.wav")));
    const Wav mix = readWav(r.mixFile);
    ASSERT_GE(mix.left.size(), dry.left.size() - 480);
    EXPECT_EQ(argmaxAbs(mix.left), argmaxAbs(dry.left));
    EXPECT_GT(correlation(mix.left, dry.left, std::min(mix.left.size(), dry.left.size())), 0.999);
}

TEST(OfflineRenderMix, BusesFeedEachOtherAndTheMaster)
{
    const std::string dir = freshDir("mix_buses");
    auto pool = poolWith(sine(500.0, kRate, 9600, 0.25));
    const auto dry = dryStem(*pool, played());
    for (bool bus1ToMaster : {true, false}) {
        RenderJob job = jobFor(dir, RenderKind::Mix);
        job.pools[0] = dry;
        job.routes[0] = PoolRoute::Bus1;
        job.lanes[0] = lane({{kGainId, 2.0f}});
        job.lanes[1] = lane({{kGainId, 1.5f}});
        job.bus1ToMaster = bus1ToMaster;
        const RenderResult r = runMixJob(job);
        ASSERT_FALSE(r.mixFile.empty());
        const Wav mix = readWav(r.mixFile);
        const double gain = bus1ToMaster ? 2.0 : 3.0;
        // Compare levels in the middle, away from the master's DC blocker settling.
        const size_t from = 2400, n = 4800;
        EXPECT_NEAR(rms(mix.left.data() + from, n) / rms(dry.left.data() + from, n), gain, 0.02)
            << (bus1ToMaster ? "bus 1 to master" : "bus 1 into bus 2");
    }
}

// ---------------------------------------------------------------------------------------------
// Starting a render, and the default folder outside a host project

TEST(OfflineRenderStart, WithoutAProjectFolderBothExportsGoToTheDefaultFolder)
{
    const std::string home = freshDir("home");
    const char* savedHome = std::getenv("HOME");
    const std::string restore = savedHome != nullptr ? savedHome : "";
    ::setenv("HOME", home.c_str(), 1);
    const std::string folder = defaultExportFolder();
    EXPECT_EQ(folder, home + "/Documents/Halvoren Vesk/Exports");

    auto sampler = std::make_unique<Sampler>();
    sampler->setSampleRate(kRate);
    sampler->appendSample(0, SampleData{audio(sine(300.0, kRate, 2400, 0.5)), 0, 0});
    sampler->lastParams[0] = played();
    sampler->lastSeed = 0xABC;
    FXLane bus1, bus2;
    MasterFXState master;

    std::vector<RenderResult> results;
    auto post = [](std::function<void()> job) { job(); };
    for (RenderKind kind : {RenderKind::Stems, RenderKind::Mix}) {
        RenderCapture capture;
        captureRender(kind, *sampler, bus1, bus2, true, master, capture);
        EXPECT_EQ(capture.id, 0xABCu);
        ASSERT_TRUE(startRender(*sampler, capture, "", post,
                                [&](RenderResult r) { results.push_back(std::move(r)); }));
    }
    if (savedHome != nullptr)
        ::setenv("HOME", restore.c_str(), 1);

    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0].insertIntoProject);
    EXPECT_FALSE(results[1].insertIntoProject);
    ASSERT_FALSE(results[0].stemFiles[0].empty());
    ASSERT_FALSE(results[1].mixFile.empty());
    EXPECT_EQ(fs::path(results[0].stemFiles[0]).parent_path().string(), folder);
    EXPECT_EQ(fs::path(results[1].mixFile).parent_path().string(), folder);
    EXPECT_EQ(filesIn(folder).size(), 2u);
}

TEST(OfflineRenderStart, InsideAProjectTheFilesGoIntoItForInsertion)
{
    const std::string dir = freshDir("project");
    auto sampler = std::make_unique<Sampler>();
    sampler->setSampleRate(kRate);
    sampler->appendSample(2, SampleData{audio(sine(300.0, kRate, 2400, 0.5)), 0, 0});
    sampler->lastParams[2] = played();
    FXLane bus1, bus2;
    RenderCapture capture;
    captureRender(RenderKind::Stems, *sampler, bus1, bus2, true, MasterFXState{}, capture);
    std::vector<RenderResult> results;
    ASSERT_TRUE(startRender(
        *sampler, capture, dir, [](std::function<void()> job) { job(); },
        [&](RenderResult r) { results.push_back(std::move(r)); }));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].insertIntoProject);
    EXPECT_EQ(fs::path(results[0].stemFiles[2]).parent_path().string(), dir);
}

TEST(OfflineRenderTail, EveryModuleTypeRendersThroughAnOfflineBus)
{
    // Each registered module alone on a bus, at its default knob values, over a short burst of
    // noise: the stem stays finite, keeps at least its own length and rings out for 30 s at most.
    constexpr double rate = 16000.0;
    const std::vector<float> burst = noise(1600, 7, 0.3);
    int rendered = 0;
    for (uint32_t id = 1; id <= uint32_t(kNumFXTypes); ++id) {
        const FXModuleInfo* info = getFXModuleInfo(id);
        if (info == nullptr || info->vtable == nullptr)
            continue;
        LaneFXSnapshot s;
        s.slotCount = 1;
        s.slots[0].type = uint8_t(id);
        for (uint32_t k = 0; k < info->paramCount && k < uint32_t(kMaxFXParams); ++k)
            s.slots[0].params[k] = info->paramDefaults[k];
        FXLane fx;
        buildOfflineLane(s, fx, rate);
        ASSERT_EQ(fx.slotCount, 1) << info->name;
        std::vector<float> l = burst, r = burst;
        processLaneWithTail(fx, l, r, rate);
        EXPECT_GE(l.size(), burst.size()) << info->name;
        EXPECT_LE(l.size(), burst.size() + size_t(30 * rate)) << info->name;
        EXPECT_EQ(l.size(), r.size()) << info->name;
        bool finite = true;
        for (size_t i = 0; i < l.size() && finite; ++i)
            finite = std::isfinite(l[i]) && std::isfinite(r[i]);
        EXPECT_TRUE(finite) << info->name;
        if (id == uint32_t(FXType::Delay) || id == uint32_t(FXType::Reverb)) {
            EXPECT_GT(l.size(), burst.size() + size_t(0.05 * rate)) << info->name << " rings out";
        }
        ++rendered;
    }
    RecordProperty("modules", rendered);
}
