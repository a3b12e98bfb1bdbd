// Fuzzes loading a plug-in state into one long-lived instance. Inputs whose first byte is even
// are whole streams; the others are edits (position, byte) and a cut applied to a valid stream
// of a rich setup made at start-up (sample files, envelopes, FX slots, master, locked draws), so
// the fuzzer reaches every record of the body without discovering the layout first. With bit 1
// of the first byte set the edits land in the last 32 bytes (the tagged chunks after the body);
// with bit 2 set the rest of the input is appended to the stream as further chunks instead.
// After each load the instance saves: when the load failed the save must be the input
// unchanged; when it succeeded the save must end with the salt chunk of the instance's salt, and
// loading that save and saving again must give the same bytes.
#include "audio_files/WavLoader.h"
#include "audio_files/WavWriter.h"
#include "persistence/StateFormat.h"
#include "persistence/StateSerializer.h"
#include "plugin/VeskPlugin.h"
#include "tests/support/InProcessPlugin.h"

#include <algorithm>
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

using namespace vesk::test;

VeskPlugin* makeInstance()
{
    static const clap_host_t host = silentHost("fuzz");
    return newInitialisedInstance(&host);
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
        saveState(*p, out);
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
    } else if ((data[0] & 4) != 0) {
        stream = valid;
        stream.insert(stream.end(), data + 1, data + size);
    } else {
        stream = valid;
        const bool chunks = (data[0] & 2) != 0;
        size_t at = 1;
        // Two bytes of cut length (0: keep all), then (2-byte position, byte) edits.
        if (at + 2 <= size) {
            const size_t cut = size_t(data[at]) | size_t(data[at + 1]) << 8;
            if (cut > 0 && cut < stream.size())
                stream.resize(chunks ? stream.size() - cut % 33 : cut);
            at += 2;
        }
        while (at + 3 <= size && !stream.empty()) {
            const size_t raw = size_t(data[at]) | size_t(data[at + 1]) << 8;
            const size_t tail = std::min<size_t>(32, stream.size());
            const size_t pos = chunks ? stream.size() - 1 - raw % tail : raw % stream.size();
            stream[pos] = data[at + 2];
            at += 3;
        }
    }
    const bool loaded = loadState(*p, stream.data(), stream.size());
    std::vector<uint8_t> saved;
    if (!saveState(*p, saved))
        std::abort();
    if (!loaded && !stream.empty() && saved != stream)
        std::abort(); // an unreadable state must be written back unchanged
    if (loaded) {
        // The salt chunk closes the save and carries the instance's salt.
        if (saved.size() < vesk::kSaltChunkBytes)
            std::abort();
        vesk::StateSerializer tail = vesk::StateSerializer::reader(
            saved.data() + saved.size() - vesk::kSaltChunkBytes, vesk::kSaltChunkBytes);
        uint64_t salt = 0;
        if (!vesk::readSaltChunk(tail, salt) || salt != p->seedSalt)
            std::abort();
        // What this build saves, it reads back to the same bytes.
        std::vector<uint8_t> again;
        if (!loadState(*p, saved.data(), saved.size()) || !saveState(*p, again) || again != saved)
            std::abort();
    }
    return 0;
}
