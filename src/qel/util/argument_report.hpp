// How the small utilities refuse an argument: they print rather than raise, so
// that a slip at the interactive prompt shows where it happened and what was
// wrong without unwinding the caller.
#pragma once

#include "core/function.hpp"

namespace qel::util {

/// Prints the call stack with the module's `print_stack`, then sends two
/// lines with the module's `qel_send_message`: `first` (a "name = %s, Type = %s"
/// template) filled with the value and its type's __name__, then `red`.
/// -1 with an exception set when printing itself fails.
int report_argument(const Call& call, const char* first, PyObject* value, const char* red);

/// Whether the value is of the interpreter's own int type (bool and int
/// subclasses are refused on purpose).
inline bool is_exact_int(PyObject* value) { return PyLong_CheckExact(value); }

}  // namespace qel::util
