// Counts heap allocations, frees and blocking lock calls made by one thread while it is armed.
//
// The counter replaces the global operator new/delete family for the whole test program and,
// outside sanitizer builds (whose runtimes own these symbols), also malloc, calloc, realloc,
// free and pthread_mutex_lock. The test programs export their symbols, so a plug-in loaded with
// dlopen resolves to the same replacements. Arm it around the code that must stay real-time safe
// (the process call), then read the counts; a canary allocation proves the counter is live.
#pragma once

#include <cstdint>

namespace vesk::test {

struct AllocCounts
{
    uint64_t allocations = 0;
    uint64_t frees = 0;
    uint64_t locks = 0; // blocking pthread_mutex_lock calls (try-locks are not counted)

    uint64_t total() const { return allocations + frees + locks; }
};

// Arms the counter for the calling thread. Not reentrant.
void armAudioThread();
// Disarms it and returns what happened while armed.
AllocCounts disarmAudioThread();
// True when malloc and mutex locks are counted too (not in sanitizer builds).
bool countsMallocAndLocks();

// RAII helper: counts for its lifetime, adds the result to `out`.
class ScopedAllocCount
{
public:
    explicit ScopedAllocCount(AllocCounts& out) : out_(out) { armAudioThread(); }
    ~ScopedAllocCount()
    {
        const AllocCounts c = disarmAudioThread();
        out_.allocations += c.allocations;
        out_.frees += c.frees;
        out_.locks += c.locks;
    }
    ScopedAllocCount(const ScopedAllocCount&) = delete;
    ScopedAllocCount& operator=(const ScopedAllocCount&) = delete;

private:
    AllocCounts& out_;
};

} // namespace vesk::test
