#include "text/color_strip.hpp"
#include "text/adopted_units.hpp"
#include "text/copy_scan.hpp"
#include "text/stretches512.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

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
        if (*--p == esc) {
            last_kept_escape = p - begin;
            break;
        }
    }
    copy_until(s, i, n, w, C(esc));
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
        copy_until(s, i, n, w, C(esc));
    }
    return w - begin;
}

#if QEL_TEXT_AVX2
/// Where the seven codes start, for take::stretches_512, and whether a code
/// is removed right after a kept escape and the characters between, if any,
/// begin a code ("[", "[3" or "[3X"): only then can one pass differ from
/// removing the codes one after the other (`joins`), and strip_from tells
/// whether it does.
struct CodeStarts {
    static constexpr Py_ssize_t length = 5;
    // The byte permutation that takes the 64 bytes from k on out of two
    // stretches.
    __m512i from[length];
    // For the stretch last looked at, bit j set where character j is an
    // escape, and where it is followed by "[", "[3" and "[3X"; where codes
    // start.
    std::uint64_t escapes = 0, bracket = 0, three = 0, digit = 0, found = 0;
    // The stretch before's kept escapes, and those followed by "[", "[3" and
    // "[3X".
    std::uint64_t before[4] = {};
    std::uint64_t joins = 0;

    QEL_AVX512 CodeStarts() {
        for (int k = 0; k < length; ++k) from[k] = take::from_kth_on(k);
    }

    /// The 64 characters from the k-th of `current` on.
    QEL_AVX512 __m512i shifted(__m512i current, __m512i next, int k) const {
        return _mm512_permutex2var_epi8(current, from[k], next);
    }

    QEL_AVX512 std::uint64_t starts(__m512i current, __m512i next) {
        const __m512i escape = _mm512_set1_epi8(static_cast<char>(esc));
        const __m512i second = shifted(current, next, 1), third = shifted(current, next, 2);
        // The colour digit: '1' to '8' but '7'.
        const __m512i fourth = shifted(current, next, 3);
        const __mmask64 colour = _mm512_cmple_epu8_mask(_mm512_sub_epi8(fourth, _mm512_set1_epi8('1')), _mm512_set1_epi8(7)) &
                                 _mm512_cmpneq_epi8_mask(fourth, _mm512_set1_epi8('7'));
        escapes = _cvtmask64_u64(_mm512_cmpeq_epi8_mask(current, escape));
        bracket = escapes & _cvtmask64_u64(_mm512_cmpeq_epi8_mask(second, _mm512_set1_epi8('[')));
        three = bracket & _cvtmask64_u64(_mm512_cmpeq_epi8_mask(third, _mm512_set1_epi8('3')));
        digit = three & _cvtmask64_u64(colour);
        found = digit & _cvtmask64_u64(_mm512_cmpeq_epi8_mask(shifted(current, next, 4), _mm512_set1_epi8('m')));
        return found;
    }

    void kept(std::uint64_t keep) {
        // A kept escape, and what follows it, taken k + 1 characters before
        // each code start: in this stretch or at the end of the one before.
        const std::uint64_t now[4] = {escapes & keep, bracket & keep, three & keep, digit & keep};
        std::uint64_t close = 0;
        for (int k = 0; k < 4; ++k) close |= now[k] << (k + 1) | before[k] >> (63 - k);
        joins |= found & close;
        for (int k = 0; k < 4; ++k) before[k] = now[k];
    }
};

/// strip_from's work on whole stretches of 64 characters from the start
/// (take::stretches_512); `joins` as CodeStarts has it.
template <class C>
QEL_AVX512 QEL_NOINLINE take::Progress<C> strip_blocks_512(const C* s, Py_ssize_t n, C* out, bool& joins) {
    CodeStarts codes;
    const auto at = take::stretches_512<C, false>(s, n, codes, PY_SSIZE_T_MAX, take::Progress<C>{0, 0, out, 0});
    joins = codes.joins != 0;
    return at;
}
#endif

/// s[:n] without the codes, written to `out` (room for n units); returns its
/// length, or -1 as strip_from does.
template <class C>
Py_ssize_t strip_codes(const C* s, Py_ssize_t n, C* out) {
#if QEL_TEXT_AVX2
    if (n >= 256 && simd::have_avx512()) {
        bool joins = false;
        const auto at = strip_blocks_512(s, n, out, joins);
        // Else from the start again, one escape at a time.
        if (!joins) return strip_from(s, at.i + std::countr_one(at.carry), n, out, at.w);
    }
#endif
    return strip_from(s, 0, n, out, out);
}

template <class C>
Ref strip_to_str(PyObject* text, bool& sequential_needed) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (find_unit(s, 0, n, C(esc)) == n) return Ref::retain(text);
    Ref out = Ref::adopt(PyUnicode_New(n, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return {};
    const Py_ssize_t length = strip_codes(s, n, static_cast<C*>(PyUnicode_DATA(out.get())));
    if (length < 0) {
        sequential_needed = true;
        return {};
    }
    // Shrinking the new string in place keeps its kind, which stays right:
    // only ASCII characters were removed.
    PyObject* result = out.release();
    if (PyUnicode_Resize(&result, length) < 0) return {};
    return Ref::adopt(result);
}

template <class C>
Ref strip_to_instance(PyTypeObject* type, PyObject* text, bool& sequential_needed) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    auto* out = static_cast<C*>(internals::str_data_alloc(static_cast<std::size_t>(n + 1) * sizeof(C)));
    if (!out) return Ref::adopt(PyErr_NoMemory());
    const Py_ssize_t length = strip_codes(static_cast<const C*>(PyUnicode_DATA(text)), n, out);
    if (length < 0) {
        internals::str_data_free(out);
        sequential_needed = true;
        return {};
    }
    // Only ASCII characters were removed: the width stays right.
    return adopt_units(type, out, n, length, PyUnicode_IS_ASCII(text));
}

/// The text without the codes in its own width: as a new instance of `type`,
/// or as a built-in str where `type` is null.
template <class C>
Ref strip_width(PyTypeObject* type, PyObject* text, bool& sequential_needed) {
    return type ? strip_to_instance<C>(type, text, sequential_needed) : strip_to_str<C>(text, sequential_needed);
}

Ref strip_any(PyTypeObject* type, PyObject* text, bool& sequential_needed) {
    sequential_needed = false;
    if (compat::unicode_ready(text) < 0) return {};
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return strip_width<Py_UCS1>(type, text, sequential_needed);
        case PyUnicode_2BYTE_KIND: return strip_width<Py_UCS2>(type, text, sequential_needed);
        default: return strip_width<Py_UCS4>(type, text, sequential_needed);
    }
}

}  // namespace

Ref strip_foreground_codes(PyObject* text, bool& sequential_needed) {
    return strip_any(nullptr, text, sequential_needed);
}

Ref strip_foreground_codes_into(PyTypeObject* type, PyObject* text, bool& sequential_needed) {
    return strip_any(type, text, sequential_needed);
}

}  // namespace qel::text
