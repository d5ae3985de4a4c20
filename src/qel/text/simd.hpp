// The few vector operations the text kernels use: 16-byte loads, stores and
// per-unit comparisons for each of the three string widths. Every x86-64
// processor has them (SSE2); elsewhere the kernels use their plain loops.
#pragma once

#include "core/compat.hpp"

#include <bit>
#include <cstdlib>
#include <string_view>

#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define QEL_TEXT_SIMD 1
#else
#define QEL_TEXT_SIMD 0
#endif

#if QEL_TEXT_SIMD
namespace qel::text::simd {

using Vec = __m128i;

/// Units of width C in one vector.
template <class C>
inline constexpr Py_ssize_t lanes = static_cast<Py_ssize_t>(16 / sizeof(C));

inline Vec load(const void* p) { return _mm_loadu_si128(static_cast<const Vec*>(p)); }
inline void store(void* p, Vec v) { _mm_storeu_si128(static_cast<Vec*>(p), v); }
inline Vec either(Vec a, Vec b) { return _mm_or_si128(a, b); }

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

/// The index of the first unit of width C marked in a byte mask (non-zero).
template <class C>
inline Py_ssize_t first_unit(unsigned mask) {
    return static_cast<Py_ssize_t>(std::countr_zero(mask) / sizeof(C));
}

/// The byte mask with the marks of units 0..i (width C) cleared.
template <class C>
inline unsigned clear_through(unsigned mask, Py_ssize_t i) {
    const auto bits = static_cast<unsigned>(i + 1) * sizeof(C);
    return bits >= 32 ? 0u : mask & (~0u << bits);
}

}  // namespace qel::text::simd
#endif

// The same operations on 32-byte vectors (AVX2), compiled for processors that
// have them and chosen at run time. Only GCC and Clang can compile single
// functions for them.
#if QEL_TEXT_SIMD && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QEL_TEXT_AVX2 1
#define QEL_AVX2 __attribute__((target("avx2")))
#define QEL_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,avx512vbmi2")))
#else
#define QEL_TEXT_AVX2 0
#endif

#if QEL_TEXT_AVX2
namespace qel::text::simd {

/// Whether to use the 32-byte vector instructions: the processor has them,
/// and QEL_NO_AVX2 is not set in the environment (which lets the tests run
/// the 16-byte code on any machine).
inline bool have_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2") && std::getenv("QEL_NO_AVX2") == nullptr;
    return yes;
}

/// Whether to use the 64-byte vector instructions with per-unit masks, byte
/// permutations and compression (AVX-512 F, BW, VBMI and VBMI2): the
/// processor has them, and neither QEL_NO_AVX2 nor QEL_NO_AVX512 is set in
/// the environment.
inline bool have_avx512() {
    static const bool yes = have_avx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
                            std::getenv("QEL_NO_AVX512") == nullptr;
    return yes;
}

/// Whether the 64-character kernels move kept four-byte units by compressing
/// whole vectors rather than eight at a time by an order from a table. On
/// Intel's cores every shuffle runs on one port, and a compression moves 16
/// units for two micro-ops where an order takes two (widening it and the
/// permutation) for 8. Elsewhere the order from the table has measured the
/// quicker.
/// QEL_KEPT_UNITS=compressed or =ordered in the environment chooses either
/// way (the tests take both on any machine).
inline bool compress_four_byte_units() {
    static const bool yes = [] {
        const char* chosen = std::getenv("QEL_KEPT_UNITS");
        if (chosen && std::string_view(chosen) == "compressed") return true;
        if (chosen && std::string_view(chosen) == "ordered") return false;
        return __builtin_cpu_is("intel") != 0;
    }();
    return yes;
}

namespace wide {

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

}  // namespace wide
}  // namespace qel::text::simd
#endif
