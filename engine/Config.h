// Capacities of the engine, in one place. Everything the audio thread touches is sized by these
// at compile time, so nothing on the audio path allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk {

inline constexpr int kNumPools = 8;
inline constexpr int kVoicesPerPool = 4;
inline constexpr int kMaxSamplesPerPool = 64;
inline constexpr int kMaxEnvelopePoints = 64;
inline constexpr int kMaxGrains = 512;
inline constexpr int kPoolNameSize = 32;
inline constexpr int kDisplayPeaks = 280;
inline constexpr int kOverviewPeaks = 28000;

inline constexpr int kNumLanes = 2;
inline constexpr int kMaxSlots = 40;
inline constexpr int kModBusSize = 5;

// The render loop splits every host block into chunks of at most this many frames.
inline constexpr int kChunkFrames = 4096;

} // namespace vesk
