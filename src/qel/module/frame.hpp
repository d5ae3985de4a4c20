// The steps of the module body that belong to the module frame itself.
#pragma once

#include "module/module.hpp"

namespace qel::module::frame {

int bind_version(const Globals& g);             // qel_version = 2.2
int import_standard_modules(const Globals& g);  // socket, json, sys, os
int import_helpers(const Globals& g);           // ascii_uppercase, print_stack, rd
int define_vanilla(const Globals& g);           // the interpreter's own str and json
/// 1 when sys.platform equals "win32", 0 when not, -1 on error.
int on_windows(const Globals& g);

int rewrite_file_path(const Globals& g);        // on Windows: __file__ with forward slashes

}  // namespace qel::module::frame
