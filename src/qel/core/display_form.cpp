// The display form of a text, as the string type's repr shows it: backslash
// doubled; double quote, CR, LF and tab escaped; ESC shown as "\33". Written
// in one pass into room for the longest form, or for long texts measured
// first (both passes in simd/display_form.cpp).
#include "core/display_form.hpp"

#include "simd/display_form.hpp"

#include <string_view>

namespace qel::core {
namespace {

template <class C>
void write_ascii(C*& out, std::string_view s) {
    for (char ch : s) *out++ = static_cast<C>(ch);
}

/// Texts up to this many characters are written in one pass into room for
/// the longest possible form (three units per character), which is then
/// trimmed; longer ones are measured first, so the room never exceeds the
/// result.
constexpr Py_ssize_t one_pass_limit = Py_ssize_t{1} << 18;

template <class C>
Ref display_kernel(PyObject* text, std::string_view prefix, std::string_view suffix) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const auto fixed = static_cast<Py_ssize_t>(prefix.size() + suffix.size());
    const bool one_pass = n <= one_pass_limit;
    const Py_ssize_t room = fixed + (one_pass ? 3 * n : simd::display_size(s, n));
    // The added characters are ASCII, so the result keeps the text's kind.
    Ref out = Ref::adopt(PyUnicode_New(room, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return {};
    C* const begin = static_cast<C*>(PyUnicode_DATA(out.get()));
    C* w = begin;
    write_ascii(w, prefix);
    w = simd::write_display(s, n, w);
    write_ascii(w, suffix);
    if (!one_pass) return out;
    PyObject* result = out.release();
    if (PyUnicode_Resize(&result, w - begin) < 0) return {};
    return Ref::adopt(result);
}

}  // namespace

Ref escape_display(PyObject* text, std::string_view prefix, std::string_view suffix) {
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return display_kernel<Py_UCS1>(text, prefix, suffix);
        case PyUnicode_2BYTE_KIND: return display_kernel<Py_UCS2>(text, prefix, suffix);
        default: return display_kernel<Py_UCS4>(text, prefix, suffix);
    }
}

}  // namespace qel::core
