// 64 characters of any width as 64 bytes, for comparing them with ASCII or
// Latin-1 characters in one AVX-512 vector. Compiled for processors that have
// the instructions and chosen at run time (simd::have_avx512).
#pragma once

#include "text/simd.hpp"

#include <cstdint>

#if QEL_TEXT_AVX2
namespace qel::text::simd512 {

// GCC 12 takes the deliberately undefined vectors inside the narrowing
// intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

/// One vector of units from s. Unless `whole`, only `left` of them exist:
/// those past the end are not read (masked-off units never touch memory) and
/// stand as 255.
template <class C, bool whole>
QEL_AVX512 inline __m512i units_at(const C* s, Py_ssize_t left) {
    constexpr Py_ssize_t lanes = 64 / static_cast<Py_ssize_t>(sizeof(C));
    if (whole || left >= lanes) return _mm512_loadu_si512(s);
    const std::uint64_t mask = left <= 0 ? 0 : (std::uint64_t{1} << left) - 1;
    if constexpr (sizeof(C) == 1) return _mm512_mask_loadu_epi8(_mm512_set1_epi8(-1), mask, s);
    else if constexpr (sizeof(C) == 2) return _mm512_mask_loadu_epi16(_mm512_set1_epi16(255), static_cast<__mmask32>(mask), s);
    else return _mm512_mask_loadu_epi32(_mm512_set1_epi32(255), static_cast<__mmask16>(mask), s);
}

/// 64 characters from s (of which `available` exist unless `whole`) as bytes
/// for the comparisons: each below 255 as itself, each from 255 up as 255
/// (which no pattern unit equals), and those past the text's end as 255.
/// Written without arrays so that every vector stays in a register.
template <class C, bool whole>
QEL_AVX512 inline __m512i narrowed(const C* s, Py_ssize_t available) {
    constexpr Py_ssize_t lanes = 64 / static_cast<Py_ssize_t>(sizeof(C));
    if constexpr (sizeof(C) == 1) {
        return units_at<C, whole>(s, available);
    } else if constexpr (sizeof(C) == 2) {
        // Clamped to 255, packed per 128-bit lane, then the lanes put in order.
        const __m512i top = _mm512_set1_epi16(255);
        const __m512i a = _mm512_min_epu16(units_at<C, whole>(s, available), top);
        const __m512i b = _mm512_min_epu16(units_at<C, whole>(s + lanes, available - lanes), top);
        return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packus_epi16(a, b));
    } else {
        const __m512i top = _mm512_set1_epi32(255);
        const __m512i a = _mm512_min_epu32(units_at<C, whole>(s, available), top);
        const __m512i b = _mm512_min_epu32(units_at<C, whole>(s + lanes, available - lanes), top);
        const __m512i c = _mm512_min_epu32(units_at<C, whole>(s + 2 * lanes, available - 2 * lanes), top);
        const __m512i d = _mm512_min_epu32(units_at<C, whole>(s + 3 * lanes, available - 3 * lanes), top);
        const __m512i packed = _mm512_packus_epi16(_mm512_packus_epi32(a, b), _mm512_packus_epi32(c, d));
        return _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15), packed);
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace qel::text::simd512
#endif
