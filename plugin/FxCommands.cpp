// The FX-bus and master-chain messages of the command ring.
#include "Messages.h"
#include "VeskPlugin.h"

#include <algorithm>

namespace {

// Decodes a record that starts with a lane: false for a short payload or a lane above 1.
template <class R> bool readLaned(const uint8_t* payload, uint32_t size, R& message)
{
    return vesk::msg::decode(payload, size, message) && message.lane <= 1;
}

} // namespace

bool VeskPlugin::applyFxCommand(uint8_t type, const uint8_t* p, uint32_t size)
{
    using namespace vesk;
    std::unique_lock<std::mutex> lock(stateMutex, std::defer_lock);

    const auto setLaneFlag = [&](auto message, bool FXLane::*target) {
        if (!readLaned(p, size, message))
            return false;
        lock.lock();
        lanes[message.lane].*target = message.on;
        return true;
    };

    switch (type) {
    case CmdSetLaneBypass:
        if (!setLaneFlag(msg::SetLaneBypass{}, &FXLane::bypassed))
            return false;
        break;
    case CmdSetLaneMute:
        if (!setLaneFlag(msg::SetLaneMute{}, &FXLane::muted))
            return false;
        break;
    case CmdSetLaneSolo:
        if (!setLaneFlag(msg::SetLaneSolo{}, &FXLane::soloed))
            return false;
        break;
    case CmdSetBus1ToMaster: {
        msg::SetBus1ToMaster m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        bus1ToMaster = m.on;
        break;
    }
    case CmdAddFxSlot: {
        msg::AddFxSlot m;
        if (!readLaned(p, size, m))
            return false;
        // The module is built before the lock is taken (the lane's rate changes only on this
        // thread), so a slow constructor costs the audio thread nothing.
        PreparedModule prepared = FXLane::prepareModule(m.fxType, lanes[m.lane].sampleRate);
        lock.lock();
        lanes[m.lane].appendModule(m.fxType, &prepared);
        lock.unlock();
        FXLane::discardPrepared(prepared);
        break;
    }
    case CmdRemoveFxSlot: {
        msg::RemoveFxSlot m;
        if (!readLaned(p, size, m))
            return false;
        FXSlot removed;
        lock.lock();
        lanes[m.lane].removeSlot(m.slot, &removed);
        lock.unlock();
        FXLane::destroyDetached(removed);
        break;
    }
    case CmdSetFxSlotBypass: {
        msg::SetFxSlotBypass m;
        if (!readLaned(p, size, m))
            return false;
        lock.lock();
        lanes[m.lane].setSlotBypass(m.slot, m.bypassed);
        break;
    }
    case CmdSetFxParam: {
        msg::SetFxParam m;
        if (!readLaned(p, size, m) || m.knob > 15)
            return false;
        lock.lock();
        lanes[m.lane].setParam(m.slot, m.knob, m.value);
        break;
    }
    case CmdMoveFxSlot: {
        msg::MoveFxSlot m;
        if (!msg::decode(p, size, m) || m.fromLane > 1 || m.toLane > 1)
            return false;
        lock.lock();
        FXLane::moveSlot(lanes[m.fromLane], m.fromSlot, lanes[m.toLane], m.toIndex);
        break;
    }
    case CmdBindFxModulation: {
        msg::BindFxModulation m;
        if (!readLaned(p, size, m) || m.knob > 15 || m.source > 4)
            return false;
        lock.lock();
        lanes[m.lane].bindModulation(m.slot, m.knob, m.source, m.depth);
        break;
    }
    case CmdAppendFxChain: {
        msg::AppendFxChain chain;
        if (!readLaned(p, size, chain))
            return false;
        FXLane& lane = lanes[chain.lane];
        const size_t entries = chain.entries.size();
        // Build the modules of the entries a lane can hold first, outside the lock.
        PreparedModule prepared[256];
        for (size_t e = 0; e < entries && e < size_t(kMaxSlots); ++e)
            prepared[e] = FXLane::prepareModule(chain.entries[e].fxType, lane.sampleRate);
        bool full = false;
        lock.lock();
        for (size_t e = 0; e < entries; ++e) {
            const msg::FxChainEntry& entry = chain.entries[e];
            if (lane.appendChainEntry(entry.fxType, entry.bypassed, entry.knobCount, entry.values,
                                      entry.sources, entry.depths,
                                      &prepared[e]) == FXLane::AppendResult::Full) {
                full = true;
                break;
            }
        }
        lock.unlock();
        for (PreparedModule& m : prepared)
            FXLane::discardPrepared(m);
        // A chain cut short keeps what was appended but does not mark the state, unless the
        // lane filled up before the cut.
        if (chain.truncated && !full)
            return false;
        break;
    }
    case CmdSetMasterOutputGain: {
        msg::SetMasterOutputGain m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setOutputGainDb(m.db);
        break;
    }
    case CmdSetMasterBypass: {
        msg::SetMasterBypass m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setBypassed(m.on);
        break;
    }
    case CmdSetMasterEQ: {
        msg::SetMasterEQ m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setEQ(m.lowDb, m.midDb, m.highDb);
        break;
    }
    case CmdSetMasterEQBypass: {
        msg::SetMasterEQBypass m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setEQBypass(m.on);
        break;
    }
    case CmdSetMasterEnhance: {
        msg::SetMasterEnhance m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setEnhance(m.driveDb, m.amountPercent, m.shape);
        break;
    }
    case CmdSetMasterEnhanceBypass: {
        msg::SetMasterEnhanceBypass m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setEnhanceBypass(m.on);
        break;
    }
    case CmdSetMasterEnhanceMulti: {
        msg::SetMasterEnhanceMulti m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setEnhanceMulti(m.on);
        break;
    }
    case CmdSetMasterReverb: {
        msg::SetMasterReverb m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setReverb(m.size, m.damp, m.decaySeconds, m.mix, m.width, m.early);
        break;
    }
    case CmdSetMasterReverbBypass: {
        msg::SetMasterReverbBypass m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setReverbBypass(m.on);
        break;
    }
    case CmdSetMasterLimiter: {
        msg::SetMasterLimiter m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setLimiter(m.thresholdDb, m.ceilingDb, m.releaseMs);
        break;
    }
    case CmdSetMasterLimiterBypass: {
        msg::SetMasterLimiterBypass m;
        if (!msg::decode(p, size, m))
            return false;
        lock.lock();
        masterFx.setLimiterBypass(m.on);
        break;
    }
    default:
        return false;
    }
    if (lock.owns_lock())
        lock.unlock();
    markStateChanged();
    return true;
}
