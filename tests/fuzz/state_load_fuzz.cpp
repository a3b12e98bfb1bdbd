// Fuzzes loading a plug-in state into one long-lived instance. Inputs whose first byte is even
// are whole streams; the others are edits (position, byte) and a cut applied to a valid stream
// of a rich setup made at start-up (sample files, envelopes, FX slots, master, locked draws), so
// the fuzzer reaches every record of the body without discovering the layout first. After each
// load the instance saves, and when the load failed the save must be the input unchanged.
#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "persistence/StateSerializer.h"
#include "plugin/VeskPlugin.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

clap_host_t makeHost()
{
    clap_host_t h{};
    h.clap_version = CLAP_VERSION;
    h.name = "fuzz";
    h.vendor = "";
    h.url = "";
    h.version = "";
    h.get_extension = [](const clap_host_t*, const char*) -> const void* { return nullptr; };
    h.request_callback = [](const clap_host_t*) {};
    return h;
}

VeskPlugin* makeInstance()
{
    static clap_host_t host = makeHost();
    void* storage = ::operator new(sizeof(VeskPlugin), std::align_val_t(64));
    auto* p = new (storage) VeskPlugin(&host);
    VeskPlugin::clapInit(&p->clapPlugin);
    return p;
}

bool save(VeskPlugin& p, std::vector<uint8_t>& out)
{
    out.clear();
    clap_ostream_t stream{&out, [](const clap_ostream_t* s, const void* b, uint64_t n) {
                              auto* v = static_cast<std::vector<uint8_t>*>(s->ctx);
                              v->insert(v->end(), static_cast<const uint8_t*>(b),
                                        static_cast<const uint8_t*>(b) + n);
                              return int64_t(n);
                          }};
    return VeskPlugin::clapStateSave(&p.clapPlugin, &stream);
}

bool load(VeskPlugin& p, const uint8_t* data, size_t size)
{
    struct Source
    {
        const uint8_t* data;
        size_t size;
        size_t at;
    } source{data, size, 0};
    clap_istream_t stream{&source, [](const clap_istream_t* s, void* b, uint64_t n) {
                              auto* src = static_cast<Source*>(s->ctx);
                              const size_t k = size_t(std::min<uint64_t>(n, src->size - src->at));
                              if (k > 0)
                                  std::memcpy(b, src->data + src->at, k);
                              src->at += k;
                              return int64_t(k);
                          }};
    return VeskPlugin::clapStateLoad(&p.clapPlugin, &stream);
}

// A valid stream of a rich setup, made once.
const std::vector<uint8_t>& validStream()
{
    static std::vector<uint8_t> bytes = [] {
        char dir[] = "/tmp/vesk-state-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        VeskPlugin* p = makeInstance();
        {
            std::lock_guard<std::mutex> lock(p->stateMutex);
            for (int i = 0; i < 3; ++i) {
                std::vector<float> x(600 + 200 * size_t(i));
                for (size_t n = 0; n < x.size(); ++n)
                    x[n] = float(0.5 * std::sin(0.05 * double(n * size_t(i + 1))));
                const std::string path = std::string(dir) + "/s" + char('0' + i) + ".wav";
                vesk::writeWav(path, x, x, 48000.0);
                p->sampler.appendSample(i, {vesk::loadWavRaw(path, 48000.0), i * 10, 0});
                vesk::SamplePool& pool = p->sampler.pools[i];
                pool.pitch = {1.0f, 0.5f, true};
                pool.volumeEnv.count = 3;
                pool.volumeEnv.enabled = true;
                pool.volumeEnv.points[2] = {1.0f, -12.0f};
                std::snprintf(pool.name, sizeof pool.name, "pool %d", i);
            }
            for (int l = 0; l < 2; ++l)
                for (uint32_t t : {1u, 4u, 5u, 11u, 31u})
                    p->lanes[l].appendModule(t + uint32_t(l));
            p->masterFx.setBypassed(false);
            p->masterFx.setEQ(1.0f, 2.0f, 3.0f);
            p->sampler.trigger(99, 60);
            p->sampler.stop();
            p->sampler.setPoolLocked(1, true);
            p->freezeShadow = p->sampler.freezeMask;
        }
        std::vector<uint8_t> out;
        save(*p, out);
        VeskPlugin::clapDestroy(&p->clapPlugin);
        return out;
    }();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VeskPlugin* p = makeInstance();
    const std::vector<uint8_t>& valid = validStream();
    std::vector<uint8_t> stream;
    if (size == 0 || (data[0] & 1) == 0) {
        stream.assign(data, data + size);
    } else {
        stream = valid;
        size_t at = 1;
        // Two bytes of cut length (0: keep all), then (2-byte position, byte) edits.
        if (at + 2 <= size) {
            const size_t cut = size_t(data[at]) | size_t(data[at + 1]) << 8;
            if (cut > 0 && cut < stream.size())
                stream.resize(cut);
            at += 2;
        }
        while (at + 3 <= size && !stream.empty()) {
            const size_t pos = (size_t(data[at]) | size_t(data[at + 1]) << 8) % stream.size();
            stream[pos] = data[at + 2];
            at += 3;
        }
    }
    const bool loaded = load(*p, stream.data(), stream.size());
    std::vector<uint8_t> saved;
    if (!save(*p, saved))
        std::abort();
    if (!loaded && !stream.empty() && saved != stream)
        std::abort(); // an unreadable state must be written back unchanged
    return 0;
}
