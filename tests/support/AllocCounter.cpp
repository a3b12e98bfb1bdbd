#include "AllocCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The thread sanitizer's runtime defines operator new and delete in one object file that cannot
// coexist with replacements, so under it the counter stays silent (it only runs the stress test).
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESK_NO_NEW_HOOKS 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define VESK_NO_NEW_HOOKS 1
#endif

#if !defined(VESK_SANITIZED) && defined(__linux__) && defined(__GLIBC__)
#define VESK_COUNT_MALLOC 1
#include <dlfcn.h>
#include <pthread.h>
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}
#endif

namespace {

struct Counter
{
    bool armed = false;
    uint64_t allocations = 0;
    uint64_t frees = 0;
    uint64_t locks = 0;
};

thread_local Counter t_counter;

// With VESK_ALLOC_TRAP set, a counted allocation stops the program under a debugger, which then
// shows where the audio path allocated.
const bool g_trap = std::getenv("VESK_ALLOC_TRAP") != nullptr;

[[maybe_unused]] inline void noteAlloc()
{
    if (t_counter.armed) {
        ++t_counter.allocations;
        if (g_trap)
            __builtin_trap();
    }
}

[[maybe_unused]] inline void noteFree(void* p)
{
    if (p != nullptr && t_counter.armed)
        ++t_counter.frees;
}

#ifdef VESK_COUNT_MALLOC
[[maybe_unused]] inline void* rawMalloc(size_t n)
{
    return __libc_malloc(n);
}
[[maybe_unused]] inline void rawFree(void* p)
{
    __libc_free(p);
}
[[maybe_unused]] inline void* rawAligned(size_t align, size_t n)
{
    return __libc_memalign(align, n);
}
#else
[[maybe_unused]] inline void* rawMalloc(size_t n)
{
    return std::malloc(n);
}
[[maybe_unused]] inline void rawFree(void* p)
{
    std::free(p);
}
[[maybe_unused]] inline void* rawAligned(size_t align, size_t n)
{
    return std::aligned_alloc(align, (n + align - 1) / align * align);
}
#endif

#ifndef VESK_NO_NEW_HOOKS
void* newImpl(size_t n)
{
    noteAlloc();
    if (void* p = rawMalloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

void* newAlignedImpl(size_t n, std::align_val_t al)
{
    noteAlloc();
    size_t align = static_cast<size_t>(al);
    if (align < sizeof(void*))
        align = sizeof(void*);
    if (void* p = rawAligned(align, n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

void deleteImpl(void* p)
{
    noteFree(p);
    rawFree(p);
}
#endif

} // namespace

namespace vesk::test {

void armAudioThread()
{
    t_counter = Counter{};
    t_counter.armed = true;
}

AllocCounts disarmAudioThread()
{
    t_counter.armed = false;
    return {t_counter.allocations, t_counter.frees, t_counter.locks};
}

bool countsMallocAndLocks()
{
#ifdef VESK_COUNT_MALLOC
    return true;
#else
    return false;
#endif
}

} // namespace vesk::test

#ifndef VESK_NO_NEW_HOOKS
// Replacement operator new/delete: every form counts once.
void* operator new(size_t n)
{
    return newImpl(n);
}
void* operator new[](size_t n)
{
    return newImpl(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    try {
        return newImpl(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept
{
    try {
        return newImpl(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(size_t n, std::align_val_t al)
{
    return newAlignedImpl(n, al);
}
void* operator new[](size_t n, std::align_val_t al)
{
    return newAlignedImpl(n, al);
}
void* operator new(size_t n, std::align_val_t al, const std::nothrow_t&) noexcept
{
    try {
        return newAlignedImpl(n, al);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t n, std::align_val_t al, const std::nothrow_t&) noexcept
{
    try {
        return newAlignedImpl(n, al);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept
{
    deleteImpl(p);
}
void operator delete[](void* p) noexcept
{
    deleteImpl(p);
}
void operator delete(void* p, size_t) noexcept
{
    deleteImpl(p);
}
void operator delete[](void* p, size_t) noexcept
{
    deleteImpl(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    deleteImpl(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    deleteImpl(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept
{
    deleteImpl(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept
{
    deleteImpl(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    deleteImpl(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    deleteImpl(p);
}
#endif

#ifdef VESK_COUNT_MALLOC
// C allocation functions, for code (libraries included) that does not go through operator new.
extern "C" {

void* malloc(size_t n)
{
    noteAlloc();
    return __libc_malloc(n);
}

void* calloc(size_t n, size_t size)
{
    noteAlloc();
    return __libc_calloc(n, size);
}

void* realloc(void* p, size_t n)
{
    noteAlloc();
    return __libc_realloc(p, n);
}

void free(void* p)
{
    noteFree(p);
    __libc_free(p);
}

int posix_memalign(void** out, size_t align, size_t n)
{
    noteAlloc();
    void* p = __libc_memalign(align, n);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}

void* aligned_alloc(size_t align, size_t n)
{
    noteAlloc();
    return __libc_memalign(align, n);
}

void* memalign(size_t align, size_t n)
{
    noteAlloc();
    return __libc_memalign(align, n);
}

int pthread_mutex_lock(pthread_mutex_t* m)
{
    // No function-local static here: its guard would take a mutex and recurse.
    using LockFn = int (*)(pthread_mutex_t*);
    static std::atomic<LockFn> real{nullptr};
    LockFn fn = real.load(std::memory_order_relaxed);
    if (fn == nullptr) {
        fn = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        real.store(fn, std::memory_order_relaxed);
    }
    if (t_counter.armed)
        ++t_counter.locks;
    return fn(m);
}

} // extern "C"
#endif
