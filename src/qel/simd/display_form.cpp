// The display form's two passes: measuring and writing. On x86-64 both look
// at whole vectors of characters; the measuring pass never branches on the
// text, the writing pass once per escape (text dense with escapes is the
// common case for coloured output).
#include "simd/display_form.hpp"

#include "simd/byte_masks.hpp"
#include "simd/display_form16.hpp"
#include "simd/display_form32.hpp"
#include "simd/display_form64.hpp"
#include "simd/display_forms.hpp"

namespace qel::simd {

template <class C>
Py_ssize_t display_size(const C* s, Py_ssize_t n) {
    Py_ssize_t extra = 0;
    Py_ssize_t i = 0;
#if QEL_SIMD_AVX
    if (have_avx512()) extra = v64::display_extra(s, n, i);
#endif
#if QEL_SIMD_SSE2
    // Each vector adds at most two to a unit's counter.
    constexpr Py_ssize_t per = v16::lanes<C>;
    constexpr Py_ssize_t run = v16::counter_capacity<C> / 2;
    while (i + per <= n) {
        v16::Vec counter = v16::zero();
        for (Py_ssize_t k = 0; k < run && i + per <= n; ++k, i += per) {
            const v16::Marks m = v16::marks_at(s + i);
            counter = v16::count_marked<C>(v16::count_marked<C>(counter, m.any), m.esc);
        }
        extra += v16::counter_sum<C>(counter);
    }
#endif
    for (; i < n; ++i) extra += extra_for(s[i]);
    return n + extra;
}

template <class C>
C* write_display(const C* s, Py_ssize_t n, C* out) {
    Py_ssize_t i = 0;
#if QEL_SIMD_AVX
    if (have_avx512()) out = v64::write_display_blocks(s, n, i, out);
    if (have_avx2()) out = v32::write_display_blocks(s, n, i, out);
#endif
#if QEL_SIMD_SSE2
    // Blocks of two vectors. Each block is stored as it stands; at every
    // character that needs escaping the form is written and the rest of the
    // block stored again after it. Stores may run past the block: the next
    // block overwrites them. While two more blocks of text follow, every
    // store has room (each character takes at least one unit).
    constexpr Py_ssize_t per = v16::lanes<C>;
    constexpr Py_ssize_t block = 2 * per;
    for (; i + 2 * block <= n; i += block) {
        const v16::Vec low = v16::load(s + i), high = v16::load(s + i + per);
        unsigned marked = v16::byte_mask(v16::maybe_marked<C>(low)) | v16::byte_mask(v16::maybe_marked<C>(high)) << 16;
        v16::store(out, low);
        v16::store(out + per, high);
        Py_ssize_t placed = 0;  // characters of the block already in place before `out`
        while (marked) {
            const Py_ssize_t j = first_unit<C>(marked);
            out += j - placed;
            out = write_form(s[i + j], out);  // only ASCII characters are marked
            v16::store(out, v16::load(s + i + j + 1));
            v16::store(out + per, v16::load(s + i + j + 1 + per));
            placed = j + 1;
            marked = clear_through<C>(marked, j);
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

template Py_ssize_t display_size(const Py_UCS1*, Py_ssize_t);
template Py_ssize_t display_size(const Py_UCS2*, Py_ssize_t);
template Py_ssize_t display_size(const Py_UCS4*, Py_ssize_t);
template Py_UCS1* write_display(const Py_UCS1*, Py_ssize_t, Py_UCS1*);
template Py_UCS2* write_display(const Py_UCS2*, Py_ssize_t, Py_UCS2*);
template Py_UCS4* write_display(const Py_UCS4*, Py_ssize_t, Py_UCS4*);

}  // namespace qel::simd
