// Every text the standard error writer passes on is a new string: the text
// with the colour codes around it. A buffered stream keeps the strings it is
// given until it writes its buffer out (a line-buffered one until the end of
// the line), then lets go of them; making and freeing one can cost more than
// half of what the stream's own write of it does. So the strings made here
// are kept in a ring, and one that only the ring still holds is written over
// for a later text instead of making another.
//
// Nobody can tell: a string only the ring references is out of everyone
// else's sight, and one with a cached hash, UTF-8 or wchar_t form, or
// interned, is never written over (see internals::str_extendable), as the
// interpreter's own in-place concatenation does.
#include "terminal/string_pool.hpp"

#include "core/internals.hpp"

#include <utility>

namespace qel::terminal {
namespace {

/// Enough for a buffered stream's 8 KiB of line-length texts before it lets
/// go of them.
constexpr unsigned ring_size = 128;

/// Only strings up to this many bytes of characters are kept, so that the
/// ring stays small (and a large string's copy dwarfs its allocation anyway).
constexpr Py_ssize_t largest_kept = 512;

struct Kept {
    PyObject* string = nullptr;  // owned, for the life of the process
    Py_ssize_t room = 0;         // the characters it was made for
};

Kept ring[ring_size];
unsigned next_slot;

/// The largest character a string made for `maxchar` can hold, which is what
/// PyUnicode_MAX_CHAR_VALUE reports of it.
Py_UCS4 storage_top(Py_UCS4 maxchar) {
    return maxchar < 128 ? 127 : maxchar < 256 ? 255 : maxchar < 65536 ? 65535 : 0x10ffff;
}

/// Bytes per character of a string made for `maxchar`.
Py_ssize_t storage_width(Py_UCS4 maxchar) {
    return maxchar < 256 ? 1 : maxchar < 65536 ? 2 : 4;
}

}  // namespace

bool reusable_length(Py_ssize_t length, Py_UCS4 maxchar) {
    return length <= largest_kept / storage_width(maxchar);
}

Ref new_string(Py_ssize_t length, Py_UCS4 maxchar) {
    // With threads that run at once, a count of 1 could be stale by the time
    // it is read.
    if (!compat::one_lock_for_all_threads || !reusable_length(length, maxchar))
        return Ref::adopt(PyUnicode_New(length, maxchar));
    const Py_UCS4 top = storage_top(maxchar);
    Kept& slot = ring[next_slot++ % ring_size];
    if (PyObject* s = slot.string;
        s && slot.room >= length && PyUnicode_MAX_CHAR_VALUE(s) == top && internals::str_extendable(s, 1)) {
        internals::set_str_length(s, length);
        return Ref::retain(s);
    }
    Ref made = Ref::adopt(PyUnicode_New(length, maxchar));
    if (!made) return {};
    Ref replaced = Ref::adopt(std::exchange(slot.string, Ref(made).release()));
    slot.room = length;
    return made;
}

}  // namespace qel::terminal
