// Offline render of the last trigger: one WAV file per pool ("Export Stems") or one file of the
// whole mix through both FX buses and the master chain ("Export Mix").
//
// Design: an export is split where the data stop being shared. Under the state mutex the command
// takes a capture (the plan of what each pool last played, the routes, both buses' modules and
// knob values, the master settings, the rate and the seed) — plain values, nothing that points
// into the engine except the pools the dry render reads. The dry voices are then rendered on the
// main thread (they read the pools' live settings, which only the main thread changes), and
// everything after that — private FX buses with their tails, the master chain, the files — runs
// as one job on the worker, touching only what the job owns. The job's RenderResult goes back
// to the main thread through the caller's hand-back.
//
// Bounds: every loop is bounded whatever a damaged state holds. A stem is never longer than its
// delay (at most 3 s) plus its expected length plus the 30 s tail limit; an FX or master tail
// never exceeds 30 s.
//
// Files: "Vesk_<time>_<pool>_<id>.wav" and "Vesk_Mix_<time>_<id>.wav", 32-bit float, never
// overwriting an existing file (a taken name gets "-2", "-3", ...). A file that could not be
// written completely is removed and never reported. Inside a host project the files go into the
// project folder and are to be inserted into it; without a project folder they go into the
// default export folder and stay files on disk.
#pragma once

#include "engine/Config.h"
#include "engine/Sampler.h"
#include "export/RenderResult.h"
#include "fx/FXLane.h"
#include "fx/FXModule.h"
#include "fx/MasterFX.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace vesk {

// One bus's modules and knob values as an export sees them (no modulation, no mute or solo).
struct LaneFXSnapshot
{
    struct Slot
    {
        uint8_t type = 0;
        uint8_t bypassed = 0;
        float params[kMaxFXParams] = {};
    };
    uint8_t bypassed = 0;
    int32_t slotCount = 0; // 0..40
    Slot slots[kMaxSlots];
};

// [main thread, under the state mutex]
LaneFXSnapshot captureLaneFX(const FXLane& lane);

// The catalogue offline buses take their modules from: the registry, or a stand-in in tests.
using ModuleLookup = const FXModuleInfo* (*)(uint32_t typeId);

// [worker] Fills a new, empty lane from a snapshot at `rate`: known types with an
// implementation are appended (at most 40), others skipped; modulation stays off.
void buildOfflineLane(const LaneFXSnapshot& snapshot, FXLane& lane, double rate,
                      ModuleLookup lookup = nullptr);

// Longest FX or master tail, seconds.
inline constexpr double kMaxTailSeconds = 30.0;
// A tail ends after this many consecutive blocks whose peak stays below kTailSilence.
inline constexpr int kQuietTailBlocks = 4;
inline constexpr float kTailSilence = 0.0001f;
// Offline FX and master processing block, frames.
inline constexpr unsigned kOfflineBlockFrames = 4096;
// Dry voice render block, frames: a stem ends on a multiple of it (unless cut by the bound).
inline constexpr unsigned kDryBlockFrames = 512;
// Longest trigger delay an export renders, ms (the delay knob's range).
inline constexpr float kMaxRenderDelayMs = 3000.0f;

// [worker] Processes left/right in place through the lane, then lets it ring out: blocks of
// silence until four in a row stay below 0.0001 or 30 s are reached, then trims trailing
// silence back to no less than the input's length.
void processLaneWithTail(FXLane& lane, std::vector<float>& left, std::vector<float>& right,
                         double rate);

// [worker] The same for the master chain.
void processMasterWithTail(MasterFX& master, std::vector<float>& left, std::vector<float>& right,
                           double rate);

enum class RenderKind : uint8_t
{
    Stems,
    Mix,
};

// What the render command takes under the state mutex.
struct RenderCapture
{
    RenderKind kind = RenderKind::Stems;
    std::array<VoiceParams, kNumPools> plan{};
    std::array<PoolRoute, kNumPools> routes{};
    LaneFXSnapshot lanes[kNumLanes];
    bool bus1ToMaster = true;
    MasterFXState master;
    double rate = 48000.0; // engine rate, Hz
    uint64_t id = 0;       // the last trigger's seed
};

// [main thread, under the state mutex] Everything an export needs from the engine.
void captureRender(RenderKind kind, const Sampler& sampler, const FXLane& bus1, const FXLane& bus2,
                   bool bus1ToMaster, const MasterFXState& master, RenderCapture& out);

// Everything the worker's part of an export owns.
struct RenderJob
{
    RenderKind kind = RenderKind::Stems;
    std::array<Sampler::PoolRenderResult, kNumPools> pools;
    std::array<PoolRoute, kNumPools> routes{};
    LaneFXSnapshot lanes[kNumLanes];
    bool bus1ToMaster = true;
    MasterFXState master;
    double rate = 48000.0;
    uint64_t id = 0;
    std::string outputFolder;            // existing project folder, or the default export folder
    bool createFolder = false;           // create outputFolder (and the folders above) when missing
    bool insertIntoProject = false;      // the files belong to the host project
    std::time_t timeStamp = -1;          // the files' time; -1: when the job runs
    ModuleLookup moduleLookup = nullptr; // null: the registry
};

// [worker] The two jobs; each returns the result to hand back.
RenderResult runStemsJob(RenderJob& job);
RenderResult runMixJob(RenderJob& job);
RenderResult runRenderJob(RenderJob& job);

// [main thread] The default export folder: "Exports" inside "Halvoren Vesk" in the user's
// documents folder (beside "FX Chains"); "" when the home folder is unknown.
std::string defaultExportFolder();

// [any thread] Creates the folder and every missing folder above it; true when it is a folder.
bool makeFolders(const std::string& path);

// [main thread, without the state mutex] The rest of the render command: renders the dry voices
// of `capture` on this thread, then posts the job. projectRoot: the host project's folder, or ""
// outside a host project (the files then go into the default export folder and are not meant
// for insertion). post queues a job on the worker; deliver is called on the worker with the
// result (append it to the hand-back list and ask for a main-thread pass). Returns false, and
// posts nothing, when the dry render ran out of memory or no folder is known; `why` then says
// which, in words for the user.
bool startRender(const Sampler& sampler, const RenderCapture& capture,
                 const std::string& projectRoot,
                 const std::function<void(std::function<void()>)>& post,
                 std::function<void(RenderResult)> deliver, std::string* why = nullptr);

// File naming, exposed for tests. The local time as "YYYYMMDDhhmmss".
std::string formatTimeStamp(std::time_t t);
std::string stemFileName(const std::string& stamp, int poolNumber, uint64_t id);
std::string mixFileName(const std::string& stamp, uint64_t id);

// [worker] Writes a WAV file under `name` in `folder` without replacing anything: a taken name
// becomes name-2.wav, name-3.wav, ... Returns the path written, or "" when the file could not be
// written completely (nothing is left behind then); `why` then says what the system reported.
std::string writeNewWav(const std::string& folder, const std::string& name,
                        const std::vector<float>& left, const std::vector<float>& right,
                        double rate, std::string* why = nullptr);

} // namespace vesk
