#include "support/AllocCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace {

// Keeps the compiler from pairing and removing an allocation and its free.
template <typename T> void escape(T* p)
{
    asm volatile("" : : "g"(p) : "memory");
}

// The canary: if these are not seen, a zero count elsewhere proves nothing.
TEST(AllocCounter, SeesNewDeleteAndStaysQuietWhenDisarmed)
{
    vesk::test::armAudioThread();
    auto* p = new int(3);
    escape(p);
    delete p;
    auto v = std::make_unique<float[]>(100);
    escape(v.get());
    v.reset();
    const vesk::test::AllocCounts c = vesk::test::disarmAudioThread();
    EXPECT_EQ(c.allocations, 2u);
    EXPECT_EQ(c.frees, 2u);

    auto* q = new int(4);
    delete q;
    vesk::test::armAudioThread();
    EXPECT_EQ(vesk::test::disarmAudioThread().total(), 0u);
}

TEST(AllocCounter, SeesMallocAndLocksOutsideSanitizers)
{
    if (!vesk::test::countsMallocAndLocks())
        GTEST_SKIP() << "sanitizer runtimes own malloc and pthread_mutex_lock";
    std::mutex m;
    vesk::test::armAudioThread();
    void* p = std::malloc(16);
    escape(p);
    std::free(p);
    m.lock();
    m.unlock();
    const bool got = m.try_lock();
    if (got)
        m.unlock();
    const vesk::test::AllocCounts c = vesk::test::disarmAudioThread();
    EXPECT_EQ(c.allocations, 1u);
    EXPECT_EQ(c.frees, 1u);
    EXPECT_EQ(c.locks, 1u) << "try_lock must not count";
}

} // namespace
