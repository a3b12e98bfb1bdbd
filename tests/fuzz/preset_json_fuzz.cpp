// Fuzzes the FX-chain preset reader. Inputs whose first byte is even are whole files; the others
// are spliced into a valid preset at a position the second byte chooses, so the fuzzer works
// near well-formed JSON. Every image read must stay within its bounds and carry values inside
// the knobs' ranges.
#include "fx/FXModule.h"
#include "fx/VeskLanePresetIO.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const char* kValid =
    R"({"schema": 1, "lanes": [{"slots": [{"fx": "Delay", "bypass": false, "params": )"
    R"({"Time": 0.5, "FB": 0.4, "Mix": 0.3}, "mods": {"FB": {"source": 2, "depth": -0.5}}}, )"
    R"({"fx": "EQ", "bypass": true, "params": {"Low": 3}}]}, {"slots": [{"fx": "Reverb"}]}]})";

void check(const vesk::FXLaneState (&lanes)[2])
{
    for (const vesk::FXLaneState& lane : lanes) {
        if (lane.slotCount > vesk::kMaxSlots)
            std::abort();
        for (int s = 0; s < lane.slotCount; ++s) {
            const vesk::FXSlotState& slot = lane.slots[s];
            const vesk::FXModuleInfo* info = vesk::getFXModuleInfo(uint32_t(slot.type));
            if (info == nullptr)
                std::abort();
            for (uint32_t k = 0; k < info->paramCount && k < uint32_t(vesk::kMaxFXParams); ++k) {
                const float v = slot.params[k];
                if (!(v >= info->paramMin[k] && v <= info->paramMax[k]))
                    std::abort();
                if (slot.modSource[k] >= vesk::kModBusSize ||
                    !(std::fabs(slot.modDepth[k]) <= 1.0f))
                    std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vesk::FXLaneState lanes[2];
    if (size == 0 || (data[0] & 1) == 0) {
        vesk::laneChainFromJsonBytes(data, size, lanes);
    } else {
        std::string text = kValid;
        const size_t at = size > 1 ? size_t(data[1]) % (text.size() + 1) : 0;
        text.insert(at, reinterpret_cast<const char*>(data) + std::min<size_t>(size, 2),
                    size - std::min<size_t>(size, 2));
        vesk::laneChainFromJsonBytes(text.data(), text.size(), lanes);
    }
    check(lanes);
    return 0;
}
