// A native copy of "plain" data, made exactly as the standard json round trip
// would remake it, for the common case where nothing in it needs the encoder's
// judgement.
#pragma once

#include "jsonobj/jsonobj.hpp"

namespace qel::jsonobj {

/// Copies a tree made only of exact dict (with exact str keys), list, tuple,
/// str, int, float, bool and None, at most `max_depth` containers deep.
///
/// The result equals `json.loads(json.dumps(value))` in data, types, key order
/// and object sharing (fresh containers, numbers and strings; one object per
/// distinct key text, as the decoder's key memo gives). Anything the round trip
/// would treat differently -- any subclass, non-str keys, NaN and infinities,
/// ints outside 64 bits, surrogate code points, containers on their own path,
/// deeper nesting -- is declined, so the caller takes the real round trip
/// instead.
///
/// With `any_dict_at_top`, a top-level dict subclass is read like a dict; only
/// for callers that know the encoder would see exactly its own items.
Outcome copy_plain_tree(PyObject* value, int max_depth, bool any_dict_at_top);

}  // namespace qel::jsonobj
