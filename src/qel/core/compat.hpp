// What differs between the CPython versions we build for (3.9 and later).
// Every version decision lives here; the rest of the code calls these names.
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

/// Keeps a function out of its callers, so that a short fast path in front
/// of it stays free of the slow path's register saves.
#if defined(__GNUC__) || defined(__clang__)
#define QEL_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define QEL_NOINLINE __declspec(noinline)
#else
#define QEL_NOINLINE
#endif

namespace qel::compat {

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

/// How many more nested native calls the running thread may make before the
/// interpreter raises RecursionError (the smaller of the C and Python budgets
/// where they are kept apart). 0 while an overflow is being handled.
inline int recursion_headroom() {
    PyThreadState* t = PyThreadState_Get();
#if PY_VERSION_HEX >= 0x030E0000
    // 3.14 guards the C stack by its address, no longer by a count.
    if (t->recursion_headroom) return 0;
    return t->py_recursion_remaining;
#elif PY_VERSION_HEX >= 0x030C0000
    if (t->recursion_headroom) return 0;
    return t->c_recursion_remaining < t->py_recursion_remaining ? t->c_recursion_remaining
                                                               : t->py_recursion_remaining;
#elif PY_VERSION_HEX >= 0x030B0000
    if (t->recursion_headroom) return 0;
    return t->recursion_remaining;
#elif PY_VERSION_HEX >= 0x030A0000
    if (t->recursion_headroom) return 0;
    return Py_GetRecursionLimit() - t->recursion_depth;
#else
    if (t->overflowed) return 0;
    return Py_GetRecursionLimit() - t->recursion_depth;
#endif
}

/// A dict's version, which changes on every modification of that dict and is
/// never reused by another dict; 0 where the interpreter keeps none we can rely
/// on (from 3.14, and in free-threaded builds). 0 is never a valid version.
inline std::uint64_t dict_version(PyObject* dict) {
#if PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
    // 3.12 marks the field deprecated ahead of its removal; it is read only
    // for the versions that still maintain it.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#elif defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif
#else
    (void)dict;
    return 0;
#endif
}

/// The dict of an exact module object, read from the object itself: up to
/// 3.13 it is the first field after the header, and reading it saves the
/// hot paths a call into the interpreter on every write.
inline PyObject* module_dict(PyObject* module) {
#if PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
    struct ModuleHead {
        PyObject_HEAD
        PyObject* md_dict;
    };
    return reinterpret_cast<ModuleHead*>(module)->md_dict;
#else
    return PyModule_GetDict(module);
#endif
}

/// A class's version tag, which changes whenever the class or a base is
/// modified; 0 while it has no valid one. Up to 3.12 a flag says whether the
/// tag is valid; 3.13 no longer sets the flag and keeps 0 for "none".
inline unsigned int type_version(PyTypeObject* type) {
#if PY_VERSION_HEX < 0x030D0000
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#else
    return type->tp_version_tag;
#endif
}

/// Whether an exact str may be changed in place by the holders of its
/// `references` references: a compact string that is not interned and has no
/// cached hash and no cached UTF-8 or wchar_t form a change would leave stale.
inline bool str_extendable(PyObject* s, Py_ssize_t references) {
    if (Py_REFCNT(s) != references || !PyUnicode_IS_COMPACT(s) || PyUnicode_CHECK_INTERNED(s)) return false;
    auto* ascii = reinterpret_cast<PyASCIIObject*>(s);
    if (ascii->hash != -1) return false;
#if PY_VERSION_HEX < 0x030C0000
    // Up to 3.11 a wchar_t form may be cached beside the characters.
    if (ascii->wstr != nullptr) return false;
#endif
    // An ASCII string's UTF-8 form is its own data; others may cache a copy.
    return ascii->state.ascii || reinterpret_cast<PyCompactUnicodeObject*>(s)->utf8 == nullptr;
}

/// Sets the length of a compact str made with room for at least `length`
/// characters, and its terminating NUL, as the interpreter's own resizing does.
inline void set_str_length(PyObject* s, Py_ssize_t length) {
    reinterpret_cast<PyASCIIObject*>(s)->length = length;
    PyUnicode_WRITE(PyUnicode_KIND(s), PyUnicode_DATA(s), length, 0);
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
/// our back.
#if PY_VERSION_HEX < 0x030D0000
inline void* str_data_alloc(std::size_t bytes) { return PyObject_Malloc(bytes); }
inline void* str_data_realloc(void* p, std::size_t bytes) { return PyObject_Realloc(p, bytes); }
inline void str_data_free(void* p) { PyObject_Free(p); }
#else
inline void* str_data_alloc(std::size_t bytes) { return PyMem_Malloc(bytes); }
inline void* str_data_realloc(void* p, std::size_t bytes) { return PyMem_Realloc(p, bytes); }
inline void str_data_free(void* p) { PyMem_Free(p); }
#endif

/// Whether adopt_str_data can make instances on this build: the layouts of
/// 3.9 to 3.13 are known; other versions and free-threaded builds copy.
#if PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
inline constexpr bool str_data_adoptable = true;
#else
inline constexpr bool str_data_adoptable = false;
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
/// Only for builds where str_data_adoptable is true.
inline PyObject* adopt_str_data(PyTypeObject* type, void* data, Py_ssize_t length, int kind, bool ascii) {
#if PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
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
#if PY_VERSION_HEX < 0x030C0000
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
    (void)type; (void)length; (void)kind; (void)ascii;
    str_data_free(data);
    PyErr_SetString(PyExc_SystemError, "str instances can't be made from data on this build");
    return nullptr;
#endif
}

/// The running interpreter's id, used to keep the module in one interpreter.
inline int64_t interpreter_id() {
    return PyInterpreterState_GetID(PyInterpreterState_Get());
}

}  // namespace qel::compat
