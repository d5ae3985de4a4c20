// Each open listener's `content` is an ordinary instance attribute: users read
// it, may replace it, and later captures append to whatever it then holds.
// Appending by `content = content + text` would copy everything captured so far
// on every write, so a plain listener's text is grown in place instead; the
// interpreter's string may be resized when nothing but the instance dict holds
// it. Anything unusual (a subclass with its own attribute access, a `content`
// descriptor, a replaced `str`, a non-string content) takes the general path,
// which performs exactly the attribute reads, conversion, addition and
// assignment.
#include "terminal/capture.hpp"

#include "core/lookup_cache.hpp"
#include "core/names.hpp"
#include "core/str_wrapping.hpp"
#include "simd/isa.hpp"  // QEL_NOINLINE
#include "terminal/content_reserve.hpp"

#include <array>
#include <cstring>
#include <vector>

namespace qel::terminal {

namespace {

/// Whether calling `str_type` on an exact built-in str gives a string with the
/// same characters that adds to a str like the original: the module's own
/// extended type, as long as nobody gave it a constructor or an addition. Its
/// metaclass must be `type` itself, which nothing can change: another could
/// have (or be given) a __call__ of its own.
bool converts_exactly(PyObject* str_type) {
    if (Py_TYPE(str_type) != &PyType_Type) return false;
    auto* t = reinterpret_cast<PyTypeObject*>(str_type);
    if (!constructs_like_str(t)) return false;
    return t->tp_as_number == nullptr || t->tp_as_number->nb_add == nullptr;
}

/// Whether `content` on this listener is plain instance-dict storage: the
/// generic attribute protocol and no data descriptor of that name on the class.
/// The answer is remembered for the last listener class, at its version.
bool plain_content(PyObject* listener) {
    static TypeSlot plain_class;
    PyTypeObject* t = Py_TYPE(listener);
    if (plain_class.hit(t)) return true;
    if (t->tp_getattro != PyObject_GenericGetAttr || t->tp_setattro != PyObject_GenericSetAttr) return false;
    // What attribute access itself asks to find class-level descriptors.
    PyObject* descr = internals::type_lookup(t, content_name.get());
    if (descr != nullptr && Py_TYPE(descr)->tp_descr_set != nullptr) return false;
    plain_class.remember(t);
    return true;
}

/// The listener's instance dict, new reference.
Ref instance_dict(PyObject* listener) {
    const Py_ssize_t offset = Py_TYPE(listener)->tp_dictoffset;
    if (offset > 0) {
        PyObject* dict = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(listener) + offset);
        if (dict) return Ref::retain(dict);
    }
    return Ref::adopt(PyObject_GenericGetDict(listener, nullptr));
}

/// The fast append; 1 when done, 0 when the general path must run, -1 on error.
int append_plain(PyObject* listener, PyObject* text) {
    if (!plain_content(listener)) return 0;
    Ref dict = instance_dict(listener);
    if (!dict) return -1;
    return append_to_content(dict.get(), text);
}

/// listener.content = listener.content + str(text), attribute by attribute.
int append_general(const Call& call, PyObject* listener, PyObject* text) {
    Ref str = call.global(names::str);
    if (!str) return -1;
    Ref converted = Ref::adopt(PyObject_CallOneArg(str.get(), text));
    if (!converted) return -1;
    Ref old = Ref::adopt(PyObject_GetAttr(listener, content_name.get()));
    if (!old) return -1;
    Ref joined = Ref::adopt(PyNumber_Add(old.get(), converted.get()));
    if (!joined) return -1;
    old.reset();
    return PyObject_SetAttr(listener, content_name.get(), joined.get());
}

/// The listeners of one write. A handful are held inline, so a write into the
/// usual one or two open listeners allocates nothing for the snapshot.
class Snapshot {
public:
    void push(Ref listener) {
        if (inline_count_ < inline_.size()) inline_[inline_count_++] = std::move(listener);
        else more_.push_back(std::move(listener));
    }
    std::size_t size() const { return inline_count_ + more_.size(); }
    PyObject* operator[](std::size_t i) const {
        return i < inline_.size() ? inline_[i].get() : more_[i - inline_.size()].get();
    }

private:
    std::array<Ref, 4> inline_;
    std::size_t inline_count_ = 0;
    std::vector<Ref> more_;
};

/// Whether the text can skip the conversion because converting cannot change
/// it: 1 or 0, or -1 with an exception set.
int skips_conversion(const Call& call, PyObject* text) {
    static DictSlot str_slot;
    static TypeSlot exact_type;  // the last `str` found to convert exactly, at its version
    if (!PyUnicode_CheckExact(text)) return 0;
    if (compat::unicode_ready(text) < 0) return -1;
    // The module's `str` as last seen, unchanged since: the same answer.
    if (PyObject* known = str_slot.hit(call.globals_dict()); known && PyType_Check(known))
        if (exact_type.hit(reinterpret_cast<PyTypeObject*>(known))) return 1;
    Ref str = cached_global(str_slot, call, names::str);
    if (!str) return -1;
    if (!converts_exactly(str.get())) return 0;
    exact_type.remember(reinterpret_cast<PyTypeObject*>(str.get()));
    return 1;
}

/// Appends `text` to one listener's content.
int hand_to(const Call& call, PyObject* listener, PyObject* text, int exact) {
    const int done = exact ? append_plain(listener, text) : 0;
    if (done < 0) return -1;
    return done == 0 ? append_general(call, listener, text) : 0;
}

/// Hands `text` to every listener of `registry`, which is not known to be empty.
int capture_into(const Call& call, PyObject* registry, PyObject* text) {
    // One open listener, the usual case: held for the write, no snapshot needed.
    if (PyList_CheckExact(registry) && PyList_GET_SIZE(registry) == 1) {
        Ref listener = Ref::retain(PyList_GET_ITEM(registry, 0));
        const int exact = skips_conversion(call, text);
        return exact < 0 ? -1 : hand_to(call, listener.get(), text, exact);
    }
    // A snapshot of the registry: listeners may open or close while the text
    // is handed out (a subclass's attribute assignment may print, or close a
    // listener). Every listener open when the write began gets the text once;
    // none is skipped because an earlier one left the list.
    Snapshot open;
    if (PyList_CheckExact(registry)) {
        const Py_ssize_t n = PyList_GET_SIZE(registry);
        for (Py_ssize_t i = 0; i < n; ++i) open.push(Ref::retain(PyList_GET_ITEM(registry, i)));
    } else {
        Ref it = Ref::adopt(PyObject_GetIter(registry));
        if (!it) return -1;
        while (Ref item = Ref::adopt(PyIter_Next(it.get()))) open.push(std::move(item));
        if (PyErr_Occurred()) return -1;
    }
    const int exact = skips_conversion(call, text);
    if (exact < 0) return -1;
    for (std::size_t i = 0; i < open.size(); ++i)
        if (hand_to(call, open[i], text, exact) < 0) return -1;
    return 0;
}

/// The registry of `terminal_listener` as last looked up; see capture.
DictSlot listener_slot, registry_slot;

/// capture's work past its first check, kept out of line so that the check
/// alone costs no more than a few comparisons.
QEL_NOINLINE int capture_looked_up(const Call& call, PyObject* text) {
    Ref cls = cached_global(listener_slot, call, names::terminal_listener);
    if (!cls) return -1;
    Ref registry = cached_class_attribute(registry_slot, cls.get(), listeners_name);
    if (!registry) return -1;
    // No listener open: the usual case, and nothing more to do.
    if (PyList_CheckExact(registry.get()) && PyList_GET_SIZE(registry.get()) == 0) return 0;
    return capture_into(call, registry.get(), text);
}

}  // namespace

int capture(const Call& call, PyObject* text) {
    // No listener open, as last seen and unchanged since: nothing to do.
    if (PyObject* known = listener_slot.hit(call.globals_dict()); known && PyType_CheckExact(known)) {
        PyObject* registry = registry_slot.hit(reinterpret_cast<PyTypeObject*>(known)->tp_dict);
        if (registry && PyList_CheckExact(registry) && PyList_GET_SIZE(registry) == 0) return 0;
    }
    return capture_looked_up(call, text);
}

}  // namespace qel::terminal
