#include "text/escape.hpp"

#include <cstring>
#include <string>

namespace qel::text {
namespace {

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
