// The display form of a text, as the string type's repr shows it, on raw
// units of one width: backslash doubled; double quote, CR, LF and tab
// escaped; ESC shown as "\33".
#pragma once

#include "simd/python_types.hpp"

namespace qel::simd {

/// The length of the display form of s[0:n].
template <class C>
Py_ssize_t display_size(const C* s, Py_ssize_t n);

/// Writes the display form of s[0:n] at `out`, which has room for all of it
/// (stores run past what is written so far, never past the form's end);
/// returns the end of it. C is Py_UCS1, Py_UCS2 or Py_UCS4.
template <class C>
C* write_display(const C* s, Py_ssize_t n, C* out);

}  // namespace qel::simd
