// Copying a text up to the next occurrence of one character: the inner loop
// of the kernels that take pieces out of a text.
#pragma once

#include "simd/byte_masks.hpp"
#include "simd/vector16.hpp"

#include <cstring>
#include <type_traits>

namespace qel::simd {

/// The index of the first `unit` in s[from:n], or n.
template <class C>
inline Py_ssize_t find_unit(const C* s, Py_ssize_t from, Py_ssize_t n, C unit) {
    if constexpr (std::is_same_v<C, Py_UCS1>) {
        const void* hit = std::memchr(s + from, unit, static_cast<std::size_t>(n - from));
        return hit ? static_cast<const C*>(hit) - s : n;
    } else {
        // Whole blocks without the unit are skipped with one test each,
        // which the compiler can do on many characters at once.
        constexpr Py_ssize_t block = 16;
        for (; from + block <= n; from += block) {
            unsigned any = 0;
            for (Py_ssize_t j = 0; j < block; ++j) any |= static_cast<unsigned>(s[from + j] == unit);
            if (any) break;
        }
        while (from < n && s[from] != unit) ++from;
        return from;
    }
}

namespace copy_until_detail {

/// copy_until's vector loop on 16-byte vectors, two at a time. True when it
/// stopped at the unit.
template <class C>
inline bool copy_blocks(const C* s, Py_ssize_t& i, Py_ssize_t n, C*& w, C unit) {
#if QEL_SIMD_SSE2
    constexpr Py_ssize_t per = v16::lanes<C>;
    constexpr Py_ssize_t block = 2 * per;
    const v16::Vec units = v16::splat<C>(unit);
    while (i + block <= n) {
        const v16::Vec low = v16::load(s + i), high = v16::load(s + i + per);
        v16::store(w, low);
        v16::store(w + per, high);
        const unsigned marked = v16::byte_mask(v16::equal<C>(low, units)) |
                                v16::byte_mask(v16::equal<C>(high, units)) << 16;
        if (marked) {
            const Py_ssize_t j = first_unit<C>(marked);
            w += j;
            i += j;
            return true;
        }
        w += block;
        i += block;
    }
#else
    (void)s; (void)i; (void)n; (void)w; (void)unit;
#endif
    return false;
}

}  // namespace copy_until_detail

/// Copies s[i:] to `w` up to the next `unit` (or the end), advancing both.
///
/// Whole vectors are stored and then `w` is advanced only past what precedes
/// the unit; the rest is stored again later. So the output must never be
/// ahead of the input: with `out` the start of the output, w - out <= i, and
/// the output has room for n units.
template <class C>
inline void copy_until(const C* s, Py_ssize_t& i, Py_ssize_t n, C*& w, C unit) {
    if (copy_until_detail::copy_blocks(s, i, n, w, unit)) return;
    const Py_ssize_t next = find_unit(s, i, n, unit);
    std::memcpy(w, s + i, static_cast<std::size_t>(next - i) * sizeof(C));
    w += next - i;
    i = next;
}

}  // namespace qel::simd
