// An in-process plug-in instance with a minimal host, for tests of behaviour the CLAP ABI does
// not expose (the rings, the dispatcher, the snapshot).
#pragma once

#include "plugin/CommandQueues.h"
#include "plugin/Messages.h"
#include "plugin/VeskPlugin.h"
#include "tests/support/InProcessPlugin.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace vesk::test {

// Little-endian payload builder, for payloads no record makes (cut, odd or unknown messages).
class Bytes
{
public:
    Bytes& u8(uint8_t v)
    {
        data.push_back(v);
        return *this;
    }
    Bytes& u32(uint32_t v)
    {
        uint8_t b[4];
        putU32(b, v);
        data.insert(data.end(), b, b + 4);
        return *this;
    }
    Bytes& i32(int32_t v) { return u32(uint32_t(v)); }
    Bytes& u64(uint64_t v)
    {
        uint8_t b[8];
        putU64(b, v);
        data.insert(data.end(), b, b + 8);
        return *this;
    }
    Bytes& i64(int64_t v) { return u64(uint64_t(v)); }
    Bytes& f32(float v)
    {
        uint8_t b[4];
        putF32(b, v);
        data.insert(data.end(), b, b + 4);
        return *this;
    }
    Bytes& str(const std::string& s)
    {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& raw(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
    Bytes cut(size_t n) const
    {
        Bytes b = *this;
        b.data.resize(std::min(n, data.size()));
        return b;
    }
    std::vector<uint8_t> data;
};

// One message as it travels: its id and its payload bytes.
struct Wire
{
    uint8_t id = 0;
    Bytes payload;

    // The same message with its payload cut to n bytes.
    Wire cut(size_t n) const { return {id, payload.cut(n)}; }
};

// A record's message, encoded (with an empty payload when the record does not fit one message).
template <class R> Wire wire(const R& message)
{
    Wire w{R::kId, {}};
    w.payload.data.resize(R::kMaxSize);
    w.payload.data.resize(message.encode(w.payload.data.data()));
    return w;
}

struct FakeHost
{
    clap_host_t host{};
    clap_host_state_t state{};
    int dirty = 0;
    std::atomic<int> callbacks{0}; // request_callback may come from any thread

    FakeHost()
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "test";
        host.vendor = "";
        host.url = "";
        host.version = "";
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<FakeHost*>(h->host_data);
            return std::strcmp(id, CLAP_EXT_STATE) == 0 ? &self->state : nullptr;
        };
        host.request_callback = [](const clap_host_t* h) {
            ++static_cast<FakeHost*>(h->host_data)->callbacks;
        };
        state.mark_dirty = [](const clap_host_t* h) {
            ++static_cast<FakeHost*>(h->host_data)->dirty;
        };
    }
};

class Instance
{
public:
    explicit Instance(double rate = 48000.0)
    {
        plugin = newInitialisedInstance(&fake.host);
        VeskPlugin::clapActivate(&plugin->clapPlugin, rate, 1, 4096);
    }
    ~Instance() { VeskPlugin::clapDestroy(&plugin->clapPlugin); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Sends as the editor does.
    template <class R>
    requires requires { R::kId; }
    bool send(const R& message) { return msg::send(plugin->backend, message); }
    // Sends bytes as they are, on the ring the id belongs to.
    bool send(const Wire& w)
    {
        return plugin->backend.send(w.id, w.payload.data.data(), uint32_t(w.payload.data.size()));
    }
    // One main-thread pass, as the host would run it.
    void pump() { VeskPlugin::clapOnMainThread(&plugin->clapPlugin); }
    // Waits for the worker, then applies what it finished.
    void finishJobs()
    {
        plugin->workers.wait();
        pump();
    }
    const VeskState& snapshot() const { return plugin->backend.current(); }

    // Renders `frames` through the audio callback in blocks; appends to left/right.
    void render(uint32_t frames, uint32_t block, std::vector<float>& left,
                std::vector<float>& right, const clap_input_events_t* events = nullptr)
    {
        std::vector<float> l(block), r(block);
        float* ch[2] = {l.data(), r.data()};
        clap_audio_buffer_t out{};
        out.data32 = ch;
        out.channel_count = 2;
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(block, frames - done);
            clap_process_t proc{};
            proc.frames_count = n;
            proc.audio_outputs = &out;
            proc.audio_outputs_count = 1;
            proc.in_events = done == 0 ? events : nullptr;
            if (beforeProcess)
                beforeProcess();
            VeskPlugin::clapProcess(&plugin->clapPlugin, &proc);
            if (afterProcess)
                afterProcess();
            left.insert(left.end(), l.begin(), l.begin() + n);
            right.insert(right.end(), r.begin(), r.begin() + n);
            done += n;
        }
    }

    FakeHost fake;
    VeskPlugin* plugin = nullptr;
    // Called around each process call (allocation counting, timing).
    std::function<void()> beforeProcess;
    std::function<void()> afterProcess;
};

} // namespace vesk::test
