// Taking the foreground colour codes out of a text: one escape at a time,
// after whole stretches of 64 characters where the processor has AVX-512.
#include "simd/code_strip.hpp"

#include "simd/code_starts64.hpp"
#include "simd/copy_until.hpp"

#include <bit>

namespace qel::simd {
namespace {

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

/// Takes the codes out of s[i:n] one escape at a time, writing on at w after
/// what is already written from `begin`. Returns the length written from
/// `begin`, or -1 when a removal joins what precedes it to what follows into
/// what could be a new code.
template <class C>
Py_ssize_t strip_from(const C* s, Py_ssize_t i, Py_ssize_t n, C* begin, C* w) {
    // The output index of the last escape kept, if it is among the last four
    // characters written (only such an escape can start a joined code).
    Py_ssize_t last_kept_escape = -8;
    for (const C* p = w; p > begin && w - p < 4;) {
        if (*--p == code_escape) {
            last_kept_escape = p - begin;
            break;
        }
    }
    copy_until(s, i, n, w, C(code_escape));
    while (i < n) {
        // s[i] is an escape.
        if (code_at(s, i, n)) {
            // The removed code joins what precedes it to what follows; a new
            // code can only form if an escape kept within the last four
            // characters starts one.
            const Py_ssize_t end = w - begin;
            if (end - last_kept_escape <= 4 && could_start_code(begin, last_kept_escape, end)) return -1;
            i += 5;
        } else {
            last_kept_escape = w - begin;
            *w++ = s[i++];
        }
        copy_until(s, i, n, w, C(code_escape));
    }
    return w - begin;
}

}  // namespace

template <class C>
Py_ssize_t strip_codes(const C* s, Py_ssize_t n, C* out) {
#if QEL_SIMD_AVX
    if (n >= 256 && have_avx512()) {
        bool joins = false;
        const auto at = v64::strip_blocks(s, n, out, joins);
        // Else from the start again, one escape at a time.
        if (!joins) return strip_from(s, at.i + std::countr_one(at.carry), n, out, at.w);
    }
#endif
    return strip_from(s, 0, n, out, out);
}

template Py_ssize_t strip_codes(const Py_UCS1*, Py_ssize_t, Py_UCS1*);
template Py_ssize_t strip_codes(const Py_UCS2*, Py_ssize_t, Py_UCS2*);
template Py_ssize_t strip_codes(const Py_UCS4*, Py_ssize_t, Py_UCS4*);

}  // namespace qel::simd
