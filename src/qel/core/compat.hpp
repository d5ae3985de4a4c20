// What differs in the public C API between the CPython versions we build for
// (3.9 and later). Every version decision lives here or, for the
// interpreter's internals, in internals.hpp; the rest of the code calls
// these names.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

#if PY_VERSION_HEX < 0x030A0000
// 3.10 added these two; 3.9 only has the macros they replace.
static inline PyObject* Py_NewRef(PyObject* o) { Py_INCREF(o); return o; }
static inline PyObject* Py_XNewRef(PyObject* o) { Py_XINCREF(o); return o; }
#endif

namespace qel::core::compat {

/// Argument-error texts name the function by its original __name__ up to 3.9
/// and by its current __qualname__ from 3.10 on.
inline constexpr bool errors_use_qualname = PY_VERSION_HEX >= 0x030A0000;

/// Whether one interpreter lock serialises all threads running Python code
/// (every build we make, but not a free-threaded one).
#ifdef Py_GIL_DISABLED
inline constexpr bool one_lock_for_all_threads = false;
#else
inline constexpr bool one_lock_for_all_threads = true;
#endif

/// From 3.13 an unexpected keyword argument error suggests a close name.
inline constexpr bool keyword_suggestions = PY_VERSION_HEX >= 0x030D0000;

/// Looks a key up in a dict. Returns 1 and a new reference in *out when found,
/// 0 with *out null when absent, -1 with an exception set on error.
inline int dict_get_ref(PyObject* dict, PyObject* key, PyObject** out) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyDict_GetItemRef(dict, key, out);
#else
    PyObject* item = PyDict_GetItemWithError(dict, key);
    if (item) { *out = Py_NewRef(item); return 1; }
    *out = nullptr;
    return PyErr_Occurred() ? -1 : 0;
#endif
}

/// Makes sure a string's data is in its canonical form (only strings made
/// through the old wchar_t API are not, and only before 3.12).
inline int unicode_ready(PyObject* o) {
#if PY_VERSION_HEX < 0x030C0000
    return PyUnicode_READY(o);
#else
    (void)o;
    return 0;
#endif
}

/// Whether the interpreter tells watchers about changes to dicts and classes
/// (PyDict_AddWatcher, PyType_AddWatcher: public from 3.12).
#if PY_VERSION_HEX >= 0x030C0000
#define QEL_HAS_WATCHERS 1
#else
#define QEL_HAS_WATCHERS 0
#endif

/// A class's own dict, strong: from 3.12 a built-in static class keeps it
/// with the interpreter rather than in tp_dict, and PyType_GetDict finds it.
/// Null, with no error set, where there is none.
inline PyObject* type_dict(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030C0000
    return PyType_GetDict(type);
#else
    return Py_XNewRef(type->tp_dict);
#endif
}

/// Whether an object whose class has the interpreter keep its attributes
/// (Py_TPFLAGS_MANAGED_DICT, from 3.12) has any, or a dict made for them:
/// 1 or 0; -1 for another object, or where no public function can tell
/// (before 3.13).
inline int managed_attributes(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030D0000
    if (!(Py_TYPE(obj)->tp_flags & Py_TPFLAGS_MANAGED_DICT)) return -1;
    bool any = false;
    PyObject_VisitManagedDict(
        obj, [](PyObject*, void* seen) { return *static_cast<bool*>(seen) = true, 1; }, &any);
    return any ? 1 : 0;
#else
    (void)obj;
    return -1;
#endif
}

/// The running interpreter's id, used to keep the module in one interpreter.
inline int64_t interpreter_id() {
    return PyInterpreterState_GetID(PyInterpreterState_Get());
}

}  // namespace qel::core::compat
