// Host parameters with every thread at once: the audio thread processing parameter values and
// modulation (unknown ids and bad values among them) with notes, the editor writing commands on
// the same knobs, the main thread servicing callbacks, reading values and sending the editor's
// gestures, which the audio thread hands to the host. Bounded by counts, not by time; run under
// the tsan preset it proves they share nothing without synchronisation.
#include "ParamsSupport.h"

#include <atomic>
#include <cmath>
#include <thread>

using namespace vesk;
using namespace vesk::test;

namespace {

TEST(Stress, HostParametersWithEditorAudioAndMain)
{
    ParamsInstance inst;
    inst.loadPool(0, sine(220.0, 48000.0, 24000, 0.4), "params_stress0.wav");
    inst.loadPool(3, noise(24000, 9, 0.3), "params_stress3.wav");
    VeskPlugin* p = inst.plugin;
    VeskPlugin::clapStartProcessing(&p->clapPlugin);
    const params::ParamDef* table = params::table();

    std::atomic<bool> editorDone{false};
    std::thread editor([&] {
        XS64Rand rng{777};
        for (int i = 0; i < 3000; ++i) {
            const uint32_t pool = uint32_t(rng.next() % 8);
            switch (rng.next() % 6) {
            case 0:
                msg::send(p->backend, msg::SetPitch{pool, float(rng.uniform() * 24 - 12), 0.2f,
                                                    (rng.next() & 1) != 0});
                break;
            case 1:
                msg::send(p->backend, msg::SetPoolMute{pool, (rng.next() & 1) != 0});
                break;
            case 2:
                msg::send(p->backend, msg::SetPoolSolo{pool, (rng.next() & 3) == 0});
                break;
            case 3:
                msg::send(p->backend, msg::SetHpf{pool, float(rng.uniform() * 2000)});
                break;
            case 4:
                msg::send(p->backend, msg::SetMasterOutputGain{float(rng.uniform() * -12)});
                break;
            default:
                msg::send(p->backend, msg::Trigger{rng.next()});
                break;
            }
            if (i % 16 == 0)
                std::this_thread::yield();
        }
        editorDone = true;
    });

    std::atomic<bool> audioDone{false};
    std::atomic<uint64_t> gesturesOut{0};
    std::atomic<bool> nonFinite{false};
    std::thread audio([&] {
        XS64Rand rng{4242};
        ParamEvents ev;
        ParamOutput out;
        std::vector<float> l, r;
        for (int block = 0; block < 1500 || !editorDone; ++block) {
            ev.clear();
            if (block % 50 == 0)
                ev.note(0, 60);
            for (uint32_t k = 0; k < 24; ++k) {
                const uint32_t t = k * 10;
                const params::ParamDef& d = table[rng.next() % params::kCount];
                const double span = d.maxValue - d.minValue;
                double v = d.minValue + rng.uniform() * span * 1.4 - 0.2 * span;
                if (k == 7)
                    v = std::nan("");
                const clap_id id = k == 11 ? 4242 : d.id;
                if ((rng.next() & 3) == 0)
                    ev.mod(t, id, (rng.uniform() - 0.5) * span);
                else
                    ev.value(t, id, v);
            }
            l.clear();
            r.clear();
            out.events.clear();
            inst.process(256, l, r, &ev, &out);
            gesturesOut += out.events.size();
            for (float x : l)
                if (!std::isfinite(x))
                    nonFinite = true;
        }
        audioDone = true;
    });

    // This thread is the host's main thread (and the editor's gestures come from it).
    XS64Rand rng{99};
    uint64_t gesturesIn = 0;
    while (!audioDone) {
        VeskPlugin::clapOnMainThread(&p->clapPlugin);
        const params::ParamDef& d = table[rng.next() % params::kCount];
        const double v = inst.value(d.id);
        EXPECT_GE(v, d.minValue);
        EXPECT_LE(v, d.maxValue);
        if (p->paramGestures.begin(d.id))
            ++gesturesIn;
        if (p->paramGestures.value(d.id, v))
            ++gesturesIn;
        if (p->paramGestures.end(d.id))
            ++gesturesIn;
    }
    editor.join();
    audio.join();
    EXPECT_FALSE(nonFinite.load());

    // Every gesture the ring took left through a process call, after one more block.
    std::vector<float> l, r;
    ParamOutput out;
    inst.process(256, l, r, nullptr, &out);
    gesturesOut += out.events.size();
    EXPECT_EQ(gesturesOut.load(), gesturesIn);
    VeskPlugin::clapStopProcessing(&p->clapPlugin);
    for (uint32_t i = 0; i < params::kCount; ++i) {
        const double v = inst.value(table[i].id);
        EXPECT_TRUE(v >= table[i].minValue && v <= table[i].maxValue) << table[i].name;
    }
}

} // namespace
