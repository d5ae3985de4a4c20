// Taking every occurrence of a piece out of a text in one pass: whole
// stretches of the text at a time where the processor has the vector
// instructions, the rest one occurrence at a time.
#include "simd/piece_removal.hpp"

#include "simd/copy_until.hpp"
#include "simd/piece_removal32.hpp"
#include "simd/piece_removal64.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

namespace qel::simd {
namespace {

/// s without its first `limit` non-overlapping occurrences of `pat`, found
/// left to right, written to `out` (room for n units). Returns the length.
template <class C>
Py_ssize_t remove_one_at_a_time(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
    C* w = out;
    Py_ssize_t i = 0;
    const C first = pat[0];
    for (Py_ssize_t removed = 0; removed < limit;) {
        copy_until(s, i, n, w, first);
        if (n - i < m) break;
        if (same_units(s + i + 1, pat + 1, m - 1)) {
            i += m;
            ++removed;
        } else {
            *w++ = s[i++];
        }
    }
    std::memcpy(w, s + i, static_cast<std::size_t>(n - i) * sizeof(C));
    return (w - out) + (n - i);
}

/// The occurrences that start before the text's first 32-byte boundary
/// taken out one character at a time, so that the AVX2 kernel goes on from
/// there with loads that never span two cache lines (the text's storage may
/// be aligned to 16 bytes only, and such a load costs about as much as two:
/// a sixth of the time on four-byte text without occurrences). The progress
/// at the boundary, with `carry` marking the characters from it that an
/// occurrence begun before it still covers.
template <class C>
Progress<C> remove_before_boundary(const C* s, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
    const auto boundary = static_cast<Py_ssize_t>((32 - reinterpret_cast<std::uintptr_t>(s) % 32) % 32 / sizeof(C));
    C* w = out;
    Py_ssize_t removed = 0, covered_to = 0;
    for (Py_ssize_t j = 0; j < boundary; ++j) {
        if (j < covered_to) continue;
        if (removed < limit && same_units(s + j, pat, m)) {
            ++removed;
            covered_to = j + m;
        } else {
            *w++ = s[j];
        }
    }
    const Py_ssize_t covered = covered_to > boundary ? covered_to - boundary : 0;  // below m
    return {boundary, removed, w, covered ? (std::uint64_t{1} << covered) - 1 : 0};
}

#if QEL_SIMD_AVX
/// Whether the 64-character kernel takes the removal of `pat`. Four-byte
/// text whose kept units it would move by orders from a table (see
/// compress_four_byte_units) goes to the 32-character kernel instead, which
/// copies a stretch that loses nothing whole and has measured the quicker
/// unless the piece fills much of the text. On AMD's Zen 4, 10,000
/// characters: 1.11 µs against 1.28 with the piece once in 45 characters,
/// 0.99 against 1.31 without it, but 1.50 against 1.27 with it once in 6.
/// A piece longer than that kernel compares as bytes stays here.
template <class C>
bool wide_kernel_takes(const C* pat, Py_ssize_t m) {
    if (!have_avx512() || !narrow_enough(pat, m)) return false;
    return sizeof(C) < 4 || compress_four_byte_units() || static_cast<std::size_t>(m) > v32::narrowed_max;
}
#endif

}  // namespace

template <class C>
Py_ssize_t remove_piece(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
#if QEL_SIMD_AVX
    if (m <= vector_pattern_max && n >= 256 && have_avx2() && !can_overlap(pat, m)) {
        Progress<C> at{0, 0, out, 0};
        // The 64-character kernel compares the characters as bytes, and
        // aligns its loads itself.
        if (wide_kernel_takes(pat, m)) {
            at = v64::remove_blocks_for<C>(m, limit)(s, n, pat, m, limit, at);
        } else {
            at = remove_before_boundary(s, pat, m, limit, out);
            at = v32::remove_blocks_for<C>(pat, m, limit)(s, n, pat, m, limit, at);
        }
        // The rest one occurrence at a time, after what the last one covers.
        const Py_ssize_t i = at.i + std::countr_one(at.carry);
        return (at.w - out) + remove_one_at_a_time(s + i, n - i, pat, m, limit - at.removed, at.w);
    }
#endif
    return remove_one_at_a_time(s, n, pat, m, limit, out);
}

template Py_ssize_t remove_piece(const Py_UCS1*, Py_ssize_t, const Py_UCS1*, Py_ssize_t, Py_ssize_t, Py_UCS1*);
template Py_ssize_t remove_piece(const Py_UCS2*, Py_ssize_t, const Py_UCS2*, Py_ssize_t, Py_ssize_t, Py_UCS2*);
template Py_ssize_t remove_piece(const Py_UCS4*, Py_ssize_t, const Py_UCS4*, Py_ssize_t, Py_ssize_t, Py_UCS4*);

}  // namespace qel::simd
