// Taking every occurrence of a piece out of a text in one pass: whole
// stretches of the text at a time where the processor has the vector
// instructions, the rest one occurrence at a time.
#include "simd/piece_removal.hpp"

#include "simd/copy_until.hpp"
#include "simd/piece_removal32.hpp"
#include "simd/piece_removal64.hpp"

#include <bit>
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
    const std::size_t rest = static_cast<std::size_t>(m - 1) * sizeof(C);
    for (Py_ssize_t removed = 0; removed < limit;) {
        copy_until(s, i, n, w, first);
        if (n - i < m) break;
        if (std::memcmp(s + i + 1, pat + 1, rest) == 0) {
            i += m;
            ++removed;
        } else {
            *w++ = s[i++];
        }
    }
    std::memcpy(w, s + i, static_cast<std::size_t>(n - i) * sizeof(C));
    return (w - out) + (n - i);
}

}  // namespace

template <class C>
Py_ssize_t remove_piece(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
#if QEL_SIMD_AVX
    if (m <= vector_pattern_max && n >= 256 && have_avx2() && !can_overlap(pat, m)) {
        Progress<C> at{0, 0, out, 0};
        // The 64-character kernel compares the characters as bytes.
        if (have_avx512() && narrow_enough(pat, m)) at = v64::remove_blocks_for<C>(m, limit)(s, n, pat, m, limit, at);
        else at = v32::remove_blocks_for<C>(pat, m)(s, n, pat, m, limit, at);
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
