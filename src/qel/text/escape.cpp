#include "text/escape.hpp"

#include <cstring>
#include <string>

namespace qel::text {
namespace {

// ---- escape display form ------------------------------------------------------

/// Extra characters a code unit needs in the display form. Written as plain
/// comparisons so the compiler can test many characters at once.
template <class C>
inline unsigned extra_for(C c) {
    return unsigned(c == '\\') + unsigned(c == '"') + unsigned(c == '\r') + unsigned(c == '\n') +
           unsigned(c == '\t') + 2u * unsigned(c == 0x1b);
}

constexpr Py_ssize_t block = 32;

template <class C>
Py_ssize_t display_size(const C* s, Py_ssize_t n) {
    Py_ssize_t extra = 0;
    Py_ssize_t i = 0;
    for (; i + block <= n; i += block) {
        unsigned sum = 0;
        for (Py_ssize_t j = 0; j < block; ++j) sum += extra_for(s[i + j]);
        extra += sum;
    }
    for (; i < n; ++i) extra += extra_for(s[i]);
    return n + extra;
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
constexpr DisplayForms display_forms;

/// Writes one character's display form. Always stores three units, so at
/// least two units of room must follow the form itself; no branch depends on
/// the text, which keeps text dense with escapes fast.
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

template <class C>
void write_display(const C* s, Py_ssize_t n, C* out) {
    // Every character takes at least one unit, so while two more characters
    // follow there is room for the padded write.
    const Py_ssize_t padded_end = n - 2;
    Py_ssize_t i = 0;
    for (; i + block <= padded_end; i += block) {
        unsigned any = 0;
        for (Py_ssize_t j = 0; j < block; ++j) any |= extra_for(s[i + j]);
        if (!any) {
            // Most text has nothing to escape: copy the whole block.
            std::memcpy(out, s + i, block * sizeof(C));
            out += block;
        } else {
            for (Py_ssize_t j = 0; j < block; ++j) out = write_one_padded(s[i + j], out);
        }
    }
    for (; i < padded_end; ++i) out = write_one_padded(s[i], out);
    for (; i < n; ++i) out = write_one(s[i], out);
}

template <class C>
void write_ascii(C*& out, std::string_view s) {
    for (char ch : s) *out++ = static_cast<C>(ch);
}

template <class C>
Ref display_kernel(PyObject* text, std::string_view prefix, std::string_view suffix) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const Py_ssize_t size = static_cast<Py_ssize_t>(prefix.size() + suffix.size()) + display_size(s, n);
    // The added characters are ASCII, so the result keeps the text's kind.
    Ref out = Ref::adopt(PyUnicode_New(size, PyUnicode_MAX_CHAR_VALUE(text)));
    if (!out) return {};
    C* w = static_cast<C*>(PyUnicode_DATA(out.get()));
    write_ascii(w, prefix);
    write_display(s, n, w);
    w += size - static_cast<Py_ssize_t>(prefix.size() + suffix.size());
    write_ascii(w, suffix);
    return out;
}

// ---- \x and \u escapes --------------------------------------------------------

constexpr char hex_digits[] = "0123456789abcdef";

inline int hex_width(Py_UCS4 cp) {
    int w = 1;
    while (cp >> (4 * w)) ++w;
    return w;
}

/// Length of one character's escape text.
inline Py_ssize_t escape_size(Py_UCS4 cp, bool ifx) {
    if (cp < 0x100) return ifx ? 4 : 6;
    if (cp < 0x10000) return 6;
    return 2 + hex_width(cp);
}

inline void write_hex(char*& out, Py_UCS4 cp, int width) {
    for (int i = width - 1; i >= 0; --i) *out++ = hex_digits[(cp >> (4 * i)) & 0xf];
}

inline void write_escape(char*& out, Py_UCS4 cp, bool ifx) {
    *out++ = '\\';
    if (cp < 0x100) {
        if (ifx) {
            *out++ = 'x';
        } else {
            *out++ = 'u';
            *out++ = '0';
            *out++ = '0';
        }
        write_hex(out, cp, 2);
    } else if (cp < 0x10000) {
        *out++ = 'u';
        write_hex(out, cp, 4);
    } else {
        *out++ = 'u';
        write_hex(out, cp, hex_width(cp));
    }
}

template <class C>
Ref escapes_kernel(PyObject* text, bool ifx) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    Py_ssize_t size = 0;
    for (Py_ssize_t i = 0; i < n; ++i) size += escape_size(s[i], ifx);
    Ref out = Ref::adopt(PyUnicode_New(size, 127));
    if (!out) return {};
    char* w = static_cast<char*>(PyUnicode_DATA(out.get()));
    for (Py_ssize_t i = 0; i < n; ++i) write_escape(w, s[i], ifx);
    return out;
}

template <class C>
Ref escaped_bytes_kernel(PyObject* text, bool ifx) {
    const C* s = static_cast<const C*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    Py_ssize_t size = 0;
    for (Py_ssize_t i = 0; i < n; ++i) size += (ifx && s[i] < 0x100) ? 1 : escape_size(s[i], ifx);
    Ref out = Ref::adopt(PyBytes_FromStringAndSize(nullptr, size));
    if (!out) return {};
    char* w = PyBytes_AS_STRING(out.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (ifx && s[i] < 0x100) *w++ = static_cast<char>(s[i]);
        else write_escape(w, s[i], ifx);
    }
    return out;
}

template <class F>
Ref by_kind(PyObject* text, F&& kernel) {
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return kernel(static_cast<Py_UCS1*>(nullptr));
        case PyUnicode_2BYTE_KIND: return kernel(static_cast<Py_UCS2*>(nullptr));
        default: return kernel(static_cast<Py_UCS4*>(nullptr));
    }
}

int hex_value(Py_UCS4 c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

}  // namespace

Ref escape_display(PyObject* text, std::string_view prefix, std::string_view suffix) {
    return by_kind(text, [&](auto* tag) {
        using C = std::remove_pointer_t<decltype(tag)>;
        return display_kernel<C>(text, prefix, suffix);
    });
}

Ref unicode_escapes(PyObject* text, bool ifx) {
    return by_kind(text, [&](auto* tag) {
        using C = std::remove_pointer_t<decltype(tag)>;
        return escapes_kernel<C>(text, ifx);
    });
}

Ref escaped_bytes(PyObject* text, bool ifx) {
    return by_kind(text, [&](auto* tag) {
        using C = std::remove_pointer_t<decltype(tag)>;
        return escaped_bytes_kernel<C>(text, ifx);
    });
}

Ref bytes_literal_value(PyObject* text) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    std::string out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0x80) {
            PyErr_SetString(PyExc_SyntaxError, "bytes can only contain ASCII literal characters");
            return {};
        }
        if (c == '"') {
            // The quote would end the literal early.
            PyErr_SetString(PyExc_SyntaxError, "invalid syntax");
            return {};
        }
        if (c != '\\' || i + 1 >= n) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        Py_UCS4 e = PyUnicode_READ(kind, data, ++i);
        switch (e) {
            case '\n': break;
            case '\\': out.push_back('\\'); break;
            case '\'': out.push_back('\''); break;
            case '"': out.push_back('"'); break;
            case 'a': out.push_back('\a'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'v': out.push_back('\v'); break;
            case 'x': {
                int hi = i + 1 < n ? hex_value(PyUnicode_READ(kind, data, i + 1)) : -1;
                int lo = i + 2 < n ? hex_value(PyUnicode_READ(kind, data, i + 2)) : -1;
                if (hi < 0 || lo < 0) {
                    PyErr_Format(PyExc_SyntaxError, "(value error) invalid \\x escape at position %zd", i - 1);
                    return {};
                }
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned v = e - '0';
                    for (int k = 0; k < 2 && i + 1 < n; ++k) {
                        Py_UCS4 d = PyUnicode_READ(kind, data, i + 1);
                        if (d < '0' || d > '7') break;
                        v = v * 8 + (d - '0');
                        ++i;
                    }
                    out.push_back(static_cast<char>(v & 0xff));
                } else {
                    // Not an escape in a bytes literal: both characters stay.
                    out.push_back('\\');
                    out.push_back(static_cast<char>(e));
                }
        }
    }
    return Ref::adopt(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
}

}  // namespace qel::text
