// The display form of each character, and writing it: the tables the
// display-form kernels look the forms up in.
#pragma once

#include "simd/isa.hpp"

#include <cstring>

namespace qel::simd {

/// Extra characters a code unit needs in the display form.
template <class C>
inline Py_ssize_t extra_for(C c) {
    return Py_ssize_t(c == '\\') + Py_ssize_t(c == '"') + Py_ssize_t(c == '\r') + Py_ssize_t(c == '\n') +
           Py_ssize_t(c == '\t') + 2 * Py_ssize_t(c == 0x1b);
}

/// The display form of each ASCII character: up to three units, and how many.
struct DisplayForms {
    unsigned char unit[128][3] = {};
    unsigned char size[128] = {};
    constexpr DisplayForms() {
        for (unsigned c = 0; c < 128; ++c) {
            unit[c][0] = static_cast<unsigned char>(c);
            size[c] = 1;
        }
        set('\\', "\\\\");
        set('"', "\\\"");
        set('\r', "\\r");
        set('\n', "\\n");
        set('\t', "\\t");
        set(0x1b, "\\33");
    }
    constexpr void set(unsigned c, const char* form) {
        unsigned char n = 0;
        for (; form[n]; ++n) unit[c][n] = static_cast<unsigned char>(form[n]);
        size[c] = n;
    }
};
inline constexpr DisplayForms display_forms;

/// Writes one character's display form. Always stores three units, so at
/// least two units of room must follow the form itself; no branch depends on
/// the text.
template <class C>
inline C* write_one_padded(C c, C* out) {
    const bool ascii = c < 128;
    const unsigned k = ascii ? static_cast<unsigned>(c) : 0u;
    out[0] = ascii ? static_cast<C>(display_forms.unit[k][0]) : c;
    out[1] = static_cast<C>(display_forms.unit[k][1]);
    out[2] = static_cast<C>(display_forms.unit[k][2]);
    return out + (ascii ? display_forms.size[k] : 1);
}

template <class C>
inline C* write_one(C c, C* out) {
    if (c >= 128) {
        *out = c;
        return out + 1;
    }
    for (unsigned j = 0; j < display_forms.size[c]; ++j) out[j] = static_cast<C>(display_forms.unit[c][j]);
    return out + display_forms.size[c];
}

#if QEL_SIMD_SSE2
/// The display forms again, four units wide in the text's own width, so one
/// store writes a whole form.
template <class C>
struct WideForms {
    C unit[128][4] = {};
    constexpr WideForms() {
        for (unsigned c = 0; c < 128; ++c)
            for (unsigned j = 0; j < 3; ++j) unit[c][j] = static_cast<C>(display_forms.unit[c][j]);
    }
};
template <class C>
inline constexpr WideForms<C> wide_forms;

/// Stores the form of an ASCII character with one four-unit store; at least
/// one unit of room must follow the longest form.
template <class C>
inline void store_form(C c, C* out) {
    std::memcpy(out, wide_forms<C>.unit[c], sizeof wide_forms<C>.unit[c]);
}

/// Writes the form of an ASCII character with one four-unit store; at least
/// three units of room must follow the form itself.
template <class C>
inline C* write_form(C c, C* out) {
    store_form(c, out);
    return out + display_forms.size[c];
}
#endif

}  // namespace qel::simd
