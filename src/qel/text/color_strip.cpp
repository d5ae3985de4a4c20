#include "text/color_strip.hpp"
#include "text/simd.hpp"

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
inline Py_ssize_t next_escape(const C* s, Py_ssize_t from, Py_ssize_t n) {
    if constexpr (std::is_same_v<C, Py_UCS1>) {
        const void* hit = std::memchr(s + from, esc, static_cast<std::size_t>(n - from));
        return hit ? static_cast<const C*>(hit) - s : n;
    } else {
        // Whole blocks without an escape are skipped with one test each,
        // which the compiler can do on many characters at once.
        constexpr Py_ssize_t block = 16;
        for (; from + block <= n; from += block) {
            unsigned any = 0;
            for (Py_ssize_t j = 0; j < block; ++j) any |= static_cast<unsigned>(s[from + j] == esc);
            if (any) break;
        }
        while (from < n && s[from] != esc) ++from;
        return from;
    }
}

/// Copies s[i:] to `w` up to the next escape (or the end), advancing both.
template <class C>
inline void copy_to_next_escape(const C* s, Py_ssize_t& i, Py_ssize_t n, C*& w) {
#if QEL_TEXT_SIMD
    // A block of two vectors at a time: stored whole, then `w` advanced only
    // past what precedes an escape (the rest is stored again later). The
    // output never runs ahead of the input, so the stores stay in bounds.
    constexpr Py_ssize_t per = simd::lanes<C>;
    constexpr Py_ssize_t block = 2 * per;
    const simd::Vec escapes = simd::splat<C>(esc);
    while (i + block <= n) {
        const simd::Vec low = simd::load(s + i), high = simd::load(s + i + per);
        simd::store(w, low);
        simd::store(w + per, high);
        const unsigned marked = simd::byte_mask(simd::equal<C>(low, escapes)) |
                                simd::byte_mask(simd::equal<C>(high, escapes)) << 16;
        if (marked) {
            const Py_ssize_t j = simd::first_unit<C>(marked);
            w += j;
            i += j;
            return;
        }
        w += block;
        i += block;
    }
#endif
    const Py_ssize_t next = next_escape(s, i, n);
    std::memcpy(w, s + i, static_cast<std::size_t>(next - i) * sizeof(C));
    w += next - i;
    i = next;
}

template <class C>
Ref strip_kernel(PyObject* text, bool& sequential_needed) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    Py_ssize_t i = next_escape(s, 0, n);
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
        copy_to_next_escape(s, i, n, w);
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
