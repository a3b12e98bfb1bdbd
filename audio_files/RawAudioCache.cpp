#include "RawAudioCache.h"

namespace vesk {

std::shared_ptr<const RawAudioData> RawAudioCache::get(const std::string& path, double sampleRateHz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty())
        return nullptr;
    const auto it = entries_.find(path);
    if (it == entries_.end())
        return nullptr;
    std::shared_ptr<const RawAudioData> audio = it->second.lock();
    if (audio == nullptr) {
        entries_.erase(it);
        return nullptr;
    }
    // Audio decoded for another engine rate would play at the wrong speed in grains and mix
    // regions of two rates in one pool.
    if (audio->sampleRate != sampleRateHz)
        return nullptr;
    return audio;
}

void RawAudioCache::put(const std::string& path, const std::shared_ptr<const RawAudioData>& audio)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[path] = audio;
}

void RawAudioCache::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

size_t RawAudioCache::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

} // namespace vesk
