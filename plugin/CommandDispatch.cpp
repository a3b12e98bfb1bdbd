// The main thread's command dispatcher: every message id of the command ring.
#include "Messages.h"
#include "VeskPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Reads a pool index: accepted below 8 as an unsigned number.
bool readPool(const uint8_t* payload, uint32_t size, int& pool)
{
    if (size < 4)
        return false;
    const uint32_t p = vesk::getU32(payload);
    if (p >= uint32_t(vesk::kNumPools))
        return false;
    pool = int(p);
    return true;
}

float clampOr(float v, float lo, float hi, float nanValue)
{
    return std::isnan(v) ? nanValue : std::clamp(v, lo, hi);
}

uint8_t withBit(uint8_t mask, int bit, bool on)
{
    return on ? uint8_t(mask | (1u << bit)) : uint8_t(mask & ~(1u << bit));
}

} // namespace

void VeskPlugin::markStateChanged()
{
    if (hasKeptState) {
        hasKeptState = false;
        keptState.clear();
        keptState.shrink_to_fit();
    }
    if (!suppressDirty && hostState != nullptr && hostState->mark_dirty != nullptr)
        hostState->mark_dirty(host);
}

void VeskPlugin::processCommands()
{
    std::vector<PendingCommand> commands;
    {
        std::lock_guard<std::mutex> guard(pendingMutex);
        commands.swap(pendingCommands);
    }
    uint64_t r = queues.commandRead.load(std::memory_order_relaxed);
    uint64_t w = queues.commandWrite.load(std::memory_order_acquire);
    while (r != w) {
        const CommandSlot& slot = queues.commandSlots[r % CommandQueues::kCommandSlots];
        PendingCommand pc;
        pc.type = uint8_t(slot.type);
        const uint32_t size = std::min<uint32_t>(slot.size, sizeof slot.payload);
        pc.payload.assign(slot.payload, slot.payload + size);
        queues.commandRead.store(++r, std::memory_order_release);
        commands.push_back(std::move(pc));
        w = queues.commandWrite.load(std::memory_order_acquire);
    }
    for (const PendingCommand& c : commands)
        applyCommand(c.type, c.payload.data(), uint32_t(c.payload.size()));
}

void VeskPlugin::applyCommand(uint8_t type, const uint8_t* p, uint32_t size)
{
    using namespace vesk;
    int pool = 0;
    std::unique_lock<std::mutex> lock(stateMutex, std::defer_lock);

    switch (type) {
    case CmdLoadToPool: {
        if (!readPool(p, size, pool) || size <= 4)
            return;
        std::string path(reinterpret_cast<const char*>(p + 4), size - 4);
        const bool absolute =
            path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
        if (!absolute) {
            const std::string root = currentProjectRoot();
            if (!root.empty())
                path = root + "/" + path;
        }
        postLoadJob(pool, path);
        return;
    }
    case CmdClearPool:
        if (!readPool(p, size, pool))
            return;
        lock.lock();
        sampler.clearPool(pool);
        break;
    case CmdRemovePool:
        if (!readPool(p, size, pool))
            return;
        lock.lock();
        sampler.stopPool(pool);
        sampler.resetPool(pool);
        visiblePools.store(withBit(visiblePools.load(), pool, false));
        soloShadow.store(withBit(soloShadow.load(), pool, false));
        muteShadow.store(withBit(muteShadow.load(), pool, false));
        freezeShadow = sampler.freezeMask;
        break;
    case CmdRemoveSample:
        if (!readPool(p, size, pool) || size < 8)
            return;
        lock.lock();
        sampler.removeSample(pool, int(std::min<uint32_t>(getU32(p + 4), 0x7FFFFFFF)));
        break;
    case CmdRenderStems:
    case CmdRenderMix:
        startRender(type == CmdRenderMix);
        return;
    case CmdSetPitch:
    case CmdSetVolume:
    case CmdSetPan:
    case CmdSetDelay:
    case CmdSetStart: {
        if (!readPool(p, size, pool) || size < 13)
            return;
        // A non-finite centre or spread would turn every later draw into noise or silence.
        if (!std::isfinite(getF32(p + 4)) || !std::isfinite(getF32(p + 8)))
            return;
        lock.lock();
        SamplePool& sp = sampler.pools[pool];
        ParamRandomizer* targets[] = {&sp.pitch, &sp.volume, &sp.pan, &sp.delay, &sp.start};
        ParamRandomizer& rz = *targets[type - CmdSetPitch];
        rz.base = getF32(p + 4);
        rz.range = getF32(p + 8);
        rz.enabled = p[12] != 0;
        break;
    }
    case CmdSetReverseChance:
        if (!readPool(p, size, pool) || size < 8)
            return;
        lock.lock();
        sampler.pools[pool].reverseChance = clampOr(getF32(p + 4), 0.0f, 100.0f, 100.0f);
        break;
    case CmdRenamePool: {
        if (!readPool(p, size, pool))
            return;
        lock.lock();
        char* name = sampler.pools[pool].name;
        const size_t n = std::min<size_t>(size - 4, kPoolNameSize - 1);
        std::memset(name, 0, kPoolNameSize);
        std::memcpy(name, p + 4, n);
        break;
    }
    case CmdSetRetriggerMode:
        if (size < 1)
            return;
        lock.lock();
        sampler.retriggerMode = p[0] != 0;
        break;
    case CmdSetAutoSplit:
        if (size < 1)
            return;
        autoSplit.store(p[0] != 0);
        break;
    case CmdSetPoolVisible:
        if (!readPool(p, size, pool) || size < 5)
            return;
        visiblePools.store(withBit(visiblePools.load(), pool, p[4] != 0));
        break;
    case CmdSetPoolSolo:
        if (!readPool(p, size, pool) || size < 5)
            return;
        soloShadow.store(withBit(soloShadow.load(), pool, p[4] != 0));
        lock.lock();
        sampler.soloMask = soloShadow.load();
        break;
    case CmdSetPoolMute:
        if (!readPool(p, size, pool) || size < 5)
            return;
        muteShadow.store(withBit(muteShadow.load(), pool, p[4] != 0));
        lock.lock();
        sampler.muteMask = muteShadow.load();
        break;
    case CmdSetPoolFreeze:
        if (!readPool(p, size, pool) || size < 5)
            return;
        lock.lock();
        sampler.setPoolLocked(pool, p[4] != 0);
        freezeShadow = sampler.freezeMask;
        break;
    case CmdSetSampleRegion: {
        if (!readPool(p, size, pool) || size < 24)
            return;
        const uint32_t index = getU32(p + 4);
        lock.lock();
        if (index >= sampler.pools[pool].samples.size())
            return;
        sampler.setRegion(pool, int(index), getI64(p + 8), getU64(p + 16));
        break;
    }
    case CmdSelectSample: {
        if (!readPool(p, size, pool) || size < 8)
            return;
        const uint32_t index = getU32(p + 4);
        lock.lock();
        SamplePool& sp = sampler.pools[pool];
        if (index < sp.samples.size()) {
            const SampleData& region = sp.samples[index];
            sp.lastTrigger.sampleIndex = int32_t(index);
            const uint64_t frames = playableLength(region);
            const double rate = region.audio != nullptr ? region.audio->sampleRate : 0.0;
            sp.lastTrigger.durationMs = rate > 0.0 ? float(double(frames) * 1000.0 / rate) : 0.0f;
            sampler.showRegionPeaks(pool, int(index));
            sampler.refreshPendingPeaks();
            sp.lastTrigger.gain = 1.0f;
            sp.lastTrigger.volumeBase = sp.volume.base;
            sp.lastTrigger.startPercent = sp.start.base;
            sp.lastTrigger.startBase = sp.start.base;
            lock.unlock();
            rebuildOverview(pool, int(index));
        }
        break;
    }
    case CmdSetVolumeEnv:
    case CmdSetPanEnv:
    case CmdSetPitchEnv:
    case CmdSetHpfEnv:
    case CmdSetLpfEnv: {
        if (!readPool(p, size, pool) || size < 4 + sizeof(EnvelopeData))
            return;
        EnvelopeData env;
        std::memcpy(&env, p + 4, sizeof env);
        // A count beyond the point array would make every reader overrun it.
        env.count = std::min<uint32_t>(env.count, kMaxEnvelopePoints);
        lock.lock();
        SamplePool& sp = sampler.pools[pool];
        EnvelopeData* target = type == CmdSetVolumeEnv  ? &sp.volumeEnv
                               : type == CmdSetPanEnv   ? &sp.panEnv
                               : type == CmdSetPitchEnv ? &sp.pitchEnv
                               : type == CmdSetHpfEnv   ? &sp.hpfEnv
                                                        : &sp.lpfEnv;
        *target = env;
        break;
    }
    case CmdSetPoolRoute:
        if (!readPool(p, size, pool) || size < 5 || p[4] > 2)
            return;
        lock.lock();
        sampler.pools[pool].outputRoute = PoolRoute(p[4]);
        break;
    case CmdSetHpf:
    case CmdSetLpf: {
        if (!readPool(p, size, pool) || size < 8)
            return;
        const float hz = clampOr(getF32(p + 4), 0.0f, 20000.0f, 20000.0f);
        lock.lock();
        (type == CmdSetHpf ? sampler.pools[pool].hpfHz : sampler.pools[pool].lpfHz) = hz;
        break;
    }
    case CmdSetFadeIn:
    case CmdSetFadeOut: {
        if (!readPool(p, size, pool) || size < 8)
            return;
        // Not-a-number gives no fade.
        const float f = clampOr(getF32(p + 4), 0.0f, 0.5f, 0.0f);
        lock.lock();
        (type == CmdSetFadeIn ? sampler.pools[pool].fadeIn : sampler.pools[pool].fadeOut) = f;
        break;
    }
    case CmdSetPitchTrack:
    case CmdSetGrainCloud:
        if (!readPool(p, size, pool) || size < 5)
            return;
        lock.lock();
        (type == CmdSetPitchTrack ? sampler.pools[pool].pitchTrack
                                  : sampler.pools[pool].grainCloud) = p[4] != 0;
        break;
    default:
        if (!applyFxCommand(type, p, size))
            return;
        return; // applyFxCommand marks the state itself
    }
    if (lock.owns_lock())
        lock.unlock();
    markStateChanged();
}
