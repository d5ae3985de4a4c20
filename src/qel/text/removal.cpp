// Taking every occurrence of a piece out of a text in one pass (the kernel in
// simd/piece_removal.cpp), written into the result's own storage.
#include "text/removal.hpp"

#include "simd/piece_removal.hpp"
#include "text/adopted_units.hpp"

#include <cstring>
#include <iterator>

namespace qel::text {
namespace {

/// The classes of characters a str's storage distinguishes, narrowest first.
int width_class(PyObject* s) {
    return PyUnicode_IS_ASCII(s) ? 0 : PyUnicode_KIND(s);
}

template <class C>
Ref remove_width(PyTypeObject* type, PyObject* text, PyObject* piece, Py_ssize_t limit) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const Py_ssize_t m = PyUnicode_GET_LENGTH(piece);
    auto* out = static_cast<C*>(internals::str_data_alloc(static_cast<std::size_t>(n + 1) * sizeof(C)));
    if (!out) return Ref::adopt(PyErr_NoMemory());
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    Py_ssize_t length = n;
    if (limit == 0 || m > n) {
        std::memcpy(out, s, static_cast<std::size_t>(n) * sizeof(C));
    } else if (PyUnicode_KIND(piece) == static_cast<int>(sizeof(C))) {
        length = simd::remove_piece(s, n, static_cast<const C*>(PyUnicode_DATA(piece)), m, limit, out);
    } else {
        // The piece in the text's width (it is narrower here); short pieces,
        // the usual ones, on the stack.
        C on_stack[64];
        C* pat = on_stack;
        if (m > static_cast<Py_ssize_t>(std::size(on_stack))) {
            pat = static_cast<C*>(PyMem_Malloc(static_cast<std::size_t>(m) * sizeof(C)));
            if (!pat) {
                internals::str_data_free(out);
                return Ref::adopt(PyErr_NoMemory());
            }
        }
        const int kind = PyUnicode_KIND(piece);
        const void* data = PyUnicode_DATA(piece);
        for (Py_ssize_t j = 0; j < m; ++j) pat[j] = static_cast<C>(PyUnicode_READ(kind, data, j));
        length = simd::remove_piece(s, n, pat, m, limit, out);
        if (pat != on_stack) PyMem_Free(pat);
    }
    return adopt_units(type, out, n, length, PyUnicode_IS_ASCII(text));
}

}  // namespace

Outcome remove_into(PyTypeObject* type, PyObject* text, PyObject* piece, Py_ssize_t limit) {
    if (!internals::str_layout_writable || !PyUnicode_Check(text) || !PyUnicode_Check(piece))
        return Outcome::declined();
    if (compat::unicode_ready(text) < 0 || compat::unicode_ready(piece) < 0) {
        PyErr_Clear();  // the general way meets the same failure and reports it
        return Outcome::declined();
    }
    const Py_ssize_t m = PyUnicode_GET_LENGTH(piece);
    if (m == 0) return Outcome::declined();
    const int text_class = width_class(text), piece_class = width_class(piece);
    if (piece_class > text_class) {
        // A piece with a character wider than any of the text's can't occur:
        // the result is the text itself.
        limit = 0;
    } else if (piece_class == text_class && text_class != 0) {
        // Removing characters the text needs its width for could make it
        // narrower.
        return Outcome::declined();
    }
    if (limit < 0) limit = PY_SSIZE_T_MAX;
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return remove_width<Py_UCS1>(type, text, piece, limit);
        case PyUnicode_2BYTE_KIND: return remove_width<Py_UCS2>(type, text, piece, limit);
        default: return remove_width<Py_UCS4>(type, text, piece, limit);
    }
}

}  // namespace qel::text
