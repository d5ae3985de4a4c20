// Taking characters out of a text 64 at a time (AVX-512): the loop over
// stretches of 64 characters that a matcher marks occurrences in, and the
// stores that pack the kept characters together. Also the stores of 8 units
// that the 32-character (AVX2) loop shares.
#pragma once

#include "text/narrow512.hpp"
#include "text/simd.hpp"

#include <bit>
#include <cstdint>

#if QEL_TEXT_AVX2
namespace qel::text::take {

/// How far a vector kernel got: the next character `i` to look at, the
/// occurrences removed before it, where the output goes on (`w`), and the
/// characters from `i` on that the last occurrence still covers (`carry`,
/// one bit each).
template <class C>
struct Progress {
    Py_ssize_t i;
    Py_ssize_t removed;
    C* w;
    std::uint64_t carry;
};

// GCC 12 takes the deliberately undefined vectors inside the narrowing
// (inlined here) and compressing intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

/// For each mask of 8 four-byte units, the order that moves the units whose
/// bits are set to the front, a byte per unit: widened as it is loaded, by an
/// instruction that takes its address as the mask times 8 with no shift of
/// its own, and a quarter of the cache lines.
struct KeptOrders {
    alignas(64) std::uint8_t table[256][8] = {};
    constexpr KeptOrders() {
        for (int mask = 0; mask < 256; ++mask) {
            int out = 0;
            for (int b = 0; b < 8; ++b)
                if (mask >> b & 1) table[mask][out++] = static_cast<std::uint8_t>(b);
        }
    }
};
inline constexpr KeptOrders kept_orders{};

/// For each mask of 8 units of one or two bytes, the byte shuffle that moves
/// the units whose bits are set to the front, in order.
template <int width>
struct KeepShuffles {
    alignas(16) unsigned char table[256][16] = {};
    constexpr KeepShuffles() {
        for (int mask = 0; mask < 256; ++mask) {
            int out = 0;
            for (int b = 0; b < 8; ++b)
                if (mask >> b & 1)
                    for (int byte = 0; byte < width; ++byte)
                        table[mask][out++] = static_cast<unsigned char>(b * width + byte);
            for (; out < 16; ++out) table[mask][out] = 0x80;  // zero
        }
    }
};
template <int width>
inline constexpr KeepShuffles<width> keep_shuffles{};

/// Stores the units of the 8 at `from` whose bits in `kept` are set, packed
/// together at w; returns the end of what they fill. The whole group is
/// stored and only the kept units count; the output is never ahead of the
/// input, so the store stays inside the result.
template <class C>
QEL_AVX2 inline C* store_group(const C* from, unsigned kept, C* w) {
    if constexpr (sizeof(C) == 4) {
        const __m256i order = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kept_orders.table[kept])));
        const __m256i all = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), _mm256_permutevar8x32_epi32(all, order));
    } else {
        const auto* shuffle = reinterpret_cast<const __m128i*>(keep_shuffles<sizeof(C)>.table[kept]);
        if constexpr (sizeof(C) == 2) {
            const __m128i all = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(all, _mm_load_si128(shuffle)));
        } else {
            const __m128i all = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(all, _mm_load_si128(shuffle)));
        }
    }
    return w + std::popcount(kept);
}

/// Stores the units of the vector at p whose bits are set in `kept` (as many
/// of its low bits as the vector has units), packed together at w; returns
/// the end of what they fill. With `kept_only`, no other unit is read.
template <class C, bool kept_only>
QEL_AVX512 inline C* store_compressed(const C* p, std::uint64_t kept, C* w) {
    if constexpr (sizeof(C) == 1) {
        const __m512i all = kept_only ? _mm512_maskz_loadu_epi8(kept, p) : _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi8(kept, all));
        return w + std::popcount(kept);
    } else if constexpr (sizeof(C) == 2) {
        const auto k = static_cast<__mmask32>(kept);
        const __m512i all = kept_only ? _mm512_maskz_loadu_epi16(k, p) : _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi16(k, all));
        return w + std::popcount(static_cast<std::uint32_t>(k));
    } else {
        const auto k = static_cast<__mmask16>(kept);
        const __m512i all = kept_only ? _mm512_maskz_loadu_epi32(k, p) : _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi32(k, all));
        return w + std::popcount(static_cast<std::uint16_t>(k));
    }
}

/// Stores the units of a stretch of 64 characters whose bits are set in
/// `keep`, packed together at w; returns the end of what they fill.
///
/// Whole vectors are stored, not just the kept units (a compressing store
/// straight to memory is many times slower on some processors): only the kept
/// units count, and the output is never ahead of the input, so the stores stay
/// inside the result. With `ordered`, four-byte units are moved eight at a time
/// by an order from a table (see simd::compress_four_byte_units for when that
/// is the quicker way); narrower units are always compressed, one compression
/// moving more of them. With `kept_only` (the first stretch, which starts
/// before the text) only the kept units are read, so every width is
/// compressed: slower, but done once.
template <class C, bool kept_only = false>
QEL_AVX512 inline C* store_kept(const C* stretch, std::uint64_t keep, C* w, bool ordered = false) {
    constexpr int lanes = 64 / static_cast<int>(sizeof(C));
    if constexpr (sizeof(C) == 4 && !kept_only) {
        if (ordered) {
            for (int h = 0; h < 8; ++h, keep >>= 8) w = store_group(stretch + h * 8, static_cast<unsigned>(keep & 0xffu), w);
            return w;
        }
    }
    for (int h = 0; h < static_cast<int>(sizeof(C)); ++h)
        w = store_compressed<C, kept_only>(stretch + h * lanes, lanes == 64 ? keep : keep >> (h * lanes), w);
    return w;
}

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
/// simd512::narrowed gives them), `next` holding the stretch after it;
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
QEL_AVX512 inline Progress<C> stretches_512(const C* s, Py_ssize_t n, Match& match, Py_ssize_t limit,
                                            Progress<C> start) {
    constexpr int run = 16;
    const std::uint64_t span = (std::uint64_t{1} << match.length) - 1;
    const bool ordered = sizeof(C) == 4 && !simd::compress_four_byte_units();
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
        const std::uint64_t present = simd512::every_character << skew;
        const std::uint64_t starts = match.starts(simd512::narrowed(first, present),
                                                  simd512::narrowed(first + 64, simd512::every_character));
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
        __m512i current = simd512::narrowed(s + i, simd512::first_characters(n - i));
        for (Py_ssize_t at = i; stretches < run && at + 64 <= n; ++stretches, at += 64) {
            const __m512i next = at + 128 <= n ? simd512::narrowed(s + at + 64, simd512::every_character)
                                               : simd512::narrowed(s + at + 64, simd512::first_characters(n - at - 64));
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

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace qel::text::take
#endif
