// Taking the occurrences of a piece out of a text, on raw units of one
// width.
#pragma once

#include "simd/python_types.hpp"

namespace qel::simd {

/// s[:n] without its first `limit` non-overlapping occurrences of pat[:m]
/// (m >= 1), found left to right, written to `out` (room for n units, not
/// overlapping s). Returns the length written. C is Py_UCS1, Py_UCS2 or
/// Py_UCS4.
template <class C>
Py_ssize_t remove_piece(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out);

}  // namespace qel::simd
