// Instance behaviour that is not visible through the CLAP ABI.
#include "plugin/VeskPlugin.h"
#include "plugin/WorkerPool.h"
#include "tests/support/InProcessPlugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct FakeHost
{
    clap_host_t host{};
    clap_host_track_info_t trackInfo{};
    std::string name;
    int callbacks = 0;

    FakeHost()
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "test";
        host.vendor = "";
        host.url = "";
        host.version = "";
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<FakeHost*>(h->host_data);
            return std::strcmp(id, CLAP_EXT_TRACK_INFO) == 0 ? &self->trackInfo : nullptr;
        };
        host.request_callback = [](const clap_host_t* h) {
            ++static_cast<FakeHost*>(h->host_data)->callbacks;
        };
        trackInfo.get = [](const clap_host_t* h, clap_track_info_t* info) {
            auto* self = static_cast<FakeHost*>(h->host_data);
            std::snprintf(info->name, sizeof info->name, "%s", self->name.c_str());
            return true;
        };
    }
};

VeskPlugin* makeInstance(const clap_host_t* host)
{
    return vesk::test::newInstance(host);
}

TEST(VeskPlugin, WindowTitleFollowsTheTrackName)
{
    FakeHost fake;
    VeskPlugin* p = makeInstance(&fake.host);
    ASSERT_TRUE(VeskPlugin::clapInit(&p->clapPlugin));
    EXPECT_EQ(p->windowTitle(), "Halvoren Vesk");
    fake.name = "Drums";
    VeskPlugin::clapTrackInfoChanged(&p->clapPlugin);
    EXPECT_STREQ(p->trackName, "Drums");
    EXPECT_EQ(p->windowTitle(), "Halvoren Vesk - Drums");
    fake.name = std::string(200, 'x'); // longer than the field: cut at 63 characters
    VeskPlugin::clapTrackInfoChanged(&p->clapPlugin);
    EXPECT_EQ(std::strlen(p->trackName), 63u);
    fake.name.clear();
    VeskPlugin::clapTrackInfoChanged(&p->clapPlugin);
    EXPECT_EQ(p->windowTitle(), "Halvoren Vesk");
    VeskPlugin::clapDestroy(&p->clapPlugin);
}

TEST(VeskPlugin, RenderModeAndWakeCallback)
{
    FakeHost fake;
    VeskPlugin* p = makeInstance(&fake.host);
    EXPECT_TRUE(VeskPlugin::clapRenderSet(&p->clapPlugin, CLAP_RENDER_OFFLINE));
    EXPECT_TRUE(p->offlineRender.load());
    EXPECT_TRUE(VeskPlugin::clapRenderSet(&p->clapPlugin, CLAP_RENDER_REALTIME));
    EXPECT_FALSE(p->offlineRender.load());
    VeskPlugin::requestMainThreadCallback(p);
    VeskPlugin::requestMainThreadCallback(nullptr);
    EXPECT_EQ(fake.callbacks, 1);
    VeskPlugin::clapDestroy(&p->clapPlugin);
}

TEST(VeskPlugin, DestroyWaitsForARunningJob)
{
    FakeHost fake;
    VeskPlugin* p = makeInstance(&fake.host);
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    p->workers.post([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
    });
    while (!started)
        std::this_thread::yield();
    VeskPlugin::clapDestroy(&p->clapPlugin);
    EXPECT_TRUE(finished.load());
}

TEST(WorkerPool, RunsJobsInOrderAndSurvivesThrowingJobs)
{
    vesk::WorkerPool pool;
    std::vector<int> order;
    for (int i = 0; i < 50; ++i) {
        pool.post([&order, i] {
            if (i == 10)
                throw std::runtime_error("job failure");
            if (i == 11)
                throw 42;
            order.push_back(i);
        });
    }
    pool.wait();
    ASSERT_EQ(order.size(), 48u);
    for (size_t k = 1; k < order.size(); ++k)
        EXPECT_LT(order[k - 1], order[k]);
    EXPECT_EQ(pool.failedJobs(), 2u);
}

TEST(WorkerPool, WaitForTimesOutWhileBusy)
{
    vesk::WorkerPool pool;
    std::atomic<bool> release{false};
    pool.post([&] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_FALSE(pool.waitFor(20));
    release = true;
    EXPECT_TRUE(pool.waitFor(5000));
    pool.wait(); // idle: returns at once
}

TEST(WorkerPool, DestructionFinishesQueuedJobs)
{
    std::atomic<int> done{0};
    {
        vesk::WorkerPool pool;
        for (int i = 0; i < 20; ++i)
            pool.post([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++done;
            });
    }
    EXPECT_EQ(done.load(), 20);
}

} // namespace
