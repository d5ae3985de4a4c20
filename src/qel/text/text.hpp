// Steps of the module body owned by the extended-text subsystem.
#pragma once

#include "core/klass.hpp"

namespace qel::text {

/// The extended `str` type, bound as the module global `str`.
int define_str(const Globals& g);

/// The `__string__` namespace: the colour lists and the block-letter renderers.
int define_string_namespace(const Globals& g);

}  // namespace qel::text
