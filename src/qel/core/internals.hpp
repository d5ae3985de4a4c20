// Every use of the interpreter's internals sits in this header: a field of a
// structure the C API does not document, a private function, a layout the
// module writes itself. Each has
//   * a switch, QEL_<WHAT>, that is 1 only on the versions it was checked
//     on (the range beside it): read in that version's headers and, where
//     the interpreter's behaviour matters, in its code;
//   * a fallback in public API, which every other version compiles to.
// A version newer than every range (3.16, say) therefore builds and runs on
// the fallbacks: nothing here refuses to build. So does the portable build
// (CMake's QEL_FORCE_FALLBACKS), which proves that the fallbacks alone pass
// the tests, and a free-threaded build, whose objects are laid out and
// shared differently.
//
// Public API that merely differs between versions is in compat.hpp.
#pragma once

#include "core/ref.hpp"

#include <cstddef>
#include <cstdint>

/// 0xMMmm0000 for CPython MM.mm.
#define QEL_PY(major, minor) (((major) << 24) | ((minor) << 16))

#if defined(QEL_FORCE_FALLBACKS) || defined(Py_GIL_DISABLED)
#define QEL_INTERNALS_ALLOWED 0
#else
#define QEL_INTERNALS_ALLOWED 1
#endif

/// Whether the running build is one of the versions from `first` to `last`
/// (both included) and may use what was checked on them.
#define QEL_CHECKED_ON(first, last) \
    (QEL_INTERNALS_ALLOWED && PY_VERSION_HEX >= (first) && PY_VERSION_HEX < (last) + QEL_PY(0, 1))

// ---- Dict and class versions: 3.9 to 3.11 ----------------------------------------------
// From 3.12 the public dict and type watchers tell the lookup cache when to
// forget (core/watchers.hpp); before, only these version numbers can.
#define QEL_READS_DICT_VERSIONS QEL_CHECKED_ON(QEL_PY(3, 9), QEL_PY(3, 11))
#define QEL_READS_TYPE_VERSIONS QEL_CHECKED_ON(QEL_PY(3, 9), QEL_PY(3, 11))

// ---- A module object's dict: 3.9 to 3.15 -----------------------------------------------
// PyModuleObject (3.14 and 3.15: Include/internal/pycore_moduleobject.h)
// keeps md_dict as the first field after the header.
#define QEL_READS_MODULE_DICT QEL_CHECKED_ON(QEL_PY(3, 9), QEL_PY(3, 15))

// ---- The recursion budget: 3.9 to 3.15 -------------------------------------------------
// PyThreadState's counters (Include/cpython/pystate.h).
#define QEL_READS_RECURSION_COUNTS QEL_CHECKED_ON(QEL_PY(3, 9), QEL_PY(3, 15))

// ---- The str layout: 3.9 to 3.15 --------------------------------------------------------
// PyASCIIObject, PyCompactUnicodeObject and PyUnicodeObject
// (Include/cpython/unicodeobject.h): the same fields from 3.12 on; up to
// 3.11 with the wchar_t form and the `ready` bit.
#define QEL_WRITES_STR_LAYOUT QEL_CHECKED_ON(QEL_PY(3, 9), QEL_PY(3, 15))

// ---- The class attribute look-up: 3.9 to 3.15 -------------------------------------------
// _PyType_Lookup (Include/cpython/object.h): what attribute access itself
// asks, answered from the interpreter's per-class cache.
#define QEL_CALLS_TYPE_LOOKUP QEL_CHECKED_ON(QEL_PY(3, 9), QEL_PY(3, 15))

namespace qel::core::internals {

/// A dict's version, which changes on every modification of that dict and is
/// never reused by another dict. Only where QEL_READS_DICT_VERSIONS.
#if QEL_READS_DICT_VERSIONS
inline std::uint64_t dict_version(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
#endif

/// A class's version tag, which changes whenever the class or a base is
/// modified; 0 while it has no valid one. Only where QEL_READS_TYPE_VERSIONS.
#if QEL_READS_TYPE_VERSIONS
inline unsigned int type_version(PyTypeObject* type) {
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
}
#endif

/// The dict of an exact module object. Read from the object itself where
/// checked: the writers ask for sys's dict on every write.
inline PyObject* module_dict(PyObject* module) {
#if QEL_READS_MODULE_DICT
    struct ModuleHead {
        PyObject_HEAD
        PyObject* md_dict;
    };
    return reinterpret_cast<ModuleHead*>(module)->md_dict;
#else
    return PyModule_GetDict(module);
#endif
}

/// How many more nested calls the running thread may make before the
/// interpreter raises RecursionError (the smaller of the C and Python budgets
/// where they are kept apart); 0 while an overflow is being handled, and
/// where the budget can't be read (callers then take the way that lets the
/// interpreter itself decide).
inline int recursion_headroom() {
#if QEL_READS_RECURSION_COUNTS
    PyThreadState* t = PyThreadState_Get();
#if PY_VERSION_HEX >= QEL_PY(3, 14)
    // 3.14 guards the C stack by its address, no longer by a count.
    if (t->recursion_headroom) return 0;
    return t->py_recursion_remaining;
#elif PY_VERSION_HEX >= QEL_PY(3, 12)
    if (t->recursion_headroom) return 0;
    return t->c_recursion_remaining < t->py_recursion_remaining ? t->c_recursion_remaining
                                                               : t->py_recursion_remaining;
#elif PY_VERSION_HEX >= QEL_PY(3, 11)
    if (t->recursion_headroom) return 0;
    return t->recursion_remaining;
#elif PY_VERSION_HEX >= QEL_PY(3, 10)
    if (t->recursion_headroom) return 0;
    return Py_GetRecursionLimit() - t->recursion_depth;
#else
    if (t->overflowed) return 0;
    return Py_GetRecursionLimit() - t->recursion_depth;
#endif
#else
    return 0;
#endif
}

/// The class attribute `name` as attribute access finds it along the MRO,
/// borrowed; null when there is none. Never sets an error.
inline PyObject* type_lookup(PyTypeObject* type, PyObject* name) {
#if QEL_CALLS_TYPE_LOOKUP
    return _PyType_Lookup(type, name);
#else
    PyObject* mro = type->tp_mro;
    if (!mro || !PyTuple_Check(mro)) return nullptr;
    PyObject* error_before = PyErr_Occurred();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        if (!PyType_Check(base)) continue;
        // The class keeps its dict, and the dict the value: borrowed is safe.
        Ref dict = Ref::adopt(compat::type_dict(reinterpret_cast<PyTypeObject*>(base)));
        PyObject* found = dict ? PyDict_GetItemWithError(dict.get(), name) : nullptr;
        if (found) return found;
        if (!error_before && PyErr_Occurred()) {
            PyErr_Clear();
            return nullptr;
        }
    }
    return nullptr;
#endif
}

// ---- Strings laid out by the module ------------------------------------------------------

/// Whether the module may write a str's fields itself: grow a string it made
/// in place, and hand a block of characters to a new instance.
inline constexpr bool str_layout_writable = QEL_WRITES_STR_LAYOUT;

/// Whether an exact str may be changed in place by the holders of its
/// `references` references: a compact string that is not interned and has no
/// cached hash and no cached UTF-8 or wchar_t form a change would leave stale.
/// Always false where the layout is not known.
inline bool str_extendable(PyObject* s, Py_ssize_t references) {
#if QEL_WRITES_STR_LAYOUT
    if (Py_REFCNT(s) != references || !PyUnicode_IS_COMPACT(s) || PyUnicode_CHECK_INTERNED(s)) return false;
    auto* ascii = reinterpret_cast<PyASCIIObject*>(s);
    if (ascii->hash != -1) return false;
#if PY_VERSION_HEX < QEL_PY(3, 12)
    // Up to 3.11 a wchar_t form may be cached beside the characters.
    if (ascii->wstr != nullptr) return false;
#endif
    // An ASCII string's UTF-8 form is its own data; others may cache a copy.
    return ascii->state.ascii || reinterpret_cast<PyCompactUnicodeObject*>(s)->utf8 == nullptr;
#else
    (void)s;
    (void)references;
    return false;
#endif
}

/// Sets the length of a compact str made with room for at least `length`
/// characters, and its terminating NUL, as the interpreter's own resizing
/// does. Only for a string str_extendable allowed, or one just made.
inline void set_str_length(PyObject* s, Py_ssize_t length) {
#if QEL_WRITES_STR_LAYOUT
    reinterpret_cast<PyASCIIObject*>(s)->length = length;
    PyUnicode_WRITE(PyUnicode_KIND(s), PyUnicode_DATA(s), length, 0);
#else
    (void)s;
    (void)length;
#endif
}

/// The allocator domain of a non-compact str's character block: the one the
/// interpreter's unicode_dealloc frees it with (and its cached UTF-8 form,
/// which the interpreter makes itself). A block an instance takes over must
/// come from here, or a debug allocator (PYTHONMALLOC=debug, -X dev) stops
/// the process and an embedder's own allocators see a foreign pointer.
/// Read from the calls in unicode_dealloc of each interpreter:
///
///   3.9, 3.10, 3.11, 3.12   PyObject_Free   (the object domain)
///   3.13, 3.14, 3.15        PyMem_Free      (the memory domain)
///
/// The interpreter never resizes a str subclass instance in place (only an
/// exact str with one reference), so nothing reallocates such a block behind
/// our back. Outside the checked range no block is ever handed over, and
/// these only serve the module's own scratch space.
#if PY_VERSION_HEX < QEL_PY(3, 13)
inline void* str_data_alloc(std::size_t bytes) { return PyObject_Malloc(bytes); }
inline void* str_data_realloc(void* p, std::size_t bytes) { return PyObject_Realloc(p, bytes); }
inline void str_data_free(void* p) { PyObject_Free(p); }
#else
inline void* str_data_alloc(std::size_t bytes) { return PyMem_Malloc(bytes); }
inline void* str_data_realloc(void* p, std::size_t bytes) { return PyMem_Realloc(p, bytes); }
inline void str_data_free(void* p) { PyMem_Free(p); }
#endif

/// A new instance of the str subclass `type` whose characters are `data`:
/// `length` units of width `kind` and a terminating NUL, in a block from
/// str_data_alloc that the instance takes over (it is freed here if the
/// instance can't be made). The characters must be in their narrowest width;
/// `ascii` says they are all below 128.
///
/// This is the instance the interpreter makes when a str subclass with the
/// default constructor is called on a str -- the same fields, the characters
/// in their own block -- without first making the str and copying it.
/// Only where str_layout_writable; elsewhere it fails with SystemError.
inline PyObject* adopt_str_data(PyTypeObject* type, void* data, Py_ssize_t length, int kind, bool ascii) {
#if QEL_WRITES_STR_LAYOUT
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) {
        str_data_free(data);
        return nullptr;
    }
    auto* u = reinterpret_cast<PyUnicodeObject*>(self);
    PyCompactUnicodeObject& compact = u->_base;
    PyASCIIObject& head = compact._base;
    head.length = length;
    head.hash = -1;
    head.state.interned = 0;
    switch (kind) {  // constants, which the bit-field takes without narrowing
        case PyUnicode_1BYTE_KIND: head.state.kind = PyUnicode_1BYTE_KIND; break;
        case PyUnicode_2BYTE_KIND: head.state.kind = PyUnicode_2BYTE_KIND; break;
        default: head.state.kind = PyUnicode_4BYTE_KIND; break;
    }
    head.state.compact = 0;
    if (ascii) head.state.ascii = 1;
#if PY_VERSION_HEX < QEL_PY(3, 12)
    head.state.ready = 1;
    // A wchar_t form of the same width shares the characters, as the
    // interpreter's own constructor arranges.
    head.wstr = kind == static_cast<int>(sizeof(wchar_t)) ? static_cast<wchar_t*>(data) : nullptr;
    compact.wstr_length = head.wstr ? length : 0;
#else
    head.state.statically_allocated = 0;
#endif
    // ASCII characters are their own UTF-8 form.
    compact.utf8 = ascii ? static_cast<char*>(data) : nullptr;
    compact.utf8_length = ascii ? length : 0;
    u->data.any = data;
    return self;
#else
    (void)type;
    (void)length;
    (void)kind;
    (void)ascii;
    str_data_free(data);
    PyErr_SetString(PyExc_SystemError, "str instances can't be made from data on this build");
    return nullptr;
#endif
}

}  // namespace qel::core::internals
