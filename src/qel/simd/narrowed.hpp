// 64 characters of any width as 64 bytes, for comparing them with ASCII or
// Latin-1 characters in one AVX-512 vector, and 32 as 32 bytes in an AVX2
// one. Compiled for processors that have the instructions and chosen at run
// time (have_avx512, have_avx2).
#pragma once

#include "simd/isa.hpp"

#include <cstdint>

#if QEL_SIMD_AVX
QEL_SIMD_UNDEFINED_VECTORS_BEGIN
namespace qel::simd::v64 {

/// Every one of a stretch's 64 characters.
inline constexpr std::uint64_t every_character = ~std::uint64_t{0};

/// The first `count` characters of a stretch (all of them from 64 on).
inline std::uint64_t first_characters(Py_ssize_t count) {
    return count >= 64 ? every_character : count <= 0 ? 0 : (std::uint64_t{1} << count) - 1;
}

/// The k-th vector of units of the stretch at s, of whose characters only
/// those with their bits set in `present` are read: the others (past the
/// text's end, or before its start) never touch memory and stand as 255.
/// With every character present, as the compiler sees, it is a plain load.
template <class C>
QEL_AVX512 inline __m512i units_of(const C* s, int k, std::uint64_t present) {
    constexpr int lanes = 64 / static_cast<int>(sizeof(C));
    const C* p = s + k * lanes;
    if (present == every_character) return _mm512_loadu_si512(p);
    const std::uint64_t part = lanes == 64 ? present : present >> (k * lanes);
    if constexpr (sizeof(C) == 1) return _mm512_mask_loadu_epi8(_mm512_set1_epi8(-1), part, p);
    else if constexpr (sizeof(C) == 2) return _mm512_mask_loadu_epi16(_mm512_set1_epi16(255), static_cast<__mmask32>(part), p);
    else return _mm512_mask_loadu_epi32(_mm512_set1_epi32(255), static_cast<__mmask16>(part), p);
}

/// The 64 characters of the stretch at s as bytes for the comparisons: each
/// below 255 as itself, each from 255 up as 255 (which no pattern unit
/// equals), and those not `present` (see units_of) as 255. Written without
/// arrays so that every vector stays in a register.
template <class C>
QEL_AVX512 inline __m512i narrowed(const C* s, std::uint64_t present) {
    if constexpr (sizeof(C) == 1) {
        return units_of(s, 0, present);
    } else if constexpr (sizeof(C) == 2) {
        // Clamped to 255, packed per 128-bit lane, then the lanes put in order.
        const __m512i top = _mm512_set1_epi16(255);
        const __m512i a = _mm512_min_epu16(units_of(s, 0, present), top);
        const __m512i b = _mm512_min_epu16(units_of(s, 1, present), top);
        return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packus_epi16(a, b));
    } else {
        const __m512i top = _mm512_set1_epi32(255);
        const __m512i a = _mm512_min_epu32(units_of(s, 0, present), top);
        const __m512i b = _mm512_min_epu32(units_of(s, 1, present), top);
        const __m512i c = _mm512_min_epu32(units_of(s, 2, present), top);
        const __m512i d = _mm512_min_epu32(units_of(s, 3, present), top);
        const __m512i packed = _mm512_packus_epi16(_mm512_packus_epi32(a, b), _mm512_packus_epi32(c, d));
        return _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15), packed);
    }
}

}  // namespace qel::simd::v64
QEL_SIMD_UNDEFINED_VECTORS_END

namespace qel::simd::v32 {

/// The 32 characters at s as bytes, as v64::narrowed has them, with 32-byte
/// vectors (AVX2): each below 255 as itself, each from 255 up as 255.
///
/// Unclamped, the packing's saturation alone narrows them: a character below
/// 256 stays itself, one from 256 to U+7FFF becomes 255, and one from U+8000
/// up becomes 0 (the packs take 16-bit units as signed). Compared with a
/// piece that has no NUL, that finds the same places, a third quicker.
template <class C, bool clamped = true>
QEL_AVX2 inline __m256i narrowed(const C* s) {
    const auto* p = reinterpret_cast<const __m256i*>(s);
    if constexpr (sizeof(C) == 1) {
        return _mm256_loadu_si256(p);
    } else if constexpr (!clamped) {
        if constexpr (sizeof(C) == 2) {
            const __m256i packed = _mm256_packus_epi16(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1));
            return _mm256_permute4x64_epi64(packed, 0xD8);
        } else {
            const __m256i low = _mm256_packus_epi32(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1));
            const __m256i high = _mm256_packus_epi32(_mm256_loadu_si256(p + 2), _mm256_loadu_si256(p + 3));
            return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(low, high), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        }
    } else if constexpr (sizeof(C) == 2) {
        // Clamped to 255, packed per 128-bit lane, then the lanes put in order.
        const __m256i top = _mm256_set1_epi16(255);
        const __m256i a = _mm256_min_epu16(_mm256_loadu_si256(p), top);
        const __m256i b = _mm256_min_epu16(_mm256_loadu_si256(p + 1), top);
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
    } else {
        const __m256i top = _mm256_set1_epi32(255);
        const __m256i a = _mm256_min_epu32(_mm256_loadu_si256(p), top);
        const __m256i b = _mm256_min_epu32(_mm256_loadu_si256(p + 1), top);
        const __m256i c = _mm256_min_epu32(_mm256_loadu_si256(p + 2), top);
        const __m256i d = _mm256_min_epu32(_mm256_loadu_si256(p + 3), top);
        const __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
        return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }
}

}  // namespace qel::simd::v32
#endif
