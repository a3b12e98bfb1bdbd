// The main-thread pass, the load job and the project folder.
#include "VeskPlugin.h"

#include "audio_files/SplitBySilence.h"
#include "audio_files/WavLoader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void VeskPlugin::clapOnMainThread(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr)
        return;

    if (self->guiClosedPending.exchange(false) && self->host->get_extension != nullptr) {
        const auto* gui = static_cast<const clap_host_gui_t*>(
            self->host->get_extension(self->host, CLAP_EXT_GUI));
        if (gui != nullptr && gui->closed != nullptr)
            gui->closed(self->host, false);
    }

    if (self->saltChangePending) {
        self->saltChangePending = false;
        self->markStateChanged();
    }
    self->pollTrackMute();
    const uint64_t commandsBefore = self->queues.commandRead.load(std::memory_order_relaxed);
    self->drainPendingWork();
    if (self->queues.commandRead.load(std::memory_order_relaxed) != commandsBefore)
        self->reportEditorParamChanges();
    self->insertRenderResults();
    // Editor gestures left over when the host stopped processing.
    if (!self->paramGestures.processing.load(std::memory_order_acquire) &&
        self->paramGestures.pending() && self->hostParams != nullptr &&
        self->hostParams->request_flush != nullptr)
        self->hostParams->request_flush(self->host);

    // Triggers only mark an overview as due; the scan of the whole file happens here, outside the
    // lock (the overview and the sample lists belong to this thread).
    int due[vesk::kNumPools];
    {
        std::lock_guard<std::mutex> lock(self->stateMutex);
        self->sampler.refreshPendingPeaks();
        for (int i = 0; i < vesk::kNumPools; ++i) {
            vesk::LastTrigger& last = self->sampler.pools[i].lastTrigger;
            due[i] = last.hasValue ? last.sampleIndex : -1;
            last.hasValue = false;
        }
    }
    for (int i = 0; i < vesk::kNumPools; ++i)
        if (due[i] >= 0)
            self->rebuildOverview(i, due[i]);
    self->syncState();
}

void VeskPlugin::pollTrackMute()
{
    if (!reaperBridge.initialized)
        return;
    if (ownTrack == nullptr || !reaperBridge.trackStillValid(ownTrack))
        ownTrack = reaperBridge.findOwnTrack(trackName);
    trackMuted.store(ownTrack != nullptr && reaperBridge.trackMuted(ownTrack),
                     std::memory_order_relaxed);
}

void VeskPlugin::insertRenderResults()
{
    std::lock_guard<std::mutex> lock(renderMutex);
    for (const vesk::RenderResult& result : renderResults) {
        const bool placed = reaperBridge.placeRenderResult(host, trackName, result);
        exportReport = vesk::describeRender(result, placed);
    }
    renderResults.clear();
}

void VeskPlugin::drainPendingWork()
{
    processCommands();
    std::lock_guard<std::mutex> loadLock(loadMutex);
    for (LoadResult& result : loadResults) {
        if (!result.ok || result.pool < 0 || result.pool >= vesk::kNumPools)
            continue;
        // Asked for before the host loaded another state: the file belonged to the project
        // that was replaced, so it does not land in the loaded one.
        if (result.stateLoads != stateLoads)
            continue;
        bool appendedAny = false;
        int shown = -1;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            vesk::SamplePool& pool = sampler.pools[result.pool];
            const int firstIndex = int(pool.samples.size());
            for (size_t k = 0; k < result.samples.size(); ++k) {
                const float* peaks = k < result.peaks.size() ? result.peaks[k].data() : nullptr;
                appendedAny =
                    sampler.appendSample(result.pool, result.samples[k], peaks) || appendedAny;
            }
            if (appendedAny) {
                const vesk::SampleData& first = pool.samples[size_t(firstIndex)];
                pool.lastTrigger.sampleIndex = firstIndex;
                const double rate = first.audio != nullptr ? first.audio->sampleRate : 0.0;
                pool.lastTrigger.durationMs =
                    rate > 0.0 ? float(double(vesk::playableLength(first)) * 1000.0 / rate) : 0.0f;
                sampler.showRegionPeaks(result.pool, firstIndex);
                sampler.refreshPendingPeaks();
                shown = firstIndex;
                pool.lastTrigger.gain = 1.0f;
                pool.lastTrigger.volumeBase = 0.0f;
                pool.lastTrigger.startPercent = 0.0f;
                pool.lastTrigger.startBase = 0.0f;
            }
        }
        if (shown >= 0)
            rebuildOverview(result.pool, shown);
        if (!result.samples.empty())
            markStateChanged();
    }
    loadResults.clear();
}

void VeskPlugin::postLoadJob(int pool, const std::string& path)
{
    pendingJobs.fetch_add(1);
    const double rate = sampleRate;
    const bool split = autoSplit.load();
    const uint32_t loads = stateLoads;
    workers.post([this, pool, path, rate, split, loads] {
        LoadResult result;
        result.pool = pool;
        result.path = path;
        result.stateLoads = loads;
        try {
            std::shared_ptr<const vesk::RawAudioData> audio = rawAudioCache.get(path, rate);
            if (audio == nullptr) {
                std::shared_ptr<vesk::RawAudioData> decoded = vesk::loadWavRaw(path, rate);
                if (decoded != nullptr)
                    rawAudioCache.put(path, decoded);
                audio = std::move(decoded);
            }
            if (audio != nullptr) {
                vesk::SampleData whole{audio, 0, 0};
                if (split) {
                    result.samples = vesk::splitBySilence(whole);
                    result.ok = !result.samples.empty();
                } else {
                    result.samples.push_back(std::move(whole));
                    result.ok = true;
                }
                // The display peaks of each region are made here, off the main and audio
                // threads; only the first 64 can ever be appended.
                const size_t n = std::min<size_t>(result.samples.size(), vesk::kMaxSamplesPerPool);
                result.peaks.resize(n);
                for (size_t k = 0; k < n; ++k)
                    vesk::Sampler::generateWaveformPeaks(result.samples[k], result.peaks[k].data());
            }
        } catch (...) {
            result.samples.clear();
            result.ok = false;
        }
        {
            std::lock_guard<std::mutex> lock(loadMutex);
            loadResults.push_back(std::move(result));
        }
        pendingJobs.fetch_sub(1, std::memory_order_release);
        requestMainThreadCallback(this);
    });
}

std::string VeskPlugin::currentProjectRoot()
{
    if (!reaperBridge.initialized)
        reaperBridge.initialize(host);
    if (reaperBridge.initialized) {
        std::string path = reaperBridge.projectPath();
        while (!path.empty() && (path.back() == '/' || path.back() == '\\'))
            path.pop_back();
        if (!path.empty())
            projectRoot = path;
    }
    return projectRoot;
}

// The overview is read and written only on the main thread, and the sample lists change only
// here, so the scan needs no lock.
void VeskPlugin::rebuildOverview(int poolIndex, int sampleIndex)
{
    vesk::SamplePool& pool = sampler.pools[poolIndex];
    pool.overviewRevision = vesk::nextOverviewRevision();
    std::fill(std::begin(pool.overview), std::end(pool.overview), 0.0f);
    if (sampleIndex < 0 || size_t(sampleIndex) >= pool.samples.size())
        return;
    const vesk::RawAudioData* audio = pool.samples[size_t(sampleIndex)].audio.get();
    if (audio == nullptr || audio->channels == 0)
        return;
    const size_t frames = audio->left.size();
    const bool stereo = audio->channels == 2;
    const double step = double(frames) * (1.0 / vesk::kOverviewPeaks);
    for (int i = 0; i < vesk::kOverviewPeaks; ++i) {
        const size_t from = size_t(std::floor(step * i));
        const size_t to = std::min(frames, size_t(std::floor(step * (i + 1))));
        float peak = 0.0f;
        for (size_t f = from; f < to; ++f) {
            peak = std::max(peak, std::fabs(audio->left[f]));
            if (stereo && f < audio->right.size())
                peak = std::max(peak, std::fabs(audio->right[f]));
        }
        pool.overview[i] = peak;
    }
}
