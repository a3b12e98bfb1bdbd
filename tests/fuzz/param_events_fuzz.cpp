// Fuzzes host parameter events into one long-lived instance whose pools 1 and 4 sound. The input
// is a run of 12-byte records: a kind (value, modulation, note, or a header of fuzzed size and
// type), a frame, a parameter (one of the table, or a raw id) and the raw bits of a double, so
// NaN, infinities and values far outside every range come up at once. Between records the
// instance processes blocks of fuzzed lengths, takes flushes and the editor's gestures, and
// turns fuzzed texts into values. After every block the output is finite, and after the input
// every parameter reads back inside its range with a text.
#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "plugin/Params.h"
#include "plugin/VeskPlugin.h"
#include "tests/support/InProcessPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

VeskPlugin* instance()
{
    static const clap_host_t host = vesk::test::silentHost("fuzz");
    static VeskPlugin* plugin = [] {
        char dir[] = "/tmp/vesk-param-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        VeskPlugin* p = vesk::test::newInitialisedInstance(&host);
        VeskPlugin::clapActivate(&p->clapPlugin, 48000.0, 1, 4096);
        std::lock_guard<std::mutex> lock(p->stateMutex);
        for (int pool : {0, 3}) {
            std::vector<float> x(9600);
            for (size_t n = 0; n < x.size(); ++n)
                x[n] = float(0.4 * std::sin(0.03 * double(n) * (pool + 1)));
            const std::string path = std::string(dir) + "/p" + char('0' + pool) + ".wav";
            vesk::writeWav(path, x, x, 48000.0);
            p->sampler.appendSample(pool, {vesk::loadWavRaw(path, 48000.0), 0, 0});
            p->sampler.pools[pool].outputRoute = vesk::PoolRoute::Master;
        }
        p->masterFx.setBypassed(false);
        return p;
    }();
    return plugin;
}

union Storage
{
    clap_event_header_t header;
    clap_event_note_t note;
    clap_event_param_value_t value;
    clap_event_param_mod_t mod;
    uint8_t bytes[64];
};

struct List
{
    Storage events[256];
    uint32_t count = 0;
    static uint32_t size(const clap_input_events_t* l)
    {
        return static_cast<const List*>(l->ctx)->count;
    }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i)
    {
        const auto* self = static_cast<const List*>(l->ctx);
        return i < self->count ? &self->events[i].header : nullptr;
    }
};

bool acceptAll(const clap_output_events_t*, const clap_event_header_t* h)
{
    if (h == nullptr || h->size < sizeof(clap_event_header_t))
        std::abort();
    return true;
}

void process(VeskPlugin* p, List& list, uint32_t frames, bool sorted)
{
    static float l[4096], r[4096];
    frames = std::clamp<uint32_t>(frames, 1, 4096);
    if (sorted)
        std::stable_sort(
            list.events, list.events + list.count,
            [](const Storage& a, const Storage& b) { return a.header.time < b.header.time; });
    float* ch[2] = {l, r};
    clap_audio_buffer_t out{};
    out.data32 = ch;
    out.channel_count = 2;
    clap_input_events_t in{&list, List::size, List::get};
    clap_output_events_t outEvents{nullptr, acceptAll};
    clap_process_t proc{};
    proc.frames_count = frames;
    proc.audio_outputs = &out;
    proc.audio_outputs_count = 1;
    proc.in_events = &in;
    proc.out_events = &outEvents;
    VeskPlugin::clapProcess(&p->clapPlugin, &proc);
    for (uint32_t i = 0; i < frames; ++i)
        if (!std::isfinite(l[i]) || !std::isfinite(r[i]))
            std::abort();
    list.count = 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VeskPlugin* p = instance();
    const clap_plugin_params_t& params = p->paramsExt;
    const vesk::params::ParamDef* table = vesk::params::table();
    static List list;
    list.count = 0;
    size_t pos = 0;
    while (pos + 12 <= size) {
        const uint8_t kind = data[pos];
        const uint16_t time = uint16_t(data[pos + 1] | (data[pos + 2] << 8));
        const uint8_t which = data[pos + 3];
        uint64_t bits = 0;
        std::memcpy(&bits, data + pos + 4, 8);
        double value = 0.0;
        std::memcpy(&value, &bits, 8);
        pos += 12;
        const clap_id id =
            which < 210 ? table[which % vesk::params::kCount].id : clap_id(bits & 0xFFFFFFFFu);
        Storage& s = list.events[list.count++];
        std::memset(&s, 0, sizeof s);
        switch (kind & 3) {
        case 0:
            s.value.header = {sizeof(clap_event_param_value_t), time, CLAP_CORE_EVENT_SPACE_ID,
                              CLAP_EVENT_PARAM_VALUE, 0};
            s.value.param_id = id;
            s.value.note_id = (kind & 4) ? int32_t(bits >> 40) : -1;
            s.value.value = value;
            break;
        case 1:
            s.mod.header = {sizeof(clap_event_param_mod_t), time, CLAP_CORE_EVENT_SPACE_ID,
                            CLAP_EVENT_PARAM_MOD, 0};
            s.mod.param_id = id;
            s.mod.amount = value;
            break;
        case 2:
            s.note.header = {sizeof(clap_event_note_t), time, CLAP_CORE_EVENT_SPACE_ID,
                             uint16_t((kind & 4) ? CLAP_EVENT_NOTE_OFF : CLAP_EVENT_NOTE_ON), 0};
            s.note.key = int16_t(which & 0x7F);
            s.note.velocity = value;
            break;
        default:
            // A header whose size and type the fuzzer chooses; the body stays within Storage.
            s.header = {uint32_t(bits % (sizeof(Storage) + 1)), time, uint16_t(kind >> 6),
                        uint16_t(which % 16), 0};
            std::memcpy(s.bytes + sizeof(clap_event_header_t), data + pos - 8, 8);
            break;
        }
        if ((kind & 0x10) != 0 && which < 210) {
            // The editor's gestures, as its knobs make them.
            p->paramGestures.begin(id);
            p->paramGestures.value(id, value);
            p->paramGestures.end(id);
        }
        if ((kind & 0x20) != 0 || list.count == 256) {
            if ((kind & 0x40) != 0) {
                clap_input_events_t in{&list, List::size, List::get};
                clap_output_events_t out{nullptr, acceptAll};
                params.flush(&p->clapPlugin, &in, &out);
                list.count = 0;
            } else {
                process(p, list, uint32_t(time % 4097), (kind & 0x80) == 0);
            }
        }
        if ((kind & 0x08) != 0 && which >= 200) {
            // A text of up to 8 fuzzed bytes for the parameter `which` names.
            char text[9] = {};
            std::memcpy(text, data + pos - 8, 8);
            double v = 0.0;
            const vesk::params::ParamDef& d = table[which % vesk::params::kCount];
            if (params.text_to_value(&p->clapPlugin, d.id, text, &v) &&
                !(v >= d.minValue && v <= d.maxValue))
                std::abort();
        }
    }
    process(p, list, 512, true);
    VeskPlugin::clapOnMainThread(&p->clapPlugin);
    for (uint32_t i = 0; i < vesk::params::kCount; ++i) {
        double v = 0.0;
        char text[64];
        if (!params.get_value(&p->clapPlugin, table[i].id, &v) || !(v >= table[i].minValue) ||
            !(v <= table[i].maxValue) ||
            !params.value_to_text(&p->clapPlugin, table[i].id, v, text, sizeof text) ||
            std::strlen(text) >= sizeof text)
            std::abort();
    }
    return 0;
}
