// Taking every occurrence of a piece out of a text in one pass, written into
// the result's own storage.
#include "text/removal.hpp"

#include "text/copy_scan.hpp"
#include "text/narrow512.hpp"

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

/// How far a vector kernel got: the next character `i` to look at, the
/// occurrences removed before it, where the output goes on (`w`), and the
/// characters from `i` on that the last occurrence still covers (`carry`,
/// one bit each).
template <class C>
struct Progress {
    Py_ssize_t i;
    Py_ssize_t removed;
    C* w;
    std::uint64_t carry;
};

/// The longest pattern the vector kernels compare whole.
constexpr Py_ssize_t vector_pattern_max = 16;

// GCC 12 takes the deliberately undefined vectors inside the narrowing
// (inlined here) and compressing intrinsics for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

/// For each mask of 8 four-byte units, the order that moves the units whose
/// bits are set to the front, a byte per unit: widened as it is loaded, by an
/// instruction that takes its address as the mask times 8 with no shift of
/// its own, and a quarter of the cache lines.
struct KeptOrders {
    alignas(64) std::uint8_t table[256][8] = {};
    constexpr KeptOrders() {
        for (int mask = 0; mask < 256; ++mask) {
            int out = 0;
            for (int b = 0; b < 8; ++b)
                if (mask >> b & 1) table[mask][out++] = static_cast<std::uint8_t>(b);
        }
    }
};
inline constexpr KeptOrders kept_orders{};

/// For each mask of 8 units of one or two bytes, the byte shuffle that moves
/// the units whose bits are set to the front, in order.
template <int width>
struct KeepShuffles {
    alignas(16) unsigned char table[256][16] = {};
    constexpr KeepShuffles() {
        for (int mask = 0; mask < 256; ++mask) {
            int out = 0;
            for (int b = 0; b < 8; ++b)
                if (mask >> b & 1)
                    for (int byte = 0; byte < width; ++byte)
                        table[mask][out++] = static_cast<unsigned char>(b * width + byte);
            for (; out < 16; ++out) table[mask][out] = 0x80;  // zero
        }
    }
};
template <int width>
inline constexpr KeepShuffles<width> keep_shuffles{};

/// Stores the units of the 8 at `from` whose bits in `kept` are set, packed
/// together at w; returns the end of what they fill. The whole group is
/// stored and only the kept units count; the output is never ahead of the
/// input, so the store stays inside the result.
template <class C>
QEL_AVX2 inline C* store_group(const C* from, unsigned kept, C* w) {
    if constexpr (sizeof(C) == 4) {
        const __m256i order = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kept_orders.table[kept])));
        const __m256i all = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), _mm256_permutevar8x32_epi32(all, order));
    } else {
        const auto* shuffle = reinterpret_cast<const __m128i*>(keep_shuffles<sizeof(C)>.table[kept]);
        if constexpr (sizeof(C) == 2) {
            const __m128i all = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(all, _mm_load_si128(shuffle)));
        } else {
            const __m128i all = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(all, _mm_load_si128(shuffle)));
        }
    }
    return w + std::popcount(kept);
}

/// Stores the units of the vector at p whose bits are set in `kept` (as many
/// of its low bits as the vector has units), packed together at w; returns
/// the end of what they fill. With `kept_only`, no other unit is read.
template <class C, bool kept_only>
QEL_AVX512 inline C* store_compressed(const C* p, std::uint64_t kept, C* w) {
    if constexpr (sizeof(C) == 1) {
        const __m512i all = kept_only ? _mm512_maskz_loadu_epi8(kept, p) : _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi8(kept, all));
        return w + std::popcount(kept);
    } else if constexpr (sizeof(C) == 2) {
        const auto k = static_cast<__mmask32>(kept);
        const __m512i all = kept_only ? _mm512_maskz_loadu_epi16(k, p) : _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi16(k, all));
        return w + std::popcount(static_cast<std::uint32_t>(k));
    } else {
        const auto k = static_cast<__mmask16>(kept);
        const __m512i all = kept_only ? _mm512_maskz_loadu_epi32(k, p) : _mm512_loadu_si512(p);
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi32(k, all));
        return w + std::popcount(static_cast<std::uint16_t>(k));
    }
}

/// Stores the units of a stretch of 64 characters whose bits are set in
/// `keep`, packed together at w; returns the end of what they fill.
///
/// Whole vectors are stored, not just the kept units (a compressing store
/// straight to memory is many times slower on some processors): only the kept
/// units count, and the output is never ahead of the input, so the stores stay
/// inside the result. With `ordered`, four-byte units are moved eight at a time
/// by an order from a table (see simd::compress_four_byte_units for when that
/// is the quicker way); narrower units are always compressed, one compression
/// moving more of them. With `kept_only` (the first stretch, which starts
/// before the text) only the kept units are read, so every width is
/// compressed: slower, but done once.
template <class C, bool kept_only = false>
QEL_AVX512 inline C* store_kept(const C* stretch, std::uint64_t keep, C* w, bool ordered = false) {
    constexpr int lanes = 64 / static_cast<int>(sizeof(C));
    if constexpr (sizeof(C) == 4 && !kept_only) {
        if (ordered) {
            for (int h = 0; h < 8; ++h, keep >>= 8) w = store_group(stretch + h * 8, static_cast<unsigned>(keep & 0xffu), w);
            return w;
        }
    }
    for (int h = 0; h < static_cast<int>(sizeof(C)); ++h)
        w = store_compressed<C, kept_only>(stretch + h * lanes, lanes == 64 ? keep : keep >> (h * lanes), w);
    return w;
}

/// Bit j set where the pattern starts at character j of the stretch whose
/// characters `current` holds (as simd512::narrowed gives them), `next`
/// holding the stretch after it. For each pattern unit k, the 64 bytes from
/// k on (taken across the two by one permutation) are compared with the unit.
QEL_AVX512 inline std::uint64_t starts_512(__m512i current, __m512i next, const __m512i* units, const __m512i* from,
                                           Py_ssize_t m) {
    // Any bit set where some unit differs: differ | (bytes ^ unit).
    __m512i differ = _mm512_xor_si512(current, units[0]);
    for (Py_ssize_t k = 1; k < m; ++k)
        differ = _mm512_ternarylogic_epi64(differ, _mm512_permutex2var_epi8(current, from[k], next), units[k], 0xF6);
    return _cvtmask64_u64(_mm512_testn_epi8_mask(differ, differ));
}

/// remove_kernel's work on stretches of 64 characters without a branch per
/// occurrence, for a pattern of at most 16 units, all below 255, whose
/// occurrences can't overlap.
///
/// The comparisons are made on the characters as bytes (see
/// simd512::narrowed). For each pattern unit k, the 64 bytes from k on (taken
/// across this stretch and the next by one permutation) are compared with the
/// unit; a start is where every unit matches. The characters the occurrences
/// cover are the start bits times 2**m - 1 (the high half carried into the
/// next stretch where an occurrence runs past it), and the kept characters
/// are stored packed together, a vector at a time.
///
/// Stretches are taken in runs of 16: first every stretch's mask of kept
/// characters, then the run's stores. Done stretch by stretch, each store
/// would wait for the whole chain of comparisons before it, and the loads of
/// the next stretches would queue behind it.
///
/// Stops at a stretch boundary `i` when fewer than 64 characters remain or,
/// when `counted`, when the next stretch would pass `limit` removals; `carry`
/// then marks the characters from `i` on that the last occurrence still
/// covers. Without `counted` every occurrence is removed and `removed` is
/// left as it came.
///
/// A `fixed_m` above 0 is the pattern's length, known at compile time (see
/// blocks_512_for).
template <class C, int fixed_m, bool counted>
QEL_AVX512 QEL_NOINLINE Progress<C> remove_blocks_512(const C* s, Py_ssize_t n, const C* pat,
                                                                    Py_ssize_t m, Py_ssize_t limit, Progress<C> start) {
    if constexpr (fixed_m > 0) m = fixed_m;
    constexpr int run = 16;
    // For each pattern unit k: the unit in every byte, and the byte
    // permutation that takes the 64 bytes from k on out of two stretches.
    __m512i units[vector_pattern_max], from[vector_pattern_max];
    const __m512i ascending = _mm512_set_epi8(
        63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34,
        33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    for (Py_ssize_t k = 0; k < m; ++k) {
        units[k] = _mm512_set1_epi8(static_cast<char>(pat[k]));
        from[k] = _mm512_add_epi8(ascending, _mm512_set1_epi8(static_cast<char>(k)));
    }
    const std::uint64_t span = (std::uint64_t{1} << m) - 1;
    const bool ordered = sizeof(C) == 4 && !simd::compress_four_byte_units();
    // Taken and returned by value: behind references the vector stores
    // could alias them, and every stretch would wait for them to be read
    // back from memory.
    auto [i, removed, w, carry] = start;
    // Stretches from a 64-byte boundary on, so that no load of the text spans
    // two cache lines (worth about 5% on four-byte text, whose storage may be
    // aligned to 16 bytes only): the first from the boundary before `i`, with
    // the characters before `i` neither read nor kept.
    if (const auto skew = static_cast<Py_ssize_t>(reinterpret_cast<std::uintptr_t>(s + i) % 64 / sizeof(C));
        skew != 0 && carry == 0 && i - skew + 128 <= n) {
        const C* first = s + i - skew;
        const std::uint64_t present = simd512::every_character << skew;
        const std::uint64_t starts = starts_512(simd512::narrowed(first, present),
                                                simd512::narrowed(first + 64, simd512::every_character), units, from, m);
        if constexpr (counted) {
            const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
            if (here > limit - removed) return start;  // left to the caller, one occurrence at a time
            removed += here;
        }
        const unsigned __int128 covered = static_cast<unsigned __int128>(starts) * span;
        w = store_kept<C, true>(first, ~static_cast<std::uint64_t>(covered) & present, w);
        carry = static_cast<std::uint64_t>(covered >> 64);
        i += 64 - skew;
    }
    std::uint64_t keeps[run];
    while (i + 64 <= n) {
        int stretches = 0;
        Py_ssize_t found = 0;
        __m512i current = simd512::narrowed(s + i, simd512::first_characters(n - i));
        for (Py_ssize_t at = i; stretches < run && at + 64 <= n; ++stretches, at += 64) {
            const __m512i next = at + 128 <= n ? simd512::narrowed(s + at + 64, simd512::every_character)
                                               : simd512::narrowed(s + at + 64, simd512::first_characters(n - at - 64));
            const std::uint64_t starts = starts_512(current, next, units, from, m);
            if constexpr (counted) {
                const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
                if (here > limit - removed - found) break;
                found += here;
            }
            const unsigned __int128 covered = static_cast<unsigned __int128>(starts) * span;
            keeps[stretches] = ~(static_cast<std::uint64_t>(covered) | carry);
            carry = static_cast<std::uint64_t>(covered >> 64);
            current = next;
        }
        if (ordered) {
            for (int t = 0; t < stretches; ++t) w = store_kept(s + i + t * 64, keeps[t], w, true);
        } else {
            for (int t = 0; t < stretches; ++t) w = store_kept(s + i + t * 64, keeps[t], w);
        }
        i += stretches * 64;
        removed += found;
        if (stretches < run) break;  // at the end, or at the limit
    }
    return {i, removed, w, carry};
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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

/// remove_blocks_512's work with 32-byte vectors (AVX2), in the same runs, 32
/// characters a stretch. The characters are compared whole (see
/// starts_avx2), so pieces with characters from U+00FF up are taken too, and
/// the kept characters of each group of 8 are moved together from a table
/// (see store_group). Stops where fewer than 48 characters remain, so that
/// every load stays inside the text.
template <class C>
QEL_AVX2 QEL_NOINLINE Progress<C> remove_blocks_avx2(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m,
                                                                  Py_ssize_t limit, Progress<C> start) {
    constexpr int run = 32;
    constexpr Py_ssize_t stretch = 32, reach = stretch + vector_pattern_max;
    __m256i units[vector_pattern_max];
    for (Py_ssize_t k = 0; k < m; ++k) units[k] = simd::wide::splat<C>(static_cast<unsigned>(pat[k]));
    const std::uint64_t span = (std::uint64_t{1} << m) - 1;
    auto [i, removed, w, carry] = start;  // by value, as in remove_blocks_512
    std::uint32_t keeps[run];  // per stretch, the characters that stay
    while (i + reach <= n) {
        int stretches = 0;
        Py_ssize_t found = 0;
        for (Py_ssize_t at = i; stretches < run && at + reach <= n; ++stretches, at += stretch) {
            const std::uint32_t starts = starts_avx2(s + at, units, m);
            const auto here = static_cast<Py_ssize_t>(std::popcount(starts));
            if (here > limit - removed - found) break;
            found += here;
            const std::uint64_t covered = starts * span | carry;
            keeps[stretches] = ~static_cast<std::uint32_t>(covered);
            carry = covered >> stretch;
        }
        for (int t = 0; t < stretches; ++t) {
            const C* from = s + i + t * stretch;
            for (int g = 0; g < 4; ++g) w = store_group(from + 8 * g, keeps[t] >> (8 * g) & 0xffu, w);
        }
        i += stretches * stretch;
        removed += found;
        if (stretches < run) break;  // near the end, or at the limit
    }
    return {i, removed, w, carry};
}

#endif

template <class C>
Py_ssize_t remove_any(const C* s, Py_ssize_t n, const C* pat, Py_ssize_t m, Py_ssize_t limit, C* out) {
#if QEL_TEXT_AVX2
    if (m <= vector_pattern_max && n >= 256 && simd::have_avx2() && !can_overlap(pat, m)) {
        Progress<C> at{0, 0, out, 0};
        // The 64-character kernel compares the characters as bytes.
        if (simd::have_avx512() && narrow_enough(pat, m)) at = blocks_512_for<C>(m, limit)(s, n, pat, m, limit, at);
        else at = remove_blocks_avx2(s, n, pat, m, limit, at);
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
    auto* out = static_cast<C*>(PyObject_Malloc(static_cast<std::size_t>(n + 1) * sizeof(C)));
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
                PyObject_Free(out);
                return Ref::adopt(PyErr_NoMemory());
            }
        }
        const int kind = PyUnicode_KIND(piece);
        const void* data = PyUnicode_DATA(piece);
        for (Py_ssize_t j = 0; j < m; ++j) pat[j] = static_cast<C>(PyUnicode_READ(kind, data, j));
        length = remove_any(s, n, pat, m, limit, out);
        if (pat != on_stack) PyMem_Free(pat);
    }
    out[length] = 0;
    if (4 * (length + 1) <= 3 * (n + 1)) {
        // Give back what the removals freed when it is a quarter of the block
        // or more; a failed shrink keeps the block. Less is kept, as the
        // interpreter's own allocator keeps a small block that would shrink
        // by less: a shrink costs about as much as the removal from a short
        // text, and most removals take out a little of a text.
        if (void* smaller = PyObject_Realloc(out, static_cast<std::size_t>(length + 1) * sizeof(C)))
            out = static_cast<C*>(smaller);
    }
    return Ref::adopt(compat::adopt_str_data(type, out, length, static_cast<int>(sizeof(C)), PyUnicode_IS_ASCII(text)));
}

}  // namespace

Ref remove_into(PyTypeObject* type, PyObject* text, PyObject* piece, Py_ssize_t limit) {
    if (!compat::str_data_adoptable || !PyUnicode_Check(text) || !PyUnicode_Check(piece)) return {};
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
