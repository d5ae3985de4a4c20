#include "core/globals.hpp"

namespace qel::core {

Ref lookup_global(PyObject* globals, PyObject* builtins, PyObject* name) {
    PyObject* found = nullptr;
    int r = compat::dict_get_ref(globals, name, &found);
    if (r == 0 && builtins) r = compat::dict_get_ref(builtins, name, &found);
    if (r < 0) return {};
    if (r == 0) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        return {};
    }
    return Ref::adopt(found);
}

Globals::Globals(PyObject* module)
    : module_(module), dict_(PyModule_GetDict(module)), builtins_(PyEval_GetBuiltins()) {}

int Globals::set(const Name& name, const Ref& value) const {
    if (!value || !name.get()) return -1;
    return PyDict_SetItem(dict_, name.get(), value.get());
}

int Globals::remove(const Name& name) const {
    if (!name.get()) return -1;
    return PyDict_DelItem(dict_, name.get());
}

}  // namespace qel::core
