// The round trip every value takes on its way into a Json:
// vanilla.json.loads(vanilla.json.dumps(value)), with the standard defaults.
#pragma once

#include "jsonobj/jsonobj.hpp"

namespace qel::jsonobj {

/// `vanilla.json.<function>(argument)`, every name looked up now.
Ref call_vanilla_json(const Call& call, const Name& function, PyObject* argument);

/// `vanilla.json.loads(vanilla.json.dumps(value))`: the data, key order,
/// exceptions and messages are always those of that expression.
Ref normalise(const Call& call, PyObject* value);

/// The native copy of `value`, when it is certain to equal the round trip
/// (standard functions in place, plain data, room on the stack); declined when
/// not certain: take the round trip itself. `any_dict_at_top`: as
/// copy_plain_tree.
Outcome native_copy(const Call& call, PyObject* value, bool any_dict_at_top);

/// Whether `self.items()` is the built-in dict.items bound to `self`, which
/// is how the encoder reads a dict subclass. Runs no code of the object's.
bool has_builtin_items(PyObject* self);

/// Notes the standard json functions while the module is built, so that the
/// native copy is used only while they are the ones `vanilla.json` still names.
void remember_standard_json(const Globals& g);

}  // namespace qel::jsonobj
