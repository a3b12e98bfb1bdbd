// Every thread at once: an editor writing commands and triggers, the audio thread processing, the
// main thread servicing callbacks, the worker loading files. Bounded by counts, not by time; run
// under the tsan preset it proves the threads share nothing without synchronisation.
#include "support/PluginFixture.h"
#include "support/Signal.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace vesk;
using namespace vesk::test;

namespace {

TEST(Stress, EditorAudioMainAndWorkerTogether)
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    const std::string base = std::string(dir != nullptr ? dir : VESK_TEST_TMP_DIR);
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(base + "/stress" + std::to_string(i) + ".wav");
        const std::vector<float> s = sine(200.0 + 150.0 * i, 48000.0, 9600, 0.4);
        ASSERT_TRUE(writeWav(files.back(), s, s, 48000.0));
    }

    Instance inst;
    VeskPlugin* p = inst.plugin;
    std::atomic<bool> editorDone{false};
    std::atomic<uint64_t> sent{0};

    std::thread editor([&] {
        XS64Rand rng{12345};
        for (int i = 0; i < 3000; ++i) {
            const uint32_t pool = uint32_t(rng.next() % 8);
            bool ok = true;
            switch (rng.next() % 12) {
            case 0:
                ok = p->backend.SendLoadToPool(pool, files[rng.next() % files.size()]);
                break;
            case 1:
                ok = inst.send(msg::Trigger{rng.next()});
                break;
            case 2:
                ok = inst.send(msg::SetPitch{pool, float(rng.uniform() * 24 - 12),
                                             float(rng.uniform()), true});
                break;
            case 3:
                ok = inst.send(msg::SetGrainCloud{pool, (rng.next() & 1) != 0});
                break;
            case 4:
                ok =
                    inst.send(msg::AddFxSlot{uint8_t(rng.next() & 1), uint8_t(1 + rng.next() % 6)});
                break;
            case 5:
                ok = inst.send(msg::RemoveFxSlot{uint8_t(rng.next() & 1), 0});
                break;
            case 6:
                ok = inst.send(msg::RemoveSample{pool, 0});
                break;
            case 7:
                ok = inst.send(msg::ClearPool{pool});
                break;
            case 8:
                ok = inst.send(msg::PlaySample{pool, 0});
                break;
            case 9:
                ok = inst.send(msg::Replay{});
                break;
            case 10:
                ok = inst.send(msg::SetPoolRoute{pool, PoolRoute(rng.next() % 3)});
                break;
            default:
                ok = inst.send(msg::SetMasterBypass{(rng.next() & 1) != 0});
                break;
            }
            if (ok)
                sent.fetch_add(1, std::memory_order_relaxed);
            if (i % 16 == 0)
                std::this_thread::yield();
        }
        editorDone = true;
    });

    std::atomic<bool> audioDone{false};
    std::thread audio([&] {
        std::vector<float> l, r;
        for (int block = 0; block < 1500 || !editorDone; ++block) {
            l.clear();
            r.clear();
            inst.render(256, 256, l, r);
            for (float v : l)
                ASSERT_TRUE(std::isfinite(v));
        }
        audioDone = true;
    });

    // This thread is the host's main thread.
    while (!audioDone)
        VeskPlugin::clapOnMainThread(&p->clapPlugin);
    editor.join();
    audio.join();
    // The editor's last messages may have come after the audio thread's last block.
    std::vector<float> tailL, tailR;
    inst.render(256, 256, tailL, tailR);
    // That pass applies the last commands, which may post more loads: let them finish too.
    p->workers.wait();
    VeskPlugin::clapOnMainThread(&p->clapPlugin);
    p->workers.wait();
    VeskPlugin::clapOnMainThread(&p->clapPlugin);

    // Nothing is left in either ring, and every message the rings refused is counted (triggers
    // that found the deferred queue full are counted too, so the counter may be higher).
    EXPECT_EQ(p->queues.commandRead.load(), p->queues.commandWrite.load());
    EXPECT_EQ(p->queues.triggerRead.load(), p->queues.triggerWrite.load());
    EXPECT_GE(uint64_t(p->queues.droppedCommands.load()), 3000u - sent.load());
    EXPECT_EQ(p->pendingJobs.load(), 0);

    // The engine still renders.
    inst.send(msg::StopAll{});
    std::vector<float> l, r;
    inst.render(4800, 256, l, r);
    for (float v : l)
        ASSERT_TRUE(std::isfinite(v));
}

} // namespace
