// Removing a piece 64 characters at a time (AVX-512): the piece's units
// compared as bytes with the narrowed characters.
#pragma once

#include "simd/piece_shape.hpp"
#include "simd/stretches64.hpp"

#include <array>
#include <cstdint>
#include <utility>

#if QEL_SIMD_AVX
namespace qel::simd::v64 {

/// Where a piece of at most 16 units, all below 255, that can't overlap
/// itself starts, for take_out: for each pattern unit k, the 64 bytes from k
/// on (taken across this stretch and the next by one permutation) are
/// compared with the unit; a start is where every unit matches. A `fixed_m`
/// above 0 is the piece's length, known at compile time (see
/// remove_blocks_for).
template <int fixed_m>
struct PieceStarts {
    Py_ssize_t length;
    // For each pattern unit k: the unit in every byte, and the byte
    // permutation that takes the 64 bytes from k on out of two stretches.
    __m512i units[vector_pattern_max], from[vector_pattern_max];

    template <class C>
    QEL_AVX512 PieceStarts(const C* pat, Py_ssize_t m) : length(fixed_m > 0 ? fixed_m : m) {
        for (Py_ssize_t k = 0; k < length; ++k) {
            units[k] = _mm512_set1_epi8(static_cast<char>(pat[k]));
            from[k] = from_kth_on(static_cast<int>(k));
        }
    }

    QEL_AVX512 std::uint64_t starts(__m512i current, __m512i next) const {
        // Any bit set where some unit differs: differ | (bytes ^ unit).
        __m512i differ = _mm512_xor_si512(current, units[0]);
        for (Py_ssize_t k = 1; k < length; ++k)
            differ = _mm512_ternarylogic_epi64(differ, _mm512_permutex2var_epi8(current, from[k], next), units[k], 0xF6);
        return _cvtmask64_u64(_mm512_testn_epi8_mask(differ, differ));
    }

    void kept(std::uint64_t) const {}
};

/// remove_one_at_a_time's work on stretches of 64 characters (take_out) for
/// a piece that PieceStarts takes.
template <class C, int fixed_m, bool counted>
QEL_AVX512 QEL_NOINLINE Progress<C> remove_blocks(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m,
                                                  Py_ssize_t limit, Progress<C> start) {
    PieceStarts<fixed_m> piece(pat, m);
    return take_out<C, counted>(s, n, piece, limit, start);
}

/// The remove_blocks for a pattern of length m and at most `limit`
/// removals. Removing every occurrence, the usual call, is compiled for each
/// length from 1 to 8 (the usual pieces, colour codes among them) and for any
/// length (0): with the length fixed the comparisons are unrolled and their
/// vectors stay in registers, about 5% of the kernel's time on four-byte
/// text, and leaving the occurrences uncounted saves a little more. A limit
/// takes the one instance that counts them, for any length.
template <class C>
auto remove_blocks_for(Py_ssize_t m, Py_ssize_t limit) {
    constexpr std::size_t fixed_max = 8;
    static constexpr auto by_length = []<std::size_t... M>(std::index_sequence<M...>) {
        return std::array{&remove_blocks<C, static_cast<int>(M), false>...};
    }(std::make_index_sequence<fixed_max + 1>{});
    if (limit != PY_SSIZE_T_MAX) return &remove_blocks<C, 0, true>;
    return by_length[static_cast<std::size_t>(m) <= fixed_max ? static_cast<std::size_t>(m) : 0];
}

}  // namespace qel::simd::v64
#endif
