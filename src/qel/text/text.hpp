// Steps of the module body owned by the extended-text subsystem.
#pragma once

#include "core/klass.hpp"

namespace qel::text {

/// Code in text/ names what core/ defines unqualified; every file of
/// the folder includes this header, directly or through its own.
using namespace qel::core;

/// The extended `str` type, bound as the module global `str`.
int define_str(const Globals& g);

/// The `__string__` namespace: the colour lists and the block-letter renderers.
int define_string_namespace(const Globals& g);

}  // namespace qel::text
