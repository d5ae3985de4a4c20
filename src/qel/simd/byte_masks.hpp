// Reading the byte masks of the 16- and 32-byte vector loops (one bit per
// byte, as byte_mask gives them) as units of a string width.
#pragma once

#include "simd/python_types.hpp"

#include <bit>

namespace qel::simd {

/// The index of the first unit of width C marked in a byte mask (non-zero).
template <class C>
inline Py_ssize_t first_unit(unsigned mask) {
    return static_cast<Py_ssize_t>(std::countr_zero(mask) / sizeof(C));
}

/// The byte mask with the marks of units 0..i (width C) cleared.
template <class C>
inline unsigned clear_through(unsigned mask, Py_ssize_t i) {
    const auto bits = static_cast<unsigned>(i + 1) * sizeof(C);
    return bits >= 32 ? 0u : mask & (~0u << bits);
}

}  // namespace qel::simd
