// Remembered dict lookups for hot paths.
//
// Every write must see the current `sys`, `sys.stdout`, the stream's
// `vanilla_write`, `terminal_listener` and `str`, and every string method the
// current `str`, because any of them may be rebound at any moment. Each is a
// dict entry, and the interpreter gives every dict a version that changes
// whenever the dict is modified; an entry looked up once is therefore still
// the answer while its dict's version is the same. That turns the dict
// lookups of a call into integer comparisons. The comparisons are inline; a
// miss takes the full lookup out of line.
#pragma once

#include "core/compat.hpp"
#include "core/function.hpp"

#include <cstdint>

namespace qel {

/// One remembered `dict[key]`, holding no references: versions are unique
/// across all dicts and all their states, so a live dict at this address with
/// this version is the same dict unchanged, and it still owns `value`. Nothing
/// is kept alive by being remembered (a stream swapped out of sys.stdout is
/// closed and flushed when its last user lets go, as it would be without us).
struct DictSlot {
    PyObject* dict = nullptr;       // identity only, never dereferenced unless matched
    std::uint64_t version = 0;      // never 0 once something is remembered
    PyObject* value = nullptr;      // borrowed from `dict`; valid only on a match

    /// The remembered value when `d` is that dict unchanged, else null.
    PyObject* hit(PyObject* d) const {
        return d == dict && compat::dict_version(d) == version ? value : nullptr;
    }
};

/// A class known, at one version of it, to have some property (such as
/// defining nothing of a given name). Type version tags are unique too, and
/// change whenever the class or a base is modified.
struct TypeSlot {
    PyTypeObject* type = nullptr;   // identity only
    unsigned int tag = 0;           // never 0 once something is remembered

    bool hit(PyTypeObject* t) const { return t == type && compat::type_version(t) == tag; }
};

/// One remembered instance attribute: the class check and the dict entry.
struct InstanceSlot {
    TypeSlot type;
    DictSlot item;

    /// The remembered value when `obj`'s class and instance dict are those
    /// remembered, both unchanged, else null. A remembered class was checked
    /// for the generic attribute protocol and a fixed dict offset.
    PyObject* hit(PyObject* obj) const {
        PyTypeObject* t = Py_TYPE(obj);
        if (!type.hit(t)) return nullptr;
        PyObject* dict = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + t->tp_dictoffset);
        return dict ? item.hit(dict) : nullptr;
    }
};

Ref cached_global_miss(DictSlot& slot, const Call& call, const Name& name);
Ref cached_module_attribute_miss(DictSlot& slot, PyObject* module, const Name& name);
Ref cached_instance_attribute_miss(InstanceSlot& slot, PyObject* obj, const Name& name);
Ref cached_class_attribute_miss(DictSlot& slot, PyObject* cls, const Name& name);

/// A module global as the running function sees it (module dict, then
/// builtins); empty Ref with an error set when there is none.
inline Ref cached_global(DictSlot& slot, const Call& call, const Name& name) {
    if (PyObject* v = slot.hit(call.globals_dict())) return Ref::retain(v);
    return cached_global_miss(slot, call, name);
}

/// getattr(module, name), remembered for a plain module object.
inline Ref cached_module_attribute(DictSlot& slot, PyObject* module, const Name& name) {
    // A module's dict is fixed for its lifetime, so only its version is checked.
    if (PyModule_CheckExact(module))
        if (PyObject* v = slot.hit(compat::module_dict(module))) return Ref::retain(v);
    return cached_module_attribute_miss(slot, module, name);
}

/// getattr(obj, name) for an attribute that lives in the instance dict (such as
/// the `vanilla_write` set on a stream object), remembered when the object uses
/// the generic attribute protocol and its class defines nothing of that name.
inline Ref cached_instance_attribute(InstanceSlot& slot, PyObject* obj, const Name& name) {
    if (PyObject* v = slot.hit(obj)) return Ref::retain(v);
    return cached_instance_attribute_miss(slot, obj, name);
}

/// getattr(cls, name) for a class whose metaclass is `type` itself and whose
/// own dict holds the attribute as a plain value (the listener registry),
/// remembered as an entry of that dict. Never by the class's version tag:
/// assigning a class attribute releases the old value before the tag is
/// invalidated, and a finalizer that runs then (and writes) would be handed
/// the value being freed.
inline Ref cached_class_attribute(DictSlot& slot, PyObject* cls, const Name& name) {
    if (PyType_CheckExact(cls))
        if (PyObject* v = slot.hit(reinterpret_cast<PyTypeObject*>(cls)->tp_dict)) return Ref::retain(v);
    return cached_class_attribute_miss(slot, cls, name);
}

}  // namespace qel
