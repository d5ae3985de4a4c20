// The steps of the module body that greet the user and prepare the console.
#pragma once

#include "module/module.hpp"

namespace qel::module::startup {

/// On Windows only: binds `windll` (ctypes.windll) and sets the console mode of
/// standard output to interpret ANSI colour sequences.
int enable_console_colours(const Globals& g);

/// The welcome line and the version check, as the two environment switches
/// "qel.no_info" and "qel.no_check" allow. May bind `PoolManager` and `new_qel`.
int notice_and_version_check(const Globals& g);

}  // namespace qel::module::startup
