#include "host/kit/Kit.h"

#include "audio_files/WavLoader.h"
#include "fx/VeskLanePresetIO.h"
#include "persistence/StateFormat.h"
#include "plugin/VeskPlugin.h"

#include <juce_core/juce_core.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace vesk::kit {

namespace {

struct MinimalHost
{
    clap_host_t host{};
    MinimalHost()
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "vesk-kit";
        host.vendor = "Halvoren";
        host.url = "";
        host.version = "1";
        host.get_extension = [](const clap_host_t*, const char*) -> const void* { return nullptr; };
        host.request_callback = [](const clap_host_t*) {};
        host.request_process = [](const clap_host_t*) {};
        host.request_restart = [](const clap_host_t*) {};
    }
};

struct InstanceDeleter
{
    void operator()(VeskPlugin* p) const { VeskPlugin::clapDestroy(&p->clapPlugin); }
};
using Instance = std::unique_ptr<VeskPlugin, InstanceDeleter>;

Instance makeInstance(MinimalHost& host)
{
    void* storage = ::operator new(sizeof(VeskPlugin), std::align_val_t(64));
    VeskPlugin* p = nullptr;
    try {
        p = new (storage) VeskPlugin(&host.host);
    } catch (...) {
        ::operator delete(storage, std::align_val_t(64));
        throw;
    }
    VeskPlugin::clapInit(&p->clapPlugin);
    return Instance(p);
}

// A JSON object (JUCE also calls arrays objects).
bool isJsonObject(const juce::var& v)
{
    return v.getDynamicObject() != nullptr;
}

// A kit error: thrown while reading, caught at the top.
struct KitError
{
    std::string message;
};

[[noreturn]] void fail(const juce::String& message)
{
    throw KitError{message.toStdString()};
}

float number(const juce::var& object, const char* key, float fallback, float lo, float hi)
{
    if (!isJsonObject(object) || !object.hasProperty(key)) {
        return fallback;
    }
    const juce::var v = object[key];
    if (!(v.isInt() || v.isInt64() || v.isDouble())) {
        fail(juce::String("\"") + key + "\" must be a number");
    }
    const double d = static_cast<double>(v);
    if (!std::isfinite(d)) {
        fail(juce::String("\"") + key + "\" must be finite");
    }
    return static_cast<float>(std::clamp(d, double(lo), double(hi)));
}

bool flag(const juce::var& object, const char* key, bool fallback)
{
    if (!isJsonObject(object) || !object.hasProperty(key)) {
        return fallback;
    }
    const juce::var v = object[key];
    if (!v.isBool() && !v.isInt()) {
        fail(juce::String("\"") + key + "\" must be true or false");
    }
    return static_cast<bool>(v);
}

void readRandomizer(const juce::var& pool, const char* key, ParamRandomizer& r, float lo, float hi)
{
    const juce::var v = pool[key];
    if (v.isVoid()) {
        return;
    }
    if (v.isInt() || v.isDouble()) { // a bare number is the centre value
        r.base = std::clamp(float(static_cast<double>(v)), lo, hi);
        return;
    }
    if (!isJsonObject(v)) {
        fail(juce::String("\"") + key + "\" must be a number or an object");
    }
    r.base = number(v, "base", r.base, lo, hi);
    r.range = number(v, "range", r.range, 0.0f, 1.0f);
    r.enabled = flag(v, "random", r.range > 0.0f);
}

void readEnvelope(const juce::var& pool, const char* key, EnvelopeData& env, float lo, float hi)
{
    const juce::var v = pool[key];
    if (v.isVoid()) {
        return;
    }
    const juce::var points = v["points"];
    if (!isJsonObject(v) || !points.isArray()) {
        fail(juce::String("\"") + key + "\" needs \"points\": [[x, y], ...]");
    }
    env = EnvelopeData{};
    env.enabled = flag(v, "enabled", true);
    float previous = 0.0f;
    for (int i = 0; i < points.size() && i < kMaxEnvelopePoints; ++i) {
        const juce::var p = points[i];
        if (!p.isArray() || p.size() != 2) {
            fail(juce::String("\"") + key + "\" points are [x, y] pairs");
        }
        const double x = static_cast<double>(p[0]), y = static_cast<double>(p[1]);
        if (!std::isfinite(x) || !std::isfinite(y)) {
            fail(juce::String("\"") + key + "\" points must be finite");
        }
        env.points[i].x = std::max(previous, float(std::clamp(x, 0.0, 1.0)));
        env.points[i].y = float(std::clamp(y, double(lo), double(hi)));
        previous = env.points[i].x;
        env.count = uint32_t(i + 1);
    }
}

PoolRoute readRoute(const juce::var& pool)
{
    const juce::var v = pool["route"];
    if (v.isVoid()) {
        return PoolRoute::Bus1;
    }
    const juce::String s = v.toString().toLowerCase().removeCharacters(" ");
    if (s == "bus1" || s == "0") {
        return PoolRoute::Bus1;
    }
    if (s == "bus2" || s == "1") {
        return PoolRoute::Bus2;
    }
    if (s == "master" || s == "2") {
        return PoolRoute::Master;
    }
    fail("\"route\" is \"bus1\", \"bus2\" or \"master\"");
}

void readPool(VeskPlugin& p, int index, const juce::var& pool, const juce::File& baseDir)
{
    SamplePool& sp = p.sampler.pools[index];
    const juce::String name = pool["name"].toString();
    const std::string kept = utf8Prefix(name.toStdString(), kPoolNameSize - 1);
    std::memset(sp.name, 0, sizeof sp.name);
    std::memcpy(sp.name, kept.data(), kept.size());

    const juce::var samples = pool["samples"];
    if (!samples.isVoid() && !samples.isArray()) {
        fail("\"samples\" must be an array");
    }
    for (int i = 0; i < samples.size(); ++i) {
        const juce::var entry = samples[i];
        juce::String file = entry.isString() ? entry.toString() : entry["file"].toString();
        if (file.isEmpty()) {
            fail("a sample needs a file");
        }
        const juce::File resolved =
            juce::File::isAbsolutePath(file) ? juce::File(file) : baseDir.getChildFile(file);
        const std::string path = resolved.getFullPathName().toStdString();
        std::shared_ptr<const RawAudioData> audio = p.rawAudioCache.get(path, p.loadedSampleRate);
        if (audio == nullptr) {
            std::shared_ptr<RawAudioData> decoded = loadWavRaw(path, p.loadedSampleRate);
            if (decoded == nullptr) {
                fail("cannot read the sample file " + juce::String(path));
            }
            p.rawAudioCache.put(path, decoded);
            audio = std::move(decoded);
        }
        SampleData region{audio, 0, 0};
        if (isJsonObject(entry)) {
            const double offset = entry.hasProperty("offset") ? double(entry["offset"]) : 0.0;
            const double length = entry.hasProperty("length") ? double(entry["length"]) : 0.0;
            if (!(offset >= 0.0 && offset < 9.0e15 && length >= 0.0 && length < 9.0e15)) {
                fail("\"offset\" and \"length\" are frame counts");
            }
            region.offset = int64_t(offset);
            region.length = uint64_t(length);
        }
        if (!p.sampler.appendSample(index, region)) {
            fail("a pool holds at most 64 samples");
        }
    }
    readRandomizer(pool, "pitch", sp.pitch, -96.0f, 96.0f);
    readRandomizer(pool, "volume", sp.volume, -150.0f, 24.0f);
    readRandomizer(pool, "pan", sp.pan, -100.0f, 100.0f);
    readRandomizer(pool, "delay", sp.delay, 0.0f, 3000.0f);
    readRandomizer(pool, "start", sp.start, 0.0f, 100.0f);
    sp.reverseChance = number(pool, "reverse", sp.reverseChance, 0.0f, 100.0f);
    readEnvelope(pool, "volumeEnv", sp.volumeEnv, -150.0f, 24.0f);
    readEnvelope(pool, "panEnv", sp.panEnv, -200.0f, 200.0f);
    readEnvelope(pool, "pitchEnv", sp.pitchEnv, -96.0f, 96.0f);
    readEnvelope(pool, "hpfEnv", sp.hpfEnv, 0.0f, 20000.0f);
    readEnvelope(pool, "lpfEnv", sp.lpfEnv, 0.0f, 20000.0f);
    sp.hpfHz = number(pool, "hpf", sp.hpfHz, 0.0f, 20000.0f);
    sp.lpfHz = number(pool, "lpf", sp.lpfHz, 0.0f, 20000.0f);
    sp.outputRoute = readRoute(pool);
    sp.fadeIn = number(pool, "fadeIn", sp.fadeIn, 0.0f, 0.5f);
    sp.fadeOut = number(pool, "fadeOut", sp.fadeOut, 0.0f, 0.5f);
    sp.pitchTrack = flag(pool, "pitchTrack", sp.pitchTrack);
    sp.grainCloud = flag(pool, "grainCloud", sp.grainCloud);
    const uint8_t bit = uint8_t(1u << index);
    if (flag(pool, "solo", false)) {
        p.soloShadow.store(uint8_t(p.soloShadow.load() | bit));
    }
    if (flag(pool, "mute", false)) {
        p.muteShadow.store(uint8_t(p.muteShadow.load() | bit));
    }
}

void readBuses(VeskPlugin& p, const juce::var& buses)
{
    if (buses.isVoid()) {
        return;
    }
    if (!buses.isArray()) {
        fail("\"buses\" must be an array of two buses");
    }
    auto* root = new juce::DynamicObject();
    root->setProperty("lanes", buses);
    FXLaneState images[2];
    laneChainFromJsonVar(juce::var(root), images);
    for (int l = 0; l < kNumLanes && l < buses.size(); ++l) {
        const juce::var bus = buses[l];
        const juce::var slots = bus["slots"];
        // Every named module must be one the plug-in knows.
        for (int i = 0; i < slots.size(); ++i) {
            const juce::String fx = slots[i]["fx"].toString();
            bool known = false;
            for (const FXModuleInfo& info : detail::kRegistry) {
                known = known || fx == juce::String::fromUTF8(info.name);
            }
            if (!known) {
                fail("unknown FX module \"" + fx + "\"");
            }
        }
        FXLane& lane = p.lanes[l];
        const FXLaneState& image = images[l];
        for (int s = 0; s < image.slotCount; ++s) {
            const FXSlotState& slot = image.slots[s];
            lane.appendChainEntry(slot.type, slot.bypassed != 0, kMaxFXParams, slot.params,
                                  slot.modSource, slot.modDepth);
        }
        lane.bypassed = flag(bus, "bypass", false);
        lane.muted = flag(bus, "mute", false);
        lane.soloed = flag(bus, "solo", false);
    }
}

void readMaster(VeskPlugin& p, const juce::var& m)
{
    MasterFXState s;
    p.masterFx.exportState(s);
    if (m.isVoid()) {
        return;
    }
    if (!isJsonObject(m)) {
        fail("\"master\" must be an object");
    }
    s.bypassed = flag(m, "bypass", s.bypassed != 0);
    s.outputGainDb = number(m, "outputGainDb", s.outputGainDb, -48.0f, 6.0f);
    const juce::var eq = m["eq"];
    s.eqLow = number(eq, "low", s.eqLow, -12.0f, 12.0f);
    s.eqMid = number(eq, "mid", s.eqMid, -12.0f, 12.0f);
    s.eqHigh = number(eq, "high", s.eqHigh, -12.0f, 12.0f);
    s.eqBypass = flag(eq, "bypass", s.eqBypass != 0);
    const juce::var en = m["enhance"];
    s.enhanceDrive = number(en, "drive", s.enhanceDrive, -12.0f, 12.0f);
    s.enhanceAmount = number(en, "amount", s.enhanceAmount, 0.0f, 100.0f);
    s.enhanceShape = number(en, "shape", s.enhanceShape, -50.0f, 50.0f);
    s.enhanceMulti = flag(en, "multi", s.enhanceMulti != 0);
    s.enhanceBypass = flag(en, "bypass", s.enhanceBypass != 0);
    const juce::var rv = m["reverb"];
    s.reverbSize = number(rv, "size", s.reverbSize, 0.0f, 1.0f);
    s.reverbDamp = number(rv, "damp", s.reverbDamp, 0.0f, 1.0f);
    s.reverbDecay = number(rv, "decay", s.reverbDecay, 0.3f, 5.0f);
    s.reverbMix = number(rv, "mix", s.reverbMix, 0.0f, 1.0f);
    s.reverbWidth = number(rv, "width", s.reverbWidth, -1.0f, 1.0f);
    s.reverbEarly = number(rv, "early", s.reverbEarly, 0.0f, 2.0f);
    s.reverbBypass = flag(rv, "bypass", s.reverbBypass != 0);
    const juce::var li = m["limiter"];
    s.limiterThreshold = number(li, "threshold", s.limiterThreshold, -30.0f, 0.0f);
    s.limiterCeiling = number(li, "ceiling", s.limiterCeiling, -12.0f, 0.0f);
    s.limiterRelease = number(li, "release", s.limiterRelease, 10.0f, 500.0f);
    s.limiterBypass = flag(li, "bypass", s.limiterBypass != 0);
    p.masterFx.applyState(s);
}

// The shortest decimal that reads back as the same float, so printed kits stay readable.
double shortest(float v)
{
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer - 1, v).ptr;
    *end = '\0';
    return std::strtod(buffer, nullptr);
}

juce::var randomizerVar(const ParamRandomizer& r)
{
    auto* o = new juce::DynamicObject();
    o->setProperty("base", shortest(r.base));
    o->setProperty("range", shortest(r.range));
    o->setProperty("random", r.enabled);
    return juce::var(o);
}

juce::var envelopeVar(const EnvelopeData& env)
{
    auto* o = new juce::DynamicObject();
    o->setProperty("enabled", env.enabled);
    juce::Array<juce::var> points;
    for (uint32_t i = 0; i < env.count && i < uint32_t(kMaxEnvelopePoints); ++i) {
        points.add(juce::Array<juce::var>{shortest(env.points[i].x), shortest(env.points[i].y)});
    }
    o->setProperty("points", points);
    return juce::var(o);
}

juce::var masterVar(const MasterFXState& s)
{
    auto* m = new juce::DynamicObject();
    m->setProperty("bypass", s.bypassed != 0);
    m->setProperty("outputGainDb", shortest(s.outputGainDb));
    auto* eq = new juce::DynamicObject();
    eq->setProperty("low", shortest(s.eqLow));
    eq->setProperty("mid", shortest(s.eqMid));
    eq->setProperty("high", shortest(s.eqHigh));
    eq->setProperty("bypass", s.eqBypass != 0);
    m->setProperty("eq", juce::var(eq));
    auto* en = new juce::DynamicObject();
    en->setProperty("drive", shortest(s.enhanceDrive));
    en->setProperty("amount", shortest(s.enhanceAmount));
    en->setProperty("shape", shortest(s.enhanceShape));
    en->setProperty("multi", s.enhanceMulti != 0);
    en->setProperty("bypass", s.enhanceBypass != 0);
    m->setProperty("enhance", juce::var(en));
    auto* rv = new juce::DynamicObject();
    rv->setProperty("size", shortest(s.reverbSize));
    rv->setProperty("damp", shortest(s.reverbDamp));
    rv->setProperty("decay", shortest(s.reverbDecay));
    rv->setProperty("mix", shortest(s.reverbMix));
    rv->setProperty("width", shortest(s.reverbWidth));
    rv->setProperty("early", shortest(s.reverbEarly));
    rv->setProperty("bypass", s.reverbBypass != 0);
    m->setProperty("reverb", juce::var(rv));
    auto* li = new juce::DynamicObject();
    li->setProperty("threshold", shortest(s.limiterThreshold));
    li->setProperty("ceiling", shortest(s.limiterCeiling));
    li->setProperty("release", shortest(s.limiterRelease));
    li->setProperty("bypass", s.limiterBypass != 0);
    m->setProperty("limiter", juce::var(li));
    return juce::var(m);
}

const char* routeName(PoolRoute r)
{
    return r == PoolRoute::Bus2 ? "bus2" : (r == PoolRoute::Master ? "master" : "bus1");
}

} // namespace

bool buildKitState(const std::string& kitJson, const std::string& baseDir,
                   std::vector<uint8_t>& state, std::string& error)
{
    state.clear();
    error.clear();
    juce::var kit;
    const juce::Result parsed = juce::JSON::parse(juce::String::fromUTF8(kitJson.c_str()), kit);
    if (parsed.failed()) {
        error = "the kit is not JSON: " + parsed.getErrorMessage().toStdString();
        return false;
    }
    if (!isJsonObject(kit)) {
        error = "the kit must be a JSON object";
        return false;
    }
    try {
        MinimalHost host;
        Instance p = makeInstance(host);
        const double rate = number(kit, "rate", 48000.0f, 8000.0f, 768000.0f);
        // Activation sets the engine rate; the samples are decoded at it.
        VeskPlugin::clapActivate(&p->clapPlugin, rate, 1, 4096);
        VeskPlugin::clapDeactivate(&p->clapPlugin);
        const juce::File base(juce::String(baseDir.empty() ? "." : baseDir));
        {
            std::lock_guard<std::mutex> lock(p->stateMutex);
            const juce::var pools = kit["pools"];
            if (!pools.isVoid() && (!pools.isArray() || pools.size() > kNumPools)) {
                fail("\"pools\" must be an array of at most 8 pools");
            }
            for (int i = 0; i < pools.size(); ++i) {
                if (!isJsonObject(pools[i])) {
                    fail("each pool must be an object");
                }
                readPool(*p, i, pools[i], base);
            }
            p->sampler.soloMask = p->soloShadow.load();
            p->sampler.muteMask = p->muteShadow.load();
            readBuses(*p, kit["buses"]);
            p->bus1ToMaster = flag(kit, "bus1ToMaster", p->bus1ToMaster);
            readMaster(*p, kit["master"]);
            const juce::String retrigger = kit["retrigger"].toString().toLowerCase();
            if (retrigger.isNotEmpty() && retrigger != "single" && retrigger != "poly") {
                fail("\"retrigger\" is \"single\" or \"poly\"");
            }
            p->sampler.retriggerMode = retrigger != "poly";
            p->autoSplit.store(flag(kit, "autoSplit", false));
            const float visible = number(kit, "visiblePools", -1.0f, -1.0f, 255.0f);
            uint8_t mask = visible >= 0.0f ? uint8_t(visible) : 0;
            if (visible < 0.0f) { // default: the pools the kit fills, at least the first four
                mask = 15;
                for (int i = 0; i < pools.size(); ++i) {
                    mask = uint8_t(mask | (1u << i));
                }
            }
            p->visiblePools.store(mask);
            // The seed salt, when the kit names one ("0x" and up to 16 hex digits); otherwise the
            // instance's own fresh one.
            const juce::var salt = kit["salt"];
            if (!salt.isVoid()) {
                const std::string text = salt.toString().toStdString();
                uint64_t value = 0;
                const char* first = text.c_str() + 2;
                const char* last = text.c_str() + text.size();
                const auto [end, ec] = std::from_chars(first, last, value, 16);
                if (!salt.isString() || text.size() < 3 || text.size() > 18 ||
                    text.compare(0, 2, "0x") != 0 || ec != std::errc() || end != last) {
                    fail("\"salt\" is \"0x\" followed by up to 16 hexadecimal digits");
                }
                if (!p->adoptSalt(value)) {
                    fail("\"salt\" is held by another instance of this program");
                }
            }
        }
        std::vector<uint8_t> bytes;
        clap_ostream_t stream{&bytes, [](const clap_ostream_t* s, const void* b, uint64_t n) {
                                  auto* v = static_cast<std::vector<uint8_t>*>(s->ctx);
                                  v->insert(v->end(), static_cast<const uint8_t*>(b),
                                            static_cast<const uint8_t*>(b) + n);
                                  return int64_t(n);
                              }};
        if (!VeskPlugin::clapStateSave(&p->clapPlugin, &stream)) {
            error = "the plug-in could not save the state";
            return false;
        }
        state = std::move(bytes);
        return true;
    } catch (const KitError& e) {
        error = e.message;
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

bool stateToKitJson(const std::vector<uint8_t>& state, std::string& json, std::string& error)
{
    json.clear();
    error.clear();
    try {
        MinimalHost host;
        Instance p = makeInstance(host);
        struct Source
        {
            const std::vector<uint8_t>* bytes;
            size_t at = 0;
        } source{&state};
        clap_istream_t stream{&source, [](const clap_istream_t* s, void* b, uint64_t n) {
                                  auto* src = static_cast<Source*>(s->ctx);
                                  const size_t k =
                                      size_t(std::min<uint64_t>(n, src->bytes->size() - src->at));
                                  if (k > 0)
                                      std::memcpy(b, src->bytes->data() + src->at, k);
                                  src->at += k;
                                  return int64_t(k);
                              }};
        if (!VeskPlugin::clapStateLoad(&p->clapPlugin, &stream)) {
            error = "the plug-in cannot read this state (another version, or damaged)";
            return false;
        }
        std::lock_guard<std::mutex> lock(p->stateMutex);
        auto* root = new juce::DynamicObject();
        juce::var rootVar(root);
        root->setProperty("rate", p->loadedSampleRate);
        juce::Array<juce::var> pools;
        int lastUsed = -1;
        for (int i = 0; i < kNumPools; ++i) {
            if (!p->sampler.pools[i].samples.empty()) {
                lastUsed = i;
            }
        }
        for (int i = 0; i <= std::max(lastUsed, 3); ++i) {
            const SamplePool& sp = p->sampler.pools[i];
            auto* o = new juce::DynamicObject();
            o->setProperty("name",
                           juce::String::fromUTF8(sp.name, int(strnlen(sp.name, sizeof sp.name))));
            juce::Array<juce::var> samples;
            for (const SampleData& region : sp.samples) {
                auto* s = new juce::DynamicObject();
                const bool missing = region.audio == nullptr || region.audio->channels == 0;
                s->setProperty("file", juce::String::fromUTF8(region.audio != nullptr
                                                                  ? region.audio->path.c_str()
                                                                  : ""));
                s->setProperty("offset", juce::int64(region.offset));
                s->setProperty("length", juce::int64(region.length));
                if (missing) {
                    s->setProperty("missing", true);
                }
                samples.add(juce::var(s));
            }
            o->setProperty("samples", samples);
            o->setProperty("pitch", randomizerVar(sp.pitch));
            o->setProperty("volume", randomizerVar(sp.volume));
            o->setProperty("pan", randomizerVar(sp.pan));
            o->setProperty("delay", randomizerVar(sp.delay));
            o->setProperty("start", randomizerVar(sp.start));
            o->setProperty("reverse", shortest(sp.reverseChance));
            o->setProperty("volumeEnv", envelopeVar(sp.volumeEnv));
            o->setProperty("panEnv", envelopeVar(sp.panEnv));
            o->setProperty("pitchEnv", envelopeVar(sp.pitchEnv));
            o->setProperty("hpfEnv", envelopeVar(sp.hpfEnv));
            o->setProperty("lpfEnv", envelopeVar(sp.lpfEnv));
            o->setProperty("hpf", shortest(sp.hpfHz));
            o->setProperty("lpf", shortest(sp.lpfHz));
            o->setProperty("route", routeName(sp.outputRoute));
            o->setProperty("fadeIn", shortest(sp.fadeIn));
            o->setProperty("fadeOut", shortest(sp.fadeOut));
            o->setProperty("pitchTrack", sp.pitchTrack);
            o->setProperty("grainCloud", sp.grainCloud);
            o->setProperty("solo", (p->sampler.soloMask >> i & 1) != 0);
            o->setProperty("mute", (p->sampler.muteMask >> i & 1) != 0);
            const VoiceParams& frozen = p->sampler.frozenParams[i];
            if ((p->sampler.freezeMask >> i & 1) != 0 && frozen.valid) {
                auto* f = new juce::DynamicObject();
                f->setProperty("sample", juce::int64(frozen.sampleIndex));
                f->setProperty("pitchRatio", shortest(frozen.pitchRatio));
                f->setProperty("gain", shortest(frozen.gain));
                f->setProperty("pan", shortest(frozen.pan));
                f->setProperty("delayMs", shortest(frozen.delayMs));
                f->setProperty("startPercent", shortest(frozen.startPercent));
                f->setProperty("reverse", frozen.reverse);
                o->setProperty("locked", juce::var(f));
            }
            pools.add(juce::var(o));
        }
        root->setProperty("pools", pools);

        FXLaneState images[2];
        p->lanes[0].exportState(images[0]);
        p->lanes[1].exportState(images[1]);
        const juce::var chains = laneChainToJsonVar(images);
        juce::Array<juce::var> buses;
        for (int l = 0; l < kNumLanes; ++l) {
            juce::var bus = chains["lanes"][l];
            if (auto* o = bus.getDynamicObject()) {
                o->setProperty("bypass", p->lanes[l].bypassed);
                o->setProperty("mute", p->lanes[l].muted);
                o->setProperty("solo", p->lanes[l].soloed);
            }
            buses.add(bus);
        }
        root->setProperty("buses", buses);
        root->setProperty("bus1ToMaster", p->bus1ToMaster);
        MasterFXState master;
        p->masterFx.exportState(master);
        root->setProperty("master", masterVar(master));
        root->setProperty("retrigger", p->sampler.retriggerMode ? "single" : "poly");
        root->setProperty("autoSplit", p->autoSplit.load());
        root->setProperty("visiblePools", int(p->visiblePools.load()));
        char salt[19];
        std::snprintf(salt, sizeof salt, "0x%016llx", static_cast<unsigned long long>(p->seedSalt));
        root->setProperty("salt", juce::String(salt));
        json = juce::JSON::toString(rootVar, false, 6).toStdString();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

} // namespace vesk::kit
