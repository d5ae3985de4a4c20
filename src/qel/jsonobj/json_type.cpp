// `Json`: a dict that holds JSON data, merged with `+` and trimmed with `-`.
// Everything its own methods put in has been through the json round trip.
#include "core/names.hpp"
#include "jsonobj/jsonobj.hpp"
#include "jsonobj/factory.hpp"
#include "jsonobj/normalise.hpp"
#include "jsonobj/raise.hpp"

namespace qel::jsonobj {
namespace {

Name update_name{"update"};
Name type_name_attribute{"__name__"};

/// The built-in dict's own method `name`: `dict.name`, the method descriptor.
Ref dict_method(const char* name) {
    return Ref::adopt(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyDict_Type), name));
}

/// Whether a class attribute lookup on `type` finds our function `definition`.
bool type_has_own(PyTypeObject* type, const char* name, const FunctionDef* definition) {
    if (Py_TYPE(type) != &PyType_Type) return false;  // a metaclass could answer differently
    Ref found = Ref::adopt(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
    if (!found) PyErr_Clear();
    return found && is_function(found.get(), definition);
}

/// Whether `str(x)` is exactly the built-in conversion (str.__new__, no __init__).
bool is_plain_str_type(PyObject* str) {
    if (!PyType_Check(str) || Py_TYPE(str) != &PyType_Type) return false;
    auto* type = reinterpret_cast<PyTypeObject*>(str);
    return PyType_IsSubtype(type, &PyUnicode_Type) && type->tp_new == PyUnicode_Type.tp_new &&
           type->tp_init == PyUnicode_Type.tp_init;
}

/// `json(str(self))` without the text, when it is certain to give the same:
/// our own __str__ (the standard dumps), our own factory (the standard loads,
/// then our update, which normalises once more -- a no-op on decoded data),
/// and data the native copy takes. Declined otherwise.
Outcome from_own_text_directly(const Call& call, PyObject* self, PyObject* factory, PyObject* str);

/// `json(str(self))`: a new Json from the JSON text of `self`, through the
/// module's current `json` and `str`.
Ref from_own_text(const Call& call, PyObject* self) {
    Ref factory = call.global(names::json);
    if (!factory) return {};
    Ref str = call.global(names::str);
    if (!str) return {};
    Outcome fresh = from_own_text_directly(call, self, factory.get(), str.get());
    if (fresh.handled()) return fresh.take();
    Ref text = Ref::adopt(PyObject_CallOneArg(str.get(), self));
    if (!text) return {};
    return Ref::adopt(PyObject_CallOneArg(factory.get(), text.get()));
}

/// `target.update(value)`, found on the object as Python code would find it.
int call_update(PyObject* target, PyObject* value) {
    if (!update_name.get()) return -1;
    Ref result = Ref::adopt(PyObject_CallMethodOneArg(target, update_name.get(), value));
    return result ? 0 : -1;
}

// ---- __init__ -------------------------------------------------------------------

Ref init_impl(const Call& call) {
    return raise_with(PyExc_RuntimeError, percent("Please use qel.json(%r) to create qel.Json object", call.arg(1)));
}

const FunctionDef init_def{"__init__", {"self", "data"}, init_impl,
                             "请使用qel.json(data)来创建qel.Json对象\nPlease use qel.json(data) to create qel.Json object"};

// ---- __add__ --------------------------------------------------------------------

Ref add_impl(const Call& call) {
    PyObject* self = call.arg(0);
    PyObject* value = call.arg(1);
    Ref json_type = call.global(names::Json);
    if (!json_type) return {};
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    // Exact types only; and the operator raises rather than returning
    // NotImplemented, so the right operand is never asked.
    if (type != json_type.get() && type != reinterpret_cast<PyObject*>(&PyDict_Type)) {
        Ref name = Ref::adopt(PyObject_GetAttr(type, type_name_attribute.get()));
        return raise_with(PyExc_TypeError,
                          percent("can only add qel.json or dict (not \"%s\") to qel.json", name.get()));
    }
    Ref fresh = from_own_text(call, self);
    if (!fresh || call_update(fresh.get(), value) < 0) return {};
    return fresh;
}

const FunctionDef add_def{"__add__", {"self", "value"}, add_impl,
                            "********** self + value **********\n添加一个字典或一个json到该对象\nAdd a dict or a json to this object"};

// ---- __sub__ --------------------------------------------------------------------

Ref sub_impl(const Call& call) {
    PyObject* self = call.arg(0);
    PyObject* key = call.arg(1);
    const int present = PySequence_Contains(self, key);
    if (present < 0) return {};
    if (!present) return raise_with(PyExc_KeyError, Ref::retain(key));
    Ref fresh = from_own_text(call, self);
    if (!fresh || PyObject_DelItem(fresh.get(), key) < 0) return {};
    return fresh;
}

const FunctionDef sub_def{
    "__sub__", {"self", "key"}, sub_impl,
    "********** self - value **********\n从该json移除一个key以及对应的value\nRemoves a key and the corresponding value from the json"};

// ---- __repr__, __str__ ------------------------------------------------------------

Ref repr_impl(const Call& call) {
    Ref text = call_vanilla_json(call, dumps_name, call.arg(0));
    if (!text) return {};
    return percent("<QEL Json object %s>", text.get());
}

const FunctionDef repr_def{"__repr__", {"self"}, repr_impl, "Return repr(self)"};

Ref str_impl(const Call& call) { return call_vanilla_json(call, dumps_name, call.arg(0)); }

const FunctionDef str_def{"__str__", {"self"}, str_impl, "Return str(self)"};

// ---- update ---------------------------------------------------------------------

Ref update_impl(const Call& call) {
    PyObject* self = call.arg(0);
    Ref data = normalise(call, call.arg(1));
    if (!data) return {};
    // dict.update itself, whatever the object's own `update` is. With a dict
    // on both sides that is exactly a merge; otherwise the method decides
    // (pairs, its TypeError for a non-dict self, its errors for non-pairs).
    if (PyDict_Check(self) && PyDict_CheckExact(data.get())) {
        if (PyDict_Merge(self, data.get(), 1) < 0) return {};
        return none();
    }
    Ref update = dict_method("update");
    if (!update) return {};
    PyObject* args[] = {self, data.get()};
    Ref result = Ref::adopt(PyObject_Vectorcall(update.get(), args, 2, nullptr));
    if (!result) return {};
    return none();
}

const FunctionDef update_def{"update", {"self", "value"}, update_impl, "self += value"};

/// A new Json holding `data`, a native copy of decoded data, as the module's
/// factory makes it from a text.
Ref json_from_copy(const Call& call, Ref data) {
    // What the factory does with a text, from its first look-up on.
    Ref vanilla = call.global(names::vanilla);
    if (!vanilla) return {};
    Ref builtin_str = Ref::adopt(PyObject_GetAttrString(vanilla.get(), "str"));
    if (!builtin_str) return {};
    Ref fresh = new_empty_json(call);
    if (!fresh) return {};
    Ref update = Ref::adopt(PyObject_GetAttr(fresh.get(), update_name.get()));
    if (!update) return {};
    if (is_bound_function(update.get(), fresh.get(), &update_def)) {
        // Our update would normalise the decoded data once more: the copy is
        // already exactly that, and nobody else holds it.
        if (PyDict_Merge(fresh.get(), data.get(), 1) < 0) return {};
        return fresh;
    }
    // Someone else's update gets what loads would have given it.
    Ref result = Ref::adopt(PyObject_CallOneArg(update.get(), data.get()));
    if (!result) return {};
    return fresh;
}

Outcome from_own_text_directly(const Call& call, PyObject* self, PyObject* factory, PyObject* str) {
    if (!PyDict_Check(self) || !is_plain_str_type(str) || !type_has_own(Py_TYPE(self), "__str__", &str_def) ||
        !has_builtin_items(self) || !is_own_factory(factory))
        return Outcome::declined();
    Outcome copy = native_copy(call, self, true);
    if (!copy.handled() || !copy.get()) return copy;  // declined, or failed
    return json_from_copy(call, copy.take());
}

// ---- copy -----------------------------------------------------------------------

Ref copy_impl(const Call& call) {
    PyObject* self = call.arg(0);
    Ref factory = call.global(names::json);
    if (!factory) return {};
    Ref plain;
    if (PyDict_Check(self)) {
        plain = Ref::adopt(PyDict_Copy(self));  // what dict.copy does for a dict
    } else {
        Ref copy = dict_method("copy");  // its TypeError for anything else
        if (!copy) return {};
        plain = Ref::adopt(PyObject_CallOneArg(copy.get(), self));
    }
    if (!plain) return {};
    return Ref::adopt(PyObject_CallOneArg(factory.get(), plain.get()));
}

const FunctionDef copy_def{"copy", {"self"}, copy_impl, "return a new self"};

constexpr const char* json_doc =
    "标准json格式\n"
    "\t告别麻烦的json.loads和json.dumps\n"
    "\t该对象为您一键创建json\n"
    "\t使用方法:\n"
    "\t1. 创建: qel.json(dict)\n"
    "\t暂时只支持字典哦\n"
    "\t2. 添加内容\n"
    "\tself + dict or qel.Json\n"
    "\t也可以直接self += dict or qel.Json 或 self.update(dict or qel.Json)\n"
    "\t3. 移除内容\n"
    "\tself - key\n"
    "\t也可以直接self -= key 或 self.pop(key)\n"
    "\tStandard JSON format\n"
    "\tGoodbye to troublesome json.loads and json.dumps\n"
    "\tThis object creates JSON for you with one click\n"
    "\tUsage:\n"
    "\t1. Create: qel.json(dict)\n"
    "\tFor the time being, only dictionaries are supported\n"
    "\t2. Add content\n"
    "\tself + dict or qel.Json\n"
    "\tself += dict or qel.Json or self.update(dict or qel.Json)\n"
    "\t3. Remove content\n"
    "\tself - key\n"
    "\tself -= key or self.pop(key)";

}  // namespace

int define_json_type(const Globals& g) {
    remember_standard_json(g);
    auto* dict_type = reinterpret_cast<PyObject*>(&PyDict_Type);
    Ref bases = Ref::adopt(PyTuple_Pack(1, dict_type));
    if (!bases) return -1;
    // Calling a Json is indexing it: the built-in lookup itself, not a wrapper.
    Ref getitem = dict_method("__getitem__");
    if (!getitem) return -1;

    ClassBuilder json_type(g, "Json", "Json", json_doc);
    json_type.add(init_def)
        .add(add_def)
        .add(sub_def)
        .add("__call__", getitem)
        .add(repr_def)
        .add(str_def)
        .add(update_def)
        .add(copy_def);
    return g.set(names::Json, json_type.build(bases.get()));
}

}  // namespace qel::jsonobj
