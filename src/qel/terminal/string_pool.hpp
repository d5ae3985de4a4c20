// New strings for texts handed to a stream, made from ones the stream has
// already let go of where it can.
#pragma once

#include "terminal/terminal.hpp"

namespace qel::terminal {

/// An exact str of `length` characters, none above `maxchar` and one at least
/// `maxchar` wide (PyUnicode_New's terms), whose characters the caller writes
/// before anyone else sees it. Short ones come, where possible, from the last
/// strings made here that nothing else holds any more.
Ref new_string(Py_ssize_t length, Py_UCS4 maxchar);

/// Whether new_string keeps strings of this length and `maxchar` for reuse:
/// short enough that keeping them costs little.
bool reusable_length(Py_ssize_t length, Py_UCS4 maxchar);

}  // namespace qel::terminal
