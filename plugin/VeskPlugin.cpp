#include "VeskPlugin.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

VeskPlugin::VeskPlugin(const clap_host_t* h) : host(h)
{
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
    guiExt = {clapGuiIsApiSupported, clapGuiGetPreferredApi, clapGuiCreate, clapGuiDestroy,
              clapGuiSetScale,       clapGuiGetSize,         clapGuiCanResize,
              clapGuiGetResizeHints, clapGuiAdjustSize,      clapGuiSetSize,
              clapGuiSetParent,      clapGuiSetTransient,    clapGuiSuggestTitle,
              clapGuiShow,           clapGuiHide};
    trackInfoExt = {clapTrackInfoChanged};
    notePortsExt = {clapNotePortsCount, clapNotePortsGet};
}

VeskPlugin::~VeskPlugin() = default;

void VeskPlugin::shutdownProcessRuntime() {}

// ---------------------------------------------------------------------------------------------
// Lifecycle

bool VeskPlugin::clapInit(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return false;
    if (self->host->get_extension != nullptr)
        self->hostState = static_cast<const clap_host_state_t*>(
            self->host->get_extension(self->host, CLAP_EXT_STATE));
    return true;
}

void VeskPlugin::clapDestroy(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;
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
    self->sampleRate = rate;
    self->limiterRate = rate;
    if (self->loadedSampleRate > 0.0 && std::fabs(rate - self->loadedSampleRate) > 1.0)
        self->loadedSampleRate = self->sampleRate;
    return true;
}

void VeskPlugin::clapDeactivate(const clap_plugin_t*) {}

bool VeskPlugin::clapStartProcessing(const clap_plugin_t*) { return true; }

void VeskPlugin::clapStopProcessing(const clap_plugin_t*) {}

void VeskPlugin::clapReset(const clap_plugin_t*) {}

clap_process_status VeskPlugin::clapProcess(const clap_plugin_t* plugin,
                                            const clap_process_t* process)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || process == nullptr)
        return CLAP_PROCESS_ERROR;
    if (process->audio_outputs_count < 1 || process->audio_outputs == nullptr)
        return CLAP_PROCESS_CONTINUE;
    const clap_audio_buffer_t& out = process->audio_outputs[0];
    if (out.channel_count < 2 || out.data32 == nullptr || out.data32[0] == nullptr ||
        out.data32[1] == nullptr)
        return CLAP_PROCESS_CONTINUE;
    std::memset(out.data32[0], 0, sizeof(float) * process->frames_count);
    std::memset(out.data32[1], 0, sizeof(float) * process->frames_count);
    return CLAP_PROCESS_CONTINUE;
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
    if (std::strcmp(id, CLAP_EXT_GUI) == 0)
        return &self->guiExt;
    return nullptr;
}

void VeskPlugin::clapOnMainThread(const clap_plugin_t*) {}

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
    info->supported_dialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI |
                               CLAP_NOTE_DIALECT_MIDI_MPE;
    info->preferred_dialect = CLAP_NOTE_DIALECT_CLAP;
    std::strncpy(info->name, "MIDI In", sizeof info->name);
    return true;
}

uint32_t VeskPlugin::clapLatencyGet(const clap_plugin_t* plugin)
{
    const VeskPlugin* self = from(plugin);
    const double rate = self != nullptr ? self->limiterRate : 48000.0;
    const double samples = std::ceil(0.01 * rate);
    return samples > 0.0 ? static_cast<uint32_t>(samples) : 0u;
}

bool VeskPlugin::clapRenderHasHardRealtimeRequirement(const clap_plugin_t*) { return false; }

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
}

// ---------------------------------------------------------------------------------------------
// GUI: no editor in this build yet; every window API is declined.

bool VeskPlugin::clapGuiIsApiSupported(const clap_plugin_t*, const char*, bool) { return false; }
bool VeskPlugin::clapGuiGetPreferredApi(const clap_plugin_t*, const char**, bool*) { return false; }
bool VeskPlugin::clapGuiCreate(const clap_plugin_t*, const char*, bool) { return false; }
void VeskPlugin::clapGuiDestroy(const clap_plugin_t*) {}
bool VeskPlugin::clapGuiSetScale(const clap_plugin_t*, double) { return false; }
bool VeskPlugin::clapGuiGetSize(const clap_plugin_t*, uint32_t*, uint32_t*) { return false; }
bool VeskPlugin::clapGuiCanResize(const clap_plugin_t*) { return false; }
bool VeskPlugin::clapGuiGetResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t*)
{
    return false;
}
bool VeskPlugin::clapGuiAdjustSize(const clap_plugin_t*, uint32_t*, uint32_t*) { return false; }
bool VeskPlugin::clapGuiSetSize(const clap_plugin_t*, uint32_t, uint32_t) { return false; }
bool VeskPlugin::clapGuiSetParent(const clap_plugin_t*, const clap_window_t*) { return false; }
bool VeskPlugin::clapGuiSetTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void VeskPlugin::clapGuiSuggestTitle(const clap_plugin_t*, const char*) {}
bool VeskPlugin::clapGuiShow(const clap_plugin_t*) { return false; }
bool VeskPlugin::clapGuiHide(const clap_plugin_t*) { return false; }
