// Which vector instructions are compiled in, and which of them the processor
// running us has. The only place that knows about instruction sets, compilers
// and the environment switches: the kernels test the macros and call the
// functions below.
//
//   QEL_SIMD_SSE2  16-byte vectors (simd::v16). Every x86-64 processor has
//                  them; any compiler for it has their intrinsics.
//   QEL_SIMD_AVX   32-byte (simd::v32, AVX2) and 64-byte (simd::v64,
//                  AVX-512) vectors, compiled for single functions marked
//                  QEL_AVX2 or QEL_AVX512 and chosen at run time
//                  (have_avx2, have_avx512). Only GCC and Clang can compile
//                  single functions for them.
//
// The portable build (QEL_FORCE_FALLBACKS), other processors and other
// compilers get neither: no intrinsics, no attributes, no compiler builtins,
// only the kernels' plain loops.
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
// compressing intrinsics for uninitialised variables; the code between these
// two is spared that warning.
#if defined(__GNUC__) && !defined(__clang__)
#define QEL_SIMD_UNDEFINED_VECTORS_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
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
