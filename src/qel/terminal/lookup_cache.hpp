// Remembered dict lookups for the writers' hot path.
//
// Every write must see the current `sys`, `sys.stdout`, the stream's
// `vanilla_write`, `terminal_listener` and `str`, because any of them may be
// rebound at any moment. Each is a dict entry, and the interpreter gives every
// dict a version that changes whenever the dict is modified; an entry looked
// up once is therefore still the answer while its dict's version is the same.
// That turns four or five dict lookups per write into integer comparisons.
#pragma once

#include "core/function.hpp"

#include <cstdint>

namespace qel::terminal {

/// One remembered `dict[key]`, holding no references: versions are unique
/// across all dicts and all their states, so a live dict at this address with
/// this version is the same dict unchanged, and it still owns `value`. Nothing
/// is kept alive by being remembered (a stream swapped out of sys.stdout is
/// closed and flushed when its last user lets go, as it would be without us).
struct DictSlot {
    PyObject* dict = nullptr;       // identity only, never dereferenced unless matched
    std::uint64_t version = 0;
    PyObject* value = nullptr;      // borrowed from `dict`; valid only on a match
};

/// A class known, at one version of it, to define nothing of a given name.
/// Type version tags are unique too, and change whenever the class or a base
/// is modified.
struct TypeSlot {
    PyTypeObject* type = nullptr;   // identity only
    unsigned int tag = 0;
};

/// One remembered instance attribute: the class check and the dict entry.
struct InstanceSlot {
    TypeSlot type;
    DictSlot item;
};

/// `dict[key]` (new reference), remembered in `slot`; empty Ref when the key is
/// absent (no error set) or on error (error set).
Ref cached_item(DictSlot& slot, PyObject* dict, PyObject* key);

/// A module global as the running function sees it (module dict, then builtins).
Ref cached_global(DictSlot& slot, const Call& call, const Name& name);

/// getattr(module, name), remembered for a plain module object.
Ref cached_module_attribute(DictSlot& slot, PyObject* module, const Name& name);

/// getattr(obj, name) for an attribute that lives in the instance dict (such as
/// the `vanilla_write` set on a stream object), remembered when the object uses
/// the generic attribute protocol and its class defines nothing of that name.
Ref cached_instance_attribute(InstanceSlot& slot, PyObject* obj, const Name& name);

/// getattr(cls, name) for a class whose metaclass is `type` itself and whose
/// own dict holds the attribute as a plain value (the listener registry),
/// remembered as an entry of that dict.
Ref cached_class_attribute(DictSlot& slot, PyObject* cls, const Name& name);

}  // namespace qel::terminal
