// Material the whole-instance benchmarks share: a noise sample on disk and busy FX buses.
#pragma once

#include "audio_files/WavWriter.h"
#include "export/OfflineRender.h"
#include "fx/FXModule.h"
#include "tests/support/Signal.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

namespace vesk::bench {

// Six seconds of stereo noise at `rate` in a new file under /tmp named after `name`; its path.
inline std::string noiseSampleFile(const std::string& name, double rate)
{
    std::string path = "/tmp/vesk_" + name + "_XXXXXX.wav";
    const int fd = mkstemps(path.data(), 4);
    if (fd >= 0)
        close(fd);
    const std::vector<float> l = test::noise(size_t(rate * 6), 1, 0.3);
    const std::vector<float> r = test::noise(size_t(rate * 6), 2, 0.3);
    writeWav(path, l, r, rate);
    return path;
}

// A bus of the given modules at their default knob values; `active` counts the ones built.
inline LaneFXSnapshot busyLane(std::initializer_list<FXType> types, int* active = nullptr)
{
    LaneFXSnapshot lane;
    for (FXType type : types) {
        const FXModuleInfo* info = getFXModuleInfo(type);
        if (info == nullptr || info->vtable == nullptr)
            continue;
        auto& slot = lane.slots[lane.slotCount++];
        slot.type = static_cast<uint8_t>(type);
        for (uint32_t k = 0; k < info->paramCount && k < kMaxFXParams; ++k)
            slot.params[k] = info->paramDefaults[k];
        if (active != nullptr)
            ++*active;
    }
    return lane;
}

} // namespace vesk::bench
