// Raising an exception with one argument exactly as `raise Type(arg)` does.
#pragma once

#include "jsonobj/jsonobj.hpp"

namespace qel::jsonobj {

/// Sets `type(arg)` as the current exception. Unlike PyErr_SetObject with a
/// bare value, a tuple argument stays one argument (KeyError((1, 2)) keeps the
/// tuple as its key). Always "fails": callers return the empty Ref after it.
inline Ref raise_with(PyObject* type, const Ref& arg) {
    if (!arg) return {};
    Ref exc = Ref::adopt(PyObject_CallOneArg(type, arg.get()));
    if (exc) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    return {};
}

/// `template % value` with the interpreter's own `%`, so every operand
/// (tuples, mappings, objects with __rmod__) behaves as in Python code.
inline Ref percent(const char* text, PyObject* value) {
    Ref format = Ref::adopt(PyUnicode_FromString(text));
    if (!format || !value) return {};
    return Ref::adopt(PyNumber_Remainder(format.get(), value));
}

}  // namespace qel::jsonobj
