// The foreground colour codes taken out of a str (the kernel in
// simd/code_strip.cpp), into a built-in str or straight into an instance of
// the module's str type.
#include "text/color_strip.hpp"

#include "simd/code_strip.hpp"
#include "simd/copy_until.hpp"
#include "text/adopted_units.hpp"

namespace qel::text {
namespace {

template <class C>
Outcome strip_to_str(PyObject* text) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (simd::find_unit(s, 0, n, C(simd::code_escape)) == n) return Ref::retain(text);
    Ref out = Ref::adopt(PyUnicode_New(n, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return Ref();
    const Py_ssize_t length = simd::strip_codes(s, n, static_cast<C*>(PyUnicode_DATA(out.get())));
    if (length < 0) return Outcome::declined();
    // Shrinking the new string in place keeps its kind, which stays right:
    // only ASCII characters were removed.
    PyObject* result = out.release();
    if (PyUnicode_Resize(&result, length) < 0) return Ref();
    return Ref::adopt(result);
}

template <class C>
Outcome strip_to_instance(PyTypeObject* type, PyObject* text) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    auto* out = static_cast<C*>(internals::str_data_alloc(static_cast<std::size_t>(n + 1) * sizeof(C)));
    if (!out) return Ref::adopt(PyErr_NoMemory());
    const Py_ssize_t length = simd::strip_codes(static_cast<const C*>(PyUnicode_DATA(text)), n, out);
    if (length < 0) {
        internals::str_data_free(out);
        return Outcome::declined();
    }
    // Only ASCII characters were removed: the width stays right.
    return adopt_units(type, out, n, length, PyUnicode_IS_ASCII(text));
}

/// The text without the codes in its own width: as a new instance of `type`,
/// or as a built-in str where `type` is null.
template <class C>
Outcome strip_width(PyTypeObject* type, PyObject* text) {
    return type ? strip_to_instance<C>(type, text) : strip_to_str<C>(text);
}

Outcome strip_any(PyTypeObject* type, PyObject* text) {
    if (compat::unicode_ready(text) < 0) return Ref();
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return strip_width<Py_UCS1>(type, text);
        case PyUnicode_2BYTE_KIND: return strip_width<Py_UCS2>(type, text);
        default: return strip_width<Py_UCS4>(type, text);
    }
}

}  // namespace

Outcome strip_foreground_codes(PyObject* text) {
    return strip_any(nullptr, text);
}

Outcome strip_foreground_codes_into(PyTypeObject* type, PyObject* text) {
    return strip_any(type, text);
}

}  // namespace qel::text
