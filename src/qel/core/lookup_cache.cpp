#include "core/lookup_cache.hpp"

namespace qel {
namespace {

/// `dict[key]` (new reference), remembered in `slot`; empty Ref when the key is
/// absent (no error set) or on error (error set).
Ref remember_item(DictSlot& slot, PyObject* dict, PyObject* key) {
    PyObject* found = PyDict_GetItemWithError(dict, key);
    if (!found) return {};
    if (const std::uint64_t version = compat::dict_version(dict)) slot = DictSlot{dict, version, found};
    return Ref::retain(found);
}

/// Whether the class defines nothing named `name`, remembered per class version.
bool defines_nothing(TypeSlot& slot, PyTypeObject* type, PyObject* name) {
    if (slot.hit(type)) return true;
    // _PyType_Lookup answers from the interpreter's per-type cache, as the
    // generic attribute lookup itself does; it also gives the class a tag.
    if (_PyType_Lookup(type, name) != nullptr) return false;
    if (const unsigned int tag = compat::type_version(type)) slot = TypeSlot{type, tag};
    return true;
}

}  // namespace

Ref cached_global_miss(DictSlot& slot, const Call& call, const Name& name) {
    PyObject* key = name.get();
    if (!key) return {};
    Ref value = remember_item(slot, call.globals_dict(), key);
    if (value || PyErr_Occurred()) return value;
    return call.global(name);  // not a module global: builtins, or NameError
}

Ref cached_module_attribute_miss(DictSlot& slot, PyObject* module, const Name& name) {
    // A plain module's attributes are its dict entries: the module type is
    // immutable and defines none of the names asked for here. Anything else
    // (a module subclass, a name a module __getattr__ supplies) goes the full way.
    if (PyModule_CheckExact(module)) {
        Ref value = remember_item(slot, PyModule_GetDict(module), name.get());
        if (value || PyErr_Occurred()) return value;
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
            Ref value = remember_item(slot.item, dict, name.get());
            if (value || PyErr_Occurred()) return value;
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
                if (const std::uint64_t version = compat::dict_version(own)) slot = DictSlot{own, version, found};
                return Ref::retain(found);
            }
        }
    }
    return Ref::adopt(PyObject_GetAttr(cls, name.get()));
}

}  // namespace qel
