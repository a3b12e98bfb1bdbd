// Random message ids and payloads through both rings of one long-lived instance, with audio
// blocks and main-thread passes in between. The engine must neither crash nor stop rendering.
#include "plugin/Messages.h"
#include "plugin/VeskPlugin.h"
#include "tests/support/InProcessPlugin.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

VeskPlugin* instance()
{
    static const clap_host_t host = vesk::test::silentHost("fuzz");
    static VeskPlugin* plugin = [] {
        VeskPlugin* p = vesk::test::newInitialisedInstance(&host);
        VeskPlugin::clapActivate(&p->clapPlugin, 48000.0, 1, 512);
        return p;
    }();
    return plugin;
}

void renderBlock(VeskPlugin* p, uint32_t frames)
{
    static float l[512], r[512];
    float* ch[2] = {l, r};
    clap_audio_buffer_t out{};
    out.data32 = ch;
    out.channel_count = 2;
    clap_process_t proc{};
    proc.frames_count = frames;
    proc.audio_outputs = &out;
    proc.audio_outputs_count = 1;
    VeskPlugin::clapProcess(&p->clapPlugin, &proc);
    for (uint32_t i = 0; i < frames; ++i)
        if (!std::isfinite(l[i]) || !std::isfinite(r[i]))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VeskPlugin* p = instance();
    size_t pos = 0;
    while (pos + 3 <= size) {
        const uint8_t type = data[pos];
        const uint8_t flags = data[pos + 1];
        size_t len = data[pos + 2];
        pos += 3;
        if (flags & 0x80)
            len *= 8; // room for envelopes and chains
        len = std::min(len, size - pos);
        // Loads and exports touch the file system; they are tested elsewhere.
        if (type == vesk::CmdLoadToPool || type == vesk::CmdRenderStems ||
            type == vesk::CmdRenderMix) {
            pos += len;
            continue;
        }
        if (flags & 1)
            p->queues.writeTrigger(type, data + pos, uint32_t(std::min<size_t>(len, 64)));
        else
            p->queues.writeCommand(type, data + pos, uint32_t(len));
        pos += len;
        if (flags & 2)
            renderBlock(p, 1 + (flags & 0x3C) * 4);
        if (flags & 4)
            VeskPlugin::clapOnMainThread(&p->clapPlugin);
    }
    renderBlock(p, 512);
    VeskPlugin::clapOnMainThread(&p->clapPlugin);
    renderBlock(p, 512);
    return 0;
}
