#include "core/lookup_cache.hpp"

#include <utility>

namespace qel::core {
namespace {

#if QEL_HAS_WATCHERS && !QEL_READS_DICT_VERSIONS
// The watchers are the interpreter's own, one of each per interpreter; the
// module lives in one interpreter per process, so one id of each serves.
// Each is added when the first slot needs it.
int dict_watcher = -1;
int type_watcher = -1;
DictSlot* listed_dicts = nullptr;
TypeSlot* listed_types = nullptr;

/// Called before any change to a watched dict, its freeing included.
int dict_changing(PyDict_WatchEvent, PyObject* dict, PyObject*, PyObject*) {
    for (DictSlot* s = listed_dicts; s; s = s->next_listed)
        if (s->dict == dict) s->forget();
    return 0;
}

/// Called when a watched class, or a base of it, is changed.
int type_changed(PyTypeObject* type) {
    for (TypeSlot* s = listed_types; s; s = s->next_listed)
        if (s->type == type) s->forget();
    return 0;
}

/// Has the dict watcher tell us of changes to `dict`; -1 with an error set
/// when it can't (all the interpreter's dict watchers taken).
int watch_dict(PyObject* dict) {
    if (dict_watcher < 0 && (dict_watcher = PyDict_AddWatcher(dict_changing)) < 0) return -1;
    return PyDict_Watch(dict_watcher, dict);
}

/// The same for a class. A class tells its watchers only while it has a
/// valid version tag (the interpreter's per-class cache key); watching gives
/// it one, and a class that can't get one (it was changed too often) is
/// refused.
int watch_type(PyTypeObject* type) {
    if (type_watcher < 0 && (type_watcher = PyType_AddWatcher(type_changed)) < 0) return -1;
    if (PyType_Watch(type_watcher, reinterpret_cast<PyObject*>(type)) < 0) return -1;
    return PyUnstable_Type_AssignVersionTag(type) ? 0 : -1;
}
#endif

/// `dict[key]` (new reference), remembered in `slot`; declined when the key
/// is absent, and the caller looks further.
Outcome remember_item(DictSlot& slot, PyObject* dict, PyObject* key) {
    PyObject* found = PyDict_GetItemWithError(dict, key);
    if (!found) return PyErr_Occurred() ? Outcome(Ref()) : Outcome::declined();
    slot.remember(dict, found);
    return Ref::retain(found);
}

/// Whether the class defines nothing named `name`, remembered while the class
/// is unchanged.
bool defines_nothing(TypeSlot& slot, PyTypeObject* type, PyObject* name) {
    if (slot.hit(type)) return true;
    // What the generic attribute lookup itself asks first.
    if (internals::type_lookup(type, name) != nullptr) return false;
    slot.remember(type);
    return true;
}

}  // namespace

void DictSlot::remember(PyObject* d, PyObject* v) {
#if QEL_READS_DICT_VERSIONS
    if (const std::uint64_t current = internals::dict_version(d)) {
        dict = d;
        value = v;
        version = current;
    }
#elif QEL_HAS_WATCHERS
    if (watch_dict(d) < 0) {
        PyErr_Clear();  // looked up the full way each time instead
        forget();
        return;
    }
    dict = d;
    value = v;
    if (!listed) {
        next_listed = std::exchange(listed_dicts, this);
        listed = true;
    }
#else
    (void)d;
    (void)v;
#endif
}

void TypeSlot::remember(PyTypeObject* t) {
#if QEL_READS_TYPE_VERSIONS
    // The look-up that found the property gave the class a tag, if it could.
    if (const unsigned int current = internals::type_version(t)) {
        type = t;
        tag = current;
    }
#elif QEL_HAS_WATCHERS
    if (watch_type(t) < 0) {
        PyErr_Clear();
        forget();
        return;
    }
    type = t;
    Py_INCREF(t);
    Py_XSETREF(held, reinterpret_cast<PyObject*>(t));
    if (!listed) {
        next_listed = std::exchange(listed_types, this);
        listed = true;
    }
#else
    (void)t;
#endif
}

Ref cached_global_miss(DictSlot& slot, const Call& call, const Name& name) {
    PyObject* key = name.get();
    if (!key) return {};
    Outcome value = remember_item(slot, call.globals_dict(), key);
    if (value.handled()) return value.take();
    return call.global(name);  // not a module global: builtins, or NameError
}

Ref cached_module_attribute_miss(DictSlot& slot, PyObject* module, const Name& name) {
    // A plain module's attributes are its dict entries: the module type is
    // immutable and defines none of the names asked for here. Anything else
    // (a module subclass, a name a module __getattr__ supplies) goes the full way.
    if (PyModule_CheckExact(module)) {
        Outcome value = remember_item(slot, PyModule_GetDict(module), name.get());
        if (value.handled()) return value.take();
    }
    return Ref::adopt(PyObject_GetAttr(module, name.get()));
}

Ref cached_instance_attribute_miss(InstanceSlot& slot, PyObject* obj, const Name& name) {
    PyTypeObject* type = Py_TYPE(obj);
    // With the generic protocol and no class attribute of that name, the
    // instance dict alone decides. Only a dict at a fixed positive offset (as
    // the io classes keep it) is remembered: the hit path reads it from there.
    if (type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset > 0 &&
        defines_nothing(slot.type, type, name.get())) {
        PyObject* dict = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + type->tp_dictoffset);
        if (dict && PyDict_Check(dict)) {
            Outcome value = remember_item(slot.item, dict, name.get());
            if (value.handled()) return value.take();
        }
    }
    return Ref::adopt(PyObject_GetAttr(obj, name.get()));
}

Ref cached_class_attribute_miss(DictSlot& slot, PyObject* cls, const Name& name) {
    // For a class whose metaclass is exactly `type`, an entry of the class's
    // own dict that is no descriptor is what attribute access finds (`type`
    // defines no such name, and the class comes first in its own MRO).
    if (PyType_CheckExact(cls)) {
        PyObject* own = reinterpret_cast<PyTypeObject*>(cls)->tp_dict;
        if (own && PyDict_CheckExact(own)) {
            PyObject* found = PyDict_GetItemWithError(own, name.get());
            if (!found && PyErr_Occurred()) return {};
            if (found && Py_TYPE(found)->tp_descr_get == nullptr) {
                slot.remember(own, found);
                return Ref::retain(found);
            }
        }
    }
    return Ref::adopt(PyObject_GetAttr(cls, name.get()));
}

}  // namespace qel::core
