// The escape display form, shared by the string type's repr and the terminal
// listener's __str__.
#pragma once

#include "core/ref.hpp"

#include <string_view>

namespace qel::core {

/// prefix + `text` in its escape display form + suffix, as a built-in str:
/// backslash doubled; double quote, CR, LF and tab escaped; ESC shown as "\33".
/// `text` must be a str; prefix and suffix are ASCII.
Ref escape_display(PyObject* text, std::string_view prefix, std::string_view suffix);

}  // namespace qel::core
