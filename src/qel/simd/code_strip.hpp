// Taking the seven default foreground colour codes ("\x1b[3Xm", X one of
// 1 2 3 4 5 6 8) out of a text, on raw units of one width.
#pragma once

#include "simd/python_types.hpp"

namespace qel::simd {

/// The character every code starts with: a text without it has none.
inline constexpr Py_UCS4 code_escape = 0x1b;

/// s[:n] without the codes, written to `out` (room for n units, not
/// overlapping s); returns its length. -1 when a removal joins what precedes
/// it to what follows into what could be a new code, which removing the
/// codes one after the other would then take out too: only the caller's
/// sequential removal gives the defined result then. C is Py_UCS1, Py_UCS2 or
/// Py_UCS4.
template <class C>
Py_ssize_t strip_codes(const C* s, Py_ssize_t n, C* out);

}  // namespace qel::simd
