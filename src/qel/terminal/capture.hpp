// Fan-out of written text to the open terminal listeners.
#pragma once

#include "terminal/terminal.hpp"

namespace qel::terminal {

/// Appends `text`, as the module's `str` converts it, to the `content` of
/// every listener in `terminal_listener.listeners`, in registry order.
/// 0, or -1 with an exception set (listeners before the failing one keep the text).
int capture(const Call& call, PyObject* text);

}  // namespace qel::terminal
