// The vector code of the module, and the one place that knows about
// instruction sets, compilers and the environment switches: every file of
// this folder reaches this header, the kernels test its macros and call its
// functions. The folder stands on nothing else of the module
// (python_types.hpp brings in the interpreter's integer and character types).
//
// Words the kernels use:
//   unit         one element of a str's storage, of width C: Py_UCS1, Py_UCS2
//                or Py_UCS4 (1, 2 or 4 bytes). Every kernel is written once
//                over C and compiled for each width.
//   lane         a unit's place in a vector; `lanes` is how many units of
//                width C one vector holds (64 / sizeof(C) for 64 bytes). In
//                AVX2 comments, a "128-bit lane" is one half of a 32-byte
//                register, which some instructions treat separately.
//   v16, v32, v64  the namespaces of the 16-byte (SSE2), 32-byte (AVX2) and
//                64-byte (AVX-512) code.
//   mask         an integer with one bit per unit (or per byte, for the byte
//                masks of the 16- and 32-byte loops: byte_masks.hpp reads
//                them as units); a unit is `marked` when its bit is set.
//   narrowed     64 characters of any width as 64 bytes, each clamped to 255,
//                so that one AVX-512 comparison tests 64 characters against
//                an ASCII or Latin-1 one (32 in 32 bytes for AVX2).
//   piece        what qe_remove takes out of a text; `pat[:m]` in the
//                kernels. An occurrence is a place where it stands; those
//                taken out never overlap, found left to right.
//   code         one of the seven foreground colour codes ("\x1b[3Xm"), each
//                starting with the escape, ESC (0x1b). In the display form
//                an escape is any character written escaped (ESC among them).
//   stretch      the characters one step of a removal loop (a piece's, or
//                the codes') looks at: 64 for v64, 32 for v32. Each gets a
//                mask of where occurrences start (`starts`, found by the
//                loop's matcher) and of the characters that stay (`keep`).
//   span         2**length - 1: an occurrence's start bit times the span
//                marks every character the occurrence covers.
//   carry        the bits of that product past the stretch's end: the first
//                characters of the next stretch, which an occurrence that
//                began in this one still covers.
//   run          in v64's removal loops, the 16 stretches whose masks are
//                all worked out before any of their stores, so that the
//                stores do not wait on the comparisons (v32 stores each
//                stretch as soon as it is searched); in the display form,
//                the plain characters between two escapes, copied as they
//                are.
//   kept units   the characters that stay, packed together at the output by
//                the stores of kept_stores.hpp: in groups of 8 by an order
//                from a table (`ordered`), or whole vectors compressed.
//   block        the characters one turn of the display form's write loop
//                handles (32 bytes for v16 and v32, 64 characters for v64).
//   Progress     where a vector loop stopped (next character, removals made,
//                output position, carry), for the plain loop that finishes
//                the text.
//
// How the instructions are chosen. At compile time:
//   QEL_SIMD_SSE2  16-byte vectors (simd::v16). Every x86-64 processor has
//                  them; any compiler for it has their intrinsics.
//   QEL_SIMD_AVX   32-byte (simd::v32, AVX2) and 64-byte (simd::v64,
//                  AVX-512) vectors, compiled for single functions marked
//                  QEL_AVX2 or QEL_AVX512 and chosen at run time
//                  (have_avx2, have_avx512). Only GCC and Clang can compile
//                  single functions for them.
// The portable build (QEL_FORCE_FALLBACKS), other processors and other
// compilers get neither: no intrinsics, no attributes, no compiler builtins,
// only the kernels' plain loops.
//
// At run time, once per process on first use, from the processor and three
// environment variables (which let the tests take every path on one
// machine):
//   QEL_NO_AVX2          set (to anything): neither 32- nor 64-byte
//                        vectors, the 16-byte code and plain loops only.
//   QEL_NO_AVX512        set: no 64-byte vectors.
//   QEL_KEPT_UNITS=compressed or =ordered  how the 64-byte loops pack kept
//                        four-byte units (by default compressed on Intel
//                        processors, ordered elsewhere).
// Each kernel then takes the widest code it has that is allowed, where the
// text is long enough to pay for it (see remove_piece, strip_codes,
// display_size and write_display).
#pragma once

#include "simd/python_types.hpp"

/// Keeps a function out of its callers, so that a short fast path in front
/// of it stays free of the slow path's register saves. The portable build
/// uses no compiler extension and leaves the choice to the compiler. Here,
/// with the other compiler tests, for the rest of the module as well.
#if defined(QEL_FORCE_FALLBACKS)
#define QEL_NOINLINE
#elif defined(__GNUC__) || defined(__clang__)
#define QEL_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define QEL_NOINLINE __declspec(noinline)
#else
#define QEL_NOINLINE
#endif

#if !defined(QEL_FORCE_FALLBACKS) && (defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64))
#include <emmintrin.h>
#define QEL_SIMD_SSE2 1
#else
#define QEL_SIMD_SSE2 0
#endif

#if QEL_SIMD_SSE2 && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cstdlib>
#include <string_view>

#define QEL_SIMD_AVX 1
#define QEL_AVX2 __attribute__((target("avx2")))
#define QEL_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,avx512vbmi2")))

// GCC 12 takes the deliberately undefined vectors inside the narrowing and
// compressing intrinsics for uninitialised variables (as "maybe" or as
// certain, depending on what it inlines where); the code between these two
// is spared that warning.
#if defined(__GNUC__) && !defined(__clang__)
#define QEL_SIMD_UNDEFINED_VECTORS_BEGIN                                                      \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"") \
        _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#define QEL_SIMD_UNDEFINED_VECTORS_END _Pragma("GCC diagnostic pop")
#else
#define QEL_SIMD_UNDEFINED_VECTORS_BEGIN
#define QEL_SIMD_UNDEFINED_VECTORS_END
#endif

#else
#define QEL_SIMD_AVX 0
#endif

#if QEL_SIMD_AVX
namespace qel::simd {

/// Whether to use the 32-byte vector instructions: the processor has them,
/// and QEL_NO_AVX2 is not set in the environment (which lets the tests run
/// the 16-byte code on any machine).
inline bool have_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2") && std::getenv("QEL_NO_AVX2") == nullptr;
    return yes;
}

/// Whether to use the 64-byte vector instructions with per-unit masks, byte
/// permutations and compression (AVX-512 F, BW, VBMI and VBMI2): the
/// processor has them, and neither QEL_NO_AVX2 nor QEL_NO_AVX512 is set in
/// the environment.
inline bool have_avx512() {
    static const bool yes = have_avx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
                            std::getenv("QEL_NO_AVX512") == nullptr;
    return yes;
}

/// Whether the 64-character kernels move kept four-byte units by compressing
/// whole vectors rather than eight at a time by an order from a table. On
/// Intel's cores every shuffle runs on one port, and a compression moves 16
/// units for two micro-ops where an order takes two (widening it and the
/// permutation) for 8. Elsewhere the order from the table has measured the
/// quicker.
/// QEL_KEPT_UNITS=compressed or =ordered in the environment chooses either
/// way (the tests take both on any machine).
inline bool compress_four_byte_units() {
    static const bool yes = [] {
        const char* chosen = std::getenv("QEL_KEPT_UNITS");
        if (chosen && std::string_view(chosen) == "compressed") return true;
        if (chosen && std::string_view(chosen) == "ordered") return false;
        return __builtin_cpu_is("intel") != 0;
    }();
    return yes;
}

}  // namespace qel::simd
#endif
