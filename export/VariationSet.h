// Variation sets: N variations of the current kit rendered in one go into named files, each one
// Random trigger whose seed comes from the set's base seed and the variation's number, rendered
// offline exactly as "Export Mix" / "Export Stems" render the last trigger.
//
// Design: a set starts from a copy of the instance's engine taken once, on the main thread under
// the state mutex (the pools with their shared, immutable audio, the draws, the lock and
// mute/solo masks, both buses' modules and knob values, the master settings, the salt). From
// then on nothing of the live instance is touched: every render thread owns a sampler of its own,
// resets it to that copy before each variation, triggers it with the variation's seed and renders
// it with fresh buses and a fresh master chain, as an export does. So variation n sounds exactly
// as "Random with seed S(n), then Export" would from the moment the set started, whichever thread
// rendered it and in whichever order, and a set, a shard of it or a single file can be made again
// from the base seed alone.
//
// Files: every name is checked before the first variation is rendered (unknown tokens, two files
// named alike, names already taken in the folder), so a set never overwrites anything and never
// stops half-way for a naming fault. Each file is written under a hidden temporary name and
// linked into place only when complete; a failure (disk full, folder gone) removes the temporary
// file, stops the set and leaves a manifest of what was written.
//
// Threads: the set runs off the audio thread, on its own threads (one or two); see
// VariationSetRunner for the main thread's handle on it.
#pragma once

#include "engine/Config.h"
#include "engine/Grain.h"
#include "engine/SamplePool.h"
#include "engine/Sampler.h"
#include "engine/VoiceParams.h"
#include "export/OfflineRender.h"
#include "fx/MasterFX.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vesk {

inline constexpr int kMaxSetCount = 1000;
inline constexpr int kMaxSetThreads = 2;
inline constexpr const char* kDefaultSetTemplate = "{kit}_{n:02}";

enum class SetWhat : uint8_t
{
    Mix,
    Stems,
    Both,
};

enum class SetFormat : uint8_t
{
    Float32, // 32-bit float, as Export writes
    Pcm24,
    Pcm16, // with triangular dither
};

enum class SetLevel : uint8_t
{
    None,
    Loudness, // integrated loudness target, LUFS, under the true-peak ceiling
    Peak,     // sample peak target, dBFS
};

// What a set is asked to be. Text form: one "key=value" per line (parseSetRequest).
struct VariationSetRequest
{
    int count = 20; // 1..1000
    SetWhat what = SetWhat::Mix;
    std::string nameTemplate = kDefaultSetTemplate;
    SetFormat format = SetFormat::Float32;
    SetLevel level = SetLevel::None;
    double loudnessLufs = -16.0; // -70..0
    double peakDbfs = -1.0;      // -60..0
    double ceilingDbtp = -1.0;   // -20..0
    bool hasSeed = false;        // without one, the set draws a base seed of its own
    uint64_t baseSeed = 0;
    // The folder the files go into (created when missing; names in it are never replaced).
    // Empty: a new folder for the set under the export folder.
    std::string outFolder;
    int shardIndex = 1; // 1..shardCount: this run renders only its share of the variations
    int shardCount = 1; // 1..1000
    int threads = kMaxSetThreads;
    // The render threads run at a lowered priority, giving way to live playback (the editor's
    // sets); false for sets nothing plays beside (the command line, benchmarks).
    bool background = true;
    std::time_t timeStamp = -1; // the set's date; -1: when it starts
};

// Reads the text form: keys count, what (mix|stems|both), name, format (f32|24|16), loudness
// (LUFS, or "none"), peak (dBFS), ceiling (dBTP), seed (decimal or 0x hex), out, shard (I/N),
// threads, priority (low|normal), time (seconds since 1970). Blank lines and lines starting with
// '#' are skipped. False with a one-line reason on the first fault; `out` then holds what was read
// before it.
bool parseSetRequest(std::string_view text, VariationSetRequest& out, std::string& error);
// The text form of a request (parseSetRequest reads it back unchanged).
std::string formatSetRequest(const VariationSetRequest& request);
// Range checks of a request built in code; false with the reason.
bool validateSetRequest(const VariationSetRequest& request, std::string& error);

// A parsed naming template: literal text and the tokens {kit} {n} {n:0W} {pool} {seed} {date}.
struct NameTemplate
{
    enum class Token : uint8_t
    {
        Text,
        Kit,
        Number,
        Pool,
        Seed,
        Date,
    };
    struct Part
    {
        Token token = Token::Text;
        std::string text; // Text only
        int width = 0;    // Number only: zero-padded to this many digits (0: none)
    };
    std::vector<Part> parts;
    bool hasPool = false;
    bool hasNumberOrSeed = false;
};

// False with the reason for an empty template, an unknown token or an unclosed brace.
bool parseNameTemplate(std::string_view text, NameTemplate& out, std::string& error);

struct NameFields
{
    std::string kit; // the instance's track name, or "Vesk"
    int n = 1;       // the variation's number, from 1
    int pool = 0;    // 1..8 for a stem, 0 for the mix
    uint64_t seed = 0;
    std::string date; // YYYYMMDD
};

// The file name (with ".wav") a template gives; a stem whose template names no pool gets "_<pool>"
// before the extension. Sanitised for every common file system.
std::string expandName(const NameTemplate& tmpl, const NameFields& fields);

// A name every common file system takes: no path separators, control characters or the
// characters Windows refuses, no leading dot or trailing dot or space, no reserved device name,
// at most 200 bytes (cut on a UTF-8 character boundary); never empty.
std::string sanitizeFileName(std::string_view name);

// The message seed of variation n (1-based) of a set: distinct for every n of one base seed.
uint64_t variationSeed(uint64_t baseSeed, int n);

// The variations [first, last] (1-based, inclusive) a shard renders; empty (first > last) when
// the shard has none.
void shardRange(int count, int shardIndex, int shardCount, int& first, int& last);

// A copy of everything a set renders from, taken at its start.
struct VariationSetSource
{
    std::array<SamplePool, kNumPools> pools;
    std::array<VoiceParams, kNumPools> lastParams{};
    std::array<VoiceParams, kNumPools> frozenParams{};
    std::array<WalkState, kNumPools> walks{};
    std::array<int32_t, kNumPools> stealCursor{};
    uint8_t freezeMask = 0;
    uint8_t soloMask = 0;
    uint8_t muteMask = 0;
    bool retriggerMode = true;
    double rate = 48000.0;
    uint64_t salt = 0;
    LaneFXSnapshot lanes[kNumLanes];
    bool bus1ToMaster = true;
    MasterFXState master;
    std::string kitName = "Vesk";
    std::string exportRoot; // the host project's folder, or "" (the default export folder)
    ModuleLookup moduleLookup = nullptr;
};

// The copy is taken in two steps, so the audio thread is held up only for plain copies:
// [main thread, without the state mutex] the pools' sample lists and the settings only the main
// thread changes (the display overviews and peaks are not copied);
void captureVariationSetSettings(const Sampler& sampler, VariationSetSource& out);
// [main thread, under the state mutex] what the audio thread changes: the knobs a host modulates,
// what triggers change (pick history, last and locked draws, walks, masks), both buses, the
// master settings and the salt; allocates nothing.
void captureVariationSetDraws(const Sampler& sampler, const FXLane& bus1, const FXLane& bus2,
                              bool bus1ToMaster, const MasterFXState& master, uint64_t salt,
                              VariationSetSource& out);
// [main thread, under the state mutex, or with no audio thread running] Both at once.
void captureVariationSetSource(const Sampler& sampler, const FXLane& bus1, const FXLane& bus2,
                               bool bus1ToMaster, const MasterFXState& master, uint64_t salt,
                               VariationSetSource& out);

// The files of the source's pools whose audio could not be read, "" when none; a set refuses to
// start without them.
std::string missingSampleFiles(const VariationSetSource& source);

// One variation's sound, before levels and formats.
struct RenderedVariation
{
    std::vector<float> mixLeft, mixRight;                   // empty when the mix is not asked for
    std::array<Sampler::PoolRenderResult, kNumPools> stems; // hasAudio false when not asked for
};

// Renders variations one by one on the calling thread, with a sampler of its own.
class VariationRenderer
{
public:
    VariationRenderer();
    ~VariationRenderer();
    VariationRenderer(const VariationRenderer&) = delete;
    VariationRenderer& operator=(const VariationRenderer&) = delete;

    // Random with `seed` from the source's state, then the mix and/or stems as Export renders
    // them. False when `cancel` was raised on the way.
    bool render(const VariationSetSource& source, uint64_t seed, SetWhat what,
                RenderedVariation& out, const std::atomic<bool>* cancel = nullptr);

private:
    std::unique_ptr<Sampler> sampler_;
};

// One file of a set, as the manifest lists it.
struct SetFileRecord
{
    std::string file; // name inside the set folder
    int n = 0;
    int pool = 0; // 1..8 for a stem, 0 for the mix
    uint64_t seed = 0;
    uint64_t frames = 0;
    double seconds = 0.0;
    double loudnessLufs = 0.0; // integrated loudness of the file as written; -inf when silent
    double truePeakDbtp = 0.0;
    double gainDb = 0.0;
    bool atCeiling = false; // the loudness target would have pushed the true peak over the ceiling
};

struct VariationSetResult
{
    bool ok = false;
    bool cancelled = false;
    std::string error; // one line, when not ok and not cancelled
    std::string folder;
    uint64_t baseSeed = 0;
    int variationsDone = 0;
    int variationsTotal = 0;
    std::vector<SetFileRecord> files;      // in order of variation, then pool (the mix first)
    std::string manifestCsv, manifestJson; // paths, "" when not written
};

// Progress of a running set, readable from any thread.
struct SetProgress
{
    std::atomic<int> done{0};
    std::atomic<int> total{0};
};

// [any thread but the audio thread] Renders a set on request.threads threads and returns when it
// ends (finished, failed or cancelled).
VariationSetResult renderVariationSet(const VariationSetSource& source,
                                      const VariationSetRequest& request,
                                      SetProgress* progress = nullptr,
                                      const std::atomic<bool>* cancel = nullptr);

// A set running in the background, for the editor: start it from the main thread, poll its
// progress from a timer, cancel it, collect the result. Destroying the runner cancels the set and
// waits for its threads.
class VariationSetRunner
{
public:
    VariationSetRunner() = default;
    ~VariationSetRunner();
    VariationSetRunner(const VariationSetRunner&) = delete;
    VariationSetRunner& operator=(const VariationSetRunner&) = delete;

    // [main thread] Starts a set; false with the reason (a set already running, a bad request,
    // missing samples) and nothing started.
    bool start(std::shared_ptr<const VariationSetSource> source, VariationSetRequest request,
               std::string& error);
    // [any thread] n of N, and whether the set is still running.
    int done() const { return progress_.done.load(std::memory_order_relaxed); }
    int total() const { return progress_.total.load(std::memory_order_relaxed); }
    bool running() const { return running_.load(std::memory_order_acquire); }
    enum class Outcome : uint8_t
    {
        Running, // or never started
        Finished,
        Failed,
        Cancelled,
    };
    // [any thread] How the set ended, without waiting for anything.
    Outcome outcome() const { return outcome_.load(std::memory_order_acquire); }
    // [any thread] Asks the set to stop after the files being written; only complete files stay.
    void cancel() { cancel_.store(true, std::memory_order_relaxed); }
    // [main thread] Once running() is false: the result (joins the set's thread).
    const VariationSetResult& result();

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<Outcome> outcome_{Outcome::Running};
    std::atomic<bool> cancel_{false};
    SetProgress progress_;
    VariationSetResult result_;
};

} // namespace vesk
