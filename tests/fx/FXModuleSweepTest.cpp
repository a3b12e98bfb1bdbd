// Every implemented module of the registry, at three rates, with every knob at its minimum,
// default and maximum, on noise, a saw, silence, very loud and denormal input: the output stays
// finite and bounded, process never allocates, and silence in gives silence out once the module's
// history is gone (fresh, or after reset). Modules added to the registry later are included
// automatically.
#include "fx/FXModule.h"
#include "support/AllocCounter.h"
#include "support/Signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <vector>

namespace vesk {
namespace {

enum class Knobs
{
    Minimum,
    Default,
    Maximum,
};

enum class Input
{
    Noise,
    Saw,
    Silence,
    VeryLoud,
    Denormal,
};

struct SweepCase
{
    uint32_t type;
    double rate;
};

void PrintTo(const SweepCase& c, std::ostream* os)
{
    *os << getFXModuleInfo(c.type)->name << " at " << c.rate << " Hz";
}

std::vector<SweepCase> implementedCases()
{
    std::vector<SweepCase> cases;
    for (const FXModuleInfo& info : detail::kRegistry) {
        if (info.vtable == nullptr) {
            continue;
        }
        for (double rate : {44100.0, 48000.0, 96000.0}) {
            cases.push_back({static_cast<uint32_t>(info.type), rate});
        }
    }
    return cases;
}

std::string caseName(const testing::TestParamInfo<SweepCase>& p)
{
    std::string name = getFXModuleInfo(p.param.type)->name;
    name.erase(std::remove_if(name.begin(), name.end(),
                              [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }),
               name.end());
    return name + "_" + std::to_string(static_cast<int>(p.param.rate));
}

// One module instance in a block of the same shape the lane gives it.
class Instance
{
public:
    Instance(const FXModuleVTable& vt, double rate) : vt_(vt), rate_(rate)
    {
        block_ = ::operator new (static_cast<size_t>(vt.stateSize), std::align_val_t{64});
        std::memset(block_, 0, static_cast<size_t>(vt.stateSize));
        vt_.construct(block_, rate);
    }
    ~Instance()
    {
        vt_.destroy(block_);
        ::operator delete (block_, std::align_val_t{64});
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    void process(float* l, float* r, unsigned n, const float* params)
    {
        vt_.process(l, r, n, params, block_, rate_);
    }
    void reset() { vt_.reset(block_); }

private:
    const FXModuleVTable& vt_;
    double rate_;
    void* block_ = nullptr;
};

std::vector<float> makeInput(Input kind, size_t frames, double rate, uint64_t seed)
{
    switch (kind) {
    case Input::Noise:
        return test::noise(frames, seed, 1.0);
    case Input::Saw: {
        std::vector<float> x(frames);
        const double step = 110.0 / rate;
        double phase = 0.0;
        for (float& v : x) {
            v = static_cast<float>(2.0 * phase - 1.0);
            phase += step;
            phase -= std::floor(phase);
        }
        return x;
    }
    case Input::Silence:
        return std::vector<float>(frames, 0.0f);
    case Input::VeryLoud:
        return test::noise(frames, seed, 100.0);
    case Input::Denormal: {
        std::vector<float> x = test::noise(frames, seed, 1.0);
        for (float& v : x) {
            v *= 1e-39f; // below the smallest normal float
        }
        return x;
    }
    }
    return {};
}

void knobValues(const FXModuleInfo& info, Knobs k, float* params)
{
    std::fill(params, params + kMaxFXParams, 0.0f);
    for (uint32_t i = 0; i < info.paramCount; ++i) {
        params[i] = k == Knobs::Minimum   ? info.paramMin[i]
                    : k == Knobs::Maximum ? info.paramMax[i]
                                          : info.paramDefaults[i];
    }
}

constexpr unsigned kBlock = 512;
constexpr size_t kFrames = 4 * kBlock;
// Silence out (-100 dBFS): above the dither and denormal-guard noise some modules add (about
// -146 dBFS, lifted by at most a few tens of dB by their gains), far below anything audible.
constexpr double kSilence = 1e-5;

// Runs the input through in blocks; returns the output peak and whether everything was finite.
struct RunResult
{
    double peak = 0.0;
    bool finite = true;
    uint64_t allocations = 0;
};

RunResult run(Instance& fx, const std::vector<float>& inL, const std::vector<float>& inR,
              const float* params)
{
    std::vector<float> l = inL;
    std::vector<float> r = inR;
    test::AllocCounts counts;
    for (size_t a = 0; a < l.size(); a += kBlock) {
        const unsigned n = static_cast<unsigned>(std::min<size_t>(kBlock, l.size() - a));
        test::ScopedAllocCount scope(counts);
        fx.process(l.data() + a, r.data() + a, n, params);
    }
    RunResult result;
    result.allocations = counts.total();
    for (size_t i = 0; i < l.size(); ++i) {
        result.finite = result.finite && std::isfinite(l[i]) && std::isfinite(r[i]);
        result.peak = std::max({result.peak, double(std::fabs(l[i])), double(std::fabs(r[i]))});
    }
    return result;
}

class FXModuleSweep : public testing::TestWithParam<SweepCase>
{};

TEST_P(FXModuleSweep, FiniteBoundedAndQuiet)
{
    const FXModuleInfo& info = *getFXModuleInfo(GetParam().type);
    const double rate = GetParam().rate;
    float params[kMaxFXParams];
    for (Knobs k : {Knobs::Minimum, Knobs::Default, Knobs::Maximum}) {
        knobValues(info, k, params);
        SCOPED_TRACE("knobs " + std::to_string(static_cast<int>(k)));
        Instance fx(*info.vtable, rate);

        // A fresh instance fed silence stays silent.
        const std::vector<float> silent(kFrames, 0.0f);
        const RunResult quiet = run(fx, silent, silent, params);
        EXPECT_TRUE(quiet.finite);
        EXPECT_LT(quiet.peak, kSilence);

        double loudest = 1.0; // the state may still carry an earlier, louder input
        for (Input in :
             {Input::Noise, Input::Saw, Input::Silence, Input::VeryLoud, Input::Denormal}) {
            SCOPED_TRACE("input " + std::to_string(static_cast<int>(in)));
            const std::vector<float> l = makeInput(in, kFrames, rate, 11);
            const std::vector<float> r = makeInput(in, kFrames, rate, 12);
            loudest = std::max({loudest, test::peak(l), test::peak(r)});
            const RunResult out = run(fx, l, r, params);
            EXPECT_TRUE(out.finite);
            // Generous: the strongest boosts (Air at full is about +27 dB on noise at 96 kHz,
            // +24 dB EQ bands) stay well below this; an unstable module does not.
            EXPECT_LE(out.peak, 100.0 * loudest);
            EXPECT_EQ(out.allocations, 0u);
        }

        // Once the history is cleared, silence in gives silence out.
        {
            test::AllocCounts counts;
            test::ScopedAllocCount scope(counts);
            fx.reset();
        }
        const RunResult after = run(fx, silent, silent, params);
        EXPECT_TRUE(after.finite);
        EXPECT_LT(after.peak, kSilence);
    }
}

TEST_P(FXModuleSweep, EachKnobAloneAtItsEnds)
{
    const FXModuleInfo& info = *getFXModuleInfo(GetParam().type);
    const double rate = GetParam().rate;
    const std::vector<float> l = makeInput(Input::Noise, kFrames, rate, 21);
    const std::vector<float> r = makeInput(Input::Saw, kFrames, rate, 22);
    float params[kMaxFXParams];
    for (uint32_t knob = 0; knob < info.paramCount; ++knob) {
        for (bool high : {false, true}) {
            knobValues(info, Knobs::Default, params);
            params[knob] = high ? info.paramMax[knob] : info.paramMin[knob];
            SCOPED_TRACE(std::string(info.paramNames[knob]) + (high ? " max" : " min"));
            Instance fx(*info.vtable, rate);
            const RunResult out = run(fx, l, r, params);
            EXPECT_TRUE(out.finite);
            EXPECT_LE(out.peak, 100.0);
        }
    }
}

// With knobs that stay where they are, a module gives the same bits whatever the blocks it is
// processed in, so an offline bounce repeats at any host block size.
TEST(FXModuleBlocks, TheSameBitsInBlocksOfAnySize)
{
    constexpr double kRate = 48000.0;
    constexpr size_t kLength = 16384;
    std::vector<float> l = test::noise(kLength, 31, 0.5);
    std::vector<float> r = test::noise(kLength, 32, 0.5);
    for (size_t i = kLength / 2; i < kLength; ++i) {
        l[i] = r[i] = 0.0f; // and the tail after it
    }
    auto render = [&](const FXModuleInfo& info, const float* params, unsigned block) {
        Instance fx(*info.vtable, kRate);
        std::vector<float> outL = l;
        std::vector<float> outR = r;
        for (size_t a = 0; a < kLength; a += block) {
            const unsigned n = static_cast<unsigned>(std::min<size_t>(block, kLength - a));
            fx.process(outL.data() + a, outR.data() + a, n, params);
        }
        outL.insert(outL.end(), outR.begin(), outR.end());
        return outL;
    };
    for (const FXModuleInfo& info : detail::kRegistry) {
        if (info.vtable == nullptr) {
            continue;
        }
        float params[kMaxFXParams];
        for (float at : {-1.0f, 0.3f, 0.8f}) { // the defaults, then 30 % and 80 % of each range
            knobValues(info, Knobs::Default, params);
            if (at >= 0.0f) {
                for (uint32_t k = 0; k < info.paramCount; ++k) {
                    params[k] = info.paramMin[k] + at * (info.paramMax[k] - info.paramMin[k]);
                }
            }
            const std::vector<float> reference = render(info, params, 512);
            for (unsigned block : {1u, 33u, 64u, 100u, 4096u}) {
                const std::vector<float> out = render(info, params, block);
                size_t first = out.size();
                for (size_t i = 0; i < out.size() && first == out.size(); ++i) {
                    if (std::memcmp(&out[i], &reference[i], sizeof(float)) != 0) {
                        first = i;
                    }
                }
                EXPECT_EQ(first, out.size())
                    << info.name << " with knobs at " << at << ", blocks of " << block
                    << ": first difference at frame " << first % kLength;
            }
        }
    }
}

// Pitch rests after a long silence and follows a formant shift's level with a slow gain: both
// happen at the same frames whatever the blocks, here through a rest and back.
TEST(FXModuleBlocks, PitchRestsAndMatchesLevelsAtTheSameFramesInAnyBlocks)
{
    constexpr double kRate = 48000.0;
    constexpr size_t kSound = 12000;
    constexpr size_t kGap = 14400; // 0.3 s: longer than the silence that puts the shifter to rest
    constexpr size_t kLength = 2 * kSound + kGap + 6000;
    std::vector<float> l = test::noise(kLength, 41, 0.5);
    std::vector<float> r = test::noise(kLength, 42, 0.5);
    for (size_t i = kSound; i < kSound + kGap; ++i) {
        l[i] = r[i] = 0.0f;
    }
    for (size_t i = 2 * kSound + kGap; i < kLength; ++i) {
        l[i] = r[i] = 0.0f;
    }
    const FXModuleInfo& info = *getFXModuleInfo(FXType::Pitch);
    auto render = [&](unsigned block) {
        const float params[kMaxFXParams] = {7.0f, -5.0f, 0.8f};
        Instance fx(*info.vtable, kRate);
        std::vector<float> outL = l;
        std::vector<float> outR = r;
        for (size_t a = 0; a < kLength; a += block) {
            const unsigned n = static_cast<unsigned>(std::min<size_t>(block, kLength - a));
            fx.process(outL.data() + a, outR.data() + a, n, params);
        }
        outL.insert(outL.end(), outR.begin(), outR.end());
        return outL;
    };
    const std::vector<float> reference = render(512);
    double energy = 0.0;
    for (size_t i = kSound + kGap; i < 2 * kSound + kGap; ++i) {
        energy += double(reference[i]) * reference[i];
    }
    EXPECT_GT(energy, 1.0) << "the sound after the rest comes through";
    for (unsigned block : {1u, 37u, 256u, 4096u}) {
        EXPECT_TRUE(std::memcmp(render(block).data(), reference.data(),
                                reference.size() * sizeof(float)) == 0)
            << "blocks of " << block;
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, FXModuleSweep, testing::ValuesIn(implementedCases()), caseName);

} // namespace
} // namespace vesk
