// Both passes of the display form 64 characters at a time (AVX-512).
#pragma once

#include "simd/display_forms.hpp"
#include "simd/narrowed.hpp"

#include <bit>
#include <cstdint>

#if QEL_SIMD_AVX
namespace qel::simd::v64 {

/// The escapes among 64 characters, one bit each: where any starts, and where
/// those of ESC (three units) start.
struct Escapes {
    std::uint64_t any;
    std::uint64_t esc;
};

template <class C>
QEL_AVX512 inline Escapes escapes_at(const C* p) {
    const __m512i b = narrowed(p, every_character);
    const auto is = [&b](char c) QEL_AVX512 { return _mm512_cmpeq_epi8_mask(b, _mm512_set1_epi8(c)); };
    const __mmask64 esc = is(0x1b);
    return {_cvtmask64_u64(esc | is('\\') | is('"') | is('\r') | is('\n') | is('\t')), _cvtmask64_u64(esc)};
}

/// Copies `length` characters from `from` to `to` in whole vectors of 64
/// bytes; returns the end of the copy. The last vector may run past it. Runs
/// between escapes are mostly short, and a vector more per run than needed
/// costs more in stores than the loop saves.
template <class C>
QEL_AVX512 inline C* copy_run(const C* from, Py_ssize_t length, C* to) {
    constexpr Py_ssize_t lanes = 64 / static_cast<Py_ssize_t>(sizeof(C));
    C* const end = to + length;
    for (;;) {
        _mm512_storeu_si512(to, _mm512_loadu_si512(from));
        if (length <= lanes) return end;
        from += lanes;
        to += lanes;
        length -= lanes;
    }
}

/// The block loop of write_display with AVX-512: the escapes of 64
/// characters at a time, and between them the runs of plain characters
/// copied a vector at a time. Against the smaller blocks, the loop over a
/// block's escapes ends (and its last turn is mispredicted) once per 64
/// characters instead of once per 8 to 32. Advances `i` and returns the end.
///
/// Each store has room: it starts where the display form of a character at
/// least 64 before the text's end goes, and writes at most 64 units.
template <class C>
QEL_AVX512 QEL_NOINLINE C* write_display_blocks(const C* s, Py_ssize_t n, Py_ssize_t& i_io, C* out) {
    Py_ssize_t i = i_io;
    for (; i + 128 <= n; i += 64) {
        const C* block = s + i;
        auto [any, esc] = escapes_at(block);
        Py_ssize_t from = 0;  // the first character of the block not yet written
        while (any) {
            const auto j = static_cast<Py_ssize_t>(std::countr_zero(any));
            out = copy_run(block + from, j - from, out);
            store_form(block[j], out);  // only ASCII characters are marked
            out += 2 + (esc >> j & 1);
            from = j + 1;
            any &= any - 1;
        }
        out = copy_run(block + from, 64 - from, out);
    }
    i_io = i;
    return out;
}

/// The units display_size adds for s[i:], 64 characters at a time while 64
/// remain; advances `i`.
template <class C>
QEL_AVX512 QEL_NOINLINE Py_ssize_t display_extra(const C* s, Py_ssize_t n, Py_ssize_t& i_io) {
    Py_ssize_t extra = 0, i = i_io;
    for (; i + 64 <= n; i += 64) {
        const auto [any, esc] = escapes_at(s + i);
        extra += std::popcount(any) + std::popcount(esc);
    }
    i_io = i;
    return extra;
}

}  // namespace qel::simd::v64
#endif
