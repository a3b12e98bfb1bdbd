// The FX-bus and master-chain messages of the command ring.
#include "Messages.h"
#include "VeskPlugin.h"

#include <algorithm>

bool VeskPlugin::applyFxCommand(uint8_t type, const uint8_t* p, uint32_t size)
{
    using namespace vesk;
    auto laneOk = [&](uint32_t need) { return size >= need && p[0] <= 1; };
    std::unique_lock<std::mutex> lock(stateMutex, std::defer_lock);

    switch (type) {
    case CmdSetLaneBypass:
    case CmdSetLaneMute:
    case CmdSetLaneSolo: {
        if (!laneOk(2))
            return false;
        lock.lock();
        FXLane& lane = lanes[p[0]];
        (type == CmdSetLaneBypass ? lane.bypassed
         : type == CmdSetLaneMute ? lane.muted
                                  : lane.soloed) = p[1] != 0;
        break;
    }
    case CmdSetBus1ToMaster:
        if (size < 1)
            return false;
        lock.lock();
        bus1ToMaster = p[0] != 0;
        break;
    case CmdAddFxSlot: {
        if (!laneOk(2))
            return false;
        // The module is built before the lock is taken (the lane's rate changes only on this
        // thread), so a slow constructor costs the audio thread nothing.
        PreparedModule prepared = FXLane::prepareModule(p[1], lanes[p[0]].sampleRate);
        lock.lock();
        lanes[p[0]].appendModule(p[1], &prepared);
        lock.unlock();
        FXLane::discardPrepared(prepared);
        break;
    }
    case CmdRemoveFxSlot: {
        if (!laneOk(2))
            return false;
        FXSlot removed;
        lock.lock();
        lanes[p[0]].removeSlot(p[1], &removed);
        lock.unlock();
        FXLane::destroyDetached(removed);
        break;
    }
    case CmdSetFxSlotBypass:
        if (!laneOk(3))
            return false;
        lock.lock();
        lanes[p[0]].setSlotBypass(p[1], p[2] != 0);
        break;
    case CmdSetFxParam:
        if (!laneOk(7) || p[2] > 15)
            return false;
        lock.lock();
        lanes[p[0]].setParam(p[1], p[2], getF32(p + 3));
        break;
    case CmdMoveFxSlot:
        if (size < 4 || p[0] > 1 || p[2] > 1)
            return false;
        lock.lock();
        FXLane::moveSlot(lanes[p[0]], p[1], lanes[p[2]], p[3]);
        break;
    case CmdBindFxModulation:
        if (!laneOk(8) || p[2] > 15 || p[3] > 4)
            return false;
        lock.lock();
        lanes[p[0]].bindModulation(p[1], p[2], p[3], getF32(p + 4));
        break;
    case CmdAppendFxChain: {
        if (!laneOk(2))
            return false;
        FXLane& lane = lanes[p[0]];
        const uint32_t entries = p[1];
        // Build the modules of every complete entry first, outside the lock.
        PreparedModule prepared[256];
        {
            uint32_t offset = 2;
            for (uint32_t e = 0; e < entries && e < uint32_t(kMaxSlots); ++e) {
                if (size - offset < 3 || p[offset + 2] > 16 ||
                    size - offset < 3 + 9 * uint32_t(p[offset + 2]))
                    break;
                prepared[e] = FXLane::prepareModule(p[offset], lane.sampleRate);
                offset += 3 + 9 * uint32_t(p[offset + 2]);
            }
        }
        auto discardAll = [&] {
            for (PreparedModule& m : prepared)
                FXLane::discardPrepared(m);
        };
        uint32_t offset = 2;
        bool complete = true;
        lock.lock();
        for (uint32_t e = 0; e < entries; ++e) {
            if (size - offset < 3) {
                complete = false;
                break;
            }
            const uint8_t* entry = p + offset;
            const uint32_t n = entry[2];
            if (n > 16 || size - offset < 3 + 9 * n) {
                complete = false;
                break;
            }
            float values[16];
            uint8_t sources[16];
            float depths[16];
            for (uint32_t k = 0; k < n; ++k) {
                values[k] = getF32(entry + 3 + 4 * k);
                sources[k] = entry[3 + 4 * n + k];
                depths[k] = getF32(entry + 3 + 5 * n + 4 * k);
            }
            if (lane.appendChainEntry(entry[0], entry[1] != 0, n, values, sources, depths,
                                      &prepared[e]) == FXLane::AppendResult::Full)
                break;
            offset += 3 + 9 * n;
        }
        lock.unlock();
        discardAll();
        if (!complete)
            return false; // what was appended stays; the state is not marked
        break;
    }
    case CmdSetMasterOutputGain:
        if (size < 4)
            return false;
        lock.lock();
        masterFx.setOutputGainDb(getF32(p));
        break;
    case CmdSetMasterBypass:
        if (size < 1)
            return false;
        lock.lock();
        masterFx.setBypassed(p[0] != 0);
        break;
    case CmdSetMasterEQ:
        if (size < 12)
            return false;
        lock.lock();
        masterFx.setEQ(getF32(p), getF32(p + 4), getF32(p + 8));
        break;
    case CmdSetMasterEQBypass:
        if (size < 1)
            return false;
        lock.lock();
        masterFx.setEQBypass(p[0] != 0);
        break;
    case CmdSetMasterEnhance:
        if (size < 12)
            return false;
        lock.lock();
        masterFx.setEnhance(getF32(p), getF32(p + 4), getF32(p + 8));
        break;
    case CmdSetMasterEnhanceBypass:
        if (size < 1)
            return false;
        lock.lock();
        masterFx.setEnhanceBypass(p[0] != 0);
        break;
    case CmdSetMasterEnhanceMulti:
        if (size < 1)
            return false;
        lock.lock();
        masterFx.setEnhanceMulti(p[0] != 0);
        break;
    case CmdSetMasterReverb:
        if (size < 24)
            return false;
        lock.lock();
        masterFx.setReverb(getF32(p), getF32(p + 4), getF32(p + 8), getF32(p + 12), getF32(p + 16),
                           getF32(p + 20));
        break;
    case CmdSetMasterReverbBypass:
        if (size < 1)
            return false;
        lock.lock();
        masterFx.setReverbBypass(p[0] != 0);
        break;
    case CmdSetMasterLimiter:
        if (size < 12)
            return false;
        lock.lock();
        masterFx.setLimiter(getF32(p), getF32(p + 4), getF32(p + 8));
        break;
    case CmdSetMasterLimiterBypass:
        if (size < 1)
            return false;
        lock.lock();
        masterFx.setLimiterBypass(p[0] != 0);
        break;
    default:
        return false;
    }
    if (lock.owns_lock())
        lock.unlock();
    markStateChanged();
    return true;
}
