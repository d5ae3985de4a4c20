// The stores that pack the kept characters of a text together: 8 units at a
// time by a shuffle from a table (AVX2), or whole 64-byte vectors compressed
// (AVX-512).
#pragma once

#include "simd/isa.hpp"

#include <bit>
#include <cstdint>

#if QEL_SIMD_AVX
QEL_SIMD_UNDEFINED_VECTORS_BEGIN
namespace qel::simd::v32 {

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

}  // namespace qel::simd::v32

namespace qel::simd::v64 {

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
/// by an order from a table (see compress_four_byte_units for when that is the
/// quicker way); narrower units are always compressed, one compression moving
/// more of them. With `kept_only` (the first stretch, which starts before the
/// text) only the kept units are read, so every width is compressed: slower,
/// but done once.
template <class C, bool kept_only = false>
QEL_AVX512 inline C* store_kept(const C* stretch, std::uint64_t keep, C* w, bool ordered = false) {
    constexpr int lanes = 64 / static_cast<int>(sizeof(C));
    if constexpr (sizeof(C) == 4 && !kept_only) {
        if (ordered) {
            for (int h = 0; h < 8; ++h, keep >>= 8) w = v32::store_group(stretch + h * 8, static_cast<unsigned>(keep & 0xffu), w);
            return w;
        }
    }
    for (int h = 0; h < static_cast<int>(sizeof(C)); ++h)
        w = store_compressed<C, kept_only>(stretch + h * lanes, lanes == 64 ? keep : keep >> (h * lanes), w);
    return w;
}

}  // namespace qel::simd::v64
QEL_SIMD_UNDEFINED_VECTORS_END
#endif
