// Text transformations of the string type's qe_ methods.
#pragma once

#include "text/text.hpp"

namespace qel::text {

/// Each character as "\xhh" / "\u0hhh" / "\uhhhh" (up to six digits); with
/// `ifx` false the two-digit forms become "\u00hh". ASCII result, built-in str.
Ref unicode_escapes(PyObject* text, bool ifx);

/// The bytes a bytes literal with this body denotes (the subset the escapes
/// above produce, and the literal's other escapes). SyntaxError for text that
/// cannot stand in a bytes literal.
Ref bytes_literal_value(PyObject* text);

/// The bytes of `self.qe_goto_unicode()` read as a bytes literal, computed
/// directly: characters up to U+00FF as one byte, others as their "\u" text
/// (or, with `ifx` false, the escape text itself).
Ref escaped_bytes(PyObject* text, bool ifx);

}  // namespace qel::text
