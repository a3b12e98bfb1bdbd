// One plug-in instance as the host sees it.
//
// The instance owns everything inline (sampler, FX buses, master chain, rings, snapshots), so it
// is large and is allocated once, 64-byte aligned, by the factory, and never copied. Its CLAP
// functions are static members that find the instance through plugin_data. Three threads enter:
// the host's main thread (lifecycle, extensions, state, main-thread pass), the host's audio
// thread (process, reset) and the instance's one worker thread (loads, renders).
#pragma once

#include "WorkerPool.h"
#include "plugin/clap/Clap12.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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
    static void clapGuiSuggestTitle(const clap_plugin_t* plugin, const char* title);
    static bool clapGuiShow(const clap_plugin_t* plugin);
    static bool clapGuiHide(const clap_plugin_t* plugin);

    // [main thread] Asks the host for a clapOnMainThread call; context is the instance.
    static void requestMainThreadCallback(void* context);

    // [main thread] Title the editor window would carry for the current track name.
    std::string windowTitle() const;

    // Members, in the order they are laid out.
    const clap_host_t* host;
    clap_plugin_t clapPlugin{};
    clap_plugin_audio_ports_t audioPortsExt{};
    clap_plugin_latency_t latencyExt{};
    clap_plugin_render_t renderExt{};
    std::atomic<bool> offlineRender{false};
    clap_plugin_state_t stateExt{};
    const clap_host_state_t* hostState = nullptr;
    clap_plugin_gui_t guiExt{};
    bool guiWindowOpen = false;
    std::atomic<bool> guiClosedPending{false};
    double sampleRate = 48000.0;
    double loadedSampleRate = 48000.0;
    // Rate the master chain's limiter was last given; the reported latency is its look-ahead.
    double limiterRate = 48000.0;
    std::mutex stateMutex;
    std::atomic<bool> autoSplit{false};
    std::string projectRoot;
    std::vector<uint8_t> keptState;
    bool hasKeptState = false;
    bool suppressDirty = false;
    int32_t missingFiles = 0;
    clap_plugin_track_info_t trackInfoExt{};
    char trackName[64] = {};
    std::atomic<bool> trackMuted{false};
    bool muteLatch = false;
    uint32_t callbackCounter = 0;
    vesk::WorkerPool workers;
    std::atomic<int32_t> pendingJobs{0};
    clap_plugin_note_ports_t notePortsExt{};
};
