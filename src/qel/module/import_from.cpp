#include "module/import_from.hpp"

namespace qel::module {

Ref import_from(const Globals& g, const char* module, const char* name) {
    Ref module_name = Ref::adopt(PyUnicode_FromString(module));
    Ref attribute = Ref::adopt(PyUnicode_FromString(name));
    if (!module_name || !attribute) return {};
    // A non-empty fromlist makes a package import the submodule of that name
    // when it has no such attribute, which is what the statement does too.
    Ref fromlist = Ref::adopt(PyTuple_Pack(1, attribute.get()));
    if (!fromlist) return {};
    Ref m = Ref::adopt(
        PyImport_ImportModuleLevelObject(module_name.get(), g.dict(), nullptr, fromlist.get(), 0));
    if (!m) return {};

    Ref value = Ref::adopt(PyObject_GetAttr(m.get(), attribute.get()));
    if (value || !PyErr_ExceptionMatches(PyExc_AttributeError)) return value;
    PyErr_Clear();
    // A submodule that is loaded but not (yet) an attribute of its package.
    Ref full = Ref::adopt(PyUnicode_FromFormat("%s.%s", module, name));
    if (!full) return {};
    if (PyObject* loaded = PyImport_GetModule(full.get())) return Ref::adopt(loaded);
    if (PyErr_Occurred()) return {};

    Ref path = Ref::adopt(PyModule_GetFilenameObject(m.get()));
    if (!path) {
        PyErr_Clear();
        path = Ref::adopt(PyUnicode_FromString("unknown location"));
        if (!path) return {};
    }
    Ref message = Ref::adopt(PyUnicode_FromFormat("cannot import name %R from %R (%S)",
                                                  attribute.get(), module_name.get(), path.get()));
    if (!message) return {};
    PyErr_SetImportError(message.get(), module_name.get(), path.get());
    return {};
}

}  // namespace qel::module
