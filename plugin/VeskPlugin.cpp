#include "VeskPlugin.h"
#include "OsEntropy.h"
#include "SeedSalt.h"
#include "VeskEditorSets.h"
#include "VeskVariationSet.h"

#include "audio_files/Resample.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

VeskPlugin::VeskPlugin(const clap_host_t* h) : host(h)
{
    backend.queues = &queues;
    backend.snapshots = snapshots;
    backend.published = &publishedSnapshot;
    backend.gestures = &paramGestures;
    editorSets = std::make_unique<vesk::VeskEditorSets>(*this);
    backend.sets = editorSets.get();

    clapPlugin.desc = nullptr;
    clapPlugin.plugin_data = this;
    clapPlugin.init = clapInit;
    clapPlugin.destroy = clapDestroy;
    clapPlugin.activate = clapActivate;
    clapPlugin.deactivate = clapDeactivate;
    clapPlugin.start_processing = clapStartProcessing;
    clapPlugin.stop_processing = clapStopProcessing;
    clapPlugin.reset = clapReset;
    clapPlugin.process = clapProcess;
    clapPlugin.get_extension = clapGetExtension;
    clapPlugin.on_main_thread = clapOnMainThread;

    audioPortsExt = {clapAudioPortsCount, clapAudioPortsGet};
    latencyExt = {clapLatencyGet};
    renderExt = {clapRenderHasHardRealtimeRequirement, clapRenderSet};
    stateExt = {clapStateSave, clapStateLoad};
    trackInfoExt = {clapTrackInfoChanged};
    notePortsExt = {clapNotePortsCount, clapNotePortsGet};
    hostCommandsExt = {hostCommandSend};
    paramsExt = {clapParamsCount,       clapParamsGetInfo,     clapParamsGetValue,
                 clapParamsValueToText, clapParamsTextToValue, clapParamsFlush};

    // Last, so a failure before it leaves nothing recorded.
    freshSeedState = vesk::osEntropy64();
    seedSalt = vesk::claimFreshSalt(this);
}

VeskPlugin::~VeskPlugin()
{
    vesk::releaseSalt(this);
}

const VeskGuiHooks* VeskPlugin::guiHooks = nullptr;

void VeskPlugin::shutdownProcessRuntime()
{
    if (guiHooks != nullptr && guiHooks->shutdownRuntime != nullptr)
        guiHooks->shutdownRuntime();
}

// ---------------------------------------------------------------------------------------------
// Lifecycle

bool VeskPlugin::clapInit(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return false;
    // What the editor must see before the first publication.
    for (vesk::VeskState& snap : self->snapshots) {
        for (vesk::PoolState& pool : snap.pools)
            pool.lpfHz = 20000.0f;
        snap.master.bypassed = 1;
        snap.visiblePools = 15;
    }
    if (self->host->get_extension != nullptr)
        self->hostState = static_cast<const clap_host_state_t*>(
            self->host->get_extension(self->host, CLAP_EXT_STATE));
    if (self->host->get_extension != nullptr)
        self->hostParams = static_cast<const clap_host_params_t*>(
            self->host->get_extension(self->host, CLAP_EXT_PARAMS));
    self->paramGestures.host = self->host;
    self->paramGestures.hostParams = self->hostParams;
    for (uint32_t i = 0; i < vesk::params::kCount; ++i)
        self->paramsSeen[i] = vesk::params::table()[i].defaultValue;
    self->queues.wakeContext = self;
    self->queues.wake = requestMainThreadCallback;
    return true;
}

void VeskPlugin::clapDestroy(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;
    // The editor first: it reads the snapshots and writes the rings.
    if (guiHooks != nullptr && guiHooks->destroyEditor != nullptr)
        guiHooks->destroyEditor(*self);
    // Jobs hold pointers into the instance: nothing may go before the worker is idle.
    self->workers.wait();
    self->~VeskPlugin();
    ::operator delete(static_cast<void*>(self), std::align_val_t(64));
}

bool VeskPlugin::clapActivate(const clap_plugin_t* plugin, double rate, uint32_t, uint32_t)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return false;
    // A host handing a non-finite or non-positive rate gets the default rate.
    if (!std::isfinite(rate) || rate <= 0.0)
        rate = 48000.0;
    std::lock_guard<std::mutex> lock(self->stateMutex);
    self->sampleRate = rate;
    self->framesSinceActivation = 0;
    self->sampler.setSampleRate(rate);
    self->masterFx.setSampleRate(rate);
    for (vesk::FXLane& lane : self->lanes)
        lane.setSampleRate(rate);
    const double smoothing = 0.03 * rate;
    self->modInput.modSmoothing = (rate > 0.0 && smoothing >= 1.0) ? smoothing : 1.0;
    if (self->loadedSampleRate > 0.0 && std::fabs(rate - self->loadedSampleRate) > 1.0) {
        // Voices read the regions being replaced: cut them first.
        for (int i = 0; i < vesk::kNumPools; ++i)
            self->sampler.beginSampleListChange(i);
        vesk::reloadAllSamplesForSampleRate(self->sampler.pools, self->rawAudioCache,
                                            self->loadedSampleRate, rate);
        for (int i = 0; i < vesk::kNumPools; ++i)
            self->sampler.endSampleListChange(i);
        self->loadedSampleRate = self->sampleRate;
    }
    self->activated.store(true, std::memory_order_release);
    if (!self->reaperBridge.initialized)
        self->reaperBridge.initialize(self->host);
    self->currentProjectRoot();
    return true;
}

void VeskPlugin::clapDeactivate(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;
    std::lock_guard<std::mutex> lock(self->stateMutex);
    self->sampler.stop();
    self->deferredTriggerCount = 0;
    self->clearChannelExpression();
    self->clearParamModulation();
    self->activated.store(false, std::memory_order_release);
}

bool VeskPlugin::clapStartProcessing(const clap_plugin_t* plugin)
{
    if (VeskPlugin* self = from(plugin))
        self->paramGestures.processing.store(true, std::memory_order_release);
    return true;
}

void VeskPlugin::clapStopProcessing(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;
    self->paramGestures.processing.store(false, std::memory_order_release);
    // Gestures made while the last block ran go out through a flush, which the main thread asks
    // for (request_flush is not for the audio thread).
    if (self->paramGestures.pending())
        requestMainThreadCallback(self);
}

// Called on the audio thread: the sampler may only change under the state mutex, so the reset is
// carried out by the next process call that holds it.
void VeskPlugin::clapReset(const clap_plugin_t* plugin)
{
    if (VeskPlugin* self = from(plugin))
        self->resetPending.store(true, std::memory_order_release);
}

const void* VeskPlugin::clapGetExtension(const clap_plugin_t* plugin, const char* id)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || id == nullptr)
        return nullptr;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0)
        return &self->audioPortsExt;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0)
        return &self->latencyExt;
    if (std::strcmp(id, CLAP_EXT_RENDER) == 0)
        return &self->renderExt;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0)
        return &self->stateExt;
    if (std::strcmp(id, CLAP_EXT_TRACK_INFO) == 0)
        return &self->trackInfoExt;
    if (std::strcmp(id, CLAP_EXT_NOTE_PORTS) == 0)
        return &self->notePortsExt;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0)
        return &self->paramsExt;
    if (guiHooks != nullptr) {
        if (std::strcmp(id, CLAP_EXT_GUI) == 0) {
            guiHooks->log("host asked for CLAP_EXT_GUI");
            return guiHooks->gui;
        }
        if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0)
            return guiHooks->timerSupport;
        if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0)
            return guiHooks->posixFdSupport;
    }
    if (std::strcmp(id, VESK_EXT_HOST_COMMANDS) == 0)
        return &self->hostCommandsExt;
    if (std::strcmp(id, VESK_EXT_VARIATION_SET) == 0)
        return &vesk::kVariationSetExtension;
    return nullptr;
}

bool VeskPlugin::hostCommandSend(const clap_plugin_t* plugin, uint8_t type, const void* payload,
                                 uint32_t size)
{
    VeskPlugin* self = from(plugin);
    return self != nullptr && self->backend.send(type, payload, size);
}

void VeskPlugin::requestMainThreadCallback(void* context)
{
    auto* self = static_cast<VeskPlugin*>(context);
    if (self != nullptr && self->host != nullptr && self->host->request_callback != nullptr)
        self->host->request_callback(self->host);
}

// ---------------------------------------------------------------------------------------------
// Ports, latency, render mode

uint32_t VeskPlugin::clapAudioPortsCount(const clap_plugin_t*, bool isInput)
{
    return isInput ? 0 : 1;
}

bool VeskPlugin::clapAudioPortsGet(const clap_plugin_t*, uint32_t index, bool isInput,
                                   clap_audio_port_info_t* info)
{
    if (isInput || index != 0 || info == nullptr)
        return false;
    info->id = 0;
    std::strncpy(info->name, "Output", sizeof info->name);
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

uint32_t VeskPlugin::clapNotePortsCount(const clap_plugin_t*, bool isInput)
{
    return isInput ? 1 : 0;
}

bool VeskPlugin::clapNotePortsGet(const clap_plugin_t*, uint32_t index, bool isInput,
                                  clap_note_port_info_t* info)
{
    if (!isInput || index != 0 || info == nullptr)
        return false;
    info->id = 0;
    info->supported_dialects =
        CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI | CLAP_NOTE_DIALECT_MIDI_MPE;
    info->preferred_dialect = CLAP_NOTE_DIALECT_CLAP;
    std::strncpy(info->name, "MIDI In", sizeof info->name);
    return true;
}

uint32_t VeskPlugin::clapLatencyGet(const clap_plugin_t* plugin)
{
    // The limiter's 10 ms look-ahead at the rate it was last given.
    const VeskPlugin* self = from(plugin);
    const int samples = self != nullptr ? self->masterFx.getLatencySamples()
                                        : vesk::MasterFX::latencyForRate(48000.0);
    return samples > 0 ? static_cast<uint32_t>(samples) : 0u;
}

bool VeskPlugin::clapRenderHasHardRealtimeRequirement(const clap_plugin_t*)
{
    return false;
}

bool VeskPlugin::clapRenderSet(const clap_plugin_t* plugin, clap_plugin_render_mode mode)
{
    if (VeskPlugin* self = from(plugin))
        self->offlineRender.store(mode == CLAP_RENDER_OFFLINE, std::memory_order_relaxed);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Track info

std::string VeskPlugin::windowTitle() const
{
    if (trackName[0] == '\0')
        return "Halvoren Vesk";
    char title[96];
    std::snprintf(title, sizeof title, "Halvoren Vesk - %s", trackName);
    return title;
}

void VeskPlugin::clapTrackInfoChanged(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;
    const auto* ext = self->host->get_extension != nullptr
                          ? static_cast<const clap_host_track_info_t*>(
                                self->host->get_extension(self->host, CLAP_EXT_TRACK_INFO))
                          : nullptr;
    if (ext != nullptr && ext->get != nullptr) {
        clap_track_info_t info;
        std::memset(&info, 0, sizeof info);
        if (ext->get(self->host, &info)) {
            info.name[sizeof info.name - 1] = '\0';
            if (info.name[0] != '\0') {
                std::strncpy(self->trackName, info.name, sizeof self->trackName - 1);
                self->trackName[sizeof self->trackName - 1] = '\0';
            } else {
                self->trackName[0] = '\0';
            }
        }
    }
    self->ownTrack = nullptr; // looked up again by name at the next main-thread pass
    if (guiHooks != nullptr && guiHooks->titleChanged != nullptr)
        guiHooks->titleChanged(*self);
}
