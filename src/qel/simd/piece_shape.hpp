// What the vector kernels that remove a piece need to know of it: how long a
// piece they compare whole, whether occurrences can overlap, whether its
// units compare the same as bytes.
#pragma once

#include "simd/python_types.hpp"

namespace qel::simd {

/// The longest pattern the vector kernels compare whole.
inline constexpr Py_ssize_t vector_pattern_max = 16;

/// Whether the `count` units at a and b are the same. Compared one by one:
/// the kernels ask it of a few units at a time, at places where most
/// comparisons stop at the first unit, and a call to memcmp costs more.
template <class C>
bool same_units(const C* a, const C* b, Py_ssize_t count) {
    for (Py_ssize_t k = 0; k < count; ++k)
        if (a[k] != b[k]) return false;
    return true;
}

/// Whether two occurrences of the pattern can overlap: some proper prefix of
/// it is also a suffix. When they can't, every occurrence is removed.
template <class C>
bool can_overlap(const C* pat, Py_ssize_t m) {
    for (Py_ssize_t k = 1; k < m; ++k)
        if (same_units(pat, pat + k, m - k)) return true;
    return false;
}

/// Whether the pattern's units compare the same as bytes: every unit is
/// below 255.
template <class C>
bool narrow_enough(const C* pat, Py_ssize_t m) {
    for (Py_ssize_t k = 0; k < m; ++k)
        if (pat[k] >= 255) return false;
    return true;
}

}  // namespace qel::simd
