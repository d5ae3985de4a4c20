// inspect.Signature for a native function, built from its current defaults and
// annotations each time it is asked for (both can be reassigned).
#include "core/function_object.hpp"

namespace qel::core {

PyObject* function_signature(FunctionObject* f) {
    static Name signature_name("Signature"), parameter_name("Parameter"), empty_name("empty"),
        kind_name("kind"), default_name("default"), annotation_name("annotation"),
        return_annotation_name("return_annotation"), return_name("return"),
        positional_only_name("POSITIONAL_ONLY"), positional_or_keyword_name("POSITIONAL_OR_KEYWORD");

    Ref inspect = Ref::adopt(PyImport_ImportModule("inspect"));
    if (!inspect) return nullptr;
    Ref signature_type = Ref::adopt(PyObject_GetAttr(inspect.get(), signature_name.get()));
    Ref parameter_type = Ref::adopt(PyObject_GetAttr(inspect.get(), parameter_name.get()));
    if (!signature_type || !parameter_type) return nullptr;
    Ref empty = Ref::adopt(PyObject_GetAttr(parameter_type.get(), empty_name.get()));
    Ref positional_only = Ref::adopt(PyObject_GetAttr(parameter_type.get(), positional_only_name.get()));
    Ref positional_or_keyword =
        Ref::adopt(PyObject_GetAttr(parameter_type.get(), positional_or_keyword_name.get()));
    if (!empty || !positional_only || !positional_or_keyword) return nullptr;

    const Py_ssize_t n = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t defcount = f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0;
    Ref parameters = Ref::adopt(PyList_New(0));
    if (!parameters) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pname = PyTuple_GET_ITEM(f->params, i);
        Ref kwargs = Ref::adopt(PyDict_New());
        if (!kwargs) return nullptr;
        if (PyDict_SetItem(kwargs.get(), kind_name.get(),
                           i < f->definition->positional_only ? positional_only.get() : positional_or_keyword.get()) < 0)
            return nullptr;
        const Py_ssize_t d = i - (n - defcount);
        if (d >= 0 && PyDict_SetItem(kwargs.get(), default_name.get(), PyTuple_GET_ITEM(f->defaults, d)) < 0)
            return nullptr;
        if (f->annotations) {
            PyObject* a = PyDict_GetItemWithError(f->annotations, pname);
            if (!a && PyErr_Occurred()) return nullptr;
            if (a && PyDict_SetItem(kwargs.get(), annotation_name.get(), a) < 0) return nullptr;
        }
        Ref args = Ref::adopt(PyTuple_Pack(1, pname));
        if (!args) return nullptr;
        Ref parameter = Ref::adopt(PyObject_Call(parameter_type.get(), args.get(), kwargs.get()));
        if (!parameter || PyList_Append(parameters.get(), parameter.get()) < 0) return nullptr;
    }
    Ref kwargs = Ref::adopt(PyDict_New());
    if (!kwargs) return nullptr;
    if (f->annotations) {
        PyObject* r = PyDict_GetItemWithError(f->annotations, return_name.get());
        if (!r && PyErr_Occurred()) return nullptr;
        if (r && PyDict_SetItem(kwargs.get(), return_annotation_name.get(), r) < 0) return nullptr;
    }
    Ref args = Ref::adopt(PyTuple_Pack(1, parameters.get()));
    if (!args) return nullptr;
    return PyObject_Call(signature_type.get(), args.get(), kwargs.get());
}

}  // namespace qel::core
