// Small vectors of floats as single values, for the hot loops that are written once and built
// both for the baseline vector unit and for AVX2 (see CpuFeatures.h). The compiler maps the
// arithmetic onto whatever registers the calling function is compiled for.
//
// Vector values are passed by reference: these helpers are inlined into functions built for
// different vector units, and a by-value vector would have a different calling convention in each.
#pragma once

#include <cstring>

namespace vesk::vec {

using Float4 = float __attribute__((vector_size(16)));
using Float8 = float __attribute__((vector_size(32)));

template <class V> constexpr int kWidthOf = int(sizeof(V) / sizeof(float));

template <class V, class T> [[gnu::always_inline]] inline void load(V& v, const T* p)
{
    std::memcpy(&v, p, sizeof v);
}

template <class V, class T> [[gnu::always_inline]] inline void store(T* p, const V& v)
{
    std::memcpy(p, &v, sizeof v);
}

template <class V> [[gnu::always_inline]] inline void splat(V& v, float x)
{
    for (int c = 0; c < kWidthOf<V>; ++c)
        v[c] = x;
}

} // namespace vesk::vec
