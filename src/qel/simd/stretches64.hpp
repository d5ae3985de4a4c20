// Taking characters out of a text 64 at a time (AVX-512): the loop over
// stretches of 64 characters that a matcher marks occurrences in, and what
// the matchers share.
#pragma once

#include "simd/isa.hpp"
#include "simd/kept_stores.hpp"
#include "simd/narrowed.hpp"
#include "simd/progress.hpp"

#include <bit>
#include <cstdint>

#if QEL_SIMD_AVX
QEL_SIMD_UNDEFINED_VECTORS_BEGIN
namespace qel::simd::v64 {

/// The byte permutation that takes the 64 characters from the k-th of a
/// stretch on out of it and the next (with _mm512_permutex2var_epi8), k
/// below 64.
QEL_AVX512 inline __m512i from_kth_on(int k) {
    const __m512i ascending = _mm512_set_epi8(
        63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34,
        33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    return _mm512_add_epi8(ascending, _mm512_set1_epi8(static_cast<char>(k)));
}

/// The kept characters of s[i:n] from `start` on, packed together at
/// start.w, looking at stretches of 64 characters without a branch per
/// occurrence. `match` finds where occurrences start, `match.length`
/// characters each, which can't overlap one another.
///
/// `match.starts(current, next)` gives bit j set where an occurrence starts
/// at character j of the stretch whose characters `current` holds (as
/// narrowed gives them), `next` holding the stretch after it;
/// `match.kept(keep)` then hears which of that stretch's characters stay.
/// The characters an occurrence covers are its start bits times
/// 2**length - 1 (the high half carried into the next stretch where an
/// occurrence runs past it).
///
/// Stretches are taken in runs of 16: first every stretch's mask of kept
/// characters, then the run's stores. Done stretch by stretch, each store
/// would wait for the whole chain of comparisons before it, and the loads of
/// the next stretches would queue behind it.
///
/// Stops at a stretch boundary `i` when fewer than 64 characters remain or,
/// when `counted`, when the next stretch would pass `limit` removals; `carry`
/// then marks the characters from `i` on that the last occurrence still
/// covers. Without `counted` every occurrence is removed and `removed` is
/// left as it came.
template <class C, bool counted, class Match>
QEL_AVX512 inline Progress<C> take_out(const C* s, Py_ssize_t n, Match& match, Py_ssize_t limit, Progress<C> start) {
    constexpr int run = 16;
    const std::uint64_t span = (std::uint64_t{1} << match.length) - 1;
    const bool ordered = sizeof(C) == 4 && !compress_four_byte_units();
    // Taken and returned by value: behind references the vector stores
    // could alias them, and every stretch would wait for them to be read
    // back from memory.
    auto [i, removed, w, carry] = start;
    // Stretches from a 64-byte boundary on, so that no load of the text spans
    // two cache lines (worth about 5% on four-byte text, whose storage may be
    // aligned to 16 bytes only): the first from the boundary before `i`, with
    // the characters before `i` neither read nor kept.
    if (const auto skew = static_cast<Py_ssize_t>(reinterpret_cast<std::uintptr_t>(s + i) % 64 / sizeof(C));
        skew != 0 && carry == 0 && i - skew + 128 <= n) {
        const C* first = s + i - skew;
        const std::uint64_t present = every_character << skew;
        const std::uint64_t starts = match.starts(narrowed(first, present), narrowed(first + 64, every_character));
        if constexpr (counted) {
            const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
            if (here > limit - removed) return start;  // left to the caller, one occurrence at a time
            removed += here;
        }
        const unsigned __int128 covered = static_cast<unsigned __int128>(starts) * span;
        const std::uint64_t keep = ~static_cast<std::uint64_t>(covered) & present;
        match.kept(keep);
        w = store_kept<C, true>(first, keep, w);
        carry = static_cast<std::uint64_t>(covered >> 64);
        i += 64 - skew;
    }
    std::uint64_t keeps[run];
    while (i + 64 <= n) {
        int stretches = 0;
        Py_ssize_t found = 0;
        __m512i current = narrowed(s + i, first_characters(n - i));
        for (Py_ssize_t at = i; stretches < run && at + 64 <= n; ++stretches, at += 64) {
            const __m512i next = at + 128 <= n ? narrowed(s + at + 64, every_character)
                                               : narrowed(s + at + 64, first_characters(n - at - 64));
            const std::uint64_t starts = match.starts(current, next);
            if constexpr (counted) {
                const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
                if (here > limit - removed - found) break;
                found += here;
            }
            const unsigned __int128 covered = static_cast<unsigned __int128>(starts) * span;
            keeps[stretches] = ~(static_cast<std::uint64_t>(covered) | carry);
            match.kept(keeps[stretches]);
            carry = static_cast<std::uint64_t>(covered >> 64);
            current = next;
        }
        if (ordered) {
            for (int t = 0; t < stretches; ++t) w = store_kept(s + i + t * 64, keeps[t], w, true);
        } else {
            for (int t = 0; t < stretches; ++t) w = store_kept(s + i + t * 64, keeps[t], w);
        }
        i += stretches * 64;
        removed += found;
        if (stretches < run) break;  // at the end, or at the limit
    }
    return {i, removed, w, carry};
}

}  // namespace qel::simd::v64
QEL_SIMD_UNDEFINED_VECTORS_END
#endif
