// The state extension: save and load of the whole instance, and the body of the state stream.
//
// The stream is an 8-byte header (magic, version 1), a body that serializeState both writes and
// reads, and the tagged chunks after it (persistence/StateFormat.h), today the instance's seed
// salt. A stream whose header or body this instance cannot read is kept byte for byte and written
// back by every save until a settings-changing command drops it (markStateChanged), so opening a
// project made by another version, or a damaged one, and saving it again never loses it. A body
// that reads but has no usable salt chunk (an older stream, a damaged chunk) loads, and the
// instance takes a fresh salt.
#include "SeedSalt.h"
#include "VeskPlugin.h"

#include "audio_files/WavLoader.h"
#include "persistence/StateFormat.h"
#include "persistence/StateSerializer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr uint64_t kReadBlockBytes = 64 * 1024;
constexpr uint64_t kMaxStateBytes = 32ull * 1024 * 1024;
constexpr uint64_t kHeaderBytes = 8;
constexpr uint64_t kSampleEntryMinBytes = 4 + 8 + 8; // empty path, offset, length
constexpr int kSaveWaitMs = 3000;
constexpr int kSaveWaitSliceMs = 20;

std::shared_ptr<const vesk::RawAudioData> placeholder(const std::string& path, double rateHz)
{
    auto audio = std::make_shared<vesk::RawAudioData>();
    audio->path = path;
    audio->sampleRate = rateHz;
    audio->channels = 0;
    return audio;
}

// Frames at the stored rate to frames at the rate the audio was decoded at.
int64_t scaleFrames(int64_t frames, double scale)
{
    if (scale == 1.0) {
        return frames;
    }
    const double scaled = std::trunc(double(frames) * scale);
    if (!(scaled > -9.0e18 && scaled < 9.0e18)) {
        return scaled > 0 ? INT64_MAX : INT64_MIN;
    }
    return int64_t(scaled);
}

uint64_t scaleLength(uint64_t frames, double scale)
{
    if (scale == 1.0) {
        return frames;
    }
    const double scaled = std::trunc(double(frames) * scale);
    return scaled < 1.8e19 ? uint64_t(scaled) : UINT64_MAX;
}

bool writeAll(const clap_ostream_t* stream, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const int64_t n = stream->write(stream, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return false;
        }
        done += std::min<size_t>(size_t(n), bytes.size() - done);
    }
    return true;
}

} // namespace

bool VeskPlugin::serializePoolSamples(vesk::StateSerializer& s, int poolIndex,
                                      const std::string& storedRoot, const std::string& currentRoot,
                                      double decodeRateHz, double offsetScale)
{
    vesk::SamplePool& pool = sampler.pools[poolIndex];
    if (s.writing) {
        uint32_t n = uint32_t(std::min<size_t>(pool.samples.size(), vesk::kMaxSamplesPerPool));
        if (!s.io(n)) {
            return false;
        }
        for (uint32_t i = 0; i < n; ++i) {
            vesk::SampleData& region = pool.samples[i];
            std::string path = vesk::storedSamplePath(
                region.audio != nullptr ? region.audio->path : std::string(), currentRoot);
            if (!s.ioString(path) || !s.io(region.offset) || !s.io(region.length)) {
                return false;
            }
        }
        return true;
    }

    uint32_t n = 0;
    if (!s.io(n) || n > uint32_t(vesk::kMaxSamplesPerPool) ||
        !s.fitsCount(n, kSampleEntryMinBytes)) {
        return false;
    }
    // Voices and grains of this pool stop reading its regions before the list is replaced.
    sampler.beginSampleListChange(poolIndex);
    pool.samples.clear();
    sampler.endSampleListChange(poolIndex);

    bool ok = true;
    for (uint32_t i = 0; i < n; ++i) {
        std::string stored;
        int64_t offset = 0;
        uint64_t length = 0;
        if (!s.ioString(stored) || !s.io(offset) || !s.io(length)) {
            ok = false;
            break;
        }
        std::shared_ptr<const vesk::RawAudioData> audio;
        const std::string resolved = vesk::resolveStoredSamplePath(stored, currentRoot, storedRoot);
        if (resolved.empty()) {
            audio = placeholder(stored, decodeRateHz);
        } else {
            audio = rawAudioCache.get(resolved, decodeRateHz);
            if (audio == nullptr) {
                std::shared_ptr<vesk::RawAudioData> decoded =
                    vesk::loadWavRaw(resolved, decodeRateHz);
                if (decoded != nullptr) {
                    rawAudioCache.put(resolved, decoded);
                    audio = std::move(decoded);
                } else {
                    audio = placeholder(resolved, decodeRateHz);
                }
            }
        }
        sampler.appendSample(poolIndex,
                             vesk::SampleData{std::move(audio), scaleFrames(offset, offsetScale),
                                              scaleLength(length, offsetScale)});
    }

    // The pool shows its first playable region.
    int shown = -1;
    for (size_t i = 0; i < pool.samples.size(); ++i) {
        if (vesk::isPlayable(pool.samples[i])) {
            shown = int(i);
            break;
        }
    }
    vesk::LastTrigger& last = pool.lastTrigger;
    if (shown >= 0) {
        const vesk::SampleData& region = pool.samples[size_t(shown)];
        last.sampleIndex = shown;
        last.durationMs =
            float(double(vesk::playableLength(region)) * 1000.0 / region.audio->sampleRate);
        sampler.showRegionPeaks(poolIndex, shown);
        sampler.refreshPendingPeaks();
        rebuildOverview(poolIndex, shown);
    } else {
        last.sampleIndex = 0;
        last.durationMs = 0.0f;
        std::fill(std::begin(pool.peaks), std::end(pool.peaks), 0.0f);
        std::fill(std::begin(pool.overview), std::end(pool.overview), 0.0f);
        pool.overviewRevision = vesk::nextOverviewRevision();
    }
    last.gain = 1.0f;
    last.volumeBase = 0.0f;
    last.startPercent = 0.0f;
    last.startBase = 0.0f;
    return ok;
}

bool VeskPlugin::serializeState(vesk::StateSerializer& s)
{
    const std::string currentRoot = currentProjectRoot();

    std::string storedRoot = s.writing ? currentRoot : std::string();
    if (!s.ioString(storedRoot)) {
        return false;
    }
    // Stored offsets and lengths count frames at the rate the pools' audio was decoded at, so
    // that rate is what the state records.
    double storedRate = loadedSampleRate;
    if (!s.io(storedRate)) {
        return false;
    }
    double decodeRate = storedRate;
    double offsetScale = 1.0;
    if (!s.writing) {
        if (!vesk::isSaneStateRate(storedRate)) {
            return false;
        }
        // Audio is decoded straight at the engine rate when the state was saved at another one;
        // the regions are rescaled to cover the same audio. Every pool therefore always holds
        // audio at one rate, even when the body turns out damaged halfway.
        if (std::fabs(storedRate - sampleRate) > 1.0) {
            decodeRate = sampleRate;
            offsetScale = sampleRate / storedRate;
        }
        missingFiles = 0;
    }

    bool ok = true;
    for (int i = 0; i < vesk::kNumPools && ok; ++i) {
        ok = serializePoolSamples(s, i, storedRoot, currentRoot, decodeRate, offsetScale) &&
             vesk::serializePoolSettings(s, sampler.pools[i]);
    }
    if (!s.writing) {
        loadedSampleRate = decodeRate;
    }
    for (int l = 0; l < vesk::kNumLanes && ok; ++l) {
        ok = vesk::serializeLane(s, lanes[l]);
    }
    ok = ok && s.ioBool(bus1ToMaster);
    if (ok) {
        vesk::MasterFXState master;
        if (s.writing) {
            masterFx.exportState(master);
        }
        ok = vesk::serializeMasterRecord(s, master);
        if (!s.writing) {
            masterFx.applyState(master);
        }
    }
    if (ok) {
        uint64_t seed = sampler.lastSeed; // read and discarded
        bool split = autoSplit.load();
        uint8_t visible = visiblePools.load();
        uint8_t solo = soloShadow.load();
        uint8_t mute = muteShadow.load();
        uint8_t freeze = freezeShadow;
        ok = s.io(seed) && s.ioBool(sampler.retriggerMode) && s.ioBool(split) && s.io(visible) &&
             s.io(solo) && s.io(mute) && s.io(freeze);
        if (ok && !s.writing) {
            autoSplit.store(split);
            visiblePools.store(visible);
            soloShadow.store(solo);
            muteShadow.store(mute);
            freezeShadow = freeze;
            sampler.soloMask = solo;
            sampler.muteMask = mute;
            sampler.freezeMask = freeze;
        }
    }
    for (int i = 0; i < vesk::kNumPools && ok; ++i) {
        ok = vesk::serializeFrozenParams(s, sampler.frozenParams[i], sampler.pools[i]);
    }
    return ok;
}

bool VeskPlugin::clapStateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || stream == nullptr || stream->write == nullptr) {
        return false;
    }

    // Pending commands and loads belong to the state being saved; applying them here must not
    // tell the host that the project changed.
    self->suppressDirty = true;
    self->drainPendingWork();
    const auto start = std::chrono::steady_clock::now();
    while (self->pendingJobs.load(std::memory_order_acquire) > 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kSaveWaitMs)) {
        self->workers.waitFor(kSaveWaitSliceMs);
    }
    self->drainPendingWork();
    self->suppressDirty = false;

    std::lock_guard<std::mutex> lock(self->stateMutex);
    if (self->hasKeptState && !self->keptState.empty()) {
        return writeAll(stream, self->keptState);
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(64 * 1024);
    vesk::StateSerializer s = vesk::StateSerializer::writer(bytes);
    uint32_t magic = vesk::StateSerializer::kMagic;
    uint32_t version = vesk::StateSerializer::kVersion;
    if (!s.io(magic) || !s.io(version) || !self->serializeState(s) ||
        !vesk::writeSaltChunk(s, self->seedSalt)) {
        return false;
    }
    return writeAll(stream, bytes);
}

bool VeskPlugin::clapStateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || stream == nullptr || stream->read == nullptr) {
        return false;
    }
    std::vector<uint8_t> bytes;
    for (;;) {
        if (bytes.size() >= kMaxStateBytes) {
            // Something remains: a state this large is not one of ours.
            uint8_t probe = 0;
            if (stream->read(stream, &probe, 1) != 0) {
                return false;
            }
            break;
        }
        const size_t at = bytes.size();
        const size_t want = size_t(std::min<uint64_t>(kReadBlockBytes, kMaxStateBytes - at));
        bytes.resize(at + want);
        const int64_t n = stream->read(stream, bytes.data() + at, want);
        if (n < 0) {
            return false;
        }
        bytes.resize(at + size_t(std::min<int64_t>(n, int64_t(want))));
        if (n == 0) {
            break;
        }
    }

    // What the editor sent before the host's load is applied first: an edit still queued must
    // not land on top of the state just loaded.
    const uint64_t commandsBefore = self->queues.commandRead.load(std::memory_order_relaxed);
    self->processCommands();
    if (self->queues.commandRead.load(std::memory_order_relaxed) != commandsBefore)
        self->reportEditorParamChanges();

    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(self->stateMutex);
        self->keptState = bytes;
        self->hasKeptState = true;
        self->saltChangePending = false;
        uint32_t magic = 0, version = 0;
        vesk::StateSerializer header = vesk::StateSerializer::reader(bytes.data(), bytes.size());
        if (bytes.size() >= kHeaderBytes && header.io(magic) && header.io(version) &&
            magic == vesk::StateSerializer::kMagic && version == vesk::StateSerializer::kVersion) {
            vesk::StateSerializer body = vesk::StateSerializer::reader(bytes.data() + kHeaderBytes,
                                                                       bytes.size() - kHeaderBytes);
            if (self->serializeState(body)) {
                ok = true;
                ++self->stateLoads;
                self->hasKeptState = false;
                std::vector<uint8_t>().swap(self->keptState);
                uint64_t salt = 0;
                if (!vesk::readSaltChunk(body, salt)) {
                    self->takeFreshSalt();
                } else if (!self->adoptSalt(salt)) {
                    // A duplicate of a live instance (a copied track): it must not draw alike, and
                    // the project must save the new salt.
                    self->takeFreshSalt();
                    self->saltChangePending = true;
                }
            }
        }
    }
    self->syncState();
    if (self->saltChangePending) {
        requestMainThreadCallback(self);
    }
    // The host reads every parameter again (it records none of these as automation).
    if (ok && self->hostParams != nullptr && self->hostParams->rescan != nullptr)
        self->hostParams->rescan(self->host, CLAP_PARAM_RESCAN_VALUES);
    return ok;
}

bool VeskPlugin::adoptSalt(uint64_t salt)
{
    if (!vesk::claimSalt(this, salt)) {
        return false;
    }
    seedSalt = salt;
    return true;
}

void VeskPlugin::takeFreshSalt()
{
    seedSalt = vesk::claimFreshSalt(this);
}
