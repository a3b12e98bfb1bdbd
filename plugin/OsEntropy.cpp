#include "OsEntropy.h"

#include "engine/TriggerSeed.h"

#include <atomic>
#include <chrono>

#if defined(__APPLE__)
#include <stdlib.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#endif

namespace vesk {
namespace {

bool fillFromSystem(void* out, size_t bytes)
{
#if defined(__APPLE__)
    ::arc4random_buf(out, bytes);
    return true;
#else
    auto* p = static_cast<unsigned char*>(out);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::getrandom(p + done, bytes - done, 0);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == bytes)
        return true;
    // A kernel without getrandom: the device.
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    done = 0;
    while (done < bytes) {
        const ssize_t n = ::read(fd, p + done, bytes - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    ::close(fd);
    return done == bytes;
#endif
}

} // namespace

uint64_t osEntropy64()
{
    uint64_t value = 0;
    if (fillFromSystem(&value, sizeof value))
        return value;
    static std::atomic<uint64_t> count{0};
    const uint64_t wall = uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t steady = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    const uint64_t where = uint64_t(reinterpret_cast<uintptr_t>(&value));
    const uint64_t n = count.fetch_add(1, std::memory_order_relaxed);
    return mix64(mix64(wall) ^ mix64(steady + kGoldenGamma) ^ mix64(where ^ (n << 32)));
}

} // namespace vesk
