// clap.params: the host's view of the table in Params.h, its values in process and flush, its
// modulation, and the editor's gestures going out.
//
// A host value lands in the very engine field that the editor's command for the same knob sets,
// with the same limits, so the snapshot, the editor and the saved state follow it like any edit.
// A modulation amount never lands there for good: around each render and trigger the amounts go
// on top of the fields and come off again afterwards, all under the state mutex the audio thread
// holds anyway, so nothing else ever sees a modulated value.
#include "VeskPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using vesk::params::Kind;
using vesk::params::ParamDef;

namespace {

// The engine field behind a continuous pool parameter (a random spread is the 0..1 range).
float* poolField(vesk::SamplePool& pool, Kind kind)
{
    switch (kind) {
    case Kind::PoolVolume:
        return &pool.volume.base;
    case Kind::PoolVolumeRandom:
        return &pool.volume.range;
    case Kind::PoolPan:
        return &pool.pan.base;
    case Kind::PoolPanRandom:
        return &pool.pan.range;
    case Kind::PoolPitch:
        return &pool.pitch.base;
    case Kind::PoolPitchRandom:
        return &pool.pitch.range;
    case Kind::PoolStart:
        return &pool.start.base;
    case Kind::PoolHpf:
        return &pool.hpfHz;
    case Kind::PoolLpf:
        return &pool.lpfHz;
    case Kind::PoolReverse:
        return &pool.reverseChance;
    default:
        return nullptr;
    }
}

bool isRandom(Kind kind)
{
    return kind == Kind::PoolVolumeRandom || kind == Kind::PoolPanRandom ||
           kind == Kind::PoolPitchRandom;
}

void setMaskBit(std::atomic<uint8_t>& shadow, uint8_t& mask, int bit, bool on)
{
    const uint8_t b = uint8_t(1u << bit);
    if (on)
        shadow.fetch_or(b);
    else
        shadow.fetch_and(uint8_t(~b));
    mask = shadow.load();
}

} // namespace

double VeskPlugin::readParam(const ParamDef& def) const
{
    double v = def.defaultValue;
    const int i = def.index;
    switch (def.kind) {
    case Kind::PoolMute:
        v = (sampler.muteMask >> i) & 1u;
        break;
    case Kind::PoolSolo:
        v = (sampler.soloMask >> i) & 1u;
        break;
    case Kind::BusBypass:
        v = lanes[i].bypassed ? 1.0 : 0.0;
        break;
    case Kind::BusMute:
        v = lanes[i].muted ? 1.0 : 0.0;
        break;
    case Kind::BusSolo:
        v = lanes[i].soloed ? 1.0 : 0.0;
        break;
    case Kind::MasterOutput:
        v = masterFx.outputGainDb;
        break;
    case Kind::MasterBypass:
        v = masterFx.bypassed ? 1.0 : 0.0;
        break;
    case Kind::LimiterCeiling:
        v = masterFx.limiter.limiterCeiling;
        break;
    default: {
        const float* f = poolField(const_cast<vesk::SamplePool&>(sampler.pools[i]), def.kind);
        if (f != nullptr)
            v = isRandom(def.kind) ? double(*f) * 100.0 : double(*f);
        break;
    }
    }
    double out = def.defaultValue;
    vesk::params::sanitize(def, v, out);
    return out;
}

void VeskPlugin::writeParam(const ParamDef& def, double value)
{
    const int i = def.index;
    const bool on = value >= 0.5;
    switch (def.kind) {
    case Kind::PoolMute:
        setMaskBit(muteShadow, sampler.muteMask, i, on);
        break;
    case Kind::PoolSolo:
        setMaskBit(soloShadow, sampler.soloMask, i, on);
        break;
    case Kind::BusBypass:
        lanes[i].bypassed = on;
        break;
    case Kind::BusMute:
        lanes[i].muted = on;
        break;
    case Kind::BusSolo:
        lanes[i].soloed = on;
        break;
    case Kind::MasterOutput:
        masterFx.setOutputGainDb(float(value));
        break;
    case Kind::MasterBypass:
        masterFx.setBypassed(on);
        break;
    case Kind::LimiterCeiling:
        masterFx.setLimiter(masterFx.limiter.limiterThreshold, float(value),
                            masterFx.limiter.limiterRelease);
        break;
    default:
        if (float* f = poolField(sampler.pools[i], def.kind))
            *f = isRandom(def.kind) ? float(value / 100.0) : float(value);
        break;
    }
}

namespace {

void setModulation(ParamRuntime& rt, int index, bool toNote, double amount)
{
    float& layer = toNote ? rt.noteMod[index] : rt.globalMod[index];
    if (toNote)
        rt.noteModCount += int32_t(amount != 0.0) - int32_t(layer != 0.0f);
    layer = float(amount);
    const ParamDef& def = vesk::params::table()[index];
    const double span = def.maxValue - def.minValue;
    const float old = rt.mod[index];
    const float now =
        float(std::clamp(double(rt.globalMod[index]) + rt.noteMod[index], -span, span));
    rt.mod[index] = now;
    rt.modCount += int32_t(now != 0.0f) - int32_t(old != 0.0f);
}

// A modulation event aimed at one note (CLAP: note id or key not -1).
bool aimedAtNote(const clap_event_param_mod_t& e)
{
    return e.note_id >= 0 || e.key >= 0;
}

} // namespace

bool VeskPlugin::applyParamEvent(const clap_event_header_t* h, bool locked)
{
    if (h == nullptr || h->space_id != CLAP_CORE_EVENT_SPACE_ID)
        return false;
    ParamRuntime& rt = paramRuntime;
    if (h->type == CLAP_EVENT_PARAM_VALUE) {
        if (h->size < sizeof(clap_event_param_value_t))
            return false;
        const auto* e = reinterpret_cast<const clap_event_param_value_t*>(h);
        const int index = vesk::params::indexOf(e->param_id);
        double v = 0.0;
        if (index < 0 || !vesk::params::sanitize(vesk::params::table()[index], e->value, v))
            return false;
        if (locked) {
            applyParamNow(index, ParamRuntime::Value, v);
            return true;
        }
        rt.pendingValue[index] = v;
        rt.pendingValueSet[index] = true;
        rt.anyPending = true;
        return false;
    }
    if (h->type == CLAP_EVENT_PARAM_MOD) {
        if (h->size < sizeof(clap_event_param_mod_t))
            return false;
        const auto* e = reinterpret_cast<const clap_event_param_mod_t*>(h);
        const int index = vesk::params::indexOf(e->param_id);
        if (index < 0)
            return false;
        const ParamDef& def = vesk::params::table()[index];
        double amount = 0.0;
        if (!def.modulatable() || !vesk::params::sanitizeModulation(def, e->amount, amount))
            return false;
        // Heard from the next render on; the fields themselves do not change.
        applyParamNow(index, aimedAtNote(*e) ? ParamRuntime::NoteMod : ParamRuntime::Mod, amount);
        return false;
    }
    return false;
}

void VeskPlugin::applyPendingParams()
{
    ParamRuntime& rt = paramRuntime;
    if (!rt.anyPending)
        return;
    for (uint32_t i = 0; i < vesk::params::kCount; ++i) {
        if (rt.pendingValueSet[i])
            applyParamNow(int(i), ParamRuntime::Value, rt.pendingValue[i]);
        rt.pendingValueSet[i] = false;
    }
    rt.anyPending = false;
}

namespace {

// A pool's own parameters: the ones its voices and draws read.
bool isPoolSound(Kind kind)
{
    return kind <= Kind::PoolReverse;
}

// The master chain's own parameters: nothing before the chain reads them.
bool isMasterChain(Kind kind)
{
    return kind == Kind::MasterOutput || kind == Kind::MasterBypass || kind == Kind::LimiterCeiling;
}

// The pool parameters the voices read while they play.
bool readLive(Kind kind)
{
    return kind == Kind::PoolVolume || kind == Kind::PoolPan || kind == Kind::PoolPitch ||
           kind == Kind::PoolHpf || kind == Kind::PoolLpf;
}

} // namespace

void VeskPlugin::modulateField(int index)
{
    ParamRuntime& rt = paramRuntime;
    const ParamDef& def = vesk::params::table()[index];
    if (def.kind == Kind::MasterOutput)
        rt.saved[index] = masterFx.outputGainDb;
    else if (def.kind == Kind::LimiterCeiling)
        rt.saved[index] = masterFx.limiter.limiterCeiling;
    else if (const float* f = def.index >= 0 && def.index < vesk::kNumPools
                                  ? poolField(sampler.pools[def.index], def.kind)
                                  : nullptr)
        rt.saved[index] = *f;
    else
        return;
    writeParam(def, std::clamp(readParam(def) + double(rt.mod[index]), def.minValue, def.maxValue));
}

void VeskPlugin::unmodulateField(int index)
{
    ParamRuntime& rt = paramRuntime;
    const ParamDef& def = vesk::params::table()[index];
    if (def.kind == Kind::MasterOutput)
        masterFx.setOutputGainDb(rt.saved[index]);
    else if (def.kind == Kind::LimiterCeiling)
        masterFx.setLimiter(masterFx.limiter.limiterThreshold, rt.saved[index],
                            masterFx.limiter.limiterRelease);
    else if (float* f = def.index >= 0 && def.index < vesk::kNumPools
                            ? poolField(sampler.pools[def.index], def.kind)
                            : nullptr)
        *f = rt.saved[index];
}

void VeskPlugin::applyParamNow(int index, ParamRuntime::Change change, double value)
{
    ParamRuntime& rt = paramRuntime;
    const bool wasModulated = rt.modulating && rt.mod[index] != 0.0f;
    if (wasModulated)
        unmodulateField(index);
    if (change != ParamRuntime::Value)
        setModulation(rt, index, change == ParamRuntime::NoteMod, value);
    else
        writeParam(vesk::params::table()[index], value);
    if (rt.modulating && rt.mod[index] != 0.0f)
        modulateField(index);
}

bool VeskPlugin::queuePoolParamEvent(const clap_event_header_t* h, uint32_t frame)
{
    ParamRuntime& rt = paramRuntime;
    if (h == nullptr || h->space_id != CLAP_CORE_EVENT_SPACE_ID)
        return true;
    clap_id id = CLAP_INVALID_ID;
    double raw = 0.0;
    const bool isMod = h->type == CLAP_EVENT_PARAM_MOD;
    ParamRuntime::Change change = ParamRuntime::Value;
    if (!isMod && h->size >= sizeof(clap_event_param_value_t)) {
        const auto* e = reinterpret_cast<const clap_event_param_value_t*>(h);
        id = e->param_id;
        raw = e->value;
    } else if (isMod && h->size >= sizeof(clap_event_param_mod_t)) {
        const auto* e = reinterpret_cast<const clap_event_param_mod_t*>(h);
        id = e->param_id;
        raw = e->amount;
        change = aimedAtNote(*e) ? ParamRuntime::NoteMod : ParamRuntime::Mod;
    } else {
        return true; // too short: ignored
    }
    const int index = vesk::params::indexOf(id);
    if (index < 0)
        return true;
    const ParamDef& def = vesk::params::table()[index];
    const bool master = isMasterChain(def.kind);
    if ((!isPoolSound(def.kind) && !master) || rt.queuedCount >= ParamRuntime::kMaxQueued)
        return false;
    double v = 0.0;
    if (isMod ? !def.modulatable() || !vesk::params::sanitizeModulation(def, raw, v)
              : !vesk::params::sanitize(def, raw, v))
        return true; // ignored, as applyParamEvent ignores it
    ParamRuntime::Queued& q = rt.queued[rt.queuedCount++];
    q.frame = frame;
    q.index = uint16_t(index);
    q.change = change;
    q.applied = false;
    q.pool = master ? ParamRuntime::kMasterQueue : int8_t(def.index);
    q.live = readLive(def.kind);
    q.value = v;
    return true;
}

void VeskPlugin::applyQueuedParams()
{
    ParamRuntime& rt = paramRuntime;
    for (uint32_t k = 0; k < rt.queuedCount; ++k) {
        ParamRuntime::Queued& q = rt.queued[k];
        if (!q.applied)
            applyParamNow(q.index, q.change, q.value);
    }
    rt.queuedCount = 0;
}

float VeskPlugin::renderPoolSplit(int pool, float* left, float* right, uint32_t begin,
                                  uint32_t frames, bool audible)
{
    ParamRuntime& rt = paramRuntime;
    auto ours = [&](const ParamRuntime::Queued& q) {
        return !q.applied && q.pool == pool && q.frame >= begin && q.frame < begin + frames;
    };
    if (!audible) {
        // Muted pools keep time; their sound goes to scratch, in pieces cut at the events.
        uint32_t done = 0;
        auto renderTo = [&](uint32_t to) {
            constexpr uint32_t kPiece = 1024;
            for (uint32_t d = done; d < to; d += kPiece)
                sampler.renderPoolVoicesSilently(pool, std::min(kPiece, to - d));
            done = std::max(done, to);
        };
        for (uint32_t k = 0; k < rt.queuedCount; ++k) {
            ParamRuntime::Queued& q = rt.queued[k];
            if (!ours(q))
                continue;
            // Spreads, start and reverse chance are read only when a trigger draws (never
            // inside a render): they need no cut in the voices.
            if (q.live)
                renderTo(q.frame - begin);
            applyParamNow(q.index, q.change, q.value);
            q.applied = true;
        }
        renderTo(frames);
        return 0.0f;
    }

    // The events are applied in order and the knobs the voices follow are noted at each event's
    // frame; the voices then render the whole stretch once, the knobs moving inside it. Only the
    // knobs the voices read while playing make a cut; spreads, start and reverse chance are read
    // when a trigger draws.
    constexpr uint32_t kMaxCuts = 64;
    uint32_t cutFrames[kMaxCuts]; // from `done`
    vesk::PoolKnobs cutKnobs[kMaxCuts];
    uint32_t cutCount = 0;
    uint32_t done = 0;
    vesk::SamplePool& p = sampler.pools[pool];
    vesk::PoolKnobs start = vesk::PoolKnobs::of(p);
    float peak = 0.0f;
    // Renders [done, to) with the cuts noted; the knobs then hold `after` again.
    auto renderTo = [&](uint32_t to, const vesk::PoolKnobs& after) {
        if (to > done)
            peak =
                std::max(peak, sampler.renderPoolVoices(pool, left + done, right + done, to - done,
                                                        start, cutFrames, cutKnobs, cutCount));
        done = std::max(done, to);
        cutCount = 0;
        start = after;
        after.applyTo(p);
    };
    for (uint32_t k = 0; k < rt.queuedCount; ++k) {
        ParamRuntime::Queued& q = rt.queued[k];
        if (!ours(q))
            continue;
        applyParamNow(q.index, q.change, q.value);
        q.applied = true;
        if (!q.live)
            continue;
        const vesk::PoolKnobs now = vesk::PoolKnobs::of(p);
        const uint32_t at = q.frame - begin;
        if (at <= done) {
            start = now;
        } else if (cutCount > 0 && cutFrames[cutCount - 1] >= at - done) {
            // Several events at one frame (or one out of order) make one cut.
            cutKnobs[cutCount - 1] = now;
        } else if (cutCount == kMaxCuts) {
            renderTo(at, now);
        } else {
            cutFrames[cutCount] = at - done;
            cutKnobs[cutCount] = now;
            ++cutCount;
        }
    }
    renderTo(frames, vesk::PoolKnobs::of(p));
    return peak;
}

bool VeskPlugin::beginModulation()
{
    ParamRuntime& rt = paramRuntime;
    if (rt.modulating)
        return false;
    rt.modulating = true;
    if (rt.modCount > 0)
        for (uint32_t i = 0; i < vesk::params::kCount; ++i)
            if (rt.mod[i] != 0.0f)
                modulateField(int(i));
    return true;
}

void VeskPlugin::endModulation()
{
    ParamRuntime& rt = paramRuntime;
    if (!rt.modulating)
        return;
    if (rt.modCount > 0)
        for (uint32_t i = 0; i < vesk::params::kCount; ++i)
            if (rt.mod[i] != 0.0f)
                unmodulateField(int(i));
    rt.modulating = false;
}

void VeskPlugin::clearParamModulation()
{
    ParamRuntime& rt = paramRuntime;
    std::fill(std::begin(rt.globalMod), std::end(rt.globalMod), 0.0f);
    std::fill(std::begin(rt.noteMod), std::end(rt.noteMod), 0.0f);
    std::fill(std::begin(rt.mod), std::end(rt.mod), 0.0f);
    rt.modCount = 0;
    rt.noteModCount = 0;
}

void VeskPlugin::clearNoteModulation()
{
    ParamRuntime& rt = paramRuntime;
    if (rt.noteModCount == 0)
        return;
    for (uint32_t i = 0; i < vesk::params::kCount; ++i)
        if (rt.noteMod[i] != 0.0f)
            applyParamNow(int(i), ParamRuntime::NoteMod, 0.0);
}

void VeskPlugin::reportEditorParamChanges()
{
    bool moved = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        for (uint32_t i = 0; i < vesk::params::kCount; ++i) {
            const double v = readParam(vesk::params::table()[i]);
            moved = moved || v != paramsSeen[i];
            paramsSeen[i] = v;
        }
    }
    if (moved && hostParams != nullptr && hostParams->rescan != nullptr)
        hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
}

// ---------------------------------------------------------------------------------------------
// clap.params

uint32_t VeskPlugin::clapParamsCount(const clap_plugin_t*)
{
    return vesk::params::kCount;
}

bool VeskPlugin::clapParamsGetInfo(const clap_plugin_t*, uint32_t index, clap_param_info_t* info)
{
    if (info == nullptr || index >= vesk::params::kCount)
        return false;
    const ParamDef& def = vesk::params::table()[index];
    std::memset(info, 0, sizeof *info);
    info->id = def.id;
    info->flags = def.flags;
    info->cookie = nullptr;
    std::memcpy(info->name, def.name, sizeof info->name);
    std::memcpy(info->module, def.module, sizeof info->module);
    info->min_value = def.minValue;
    info->max_value = def.maxValue;
    info->default_value = def.defaultValue;
    return true;
}

bool VeskPlugin::clapParamsGetValue(const clap_plugin_t* plugin, clap_id id, double* value)
{
    VeskPlugin* self = from(plugin);
    const ParamDef* def = vesk::params::find(id);
    if (self == nullptr || def == nullptr || value == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(self->stateMutex);
    *value = self->readParam(*def);
    return true;
}

bool VeskPlugin::clapParamsValueToText(const clap_plugin_t*, clap_id id, double value,
                                       char* display, uint32_t size)
{
    const ParamDef* def = vesk::params::find(id);
    return def != nullptr && display != nullptr &&
           vesk::params::formatValue(*def, value, display, size);
}

bool VeskPlugin::clapParamsTextToValue(const clap_plugin_t*, clap_id id, const char* display,
                                       double* value)
{
    const ParamDef* def = vesk::params::find(id);
    double v = 0.0;
    if (def == nullptr || value == nullptr || !vesk::params::parseValue(*def, display, v))
        return false;
    *value = v;
    return true;
}

void VeskPlugin::clapParamsFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                                 const clap_output_events_t* out)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;
    // Active, this runs on the audio thread and must not wait: with the lock busy the values
    // wait for the next block. Inactive, it runs on the main thread, which may wait.
    std::unique_lock<std::mutex> lock(self->stateMutex, std::defer_lock);
    if (self->activated.load(std::memory_order_acquire))
        lock.try_lock();
    else
        lock.lock();
    const bool locked = lock.owns_lock();
    if (locked)
        self->applyPendingParams();
    bool changed = false;
    const uint32_t n =
        (in != nullptr && in->size != nullptr && in->get != nullptr) ? in->size(in) : 0;
    for (uint32_t i = 0; i < n; ++i)
        changed = self->applyParamEvent(in->get(in, i), locked) || changed;
    if (locked)
        lock.unlock();
    self->paramGestures.emit(out);
    // The next main-thread pass publishes the new values to the editor.
    if (changed)
        requestMainThreadCallback(self);
}

// ---------------------------------------------------------------------------------------------
// The editor's gestures

bool VeskParamGestures::push(uint16_t type, clap_id paramId, double value)
{
    const ParamDef* def = vesk::params::find(paramId);
    if (def == nullptr)
        return false;
    double v = 0.0;
    if (type == CLAP_EVENT_PARAM_VALUE && !vesk::params::sanitize(*def, value, v))
        return false;
    const uint64_t w = write_.load(std::memory_order_relaxed);
    if (w - read_.load(std::memory_order_acquire) >= kSlots) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    slots_[w % kSlots] = Event{type, paramId, v};
    write_.store(w + 1, std::memory_order_release);
    // While the host processes, the next block takes the event; otherwise it is asked for a flush.
    const auto* hp = static_cast<const clap_host_params_t*>(hostParams);
    if (!processing.load(std::memory_order_acquire) && host != nullptr && hp != nullptr &&
        hp->request_flush != nullptr)
        hp->request_flush(host);
    return true;
}

bool VeskParamGestures::begin(clap_id paramId)
{
    return push(CLAP_EVENT_PARAM_GESTURE_BEGIN, paramId, 0.0);
}

bool VeskParamGestures::value(clap_id paramId, double plainValue)
{
    return push(CLAP_EVENT_PARAM_VALUE, paramId, plainValue);
}

bool VeskParamGestures::end(clap_id paramId)
{
    return push(CLAP_EVENT_PARAM_GESTURE_END, paramId, 0.0);
}

void VeskParamGestures::emit(const clap_output_events_t* out)
{
    if (out == nullptr || out->try_push == nullptr)
        return;
    uint64_t r = read_.load(std::memory_order_relaxed);
    const uint64_t w = write_.load(std::memory_order_acquire);
    while (r != w) {
        const Event& ev = slots_[r % kSlots];
        bool pushed = false;
        if (ev.type == CLAP_EVENT_PARAM_VALUE) {
            clap_event_param_value_t e;
            std::memset(&e, 0, sizeof e);
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            e.param_id = ev.paramId;
            e.cookie = nullptr;
            e.note_id = -1;
            e.port_index = -1;
            e.channel = -1;
            e.key = -1;
            e.value = ev.value;
            pushed = out->try_push(out, &e.header);
        } else {
            clap_event_param_gesture_t e;
            std::memset(&e, 0, sizeof e);
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, ev.type, 0};
            e.param_id = ev.paramId;
            pushed = out->try_push(out, &e.header);
        }
        if (!pushed)
            break;
        read_.store(++r, std::memory_order_release);
    }
}
