#include "core/function_object.hpp"

#include <structmember.h>

#include <new>

namespace qel::core {
namespace {

/// Calls of the module's functions now running, on all threads together
/// (changed only while holding the interpreter lock). While there are fewer
/// than `unguarded_calls`, no thread can be deep in a recursion through them,
/// and the interpreter's recursion guard, a thread-state lookup on every
/// call, can be left out; beyond that every further call takes it, so a
/// runaway recursion (a writer whose `vanilla_write` is a writer) still ends
/// in RecursionError rather than a stack overflow.
Py_ssize_t running_calls = 0;
constexpr Py_ssize_t unguarded_calls = 64;

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) noexcept {
    auto* f = reinterpret_cast<FunctionObject*>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t n = PyTuple_GET_SIZE(f->params);
    PyObject* slots[max_params];
    PyObject* const* bound = args;
    // The common case -- every parameter given by position -- needs no copy.
    if (nargs != n || (kwnames && PyTuple_GET_SIZE(kwnames))) {
        if (bind_arguments(f, args, nargs, kwnames, slots) < 0) return nullptr;
        bound = slots;
    }
    const bool guarded = !compat::one_lock_for_all_threads || running_calls >= unguarded_calls;
    if (guarded && Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
    ++running_calls;
    PyObject* result = nullptr;
    try {
        result = f->definition->impl(Call(f, bound, f->globals)).release();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "qel: unexpected C++ exception");
    }
    --running_calls;
    if (guarded) Py_LeaveRecursiveCall();
    return result;
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_VISIT(f->params);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->defaults);
    Py_VISIT(f->kwdefaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    Py_VISIT(f->globals);
    Py_VISIT(f->builtins);
    return 0;
}

int function_clear(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    // name and qualname are always strings and hold no cycles; keep them so
    // that a repr during teardown still works (as the interpreter's functions do).
    Py_CLEAR(f->params);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->kwdefaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->builtins);
    return 0;
}

void function_dealloc(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    PyObject_GC_UnTrack(self);
    if (f->weakreflist) PyObject_ClearWeakRefs(self);
    function_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    PyObject_GC_Del(self);
}

PyObject* function_repr(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

/// Through an instance the function becomes a bound method; through the class
/// (or with no instance) it is returned as it is -- as for Python functions.
PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

// --- attributes ---------------------------------------------------------------

int set_str_attr(PyObject** field, PyObject* value, const char* what) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_XSETREF(*field, Py_NewRef(value));
    return 0;
}

PyObject* get_name(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->name);
}
int set_name(PyObject* self, PyObject* value, void*) {
    return set_str_attr(&reinterpret_cast<FunctionObject*>(self)->name, value, "__name__");
}
PyObject* get_qualname(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->qualname);
}
int set_qualname(PyObject* self, PyObject* value, void*) {
    return set_str_attr(&reinterpret_cast<FunctionObject*>(self)->qualname, value, "__qualname__");
}

PyObject* get_defaults(PyObject* self, void*) {
    PyObject* d = reinterpret_cast<FunctionObject*>(self)->defaults;
    return Py_NewRef(d ? d : Py_None);
}
int set_defaults(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value && !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject*>(self)->defaults, Py_XNewRef(value));
    return 0;
}

PyObject* get_kwdefaults(PyObject* self, void*) {
    PyObject* d = reinterpret_cast<FunctionObject*>(self)->kwdefaults;
    return Py_NewRef(d ? d : Py_None);
}
int set_kwdefaults(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__kwdefaults__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject*>(self)->kwdefaults, Py_XNewRef(value));
    return 0;
}

PyObject* get_annotations(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (!f->annotations) f->annotations = PyDict_New();
    return Py_XNewRef(f->annotations);
}
int set_annotations(PyObject* self, PyObject* value, void*) {
    if (value == Py_None) value = nullptr;
    if (value && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<FunctionObject*>(self)->annotations, Py_XNewRef(value));
    return 0;
}

/// inspect.signature() and help() read this. A value the user stored in
/// __dict__ wins, as it would for a Python function.
PyObject* get_signature(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (f->dict) {
        PyObject* own = nullptr;
        static Name key("__signature__");
        int r = compat::dict_get_ref(f->dict, key.get(), &own);
        if (r != 0) return own;
    }
    return function_signature(f);
}
int set_signature(PyObject* self, PyObject* value, void*) {
    static Name key("__signature__");
    PyObject* dict = PyObject_GenericGetDict(self, nullptr);
    if (!dict) return -1;
    int r = value ? PyDict_SetItem(dict, key.get(), value) : PyDict_DelItem(dict, key.get());
    Py_DECREF(dict);
    return r;
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_defaults, set_defaults, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, set_kwdefaults, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__signature__", get_signature, set_signature, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__doc__", T_OBJECT, offsetof(FunctionObject, doc), 0, nullptr},
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(FunctionObject, globals), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

/// Pickle and copy refer to a function by its qualified name, as for Python functions.
PyObject* function_reduce(PyObject* self, PyObject*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->qualname);
}

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject FunctionType = [] {
    PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
    t.tp_name = "qel.function";
    t.tp_basicsize = sizeof(FunctionObject);
    t.tp_dealloc = function_dealloc;
    t.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    t.tp_repr = function_repr;
    t.tp_call = PyVectorcall_Call;
    t.tp_getattro = PyObject_GenericGetAttr;
    t.tp_setattro = PyObject_GenericSetAttr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                 Py_TPFLAGS_METHOD_DESCRIPTOR;
    t.tp_doc = "A function of the qel module.";
    t.tp_traverse = function_traverse;
    t.tp_clear = function_clear;
    t.tp_weaklistoffset = offsetof(FunctionObject, weakreflist);
    t.tp_methods = function_methods;
    t.tp_members = function_members;
    t.tp_getset = function_getset;
    t.tp_descr_get = function_descr_get;
    t.tp_dictoffset = offsetof(FunctionObject, dict);
    return t;
}();

}  // namespace

int ready_function_type() {
    return PyType_Ready(&FunctionType);
}

bool is_function(PyObject* o, const FunctionDef* definition) {
    if (Py_TYPE(o) != &FunctionType) return false;
    return definition == nullptr || reinterpret_cast<FunctionObject*>(o)->definition == definition;
}

PyObject* function_defaults(PyObject* function) {
    return reinterpret_cast<FunctionObject*>(function)->defaults;
}

Ref Call::global(const Name& name) const {
    PyObject* key = name.get();
    if (!key) return {};
    return lookup_global(function_->globals, function_->builtins, key);
}

Ref Call::builtin(const Name& name) const {
    PyObject* key = name.get();
    if (!key) return {};
    PyObject* found = nullptr;
    int r = function_->builtins ? compat::dict_get_ref(function_->builtins, key, &found) : 0;
    if (r < 0) return {};
    if (r == 0) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
        return {};
    }
    return Ref::adopt(found);
}

Ref make_function(const FunctionDef& definition, const Globals& globals, const char* qualname_prefix,
                  std::optional<Ref> defaults, std::optional<Ref> annotations) {
    if ((defaults && !*defaults) || (annotations && !*annotations)) return {};
    const std::size_t n = definition.param_count();
    Ref params = Ref::adopt(PyTuple_New(static_cast<Py_ssize_t>(n)));
    if (!params) return {};
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* p = PyUnicode_InternFromString(definition.params[i]);
        if (!p) return {};
        PyTuple_SET_ITEM(params.get(), static_cast<Py_ssize_t>(i), p);
    }
    Ref name = Ref::adopt(PyUnicode_InternFromString(definition.name));
    Ref qualname = qualname_prefix ? Ref::adopt(PyUnicode_FromFormat("%s.%s", qualname_prefix, definition.name))
                                   : name;
    Ref module = Ref::adopt(PyUnicode_InternFromString("qel"));
    Ref doc = definition.doc ? Ref::adopt(PyUnicode_FromString(definition.doc)) : none();
    if (!name || !qualname || !module || !doc) return {};

    auto* f = PyObject_GC_New(FunctionObject, &FunctionType);
    if (!f) return {};
    f->vectorcall = function_vectorcall;
    f->definition = &definition;
    f->params = params.release();
    f->name = name.release();
    f->qualname = qualname.release();
    f->module = module.release();
    f->doc = doc.release();
    f->defaults = defaults ? defaults->release() : nullptr;
    f->kwdefaults = nullptr;
    f->annotations = annotations ? annotations->release() : nullptr;
    f->dict = nullptr;
    f->globals = Py_NewRef(globals.dict());
    f->builtins = Py_XNewRef(globals.builtins());
    f->weakreflist = nullptr;
    PyObject_GC_Track(reinterpret_cast<PyObject*>(f));
    return Ref::adopt(reinterpret_cast<PyObject*>(f));
}

}  // namespace qel::core
