// A listener's `content` is an ordinary str in its instance dict: users read
// it and may replace it at any time, so every write must leave a finished
// string there. Building a new string per write would copy everything
// captured so far each time. Instead the content string is made with room to
// spare, as the interpreter's own string builder does, and later texts are
// copied into that room while nobody but the dict can see the string.
//
// The module keeps a reference to each string it made with room, beside the
// room's size. That reference is what makes the bookkeeping sound: while it
// is held, no other object can live at that address, so a dict holding a
// string at the remembered address holds exactly that string; and a
// reference count of two (the dict and us) proves nobody else can see it
// change. Anything else (a replaced `content`, a reference held elsewhere, a
// cached hash) takes the copying path, which leaves a string with room of its
// own again.
#include "terminal/content_reserve.hpp"

#include "core/internals.hpp"
#include "terminal/capture.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace qel::terminal {
namespace {

/// A content string with room to spare.
struct Reserve {
    Ref str;                        // the string, kept alive while remembered
    Py_ssize_t capacity = 0;        // characters its memory has room for
};

/// One per open listener in the usual cases; more listeners take turns.
/// Never destroyed: at process exit the interpreter is gone before static
/// destructors run, and the strings go with it.
std::array<Reserve, 4>& reserves = *new std::array<Reserve, 4>();
std::size_t next_reserve = 0;

Reserve* find_reserve(PyObject* str) {
    for (Reserve& r : reserves)
        if (r.str.get() == str) return &r;
    return nullptr;
}

/// Has the kernel provide a large content string's spare room now, in one
/// call, instead of a page at a time as writes first touch it: a long capture
/// writes into fresh memory all the time, and taking a page fault every few
/// dozen writes makes the time per write grow with the capture. Linux only;
/// a kernel that can't (before 5.14) declines and the room stays lazy.
void populate_room(PyObject* str, Py_ssize_t capacity) {
#if defined(__linux__)
#if defined(MADV_POPULATE_WRITE)
    constexpr int populate_write = MADV_POPULATE_WRITE;
#else
    constexpr int populate_write = 23;
#endif
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto kind = static_cast<std::uintptr_t>(PyUnicode_KIND(str));
    const auto bytes = static_cast<std::uintptr_t>(capacity) * kind;
    if (bytes < (std::uintptr_t{1} << 20)) return;
    const auto data = reinterpret_cast<std::uintptr_t>(PyUnicode_DATA(str));
    // Whole pages past the characters written so far, within the room.
    const std::uintptr_t first = (data + static_cast<std::uintptr_t>(PyUnicode_GET_LENGTH(str)) * kind + page - 1) & ~(page - 1);
    const std::uintptr_t last = (data + bytes) & ~(page - 1);
    if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, populate_write);
#else
    (void)str;
    (void)capacity;
#endif
}

void remember(Ref str, Py_ssize_t capacity) {
    populate_room(str.get(), capacity);
    Reserve* r = nullptr;
    // A string only we still hold was dropped by its listener: reuse its place.
    for (Reserve& candidate : reserves)
        if (!candidate.str || Py_REFCNT(candidate.str.get()) == 1) { r = &candidate; break; }
    if (!r) {
        r = &reserves[next_reserve];
        next_reserve = (next_reserve + 1) % reserves.size();
    }
    r->str = std::move(str);  // releases the string remembered there before
    r->capacity = capacity;
}

void copy_into(PyObject* dest, Py_ssize_t at, PyObject* text, Py_ssize_t m) {
    const auto kind = PyUnicode_KIND(dest);
    if (PyUnicode_KIND(text) == kind) {
        std::memcpy(static_cast<char*>(PyUnicode_DATA(dest)) + static_cast<std::size_t>(at) * kind,
                    PyUnicode_DATA(text), static_cast<std::size_t>(m) * kind);
        return;
    }
    // A narrower text is widened character by character.
    const auto text_kind = PyUnicode_KIND(text);
    const void* src = PyUnicode_DATA(text);
    void* data = PyUnicode_DATA(dest);
    for (Py_ssize_t i = 0; i < m; ++i) PyUnicode_WRITE(kind, data, at + i, PyUnicode_READ(text_kind, src, i));
}

/// Room for `length` characters and half as much again: each captured
/// character is then moved or copied a bounded number of times, however long
/// the capture runs. Where the module can't set a string's length itself,
/// exactly `length`: every capture then copies the content, as
/// `content + text` does.
Py_ssize_t capacity_for(Py_ssize_t length) {
    if (!internals::str_layout_writable) return length;
    if (length < 256) return 256;
    return length > PY_SSIZE_T_MAX / 8 ? length : length + length / 2;
}

/// Gives the dict's content string, of which the dict holds the only
/// reference, memory for `capacity` characters; the allocator can often
/// extend or move a large block without copying it. The string keeps its
/// length. Returns the string (new reference) or an empty Ref with an error
/// set, the content then as it was.
Ref resize_content(PyObject* dict, PyObject* content, Py_ssize_t capacity) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(content);
    // Leave the dict holding no reference while the string may move: resizing
    // needs the only reference. Nothing here runs Python code or releases the
    // interpreter lock, so no other code can see the placeholder.
    Ref owned = Ref::retain(content);
    if (PyDict_SetItem(dict, content_name.get(), Py_None) < 0) return {};
    PyObject* s = owned.release();
    // On failure `s` still holds the text captured before; on success its
    // length is the new room's until set back.
    if (PyUnicode_Resize(&s, capacity) == 0) internals::set_str_length(s, n);
    Ref str = Ref::adopt(s);
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    const int stored = PyDict_SetItem(dict, content_name.get(), str.get());
    if (type) {
        PyErr_Restore(type, value, tb);  // the resize's error is the one to report
        return {};
    }
    return stored < 0 ? Ref() : str;
}

/// content + text into a new string with room to spare, stored in the dict:
/// for a content string others hold, or one narrower than the text.
Ref copy_content(PyObject* dict, PyObject* content, PyObject* text, Py_ssize_t capacity) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(content);
    const Py_ssize_t m = PyUnicode_GET_LENGTH(text);
    Py_UCS4 maxchar = PyUnicode_MAX_CHAR_VALUE(content);
    if (PyUnicode_MAX_CHAR_VALUE(text) > maxchar) maxchar = PyUnicode_MAX_CHAR_VALUE(text);
    Ref grown = Ref::adopt(PyUnicode_New(capacity, maxchar));
    if (!grown) return {};
    copy_into(grown.get(), 0, content, n);
    copy_into(grown.get(), n, text, m);
    internals::set_str_length(grown.get(), n + m);
    if (PyDict_SetItem(dict, content_name.get(), grown.get()) < 0) return {};
    return grown;
}

/// content + text in the dict, with room for `capacity` characters.
Ref grow(PyObject* dict, PyObject* content, PyObject* text, Py_ssize_t capacity, bool in_place) {
    if (!in_place) return copy_content(dict, content, text, capacity);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(content);
    const Py_ssize_t m = PyUnicode_GET_LENGTH(text);
    Ref grown = resize_content(dict, content, capacity);
    if (grown) {
        copy_into(grown.get(), n, text, m);
        internals::set_str_length(grown.get(), n + m);
    }
    return grown;
}

/// content + text with new room; `held` is our reserve of the content, if any.
int regrow(PyObject* dict, PyObject* content, PyObject* text, Reserve* held) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(content);
    const Py_ssize_t m = PyUnicode_GET_LENGTH(text);
    if (n > PY_SSIZE_T_MAX / 8 - m) return PyErr_NoMemory(), -1;
    Py_ssize_t capacity = capacity_for(n + m);
    const bool in_place = internals::str_extendable(content, held ? 2 : 1) &&
                          PyUnicode_MAX_CHAR_VALUE(text) <= PyUnicode_MAX_CHAR_VALUE(content);
    // The old string is remembered no longer; the dict keeps it alive.
    if (held) held->str.reset();
    Ref grown = grow(dict, content, text, capacity, in_place);
    if (!grown && capacity > n + m && PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();  // no room to spare: an exact fit will do
        capacity = n + m;
        grown = grow(dict, content, text, capacity, in_place);
    }
    if (!grown) return -1;
    remember(std::move(grown), capacity);
    return 1;
}

}  // namespace

int append_to_content(PyObject* dict, PyObject* text) {
    PyObject* content = PyDict_GetItemWithError(dict, content_name.get());
    if (!content) return PyErr_Occurred() ? -1 : 0;  // first capture: the class attribute
    if (!PyUnicode_CheckExact(content)) return 0;
    Reserve* r = find_reserve(content);
    if (r) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(content);
        const Py_ssize_t m = PyUnicode_GET_LENGTH(text);
        // In place: only the dict and we hold it, nothing of it is cached,
        // and the text fits its width and its room.
        if (internals::str_extendable(content, 2) && PyUnicode_MAX_CHAR_VALUE(text) <= PyUnicode_MAX_CHAR_VALUE(content) &&
            m <= r->capacity - n) {
            copy_into(content, n, text, m);
            internals::set_str_length(content, n + m);
            return 1;
        }
    }
    return regrow(dict, content, text, r);
}

void forget_content(PyObject* listener) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    Ref dict = Ref::adopt(PyObject_GenericGetDict(listener, nullptr));
    PyObject* content = dict ? PyDict_GetItemWithError(dict.get(), content_name.get()) : nullptr;
    if (Reserve* r = content ? find_reserve(content) : nullptr) r->str.reset();
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
}

}  // namespace qel::terminal
