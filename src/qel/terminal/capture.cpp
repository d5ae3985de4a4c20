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

#include "module/names.hpp"
#include "terminal/lookup_cache.hpp"

#include <array>
#include <vector>

namespace qel::terminal {

Name content_name{"content"};
Name listeners_name{"listeners"};

namespace {

/// Whether calling `str_type` on an exact built-in str gives a string with the
/// same characters that adds to a str like the original: the module's own
/// extended type, as long as nobody gave it a constructor or an addition.
bool converts_exactly(PyObject* str_type) {
    if (!PyType_Check(str_type)) return false;
    auto* t = reinterpret_cast<PyTypeObject*>(str_type);
    if (!PyType_IsSubtype(t, &PyUnicode_Type)) return false;
    if (t->tp_new != PyUnicode_Type.tp_new || t->tp_init != PyUnicode_Type.tp_init) return false;
    return t->tp_as_number == nullptr || t->tp_as_number->nb_add == nullptr;
}

/// Whether `content` on this listener is plain instance-dict storage: the
/// generic attribute protocol and no data descriptor of that name on the class.
bool plain_content(PyObject* listener) {
    PyTypeObject* t = Py_TYPE(listener);
    if (t->tp_getattro != PyObject_GenericGetAttr || t->tp_setattro != PyObject_GenericSetAttr) return false;
    // _PyType_Lookup reads the interpreter's per-type attribute cache; it is
    // what attribute access itself uses to find class-level descriptors.
    PyObject* descr = _PyType_Lookup(t, content_name.get());
    return descr == nullptr || Py_TYPE(descr)->tp_descr_set == nullptr;
}

/// content + text for an exact str held only by `dict`: grows it in place.
/// Nothing here runs Python code or releases the interpreter lock, so no
/// other thread or re-entrant write can see the placeholder.
int grow_in_place(PyObject* dict, PyObject* old, PyObject* text) {
    Ref owned = Ref::retain(old);
    // Leave the instance dict holding the only other reference, then take it
    // over: the string is resized only when it is referenced exactly once.
    if (PyDict_SetItem(dict, content_name.get(), Py_None) < 0) return -1;
    PyObject* s = owned.release();
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const Py_ssize_t m = PyUnicode_GET_LENGTH(text);
    int r = PyUnicode_Resize(&s, n + m);
    // On failure the old text is intact in `s`; put it back either way.
    if (r == 0 && PyUnicode_CopyCharacters(s, n, text, 0, m) < 0) r = -1;
    if (r < 0) {
        // Keep what was captured before; report the failure of this append.
        Ref keep = Ref::adopt(s);
        if (PyUnicode_GET_LENGTH(s) != n) {
            keep = Ref::adopt(PyUnicode_Substring(s, 0, n));
            if (!keep) return -1;
        }
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        const int restored = PyDict_SetItem(dict, content_name.get(), keep.get());
        PyErr_Restore(type, value, tb);
        (void)restored;  // the append's own error is the one to report
        return -1;
    }
    Ref grown = Ref::adopt(s);
    return PyDict_SetItem(dict, content_name.get(), grown.get());
}

/// The fast append; 1 when done, 0 when the general path must run, -1 on error.
int append_plain(PyObject* listener, PyObject* text) {
    if (!plain_content(listener)) return 0;
    Ref dict = Ref::adopt(PyObject_GenericGetDict(listener, nullptr));
    if (!dict) return -1;
    PyObject* old = PyDict_GetItemWithError(dict.get(), content_name.get());
    if (!old) return PyErr_Occurred() ? -1 : 0;  // first capture: read the class attribute
    if (!PyUnicode_CheckExact(old)) return 0;
    // In place needs the only reference, an unhashed string (the interpreter
    // never resizes one whose hash is cached) and a text that fits its width.
    if (Py_REFCNT(old) == 1 && PyUnicode_MAX_CHAR_VALUE(text) <= PyUnicode_MAX_CHAR_VALUE(old)) {
        return grow_in_place(dict.get(), old, text) < 0 ? -1 : 1;
    }
    Ref joined = Ref::adopt(PyUnicode_Concat(old, text));
    if (!joined) return -1;
    return PyDict_SetItem(dict.get(), content_name.get(), joined.get()) < 0 ? -1 : 1;
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

}  // namespace

int capture(const Call& call, PyObject* text) {
    static DictSlot listener_slot, str_slot, registry_slot;
    Ref cls = cached_global(listener_slot, call, names::terminal_listener);
    if (!cls) return -1;
    Ref registry = cached_class_attribute(registry_slot, cls.get(), listeners_name);
    if (!registry) return -1;

    // A snapshot of the registry: listeners may open or close while the text
    // is handed out (a subclass's attribute assignment may print, or close a
    // listener). Every listener open when the write began gets the text once;
    // none is skipped because an earlier one left the list.
    Snapshot open;
    if (PyList_CheckExact(registry.get())) {
        const Py_ssize_t n = PyList_GET_SIZE(registry.get());
        if (n == 0) return 0;
        for (Py_ssize_t i = 0; i < n; ++i) open.push(Ref::retain(PyList_GET_ITEM(registry.get(), i)));
    } else {
        Ref it = Ref::adopt(PyObject_GetIter(registry.get()));
        if (!it) return -1;
        while (Ref item = Ref::adopt(PyIter_Next(it.get()))) open.push(std::move(item));
        if (PyErr_Occurred()) return -1;
    }
    registry.reset();

    // The text can skip the conversion when converting cannot change it.
    bool exact = false;
    if (PyUnicode_CheckExact(text)) {
        Ref str = cached_global(str_slot, call, names::str);
        if (!str) return -1;
        exact = converts_exactly(str.get());
    }
    for (std::size_t i = 0; i < open.size(); ++i) {
        PyObject* listener = open[i];
        int done = exact ? append_plain(listener, text) : 0;
        if (done < 0) return -1;
        if (done == 0 && append_general(call, listener, text) < 0) return -1;
    }
    return 0;
}

}  // namespace qel::terminal
