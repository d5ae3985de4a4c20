// What the Json methods need from the factory's side.
#pragma once

#include "jsonobj/jsonobj.hpp"

namespace qel::jsonobj {

/// `dict.__new__(Json)`: an empty Json (the module's current `Json`) that never
/// went through Json.__init__.
Ref new_empty_json(const Call& call);

/// Whether calling `factory` runs this module's json.__call__ (its class is a
/// plain class whose __call__ is still ours), so that a shortcut standing for
/// that call is exact.
bool is_own_factory(PyObject* factory);

}  // namespace qel::jsonobj
