#include "ClapHost.h"

#include "plugin/VeskHostCommands.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vesk::host {

// ---------------------------------------------------------------------------------------------
// PluginLibrary

PluginLibrary::PluginLibrary(const std::string& path) : path_(path)
{
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        throw std::runtime_error("cannot load " + path + ": " + ::dlerror());
    entry_ = static_cast<const clap_plugin_entry_t*>(::dlsym(handle_, "clap_entry"));
    if (entry_ == nullptr) {
        ::dlclose(handle_);
        throw std::runtime_error(path + " does not export clap_entry");
    }
    if (!clap_version_is_compatible(entry_->clap_version)) {
        ::dlclose(handle_);
        throw std::runtime_error(path + " speaks an incompatible CLAP version");
    }
    if (entry_->init == nullptr || !entry_->init(path.c_str())) {
        ::dlclose(handle_);
        throw std::runtime_error(path + ": clap_entry.init failed");
    }
    factory_ =
        static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (factory_ == nullptr) {
        entry_->deinit();
        ::dlclose(handle_);
        throw std::runtime_error(path + " has no plug-in factory");
    }
}

PluginLibrary::~PluginLibrary()
{
    if (entry_ != nullptr && entry_->deinit != nullptr)
        entry_->deinit();
    if (onDeinit)
        onDeinit();
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

// ---------------------------------------------------------------------------------------------
// Host callbacks

HostedPlugin* HostedPlugin::self(const clap_host_t* host)
{
    return host != nullptr ? static_cast<HostedPlugin*>(host->host_data) : nullptr;
}

const void* HostedPlugin::getExtension(const clap_host_t* host, const char* id)
{
    HostedPlugin* h = self(host);
    if (h == nullptr || id == nullptr || !h->options_.offerExtensions)
        return nullptr;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0)
        return &h->hostState_;
    if (std::strcmp(id, CLAP_EXT_TRACK_INFO) == 0)
        return h->options_.offerTrackInfo ? &h->hostTrackInfo_ : nullptr;
    if (std::strcmp(id, CLAP_EXT_LOG) == 0)
        return &h->hostLog_;
    if (std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0)
        return &h->hostThreadCheck_;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0)
        return &h->hostParams_;
    if (h->options_.extraExtension)
        return h->options_.extraExtension(id);
    return nullptr;
}

void HostedPlugin::requestCallback(const clap_host_t* host)
{
    if (HostedPlugin* h = self(host)) {
        h->callbackPending_ = true;
        ++h->callbackRequests_;
        if (h->options_.onCallbackRequest)
            h->options_.onCallbackRequest();
    }
}

void HostedPlugin::paramsRescan(const clap_host_t* host, clap_param_rescan_flags)
{
    if (HostedPlugin* h = self(host))
        ++h->paramRescans_;
}

void HostedPlugin::paramsRequestFlush(const clap_host_t* host)
{
    if (HostedPlugin* h = self(host))
        ++h->paramFlushRequests_;
}

// Keeps parameter events; the list's capacity is reserved beforehand, so a process call never
// allocates here.
bool HostedPlugin::pushOutput(const clap_output_events_t* list, const clap_event_header_t* e)
{
    auto* h = static_cast<HostedPlugin*>(list->ctx);
    if (h == nullptr || e == nullptr || e->space_id != CLAP_CORE_EVENT_SPACE_ID)
        return true;
    ParamOutputEvent out;
    out.type = e->type;
    out.frame = h->framesSinceActivation_;
    out.fromFlush = h->outputFromFlush_;
    if (e->type == CLAP_EVENT_PARAM_VALUE && e->size >= sizeof(clap_event_param_value_t)) {
        const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
        out.paramId = v->param_id;
        out.value = v->value;
    } else if ((e->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
                e->type == CLAP_EVENT_PARAM_GESTURE_END) &&
               e->size >= sizeof(clap_event_param_gesture_t)) {
        out.paramId = reinterpret_cast<const clap_event_param_gesture_t*>(e)->param_id;
    } else {
        return true;
    }
    if (h->paramOutput_.size() < h->paramOutput_.capacity())
        h->paramOutput_.push_back(out);
    return true;
}

void HostedPlugin::markDirty(const clap_host_t* host)
{
    if (HostedPlugin* h = self(host))
        ++h->dirtyCount_;
}

bool HostedPlugin::getTrackInfo(const clap_host_t* host, clap_track_info_t* info)
{
    HostedPlugin* h = self(host);
    if (h == nullptr || info == nullptr)
        return false;
    std::memset(info, 0, sizeof *info);
    info->flags = CLAP_TRACK_INFO_HAS_TRACK_NAME;
    std::snprintf(info->name, sizeof info->name, "%s", h->options_.trackName.c_str());
    return true;
}

void HostedPlugin::log(const clap_host_t* host, clap_log_severity severity, const char* msg)
{
    if (HostedPlugin* h = self(host)) {
        std::string line = std::to_string(severity) + ": " + (msg != nullptr ? msg : "");
        const std::lock_guard<std::mutex> lock(h->logMutex_);
        h->logLines_.push_back(std::move(line));
    }
}

std::vector<std::string> HostedPlugin::logLines() const
{
    const std::lock_guard<std::mutex> lock(logMutex_);
    return logLines_;
}

bool HostedPlugin::isMainThread(const clap_host_t* host)
{
    HostedPlugin* h = self(host);
    if (h == nullptr || std::this_thread::get_id() != h->mainThread_)
        return false;
    // Rendering offline, the main thread plays the audio thread inside each process call.
    return !(h->inProcess_ && h->audioThread_.load() == h->mainThread_);
}

bool HostedPlugin::isAudioThread(const clap_host_t* host)
{
    HostedPlugin* h = self(host);
    if (h == nullptr || std::this_thread::get_id() != h->audioThread_.load())
        return false;
    return h->audioThread_.load() != h->mainThread_ || h->inProcess_;
}

// ---------------------------------------------------------------------------------------------
// HostedPlugin

namespace {

// Storage large enough for any event the host sends.
union EventStorage
{
    clap_event_header_t header;
    clap_event_note_t note;
    clap_event_midi_t midi;
    clap_event_note_expression_t expression;
    clap_event_param_value_t paramValue;
    clap_event_param_mod_t paramMod;
};

struct EventList
{
    std::vector<EventStorage> events;

    static uint32_t size(const clap_input_events_t* list)
    {
        return uint32_t(static_cast<const EventList*>(list->ctx)->events.size());
    }
    static const clap_event_header_t* get(const clap_input_events_t* list, uint32_t index)
    {
        const auto* self = static_cast<const EventList*>(list->ctx);
        return index < self->events.size() ? &self->events[index].header : nullptr;
    }
};

// The transport at a song position of `seconds`: playing at 120 bpm in 4/4.
clap_event_transport_t transportAt(double seconds)
{
    constexpr double kTempoBpm = 120.0;
    const double beats = seconds * kTempoBpm / 60.0;
    clap_event_transport_t t;
    std::memset(&t, 0, sizeof t);
    t.header.size = sizeof t;
    t.header.type = CLAP_EVENT_TRANSPORT;
    t.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
    t.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
              CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_HAS_TIME_SIGNATURE |
              CLAP_TRANSPORT_IS_PLAYING;
    t.song_pos_beats = clap_beattime(std::llround(beats * double(CLAP_BEATTIME_FACTOR)));
    t.song_pos_seconds = clap_sectime(std::llround(seconds * double(CLAP_SECTIME_FACTOR)));
    t.tempo = kTempoBpm;
    const double bar = std::floor(beats / 4.0);
    t.bar_start = clap_beattime(std::llround(bar * 4.0 * double(CLAP_BEATTIME_FACTOR)));
    t.bar_number = int32_t(bar);
    t.tsig_num = 4;
    t.tsig_denom = 4;
    return t;
}

EventStorage toClap(const TimedEvent& e, uint32_t offset)
{
    EventStorage s;
    std::memset(&s, 0, sizeof s);
    switch (e.kind) {
    case TimedEvent::Kind::NoteOn:
    case TimedEvent::Kind::NoteOff:
        s.note.header.size = sizeof(clap_event_note_t);
        s.note.header.type =
            e.kind == TimedEvent::Kind::NoteOn ? CLAP_EVENT_NOTE_ON : CLAP_EVENT_NOTE_OFF;
        s.note.note_id = e.noteId;
        s.note.port_index = 0;
        s.note.channel = e.channel;
        s.note.key = e.key;
        s.note.velocity = e.velocity;
        break;
    case TimedEvent::Kind::Midi:
        s.midi.header.size = sizeof(clap_event_midi_t);
        s.midi.header.type = CLAP_EVENT_MIDI;
        s.midi.port_index = 0;
        std::memcpy(s.midi.data, e.midi, 3);
        break;
    case TimedEvent::Kind::NoteExpression:
        s.expression.header.size = sizeof(clap_event_note_expression_t);
        s.expression.header.type = CLAP_EVENT_NOTE_EXPRESSION;
        s.expression.expression_id = e.expressionId;
        s.expression.note_id = e.noteId;
        s.expression.port_index = 0;
        s.expression.channel = e.channel;
        s.expression.key = e.key;
        s.expression.value = e.expressionValue;
        break;
    case TimedEvent::Kind::ParamValue:
        s.paramValue.header.size = sizeof(clap_event_param_value_t);
        s.paramValue.header.type = CLAP_EVENT_PARAM_VALUE;
        s.paramValue.param_id = e.paramId;
        s.paramValue.cookie = nullptr;
        s.paramValue.note_id = -1;
        s.paramValue.port_index = -1;
        s.paramValue.channel = -1;
        s.paramValue.key = -1;
        s.paramValue.value = e.paramValue;
        break;
    case TimedEvent::Kind::ParamMod:
        s.paramMod.header.size = sizeof(clap_event_param_mod_t);
        s.paramMod.header.type = CLAP_EVENT_PARAM_MOD;
        s.paramMod.param_id = e.paramId;
        s.paramMod.cookie = nullptr;
        s.paramMod.note_id = -1;
        s.paramMod.port_index = -1;
        s.paramMod.channel = -1;
        s.paramMod.key = -1;
        s.paramMod.amount = e.paramValue;
        break;
    }
    s.header.time = offset;
    s.header.space_id = e.spaceId;
    return s;
}

} // namespace

// The state of one run of blocks: the events still to deliver and the buffers handed to the
// plug-in, allocated once per run.
struct HostedPlugin::Run
{
    std::vector<TimedEvent> events;
    size_t nextEvent = 0;
    uint64_t done = 0;
    std::vector<float> outL, outR;
    float* channels[2] = {nullptr, nullptr};
    EventList inList;
};

HostedPlugin::HostedPlugin(PluginLibrary& library, const std::string& pluginId, HostOptions options)
    : options_(std::move(options)), mainThread_(std::this_thread::get_id())
{
    host_.clap_version = CLAP_VERSION;
    host_.host_data = this;
    host_.name = "vesk-host";
    host_.vendor = "Halvoren";
    host_.url = "";
    host_.version = "0.1.0";
    host_.get_extension = getExtension;
    host_.request_restart = requestRestart;
    host_.request_process = requestProcess;
    host_.request_callback = requestCallback;
    hostState_.mark_dirty = markDirty;
    hostTrackInfo_.get = getTrackInfo;
    hostLog_.log = log;
    hostThreadCheck_.is_main_thread = isMainThread;
    hostThreadCheck_.is_audio_thread = isAudioThread;
    hostParams_.rescan = paramsRescan;
    hostParams_.clear = paramsClear;
    hostParams_.request_flush = paramsRequestFlush;
    paramOutput_.reserve(kMaxParamOutput);

    plugin_ = library.factory()->create_plugin(library.factory(), &host_, pluginId.c_str());
    if (plugin_ == nullptr)
        throw std::runtime_error("the factory did not create " + pluginId);
    if (!plugin_->init(plugin_)) {
        plugin_->destroy(plugin_);
        plugin_ = nullptr;
        throw std::runtime_error(pluginId + ": init failed");
    }
}

HostedPlugin::~HostedPlugin()
{
    if (plugin_ == nullptr)
        return;
    deactivate();
    plugin_->destroy(plugin_);
}

bool HostedPlugin::activate(double rate, uint32_t maxBlock)
{
    if (active_)
        deactivate();
    if (!plugin_->activate(plugin_, rate, 1, maxBlock))
        return false;
    active_ = true;
    rate_ = rate;
    maxBlock_ = maxBlock;
    framesSinceActivation_ = 0;
    processing_ = plugin_->start_processing(plugin_);
    return true;
}

void HostedPlugin::deactivate()
{
    if (!active_)
        return;
    if (processing_)
        plugin_->stop_processing(plugin_);
    processing_ = false;
    plugin_->deactivate(plugin_);
    active_ = false;
}

bool HostedPlugin::setRenderMode(bool offline)
{
    const auto* render = extension<clap_plugin_render_t>(CLAP_EXT_RENDER);
    return render != nullptr &&
           render->set(plugin_, offline ? CLAP_RENDER_OFFLINE : CLAP_RENDER_REALTIME);
}

uint32_t HostedPlugin::latency() const
{
    const auto* ext = extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY);
    return ext != nullptr ? ext->get(plugin_) : 0;
}

bool HostedPlugin::pumpMainThread()
{
    if (!callbackPending_.exchange(false))
        return false;
    plugin_->on_main_thread(plugin_);
    return true;
}

bool HostedPlugin::pumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pumpMainThread();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool HostedPlugin::sendCommand(uint8_t type, const std::vector<uint8_t>& payload)
{
    const auto* ext = extension<vesk_plugin_host_commands_t>("com.halvoren.vesk.host-commands/1");
    return ext != nullptr && ext->send != nullptr &&
           ext->send(plugin_, type, payload.data(), uint32_t(payload.size()));
}

RenderStats HostedPlugin::render(uint64_t frames, uint32_t blockSize,
                                 std::vector<TimedEvent> events, std::vector<float>& left,
                                 std::vector<float>& right)
{
    RenderStats stats;
    if (!active_ || blockSize == 0)
        return stats;
    beginRun(std::move(events), blockSize);
    left.reserve(left.size() + frames);
    right.reserve(right.size() + frames);
    for (uint64_t done = 0; done < frames;) {
        const uint32_t n = uint32_t(std::min<uint64_t>(blockSize, frames - done));
        if (beforeBlock)
            beforeBlock(done, n);
        processBlock(n, left, right, stats);
        done += n;
        if (pumpMainThread())
            ++stats.mainThreadCallbacks;
    }
    return stats;
}

void HostedPlugin::beginRun(std::vector<TimedEvent> events, uint32_t blockSize)
{
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.frame < b.frame; });
    run_ = std::make_unique<Run>();
    run_->events = std::move(events);
    run_->outL.assign(std::max<uint32_t>(blockSize, 1), 0.0f);
    run_->outR.assign(std::max<uint32_t>(blockSize, 1), 0.0f);
    run_->channels[0] = run_->outL.data();
    run_->channels[1] = run_->outR.data();
    run_->inList.events.reserve(64);
}

void HostedPlugin::processBlock(uint32_t frames, std::vector<float>& left,
                                std::vector<float>& right, RenderStats& stats)
{
    if (!run_)
        beginRun({}, frames);
    Run& r = *run_;
    const uint32_t n = std::min<uint32_t>(frames, uint32_t(r.outL.size()));
    clap_audio_buffer_t output{};
    output.data32 = r.channels;
    output.channel_count = 2;
    clap_input_events_t in{&r.inList, EventList::size, EventList::get};
    clap_output_events_t out{this, pushOutput};

    r.inList.events.clear();
    while (r.nextEvent < r.events.size() && r.events[r.nextEvent].frame < r.done + n) {
        const TimedEvent& e = r.events[r.nextEvent];
        const uint64_t at = e.frame < r.done ? 0 : e.frame - r.done;
        r.inList.events.push_back(toClap(e, uint32_t(at)));
        ++r.nextEvent;
    }
    clap_process_t process{};
    process.steady_time = steadyTime_;
    process.frames_count = n;
    process.transport = nullptr;
    clap_event_transport_t transport{};
    if (options_.sendTransport) {
        transport =
            transportAt(options_.transportStartSeconds + double(framesSinceActivation_) / rate_);
        process.transport = &transport;
    }
    process.audio_inputs = nullptr;
    process.audio_outputs = &output;
    process.audio_inputs_count = 0;
    process.audio_outputs_count = 1;
    process.in_events = &in;
    process.out_events = &out;

    if (beforeProcess)
        beforeProcess();
    audioThread_ = std::this_thread::get_id();
    inProcess_ = true;
    const auto t0 = std::chrono::steady_clock::now();
    plugin_->process(plugin_, &process);
    const auto t1 = std::chrono::steady_clock::now();
    inProcess_ = false;
    if (afterProcess)
        afterProcess();

    stats.blockMicros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    left.insert(left.end(), r.outL.begin(), r.outL.begin() + n);
    right.insert(right.end(), r.outR.begin(), r.outR.begin() + n);
    steadyTime_ += n;
    framesSinceActivation_ += n;
    r.done += n;
    stats.frames += n;
}

namespace {

struct OutBytes
{
    std::vector<uint8_t>* bytes;
    static int64_t write(const clap_ostream_t* s, const void* buffer, uint64_t size)
    {
        auto* self = static_cast<OutBytes*>(s->ctx);
        const auto* p = static_cast<const uint8_t*>(buffer);
        self->bytes->insert(self->bytes->end(), p, p + size);
        return int64_t(size);
    }
};

struct InBytes
{
    const std::vector<uint8_t>* bytes;
    size_t pos = 0;
    // Hands out at most 1000 bytes per call, as real hosts may, so readers must loop.
    static int64_t read(const clap_istream_t* s, void* buffer, uint64_t size)
    {
        auto* self = static_cast<InBytes*>(s->ctx);
        const size_t left = self->bytes->size() - self->pos;
        const size_t n = size_t(std::min<uint64_t>({size, left, 1000}));
        if (n > 0)
            std::memcpy(buffer, self->bytes->data() + self->pos, n);
        self->pos += n;
        return int64_t(n);
    }
};

} // namespace

bool HostedPlugin::flushParams(const std::vector<TimedEvent>& events)
{
    const auto* params = extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    if (params == nullptr || params->flush == nullptr)
        return false;
    EventList list;
    for (const TimedEvent& e : events)
        list.events.push_back(toClap(e, 0));
    clap_input_events_t in{&list, EventList::size, EventList::get};
    clap_output_events_t out{this, pushOutput};
    // Active, a flush belongs to the audio thread (the calling thread plays it, as in a render).
    if (active_)
        audioThread_ = std::this_thread::get_id();
    inProcess_ = active_;
    outputFromFlush_ = true;
    params->flush(plugin_, &in, &out);
    outputFromFlush_ = false;
    inProcess_ = false;
    return true;
}

bool HostedPlugin::saveState(std::vector<uint8_t>& out) const
{
    const auto* state = extension<clap_plugin_state_t>(CLAP_EXT_STATE);
    if (state == nullptr)
        return false;
    out.clear();
    OutBytes sink{&out};
    clap_ostream_t stream{&sink, OutBytes::write};
    return state->save(plugin_, &stream);
}

bool HostedPlugin::loadState(const std::vector<uint8_t>& bytes)
{
    const auto* state = extension<clap_plugin_state_t>(CLAP_EXT_STATE);
    if (state == nullptr)
        return false;
    InBytes source{&bytes};
    clap_istream_t stream{&source, InBytes::read};
    return state->load(plugin_, &stream);
}

// ---------------------------------------------------------------------------------------------
// Helpers

ChannelLevel measure(const std::vector<float>& x)
{
    ChannelLevel level;
    double sum = 0.0;
    for (float v : x) {
        level.peak = std::max(level.peak, double(std::fabs(v)));
        sum += double(v) * v;
    }
    level.rms = x.empty() ? 0.0 : std::sqrt(sum / double(x.size()));
    return level;
}

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string describePluginJson(const clap_plugin_descriptor_t& desc, HostedPlugin& plugin,
                               uint32_t latencyBeforeActivation)
{
    std::ostringstream j;
    auto str = [](const char* s) { return jsonString(s != nullptr ? s : ""); };
    j << "{\n  \"descriptor\": {\"id\": " << str(desc.id) << ", \"name\": " << str(desc.name)
      << ", \"vendor\": " << str(desc.vendor) << ", \"version\": " << str(desc.version)
      << ", \"description\": " << str(desc.description) << ", \"clap_version\": \""
      << desc.clap_version.major << "." << desc.clap_version.minor << "."
      << desc.clap_version.revision << "\", \"features\": [";
    for (const char* const* f = desc.features; f != nullptr && *f != nullptr; ++f)
        j << (f == desc.features ? "" : ", ") << str(*f);
    j << "]},\n  \"audio_ports\": [";
    if (const auto* ports = plugin.extension<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS)) {
        bool first = true;
        for (int input = 1; input >= 0; --input) {
            const uint32_t n = ports->count(plugin.plugin(), input != 0);
            for (uint32_t i = 0; i < n; ++i) {
                clap_audio_port_info_t info{};
                if (!ports->get(plugin.plugin(), i, input != 0, &info))
                    continue;
                j << (first ? "" : ", ") << "{\"direction\": \"" << (input ? "in" : "out")
                  << "\", \"id\": " << info.id << ", \"name\": " << str(info.name)
                  << ", \"channels\": " << info.channel_count
                  << ", \"type\": " << str(info.port_type)
                  << ", \"main\": " << ((info.flags & CLAP_AUDIO_PORT_IS_MAIN) ? "true" : "false")
                  << "}";
                first = false;
            }
        }
    }
    j << "],\n  \"note_ports\": [";
    if (const auto* ports = plugin.extension<clap_plugin_note_ports_t>(CLAP_EXT_NOTE_PORTS)) {
        bool first = true;
        for (int input = 1; input >= 0; --input) {
            const uint32_t n = ports->count(plugin.plugin(), input != 0);
            for (uint32_t i = 0; i < n; ++i) {
                clap_note_port_info_t info{};
                if (!ports->get(plugin.plugin(), i, input != 0, &info))
                    continue;
                j << (first ? "" : ", ") << "{\"direction\": \"" << (input ? "in" : "out")
                  << "\", \"id\": " << info.id << ", \"name\": " << str(info.name)
                  << ", \"dialects\": " << info.supported_dialects
                  << ", \"preferred\": " << info.preferred_dialect << "}";
                first = false;
            }
        }
    }
    j << "],\n  \"latency_before_activation\": " << latencyBeforeActivation
      << ",\n  \"latency\": " << plugin.latency() << "\n}";
    return j.str();
}

std::string describeParamsJson(HostedPlugin& plugin)
{
    const auto* params = plugin.extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    if (params == nullptr)
        return "[]";
    std::ostringstream j;
    j.precision(17);
    j << "[";
    const uint32_t n = params->count(plugin.plugin());
    for (uint32_t i = 0; i < n; ++i) {
        clap_param_info_t info{};
        if (!params->get_info(plugin.plugin(), i, &info))
            continue;
        info.name[sizeof info.name - 1] = '\0';
        info.module[sizeof info.module - 1] = '\0';
        double value = info.default_value;
        const bool haveValue = params->get_value(plugin.plugin(), info.id, &value);
        char text[256] = {};
        if (!haveValue ||
            !params->value_to_text(plugin.plugin(), info.id, value, text, sizeof text))
            text[0] = '\0';
        j << (i == 0 ? "\n  " : ",\n  ") << "{\"id\": " << info.id
          << ", \"name\": " << jsonString(info.name) << ", \"module\": " << jsonString(info.module)
          << ", \"min\": " << info.min_value << ", \"max\": " << info.max_value
          << ", \"default\": " << info.default_value << ", \"flags\": " << info.flags
          << ", \"stepped\": " << ((info.flags & CLAP_PARAM_IS_STEPPED) ? "true" : "false")
          << ", \"automatable\": " << ((info.flags & CLAP_PARAM_IS_AUTOMATABLE) ? "true" : "false")
          << ", \"modulatable\": " << ((info.flags & CLAP_PARAM_IS_MODULATABLE) ? "true" : "false")
          << ", \"value\": " << value << ", \"text\": " << jsonString(text) << "}";
    }
    j << (n > 0 ? "\n]" : "]");
    return j.str();
}

bool readFile(const std::string& path, std::vector<uint8_t>& out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
        return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

} // namespace vesk::host
