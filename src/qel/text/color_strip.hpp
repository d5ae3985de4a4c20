#pragma once

#include "text/text.hpp"

namespace qel::text {

/// The text without the seven default foreground codes, as a built-in str.
///
/// Removing the codes one after the other (the defined behaviour) can join the
/// pieces around a removed code into a new code, which a later removal then
/// takes out too. One pass gives the same text unless a removal happens right
/// after a stray escape character; that text is declined, for the removals
/// one after the other.
Outcome strip_foreground_codes(PyObject* text);

/// The same text made straight into a new instance of `type`, the module's
/// str type, where the removals are what `type(strip_foreground_codes(text))`
/// would give (`type` has the default str constructor: see
/// directly_made_str_type). Declines the same texts.
Outcome strip_foreground_codes_into(PyTypeObject* type, PyObject* text);

}  // namespace qel::text
