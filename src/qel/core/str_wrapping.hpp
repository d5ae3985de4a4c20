// Wrapping a value in the module's current `str` (normally the extended
// type), and when an instance of it can be made directly from characters.
#pragma once

#include "core/klass.hpp"

namespace qel::core {

/// Whether calling `type` on a built-in str only copies the characters into a
/// new instance of `type`: str itself, or a subclass with str's own __new__
/// and __init__.
bool constructs_like_str(PyTypeObject* type);

/// The module's current `str` when an instance of it can be made directly
/// from characters instead of by calling it on a built-in str: a subclass of
/// str with the default constructor (see internals::adopt_str_data). Otherwise
/// declined; a failed look-up of `str` is declined too (the general way looks
/// it up again and reports it), so a handled outcome is never empty.
Outcome directly_made_str_type(const Call& call);

/// Wraps a value in the module's current `str` (normally the extended type).
Ref wrap_str(const Call& call, const Ref& value);

}  // namespace qel::core
