// Finding the foreground colour codes 64 characters at a time (AVX-512), for
// v64::take_out.
#pragma once

#include "simd/code_strip.hpp"
#include "simd/stretches64.hpp"

#include <cstdint>

#if QEL_SIMD_AVX
namespace qel::simd::v64 {

/// Where the seven codes start, for take_out, and whether a code is removed
/// right after a kept escape and the characters between, if any, begin a
/// code ("[", "[3" or "[3X"): only then can one pass differ from removing the
/// codes one after the other (`joins`), and strip_from (code_strip.cpp)
/// tells whether it does.
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
        for (int k = 0; k < length; ++k) from[k] = from_kth_on(k);
    }

    /// The 64 characters from the k-th of `current` on.
    QEL_AVX512 __m512i shifted(__m512i current, __m512i next, int k) const {
        return _mm512_permutex2var_epi8(current, from[k], next);
    }

    QEL_AVX512 std::uint64_t starts(__m512i current, __m512i next) {
        const __m512i escape = _mm512_set1_epi8(static_cast<char>(code_escape));
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

/// strip_from's work (code_strip.cpp) on whole stretches of 64 characters
/// from the start (take_out); `joins` as CodeStarts has it.
template <class C>
QEL_AVX512 QEL_NOINLINE Progress<C> strip_blocks(const C* s, Py_ssize_t n, C* out, bool& joins) {
    CodeStarts codes;
    const auto at = take_out<C, false>(s, n, codes, PY_SSIZE_T_MAX, Progress<C>{0, 0, out, 0});
    joins = codes.joins != 0;
    return at;
}

}  // namespace qel::simd::v64
#endif
