// The display form of a text, as the string type's repr shows it: backslash
// doubled; double quote, CR, LF and tab escaped; ESC shown as "\33". Written
// in one pass into room for the longest form, or for long texts measured
// first. On x86-64 both passes look at whole vectors of characters; the
// measuring pass never branches on the text, the writing pass once per
// escape (text dense with escapes is the common case for coloured output).
#include "text/escape.hpp"
#include "text/narrow512.hpp"
#include "text/simd.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qel::text {
namespace {

/// Extra characters a code unit needs in the display form.
template <class C>
inline Py_ssize_t extra_for(C c) {
    return Py_ssize_t(c == '\\') + Py_ssize_t(c == '"') + Py_ssize_t(c == '\r') + Py_ssize_t(c == '\n') +
           Py_ssize_t(c == '\t') + 2 * Py_ssize_t(c == 0x1b);
}

/// The display form of each ASCII character: up to three units, and how many.
struct DisplayForms {
    unsigned char unit[128][3] = {};
    unsigned char size[128] = {};
    constexpr DisplayForms() {
        for (unsigned c = 0; c < 128; ++c) {
            unit[c][0] = static_cast<unsigned char>(c);
            size[c] = 1;
        }
        set('\\', "\\\\");
        set('"', "\\\"");
        set('\r', "\\r");
        set('\n', "\\n");
        set('\t', "\\t");
        set(0x1b, "\\33");
    }
    constexpr void set(unsigned c, const char* form) {
        unsigned char n = 0;
        for (; form[n]; ++n) unit[c][n] = static_cast<unsigned char>(form[n]);
        size[c] = n;
    }
};
constexpr DisplayForms display_forms;

/// Writes one character's display form. Always stores three units, so at
/// least two units of room must follow the form itself; no branch depends on
/// the text.
template <class C>
inline C* write_one_padded(C c, C* out) {
    const bool ascii = c < 128;
    const unsigned k = ascii ? static_cast<unsigned>(c) : 0u;
    out[0] = ascii ? static_cast<C>(display_forms.unit[k][0]) : c;
    out[1] = static_cast<C>(display_forms.unit[k][1]);
    out[2] = static_cast<C>(display_forms.unit[k][2]);
    return out + (ascii ? display_forms.size[k] : 1);
}

#if QEL_TEXT_SIMD
/// The display forms again, four units wide in the text's own width, so one
/// store writes a whole form.
template <class C>
struct WideForms {
    C unit[128][4] = {};
    constexpr WideForms() {
        for (unsigned c = 0; c < 128; ++c)
            for (unsigned j = 0; j < 3; ++j) unit[c][j] = static_cast<C>(display_forms.unit[c][j]);
    }
};
template <class C>
constexpr WideForms<C> wide_forms;

/// Stores the form of an ASCII character with one four-unit store; at least
/// one unit of room must follow the longest form.
template <class C>
inline void store_form(C c, C* out) {
    std::memcpy(out, wide_forms<C>.unit[c], sizeof wide_forms<C>.unit[c]);
}

/// Writes the form of an ASCII character with one four-unit store; at least
/// three units of room must follow the form itself.
template <class C>
inline C* write_form(C c, C* out) {
    store_form(c, out);
    return out + display_forms.size[c];
}
#endif

template <class C>
inline C* write_one(C c, C* out) {
    if (c >= 128) {
        *out = c;
        return out + 1;
    }
    for (unsigned j = 0; j < display_forms.size[c]; ++j) out[j] = static_cast<C>(display_forms.unit[c][j]);
    return out + display_forms.size[c];
}

#if QEL_TEXT_SIMD
/// The units of one vector that need escaping: all six characters (`any`),
/// and ESC alone, which needs one more unit than the others.
template <class C>
struct Marks {
    simd::Vec any;
    simd::Vec esc;
};

template <class C>
inline Marks<C> marks_at(const C* p) {
    using namespace simd;
    const Vec v = load(p);
    const Vec esc = equal<C>(v, splat<C>(0x1b));
    Vec any = either(esc, equal<C>(v, splat<C>('\\')));
    any = either(any, equal<C>(v, splat<C>('"')));
    any = either(any, equal<C>(v, splat<C>('\r')));
    any = either(any, equal<C>(v, splat<C>('\n')));
    any = either(any, equal<C>(v, splat<C>('\t')));
    return {any, esc};
}

/// A quicker test for the write pass: every unit that needs escaping, and
/// also the other control characters up to ESC, whose form is themselves.
template <class C>
inline simd::Vec maybe_marked(simd::Vec v) {
    using namespace simd;
    const Vec control = at_most<C>(v, 0x1b);
    return either(control, either(equal<C>(v, splat<C>('\\')), equal<C>(v, splat<C>('"'))));
}
#endif

#if QEL_TEXT_AVX2
template <class C>
QEL_AVX2 inline simd::wide::Vec maybe_marked_wide(simd::wide::Vec v) {
    using namespace simd::wide;
    const Vec control = at_most<C>(v, 0x1b);
    return either(control, either(equal<C>(v, splat<C>('\\')), equal<C>(v, splat<C>('"'))));
}

/// The block loop of write_display below with one 32-byte vector per block
/// (the same bytes as two 16-byte ones); advances `i` and returns the end.
template <class C>
QEL_AVX2 C* write_blocks_wide(const C* s, Py_ssize_t n, Py_ssize_t& i, C* out) {
    namespace wide = simd::wide;
    constexpr Py_ssize_t block = static_cast<Py_ssize_t>(32 / sizeof(C));
    for (; i + 2 * block <= n; i += block) {
        const wide::Vec v = wide::load(s + i);
        unsigned marked = wide::byte_mask(maybe_marked_wide<C>(v));
        wide::store(out, v);
        Py_ssize_t placed = 0;
        while (marked) {
            const Py_ssize_t j = simd::first_unit<C>(marked);
            out += j - placed;
            out = write_form(s[i + j], out);
            wide::store(out, wide::load(s + i + j + 1));
            placed = j + 1;
            marked = simd::clear_through<C>(marked, j);
        }
        out += block - placed;
    }
    return out;
}
#endif

#if QEL_TEXT_AVX2
/// The escapes among 64 characters, one bit each: where any starts, and where
/// those of ESC (three units) start.
struct Escapes64 {
    std::uint64_t any;
    std::uint64_t esc;
};

template <class C>
QEL_AVX512 inline Escapes64 escapes_512(const C* p) {
    const __m512i b = simd512::narrowed(p, simd512::every_character);
    const auto is = [&b](char c) QEL_AVX512 { return _mm512_cmpeq_epi8_mask(b, _mm512_set1_epi8(c)); };
    const __mmask64 esc = is(0x1b);
    return {_cvtmask64_u64(esc | is('\\') | is('"') | is('\r') | is('\n') | is('\t')), _cvtmask64_u64(esc)};
}

/// Copies `length` characters from `from` to `to` in whole vectors of 64
/// bytes; returns the end of the copy. The last vector may run past it. Runs
/// between escapes are mostly short, and a vector more per run than needed
/// costs more in stores than the loop saves.
template <class C>
QEL_AVX512 inline C* copy_run(const C* from, Py_ssize_t length, C* to) {
    constexpr Py_ssize_t lanes = 64 / static_cast<Py_ssize_t>(sizeof(C));
    C* const end = to + length;
    for (;;) {
        _mm512_storeu_si512(to, _mm512_loadu_si512(from));
        if (length <= lanes) return end;
        from += lanes;
        to += lanes;
        length -= lanes;
    }
}

/// The block loop of write_display with AVX-512: the escapes of 64
/// characters at a time, and between them the runs of plain characters
/// copied a vector at a time. Against the smaller blocks, the loop over a
/// block's escapes ends (and its last turn is mispredicted) once per 64
/// characters instead of once per 8 to 32. Advances `i` and returns the end.
///
/// Each store has room: it starts where the display form of a character at
/// least 64 before the text's end goes, and writes at most 64 units.
template <class C>
QEL_AVX512 QEL_NOINLINE C* write_blocks_512(const C* s, Py_ssize_t n, Py_ssize_t& i_io, C* out) {
    Py_ssize_t i = i_io;
    for (; i + 128 <= n; i += 64) {
        const C* block = s + i;
        auto [any, esc] = escapes_512(block);
        Py_ssize_t from = 0;  // the first character of the block not yet written
        while (any) {
            const auto j = static_cast<Py_ssize_t>(std::countr_zero(any));
            out = copy_run(block + from, j - from, out);
            store_form(block[j], out);  // only ASCII characters are marked
            out += 2 + (esc >> j & 1);
            from = j + 1;
            any &= any - 1;
        }
        out = copy_run(block + from, 64 - from, out);
    }
    i_io = i;
    return out;
}

/// The units display_size adds for s[i:], 64 characters at a time while 64
/// remain; advances `i`.
template <class C>
QEL_AVX512 QEL_NOINLINE Py_ssize_t extra_512(const C* s, Py_ssize_t n, Py_ssize_t& i_io) {
    Py_ssize_t extra = 0, i = i_io;
    for (; i + 64 <= n; i += 64) {
        const auto [any, esc] = escapes_512(s + i);
        extra += std::popcount(any) + std::popcount(esc);
    }
    i_io = i;
    return extra;
}
#endif

template <class C>
Py_ssize_t display_size(const C* s, Py_ssize_t n) {
    Py_ssize_t extra = 0;
    Py_ssize_t i = 0;
#if QEL_TEXT_AVX2
    if (simd::have_avx512()) extra = extra_512(s, n, i);
#endif
#if QEL_TEXT_SIMD
    // Each vector adds at most two to a unit's counter.
    constexpr Py_ssize_t per = simd::lanes<C>;
    constexpr Py_ssize_t run = simd::counter_capacity<C> / 2;
    while (i + per <= n) {
        simd::Vec counter = _mm_setzero_si128();
        for (Py_ssize_t k = 0; k < run && i + per <= n; ++k, i += per) {
            const Marks<C> m = marks_at(s + i);
            counter = simd::count_marked<C>(simd::count_marked<C>(counter, m.any), m.esc);
        }
        extra += simd::counter_sum<C>(counter);
    }
#endif
    for (; i < n; ++i) extra += extra_for(s[i]);
    return n + extra;
}

/// Writes the display form of s[0:n] at `out`; returns the end of it.
template <class C>
C* write_display(const C* s, Py_ssize_t n, C* out) {
    Py_ssize_t i = 0;
#if QEL_TEXT_AVX2
    if (simd::have_avx512()) out = write_blocks_512(s, n, i, out);
    if (simd::have_avx2()) out = write_blocks_wide(s, n, i, out);
#endif
#if QEL_TEXT_SIMD
    // Blocks of two vectors. Each block is stored as it stands; at every
    // character that needs escaping the form is written and the rest of the
    // block stored again after it. Stores may run past the block: the next
    // block overwrites them. While two more blocks of text follow, every
    // store has room (each character takes at least one unit).
    constexpr Py_ssize_t per = simd::lanes<C>;
    constexpr Py_ssize_t block = 2 * per;
    for (; i + 2 * block <= n; i += block) {
        const simd::Vec low = simd::load(s + i), high = simd::load(s + i + per);
        unsigned marked = simd::byte_mask(maybe_marked<C>(low)) | simd::byte_mask(maybe_marked<C>(high)) << 16;
        simd::store(out, low);
        simd::store(out + per, high);
        Py_ssize_t placed = 0;  // characters of the block already in place before `out`
        while (marked) {
            const Py_ssize_t j = simd::first_unit<C>(marked);
            out += j - placed;
            out = write_form(s[i + j], out);  // only ASCII characters are marked
            simd::store(out, simd::load(s + i + j + 1));
            simd::store(out + per, simd::load(s + i + j + 1 + per));
            placed = j + 1;
            marked = simd::clear_through<C>(marked, j);
        }
        out += block - placed;
    }
#endif
    // Every character takes at least one unit, so while two more characters
    // follow there is room for the padded write.
    for (; i < n - 2; ++i) out = write_one_padded(s[i], out);
    for (; i < n; ++i) out = write_one(s[i], out);
    return out;
}

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
    const Py_ssize_t room = fixed + (one_pass ? 3 * n : display_size(s, n));
    // The added characters are ASCII, so the result keeps the text's kind.
    Ref out = Ref::adopt(PyUnicode_New(room, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return {};
    C* const begin = static_cast<C*>(PyUnicode_DATA(out.get()));
    C* w = begin;
    write_ascii(w, prefix);
    w = write_display(s, n, w);
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

}  // namespace qel::text
