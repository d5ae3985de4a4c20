// Appending to a listener's `content` without copying everything captured so
// far on every write.
#pragma once

#include "terminal/terminal.hpp"

namespace qel::terminal {

/// dict["content"] = dict["content"] + text, for a listener's instance dict
/// and an exact, ready str `text`. 1 when done; 0 when `content` is absent or
/// not an exact str, so the caller must append the general way; -1 with an
/// exception set on error, the captured text then left as it was.
int append_to_content(PyObject* dict, PyObject* text);

/// A listener that will capture no more: this module lets go of its content
/// (which keeps its spare room). Never fails; any exception set is kept.
void forget_content(PyObject* listener);

}  // namespace qel::terminal
