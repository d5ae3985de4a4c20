#include "terminal/lookup_cache.hpp"

namespace qel::terminal {
namespace {

/// The dict's version, or 0 where the interpreter keeps none we can rely on
/// (0 is never a valid version, so nothing is remembered then).
std::uint64_t dict_version(PyObject* dict) {
#if PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
    // The field exists and changes on every modification from 3.6 to 3.13;
    // 3.12 marks it deprecated ahead of its removal, which is why it is read
    // here only and only for the versions that still maintain it.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#elif defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif
#else
    (void)dict;
    return 0;
#endif
}

}  // namespace

Ref cached_item(DictSlot& slot, PyObject* dict, PyObject* key) {
    const std::uint64_t version = dict_version(dict);
    if (version != 0 && slot.dict == dict && slot.version == version) return Ref::retain(slot.value);
    PyObject* found = PyDict_GetItemWithError(dict, key);
    if (!found) return {};
    if (version != 0) slot = DictSlot{dict, version, found};
    return Ref::retain(found);
}

Ref cached_global(DictSlot& slot, const Call& call, const Name& name) {
    PyObject* key = name.get();
    if (!key) return {};
    Ref value = cached_item(slot, call.globals_dict(), key);
    if (value || PyErr_Occurred()) return value;
    return call.global(name);  // not a module global: builtins, or NameError
}

Ref cached_module_attribute(DictSlot& slot, PyObject* module, const Name& name) {
    // A plain module's attributes are its dict entries: the module type is
    // immutable and defines none of the names asked for here. Anything else
    // (a module subclass, a name a module __getattr__ supplies) goes the full way.
    if (PyModule_CheckExact(module)) {
        Ref value = cached_item(slot, PyModule_GetDict(module), name.get());
        if (value || PyErr_Occurred()) return value;
    }
    return Ref::adopt(PyObject_GetAttr(module, name.get()));
}

namespace {

/// The class's current version tag, or 0 when it has no valid one.
unsigned int type_tag(PyTypeObject* type) {
    return (type->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
}

/// The instance dict, new reference: read straight from a fixed positive
/// offset (as the io classes keep it), else through the generic accessor.
Ref instance_dict(PyObject* obj) {
    const Py_ssize_t offset = Py_TYPE(obj)->tp_dictoffset;
    if (offset > 0) {
        PyObject* dict = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + offset);
        if (dict) return Ref::retain(dict);
    }
    return Ref::adopt(PyObject_GenericGetDict(obj, nullptr));
}

/// Whether the class defines nothing named `name`, remembered per class version.
bool defines_nothing(TypeSlot& slot, PyTypeObject* type, PyObject* name) {
    const unsigned int tag = type_tag(type);
    if (tag != 0 && slot.type == type && slot.tag == tag) return true;
    // _PyType_Lookup answers from the interpreter's per-type cache, as the
    // generic attribute lookup itself does.
    if (_PyType_Lookup(type, name) != nullptr) return false;
    if (tag != 0 && type_tag(type) == tag) slot = TypeSlot{type, tag};
    return true;
}

}  // namespace

Ref cached_instance_attribute(InstanceSlot& slot, PyObject* obj, const Name& name) {
    PyTypeObject* type = Py_TYPE(obj);
    // With the generic protocol and no class attribute of that name, the
    // instance dict alone decides.
    if (type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset != 0 &&
        defines_nothing(slot.type, type, name.get())) {
        Ref dict = instance_dict(obj);
        if (!dict) return {};
        if (PyDict_Check(dict.get())) {
            Ref value = cached_item(slot.item, dict.get(), name.get());
            if (value || PyErr_Occurred()) return value;
        }
    }
    return Ref::adopt(PyObject_GetAttr(obj, name.get()));
}

Ref cached_class_attribute(DictSlot& slot, PyObject* cls, const Name& name) {
    // For a class whose metaclass is exactly `type`, an entry of the class's
    // own dict that is no descriptor is what attribute access finds (`type`
    // defines no such name, and the class comes first in its own MRO). The
    // entry is remembered by the dict's version, never by the class's version
    // tag: assigning a class attribute replaces the dict entry and releases
    // the old value before the tag is invalidated, so a finalizer that runs
    // then (and writes) would otherwise be handed the value being freed.
    if (PyType_CheckExact(cls)) {
        PyObject* own = reinterpret_cast<PyTypeObject*>(cls)->tp_dict;
        if (own && PyDict_Check(own)) {
            Ref value = cached_item(slot, own, name.get());
            if (value && Py_TYPE(value.get())->tp_descr_get == nullptr) return value;
            if (!value && PyErr_Occurred()) return {};
        }
    }
    return Ref::adopt(PyObject_GetAttr(cls, name.get()));
}

}  // namespace qel::terminal
