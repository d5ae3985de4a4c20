// What the module remembers for the whole process. It cannot live in module
// state: on a repeated import the interpreter calls the create slot again and
// resets the state pointer of the module object that slot returns.
#pragma once

#include "core/ref.hpp"

namespace qel::process {

/// Ties the module to the first interpreter that imports it; -1 with
/// ImportError set when called from any other interpreter.
int claim_interpreter();

/// The module object of the import that completed, or null (borrowed).
PyObject* finished_module();

/// Records a completed import; later imports return this module unchanged.
void remember_finished(PyObject* module);

}  // namespace qel::process
