// The four block-letter pictures of the renderers, kept as they print: '#' is
// an ink cell, which a renderer fills with a drawn item; ' ' stays blank.
// Rows are joined by line feeds when drawn and carry no trailing blanks.
#pragma once

#include "text/text.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace qel::text {

struct Glyph {
    std::span<const std::string_view> rows;
};

namespace glyphs {

inline constexpr char ink = '#';
inline constexpr char blank = ' ';

inline constexpr std::array<std::string_view, 7> hut_rows = {
    "#       #  #       #  #########",
    "#       #  #       #      #",
    "#       #  #       #      #",
    "#########  #       #      #",
    "#       #  #       #      #",
    "#       #  #       #      #",
    "#       #  #########      #",
};

inline constexpr std::array<std::string_view, 7> lute_rows = {
    "#          #       #  #########  #########",
    "#          #       #      #      #",
    "#          #       #      #      #",
    "#          #       #      #      #########",
    "#          #       #      #      #",
    "#          #       #      #      #",
    "#########  #########      #      #########",
};

inline constexpr std::array<std::string_view, 7> qel_rows = {
    "#########  #########  #",
    "#       #  #          #",
    "#       #  #          #",
    "#       #  #########  #",
    "#     # #  #          #",
    "#      ##  #          #",
    "#########  #########  #########",
};

/// An arrow pointing right.
inline constexpr std::array<std::string_view, 9> arrow_rows = {
    "    #",
    "     #",
    "      #",
    "       #",
    "##########",
    "       #",
    "      #",
    "     #",
    "    #",
};

inline constexpr Glyph hut{hut_rows};
inline constexpr Glyph lute{lute_rows};
inline constexpr Glyph qel{qel_rows};
inline constexpr Glyph arrow{arrow_rows};

/// Characters of the drawn picture, line feeds included.
constexpr std::size_t length(const Glyph& glyph) {
    std::size_t n = glyph.rows.empty() ? 0 : glyph.rows.size() - 1;
    for (std::string_view row : glyph.rows) n += row.size();
    return n;
}

constexpr std::size_t ink_cells(const Glyph& glyph) {
    std::size_t n = 0;
    for (std::string_view row : glyph.rows)
        for (char c : row) n += c == ink;
    return n;
}

/// Only ink and blanks, and every row ends in ink (no trailing blanks).
constexpr bool well_formed(const Glyph& glyph) {
    for (std::string_view row : glyph.rows) {
        if (row.empty() || row.back() != ink) return false;
        for (char c : row)
            if (c != ink && c != blank) return false;
    }
    return true;
}

static_assert(well_formed(hut) && length(hut) == 199 && ink_cells(hut) == 57);
static_assert(well_formed(lute) && length(lute) == 268 && ink_cells(lute) == 82);
static_assert(well_formed(qel) && length(qel) == 175 && ink_cells(qel) == 76);
static_assert(well_formed(arrow) && length(arrow) == 70 && ink_cells(arrow) == 18);

}  // namespace glyphs

/// Draws `glyph` with every ink cell filled by `fill[rd(0, n - 1)]` (n the
/// length of the list `fill`), one draw per ink cell in reading order, and
/// returns the picture as one text. `rd` is the module global as it is when
/// each cell is drawn.
Ref draw_glyph(const Call& call, const Glyph& glyph, PyObject* fill);

}  // namespace qel::text
