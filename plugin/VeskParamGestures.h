// What the editor tells the host about a knob the user turns, so the host records automation.
//
// How the editor uses it: at the press that starts a drag, begin(id); for every value the drag
// sends to the engine (through its usual command), value(id, plainValue) with the value in the
// parameter's own unit and range (plugin/Params.h: "Pool 1 Pitch" takes semitones, a random spread
// takes 0..100 percent); at the release, end(id). A click that changes a switch is begin, value,
// end at once. The engine itself still changes only through the editor's commands: these calls
// only inform the host, never the engine, so a value the host plays back is never echoed.
//
// Design: the calls write into a fixed ring (main thread in, audio thread or flush out), so they
// never wait for audio; the plug-in hands the ring's events to the host as
// CLAP_EVENT_PARAM_GESTURE_BEGIN, CLAP_EVENT_PARAM_VALUE and CLAP_EVENT_PARAM_GESTURE_END output
// events, in the order they were made, in the next process call or, while the host is not
// processing, in the params flush it asks the host for (clap_host_params.request_flush). A full
// ring drops the event and counts it; an unknown id or a NaN value is refused.
//
// The editor reaches it as VeskPlugin::paramGestures (a member that lives as long as the
// instance).
#pragma once

#include "plugin/clap/Clap12.h"

#include <atomic>
#include <cstdint>

class VeskParamGestures
{
public:
    // [main thread] Each returns false when the event was refused (unknown id, NaN value, full
    // ring); the drag goes on regardless.
    bool begin(clap_id paramId);
    bool value(clap_id paramId, double plainValue);
    bool end(clap_id paramId);

    // Events refused because the ring was full.
    uint32_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

    // ---- The plug-in's side ----

    struct Event
    {
        uint16_t type = 0; // CLAP_EVENT_PARAM_GESTURE_BEGIN, _VALUE or _END
        clap_id paramId = CLAP_INVALID_ID;
        double value = 0.0;
    };
    static constexpr uint32_t kSlots = 512;

    // [main thread] Where a new event asks for a flush: the host's params extension (null when it
    // has none), and whether the host is processing (then the next process call takes them).
    const clap_host_t* host = nullptr;
    const void* hostParams = nullptr; // const clap_host_params_t*
    std::atomic<bool> processing{false};

    // [audio thread, or flush] Pushes the waiting events to `out` in order; stops at the first
    // event the host refuses (it stays for the next call).
    void emit(const clap_output_events_t* out);
    bool pending() const
    {
        return read_.load(std::memory_order_relaxed) != write_.load(std::memory_order_acquire);
    }

private:
    bool push(uint16_t type, clap_id paramId, double value);

    Event slots_[kSlots];
    std::atomic<uint64_t> write_{0};
    std::atomic<uint64_t> read_{0};
    std::atomic<uint32_t> dropped_{0};
};
