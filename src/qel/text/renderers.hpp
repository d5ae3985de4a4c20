// The block-letter renderers of `__string__`.
#pragma once

#include "text/text.hpp"

namespace qel::text {

/// Adds `hut`, `lute` and the nested class `qel` (with `qel` and `vb.rover_tam`)
/// to the `__string__` class being built, after its colour lists.
void add_renderers(ClassBuilder& string_namespace);

}  // namespace qel::text
