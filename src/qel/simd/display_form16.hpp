// Finding the characters of 16 bytes of text that the display form escapes
// (SSE2).
#pragma once

#include "simd/vector16.hpp"

#if QEL_SIMD_SSE2
namespace qel::simd::v16 {

/// The units of one vector that need escaping: all six characters (`any`),
/// and ESC alone, which needs one more unit than the others.
struct Marks {
    Vec any;
    Vec esc;
};

template <class C>
inline Marks marks_at(const C* p) {
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
inline Vec maybe_marked(Vec v) {
    const Vec control = at_most<C>(v, 0x1b);
    return either(control, either(equal<C>(v, splat<C>('\\')), equal<C>(v, splat<C>('"'))));
}

}  // namespace qel::simd::v16
#endif
