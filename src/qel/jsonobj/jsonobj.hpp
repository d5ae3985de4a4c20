// Steps of the module body owned by the JSON subsystem, and the names its
// files share.
#pragma once

#include "core/klass.hpp"

namespace qel::jsonobj {

/// Code in jsonobj/ names what core/ defines unqualified; every file of
/// the folder includes this header, directly or through its own.
using namespace qel::core;

/// Names shared by the JSON files.
inline Name dumps_name{"dumps"};
inline Name loads_name{"loads"};

/// The `Json` dictionary type, bound as the module global `Json`.
int define_json_type(const Globals& g);

/// The class `json`, bound as `json` and at once replaced by its only instance.
int define_json_factory(const Globals& g);

}  // namespace qel::jsonobj
