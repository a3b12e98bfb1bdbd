// Converting decoded audio to the engine rate, once, off the audio thread.
#pragma once

#include "RawAudioCache.h"
#include "engine/Config.h"
#include "engine/SamplePool.h"

#include <vector>

namespace vesk {

// [any thread] Converts one channel from inRateHz to outRateHz: exactly ceil(outRate * n / inRate)
// frames, linear phase, with the filter's delay removed so an event keeps its time. Equal rates
// copy bit for bit. Invalid rates or an output that would exceed kMaxLoadedFrames give an empty
// `out`.
void resampleChannel(const std::vector<float>& in, double inRateHz, std::vector<float>& out,
                     double outRateHz);

// [main thread] After the engine rate changed from oldRateHz to newRateHz: decodes every region's
// file again at the new rate (sharing one decode per path through the cleared cache), rescales
// offsets and lengths so each region covers the same audio, and refreshes each pool's
// last-trigger duration, display peaks and overview. A file that no longer decodes keeps its old
// audio, offset and length. The caller keeps the audio thread out (not processing, or holding the
// state mutex).
void reloadAllSamplesForSampleRate(SamplePool (&pools)[kNumPools], RawAudioCache& cache,
                                   double oldRateHz, double newRateHz);

// [any thread] Peak per bin of a region: the largest absolute sample of both channels in each of
// `bins` equal bins (bin i covers frames floor(i L / bins) .. floor((i + 1) L / bins)). Zero for
// an unplayable region.
void computeRegionPeaks(const SampleData& region, float* out, int bins);

} // namespace vesk
