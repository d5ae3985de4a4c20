// Steps of the module body owned by the JSON subsystem.
#pragma once

#include "core/klass.hpp"

namespace qel::jsonobj {

/// The `Json` dictionary type, bound as the module global `Json`.
int define_json_type(const Globals& g);

/// The class `json`, bound as `json` and at once replaced by its only instance.
int define_json_factory(const Globals& g);

}  // namespace qel::jsonobj
