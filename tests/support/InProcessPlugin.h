// A plug-in instance built in-process (without loading the .clap file), and its state written to
// and read from memory. Header-only and free of the test framework, so fuzz targets and benchmarks
// use it too.
#pragma once

#include "plugin/VeskPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace vesk::test {

// A host that offers no extensions and ignores callback requests.
inline clap_host_t silentHost(const char* name)
{
    clap_host_t h{};
    h.clap_version = CLAP_VERSION;
    h.name = name;
    h.vendor = "";
    h.url = "";
    h.version = "";
    h.get_extension = [](const clap_host_t*, const char*) -> const void* { return nullptr; };
    h.request_callback = [](const clap_host_t*) {};
    return h;
}

// [main thread] A new instance on `host`, not yet initialised; it ends with
// VeskPlugin::clapDestroy.
inline VeskPlugin* newInstance(const clap_host_t* host)
{
    void* storage = ::operator new(sizeof(VeskPlugin), std::align_val_t(64));
    return new (storage) VeskPlugin(host);
}

// newInstance, then clapInit.
inline VeskPlugin* newInitialisedInstance(const clap_host_t* host)
{
    VeskPlugin* p = newInstance(host);
    VeskPlugin::clapInit(&p->clapPlugin);
    return p;
}

// Saves the state into `out` (replacing its contents); the stream takes at most `chunk` bytes
// per write, as a host may.
inline bool saveState(VeskPlugin& p, std::vector<uint8_t>& out, uint64_t chunk = UINT64_MAX)
{
    struct Sink
    {
        std::vector<uint8_t>* bytes;
        uint64_t chunk;
    } sink{&out, chunk};
    out.clear();
    clap_ostream_t stream{&sink, [](const clap_ostream_t* s, const void* buffer, uint64_t size) {
                              auto* to = static_cast<Sink*>(s->ctx);
                              const auto* b = static_cast<const uint8_t*>(buffer);
                              const uint64_t n = std::min(size, to->chunk);
                              to->bytes->insert(to->bytes->end(), b, b + n);
                              return int64_t(n);
                          }};
    return VeskPlugin::clapStateSave(&p.clapPlugin, &stream);
}

// Loads the state from `size` bytes at `data`; the stream gives at most `chunk` bytes per read.
inline bool loadState(VeskPlugin& p, const uint8_t* data, size_t size, uint64_t chunk = UINT64_MAX)
{
    struct Source
    {
        const uint8_t* data;
        size_t size;
        size_t at;
        uint64_t chunk;
    } source{data, size, 0, chunk};
    clap_istream_t stream{
        &source, [](const clap_istream_t* s, void* buffer, uint64_t size) {
            auto* src = static_cast<Source*>(s->ctx);
            const uint64_t n = std::min<uint64_t>({size, src->chunk, src->size - src->at});
            if (n > 0)
                std::memcpy(buffer, src->data + src->at, size_t(n));
            src->at += size_t(n);
            return int64_t(n);
        }};
    return VeskPlugin::clapStateLoad(&p.clapPlugin, &stream);
}

inline bool loadState(VeskPlugin& p, const std::vector<uint8_t>& bytes, uint64_t chunk = UINT64_MAX)
{
    return loadState(p, bytes.data(), bytes.size(), chunk);
}

// A published pool as the editor sees one holding `samples` files of half a second each
// ("/s/file0.wav", ...): the region the whole file, peaks and overview a rectified sine, the
// overview numbered `overviewRevision`.
inline void fillPublishedPool(PoolState& p, int samples, uint64_t overviewRevision)
{
    p.sampleCount = samples;
    for (int i = 0; i < samples && i < kMaxSamplesPerPool; ++i)
        std::snprintf(p.sampleNames[i], sizeof p.sampleNames[i], "/s/file%d.wav", i);
    p.durationMs = 500.0f;
    p.fileFrames = 24000;
    p.regionOffset = 0;
    p.regionLength = 24000;
    for (int i = 0; i < kDisplayPeaks; ++i)
        p.peaks[i] = 0.8f * std::fabs(std::sin(float(i) * 0.07f));
    for (int i = 0; i < kOverviewPeaks; ++i)
        p.overview[size_t(i)] = 0.8f * std::fabs(std::sin(float(i) * 0.0007f));
    p.overview.revision = overviewRevision;
}

} // namespace vesk::test
