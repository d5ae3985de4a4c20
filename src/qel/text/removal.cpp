// Taking every occurrence of a piece out of a text in one pass, written into
// the result's own storage.
#include "text/removal.hpp"

#include "text/adopted_units.hpp"
#include "text/copy_scan.hpp"
#include "text/stretches512.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

namespace qel::text {
namespace {

/// The classes of characters a str's storage distinguishes, narrowest first.
int width_class(PyObject* s) {
    return PyUnicode_IS_ASCII(s) ? 0 : PyUnicode_KIND(s);
}

/// s without its first `limit` non-overlapping occurrences of `pat`, found
/// left to right, written to `out` (room for n units). Returns the length.
template <class C>
Py_ssize_t remove_kernel(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
    C* w = out;
    Py_ssize_t i = 0;
    const C first = pat[0];
    const std::size_t rest = static_cast<std::size_t>(m - 1) * sizeof(C);
    for (Py_ssize_t removed = 0; removed < limit;) {
        copy_until(s, i, n, w, first);
        if (n - i < m) break;
        if (std::memcmp(s + i + 1, pat + 1, rest) == 0) {
            i += m;
            ++removed;
        } else {
            *w++ = s[i++];
        }
    }
    std::memcpy(w, s + i, static_cast<std::size_t>(n - i) * sizeof(C));
    return (w - out) + (n - i);
}

#if QEL_TEXT_AVX2
/// Whether two occurrences of the pattern can overlap: some proper prefix of
/// it is also a suffix. When they can't, every occurrence is removed.
/// (Compared unit by unit: the pattern is short here, and a call to memcmp
/// per place cost more than the comparisons.)
template <class C>
bool can_overlap(const C* pat, Py_ssize_t m) {
    for (Py_ssize_t k = 1; k < m; ++k) {
        Py_ssize_t same = 0;
        while (same < m - k && pat[same] == pat[k + same]) ++same;
        if (same == m - k) return true;
    }
    return false;
}

/// Whether the pattern's units compare the same as bytes: every unit is
/// below 255.
template <class C>
bool narrow_enough(const C* pat, Py_ssize_t m) {
    for (Py_ssize_t k = 0; k < m; ++k)
        if (pat[k] >= 255) return false;
    return true;
}

/// The longest pattern the vector kernels compare whole.
constexpr Py_ssize_t vector_pattern_max = 16;

/// Where a piece of at most 16 units, all below 255, that can't overlap
/// itself starts, for take::stretches_512: for each pattern unit k, the 64
/// bytes from k on (taken across this stretch and the next by one
/// permutation) are compared with the unit; a start is where every unit
/// matches. A `fixed_m` above 0 is the piece's length, known at compile time
/// (see blocks_512_for).
template <int fixed_m>
struct PieceStarts {
    Py_ssize_t length;
    // For each pattern unit k: the unit in every byte, and the byte
    // permutation that takes the 64 bytes from k on out of two stretches.
    __m512i units[vector_pattern_max], from[vector_pattern_max];

    template <class C>
    QEL_AVX512 PieceStarts(const C* pat, Py_ssize_t m) : length(fixed_m > 0 ? fixed_m : m) {
        for (Py_ssize_t k = 0; k < length; ++k) {
            units[k] = _mm512_set1_epi8(static_cast<char>(pat[k]));
            from[k] = take::from_kth_on(static_cast<int>(k));
        }
    }

    QEL_AVX512 std::uint64_t starts(__m512i current, __m512i next) const {
        // Any bit set where some unit differs: differ | (bytes ^ unit).
        __m512i differ = _mm512_xor_si512(current, units[0]);
        for (Py_ssize_t k = 1; k < length; ++k)
            differ = _mm512_ternarylogic_epi64(differ, _mm512_permutex2var_epi8(current, from[k], next), units[k], 0xF6);
        return _cvtmask64_u64(_mm512_testn_epi8_mask(differ, differ));
    }

    void kept(std::uint64_t) const {}
};

/// remove_kernel's work on stretches of 64 characters (take::stretches_512)
/// for a piece that PieceStarts takes.
template <class C, int fixed_m, bool counted>
QEL_AVX512 QEL_NOINLINE take::Progress<C> remove_blocks_512(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m,
                                                            Py_ssize_t limit, take::Progress<C> start) {
    PieceStarts<fixed_m> piece(pat, m);
    return take::stretches_512<C, counted>(s, n, piece, limit, start);
}

/// The remove_blocks_512 for a pattern of length m and at most `limit`
/// removals. Removing every occurrence, the usual call, is compiled for each
/// length from 1 to 8 (the usual pieces, colour codes among them) and for any
/// length (0): with the length fixed the comparisons are unrolled and their
/// vectors stay in registers, about 5% of the kernel's time on four-byte
/// text, and leaving the occurrences uncounted saves a little more. A limit
/// takes the one instance that counts them, for any length.
template <class C>
auto blocks_512_for(Py_ssize_t m, Py_ssize_t limit) {
    constexpr std::size_t fixed_max = 8;
    static constexpr auto by_length = []<std::size_t... M>(std::index_sequence<M...>) {
        return std::array{&remove_blocks_512<C, static_cast<int>(M), false>...};
    }(std::make_index_sequence<fixed_max + 1>{});
    if (limit != PY_SSIZE_T_MAX) return &remove_blocks_512<C, 0, true>;
    return by_length[static_cast<std::size_t>(m) <= fixed_max ? static_cast<std::size_t>(m) : 0];
}

/// Bit j set where the pattern starts at p[j], for the 32 characters from p;
/// reads p[0] to p[31 + m - 1]. The characters from each pattern unit's place
/// on are loaded as they stand and compared whole with it.
template <class C>
QEL_AVX2 inline std::uint32_t starts_avx2(const C* p, const __m256i* units, Py_ssize_t m) {
    constexpr Py_ssize_t lanes = 32 / static_cast<Py_ssize_t>(sizeof(C));
    // Any bit set where some unit differs: differ | (characters ^ unit).
    __m256i differ[sizeof(C)];
    for (std::size_t v = 0; v < sizeof(C); ++v) differ[v] = _mm256_setzero_si256();
    for (Py_ssize_t k = 0; k < m; ++k)
        for (std::size_t v = 0; v < sizeof(C); ++v)
            differ[v] = _mm256_or_si256(differ[v], _mm256_xor_si256(simd::wide::load(p + v * lanes + k), units[k]));
    const __m256i zero = _mm256_setzero_si256();
    if constexpr (sizeof(C) == 1) {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(differ[0], zero)));
    } else if constexpr (sizeof(C) == 2) {
        // Packed to bytes per 128-bit lane, then the lanes put in order.
        const __m256i packed = _mm256_packs_epi16(_mm256_cmpeq_epi16(differ[0], zero), _mm256_cmpeq_epi16(differ[1], zero));
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8)));
    } else {
        std::uint32_t starts = 0;
        for (std::size_t v = 0; v < 4; ++v) {
            const __m256 equal = _mm256_castsi256_ps(_mm256_cmpeq_epi32(differ[v], zero));
            starts |= static_cast<std::uint32_t>(_mm256_movemask_ps(equal)) << (8 * v);
        }
        return starts;
    }
}

/// Where the piece starts among 32 characters, its characters compared whole
/// (see starts_avx2): any piece of up to 16 units. Reads 48 characters.
template <class C>
struct WholeStarts {
    static constexpr Py_ssize_t reach = 32 + vector_pattern_max;
    __m256i units[vector_pattern_max];
    Py_ssize_t length;

    QEL_AVX2 WholeStarts(const C* pat, Py_ssize_t m) : length(m) {
        for (Py_ssize_t k = 0; k < m; ++k) units[k] = simd::wide::splat<C>(static_cast<unsigned>(pat[k]));
    }

    QEL_AVX2 std::uint32_t starts(const C* p) { return starts_avx2(p, units, length); }
};

/// differ | (the 32 bytes from k on ^ units[k]) for k from K to M - 1, the
/// bytes from k on taken out of `current` and `straddle` (its high lane and
/// the next stretch's low one) by a shift of each lane.
template <int K, int M>
QEL_AVX2 inline __m256i differ_from(__m256i differ, __m256i current, __m256i straddle, const __m256i* units) {
    if constexpr (K >= M) {
        return differ;
    } else {
        const __m256i from_k = _mm256_alignr_epi8(straddle, current, K);
        return differ_from<K + 1, M>(_mm256_or_si256(differ, _mm256_xor_si256(from_k, units[K])), current, straddle,
                                     units);
    }
}

/// Where a piece of M units, all below 255, starts among 32 characters, the
/// characters compared as bytes (simd256::narrowed): about half the work of
/// comparing them whole on four-byte text. Reads 64 characters. Called for
/// one stretch after another, it narrows each stretch once, keeping the next
/// one's bytes for the following call.
template <class C, int M>
struct NarrowedStarts {
    static constexpr Py_ssize_t reach = 64, length = M;
    __m256i units[M];
    __m256i next = _mm256_setzero_si256();
    const C* next_at = nullptr;

    QEL_AVX2 NarrowedStarts(const C* pat, Py_ssize_t) {
        for (int k = 0; k < M; ++k) units[k] = _mm256_set1_epi8(static_cast<char>(pat[k]));
    }

    QEL_AVX2 std::uint32_t starts(const C* p) {
        const __m256i current = p == next_at ? next : simd256::narrowed(p);
        next = simd256::narrowed(p + 32);
        next_at = p + 32;
        const __m256i straddle = _mm256_permute2x128_si256(current, next, 0x21);
        const __m256i differ = differ_from<1, M>(_mm256_xor_si256(current, units[0]), current, straddle, units);
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(differ, _mm256_setzero_si256())));
    }
};

/// remove_blocks_512's work with 32-byte vectors (AVX2), in the same runs, 32
/// characters a stretch, `Starts` finding where the piece starts; the kept
/// characters of each group of 8 are moved together from a table (see
/// take::store_group). Stops where fewer than Starts::reach characters
/// remain, so that every load stays inside the text.
template <class C, class Starts>
QEL_AVX2 QEL_NOINLINE take::Progress<C> remove_blocks_avx2(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m,
                                                           Py_ssize_t limit, take::Progress<C> start) {
    constexpr int run = 32;
    constexpr Py_ssize_t stretch = 32;
    Starts piece(pat, m);
    const std::uint64_t span = (std::uint64_t{1} << piece.length) - 1;
    auto [i, removed, w, carry] = start;  // by value, as in take::stretches_512
    std::uint32_t keeps[run];  // per stretch, the characters that stay
    while (i + Starts::reach <= n) {
        int stretches = 0;
        Py_ssize_t found = 0;
        for (Py_ssize_t at = i; stretches < run && at + Starts::reach <= n; ++stretches, at += stretch) {
            const std::uint32_t starts = piece.starts(s + at);
            const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
            if (here > limit - removed - found) break;
            found += here;
            const std::uint64_t covered = starts * span | carry;
            keeps[stretches] = ~static_cast<std::uint32_t>(covered);
            carry = covered >> stretch;
        }
        for (int t = 0; t < stretches; ++t) {
            const C* from = s + i + t * stretch;
            for (int g = 0; g < 4; ++g) w = take::store_group(from + 8 * g, keeps[t] >> (8 * g) & 0xffu, w);
        }
        i += stretches * stretch;
        removed += found;
        if (stretches < run) break;  // near the end, or at the limit
    }
    return {i, removed, w, carry};
}

/// The remove_blocks_avx2 for a piece of length m: compared as bytes where
/// its units are all below 255 and it has at most 8 (compiled for each
/// length), else whole.
template <class C>
auto blocks_avx2_for(const C* pat, Py_ssize_t m) {
    constexpr std::size_t narrowed_max = 8;
    static constexpr auto by_length = []<std::size_t... M>(std::index_sequence<M...>) {
        return std::array{&remove_blocks_avx2<C, NarrowedStarts<C, static_cast<int>(M) + 1>>...};
    }(std::make_index_sequence<narrowed_max>{});
    if (static_cast<std::size_t>(m) <= narrowed_max && narrow_enough(pat, m))
        return by_length[static_cast<std::size_t>(m) - 1];
    return &remove_blocks_avx2<C, WholeStarts<C>>;
}

#endif

template <class C>
Py_ssize_t remove_any(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
#if QEL_TEXT_AVX2
    if (m <= vector_pattern_max && n >= 256 && simd::have_avx2() && !can_overlap(pat, m)) {
        take::Progress<C> at{0, 0, out, 0};
        // The 64-character kernel compares the characters as bytes.
        if (simd::have_avx512() && narrow_enough(pat, m)) at = blocks_512_for<C>(m, limit)(s, n, pat, m, limit, at);
        else at = blocks_avx2_for<C>(pat, m)(s, n, pat, m, limit, at);
        // The rest one occurrence at a time, after what the last one covers.
        const Py_ssize_t i = at.i + std::countr_one(at.carry);
        return (at.w - out) + remove_kernel(s + i, n - i, pat, m, limit - at.removed, at.w);
    }
#endif
    return remove_kernel(s, n, pat, m, limit, out);
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
        length = remove_any(s, n, static_cast<const C*>(PyUnicode_DATA(piece)), m, limit, out);
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
        length = remove_any(s, n, pat, m, limit, out);
        if (pat != on_stack) PyMem_Free(pat);
    }
    return adopt_units(type, out, n, length, PyUnicode_IS_ASCII(text));
}

}  // namespace

Ref remove_into(PyTypeObject* type, PyObject* text, PyObject* piece, Py_ssize_t limit) {
    if (!internals::str_layout_writable || !PyUnicode_Check(text) || !PyUnicode_Check(piece)) return {};
    if (compat::unicode_ready(text) < 0 || compat::unicode_ready(piece) < 0) {
        PyErr_Clear();  // the general way meets the same failure and reports it
        return {};
    }
    const Py_ssize_t m = PyUnicode_GET_LENGTH(piece);
    if (m == 0) return {};
    const int text_class = width_class(text), piece_class = width_class(piece);
    if (piece_class > text_class) {
        // A piece with a character wider than any of the text's can't occur:
        // the result is the text itself.
        limit = 0;
    } else if (piece_class == text_class && text_class != 0) {
        // Removing characters the text needs its width for could make it
        // narrower.
        return {};
    }
    if (limit < 0) limit = PY_SSIZE_T_MAX;
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return remove_width<Py_UCS1>(type, text, piece, limit);
        case PyUnicode_2BYTE_KIND: return remove_width<Py_UCS2>(type, text, piece, limit);
        default: return remove_width<Py_UCS4>(type, text, piece, limit);
    }
}

}  // namespace qel::text
