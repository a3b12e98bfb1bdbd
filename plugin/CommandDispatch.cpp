// The main thread's command dispatcher: every message id of the command ring.
#include "Messages.h"
#include "VeskPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Decodes a record that starts with a pool index: false for a short payload, and for a pool that
// is not below 8 as an unsigned number.
template <class R> bool readPooled(const uint8_t* payload, uint32_t size, R& message)
{
    return vesk::msg::decode(payload, size, message) && message.pool < uint32_t(vesk::kNumPools);
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
    std::unique_lock<std::mutex> lock(stateMutex, std::defer_lock);

    // The ids that share a layout, each decoded into its own record (passed in empty).
    const auto setRanged = [&](auto message, ParamRandomizer SamplePool::*target) {
        if (!readPooled(p, size, message))
            return false;
        // A non-finite centre or spread would turn every later draw into noise or silence.
        if (!std::isfinite(message.base) || !std::isfinite(message.range))
            return false;
        lock.lock();
        ParamRandomizer& rz = sampler.pools[message.pool].*target;
        rz.base = message.base;
        rz.range = message.range;
        rz.enabled = message.enabled;
        return true;
    };
    const auto setEnvelope = [&](auto message, EnvelopeData SamplePool::*target) {
        if (!readPooled(p, size, message))
            return false;
        EnvelopeData env = message.envelope;
        // A count beyond the point array would make every reader overrun it.
        env.count = std::min<uint32_t>(env.count, kMaxEnvelopePoints);
        lock.lock();
        sampler.pools[message.pool].*target = env;
        return true;
    };
    const auto setCutoff = [&](auto message, float SamplePool::*target) {
        if (!readPooled(p, size, message))
            return false;
        const float hz = clampOr(message.hz, 0.0f, 20000.0f, 20000.0f);
        lock.lock();
        sampler.pools[message.pool].*target = hz;
        return true;
    };
    const auto setFade = [&](auto message, float SamplePool::*target) {
        if (!readPooled(p, size, message))
            return false;
        // Not-a-number gives no fade.
        const float f = clampOr(message.fraction, 0.0f, 0.5f, 0.0f);
        lock.lock();
        sampler.pools[message.pool].*target = f;
        return true;
    };
    const auto setPoolSwitch = [&](auto message, bool SamplePool::*target) {
        if (!readPooled(p, size, message))
            return false;
        lock.lock();
        sampler.pools[message.pool].*target = message.on;
        return true;
    };

    switch (type) {
    case CmdLoadToPool: {
        msg::LoadToPool m;
        if (!readPooled(p, size, m) || m.path.empty())
            return;
        std::string& path = m.path;
        const bool absolute =
            path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
        if (!absolute) {
            const std::string root = currentProjectRoot();
            if (!root.empty())
                path = root + "/" + path;
        }
        postLoadJob(int(m.pool), path);
        return;
    }
    case CmdClearPool: {
        msg::ClearPool m;
        if (!readPooled(p, size, m))
            return;
        lock.lock();
        sampler.clearPool(int(m.pool));
        break;
    }
    case CmdRemovePool: {
        msg::RemovePool m;
        if (!readPooled(p, size, m))
            return;
        const int pool = int(m.pool);
        lock.lock();
        sampler.stopPool(pool);
        sampler.resetPool(pool);
        visiblePools.store(withBit(visiblePools.load(), pool, false));
        soloShadow.fetch_and(uint8_t(~(1u << pool)));
        muteShadow.fetch_and(uint8_t(~(1u << pool)));
        freezeShadow = sampler.freezeMask;
        break;
    }
    case CmdRemoveSample: {
        msg::RemoveSample m;
        if (!readPooled(p, size, m))
            return;
        lock.lock();
        sampler.removeSample(int(m.pool), int(std::min<uint32_t>(m.sampleIndex, 0x7FFFFFFF)));
        break;
    }
    case CmdRenderStems:
    case CmdRenderMix:
        startRender(type == CmdRenderMix);
        return;
    case CmdSetPitch:
        if (!setRanged(msg::SetPitch{}, &SamplePool::pitch))
            return;
        break;
    case CmdSetVolume:
        if (!setRanged(msg::SetVolume{}, &SamplePool::volume))
            return;
        break;
    case CmdSetPan:
        if (!setRanged(msg::SetPan{}, &SamplePool::pan))
            return;
        break;
    case CmdSetDelay:
        if (!setRanged(msg::SetDelay{}, &SamplePool::delay))
            return;
        break;
    case CmdSetStart:
        if (!setRanged(msg::SetStart{}, &SamplePool::start))
            return;
        break;
    case CmdSetReverseChance: {
        msg::SetReverseChance m;
        if (!readPooled(p, size, m))
            return;
        lock.lock();
        sampler.pools[m.pool].reverseChance = clampOr(m.percent, 0.0f, 100.0f, 100.0f);
        break;
    }
    case CmdRenamePool: {
        msg::RenamePool m;
        if (!readPooled(p, size, m))
            return;
        lock.lock();
        char* name = sampler.pools[m.pool].name;
        const size_t n = std::min<size_t>(m.name.size(), kPoolNameSize - 1);
        std::memset(name, 0, kPoolNameSize);
        std::memcpy(name, m.name.data(), n);
        break;
    }
    case CmdSetRetriggerMode: {
        msg::SetRetriggerMode m;
        if (!msg::decode(p, size, m))
            return;
        lock.lock();
        sampler.retriggerMode = m.on;
        break;
    }
    case CmdSetAutoSplit: {
        msg::SetAutoSplit m;
        if (!msg::decode(p, size, m))
            return;
        autoSplit.store(m.on);
        break;
    }
    case CmdSetPoolVisible: {
        msg::SetPoolVisible m;
        if (!readPooled(p, size, m))
            return;
        visiblePools.store(withBit(visiblePools.load(), int(m.pool), m.on));
        break;
    }
    case CmdSetPoolSolo: {
        msg::SetPoolSolo m;
        if (!readPooled(p, size, m))
            return;
        // Host parameters change the masks too (on the audio thread): one atomic step each.
        m.on ? soloShadow.fetch_or(uint8_t(1u << m.pool))
             : soloShadow.fetch_and(uint8_t(~(1u << m.pool)));
        lock.lock();
        sampler.soloMask = soloShadow.load();
        break;
    }
    case CmdSetPoolMute: {
        msg::SetPoolMute m;
        if (!readPooled(p, size, m))
            return;
        m.on ? muteShadow.fetch_or(uint8_t(1u << m.pool))
             : muteShadow.fetch_and(uint8_t(~(1u << m.pool)));
        lock.lock();
        sampler.muteMask = muteShadow.load();
        break;
    }
    case CmdSetPoolFreeze: {
        msg::SetPoolFreeze m;
        if (!readPooled(p, size, m))
            return;
        lock.lock();
        sampler.setPoolLocked(int(m.pool), m.on);
        freezeShadow = sampler.freezeMask;
        break;
    }
    case CmdSetSampleRegion: {
        msg::SetSampleRegion m;
        if (!readPooled(p, size, m))
            return;
        lock.lock();
        if (m.sampleIndex >= sampler.pools[m.pool].samples.size())
            return;
        sampler.setRegion(int(m.pool), int(m.sampleIndex), m.offset, m.length);
        break;
    }
    case CmdSelectSample: {
        msg::SelectSample m;
        if (!readPooled(p, size, m))
            return;
        const int pool = int(m.pool);
        const uint32_t index = m.sampleIndex;
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
        if (!setEnvelope(msg::SetVolumeEnv{}, &SamplePool::volumeEnv))
            return;
        break;
    case CmdSetPanEnv:
        if (!setEnvelope(msg::SetPanEnv{}, &SamplePool::panEnv))
            return;
        break;
    case CmdSetPitchEnv:
        if (!setEnvelope(msg::SetPitchEnv{}, &SamplePool::pitchEnv))
            return;
        break;
    case CmdSetHpfEnv:
        if (!setEnvelope(msg::SetHpfEnv{}, &SamplePool::hpfEnv))
            return;
        break;
    case CmdSetLpfEnv:
        if (!setEnvelope(msg::SetLpfEnv{}, &SamplePool::lpfEnv))
            return;
        break;
    case CmdSetPoolRoute: {
        msg::SetPoolRoute m;
        if (!readPooled(p, size, m) || uint8_t(m.route) > uint8_t(PoolRoute::Master))
            return;
        lock.lock();
        sampler.pools[m.pool].outputRoute = m.route;
        break;
    }
    case CmdSetHpf:
        if (!setCutoff(msg::SetHpf{}, &SamplePool::hpfHz))
            return;
        break;
    case CmdSetLpf:
        if (!setCutoff(msg::SetLpf{}, &SamplePool::lpfHz))
            return;
        break;
    case CmdSetFadeIn:
        if (!setFade(msg::SetFadeIn{}, &SamplePool::fadeIn))
            return;
        break;
    case CmdSetFadeOut:
        if (!setFade(msg::SetFadeOut{}, &SamplePool::fadeOut))
            return;
        break;
    case CmdSetPitchTrack:
        if (!setPoolSwitch(msg::SetPitchTrack{}, &SamplePool::pitchTrack))
            return;
        break;
    case CmdSetGrainCloud:
        if (!setPoolSwitch(msg::SetGrainCloud{}, &SamplePool::grainCloud))
            return;
        break;
    default:
        applyFxCommand(type, p, size); // marks the state itself
        return;
    }
    if (lock.owns_lock())
        lock.unlock();
    markStateChanged();
}
