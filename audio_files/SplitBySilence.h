// Cutting a recording of several sounds into one region per sound.
#pragma once

#include "engine/SampleData.h"

#include <cstdint>
#include <vector>

namespace vesk {

// One pause found by the analysis, in analysis frames (10 ms hops), end exclusive.
struct SilenceRegion
{
    int32_t start = 0;
    int32_t end = 0;
};

// [worker] Splits a region at its pauses: a loudness envelope in 10 ms hops with thresholds that
// adapt to the file's noise floor and dynamic range; cuts in the quietest frame of each pause;
// pieces trimmed to their loud part with one hop to spare; pieces below 5 % of the file's peak
// dropped. Every result shares the input's audio and has an explicit length, in file order.
// Empty for an unplayable region; otherwise at least one region.
std::vector<SampleData> splitBySilence(const SampleData& region);

} // namespace vesk
