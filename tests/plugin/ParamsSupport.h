// Shared pieces of the parameter tests: a host that offers clap.params, event lists in the CLAP
// shape, and an instance processed with events in and out.
#pragma once

#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavWriter.h"
#include "plugin/Params.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vesk::test {

inline std::string paramsTmpPath(const std::string& name)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    return std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR) + "/" + name;
}

// A host with clap.state and clap.params, counting what the plug-in asks of them.
struct ParamsHost
{
    clap_host_t host{};
    clap_host_state_t state{};
    clap_host_params_t params{};
    std::atomic<int> flushRequests{0};
    int rescans = 0;
    int dirty = 0;

    ParamsHost()
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "params-test";
        host.vendor = "";
        host.url = "";
        host.version = "";
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<ParamsHost*>(h->host_data);
            if (std::strcmp(id, CLAP_EXT_STATE) == 0)
                return &self->state;
            if (std::strcmp(id, CLAP_EXT_PARAMS) == 0)
                return &self->params;
            return nullptr;
        };
        host.request_callback = [](const clap_host_t*) {};
        state.mark_dirty = [](const clap_host_t* h) {
            ++static_cast<ParamsHost*>(h->host_data)->dirty;
        };
        params.rescan = [](const clap_host_t* h, clap_param_rescan_flags) {
            ++static_cast<ParamsHost*>(h->host_data)->rescans;
        };
        params.clear = [](const clap_host_t*, clap_id, clap_param_clear_flags) {};
        params.request_flush = [](const clap_host_t* h) {
            ++static_cast<ParamsHost*>(h->host_data)->flushRequests;
        };
    }
};

// Input events of one call, in the CLAP list shape (kept in time order by the caller).
struct ParamEvents
{
    union Storage
    {
        clap_event_header_t header;
        clap_event_note_t note;
        clap_event_param_value_t value;
        clap_event_param_mod_t mod;
    };
    std::vector<Storage> events;
    clap_input_events_t list{this, size, get};

    ParamEvents() { events.reserve(1024); }
    void value(uint32_t time, clap_id id, double v)
    {
        Storage s;
        std::memset(&s, 0, sizeof s);
        s.value.header = {sizeof(clap_event_param_value_t), time, CLAP_CORE_EVENT_SPACE_ID,
                          CLAP_EVENT_PARAM_VALUE, 0};
        s.value.param_id = id;
        s.value.note_id = -1;
        s.value.port_index = -1;
        s.value.channel = -1;
        s.value.key = -1;
        s.value.value = v;
        events.push_back(s);
    }
    void mod(uint32_t time, clap_id id, double amount)
    {
        Storage s;
        std::memset(&s, 0, sizeof s);
        s.mod.header = {sizeof(clap_event_param_mod_t), time, CLAP_CORE_EVENT_SPACE_ID,
                        CLAP_EVENT_PARAM_MOD, 0};
        s.mod.param_id = id;
        s.mod.note_id = -1;
        s.mod.port_index = -1;
        s.mod.channel = -1;
        s.mod.key = -1;
        s.mod.amount = amount;
        events.push_back(s);
    }
    void note(uint32_t time, int16_t key, bool on = true)
    {
        Storage s;
        std::memset(&s, 0, sizeof s);
        s.note.header = {sizeof(clap_event_note_t), time, CLAP_CORE_EVENT_SPACE_ID,
                         uint16_t(on ? CLAP_EVENT_NOTE_ON : CLAP_EVENT_NOTE_OFF), 0};
        s.note.note_id = -1;
        s.note.key = key;
        s.note.velocity = 1.0;
        events.push_back(s);
    }
    void clear() { events.clear(); }

    static uint32_t size(const clap_input_events_t* l)
    {
        return uint32_t(static_cast<const ParamEvents*>(l->ctx)->events.size());
    }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i)
    {
        const auto* self = static_cast<const ParamEvents*>(l->ctx);
        return i < self->events.size() ? &self->events[i].header : nullptr;
    }
};

// Output events as the plug-in pushes them (capacity reserved: pushing never allocates).
struct ParamOutput
{
    struct Event
    {
        uint16_t type;
        clap_id id;
        double value;
    };
    std::vector<Event> events;
    bool refuse = false; // try_push answers false
    clap_output_events_t list{this, push};

    ParamOutput() { events.reserve(4096); }
    static bool push(const clap_output_events_t* l, const clap_event_header_t* h)
    {
        auto* self = static_cast<ParamOutput*>(l->ctx);
        if (self->refuse || self->events.size() >= self->events.capacity())
            return false;
        Event e{h->type, CLAP_INVALID_ID, 0.0};
        if (h->type == CLAP_EVENT_PARAM_VALUE) {
            const auto* v = reinterpret_cast<const clap_event_param_value_t*>(h);
            e.id = v->param_id;
            e.value = v->value;
        } else if (h->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
                   h->type == CLAP_EVENT_PARAM_GESTURE_END) {
            e.id = reinterpret_cast<const clap_event_param_gesture_t*>(h)->param_id;
        }
        self->events.push_back(e);
        return true;
    }
};

// An instance on a ParamsHost, activated at 48 kHz.
class ParamsInstance
{
public:
    ParamsInstance()
    {
        plugin = newInitialisedInstance(&host.host);
        VeskPlugin::clapActivate(&plugin->clapPlugin, 48000.0, 1, 4096);
    }
    ~ParamsInstance() { VeskPlugin::clapDestroy(&plugin->clapPlugin); }
    ParamsInstance(const ParamsInstance&) = delete;
    ParamsInstance& operator=(const ParamsInstance&) = delete;

    const clap_plugin_params_t& params() const
    {
        return *static_cast<const clap_plugin_params_t*>(
            VeskPlugin::clapGetExtension(&plugin->clapPlugin, CLAP_EXT_PARAMS));
    }
    double value(clap_id id) const
    {
        double v = -12345.0;
        EXPECT_TRUE(params().get_value(&plugin->clapPlugin, id, &v)) << id;
        return v;
    }
    void flush(const ParamEvents& in, ParamOutput* out = nullptr)
    {
        ParamOutput sink;
        params().flush(&plugin->clapPlugin, &in.list, out != nullptr ? &out->list : &sink.list);
    }
    void pump() { VeskPlugin::clapOnMainThread(&plugin->clapPlugin); }

    // One process call of `frames` frames appended to left/right, with events in and out.
    void process(uint32_t frames, std::vector<float>& left, std::vector<float>& right,
                 const ParamEvents* in = nullptr, ParamOutput* out = nullptr)
    {
        l_.resize(frames);
        r_.resize(frames);
        float* ch[2] = {l_.data(), r_.data()};
        clap_audio_buffer_t buffer{};
        buffer.data32 = ch;
        buffer.channel_count = 2;
        clap_process_t proc{};
        proc.frames_count = frames;
        proc.audio_outputs = &buffer;
        proc.audio_outputs_count = 1;
        proc.in_events = in != nullptr ? &in->list : nullptr;
        proc.out_events = out != nullptr ? &out->list : &sink_.list;
        if (beforeProcess)
            beforeProcess();
        VeskPlugin::clapProcess(&plugin->clapPlugin, &proc);
        if (afterProcess)
            afterProcess();
        left.insert(left.end(), l_.begin(), l_.end());
        right.insert(right.end(), r_.begin(), r_.end());
    }

    // Loads `samples` as one file into `pool`, routed straight to the master chain.
    void loadPool(uint32_t pool, const std::vector<float>& samples, const std::string& name)
    {
        const std::string path = paramsTmpPath(name);
        ASSERT_TRUE(writeWav(path, samples, samples, 48000.0));
        ASSERT_TRUE(plugin->backend.SendLoadToPool(pool, path));
        ASSERT_TRUE(msg::send(plugin->backend, msg::SetPoolRoute{pool, PoolRoute::Master}));
        pump();
        plugin->workers.wait();
        pump();
        std::lock_guard<std::mutex> lock(plugin->stateMutex);
        ASSERT_EQ(plugin->sampler.pools[pool].samples.size(), 1u);
    }

    ParamsHost host;
    VeskPlugin* plugin = nullptr;
    // Called right around each clapProcess (allocation counting).
    std::function<void()> beforeProcess;
    std::function<void()> afterProcess;

private:
    std::vector<float> l_, r_;
    ParamOutput sink_;
};

} // namespace vesk::test
