// Building and publishing the snapshot the editor reads.
#include "VeskPlugin.h"

#include "persistence/StateFormat.h"

#include <algorithm>
#include <cstring>

namespace {

void copyName(char* out, size_t outSize, const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::memset(out, 0, outSize);
    std::memcpy(out, name.data(), std::min(name.size(), outSize - 1));
}

vesk::ParamState paramState(const vesk::ParamRandomizer& r)
{
    return {r.base, r.range, r.enabled};
}

} // namespace

void VeskPlugin::syncState()
{
    using namespace vesk;
    // Every field of the staging picture is written below; it is not cleared first, so that a
    // pool's overview (112 KB) moves only when the engine made a new one. A field added to the
    // picture must be written here.

    // Fields the audio thread writes (last-trigger records, displayed peaks, draws, voice and walk
    // activity, and the knobs a host modulates, which carry the modulation while it renders) are
    // copied under a brief hold of the state mutex: a few kilobytes, as short as one command.
    // Everything else here changes only on this thread and is read without the lock.
    struct Live
    {
        LastTrigger last;
        float peaks[kDisplayPeaks];
        VoiceParams params;
        bool active;
        float playback;
        float envelope;
        ParamState pitch, volume, pan, delay, start;
        float reverseChance;
        float hpfHz, lpfHz;
    };
    static thread_local Live live[kNumPools];
    bool playing = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        for (int i = 0; i < kNumPools; ++i) {
            Live& l = live[i];
            const SamplePool& pool = sampler.pools[i];
            l.pitch = paramState(pool.pitch);
            l.volume = paramState(pool.volume);
            l.pan = paramState(pool.pan);
            l.delay = paramState(pool.delay);
            l.start = paramState(pool.start);
            l.reverseChance = pool.reverseChance;
            l.hpfHz = pool.hpfHz;
            l.lpfHz = pool.lpfHz;
            l.last = sampler.pools[i].lastTrigger;
            std::memcpy(l.peaks, sampler.pools[i].peaks, sizeof l.peaks);
            l.params = sampler.lastParams[i];
            l.active = sampler.walks[i].active;
            for (const Voice& v : sampler.voices[i])
                l.active = l.active || v.isActive();
            l.playback = l.active ? sampler.getPoolPlaybackProgress(i) : 0.0f;
            l.envelope = l.active ? sampler.getPoolEnvelopeProgress(i) : 0.0f;
        }
        playing = sampler.isPlaying();
        // A host's automation switches the buses and moves the master from the audio thread.
        masterFx.exportState(staging.master);
        for (int l = 0; l < kNumLanes; ++l)
            lanes[l].exportState(staging.lanes[l]);
    }

    int32_t missing = 0;
    const uint8_t freeze = freezeShadow;
    for (int i = 0; i < kNumPools; ++i) {
        const SamplePool& pool = sampler.pools[i];
        PoolState& out = staging.pools[i];
        out.sampleCount = int32_t(std::min<size_t>(pool.samples.size(), INT32_MAX));
        const size_t shown = std::min<size_t>(pool.samples.size(), kMaxSamplesPerPool);
        std::memset(out.sampleNames, 0, sizeof out.sampleNames);
        std::memset(out.sampleMissing, 0, sizeof out.sampleMissing);
        for (size_t k = 0; k < shown; ++k) {
            const RawAudioData* audio = pool.samples[k].audio.get();
            if (audio == nullptr)
                continue;
            copyName(out.sampleNames[k], sizeof out.sampleNames[k], audio->path);
            const bool isMissing = audio->left.empty() || audio->channels == 0;
            out.sampleMissing[k] = isMissing ? 1 : 0;
            missing += isMissing ? 1 : 0;
        }
        const Live& l = live[i];
        out.pitch = l.pitch;
        out.volume = l.volume;
        out.pan = l.pan;
        out.delay = l.delay;
        out.start = l.start;
        out.reverseChance = l.reverseChance;
        std::memcpy(out.name, pool.name, kPoolNameSize);
        out.name[kPoolNameSize - 1] = '\0';
        out.outputRoute = uint8_t(pool.outputRoute);
        out.frozen = (freeze >> i) & 1;

        out.level.store(0.0f); // the audio thread keeps the published picture's level
        out.active.store(l.active);

        const LastTrigger& last = l.last;
        out.displayedSample = uint32_t(last.sampleIndex);
        out.durationMs = last.durationMs;
        std::memcpy(out.peaks, l.peaks, sizeof out.peaks);
        if (out.overview.revision != pool.overviewRevision) {
            std::copy(std::begin(pool.overview), std::end(pool.overview), out.overview.begin());
            out.overview.revision = pool.overviewRevision;
        }
        out.lastGain = last.gain;
        out.lastVolumeBase = last.volumeBase;
        out.lastStart = last.startPercent;
        out.lastStartBase = last.startBase;
        out.regionOffset = 0;
        out.regionLength = 0;
        out.fileFrames = 0;
        if (last.sampleIndex >= 0 && size_t(last.sampleIndex) < pool.samples.size()) {
            const SampleData& region = pool.samples[size_t(last.sampleIndex)];
            out.regionOffset = region.offset;
            out.regionLength = playableLength(region);
            out.fileFrames = region.audio != nullptr ? region.audio->left.size() : 0;
        }
        out.volumeEnv = pool.volumeEnv;
        out.panEnv = pool.panEnv;
        out.pitchEnv = pool.pitchEnv;
        out.hpfHz = l.hpfHz;
        out.lpfHz = l.lpfHz;
        out.hpfEnv = pool.hpfEnv;
        out.lpfEnv = pool.lpfEnv;
        out.fadeIn = pool.fadeIn;
        out.fadeOut = pool.fadeOut;
        out.pitchTrack = pool.pitchTrack;
        out.grainCloud = pool.grainCloud;
        const VoiceParams& lp = l.params;
        out.volumeOffsetDb = lp.volumeOffsetDb;
        out.panOffset = lp.panOffset;
        out.pitchOffset = lp.pitchOffset;
        out.playbackProgress.store(l.playback);
        out.envelopeProgress.store(l.envelope);
    }

    staging.playing.store(playing);
    staging.retriggerMode = sampler.retriggerMode;
    staging.autoSplit = autoSplit.load();
    staging.bus1ToMaster = bus1ToMaster;
    staging.visiblePools = visiblePools.load();
    staging.soloMask = soloShadow.load();
    staging.muteMask = muteShadow.load();
    staging.freezeMask = freeze;
    // The audio thread keeps the modulation values of the published picture current.
    const int32_t shown = publishedSnapshot.load(std::memory_order_acquire);
    for (int k = 0; k < kModBusSize; ++k)
        staging.modulation[k].store(snapshots[shown == 1 ? 1 : 0].modulation[k].load());
    staging.stateUnread = hasKeptState;
    staging.missingFiles = missing;
    missingFiles = missing;
    staging.droppedCommands = queues.droppedCommands.load();
    staging.stateLoads = stateLoads;
    // The export line changes once per export: cut and copied only then.
    if (exportReport.text != exportReportPublished) {
        const std::string cut =
            vesk::utf8Prefix(exportReport.text, sizeof staging.exportReport - 1);
        std::memcpy(staging.exportReport, cut.c_str(), cut.size() + 1);
        exportReportPublished = exportReport.text;
    }
    staging.exportFailed = exportReport.failed;

    const int32_t current = publishedSnapshot.load(std::memory_order_acquire);
    const int32_t next = current == 0 ? 1 : 0;
    snapshots[next] = staging;
    publishedSnapshot.store(next, std::memory_order_seq_cst);
}
