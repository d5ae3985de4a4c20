// Removing a piece 32 characters at a time (AVX2), for processors without
// the AVX-512 instructions and for pieces with a unit from 255 up.
#pragma once

#include "simd/kept_stores.hpp"
#include "simd/narrowed.hpp"
#include "simd/piece_shape.hpp"
#include "simd/progress.hpp"
#include "simd/vector32.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if QEL_SIMD_AVX
namespace qel::simd::v32 {

/// Bit j set where the pattern starts at p[j], for the 32 characters from p;
/// reads p[0] to p[31 + m - 1]. The characters from each pattern unit's place
/// on are loaded as they stand and compared whole with it.
template <class C>
QEL_AVX2 inline std::uint32_t whole_starts(const C* p, const __m256i* units, Py_ssize_t m) {
    constexpr Py_ssize_t lanes = 32 / static_cast<Py_ssize_t>(sizeof(C));
    // Any bit set where some unit differs: differ | (characters ^ unit).
    __m256i differ[sizeof(C)];
    for (std::size_t v = 0; v < sizeof(C); ++v) differ[v] = _mm256_setzero_si256();
    for (Py_ssize_t k = 0; k < m; ++k)
        for (std::size_t v = 0; v < sizeof(C); ++v)
            differ[v] = _mm256_or_si256(differ[v], _mm256_xor_si256(load(p + v * lanes + k), units[k]));
    const __m256i zero = _mm256_setzero_si256();
    if constexpr (sizeof(C) == 1) {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(differ[0], zero)));
    } else if constexpr (sizeof(C) == 2) {
        // Packed to bytes per 128-bit lane, then the lanes put in order.
        const __m256i packed = _mm256_packs_epi16(_mm256_cmpeq_epi16(differ[0], zero), _mm256_cmpeq_epi16(differ[1], zero));
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8)));
    } else {
        std::uint32_t starts = 0;
        for (std::size_t v = 0; v < 4; ++v) {
            const __m256 equal = _mm256_castsi256_ps(_mm256_cmpeq_epi32(differ[v], zero));
            starts |= static_cast<std::uint32_t>(_mm256_movemask_ps(equal)) << (8 * v);
        }
        return starts;
    }
}

/// Where the piece starts among 32 characters, its characters compared whole
/// (see whole_starts): any piece of up to 16 units. Reads 48 characters.
template <class C>
struct WholeStarts {
    static constexpr Py_ssize_t reach = 32 + vector_pattern_max;
    __m256i units[vector_pattern_max];
    Py_ssize_t length;

    QEL_AVX2 WholeStarts(const C* pat, Py_ssize_t m) : length(m) {
        for (Py_ssize_t k = 0; k < m; ++k) units[k] = splat<C>(static_cast<unsigned>(pat[k]));
    }

    QEL_AVX2 void begin(const C*) {}  // nothing carried from one stretch to the next
    QEL_AVX2 std::uint32_t starts(const C* p) { return whole_starts(p, units, length); }
};

/// same & (the 32 bytes from k on == units[k]) for k from K to M - 1, the
/// bytes from k on taken out of `current` and `straddle` (its high lane and
/// the next stretch's low one) by a shift of each lane. Equal bytes are all
/// ones, so the last mask is the starts' bytes as they stand: an instruction
/// fewer in the loop than or-ing the differences and testing them for zero.
template <int K, int M>
QEL_AVX2 inline __m256i same_from(__m256i same, __m256i current, __m256i straddle, const __m256i* units) {
    if constexpr (K >= M) {
        return same;
    } else {
        const __m256i from_k = _mm256_alignr_epi8(straddle, current, K);
        return same_from<K + 1, M>(_mm256_and_si256(same, _mm256_cmpeq_epi8(from_k, units[K])), current, straddle,
                                   units);
    }
}

/// Where a piece of M units, all below 255, starts among 32 characters, the
/// characters compared as bytes (narrowed): about half the work of comparing
/// them whole on four-byte text. Reads 64 characters. Called for one stretch
/// after another, it narrows each stretch once, keeping the next one's bytes
/// for the following call. Without a NUL in the piece, `clamped` is false
/// and the narrowing is the cheaper one (see narrowed).
template <class C, int M, bool clamped>
struct NarrowedStarts {
    static constexpr Py_ssize_t reach = 64, length = M;
    __m256i units[M];
    __m256i next = _mm256_setzero_si256();  // the stretch that starts() is given next, narrowed

    QEL_AVX2 NarrowedStarts(const C* pat, Py_ssize_t) {
        for (int k = 0; k < M; ++k) units[k] = _mm256_set1_epi8(static_cast<char>(pat[k]));
    }

    /// Before the first stretch, at p.
    QEL_AVX2 void begin(const C* p) { next = narrowed<C, clamped>(p); }

    /// For the stretches one after another from where begin() was given.
    QEL_AVX2 std::uint32_t starts(const C* p) {
        const __m256i current = next;
        next = narrowed<C, clamped>(p + 32);
        const __m256i straddle = _mm256_permute2x128_si256(current, next, 0x21);
        const __m256i same = same_from<1, M>(_mm256_cmpeq_epi8(current, units[0]), current, straddle, units);
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(same));
    }
};

/// The `count` characters at `from`, all kept, stored at w: in 32-byte
/// vectors where they fill whole ones (a memcpy of the same size is moved
/// 16 bytes at a time).
template <int count, class C>
QEL_AVX2 inline C* copy_kept(const C* from, C* w) {
    constexpr std::size_t bytes = count * sizeof(C);
    if constexpr (bytes % 32 == 0) {
        const auto* in = reinterpret_cast<const __m256i*>(from);
        auto* out = reinterpret_cast<__m256i*>(w);
        for (std::size_t v = 0; v < bytes / 32; ++v) _mm256_storeu_si256(out + v, _mm256_loadu_si256(in + v));
    } else {
        std::memcpy(w, from, bytes);
    }
    return w + count;
}

/// Where the stores of remove_blocks stand: the end of the output, the
/// characters from the next stretch on that the last occurrence still covers
/// (one bit each), and how many more occurrences the limit lets go.
template <class C>
struct Stores {
    C* w;
    std::uint64_t carry;
    Py_ssize_t budget;

    /// The kernel's progress with the next stretch at i, under `limit`.
    Progress<C> at(Py_ssize_t i, Py_ssize_t limit) const { return {i, limit - budget, w, carry}; }
};

/// Stores the 32 characters at `from` without those that the piece covers
/// (it starts at the bits of `starts`, and `span` has a bit for each of its
/// characters). When `counted`, false, with nothing stored, where they hold
/// more occurrences than the limit lets go. A stretch that loses nothing is
/// stored whole after a single test, before any count: on a core shared
/// with another thread busy with integer work, the loop's own integer
/// instructions are what it waits for. Else 8 characters at a time, each
/// group that loses one put in order from a table (see store_group) and the
/// others copied: most groups keep every character even here.
template <bool counted, class C>
QEL_AVX2 inline bool store_stretch(const C* from, std::uint32_t starts, std::uint64_t span, Stores<C>& to) {
    if ((starts | to.carry) == 0) {
        to.w = copy_kept<32>(from, to.w);
        return true;
    }
    if constexpr (counted) {
        const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
        if (here > to.budget) return false;
        to.budget -= here;
    }
    const std::uint64_t covered = starts * span | to.carry;
    const auto keep = ~static_cast<std::uint32_t>(covered);
    to.carry = covered >> 32;
    for (int g = 0; g < 4; ++g) {
        // Whether the group loses a character is read off `covered` by a
        // test of its bits in place; its byte of `keep` is taken out only
        // where it does.
        const bool whole = (covered & (std::uint64_t{0xff} << (8 * g))) == 0;
        to.w = whole ? copy_kept<8>(from + 8 * g, to.w) : store_group(from + 8 * g, keep >> (8 * g) & 0xffu, to.w);
    }
    return true;
}

/// v64::remove_blocks's work with 32-byte vectors (AVX2), 32 characters a
/// stretch, `Starts` finding where the piece starts. Each stretch is stored
/// right after the next one is searched, while its characters are still at
/// hand. The stores branch on what the search found, and the search takes
/// long: a stretch ahead, it is over by the time its branches are reached,
/// and a wrong guess costs only the refill (about 7% of the time on
/// four-byte text dense with the piece). Stops where fewer than
/// Starts::reach characters remain, so that every load stays inside the
/// text, or, when `counted`, before the stretch that would pass `limit`
/// removals. Without `counted` every occurrence is removed and `removed` is
/// left as it came.
template <class C, class Starts, bool counted>
QEL_AVX2 QEL_NOINLINE Progress<C> remove_blocks(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m,
                                                Py_ssize_t limit, Progress<C> start) {
    constexpr Py_ssize_t stretch = 32;
    if (start.i + Starts::reach > n) return start;
    Starts piece(pat, m);
    const std::uint64_t span = (std::uint64_t{1} << piece.length) - 1;
    Stores<C> to{start.w, start.carry, limit - start.removed};
    const C* p = s + start.i;
    const C* const searched_last = s + (n - Starts::reach);  // where the last stretch searched may start
    piece.begin(p);
    std::uint32_t starts = piece.starts(p);
    for (; p + stretch <= searched_last; p += stretch) {
        const std::uint32_t next = piece.starts(p + stretch);
        if (!store_stretch<counted>(p, starts, span, to)) return to.at(p - s, limit);
        starts = next;
    }
    if (store_stretch<counted>(p, starts, span, to)) p += stretch;
    return to.at(p - s, limit);
}

/// The longest piece compared as bytes.
inline constexpr std::size_t narrowed_max = 8;

/// remove_blocks compared as bytes, for each piece length from 1 to narrowed_max.
template <class C, bool clamped, bool counted>
constexpr auto narrowed_by_length = []<std::size_t... M>(std::index_sequence<M...>) {
    return std::array{&remove_blocks<C, NarrowedStarts<C, static_cast<int>(M) + 1, clamped>, counted>...};
}(std::make_index_sequence<narrowed_max>{});

/// The remove_blocks for a piece of length m, `counted` or not: compared as
/// bytes where its units are all below 255 and it has at most 8 (compiled
/// for each length, with and without a NUL in it), else whole.
template <class C, bool counted>
auto remove_blocks_counting(const C* pat, Py_ssize_t m) {
    if (static_cast<std::size_t>(m) <= narrowed_max && narrow_enough(pat, m)) {
        const bool has_nul = std::find(pat, pat + m, C(0)) != pat + m;
        return (has_nul ? narrowed_by_length<C, true, counted>
                        : narrowed_by_length<C, false, counted>)[static_cast<std::size_t>(m) - 1];
    }
    return &remove_blocks<C, WholeStarts<C>, counted>;
}

/// The remove_blocks for a piece of length m and at most `limit` removals.
/// Removing every occurrence, the usual call, is compiled without the count:
/// on text dense with the piece, its test in every stretch that loses one is
/// about 3% of the kernel's time.
template <class C>
auto remove_blocks_for(const C* pat, Py_ssize_t m, Py_ssize_t limit) {
    return limit == PY_SSIZE_T_MAX ? remove_blocks_counting<C, false>(pat, m) : remove_blocks_counting<C, true>(pat, m);
}

}  // namespace qel::simd::v32
#endif
