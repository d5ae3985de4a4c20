// "Did you mean ...?" for unexpected keyword arguments, as CPython 3.13+ words it.
#pragma once

#include "core/ref.hpp"

namespace qel::core {

/// The candidate closest to `name` by the interpreter's own edit distance, or
/// an empty Ref when none is close enough (an error may be set; callers clear it).
Ref closest_name(PyObject* candidates, PyObject* name);

}  // namespace qel::core
