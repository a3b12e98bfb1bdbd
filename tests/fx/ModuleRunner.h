// Runs one FX module through its function table the way a lane does: a zero-filled, 64-byte
// aligned state block, the registry's defaults as knob values, blocks of a chosen size.
#pragma once

#include "fx/FXModule.h"
#include "fx/FXVTables.h"
#include "support/AllocCounter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace vesk::test {

class ModuleRunner
{
public:
    explicit ModuleRunner(FXType type, double rate = 48000.0)
        : info_(*getFXModuleInfo(type)), type_(type), rate_(rate)
    {
        const FXModuleVTable& vt = *info_.vtable;
        block_ = ::operator new (static_cast<size_t>(vt.stateSize), std::align_val_t{64});
        std::memset(block_, 0, static_cast<size_t>(vt.stateSize));
        vt.construct(block_, rate);
        std::copy(info_.paramDefaults, info_.paramDefaults + info_.paramCount, params);
    }
    ~ModuleRunner()
    {
        info_.vtable->destroy(block_);
        ::operator delete (block_, std::align_val_t{64});
    }
    ModuleRunner(const ModuleRunner&) = delete;
    ModuleRunner& operator=(const ModuleRunner&) = delete;

    // Processes l and r in place in blocks of blockSize frames, counting allocations and locks
    // into `counts`.
    void process(std::vector<float>& l, std::vector<float>& r, unsigned blockSize = 256)
    {
        ScopedAllocCount scope(counts);
        for (size_t a = 0; a < l.size(); a += blockSize) {
            const unsigned n = static_cast<unsigned>(std::min<size_t>(blockSize, l.size() - a));
            info_.vtable->process(l.data() + a, r.data() + a, n, params, block_, rate_);
        }
    }
    // One block of `frames` frames in place, as the lane would call it.
    void processBlock(float* l, float* r, unsigned frames)
    {
        ScopedAllocCount scope(counts);
        info_.vtable->process(l, r, frames, params, block_, rate_);
    }
    std::pair<std::vector<float>, std::vector<float>>
    run(std::vector<float> l, std::vector<float> r, unsigned blockSize = 256)
    {
        process(l, r, blockSize);
        return {std::move(l), std::move(r)};
    }
    std::vector<float> runMono(const std::vector<float>& x, unsigned blockSize = 256)
    {
        return run(x, x, blockSize).first;
    }
    void reset()
    {
        ScopedAllocCount scope(counts);
        info_.vtable->reset(block_);
    }
    void trigger()
    {
        ScopedAllocCount scope(counts);
        if (FXTriggerFunction f = kModuleTriggerHooks[static_cast<size_t>(type_) - 1])
            f(block_);
    }

    float params[kMaxFXParams] = {};
    AllocCounts counts; // everything the audio-thread calls did

private:
    const FXModuleInfo& info_;
    FXType type_;
    double rate_;
    void* block_ = nullptr;
};

} // namespace vesk::test
