#include "SampleData.h"

namespace vesk {

uint64_t playableLength(const SampleData& region)
{
    const RawAudioData* audio = region.audio.get();
    if (audio == nullptr || audio->left.empty() || audio->channels == 0)
        return 0;
    const uint64_t total = audio->left.size();
    const uint64_t s = static_cast<uint64_t>(regionStart(region));
    if (s >= total)
        return 0;
    const uint64_t rest = total - s;
    if (region.length == 0 || region.length > rest)
        return rest;
    return region.length;
}

} // namespace vesk
