// Disperser: up to 32 second-order all-pass stages (state-variable form) per channel, smearing
// the phase around 30..600 Hz, optionally spread over +-2.5 octaves and driven into tanh.
//
// A sample has to pass the stages one after another, and each stage's state follows on from the
// previous sample, so a plain loop waits on one multiply-add after another. The stages therefore
// run as a skewed pipeline: four stages share one vector, and at each step stage i works on
// sample t - i, taking its input from stage i - 1's output of the step before. Every stage does
// exactly the arithmetic of the plain loop on exactly the same values, so the output is the same
// to the bit; only the order in which independent work is done changes.
#include "engine/CpuFeatures.h"
#include "fx/FXKnobs.h"
#include "fx/FXModuleSupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vesk::DisperserFX {

namespace {

constexpr int kMaxStages = 32;
constexpr int kLanes = 4; // stages per vector
constexpr int kGroups = kMaxStages / kLanes;
constexpr int kChunk = 512; // frames per pass through the pipeline

// The coefficients of a chunk. While the knobs glide, g and k move every sample and the stage
// coefficients are worked out per stage and sample from them, exactly as the plain loop would;
// once settled they are fixed per stage.
struct Coefficients
{
    bool steady;
    double mult[kMaxStages]; // spread factor per stage
    // Steady: per stage.
    double gi[kMaxStages], h[kMaxStages], a[kMaxStages], p[kMaxStages];
    double fourK;
    // Gliding: g and k of each sample of the chunk, at index n + kMaxStages; the entries around
    // them are only read by lanes that are masked off.
    double g[kChunk + 2 * kMaxStages];
    double k[kChunk + 2 * kMaxStages];
};

struct Impl
{
    double rate = 48000.0;
    float s1[2][kMaxStages] = {}; // per channel, per stage
    float s2[2][kMaxStages] = {};
    double g = 0.0;       // frequency coefficient, smoothed
    double k = 0.0;       // damping, smoothed
    double smoothing = 0; // per-sample coefficient (5 ms)
    double mult[kMaxStages] = {};
    float cachedSpread = -1.0f;
    int cachedStages = -1;
    Coefficients coefficients{};
    double chunk[2][kChunk] = {}; // the samples passing through the stages, per channel
    unsigned passPos = 0;         // frames of the current pass of kChunk already processed
};

struct State
{
    Impl* impl;
};

double usableRate(double rate)
{
    return rate >= 1.0 && std::isfinite(rate) ? rate : 48000.0;
}

void clear(Impl& m)
{
    std::fill(&m.s1[0][0], &m.s1[0][0] + 2 * kMaxStages, 0.0f);
    std::fill(&m.s2[0][0], &m.s2[0][0] + 2 * kMaxStages, 0.0f);
    m.g = 0.0;
    m.k = 0.0;
    std::fill(m.mult, m.mult + kMaxStages, 1.0);
    m.cachedSpread = -1.0f;
    m.cachedStages = -1;
    m.passPos = 0;
}

void setRate(Impl& m, double rate)
{
    m.rate = usableRate(rate);
    m.smoothing = 1.0 - std::exp(-1.0 / (0.005 * m.rate));
    clear(m);
}

void construct(void* block, double rate)
{
    State& s = fxsupport::createState<State>(block);
    s.impl = new Impl;
    setRate(*s.impl, rate);
}

void destroy(void* block)
{
    State& s = fxsupport::stateOf<State>(block);
    delete s.impl;
    s.impl = nullptr;
}

void reset(void* block)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        clear(*m);
}

void setSampleRate(void* block, double rate)
{
    if (Impl* m = fxsupport::stateOf<State>(block).impl)
        setRate(*m, rate);
}

// Four doubles as one value; the compiler maps the arithmetic onto the vector unit each kernel is
// built for (two SSE2 or NEON registers, or one AVX register).
using Double4 = double __attribute__((vector_size(32)));
using Float4 = float __attribute__((vector_size(16)));
using Mask4 = long long __attribute__((vector_size(32)));

// Passed by reference: these helpers are inlined into kernels built for different vector units,
// where a vector returned by value would have a different calling convention in each.
[[gnu::always_inline]] inline void load(Double4& v, const double* p)
{
    __builtin_memcpy(&v, p, sizeof v);
}

// The pipeline's working set for one chunk: the stage states and last outputs per channel and
// group of four stages, and the coefficients.
struct Pipeline
{
    const Coefficients& co;
    double (*v)[kChunk]; // in: the chunk's samples; out: the last stage's output
    int frames;
    int stages;
    int last; // the last group in use
    Double4 s1[2][kGroups], s2[2][kGroups], out[2][kGroups];
    Double4 gi[kGroups], twoGi[kGroups], h[kGroups], a[kGroups], p[kGroups], mult[kGroups];
    Double4 lane[kGroups]; // stage numbers
};

// One step: stage i works on sample t - i. While the pipeline fills and drains (Masked), lanes
// whose sample lies outside the chunk or whose stage is not in use are left alone. In between,
// every stage in use has a sample; lanes past the last stage in use run on, but only feed lanes
// after them, and their state is put back at the end.
template <bool Masked, bool Gliding> [[gnu::always_inline]] inline void step(Pipeline& q, int t)
{
    const Coefficients& co = q.co;
    const Double4 zero = {};
    const Double4 tiny = Double4{} + 1e-20;
    const Double4 now = Double4{} + double(t);
    const Double4 first = Double4{} + double(t - q.frames);
    const Double4 lastStage = Double4{} + double(q.stages - 1);
    // Last group first: each group takes the previous group's output of the step before.
    for (int j = q.last; j >= 0; --j) {
        Double4 cgi = q.gi[j], c2gi = q.twoGi[j], ch = q.h[j], ca = q.a[j], cp = q.p[j];
        Double4 fourK = Double4{} + co.fourK;
        if constexpr (Gliding) {
            // g and k of samples t - 4j .. t - 4j - 3, lane by lane.
            const int at = t - j * kLanes - (kLanes - 1) + kMaxStages;
            Double4 gr, kr;
            load(gr, co.g + at);
            load(kr, co.k + at);
            const Double4 g = __builtin_shufflevector(gr, gr, 3, 2, 1, 0);
            const Double4 k = __builtin_shufflevector(kr, kr, 3, 2, 1, 0);
            cgi = g * q.mult[j];
            c2gi = 2.0 * cgi;
            ch = 1.0 / (cgi * cgi + 2.0 * k * cgi + 1.0);
            ca = cgi * ch;
            cp = 1.0 - 4.0 * k * ca;
            fourK = 4.0 * k;
        }
        for (int c = 0; c < 2; ++c) {
            // Input: the previous stage's output of the last step, one lane along.
            const double entering =
                j == 0 ? (t < q.frames ? q.v[c][t] : 0.0) : q.out[c][j - 1][kLanes - 1];
            const Double4 in =
                __builtin_shufflevector(q.out[c][j], Double4{} + entering, 4, 0, 1, 2);
            Double4& s1 = q.s1[c][j];
            Double4& s2 = q.s2[c][j];
            const Double4 rest = (s1 - cgi * s2) * ch;
            const Double4 bp = ca * in + rest;
            const Double4 o = cp * in - fourK * rest;
            const Double4 n1 = 2.0 * bp - s1;
            const Double4 n2 = s2 + c2gi * bp;
            // Stored as float, and values below 1e-20 as 0, as the state is kept.
            const Mask4 small1 = (n1 < tiny) & (n1 > -tiny);
            const Mask4 small2 = (n2 < tiny) & (n2 > -tiny);
            const Double4 r1 =
                __builtin_convertvector(__builtin_convertvector(n1, Float4), Double4);
            const Double4 r2 =
                __builtin_convertvector(__builtin_convertvector(n2, Float4), Double4);
            if constexpr (Masked) {
                const Mask4 valid =
                    (q.lane[j] <= now) & (q.lane[j] > first) & (q.lane[j] <= lastStage);
                s1 = valid ? (small1 ? zero : r1) : s1;
                s2 = valid ? (small2 ? zero : r2) : s2;
                q.out[c][j] = valid ? o : in;
            } else {
                s1 = small1 ? zero : r1;
                s2 = small2 ? zero : r2;
                q.out[c][j] = o;
            }
        }
    }
    // The last stage in use finished sample t - (stages - 1).
    const int done = t - (q.stages - 1);
    if (done >= 0) {
        const int l = (q.stages - 1) % kLanes;
        q.v[0][done] = q.out[0][q.last][l];
        q.v[1][done] = q.out[1][q.last][l];
    }
}

template <bool Gliding> [[gnu::always_inline]] inline void runSteps(Pipeline& q)
{
    const int filled = std::min(q.stages - 1, q.frames);
    const int steps = q.frames + q.stages - 1;
    int t = 0;
    for (; t < filled; ++t)
        step<true, Gliding>(q, t);
    for (; t < q.frames; ++t)
        step<false, Gliding>(q, t);
    for (; t < steps; ++t)
        step<true, Gliding>(q, t);
}

// Runs `frames` samples of both channels (as doubles in v[c][n], replaced by the output of the
// last stage) through `stages` stages.
[[gnu::always_inline]] inline void runPipeline(Impl& m, const Coefficients& co, int stages,
                                               double (*v)[kChunk], int frames)
{
    const int groups = (stages + kLanes - 1) / kLanes;
    Pipeline q{co, v, frames, stages, groups - 1, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
    for (int j = 0; j < groups; ++j) {
        for (int c = 0; c < 2; ++c) {
            Float4 f1, f2;
            __builtin_memcpy(&f1, &m.s1[c][j * kLanes], sizeof f1);
            __builtin_memcpy(&f2, &m.s2[c][j * kLanes], sizeof f2);
            q.s1[c][j] = __builtin_convertvector(f1, Double4);
            q.s2[c][j] = __builtin_convertvector(f2, Double4);
        }
        load(q.gi[j], co.gi + j * kLanes);
        q.twoGi[j] = 2.0 * q.gi[j];
        load(q.h[j], co.h + j * kLanes);
        load(q.a[j], co.a + j * kLanes);
        load(q.p[j], co.p + j * kLanes);
        load(q.mult[j], co.mult + j * kLanes);
        for (int l = 0; l < kLanes; ++l)
            q.lane[j][l] = double(j * kLanes + l);
    }
    // Lanes past the last stage in use keep their state: it is put back after the chunk.
    const int last = q.last;
    const Double4 keep1[2] = {q.s1[0][last], q.s1[1][last]};
    const Double4 keep2[2] = {q.s2[0][last], q.s2[1][last]};

    if (co.steady)
        runSteps<false>(q);
    else
        runSteps<true>(q);

    const Mask4 inUse = q.lane[last] <= Double4{} + double(stages - 1);
    for (int c = 0; c < 2; ++c) {
        q.s1[c][last] = inUse ? q.s1[c][last] : keep1[c];
        q.s2[c][last] = inUse ? q.s2[c][last] : keep2[c];
    }
    for (int j = 0; j < groups; ++j) {
        for (int c = 0; c < 2; ++c) {
            const Float4 f1 = __builtin_convertvector(q.s1[c][j], Float4);
            const Float4 f2 = __builtin_convertvector(q.s2[c][j], Float4);
            __builtin_memcpy(&m.s1[c][j * kLanes], &f1, sizeof f1);
            __builtin_memcpy(&m.s2[c][j * kLanes], &f2, sizeof f2);
        }
    }
}

using PipelineFn = void (*)(Impl&, const Coefficients&, int, double (*)[kChunk], int);

void pipelinePortable(Impl& m, const Coefficients& co, int stages, double (*v)[kChunk], int frames)
{
    runPipeline(m, co, stages, v, frames);
}

#if VESK_HAS_AVX2_BUILD
// Without fused multiply-add, so it rounds exactly as the portable build.
VESK_TARGET_AVX2_NO_FMA void pipelineAvx2(Impl& m, const Coefficients& co, int stages,
                                          double (*v)[kChunk], int frames)
{
    runPipeline(m, co, stages, v, frames);
}
#endif

const PipelineFn kPipeline = VESK_CHOOSE_BUILD(pipelineAvx2, pipelinePortable);

void process(float* left, float* right, unsigned frames, const float* params, void* block, double)
{
    Impl* m = fxsupport::stateOf<State>(block).impl;
    if (m == nullptr)
        return;
    const int stages = static_cast<int>(std::lround(fxsupport::clamp01(params[2]) * kMaxStages));
    if (stages == 0)
        return;
    const double rate = m->rate;
    const double fc = 30.0 * std::pow(20.0, double(fxsupport::clamp01(params[0])));
    const double gTarget =
        fc >= 10.0 ? std::tan(std::numbers::pi * std::min(0.5 * rate - 100.0, fc) / rate)
                   : std::tan(10.0 * std::numbers::pi / rate);
    const double q = fxsupport::clamp01(params[3]);
    const double quality = std::max(0.5 + 7.5 * q * q * q, 0.1);
    const double kTarget = 1.0 / (2.0 * quality);
    const float spread = fxsupport::clamp01(params[1]);
    const bool spreading = spread > 0.001f;
    if (spread != m->cachedSpread || stages != m->cachedStages) {
        for (int i = 0; i < stages; ++i) {
            m->mult[i] = (spreading && stages != 1)
                             ? std::exp2(2.5 * spread * (2.0 * i / (stages - 1) - 1.0))
                             : 1.0;
        }
        m->cachedSpread = spread;
        m->cachedStages = stages;
    }
    const float driveKnob = fxsupport::clamp01(params[4]);
    const bool driving = driveKnob > 0.001f;
    const double drive = 1.0 + 9.0 * driveKnob * driveKnob;
    const double sm = m->smoothing;

    // Per stage: the frequency coefficient gi and, with h = 1 / (gi^2 + 2 k gi + 1), the band-pass
    // as bp = a v + (s1 - gi s2) h with a = gi h, and the output v - 4 k bp = p v - 4 k (s1 - gi
    // s2) h with p = 1 - 4 k a.
    Coefficients& co = m->coefficients;
    std::copy(m->mult, m->mult + kMaxStages, co.mult);
    // Once the smoothing is within rounding of its targets they are taken as reached, and the
    // coefficients hold from then on. That is decided at the start of each pass of kChunk frames,
    // counted from the module's first frame, so blocks of any size give the same sound.
    const auto settle = [](double& value, double target) {
        if (std::abs(target - value) <= 1e-12 * std::abs(target))
            value = target;
    };
    float* io[2] = {left, right};
    double(*v)[kChunk] = m->chunk;
    for (unsigned start = 0; start < frames;) {
        if (m->passPos == 0) {
            settle(m->g, gTarget);
            settle(m->k, kTarget);
        }
        co.steady = m->g == gTarget && m->k == kTarget;
        if (co.steady) {
            for (int i = 0; i < kMaxStages; ++i) {
                co.gi[i] = gTarget * co.mult[i];
                co.h[i] = 1.0 / (co.gi[i] * co.gi[i] + 2.0 * kTarget * co.gi[i] + 1.0);
                co.a[i] = co.gi[i] * co.h[i];
                co.p[i] = 1.0 - 4.0 * kTarget * co.a[i];
            }
            co.fourK = 4.0 * kTarget;
        }
        const int n = static_cast<int>(std::min<unsigned>(kChunk - m->passPos, frames - start));
        if (!co.steady) {
            for (int i = 0; i < n; ++i) {
                m->g += (gTarget - m->g) * sm;
                m->k += (kTarget - m->k) * sm;
                co.g[i + kMaxStages] = m->g;
                co.k[i + kMaxStages] = m->k;
            }
        }
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                v[c][i] = io[c][start + i];
        kPipeline(*m, co, stages, v, n);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                io[c][start + i] =
                    static_cast<float>(driving ? std::tanh(drive * v[c][i]) : v[c][i]);
        start += unsigned(n);
        m->passPos = (m->passPos + unsigned(n)) % kChunk;
    }
}

} // namespace

extern const FXModuleVTable kVTable = {sizeof(State), construct,     destroy,
                                       reset,         setSampleRate, process};

} // namespace vesk::DisperserFX
