#include "jsonobj/normalise.hpp"

#include "core/internals.hpp"
#include "core/names.hpp"
#include "jsonobj/plain_tree.hpp"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace qel::jsonobj {
namespace {

Name json_attribute{"json"};
Name module_name_attribute{"__name__"};
Name default_encoder_name{"_default_encoder"};
Name default_decoder_name{"_default_decoder"};
Name dict_attribute{"__dict__"};

/// One namespace the standard round trip reads, with the entries that matter
/// as they were when the module was built.
struct Watched {
    Ref dict;
    Ref snapshot;        // key -> value, each compared by identity
    bool whole = false;  // also no entries added (instance dicts)
    Ref owner;           // for an instance dict: the object, whose __dict__ must still be this one
};

/// What the standard module looked like when the module was built. Kept for
/// the life of the process and deliberately never released: the module lives
/// in one interpreter per process, and releasing after that interpreter is
/// gone would be unsafe.
struct StandardJson {
    Ref dumps, loads, encoder, decoder, encoder_type, decoder_type;
    Ref dumps_code, loads_code, dumps_defaults, loads_defaults;
    std::vector<Watched> watched;
};
StandardJson* standard = nullptr;

bool unchanged(const Watched& w) {
    if (w.owner) {
        Ref current = Ref::adopt(PyObject_GetAttr(w.owner.get(), dict_attribute.get()));
        if (current.get() != w.dict.get()) {
            PyErr_Clear();
            return false;
        }
    }
    if (w.whole && PyDict_GET_SIZE(w.dict.get()) != PyDict_GET_SIZE(w.snapshot.get())) return false;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(w.snapshot.get(), &pos, &key, &value)) {
        // Keys are the exact str names taken from the namespace: no error possible.
        if (PyDict_GetItemWithError(w.dict.get(), key) != value) return false;
    }
    return true;
}

// The native copy may go this many containers deep; deeper data is rare and
// takes the round trip itself.
constexpr int max_native_depth = 100;
// Nested calls the round trip makes before its first container (dumps, encode,
// iterencode, the encoder; loads, decode, raw_decode, the scanner), with room to
// spare: the copy is used only where the round trip could not run out of stack.
constexpr int round_trip_call_margin = 50;

Ref vanilla_json_attribute(const Call& call, const Name& function) {
    Ref vanilla = call.global(names::vanilla);
    if (!vanilla || !json_attribute.get() || !function.get()) return {};
    Ref module = Ref::adopt(PyObject_GetAttr(vanilla.get(), json_attribute.get()));
    if (!module) return {};
    return Ref::adopt(PyObject_GetAttr(module.get(), function.get()));
}

/// Whether `dumps` and `loads` are the standard functions, and everything
/// they read on the way (their defaults, the default encoder and decoder, their
/// classes and the helpers of json.encoder and json.decoder) is as it was: then
/// the native copy gives exactly what they would. Entries added later to the
/// modules and classes are not looked at; replaced or deleted ones are.
bool standard_in_place(PyObject* dumps, PyObject* loads) {
    if (!standard || dumps != standard->dumps.get() || loads != standard->loads.get()) return false;
    if (PyFunction_GetCode(dumps) != standard->dumps_code.get() ||
        PyFunction_GetCode(loads) != standard->loads_code.get() ||
        PyFunction_GetDefaults(dumps) != standard->dumps_defaults.get() ||
        PyFunction_GetDefaults(loads) != standard->loads_defaults.get() ||
        reinterpret_cast<PyObject*>(Py_TYPE(standard->encoder.get())) != standard->encoder_type.get() ||
        reinterpret_cast<PyObject*>(Py_TYPE(standard->decoder.get())) != standard->decoder_type.get())
        return false;
    for (const Watched& w : standard->watched)
        if (!unchanged(w)) return false;
    return true;
}

/// A function written in the json package itself (its globals are the module's).
bool is_json_function(PyObject* f, PyObject* ns) {
    return f && PyFunction_Check(f) && PyFunction_GetGlobals(f) == ns;
}

}  // namespace

Ref call_vanilla_json(const Call& call, const Name& function, PyObject* argument) {
    Ref f = vanilla_json_attribute(call, function);
    if (!f) return {};
    return Ref::adopt(PyObject_CallOneArg(f.get(), argument));
}

namespace {

/// The copy, given the functions `vanilla.json` names now.
Outcome native_copy_with(PyObject* dumps, PyObject* loads, PyObject* value, bool any_dict_at_top) {
    if (!standard_in_place(dumps, loads)) return Outcome::declined();
    const int depth = std::min(max_native_depth, internals::recursion_headroom() - round_trip_call_margin);
    if (depth <= 0) return Outcome::declined();
    return copy_plain_tree(value, depth, any_dict_at_top);
}

}  // namespace

/// Whether `self.items()` is the built-in dict.items of `self`, which is what
/// the encoder calls to read a dict subclass. Asked only of objects whose
/// attribute lookup is the plain one, so that asking runs no code of theirs.
bool has_builtin_items(PyObject* self) {
    if (Py_TYPE(self)->tp_getattro != PyObject_GenericGetAttr) return false;
    static PyCFunction dict_items = nullptr;
    if (!dict_items) {
        Ref probe = Ref::adopt(PyDict_New());
        Ref bound = probe ? Ref::adopt(PyObject_GetAttrString(probe.get(), "items")) : Ref();
        if (!bound || !PyCFunction_Check(bound.get())) {
            PyErr_Clear();
            return false;
        }
        dict_items = PyCFunction_GET_FUNCTION(bound.get());
    }
    Ref items = Ref::adopt(PyObject_GetAttrString(self, "items"));
    if (!items) PyErr_Clear();
    return items && PyCFunction_Check(items.get()) && PyCFunction_GET_SELF(items.get()) == self &&
           PyCFunction_GET_FUNCTION(items.get()) == dict_items;
}

Outcome native_copy(const Call& call, PyObject* value, bool any_dict_at_top) {
    Ref loads = vanilla_json_attribute(call, loads_name);
    Ref dumps = loads ? vanilla_json_attribute(call, dumps_name) : Ref();
    if (!dumps) {
        PyErr_Clear();  // the round trip will look them up again and raise
        return Outcome::declined();
    }
    return native_copy_with(dumps.get(), loads.get(), value, any_dict_at_top);
}

Ref normalise(const Call& call, PyObject* value) {
    // Looked up in the order the expression evaluates them.
    Ref loads = vanilla_json_attribute(call, loads_name);
    if (!loads) return {};
    Ref dumps = vanilla_json_attribute(call, dumps_name);
    if (!dumps) return {};
    // A Json (or other dict subclass) is read by the encoder through its
    // items(): when that is dict.items, exactly its own items in order.
    const bool dict_subclass = PyDict_Check(value) && !PyDict_CheckExact(value) && has_builtin_items(value);
    Outcome copy = native_copy_with(dumps.get(), loads.get(), value, dict_subclass);
    if (copy.handled()) return copy.take();
    Ref text = Ref::adopt(PyObject_CallOneArg(dumps.get(), value));
    if (!text) return {};
    return Ref::adopt(PyObject_CallOneArg(loads.get(), text.get()));
}

namespace {

/// Watches `names` of `dict` (those it has now), or all of it when `names` is
/// empty; `owner` is the object whose own attribute dict this is, if any.
bool watch(StandardJson& s, PyObject* dict, std::initializer_list<const char*> names, PyObject* owner = nullptr) {
    if (!dict || !PyDict_Check(dict)) return false;
    Ref snapshot = Ref::adopt(names.size() ? PyDict_New() : PyDict_Copy(dict));
    if (!snapshot) return false;
    for (const char* name : names) {
        PyObject* value = PyDict_GetItemString(dict, name);
        if (value && PyDict_SetItemString(snapshot.get(), name, value) < 0) return false;
    }
    s.watched.push_back({Ref::retain(dict), std::move(snapshot), names.size() == 0, Ref::retain(owner)});
    return true;
}

/// An object's own attribute dict (made now if it had none yet).
Ref instance_dict(PyObject* o) { return Ref::adopt(PyObject_GetAttr(o, dict_attribute.get())); }

Ref module_dict(const char* name) {
    Ref module = Ref::adopt(PyImport_ImportModule(name));
    return module ? Ref::retain(PyModule_GetDict(module.get())) : Ref();
}

/// The mapping a class's attribute lookups read (its __dict__ is a read-only
/// view of it). Only for classes written in Python, such as JSONEncoder.
PyObject* class_dict(PyObject* type) {
    if (!PyType_Check(type) || !(reinterpret_cast<PyTypeObject*>(type)->tp_flags & Py_TPFLAGS_HEAPTYPE)) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type)->tp_dict;
}

bool remember(StandardJson& s, PyObject* ns) {
    PyObject* dumps = PyDict_GetItemString(ns, "dumps");
    PyObject* loads = PyDict_GetItemString(ns, "loads");
    PyObject* encoder = PyDict_GetItemString(ns, "_default_encoder");
    PyObject* decoder = PyDict_GetItemString(ns, "_default_decoder");
    // Only the genuine module's own functions: a stand-in or a wrapper installed
    // before import keeps the round trip for every call.
    if (!is_json_function(dumps, ns) || !is_json_function(loads, ns) || !encoder || !decoder) return false;
    s.dumps = Ref::retain(dumps);
    s.loads = Ref::retain(loads);
    s.encoder = Ref::retain(encoder);
    s.decoder = Ref::retain(decoder);
    s.encoder_type = Ref::retain(reinterpret_cast<PyObject*>(Py_TYPE(encoder)));
    s.decoder_type = Ref::retain(reinterpret_cast<PyObject*>(Py_TYPE(decoder)));
    s.dumps_code = Ref::retain(PyFunction_GetCode(dumps));
    s.loads_code = Ref::retain(PyFunction_GetCode(loads));
    s.dumps_defaults = Ref::retain(PyFunction_GetDefaults(dumps));
    s.loads_defaults = Ref::retain(PyFunction_GetDefaults(loads));
    Ref encoder_dict = instance_dict(encoder), decoder_dict = instance_dict(decoder);
    Ref encoder_module = module_dict("json.encoder"), decoder_module = module_dict("json.decoder");
    if (!encoder_dict || !decoder_dict || !encoder_module || !decoder_module) return false;
    return watch(s, ns, {"dumps", "loads", "_default_encoder", "_default_decoder"}) &&
           watch(s, PyFunction_GetKwDefaults(dumps), {}) && watch(s, PyFunction_GetKwDefaults(loads), {}) &&
           watch(s, encoder_dict.get(), {}, encoder) && watch(s, decoder_dict.get(), {}, decoder) &&
           watch(s, class_dict(s.encoder_type.get()),
                 {"encode", "iterencode", "default", "item_separator", "key_separator"}) &&
           watch(s, class_dict(s.decoder_type.get()), {"decode", "raw_decode"}) &&
           watch(s, encoder_module.get(),
                 {"c_make_encoder", "encode_basestring_ascii", "encode_basestring", "c_encode_basestring_ascii",
                  "c_encode_basestring", "INFINITY", "_make_iterencode"}) &&
           watch(s, decoder_module.get(), {"JSONDecodeError", "scanstring", "NaN", "PosInf", "NegInf", "_CONSTANTS"});
}

}  // namespace

void remember_standard_json(const Globals& g) {
    if (standard) return;  // a later import attempt finds it already noted
    Ref vanilla = g.get(names::vanilla);
    Ref module = vanilla ? Ref::adopt(PyObject_GetAttr(vanilla.get(), json_attribute.get())) : Ref();
    if (module && PyModule_Check(module.get())) {
        auto* found = new StandardJson{};
        if (remember(*found, PyModule_GetDict(module.get())))
            standard = found;
        else
            delete found;
    }
    // Not finding the standard module as expected only means no native copy.
    PyErr_Clear();
}

}  // namespace qel::jsonobj
