// Remembered dict lookups for hot paths.
//
// Every write must see the current `sys`, `sys.stdout`, the stream's
// `vanilla_write`, `terminal_listener` and `str`, and every string method the
// current `str`, because any of them may be rebound at any moment. Each is a
// dict entry, so an entry looked up once is still the answer until its dict
// changes. That turns the dict lookups of a call into pointer comparisons,
// inline; a miss takes the full lookup out of line.
//
// How a slot learns of a change depends on the interpreter (internals.hpp):
//  * 3.12 and later: the public dict and class watchers tell us before any
//    change to a remembered dict or class, and the slot forgets at once;
//  * 3.9 to 3.11: every dict and class carries a version number that any
//    change replaces, and the slot compares it on each hit;
//  * otherwise (the portable build on 3.9 to 3.11): nothing is remembered,
//    and every call looks everything up.
// Slots live as long as the process (static storage): the watchers keep a
// list of them.
#pragma once

#include "core/function.hpp"
#include "core/internals.hpp"

#include <cstdint>

namespace qel::core {

/// One remembered `dict[key]`, holding no references: a dict is forgotten
/// before it changes or goes (or, with versions, by the version no other
/// state of any dict has), so a live dict at this address is the same dict
/// unchanged, and it still owns `value`. Nothing is kept alive by being
/// remembered (a stream swapped out of sys.stdout is closed and flushed when
/// its last user lets go, as it would be without us).
struct DictSlot {
    PyObject* dict = nullptr;       // identity only, never dereferenced unless matched
    PyObject* value = nullptr;      // borrowed from `dict`; valid only on a match
#if QEL_READS_DICT_VERSIONS
    std::uint64_t version = 0;
#elif QEL_HAS_WATCHERS
    DictSlot* next_listed = nullptr;  // the slots the dict watcher forgets in
    bool listed = false;
#endif

    /// The remembered value when `d` is that dict unchanged, else null.
    PyObject* hit(PyObject* d) const {
#if QEL_READS_DICT_VERSIONS
        return d == dict && internals::dict_version(d) == version ? value : nullptr;
#else
        return d == dict ? value : nullptr;
#endif
    }

    /// Remembers that `d` holds `v` until `d` changes; may decline (then
    /// remembers nothing). Never leaves an error set.
    void remember(PyObject* d, PyObject* v);

    void forget() {
        dict = nullptr;
        value = nullptr;
    }
};

/// A class known, as it is now, to have some property (such as defining
/// nothing of a given name); forgotten when the class or a base changes.
struct TypeSlot {
    PyTypeObject* type = nullptr;   // identity only
#if QEL_READS_TYPE_VERSIONS
    unsigned int tag = 0;
#elif QEL_HAS_WATCHERS
    // A class freed without first being changed tells no watcher; held, it
    // can't go and leave its address to another class while remembered.
    // Released only when the slot remembers another, never in the watcher.
    PyObject* held = nullptr;
    TypeSlot* next_listed = nullptr;
    bool listed = false;
#endif

    bool hit(PyTypeObject* t) const {
#if QEL_READS_TYPE_VERSIONS
        return t == type && internals::type_version(t) == tag;
#else
        return t == type;
#endif
    }

    /// Remembers `t` as it is now; may decline. Never leaves an error set.
    void remember(PyTypeObject* t);

    void forget() { type = nullptr; }
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
    // A module's dict is fixed for its lifetime, so only the dict is checked.
    if (PyModule_CheckExact(module))
        if (PyObject* v = slot.hit(internals::module_dict(module))) return Ref::retain(v);
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
/// remembered as an entry of that dict. Never as a property of the class:
/// assigning a class attribute releases the old value before the class is
/// marked changed, and a finalizer that runs then (and writes) would be
/// handed the value being freed.
inline Ref cached_class_attribute(DictSlot& slot, PyObject* cls, const Name& name) {
    if (PyType_CheckExact(cls))
        if (PyObject* v = slot.hit(reinterpret_cast<PyTypeObject*>(cls)->tp_dict)) return Ref::retain(v);
    return cached_class_attribute_miss(slot, cls, name);
}

}  // namespace qel::core
