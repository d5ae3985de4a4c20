#pragma once

#include "core/ref.hpp"

namespace qel {

/// Runs the module body on a new module object; -1 with an exception set when
/// a step fails (effects of earlier steps on the streams and prompts stay).
int run_module_body(PyObject* module);

}  // namespace qel
