#include "text/color_strip.hpp"
#include "text/copy_scan.hpp"

#include <cstring>
#include <type_traits>

namespace qel::text {
namespace {

constexpr Py_UCS4 esc = 0x1b;

/// "\x1b[3Xm" with X one of 1 2 3 4 5 6 8, starting at s[i].
template <class C>
inline bool code_at(const C* s, Py_ssize_t i, Py_ssize_t n) {
    if (i + 4 >= n || s[i + 1] != '[' || s[i + 2] != '3' || s[i + 4] != 'm') return false;
    const C d = s[i + 3];
    return (d >= '1' && d <= '6') || d == '8';
}

/// Whether the kept characters after an escape at out[esc] (up to `end`) are
/// still the beginning of some foreground code, so a removal at `end` could
/// complete one.
template <class C>
inline bool could_start_code(const C* out, Py_ssize_t esc, Py_ssize_t end) {
    for (Py_ssize_t j = esc + 1; j < end; ++j) {
        const C c = out[j];
        switch (j - esc) {
            case 1: if (c != '[') return false; break;
            case 2: if (c != '3') return false; break;
            default: if (!((c >= '1' && c <= '6') || c == '8')) return false; break;
        }
    }
    return true;
}

template <class C>
Ref strip_kernel(PyObject* text, bool& sequential_needed) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    Py_ssize_t i = find_unit(s, 0, n, C(esc));
    if (i == n) return Ref::retain(text);

    Ref out = Ref::adopt(PyUnicode_New(n, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return {};
    C* w = static_cast<C*>(PyUnicode_DATA(out.get()));
    C* const begin = w;
    std::memcpy(w, s, static_cast<std::size_t>(i) * sizeof(C));
    w += i;
    Py_ssize_t last_kept_escape = -8;  // output index of the last escape kept (far away at first)
    while (i < n) {
        // s[i] is an escape.
        if (code_at(s, i, n)) {
            // The removed code joins what precedes it to what follows; a new
            // code can only form if an escape kept within the last four
            // characters starts one.
            const Py_ssize_t end = w - begin;
            if (end - last_kept_escape <= 4 && could_start_code(begin, last_kept_escape, end)) {
                sequential_needed = true;
                return {};
            }
            i += 5;
        } else {
            last_kept_escape = w - begin;
            *w++ = s[i++];
        }
        copy_until(s, i, n, w, C(esc));
    }
    // Shrinking the new string in place keeps its kind, which stays right:
    // only ASCII characters were removed.
    PyObject* result = out.release();
    if (PyUnicode_Resize(&result, w - begin) < 0) return {};
    return Ref::adopt(result);
}

}  // namespace

Ref strip_foreground_codes(PyObject* text, bool& sequential_needed) {
    sequential_needed = false;
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return strip_kernel<Py_UCS1>(text, sequential_needed);
        case PyUnicode_2BYTE_KIND: return strip_kernel<Py_UCS2>(text, sequential_needed);
        default: return strip_kernel<Py_UCS4>(text, sequential_needed);
    }
}

}  // namespace qel::text
