#pragma once

#include "core/ref.hpp"

namespace qel::text {

/// The text without the seven default foreground codes, as a built-in str.
///
/// Removing the codes one after the other (the defined behaviour) can join the
/// pieces around a removed code into a new code, which a later removal then
/// takes out too. One pass gives the same text unless a removal happens right
/// after a stray escape character; in that case `sequential_needed` is set and
/// the result is empty (with no error set).
Ref strip_foreground_codes(PyObject* text, bool& sequential_needed);

/// The same text made straight into a new instance of `type`, the module's
/// str type, where the removals are what `type(strip_foreground_codes(text))`
/// would give (`type` has the default str constructor: see
/// directly_made_str_type).
Ref strip_foreground_codes_into(PyTypeObject* type, PyObject* text, bool& sequential_needed);

}  // namespace qel::text
