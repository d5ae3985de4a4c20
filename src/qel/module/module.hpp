// The module's own folder: the entry point, the module body and its frame.
// Code here names what core/ defines unqualified, through the directive
// below, which every file of the folder sees through this header.
#pragma once

#include "core/globals.hpp"

namespace qel::module {

using namespace qel::core;

/// Runs the module body on a new module object; -1 with an exception set when
/// a step fails (effects of earlier steps on the streams and prompts stay).
int run_module_body(PyObject* module);

}  // namespace qel::module
