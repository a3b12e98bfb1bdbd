// Message ids and the packed little-endian field accessors shared by senders and the dispatcher.
#pragma once

#include <cstdint>
#include <cstring>

namespace vesk {

enum MessageId : uint8_t
{
    CmdLoadToPool = 1,
    CmdClearPool = 2,
    CmdRemovePool = 3,
    CmdRemoveSample = 4,
    CmdTrigger = 5,
    CmdPlaySample = 7,
    CmdReplay = 8,
    CmdStopPool = 9,
    CmdStopAll = 10,
    CmdRenderStems = 12,
    CmdRenderMix = 13,
    CmdSetPitch = 14,
    CmdSetVolume = 15,
    CmdSetPan = 16,
    CmdSetDelay = 17,
    CmdSetStart = 18,
    CmdSetReverseChance = 19,
    CmdSetMasterOutputGain = 20,
    CmdSetMasterBypass = 21,
    CmdSetMasterEQ = 22,
    CmdSetMasterEQBypass = 23,
    CmdSetMasterEnhance = 24,
    CmdSetMasterEnhanceBypass = 25,
    CmdSetMasterEnhanceMulti = 26,
    CmdSetMasterReverb = 27,
    CmdSetMasterReverbBypass = 28,
    CmdSetMasterLimiter = 29,
    CmdSetMasterLimiterBypass = 30,
    CmdRenamePool = 31,
    CmdSetRetriggerMode = 32,
    CmdSetAutoSplit = 33,
    CmdSetPoolVisible = 34,
    CmdSetPoolSolo = 35,
    CmdSetPoolMute = 36,
    CmdSetPoolFreeze = 37,
    CmdSetSampleRegion = 38,
    CmdSelectSample = 39,
    CmdSetVolumeEnv = 40,
    CmdSetPoolRoute = 41,
    CmdSetLaneBypass = 42,
    CmdSetLaneMute = 43,
    CmdSetLaneSolo = 44,
    CmdSetBus1ToMaster = 45,
    CmdSetPanEnv = 46,
    CmdSetPitchEnv = 47,
    CmdSetHpf = 48,
    CmdSetLpf = 49,
    CmdSetHpfEnv = 50,
    CmdSetLpfEnv = 51,
    CmdSetFadeIn = 52,
    CmdSetFadeOut = 53,
    CmdSetPitchTrack = 54,
    CmdSetGrainCloud = 55,
    CmdAddFxSlot = 56,
    CmdRemoveFxSlot = 57,
    CmdSetFxSlotBypass = 58,
    CmdSetFxParam = 59,
    CmdMoveFxSlot = 61,
    CmdBindFxModulation = 62,
    CmdAppendFxChain = 63,
};

// Packed little-endian fields (the platforms we build for are little-endian).
inline uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t getU64(const uint8_t* p)
{
    return uint64_t(getU32(p)) | uint64_t(getU32(p + 4)) << 32;
}
inline int64_t getI64(const uint8_t* p)
{
    return static_cast<int64_t>(getU64(p));
}
inline float getF32(const uint8_t* p)
{
    const uint32_t bits = getU32(p);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}
inline void putU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void putU64(uint8_t* p, uint64_t v)
{
    putU32(p, uint32_t(v));
    putU32(p + 4, uint32_t(v >> 32));
}
inline void putF32(uint8_t* p, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    putU32(p, bits);
}

} // namespace vesk
