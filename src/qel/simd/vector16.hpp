// The few operations on 16-byte vectors (SSE2) that the kernels use: loads,
// stores and per-unit comparisons for each of the three string widths.
#pragma once

#include "simd/isa.hpp"

#if QEL_SIMD_SSE2
namespace qel::simd::v16 {

using Vec = __m128i;

/// Units of width C in one vector.
template <class C>
inline constexpr Py_ssize_t lanes = static_cast<Py_ssize_t>(16 / sizeof(C));

inline Vec load(const void* p) { return _mm_loadu_si128(static_cast<const Vec*>(p)); }
inline void store(void* p, Vec v) { _mm_storeu_si128(static_cast<Vec*>(p), v); }
inline Vec either(Vec a, Vec b) { return _mm_or_si128(a, b); }
inline Vec zero() { return _mm_setzero_si128(); }

/// Every unit set to `c`.
template <class C>
inline Vec splat(unsigned c) {
    if constexpr (sizeof(C) == 1) return _mm_set1_epi8(static_cast<char>(c));
    else if constexpr (sizeof(C) == 2) return _mm_set1_epi16(static_cast<short>(c));
    else return _mm_set1_epi32(static_cast<int>(c));
}

/// All bits of each unit set where the units are equal.
template <class C>
inline Vec equal(Vec a, Vec b) {
    if constexpr (sizeof(C) == 1) return _mm_cmpeq_epi8(a, b);
    else if constexpr (sizeof(C) == 2) return _mm_cmpeq_epi16(a, b);
    else return _mm_cmpeq_epi32(a, b);
}

/// All bits of each unit set where the unit is at most `limit` (below 2**15).
template <class C>
inline Vec at_most(Vec v, unsigned limit) {
    if constexpr (sizeof(C) == 1) return _mm_cmpeq_epi8(_mm_subs_epu8(v, splat<C>(limit)), _mm_setzero_si128());
    else if constexpr (sizeof(C) == 2) return _mm_cmpeq_epi16(_mm_subs_epu16(v, splat<C>(limit)), _mm_setzero_si128());
    else return _mm_cmplt_epi32(v, splat<C>(limit + 1));  // code points are below 2**31
}

/// acc + 1 in every unit marked (all bits set) in `marks`.
template <class C>
inline Vec count_marked(Vec acc, Vec marks) {
    if constexpr (sizeof(C) == 1) return _mm_sub_epi8(acc, marks);
    else if constexpr (sizeof(C) == 2) return _mm_sub_epi16(acc, marks);
    else return _mm_sub_epi32(acc, marks);
}

/// How many count_marked calls per unit a counter vector takes before its
/// units could overflow (then it is summed and restarted).
template <class C>
inline constexpr Py_ssize_t counter_capacity = sizeof(C) == 1 ? 255 : sizeof(C) == 2 ? 32767 : 0x3fffffff;

/// The sum of a counter vector's units.
template <class C>
inline Py_ssize_t counter_sum(Vec acc) {
    if constexpr (sizeof(C) == 1) {
        acc = _mm_sad_epu8(acc, _mm_setzero_si128());  // two 64-bit sums
    } else if constexpr (sizeof(C) == 2) {
        acc = _mm_madd_epi16(acc, _mm_set1_epi16(1));  // four 32-bit sums (units stay below 2**15)
    }
    if constexpr (sizeof(C) != 1) {
        acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
        acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
        return static_cast<Py_ssize_t>(static_cast<unsigned>(_mm_cvtsi128_si32(acc)));
    } else {
        acc = _mm_add_epi64(acc, _mm_srli_si128(acc, 8));
        return static_cast<Py_ssize_t>(_mm_cvtsi128_si64(acc));
    }
}

/// One bit per byte of the vector: set where the byte's bits are set.
inline unsigned byte_mask(Vec v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

}  // namespace qel::simd::v16
#endif
