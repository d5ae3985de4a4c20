// The operations of vector16.hpp on 32-byte vectors (AVX2), compiled for
// processors that have them and chosen at run time (have_avx2).
#pragma once

#include "simd/isa.hpp"

#if QEL_SIMD_AVX
namespace qel::simd::v32 {

using Vec = __m256i;

QEL_AVX2 inline Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const Vec*>(p)); }
QEL_AVX2 inline void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<Vec*>(p), v); }
QEL_AVX2 inline Vec either(Vec a, Vec b) { return _mm256_or_si256(a, b); }
QEL_AVX2 inline unsigned byte_mask(Vec v) { return static_cast<unsigned>(_mm256_movemask_epi8(v)); }

template <class C>
QEL_AVX2 inline Vec splat(unsigned c) {
    if constexpr (sizeof(C) == 1) return _mm256_set1_epi8(static_cast<char>(c));
    else if constexpr (sizeof(C) == 2) return _mm256_set1_epi16(static_cast<short>(c));
    else return _mm256_set1_epi32(static_cast<int>(c));
}

template <class C>
QEL_AVX2 inline Vec equal(Vec a, Vec b) {
    if constexpr (sizeof(C) == 1) return _mm256_cmpeq_epi8(a, b);
    else if constexpr (sizeof(C) == 2) return _mm256_cmpeq_epi16(a, b);
    else return _mm256_cmpeq_epi32(a, b);
}

template <class C>
QEL_AVX2 inline Vec at_most(Vec v, unsigned limit) {
    const Vec zero = _mm256_setzero_si256();
    if constexpr (sizeof(C) == 1) return _mm256_cmpeq_epi8(_mm256_subs_epu8(v, splat<C>(limit)), zero);
    else if constexpr (sizeof(C) == 2) return _mm256_cmpeq_epi16(_mm256_subs_epu16(v, splat<C>(limit)), zero);
    else return _mm256_cmpgt_epi32(splat<C>(limit + 1), v);  // code points are below 2**31
}

}  // namespace qel::simd::v32
#endif
