// `json`: the factory that makes Json objects from a JSON text or a dict. The
// class exists only to be instantiated once; the module keeps the instance.
#include "core/names.hpp"
#include "core/str_wrapping.hpp"
#include "jsonobj/jsonobj.hpp"
#include "jsonobj/factory.hpp"
#include "jsonobj/normalise.hpp"
#include "jsonobj/raise.hpp"

namespace qel::jsonobj {
namespace {

Name str_attribute{"str"};
Name new_attribute{"__new__"};
Name update_name{"update"};
Name type_name_attribute{"__name__"};
Name qe_addcolor_name{"qe_addcolor"};

/// A new Json updated with `data` through its own `update`.
Ref filled_json(const Call& call, PyObject* data, bool is_text) {
    Ref fresh = new_empty_json(call);
    if (!fresh) return {};
    Ref value = is_text ? call_vanilla_json(call, loads_name, data) : Ref::retain(data);
    if (!value) return {};
    Ref result = Ref::adopt(PyObject_CallMethodOneArg(fresh.get(), update_name.get(), value.get()));
    if (!result) return {};
    return fresh;
}

/// The refusal: the type's name, then its text coloured by the module's `str`.
Ref refuse(const Call& call, PyObject* type) {
    Ref name = Ref::adopt(PyObject_GetAttr(type, type_name_attribute.get()));
    Ref head = percent("qel.json() argument must be a string or a dict, not %r\n", name.get());
    if (!head) return {};
    Ref text = wrap_str(call, Ref::retain(type));
    if (!text) return {};
    Ref coloured = Ref::adopt(PyObject_CallMethodNoArgs(text.get(), qe_addcolor_name.get()));
    if (!coloured) return {};
    return raise_with(PyExc_TypeError, Ref::adopt(PyNumber_Add(head.get(), coloured.get())));
}

Ref call_impl(const Call& call) {
    PyObject* data = call.arg(1);
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(data));
    // Exact types only: other str and dict subclasses are refused.
    Ref vanilla = call.global(names::vanilla);
    if (!vanilla) return {};
    Ref builtin_str = Ref::adopt(PyObject_GetAttr(vanilla.get(), str_attribute.get()));
    if (!builtin_str) return {};
    Ref str = call.global(names::str);
    if (!str) return {};
    if (type == builtin_str.get() || type == str.get()) return filled_json(call, data, true);
    Ref json_type = call.global(names::Json);
    if (!json_type) return {};
    if (type == reinterpret_cast<PyObject*>(&PyDict_Type) || type == json_type.get())
        return filled_json(call, data, false);
    return refuse(call, type);
}

const FunctionDef call_def{
    "__call__", {"self", "data"}, call_impl,
    "创建一个标准的json数据, 详情见help(qel.Json)\nCreate a standard json data, more information see help(qel.Json)"};

Ref repr_impl(const Call&) {
    return Ref::adopt(PyUnicode_FromString("<function qel.json can parse a dict to a qel.Json>"));
}

const FunctionDef repr_def{"__repr__", {"self"}, repr_impl};

Name call_name{"__call__"};

}  // namespace

Ref new_empty_json(const Call& call) {
    Ref json_type = call.global(names::Json);
    if (!json_type) return {};
    Ref dict_new = Ref::adopt(PyObject_GetAttr(reinterpret_cast<PyObject*>(&PyDict_Type), new_attribute.get()));
    if (!dict_new) return {};
    return Ref::adopt(PyObject_CallOneArg(dict_new.get(), json_type.get()));
}

bool is_own_factory(PyObject* factory) {
    PyTypeObject* type = Py_TYPE(factory);
    if (Py_TYPE(type) != &PyType_Type) return false;  // a metaclass could answer differently
    Ref call = Ref::adopt(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), call_name.get()));
    if (!call) PyErr_Clear();
    return call && is_function(call.get(), &call_def);
}

int define_json_factory(const Globals& g) {
    // One empty dict, made now and shared by every call that omits `data`.
    Ref defaults = Ref::adopt(Py_BuildValue("({})"));
    if (!defaults) return -1;
    ClassBuilder factory(g, "json", "json", nullptr);
    // Indexing the factory is calling it: one function object under both names.
    Ref call = make_function(call_def, g, factory.qualname(), defaults);
    factory.add("__call__", call).add("__getitem__", call).add(repr_def);
    Ref factory_class = factory.build();
    if (g.set(names::json, factory_class) < 0) return -1;
    return g.set(names::json, Ref::adopt(PyObject_CallNoArgs(factory_class.get())));
}

}  // namespace qel::jsonobj
