// What the processor offers beyond the build's baseline, for the few hot loops that have a
// second build for wider vector units.
#pragma once

// VESK_PORTABLE_ONLY builds only the portable loops (to test them on an x86-64 machine).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(VESK_PORTABLE_ONLY)
#define VESK_HAS_AVX2_BUILD 1
// Marks a function to be compiled for AVX2 with fused multiply-add; call it only when
// hasAvx2Fma() is true.
#define VESK_TARGET_AVX2 __attribute__((target("avx2,fma")))
// AVX2 without fused multiply-add, for loops that must round exactly as the portable build does.
#define VESK_TARGET_AVX2_NO_FMA __attribute__((target("avx2")))
#else
#define VESK_HAS_AVX2_BUILD 0
#define VESK_TARGET_AVX2
#define VESK_TARGET_AVX2_NO_FMA
#endif

namespace vesk {

// True when the processor runs AVX2 and fused multiply-add instructions.
inline bool hasAvx2Fma()
{
#if VESK_HAS_AVX2_BUILD
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

} // namespace vesk

// The AVX2 build of a hot loop where the processor runs it, else the portable one; for choosing
// once, at load time. The AVX2 name need only exist where VESK_HAS_AVX2_BUILD is 1.
#if VESK_HAS_AVX2_BUILD
#define VESK_CHOOSE_BUILD(avx2, portable) (::vesk::hasAvx2Fma() ? (avx2) : (portable))
#else
#define VESK_CHOOSE_BUILD(avx2, portable) (portable)
#endif
