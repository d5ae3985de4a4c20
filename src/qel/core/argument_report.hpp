// How the renderers and the small utilities refuse an argument: they print
// rather than raise, so that a slip at the interactive prompt shows where it
// happened and what was wrong without unwinding the caller.
#pragma once

#include "core/function.hpp"

namespace qel::core {

/// Prints the call stack with the module's `print_stack`, then sends two
/// lines with the module's `qel_send_message`: `first` (a "name = %s, Type = %s"
/// template) filled with the value and its type's __name__, then `red`.
/// -1 with an exception set when printing itself fails.
int report_argument(const Call& call, const char* first, PyObject* value, const char* red);

}  // namespace qel::core
