// Steps of the module body owned by the extended-text subsystem.
#pragma once

#include "core/klass.hpp"

namespace qel::text {

/// The extended `str` type, bound as the module global `str`.
int define_str(const Globals& g);

/// The `__string__` namespace: the colour lists and the block-letter renderers.
int define_string_namespace(const Globals& g);

/// Wraps a value in the module's current `str` (normally the extended type).
Ref wrap_str(const Call& call, const Ref& value);

}  // namespace qel::text
