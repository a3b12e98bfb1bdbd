// Decoded files shared by path, so regions cut from one file and projects that repeat a file hold
// one copy of the audio.
//
// Design: the cache holds weak references only; audio lives exactly as long as some region (or a
// load in flight) holds it. Entries remember the rate their audio was decoded at, and a lookup
// names the rate it wants, so audio converted for another engine rate is never handed out.
#pragma once

#include "engine/SampleData.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vesk {

class RawAudioCache
{
public:
    // [any thread] The live audio decoded from `path` (exact string) at sampleRateHz, or null.
    // An entry whose audio has been freed is removed.
    std::shared_ptr<const RawAudioData> get(const std::string& path, double sampleRateHz);

    // [any thread] Remembers `audio` for `path`, replacing what was there.
    void put(const std::string& path, const std::shared_ptr<const RawAudioData>& audio);

    // [any thread] Forgets every entry (the audio itself lives on in the regions that hold it).
    void clear();

    // [any thread] Entries currently in the map, expired ones included.
    size_t size() const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::weak_ptr<const RawAudioData>> entries_;
};

} // namespace vesk
