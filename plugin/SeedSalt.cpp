#include "SeedSalt.h"

#include "OsEntropy.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace vesk {
namespace {

struct Held
{
    const void* owner;
    uint64_t salt;
};

struct Registry
{
    std::mutex mutex;
    std::vector<Held> held;

    // The caller holds the mutex.
    bool heldByOther(const void* owner, uint64_t salt) const
    {
        return std::any_of(held.begin(), held.end(),
                           [&](const Held& h) { return h.owner != owner && h.salt == salt; });
    }
    void record(const void* owner, uint64_t salt)
    {
        for (Held& h : held)
            if (h.owner == owner) {
                h.salt = salt;
                return;
            }
        held.push_back({owner, salt});
    }
};

// Lives as long as the plug-in file is loaded; hosts destroy every instance before they unload it.
Registry& registry()
{
    static Registry r;
    return r;
}

} // namespace

uint64_t claimFreshSalt(const void* owner)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    uint64_t salt = osEntropy64();
    while (r.heldByOther(owner, salt))
        salt = osEntropy64();
    r.record(owner, salt);
    return salt;
}

bool claimSalt(const void* owner, uint64_t salt)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.heldByOther(owner, salt))
        return false;
    r.record(owner, salt);
    return true;
}

void releaseSalt(const void* owner)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.held.erase(std::remove_if(r.held.begin(), r.held.end(),
                                [&](const Held& h) { return h.owner == owner; }),
                 r.held.end());
}

} // namespace vesk
