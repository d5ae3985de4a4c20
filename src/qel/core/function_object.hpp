// Layout of the native function object; private to core/.
#pragma once

#include "core/function.hpp"

namespace qel::core {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionDef* definition;
    PyObject* params;       // tuple of interned parameter names
    PyObject* name;         // __name__ (str)
    PyObject* qualname;     // __qualname__ (str)
    PyObject* module;       // __module__
    PyObject* doc;          // __doc__
    PyObject* defaults;     // __defaults__: tuple or null
    PyObject* kwdefaults;   // __kwdefaults__: dict or null
    PyObject* annotations;  // __annotations__: dict or null (made on first read)
    PyObject* dict;         // __dict__ or null
    PyObject* globals;      // module dict the function looks names up in
    PyObject* builtins;     // builtins dict captured when the function was made
    PyObject* weakreflist;
};

/// Binds the call's arguments to the parameters; fills `slots` (borrowed) and
/// returns 0, or sets the interpreter's TypeError and returns -1.
int bind_arguments(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots);

/// inspect.Signature for the function's current defaults and annotations.
PyObject* function_signature(FunctionObject* f);

}  // namespace qel::core
