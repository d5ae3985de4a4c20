#pragma once

#include "text/text.hpp"

namespace qel::text {

/// `text.replace(piece, "", limit)` (limit < 0: every occurrence) made
/// straight into a new instance of `type`, the module's str type, when that
/// gives exactly what the replacement followed by `type(result)` gives.
///
/// That holds when `type` has the default str constructor (see
/// directly_made_str_type), `text` and `piece` are str, `piece` is not empty,
/// and the result's characters keep the text's width; the last is known in
/// advance when `piece` is narrower than the text (or both are ASCII).
/// Otherwise declined: the caller takes the general way.
Outcome remove_into(PyTypeObject* type, PyObject* text, PyObject* piece, Py_ssize_t limit);

}  // namespace qel::text
