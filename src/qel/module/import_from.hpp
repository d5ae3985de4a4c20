// `from module import name`, as the interpreter's own statement does it.
#pragma once

#include "module/module.hpp"

namespace qel::module {

/// Imports `module` (absolute) on behalf of the module being built and returns
/// its attribute `name`. A missing attribute is an ImportError naming both, as
/// with the statement; any error leaves an exception set and returns empty.
Ref import_from(const Globals& g, const char* module, const char* name);

}  // namespace qel::module
