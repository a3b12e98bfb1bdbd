// vesk-host: a small headless CLAP host for tests, the demo and benchmarks.
//
// It loads a .clap file, creates one plug-in instance, offers the host extensions the plug-in
// uses (state with a mark_dirty counter, track info, log, thread check, and a slot for a fake
// REAPER), sends note and MIDI events at sample-exact times and renders audio offline in blocks
// of a chosen size. Offline, the main and audio roles run on the calling thread, one after the
// other: main-thread callbacks the plug-in requests are serviced between blocks. A real-time run
// (the editor's, host/HostGui.h) processes blocks on a thread of its own instead.
#pragma once

#include "plugin/Messages.h"
#include "plugin/clap/Clap12.h"

#include <clap/ext/params.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vesk::host {

// A loaded plug-in file. Calls clap_entry.init on load and deinit on destruction.
class PluginLibrary
{
public:
    // Throws std::runtime_error with a clear message when the file cannot be used.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const clap_plugin_entry_t& entry() const { return *entry_; }
    const clap_plugin_factory_t* factory() const { return factory_; }
    const std::string& path() const { return path_; }

    // Called on destruction right after clap_entry.deinit returned, before the file is closed.
    std::function<void()> onDeinit;

private:
    std::string path_;
    void* handle_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory_ = nullptr;
};

// One event to deliver, at a frame counted from the start of the render.
struct TimedEvent
{
    enum class Kind
    {
        NoteOn,
        NoteOff,
        Midi,
        NoteExpression,
        ParamValue, // CLAP_EVENT_PARAM_VALUE: paramId, paramValue
        ParamMod    // CLAP_EVENT_PARAM_MOD: paramId, paramValue as the amount
    };
    Kind kind = Kind::NoteOn;
    uint64_t frame = 0;
    int16_t channel = 0;
    int16_t key = 60;
    int32_t noteId = -1;
    double velocity = 1.0;
    uint8_t midi[3] = {0, 0, 0};
    int32_t expressionId = 0;
    double expressionValue = 0.0;
    uint16_t spaceId = CLAP_CORE_EVENT_SPACE_ID;
    uint32_t paramId = 0;
    double paramValue = 0.0;
};

// A parameter event the plug-in handed to the host (gestures and values from its editor).
struct ParamOutputEvent
{
    uint16_t type = 0; // CLAP_EVENT_PARAM_GESTURE_BEGIN, _VALUE, _GESTURE_END
    uint32_t paramId = 0;
    double value = 0.0;
    uint64_t frame = 0;     // frames processed before the call that carried it
    bool fromFlush = false; // carried by clap.params flush rather than process
};

struct HostOptions
{
    std::string trackName;       // answered by clap.track-info/1 ("" = no name)
    bool offerExtensions = true; // false: get_extension answers null for everything
    bool offerTrackInfo = true;
    // Extra host extensions (the fake REAPER plugs in here); null for ids it does not know.
    std::function<const void*(const char* id)> extraExtension;
    // A playing transport with every block (seconds and beats timelines, 120 bpm, 4/4) whose song
    // position at the first frame after activation is transportStartSeconds; none when false.
    bool sendTransport = false;
    double transportStartSeconds = 0.0;
    // Called from whichever thread the plug-in asks for a main-thread callback on (a real-time
    // run wakes its main loop here); must not block.
    std::function<void()> onCallbackRequest;
};

struct RenderStats
{
    std::vector<double> blockMicros; // processing time per block
    uint64_t frames = 0;
    uint32_t mainThreadCallbacks = 0;
};

class HostedPlugin
{
public:
    // Creates the instance by id and calls init. Throws std::runtime_error on failure.
    HostedPlugin(PluginLibrary& library, const std::string& pluginId, HostOptions options = {});
    ~HostedPlugin();
    HostedPlugin(const HostedPlugin&) = delete;
    HostedPlugin& operator=(const HostedPlugin&) = delete;

    const clap_plugin_t* plugin() const { return plugin_; }
    const clap_host_t* host() const { return &host_; }
    template <typename T> const T* extension(const char* id) const
    {
        return static_cast<const T*>(plugin_->get_extension(plugin_, id));
    }

    bool activate(double rate, uint32_t maxBlock);
    void deactivate();
    bool setRenderMode(bool offline);
    uint32_t latency() const;

    // Services a pending request_callback; returns true when on_main_thread was called.
    bool pumpMainThread();
    // Pumps main-thread callbacks (every 5 ms) until `done` says so or timeoutMs pass; returns
    // whether `done` held. For work the plug-in finishes on its own threads (loads, exports).
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs);

    // Sends one editor message through the plug-in's private command extension; false when
    // the plug-in has none or did not take it.
    bool sendCommand(uint8_t type, const std::vector<uint8_t>& payload);
    // The same for a message's record; false without sending when it does not fit one message.
    template <class R> bool send(const R& message)
    {
        if (!vesk::msg::fits(message))
            return false;
        std::vector<uint8_t> payload(R::kMaxSize);
        payload.resize(message.encode(payload.data()));
        return sendCommand(R::kId, payload);
    }

    // Renders `frames` frames in blocks of blockSize, delivering the events that fall into the
    // render (frame numbers count from the first frame of this call). Output is appended.
    RenderStats render(uint64_t frames, uint32_t blockSize, std::vector<TimedEvent> events,
                       std::vector<float>& left, std::vector<float>& right);

    // The same block by block, for a run whose blocks are paced by the caller: beginRun sets the
    // events (frames counted from the first block that follows), processBlock processes n frames
    // (at most blockSize) on the calling thread, which counts as the audio thread while it does,
    // and appends the output. processBlock services no main-thread callback.
    void beginRun(std::vector<TimedEvent> events, uint32_t blockSize);
    void processBlock(uint32_t frames, std::vector<float>& left, std::vector<float>& right,
                      RenderStats& stats);

    // Called right before and right after each process call (allocation counting in tests).
    std::function<void()> beforeProcess;
    std::function<void()> afterProcess;
    // Called before each block with its first frame (counted from the start of the render call)
    // and its length, on the main thread: the place to send messages or change the fake REAPER
    // at a chosen time.
    std::function<void(uint64_t frame, uint32_t frames)> beforeBlock;

    // Sends `events` (their frames are ignored) through clap.params flush, as a host does while
    // it does not process; false when the plug-in has no clap.params.
    bool flushParams(const std::vector<TimedEvent>& events);
    // Parameter events the plug-in sent out, in order (at most kMaxParamOutput are kept).
    static constexpr size_t kMaxParamOutput = 4096;
    const std::vector<ParamOutputEvent>& paramOutput() const { return paramOutput_; }
    void clearParamOutput() { paramOutput_.clear(); }
    // clap_host_params calls the plug-in made.
    uint32_t paramRescans() const { return paramRescans_; }
    uint32_t paramFlushRequests() const { return paramFlushRequests_; }

    bool saveState(std::vector<uint8_t>& out) const;
    bool loadState(const std::vector<uint8_t>& bytes);

    uint32_t dirtyCount() const { return dirtyCount_; }
    uint32_t callbackRequests() const { return callbackRequests_; }
    // A copy: the plug-in may log from any thread.
    std::vector<std::string> logLines() const;
    HostOptions& options() { return options_; }
    bool active() const { return active_; }
    double sampleRate() const { return rate_; }

private:
    static const void* getExtension(const clap_host_t* host, const char* id);
    static void requestRestart(const clap_host_t*) {}
    static void requestProcess(const clap_host_t*) {}
    static void requestCallback(const clap_host_t* host);
    static void markDirty(const clap_host_t* host);
    static bool getTrackInfo(const clap_host_t* host, clap_track_info_t* info);
    static void log(const clap_host_t* host, clap_log_severity severity, const char* msg);
    static bool isMainThread(const clap_host_t* host);
    static bool isAudioThread(const clap_host_t* host);
    static HostedPlugin* self(const clap_host_t* host);
    static void paramsRescan(const clap_host_t* host, clap_param_rescan_flags flags);
    static void paramsClear(const clap_host_t*, clap_id, clap_param_clear_flags) {}
    static void paramsRequestFlush(const clap_host_t* host);
    static bool pushOutput(const clap_output_events_t* list, const clap_event_header_t* event);

    HostOptions options_;
    clap_host_t host_{};
    clap_host_state_t hostState_{};
    clap_host_track_info_t hostTrackInfo_{};
    clap_host_log_t hostLog_{};
    clap_host_thread_check_t hostThreadCheck_{};
    clap_host_params_t hostParams_{};
    std::vector<ParamOutputEvent> paramOutput_;
    bool outputFromFlush_ = false;
    uint32_t paramRescans_ = 0;
    std::atomic<uint32_t> paramFlushRequests_{0};
    const clap_plugin_t* plugin_ = nullptr;
    bool active_ = false;
    bool processing_ = false;
    // Thread check: the thread that created the instance is the main thread; the thread inside
    // processBlock is the audio thread (the main thread itself while it renders offline).
    std::thread::id mainThread_;
    std::atomic<std::thread::id> audioThread_{};
    std::atomic<bool> inProcess_{false};
    struct Run;
    std::unique_ptr<Run> run_;
    std::atomic<bool> callbackPending_{false}; // set from any thread (the plug-in's worker)
    double rate_ = 48000.0;
    uint32_t maxBlock_ = 0;
    uint32_t dirtyCount_ = 0;
    std::atomic<uint32_t> callbackRequests_{0};
    int64_t steadyTime_ = 0;
    mutable std::mutex logMutex_;
    std::vector<std::string> logLines_;
    uint64_t framesSinceActivation_ = 0; // the transport's song position
};

// Peak and RMS of a channel.
struct ChannelLevel
{
    double peak = 0.0;
    double rms = 0.0;
};
ChannelLevel measure(const std::vector<float>& x);

// The plug-in as a host sees it, as JSON: descriptor, ports, note ports, latency.
std::string describePluginJson(const clap_plugin_descriptor_t& desc, HostedPlugin& plugin,
                               uint32_t latencyBeforeActivation);

// The plug-in's parameters as JSON: id, name, module, range, default, flags, the current value
// and its text. "[]" without clap.params.
std::string describeParamsJson(HostedPlugin& plugin);

// JSON string literal with escapes.
std::string jsonString(const std::string& s);

bool readFile(const std::string& path, std::vector<uint8_t>& out);
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace vesk::host
