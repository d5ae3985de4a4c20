// The display form's write pass on 32-byte vectors (AVX2).
#pragma once

#include "simd/byte_masks.hpp"
#include "simd/display_forms.hpp"
#include "simd/vector32.hpp"

#if QEL_SIMD_AVX
namespace qel::simd::v32 {

/// Every unit that needs escaping, and the other control characters up to
/// ESC, as v16::maybe_marked has them.
template <class C>
QEL_AVX2 inline Vec maybe_marked(Vec v) {
    const Vec control = at_most<C>(v, 0x1b);
    return either(control, either(equal<C>(v, splat<C>('\\')), equal<C>(v, splat<C>('"'))));
}

/// The block loop of write_display with one 32-byte vector per block (the
/// same bytes as two 16-byte ones); advances `i_io` and returns the end.
template <class C>
QEL_AVX2 C* write_display_blocks(const C* s, Py_ssize_t n, Py_ssize_t& i_io, C* out) {
    constexpr Py_ssize_t block = static_cast<Py_ssize_t>(32 / sizeof(C));
    // A copy of the position: through the reference, every store of the
    // form could change it, and each escape would read it back from memory.
    Py_ssize_t i = i_io;
    for (; i + 2 * block <= n; i += block) {
        const Vec v = load(s + i);
        unsigned marked = byte_mask(maybe_marked<C>(v));
        store(out, v);
        Py_ssize_t placed = 0;
        while (marked) {
            const Py_ssize_t j = first_unit<C>(marked);
            out += j - placed;
            out = write_form(s[i + j], out);
            store(out, load(s + i + j + 1));
            placed = j + 1;
            marked = clear_through<C>(marked, j);
        }
        out += block - placed;
    }
    i_io = i;
    return out;
}

}  // namespace qel::simd::v32
#endif
