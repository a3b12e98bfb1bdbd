// One plug-in instance as the host sees it.
//
// The instance owns everything inline (sampler, FX buses, master chain, rings, snapshots), so it
// is large and is allocated once, 64-byte aligned, by the factory, and never copied. Its CLAP
// functions are static members that find the instance through plugin_data. Three threads enter:
// the host's main thread (lifecycle, extensions, state, main-thread pass), the host's audio
// thread (process, reset) and the instance's one worker thread (loads, renders).
#pragma once

#include "CommandQueues.h"
#include "Params.h"
#include "VeskHostCommands.h"
#include "VeskParamGestures.h"
#include "VeskState.h"
#include "WorkerPool.h"
#include "plugin/clap/Clap12.h"

#include "audio_files/RawAudioCache.h"
#include "engine/Config.h"
#include "engine/Sampler.h"
#include "export/RenderReport.h"
#include "export/RenderResult.h"
#include "export/VeskReaperBridge.h"
#include "fx/FXLane.h"
#include "fx/MasterFX.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A trigger that waits for the state mutex (audio thread only).
struct DeferredTrigger
{
    enum class Kind : uint8_t
    {
        Note,
        Random,
        PlaySample,
        Replay,
        StopPool,
        StopAll,
    };
    Kind kind = Kind::Random;
    uint64_t seed = 0;       // the message seed, before the instance's salt is mixed in
    int32_t target = 0;      // note for Note; pool for PlaySample and StopPool
    int32_t sampleIndex = 0; // for PlaySample
};

// Expression targets and the five-entry modulation bus that drives FX knobs.
struct ModulationInput
{
    float pressureTarget = 0.0f;
    float slideTarget = 0.0f;
    float bendTarget = 0.0f;
    float velocity = 0.0f;
    float modBus[vesk::kModBusSize] = {}; // None, Pressure, Slide, Bend, Velocity
    double modSmoothing = 1.0;            // smoothing time constant in samples
};

// Per-MIDI-channel expression values and which channels hold notes.
struct ChannelExpression
{
    float channelPressure[16] = {};
    float channelSlide[16] = {};
    float channelBend[16] = {};
    uint8_t heldNotes[16] = {};
    int8_t channelStack[16] = {}; // channels holding notes, first pressed first
    uint8_t channelStackSize = 0;
};

// A finished load job, applied by the next main-thread pass.
struct LoadResult
{
    int32_t pool = 0;
    std::vector<vesk::SampleData> samples;
    std::vector<std::array<float, vesk::kDisplayPeaks>> peaks; // per region, made on the worker
    std::string path;
    bool ok = false;
    uint32_t stateLoads = 0; // the instance's state loads when it was asked for
};

// Host parameters on the audio thread (plugin/Params.h has the table). Everything here belongs to
// whoever runs process or flush (the host never runs both at once).
struct ParamRuntime
{
    // What an event changes: the value, the global modulation amount, or the amount aimed at one
    // note (by note id or key), which the next note-on takes away again.
    enum Change : uint8_t
    {
        Value,
        Mod,
        NoteMod,
    };
    // Values that arrived while the state mutex was busy; the next block that holds it applies
    // them (the newest of each parameter wins). Amounts need no lock: they live here and reach
    // the engine's fields only inside a render.
    double pendingValue[vesk::params::kCount] = {};
    bool pendingValueSet[vesk::params::kCount] = {};
    bool anyPending = false;
    // The host's modulation amounts (in the parameter's unit): global, aimed at a note, and the
    // sum that is heard (within ± the parameter's span); how many sums are not 0.
    float globalMod[vesk::params::kCount] = {};
    float noteMod[vesk::params::kCount] = {};
    float mod[vesk::params::kCount] = {};
    int32_t modCount = 0;
    int32_t noteModCount = 0;
    // While a block renders: the engine fields as they were before the amounts went on. A field
    // holds value + amount exactly while `modulating` is set and its amount is not 0.
    float saved[vesk::params::kCount] = {};
    bool modulating = false;

    // Values and amounts of one pool's own sound (volume, pan, pitch, their spreads, start,
    // filters, reverse) are not worth cutting the whole block for: they wait here, in the
    // block's frames, and renderRange splits only that pool's voices at them. Everything else
    // (switches, buses) cuts the block as notes do. The master chain's parameters wait here too,
    // and only the master chain is cut at them.
    struct Queued
    {
        uint32_t frame = 0;
        uint16_t index = 0; // in the parameter table
        Change change = Value;
        bool applied = false;
        int8_t pool = 0;    // the table's, kept here: the table's rows are large; or kMasterQueue
        bool live = false;  // read by the voices while they play (volume, pan, pitch, filters)
        double value = 0.0; // sanitised
    };
    static constexpr int8_t kMasterQueue = -1;
    static constexpr uint32_t kMaxQueued = 1024;
    Queued queued[kMaxQueued];
    uint32_t queuedCount = 0;
};

namespace vesk {
class StateSerializer;
class GuiWindow;
class GuiHostPump;
} // namespace vesk

class VeskPlugin;

// What the plug-in file adds when it carries the editor: the CLAP GUI tables and the process-wide
// editor runtime. The engine libraries and their tests have none (VeskPlugin::guiHooks is null),
// so an instance without an editor does not offer clap.gui at all.
struct VeskGuiHooks
{
    const clap_plugin_gui_t* gui;
    const clap_plugin_timer_support_t* timerSupport;
    const clap_plugin_posix_fd_support_t* posixFdSupport;
    void (*destroyEditor)(VeskPlugin& plugin); // [main thread] closes the editor, if open
    void (*titleChanged)(VeskPlugin& plugin);  // [main thread] the track name changed
    void (*shutdownRuntime)();                 // [main thread] at clap_entry.deinit
    void (*log)(const char* message);          // the GUI log (written only when enabled)
};

class VeskPlugin
{
public:
    // [main thread] Throws when the worker thread cannot be started.
    explicit VeskPlugin(const clap_host_t* host);
    ~VeskPlugin();

    VeskPlugin(const VeskPlugin&) = delete;
    VeskPlugin& operator=(const VeskPlugin&) = delete;

    // [main thread] Process-wide teardown at clap_entry.deinit (editor runtime, if started).
    static void shutdownProcessRuntime();

    // Set by the plug-in file before the first instance when it carries the editor.
    static const VeskGuiHooks* guiHooks;

    static VeskPlugin* from(const clap_plugin_t* plugin)
    {
        return plugin != nullptr ? static_cast<VeskPlugin*>(plugin->plugin_data) : nullptr;
    }

    // clap_plugin functions
    static bool clapInit(const clap_plugin_t* plugin);
    static void clapDestroy(const clap_plugin_t* plugin);
    static bool clapActivate(const clap_plugin_t* plugin, double rate, uint32_t minFrames,
                             uint32_t maxFrames);
    static void clapDeactivate(const clap_plugin_t* plugin);
    static bool clapStartProcessing(const clap_plugin_t* plugin);
    static void clapStopProcessing(const clap_plugin_t* plugin);
    static void clapReset(const clap_plugin_t* plugin);
    static clap_process_status clapProcess(const clap_plugin_t* plugin,
                                           const clap_process_t* process);
    static const void* clapGetExtension(const clap_plugin_t* plugin, const char* id);
    static void clapOnMainThread(const clap_plugin_t* plugin);

    // extensions
    static uint32_t clapAudioPortsCount(const clap_plugin_t* plugin, bool isInput);
    static bool clapAudioPortsGet(const clap_plugin_t* plugin, uint32_t index, bool isInput,
                                  clap_audio_port_info_t* info);
    static uint32_t clapNotePortsCount(const clap_plugin_t* plugin, bool isInput);
    static bool clapNotePortsGet(const clap_plugin_t* plugin, uint32_t index, bool isInput,
                                 clap_note_port_info_t* info);
    static uint32_t clapLatencyGet(const clap_plugin_t* plugin);
    static bool clapRenderHasHardRealtimeRequirement(const clap_plugin_t* plugin);
    static bool clapRenderSet(const clap_plugin_t* plugin, clap_plugin_render_mode mode);
    static void clapTrackInfoChanged(const clap_plugin_t* plugin);
    static bool clapStateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream);
    static bool clapStateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream);
    static bool clapGuiIsApiSupported(const clap_plugin_t* plugin, const char* api,
                                      bool isFloating);
    static bool clapGuiGetPreferredApi(const clap_plugin_t* plugin, const char** api,
                                       bool* isFloating);
    static bool clapGuiCreate(const clap_plugin_t* plugin, const char* api, bool isFloating);
    static void clapGuiDestroy(const clap_plugin_t* plugin);
    static bool clapGuiSetScale(const clap_plugin_t* plugin, double scale);
    static bool clapGuiGetSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
    static bool clapGuiCanResize(const clap_plugin_t* plugin);
    static bool clapGuiGetResizeHints(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints);
    static bool clapGuiAdjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
    static bool clapGuiSetSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height);
    static bool clapGuiSetParent(const clap_plugin_t* plugin, const clap_window_t* window);
    static bool clapGuiSetTransient(const clap_plugin_t* plugin, const clap_window_t* window);
    static bool hostCommandSend(const clap_plugin_t* plugin, uint8_t type, const void* payload,
                                uint32_t size);
    static uint32_t clapParamsCount(const clap_plugin_t* plugin);
    static bool clapParamsGetInfo(const clap_plugin_t* plugin, uint32_t index,
                                  clap_param_info_t* info);
    static bool clapParamsGetValue(const clap_plugin_t* plugin, clap_id id, double* value);
    static bool clapParamsValueToText(const clap_plugin_t* plugin, clap_id id, double value,
                                      char* display, uint32_t size);
    static bool clapParamsTextToValue(const clap_plugin_t* plugin, clap_id id, const char* display,
                                      double* value);
    static void clapParamsFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                                const clap_output_events_t* out);
    static void clapGuiSuggestTitle(const clap_plugin_t* plugin, const char* title);
    static bool clapGuiShow(const clap_plugin_t* plugin);
    static bool clapGuiHide(const clap_plugin_t* plugin);

    // [main thread] Asks the host for a clapOnMainThread call; context is the instance.
    static void requestMainThreadCallback(void* context);

    // [main thread] Title the editor window would carry for the current track name.
    std::string windowTitle() const;

    // ---- Engine control (audio thread) ----

    // [audio thread] Runs one trigger; the caller holds stateMutex.
    void executeTrigger(const DeferredTrigger& trigger);
    // [audio thread] Renders frames [begin, end) of the host buffers in chunks of at most 4096.
    void renderRange(float* left, float* right, uint32_t begin, uint32_t end,
                     const vesk::LaneRouting& routing, float* levels);
    // [audio thread] Queues a trigger that could not run (the mutex was busy).
    void deferTrigger(const DeferredTrigger& trigger);
    // [audio thread] The next fresh message seed (live notes, a Random message without one).
    uint64_t nextFreshSeed();
    // [audio thread] A muted block's notes: channels pressed and released, nothing triggered.
    void followNotesWhileMuted(const clap_input_events_t* in);
    void pressChannel(int channel);
    void releaseChannel(int channel);
    void refreshModTargets();
    void clearChannelExpression();
    // Targets, velocity and the bus values to zero; the smoothing time stays.
    void clearModulationInput();
    // ---- Host parameters (ParamsExtension.cpp) ----

    // [stateMutex held] The parameter's value as the host sees it (clamped into its range).
    double readParam(const vesk::params::ParamDef& def) const;
    // [stateMutex held] Sets an already sanitised value into the engine field the editor's
    // command for it sets.
    void writeParam(const vesk::params::ParamDef& def, double value);
    // [audio thread, or flush] One CLAP_EVENT_PARAM_VALUE or _PARAM_MOD event (others are
    // ignored). A value is applied at once when `locked`, else kept for the next locked block;
    // an amount is taken at once either way. True when the engine changed.
    bool applyParamEvent(const clap_event_header_t* event, bool locked);
    // [audio thread, stateMutex held] Applies what applyParamEvent kept.
    void applyPendingParams();
    // [audio thread, stateMutex held] A sanitised value or amount, at once (modulation-aware
    // inside a render).
    void applyParamNow(int index, ParamRuntime::Change change, double value);
    // [audio thread] A note-on: the amounts aimed at a note are gone.
    void clearNoteModulation();
    // [audio thread, stateMutex held] Queues a pool's own parameter event at `frame` for
    // renderRange; false when it is not such an event, is invalid or the queue is full (then the
    // caller applies it through applyParamEvent). Ignored events count as queued.
    bool queuePoolParamEvent(const clap_event_header_t* event, uint32_t frame);
    // [audio thread, stateMutex held] Applies the queued events renderRange has not reached (the
    // block was rendered up to their frame) and empties the queue.
    void applyQueuedParams();
    // [audio thread, stateMutex held] Renders `frames` frames of a pool's voices (host frames
    // from `begin`) into left/right (which point at `begin`), applying its queued parameter
    // events at their frames; not audible: rendered silently. Returns the peak.
    float renderPoolSplit(int pool, float* left, float* right, uint32_t begin, uint32_t frames,
                          bool audible);
    void modulateField(int index);
    void unmodulateField(int index);
    // [audio thread, stateMutex held] Puts the modulation amounts on top of the fields for a
    // render or a trigger, and takes them off again; false (and nothing done) without any.
    bool beginModulation();
    void endModulation();
    // [audio thread] Forgets every modulation amount (reset, deactivation).
    void clearParamModulation();
    // [main thread] After the editor's commands: when a parameter's value moved, the host is
    // told to read the values again (shown, not recorded as automation).
    void reportEditorParamChanges();

    // [audio thread] Writes the live per-pool values into both snapshot buffers.
    void publishLiveValues(const float* levels);

    // ---- Main thread ----

    // [main thread] Applies every queued command (forwarded ones first, then the ring's).
    void processCommands();
    // [main thread] Applies one command; the dispatcher of the message ids.
    void applyCommand(uint8_t type, const uint8_t* payload, uint32_t size);
    // [main thread] The FX-bus and master-chain messages; false when the id is not one of them
    // or the message was refused. Marks the state changed itself.
    bool applyFxCommand(uint8_t type, const uint8_t* payload, uint32_t size);
    // [main thread] Drops a kept unreadable state and tells the host the project changed.
    void markStateChanged();
    // [main thread, stateMutex held] Takes a salt read from a state; false (and the salt stays)
    // when another live instance holds it.
    bool adoptSalt(uint64_t salt);
    // [main thread, stateMutex held] Takes a new salt that no live instance holds.
    void takeFreshSalt();
    // [main thread] Applies queued commands and finished loads.
    void drainPendingWork();
    // [main thread] The project directory (from REAPER), or the last one known.
    std::string currentProjectRoot();
    // [main thread] Builds the snapshot and publishes it.
    void syncState();
    // [main thread, under stateMutex] Rebuilds a pool's 28000-bin overview of a sample's file.
    void rebuildOverview(int pool, int sampleIndex);
    // [main thread, stateMutex held by the caller] Writes or reads the body of the saved state
    // (after the header); false at the first transfer that fails, with what was read so far
    // applied.
    bool serializeState(vesk::StateSerializer& s);
    // [main thread] Samples of a pool read from a state: stored paths resolved, files decoded.
    bool serializePoolSamples(vesk::StateSerializer& s, int pool, const std::string& storedRoot,
                              const std::string& currentRoot, double decodeRateHz,
                              double offsetScale);
    // [main thread] Posts a load job for a file.
    void postLoadJob(int pool, const std::string& path);
    // [main thread] Starts a stems or mix render of the last trigger.
    void startRender(bool mix);
    // [main thread] Follows the REAPER track's mute switch.
    void pollTrackMute();
    // [main thread] Inserts finished renders into the REAPER project.
    void insertRenderResults();

    // Members, in the order they are laid out.
    DeferredTrigger deferredTriggers[64];
    int32_t deferredTriggerCount = 0;
    const clap_host_t* host;
    clap_plugin_t clapPlugin{};
    clap_plugin_audio_ports_t audioPortsExt{};
    clap_plugin_latency_t latencyExt{};
    clap_plugin_render_t renderExt{};
    std::atomic<bool> offlineRender{false};
    clap_plugin_state_t stateExt{};
    const clap_host_state_t* hostState = nullptr;
    vesk::GuiWindow* guiWindow = nullptr; // owned; made and deleted by the editor's bridge
    vesk::GuiHostPump* guiPump = nullptr; // owned; the editor's share of the host's loop
    bool guiFloating = false;
    double guiHostScale = 0.0; // the scale the host gave through set_scale; 0 when none
    std::atomic<bool> guiClosedPending{false};
    double sampleRate = 48000.0;
    double loadedSampleRate = 48000.0;
    vesk::Sampler sampler;
    vesk::MasterFX masterFx;
    vesk::FXLane lanes[vesk::kNumLanes];
    ModulationInput modInput;
    ChannelExpression channels;
    alignas(64) float busBuffers[4][8192] = {};
    std::mutex stateMutex;
    std::atomic<bool> autoSplit{false};
    CommandQueues queues;
    vesk::VeskState snapshots[2];
    std::atomic<int32_t> publishedSnapshot{0};
    VeskBackend backend;
    std::string projectRoot;
    std::vector<uint8_t> keptState;
    bool hasKeptState = false;
    bool suppressDirty = false;
    int32_t missingFiles = 0;
    std::vector<PendingCommand> pendingCommands;
    std::mutex pendingMutex;
    VeskReaperBridge reaperBridge;
    clap_plugin_track_info_t trackInfoExt{};
    char trackName[64] = {};
    std::atomic<bool> trackMuted{false};
    vesk::reaper::MediaTrack* ownTrack = nullptr; // the instance's REAPER track, by name
    bool muteLatch = false;
    uint32_t callbackCounter = 0;
    std::atomic<bool> resetPending{false}; // clapReset, carried out by the next locked block
    // The salt mixed into every trigger's seed (SeedSalt.h): written on the main thread and read
    // on the audio thread, both under stateMutex.
    uint64_t seedSalt = 0;
    uint64_t freshSeedState = 0;       // [audio thread] the run of fresh seeds, from the system
    int64_t framesSinceActivation = 0; // [audio thread] the song position without a transport
    // [main thread] A load found its salt held by another instance and took a new one; the next
    // main-thread pass tells the host the project changed.
    bool saltChangePending = false;
    uint32_t stateLoads = 0; // [main thread] states loaded, published for the editor
    vesk::WorkerPool workers;
    std::atomic<int32_t> pendingJobs{0};
    std::mutex loadMutex;
    std::vector<LoadResult> loadResults;
    std::mutex renderMutex;
    std::vector<vesk::RenderResult> renderResults;
    vesk::RenderReport exportReport;   // [main thread] the last export's line, for the editor
    std::string exportReportPublished; // [main thread] the line the snapshot holds, uncut
    clap_plugin_note_ports_t notePortsExt{};
    vesk_plugin_host_commands_t hostCommandsExt{};
    std::atomic<uint8_t> visiblePools{15};
    std::atomic<uint8_t> soloShadow{0};
    std::atomic<uint8_t> muteShadow{0};
    uint8_t freezeShadow = 0;
    bool bus1ToMaster = false;
    vesk::VeskState staging;
    vesk::RawAudioCache rawAudioCache;
    clap_plugin_params_t paramsExt{};
    const clap_host_params_t* hostParams = nullptr;
    std::atomic<bool> activated{false};
    double paramsSeen[vesk::params::kCount] = {}; // [main thread] as last reported to the host
    ParamRuntime paramRuntime;
    // The editor's gestures on parameters, handed to the host (VeskParamGestures.h).
    VeskParamGestures paramGestures;
    // The editor's variation sets (VeskEditorSets, behind backend.sets); last, so a set still
    // running is cancelled and joined before anything else of the instance goes.
    std::unique_ptr<vesk::VariationSetControl> editorSets;
};
