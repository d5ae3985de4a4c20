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

Ref cached_instance_attribute(DictSlot& slot, PyObject* obj, const Name& name) {
    PyTypeObject* type = Py_TYPE(obj);
    // With the generic protocol and no class attribute of that name, the
    // instance dict alone decides. _PyType_Lookup answers from the
    // interpreter's per-type cache, as the generic lookup itself does.
    if (type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset != 0 &&
        _PyType_Lookup(type, name.get()) == nullptr) {
        Ref dict = Ref::adopt(PyObject_GenericGetDict(obj, nullptr));
        if (!dict) return {};
        if (PyDict_Check(dict.get())) {
            Ref value = cached_item(slot, dict.get(), name.get());
            if (value || PyErr_Occurred()) return value;
        }
    }
    return Ref::adopt(PyObject_GetAttr(obj, name.get()));
}

}  // namespace qel::terminal
