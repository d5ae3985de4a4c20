// Units written before the str that holds them exists: a block from
// internals::str_data_alloc, filled by a kernel and then taken over by the new
// instance (see internals::adopt_str_data).
#pragma once

#include "core/internals.hpp"
#include "text/text.hpp"

#include <cstddef>

namespace qel::text {

/// A new instance of the str subclass `type` holding the `length` units at
/// `out`, a block from internals::str_data_alloc with room for `room` units and a NUL.
/// The block is taken over, also when the instance can't be made. The units
/// must be in their narrowest width; `ascii` says they are all below 128.
template <class C>
Ref adopt_units(PyTypeObject* type, C* out, Py_ssize_t room, Py_ssize_t length, bool ascii) {
    out[length] = 0;
    if (4 * (length + 1) <= 3 * (room + 1)) {
        // Give back what the removals freed when it is a quarter of the block
        // or more; a failed shrink keeps the block. Less is kept, as the
        // interpreter's own allocator keeps a small block that would shrink
        // by less: a shrink costs about as much as the removal from a short
        // text, and most removals take out a little of a text.
        if (void* smaller = internals::str_data_realloc(out, static_cast<std::size_t>(length + 1) * sizeof(C)))
            out = static_cast<C*>(smaller);
    }
    return Ref::adopt(internals::adopt_str_data(type, out, length, static_cast<int>(sizeof(C)), ascii));
}

}  // namespace qel::text
