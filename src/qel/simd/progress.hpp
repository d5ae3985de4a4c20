// Where a vector kernel that takes characters out of a text stopped, for the
// plain loop that finishes the text.
#pragma once

#include "simd/python_types.hpp"

#include <cstdint>

namespace qel::simd {

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

}  // namespace qel::simd
