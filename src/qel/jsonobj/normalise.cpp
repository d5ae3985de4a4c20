#include "jsonobj/normalise.hpp"

#include "jsonobj/plain_tree.hpp"
#include "module/names.hpp"

#include <algorithm>

namespace qel::jsonobj {
namespace {

Name json_attribute{"json"};
Name module_name_attribute{"__name__"};
Name default_encoder_name{"_default_encoder"};
Name default_decoder_name{"_default_decoder"};

/// What the standard module looked like when the module was built. Kept for
/// the life of the process and deliberately never released: the module lives
/// in one interpreter per process, and releasing after that interpreter is
/// gone would be unsafe.
struct StandardJson {
    Ref namespace_dict;  // json.__dict__, where dumps and loads find their defaults
    Ref dumps, loads, encoder, decoder;
};
StandardJson* standard = nullptr;

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

/// Whether `dumps` and `loads` are the standard functions with their default
/// encoder and decoder still in place, so that the native copy gives exactly
/// what they would.
bool standard_in_place(PyObject* dumps, PyObject* loads) {
    if (!standard || dumps != standard->dumps.get() || loads != standard->loads.get()) return false;
    PyObject* ns = standard->namespace_dict.get();
    // Exact str keys: these lookups cannot fail.
    return PyDict_GetItemWithError(ns, default_encoder_name.get()) == standard->encoder.get() &&
           PyDict_GetItemWithError(ns, default_decoder_name.get()) == standard->decoder.get();
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
Ref native_copy_with(PyObject* dumps, PyObject* loads, PyObject* value, bool any_dict_at_top) {
    if (!standard_in_place(dumps, loads)) return {};
    const int depth = std::min(max_native_depth, compat::recursion_headroom() - round_trip_call_margin);
    if (depth <= 0) return {};
    bool unusual = false;
    return copy_plain_tree(value, depth, any_dict_at_top, unusual);  // empty and no error when unusual
}

}  // namespace

Ref native_copy(const Call& call, PyObject* value, bool any_dict_at_top) {
    Ref loads = vanilla_json_attribute(call, loads_name);
    Ref dumps = loads ? vanilla_json_attribute(call, dumps_name) : Ref();
    if (!dumps) {
        PyErr_Clear();  // the round trip will look them up again and raise
        return {};
    }
    return native_copy_with(dumps.get(), loads.get(), value, any_dict_at_top);
}

Ref normalise(const Call& call, PyObject* value) {
    // Looked up in the order the expression evaluates them.
    Ref loads = vanilla_json_attribute(call, loads_name);
    if (!loads) return {};
    Ref dumps = vanilla_json_attribute(call, dumps_name);
    if (!dumps) return {};
    Ref copy = native_copy_with(dumps.get(), loads.get(), value, false);
    if (copy || PyErr_Occurred()) return copy;
    Ref text = Ref::adopt(PyObject_CallOneArg(dumps.get(), value));
    if (!text) return {};
    return Ref::adopt(PyObject_CallOneArg(loads.get(), text.get()));
}

void remember_standard_json(const Globals& g) {
    if (standard) return;  // a later import attempt finds it already noted
    Ref vanilla = g.get(names::vanilla);
    Ref module = vanilla ? Ref::adopt(PyObject_GetAttr(vanilla.get(), json_attribute.get())) : Ref();
    if (module && PyModule_Check(module.get())) {
        Ref name = Ref::adopt(PyObject_GetAttr(module.get(), module_name_attribute.get()));
        PyObject* ns = PyModule_GetDict(module.get());
        if (name && PyUnicode_Check(name.get()) && PyUnicode_CompareWithASCIIString(name.get(), "json") == 0 && ns) {
            auto* found = new StandardJson{Ref::retain(ns),
                                           Ref::retain(PyDict_GetItemWithError(ns, dumps_name.get())),
                                           Ref::retain(PyDict_GetItemWithError(ns, loads_name.get())),
                                           Ref::retain(PyDict_GetItemWithError(ns, default_encoder_name.get())),
                                           Ref::retain(PyDict_GetItemWithError(ns, default_decoder_name.get()))};
            // Only the genuine module's own functions; a stand-in or a wrapper
            // installed before import keeps the round trip for every call.
            if (is_json_function(found->dumps.get(), ns) && is_json_function(found->loads.get(), ns) && found->encoder &&
                found->decoder)
                standard = found;
            else
                delete found;
        }
    }
    // Not finding the standard module only means no native copy.
    PyErr_Clear();
}

}  // namespace qel::jsonobj
