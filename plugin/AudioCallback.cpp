// The audio callback: triggers, notes, MIDI and expressions in, the rendered block out.
#include "Messages.h"
#include "VeskPlugin.h"

#include "engine/TriggerSeed.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(__x86_64__)
#include <xmmintrin.h>
#include <pmmintrin.h>
#endif

namespace {

// Flushes denormals to zero for this thread (the host's audio thread keeps the setting).
void flushDenormals()
{
#if defined(__SSE2__) || defined(__x86_64__)
    _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
    _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
#elif defined(__aarch64__)
    uint64_t fpcr;
    asm volatile("mrs %0, fpcr" : "=r"(fpcr));
    asm volatile("msr fpcr, %0" : : "r"(fpcr | (1ULL << 24)));
#endif
}

void requestCallback(const clap_host_t* host)
{
    if (host != nullptr && host->request_callback != nullptr)
        host->request_callback(host);
}

// The song position a host transport gives, in samples at `rateHz`: from its seconds timeline,
// else from its beats timeline at its tempo. False when it carries neither, or nothing usable.
bool transportPositionSamples(const clap_event_transport_t& t, double rateHz, int64_t& out)
{
    double seconds = 0.0;
    if ((t.flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) != 0) {
        seconds = double(t.song_pos_seconds) / double(CLAP_SECTIME_FACTOR);
    } else if ((t.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) != 0 &&
               (t.flags & CLAP_TRANSPORT_HAS_TEMPO) != 0 && std::isfinite(t.tempo) &&
               t.tempo > 0.0) {
        seconds = double(t.song_pos_beats) / double(CLAP_BEATTIME_FACTOR) * 60.0 / t.tempo;
    } else {
        return false;
    }
    const double samples = std::round(seconds * rateHz);
    if (!(std::fabs(samples) < 4.0e18))
        return false;
    out = int64_t(samples);
    return true;
}

// A raw MIDI message as a note: 0x9n with a velocity above 0 is a note-on, 0x8n and 0x9n with
// velocity 0 are note-offs.
bool isMidiNoteOn(const clap_event_midi_t& e)
{
    return (e.data[0] & 0xF0) == 0x90 && (e.data[2] & 0x7F) != 0;
}
bool isMidiNoteOff(const clap_event_midi_t& e)
{
    const uint8_t kind = e.data[0] & 0xF0;
    return kind == 0x80 || (kind == 0x90 && (e.data[2] & 0x7F) == 0);
}

} // namespace

clap_process_status VeskPlugin::clapProcess(const clap_plugin_t* plugin,
                                            const clap_process_t* process)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || process == nullptr)
        return CLAP_PROCESS_CONTINUE;
    flushDenormals();
    const uint32_t frames = process->frames_count;
    const bool offline = self->offlineRender.load(std::memory_order_relaxed);

    // Where the block starts in the song, in samples: only offline note seeds use it. The host's
    // transport when it gives one (a transport event in the block moves it on), else the frames
    // processed since activation.
    int64_t songBase = self->framesSinceActivation;
    uint32_t songBaseFrame = 0;
    if (offline && process->transport != nullptr)
        transportPositionSamples(*process->transport, self->sampleRate, songBase);
    self->framesSinceActivation += frames;

    // Pacing of the main-thread pass while audio runs (about every 33 ms).
    self->callbackCounter += frames;
    if (self->callbackCounter >= static_cast<uint32_t>(self->sampleRate * 0.033)) {
        self->callbackCounter = 0;
        requestCallback(self->host);
    }

    // The one lock between the main and the audio thread.
    bool locked;
    if (offline) {
        self->stateMutex.lock();
        locked = true;
    } else {
        locked = self->stateMutex.try_lock();
    }
    if (locked && self->resetPending.exchange(false, std::memory_order_acquire)) {
        // A reset the host asked for on this thread, carried out under the lock.
        self->sampler.stop();
        self->deferredTriggerCount = 0;
        self->clearChannelExpression();
        self->clearModulationInput();
        self->clearParamModulation();
    }
    if (locked) {
        // Host parameter values that came while the lock was busy, before anything sounds.
        self->applyPendingParams();
        for (int32_t i = 0; i < self->deferredTriggerCount; ++i)
            self->executeTrigger(self->deferredTriggers[i]);
        self->deferredTriggerCount = 0;
    }

    // Trigger ring.
    CommandQueues& q = self->queues;
    uint64_t r = q.triggerRead.load(std::memory_order_relaxed);
    uint64_t w = q.triggerWrite.load(std::memory_order_acquire);
    bool wantCallback = false;
    while (r != w) {
        TriggerSlot slot = q.triggerSlots[r % CommandQueues::kTriggerSlots];
        q.triggerRead.store(++r, std::memory_order_release);
        const uint32_t size = std::min<uint32_t>(slot.size, sizeof slot.payload);
        DeferredTrigger t;
        bool isTrigger = true;
        switch (uint8_t(slot.type)) {
        case vesk::CmdTrigger: {
            // A payload too short for the seed draws a fresh one.
            vesk::msg::Trigger m;
            t.kind = DeferredTrigger::Kind::Random;
            t.seed = vesk::msg::decode(slot.payload, size, m) ? m.seed : self->nextFreshSeed();
            wantCallback = true;
            break;
        }
        case vesk::CmdPlaySample: {
            vesk::msg::PlaySample m;
            if (!vesk::msg::decode(slot.payload, size, m))
                continue;
            t.kind = DeferredTrigger::Kind::PlaySample;
            t.target = int32_t(m.pool);
            t.sampleIndex = int32_t(m.sampleIndex);
            wantCallback = true;
            break;
        }
        case vesk::CmdReplay:
            t.kind = DeferredTrigger::Kind::Replay;
            wantCallback = true;
            break;
        case vesk::CmdStopPool: {
            vesk::msg::StopPool m;
            if (!vesk::msg::decode(slot.payload, size, m))
                continue;
            t.kind = DeferredTrigger::Kind::StopPool;
            t.target = int32_t(m.pool);
            break;
        }
        case vesk::CmdStopAll:
            t.kind = DeferredTrigger::Kind::StopAll;
            break;
        default:
            isTrigger = false;
            break;
        }
        if (isTrigger) {
            if (locked)
                self->executeTrigger(t);
            else
                self->deferTrigger(t);
        } else {
            // A stray command: the main thread executes it. Allocates, but only for a message
            // that does not belong on this ring.
            PendingCommand pc;
            pc.type = uint8_t(slot.type);
            pc.payload.assign(slot.payload, slot.payload + size);
            {
                std::lock_guard<std::mutex> guard(self->pendingMutex);
                self->pendingCommands.push_back(std::move(pc));
            }
            wantCallback = true;
        }
        w = q.triggerWrite.load(std::memory_order_acquire);
    }
    if (wantCallback)
        requestCallback(self->host);

    // The editor's gestures on parameters, out to the host.
    self->paramGestures.emit(process->out_events);

    // Output channels, when the host gave any.
    float* left = nullptr;
    float* right = nullptr;
    if (process->audio_outputs_count >= 1 && process->audio_outputs != nullptr) {
        const clap_audio_buffer_t& out = process->audio_outputs[0];
        if (out.data32 != nullptr && out.data32[0] != nullptr) {
            left = out.data32[0];
            right = (out.channel_count >= 2 && out.data32[1] != nullptr) ? out.data32[1] : nullptr;
        }
    }
    // An output with fewer than two channels is never written.
    auto writeSilence = [&] {
        if (left != nullptr && right != nullptr) {
            std::memset(left, 0, sizeof(float) * frames);
            std::memset(right, 0, sizeof(float) * frames);
        }
    };

    // Track mute (REAPER): silence, and nothing left to sound later. The first muted block resets
    // the FX buses and the master chain; every muted block cuts all voices and grains at once
    // (no stop fade would ever be rendered), also those that triggers during the mute started.
    if (self->trackMuted.load(std::memory_order_relaxed)) {
        if (locked) {
            if (!self->muteLatch) {
                for (vesk::FXLane& lane : self->lanes)
                    lane.resetModules();
                self->masterFx.reset();
                self->muteLatch = true;
            }
            self->sampler.cut();
        }
        writeSilence();
        // Note bookkeeping continues while muted (no triggers), so no channel stays held; host
        // parameters still change.
        self->followNotesWhileMuted(process->in_events);
        if (const clap_input_events_t* in = process->in_events;
            in != nullptr && in->size != nullptr && in->get != nullptr)
            for (uint32_t i = 0, n = in->size(in); i < n; ++i)
                self->applyParamEvent(in->get(in, i), locked);
        if (locked)
            self->stateMutex.unlock();
        return CLAP_PROCESS_CONTINUE;
    }
    self->muteLatch = false;

    // Both channels are needed to render; an output with fewer is left alone.
    const bool haveOutput = left != nullptr && right != nullptr;
    const bool render = haveOutput && locked;
    vesk::LaneRouting routing;
    if (render)
        routing = vesk::computeLaneRouting(self->lanes[0].soloed, self->lanes[0].muted,
                                           self->lanes[1].soloed, self->lanes[1].muted,
                                           self->bus1ToMaster);

    // Events, rendering up to each note so notes start on their frame.
    float levels[vesk::kNumPools] = {};
    uint32_t cursor = 0;
    // A host note-on (CLAP, or raw MIDI): a trigger at its frame, its velocity, its channel held.
    auto noteOn = [&](uint32_t time, int key, int channel, float velocity) {
        const uint32_t t = std::min(time, frames);
        if (render && cursor < t) {
            self->renderRange(left, right, cursor, t, routing, levels);
            cursor = t;
        }
        if (render)
            self->applyQueuedParams(); // those at this very frame, before the trigger draws
        // Modulation aimed at the notes before is gone; the host sends this note's after it.
        self->clearNoteModulation();
        DeferredTrigger trig;
        trig.kind = DeferredTrigger::Kind::Note;
        trig.target = key;
        // Offline, the seed follows from where the note sits in the song, so every bounce draws
        // alike; live, every note draws afresh.
        trig.seed =
            offline ? vesk::offlineNoteSeed(songBase + (int64_t(t) - songBaseFrame), key, channel)
                    : self->nextFreshSeed();
        if (locked)
            self->executeTrigger(trig);
        else
            self->deferTrigger(trig);
        self->modInput.velocity = std::isfinite(velocity) ? std::clamp(velocity, 0.0f, 1.0f) : 1.0f;
        self->pressChannel(channel);
    };
    if (const clap_input_events_t* in = process->in_events) {
        const uint32_t n = (in->size != nullptr && in->get != nullptr) ? in->size(in) : 0;
        for (uint32_t i = 0; i < n; ++i) {
            const clap_event_header_t* h = in->get(in, i);
            if (h == nullptr || h->space_id != CLAP_CORE_EVENT_SPACE_ID)
                continue;
            switch (h->type) {
            case CLAP_EVENT_NOTE_ON: {
                if (h->size < sizeof(clap_event_note_t))
                    break;
                const auto* e = reinterpret_cast<const clap_event_note_t*>(h);
                const uint16_t key = uint16_t(e->key);
                noteOn(h->time, key <= 127 ? int(key) : 60, e->channel, float(e->velocity));
                break;
            }
            case CLAP_EVENT_PARAM_VALUE:
            case CLAP_EVENT_PARAM_MOD: {
                // Sample-accurate: everything before the event renders with the old value. A
                // pool's own parameters split only that pool's voices and the master chain's only
                // the chain (both queued, renderRange); the others split the block.
                const uint32_t t = std::min(h->time, frames);
                if (render && self->queuePoolParamEvent(h, t))
                    break;
                if (render && cursor < t) {
                    self->renderRange(left, right, cursor, t, routing, levels);
                    cursor = t;
                }
                if (render)
                    self->applyQueuedParams();
                if (self->applyParamEvent(h, locked) && render)
                    routing = vesk::computeLaneRouting(self->lanes[0].soloed, self->lanes[0].muted,
                                                       self->lanes[1].soloed, self->lanes[1].muted,
                                                       self->bus1ToMaster);
                break;
            }
            case CLAP_EVENT_TRANSPORT:
                if (offline && h->size >= sizeof(clap_event_transport_t) &&
                    transportPositionSamples(*reinterpret_cast<const clap_event_transport_t*>(h),
                                             self->sampleRate, songBase))
                    songBaseFrame = std::min(h->time, frames);
                break;
            case CLAP_EVENT_NOTE_OFF:
            case CLAP_EVENT_NOTE_CHOKE:
            case CLAP_EVENT_NOTE_END:
                if (h->size >= sizeof(clap_event_note_t))
                    self->releaseChannel(reinterpret_cast<const clap_event_note_t*>(h)->channel);
                break;
            case CLAP_EVENT_NOTE_EXPRESSION: {
                if (h->size < sizeof(clap_event_note_expression_t))
                    break;
                const auto* e = reinterpret_cast<const clap_event_note_expression_t*>(h);
                if (e->channel < -1 || e->channel > 15)
                    break; // not a MIDI channel: skipped
                const int ch = e->channel < 0 ? 0 : int(e->channel);
                float v = float(e->value);
                float* store = nullptr;
                float* target = nullptr;
                if (e->expression_id == CLAP_NOTE_EXPRESSION_TUNING) {
                    v = std::isnan(v) ? 1.0f : std::clamp(v, -1.0f, 1.0f);
                    store = &self->channels.channelBend[ch];
                    target = &self->modInput.bendTarget;
                } else if (e->expression_id == CLAP_NOTE_EXPRESSION_BRIGHTNESS) {
                    v = std::isnan(v) ? 1.0f : std::clamp(v, 0.0f, 1.0f);
                    store = &self->channels.channelSlide[ch];
                    target = &self->modInput.slideTarget;
                } else if (e->expression_id == CLAP_NOTE_EXPRESSION_PRESSURE) {
                    v = std::isnan(v) ? 1.0f : std::clamp(v, 0.0f, 1.0f);
                    store = &self->channels.channelPressure[ch];
                    target = &self->modInput.pressureTarget;
                }
                if (store != nullptr) {
                    *store = v;
                    const ChannelExpression& ce = self->channels;
                    if (ce.channelStackSize > 0 && ce.channelStack[ce.channelStackSize - 1] == ch)
                        *target = v;
                }
                break;
            }
            case CLAP_EVENT_MIDI: {
                if (h->size < sizeof(clap_event_midi_t))
                    break;
                const auto* e = reinterpret_cast<const clap_event_midi_t*>(h);
                const uint8_t s = e->data[0];
                const int ch = s & 0x0F;
                const uint8_t kind = s & 0xF0;
                const ChannelExpression& ce = self->channels;
                const bool current =
                    ce.channelStackSize > 0 && ce.channelStack[ce.channelStackSize - 1] == ch;
                if (isMidiNoteOn(*e)) {
                    // A host speaking the MIDI (or MPE) dialect sends its notes so.
                    noteOn(h->time, e->data[1] & 0x7F, ch, float(e->data[2] & 0x7F) / 127.0f);
                } else if (isMidiNoteOff(*e)) {
                    self->releaseChannel(ch);
                } else if (kind == 0xB0 && e->data[1] == 74) {
                    self->channels.channelSlide[ch] = float(e->data[2] & 0x7F) * (1.0f / 127.0f);
                    if (current)
                        self->modInput.slideTarget = self->channels.channelSlide[ch];
                } else if (kind == 0xD0) {
                    self->channels.channelPressure[ch] = float(e->data[1] & 0x7F) * (1.0f / 127.0f);
                    if (current)
                        self->modInput.pressureTarget = self->channels.channelPressure[ch];
                } else if (kind == 0xE0) {
                    const int16_t raw = int16_t((e->data[1] & 0x7F) | ((e->data[2] & 0x7F) << 7));
                    const float bend = std::clamp(float(raw - 8192) / 8192.0f, -1.0f, 1.0f);
                    self->channels.channelBend[ch] = bend;
                    if (current)
                        self->modInput.bendTarget = bend;
                }
                break;
            }
            default:
                break;
            }
        }
    }

    if (haveOutput) {
        if (!locked) {
            writeSilence();
        } else {
            if (cursor < frames)
                self->renderRange(left, right, cursor, frames, routing, levels);
            self->applyQueuedParams(); // events at or after the block's end
            self->publishLiveValues(levels);
        }
    }
    if (locked)
        self->stateMutex.unlock();
    return CLAP_PROCESS_CONTINUE;
}

void VeskPlugin::deferTrigger(const DeferredTrigger& trigger)
{
    if (deferredTriggerCount >= int32_t(std::size(deferredTriggers))) {
        queues.countDropped();
        return;
    }
    deferredTriggers[deferredTriggerCount++] = trigger;
}

uint64_t VeskPlugin::nextFreshSeed()
{
    return vesk::nextFreshSeed(freshSeedState);
}

void VeskPlugin::followNotesWhileMuted(const clap_input_events_t* in)
{
    const uint32_t n =
        (in != nullptr && in->size != nullptr && in->get != nullptr) ? in->size(in) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        const clap_event_header_t* h = in->get(in, i);
        if (h == nullptr || h->space_id != CLAP_CORE_EVENT_SPACE_ID)
            continue;
        if (h->type == CLAP_EVENT_NOTE_ON && h->size >= sizeof(clap_event_note_t)) {
            pressChannel(reinterpret_cast<const clap_event_note_t*>(h)->channel);
        } else if ((h->type == CLAP_EVENT_NOTE_OFF || h->type == CLAP_EVENT_NOTE_CHOKE ||
                    h->type == CLAP_EVENT_NOTE_END) &&
                   h->size >= sizeof(clap_event_note_t)) {
            releaseChannel(reinterpret_cast<const clap_event_note_t*>(h)->channel);
        } else if (h->type == CLAP_EVENT_MIDI && h->size >= sizeof(clap_event_midi_t)) {
            const auto* e = reinterpret_cast<const clap_event_midi_t*>(h);
            if (isMidiNoteOn(*e))
                pressChannel(e->data[0] & 0x0F);
            else if (isMidiNoteOff(*e))
                releaseChannel(e->data[0] & 0x0F);
        }
    }
}

void VeskPlugin::pressChannel(int channel)
{
    if (channel > 15 || channel < -1)
        return;
    const int ch = channel < 0 ? 0 : channel;
    ChannelExpression& c = channels;
    if (c.heldNotes[ch] == 0) {
        int k = 0;
        for (int i = 0; i < c.channelStackSize; ++i)
            if (c.channelStack[i] != ch)
                c.channelStack[k++] = c.channelStack[i];
        c.channelStackSize = uint8_t(k);
        if (c.channelStackSize < 16)
            c.channelStack[c.channelStackSize++] = int8_t(ch);
    }
    if (c.heldNotes[ch] < 255)
        ++c.heldNotes[ch];
    refreshModTargets();
}

void VeskPlugin::releaseChannel(int channel)
{
    if (channel > 15 || channel < -1)
        return;
    const int ch = channel < 0 ? 0 : channel;
    ChannelExpression& c = channels;
    if (c.heldNotes[ch] > 0 && --c.heldNotes[ch] == 0) {
        int k = 0;
        for (int i = 0; i < c.channelStackSize; ++i)
            if (c.channelStack[i] != ch)
                c.channelStack[k++] = c.channelStack[i];
        c.channelStackSize = uint8_t(k);
    }
    refreshModTargets();
}

void VeskPlugin::refreshModTargets()
{
    const ChannelExpression& c = channels;
    const int current = c.channelStackSize > 0 ? c.channelStack[c.channelStackSize - 1] : -1;
    if (current < 0 || current > 15) {
        modInput.pressureTarget = modInput.slideTarget = modInput.bendTarget = 0.0f;
        return;
    }
    modInput.pressureTarget = c.channelPressure[current];
    modInput.slideTarget = c.channelSlide[current];
    modInput.bendTarget = c.channelBend[current];
}

void VeskPlugin::clearChannelExpression()
{
    channels = ChannelExpression{};
}

void VeskPlugin::clearModulationInput()
{
    const double smoothing = modInput.modSmoothing;
    modInput = ModulationInput{};
    modInput.modSmoothing = smoothing;
}

namespace {

// The host's modulation amounts on top of the engine's fields for as long as it lives.
class ModulationScope
{
public:
    explicit ModulationScope(VeskPlugin& p) : plugin_(p), on_(p.beginModulation()) {}
    ~ModulationScope()
    {
        if (on_)
            plugin_.endModulation();
    }
    ModulationScope(const ModulationScope&) = delete;
    ModulationScope& operator=(const ModulationScope&) = delete;

private:
    VeskPlugin& plugin_;
    bool on_;
};

} // namespace

void VeskPlugin::renderRange(float* left, float* right, uint32_t begin, uint32_t end,
                             const vesk::LaneRouting& routing, float* levels)
{
    const ModulationScope modulated(*this);
    float* bus1L = busBuffers[0];
    float* bus1R = busBuffers[1];
    float* bus2L = busBuffers[2];
    float* bus2R = busBuffers[3];
    for (uint32_t a = begin; a < end;) {
        const uint32_t n = std::min<uint32_t>(end - a, vesk::kChunkFrames);
        float* outL = left + a;
        float* outR = right + a;
        std::memset(outL, 0, sizeof(float) * n);
        std::memset(outR, 0, sizeof(float) * n);
        for (float* b : {bus1L, bus1R, bus2L, bus2R})
            std::memset(b, 0, sizeof(float) * n);

        for (int i = 0; i < vesk::kNumPools; ++i) {
            if (!sampler.isPoolAudible(i)) {
                renderPoolSplit(i, nullptr, nullptr, a, n, false);
                sampler.poolPeak[i] = 0.0f;
                continue;
            }
            float* dl = bus1L;
            float* dr = bus1R;
            switch (sampler.pools[i].outputRoute) {
            case vesk::PoolRoute::Bus2:
                dl = bus2L;
                dr = bus2R;
                break;
            case vesk::PoolRoute::Master:
                dl = outL;
                dr = outR;
                break;
            default:
                break;
            }
            sampler.poolPeak[i] = std::max(0.0f, renderPoolSplit(i, dl, dr, a, n, true));
        }

        sampler.renderGrains(bus1L, bus1R, n);
        for (int i = 0; i < vesk::kNumPools; ++i)
            levels[i] = std::max(levels[i], sampler.poolPeak[i]);

        ModulationInput& m = modInput;
        m.modBus[0] = 0.0f;
        m.modBus[4] = m.velocity;
        const float k = float(1.0 - std::exp(-double(n) / m.modSmoothing));
        m.modBus[1] += (m.pressureTarget - m.modBus[1]) * k;
        m.modBus[2] += (m.slideTarget - m.modBus[2]) * k;
        m.modBus[3] += (m.bendTarget - m.modBus[3]) * k;

        if (routing.silenceDirect) {
            std::memset(outL, 0, sizeof(float) * n);
            std::memset(outR, 0, sizeof(float) * n);
        }
        if (routing.runBus1) {
            lanes[0].processInternal(bus1L, bus1R, n, m.modBus);
            float* toL = routing.bus1ToOutput ? outL : bus2L;
            float* toR = routing.bus1ToOutput ? outR : bus2R;
            for (uint32_t f = 0; f < n; ++f) {
                toL[f] += bus1L[f];
                toR[f] += bus1R[f];
            }
        }
        if (routing.runBus2) {
            lanes[1].processInternal(bus2L, bus2R, n, m.modBus);
            for (uint32_t f = 0; f < n; ++f) {
                outL[f] += bus2L[f];
                outR[f] += bus2R[f];
            }
        }
        // The master chain runs in pieces cut at its own parameters' events in this stretch.
        uint32_t done = 0;
        ParamRuntime& rt = paramRuntime;
        for (uint32_t k = 0; k < rt.queuedCount; ++k) {
            ParamRuntime::Queued& q = rt.queued[k];
            if (q.applied || q.pool != ParamRuntime::kMasterQueue || q.frame >= a + n)
                continue;
            const uint32_t at = q.frame > a ? q.frame - a : 0;
            if (at > done) {
                masterFx.process(outL + done, outR + done, at - done);
                done = at;
            }
            applyParamNow(q.index, q.change, q.value);
            q.applied = true;
        }
        if (done < n)
            masterFx.process(outL + done, outR + done, n - done);
        a += n;
    }
}

void VeskPlugin::executeTrigger(const DeferredTrigger& t)
{
    const ModulationScope modulated(*this);
    using Kind = DeferredTrigger::Kind;
    const bool sounding = t.kind == Kind::Note || t.kind == Kind::Random ||
                          t.kind == Kind::PlaySample || t.kind == Kind::Replay;
    if (sounding && !sampler.isPlaying()) {
        lanes[0].softReset();
        lanes[1].softReset();
        masterFx.softReset();
    }
    switch (t.kind) {
    case Kind::Note:
        sampler.triggerSalted(seedSalt, t.seed, t.target);
        break;
    case Kind::Random:
        sampler.triggerSalted(seedSalt, t.seed, 60);
        break;
    case Kind::PlaySample:
        sampler.playSample(t.target, t.sampleIndex);
        break;
    case Kind::Replay:
        sampler.replay();
        break;
    case Kind::StopPool:
        sampler.stopPool(t.target);
        return;
    case Kind::StopAll:
        sampler.stop();
        return;
    }
    vesk::notifyTriggerInLane(lanes[0]);
    vesk::notifyTriggerInLane(lanes[1]);
}

void VeskPlugin::publishLiveValues(const float* levels)
{
    bool anyActive = false;
    bool active[vesk::kNumPools];
    float playback[vesk::kNumPools];
    float envelope[vesk::kNumPools];
    for (int i = 0; i < vesk::kNumPools; ++i) {
        bool a = sampler.walks[i].active;
        for (const vesk::Voice& v : sampler.voices[i])
            a = a || v.isActive();
        active[i] = a;
        anyActive = anyActive || a;
        playback[i] = sampler.getPoolPlaybackProgress(i);
        envelope[i] = sampler.getPoolEnvelopeProgress(i);
    }
    for (vesk::VeskState& snap : snapshots) {
        for (int i = 0; i < vesk::kNumPools; ++i) {
            vesk::PoolState& p = snap.pools[i];
            p.level.store(levels[i]);
            p.active.store(active[i]);
            p.playbackProgress.store(playback[i]);
            p.envelopeProgress.store(envelope[i]);
        }
        snap.playing.store(anyActive);
        for (int k = 0; k < vesk::kModBusSize; ++k)
            snap.modulation[k].store(modInput.modBus[k]);
    }
}
