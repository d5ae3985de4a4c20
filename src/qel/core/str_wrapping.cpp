#include "core/str_wrapping.hpp"

#include "core/lookup_cache.hpp"
#include "core/names.hpp"

namespace qel::core {

namespace {
DictSlot str_global;       // the module's `str`
TypeSlot directly_made;    // a class found fit, while it is unchanged
}  // namespace

bool constructs_like_str(PyTypeObject* type) {
    return PyType_IsSubtype(type, &PyUnicode_Type) && type->tp_new == PyUnicode_Type.tp_new &&
           type->tp_init == PyUnicode_Type.tp_init;
}

Outcome directly_made_str_type(const Call& call) {
    if (!internals::str_layout_writable) return Outcome::declined();
    Ref str = cached_global(str_global, call, names::str);
    if (!str) {
        PyErr_Clear();  // the general way looks it up again and reports it
        return Outcome::declined();
    }
    // Calling a class whose metaclass is `type` runs its __new__ and then its
    // __init__, and nothing else.
    if (Py_TYPE(str.get()) != &PyType_Type) return Outcome::declined();
    auto* type = reinterpret_cast<PyTypeObject*>(str.get());
    if (directly_made.hit(type)) return str;
    if (type == &PyUnicode_Type || !constructs_like_str(type) || type->tp_alloc != PyType_GenericAlloc)
        return Outcome::declined();
    // Changing any of that (assigning __init__, say) changes the class.
    directly_made.remember(type);
    return str;
}

Ref wrap_str(const Call& call, const Ref& value) {
    if (!value) return {};
    Ref str = call.global(names::str);
    if (!str) return {};
    return Ref::adopt(PyObject_CallOneArg(str.get(), value.get()));
}

}  // namespace qel::core
