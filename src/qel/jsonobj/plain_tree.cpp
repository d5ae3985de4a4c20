#include "jsonobj/plain_tree.hpp"

#include <cmath>
#include <vector>

namespace qel::jsonobj {
namespace {

bool has_surrogate(PyObject* text) {
    const int kind = PyUnicode_KIND(text);
    if (kind == PyUnicode_1BYTE_KIND) return false;
    const void* data = PyUnicode_DATA(text);
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(text); i < n; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) return true;
    }
    return false;
}

/// Declined or failed: either way the copy stops and passes the outcome up.
bool stops(const Outcome& o) { return !o.handled() || !o.get(); }

/// Each step returns its copy, or declines (the data is unusual: the round
/// trip decides), or fails with an error set.
class Copier {
public:
    Copier(int max_depth, Ref memo) : depth_left_(max_depth), memo_(std::move(memo)) {}

    Outcome copy(PyObject* value) {
        if (value == Py_None || value == Py_True || value == Py_False) return Ref::retain(value);
        if (PyUnicode_CheckExact(value)) return copy_text(value);
        if (PyLong_CheckExact(value)) {
            // The encoder writes int.__repr__ and the decoder parses it back:
            // the same number as a new object (small ints are shared either way).
            int overflow = 0;
            const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
            if (overflow) return Outcome::declined();  // long digit strings meet the int/str limit
            if (n == -1 && PyErr_Occurred()) return Ref();
            return Ref::adopt(PyLong_FromLongLong(n));
        }
        if (PyFloat_CheckExact(value)) {
            // repr() round-trips every finite double exactly; NaN and the
            // infinities come back as the decoder's shared constants.
            const double x = PyFloat_AS_DOUBLE(value);
            if (!std::isfinite(x)) return Outcome::declined();
            return Ref::adopt(PyFloat_FromDouble(x));
        }
        if (PyDict_CheckExact(value)) return inside(value, &Copier::copy_entries);
        if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) return inside(value, &Copier::copy_items);
        return Outcome::declined();
    }

    Outcome copy_top_dict(PyObject* dict) { return inside(dict, &Copier::copy_entries); }

private:
    /// A container enters the path; false when the copy must not go on.
    bool enter(PyObject* container) {
        if (depth_left_ <= 0) return false;
        for (PyObject* outer : path_)
            if (outer == container) return false;  // the encoder's "Circular reference detected"
        --depth_left_;
        path_.push_back(container);
        return true;
    }
    void leave() {
        ++depth_left_;
        path_.pop_back();
    }

    /// The copy of a container's contents, made with the container on the path.
    Outcome inside(PyObject* container, Outcome (Copier::*copy_contents)(PyObject*)) {
        if (!enter(container)) return Outcome::declined();
        Outcome out = (this->*copy_contents)(container);
        leave();
        return out;
    }

    Outcome copy_text(PyObject* text) {
        if (compat::unicode_ready(text) < 0) return Ref();
        // The decoder joins an escaped high/low surrogate pair into one code point.
        if (has_surrogate(text)) return Outcome::declined();
        return Ref::adopt(PyUnicode_FromKindAndData(PyUnicode_KIND(text), PyUnicode_DATA(text),
                                                    PyUnicode_GET_LENGTH(text)));
    }

    /// The decoder keeps one object per distinct key text for the whole document.
    Outcome copy_key(PyObject* key) {
        if (!PyUnicode_CheckExact(key)) return Outcome::declined();  // the encoder rewrites such keys
        PyObject* seen = PyDict_GetItemWithError(memo_.get(), key);
        if (seen) return Ref::retain(seen);
        if (PyErr_Occurred()) return Ref();
        Outcome fresh = copy_text(key);
        if (stops(fresh)) return fresh;
        if (PyDict_SetItem(memo_.get(), fresh.get(), fresh.get()) < 0) return Ref();
        return fresh;
    }

    Outcome copy_entries(PyObject* dict) {
        Ref out = Ref::adopt(PyDict_New());
        if (!out) return Ref();
        Py_ssize_t pos = 0;
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        while (PyDict_Next(dict, &pos, &k, &v)) {
            // Held, since making the copies may run a collection and with it
            // arbitrary finalizers.
            Ref key = Ref::retain(k), value = Ref::retain(v);
            Outcome key_copy = copy_key(key.get());
            if (stops(key_copy)) return key_copy;
            Outcome value_copy = copy(value.get());
            if (stops(value_copy)) return value_copy;
            if (PyDict_SetItem(out.get(), key_copy.get(), value_copy.get()) < 0) return Ref();
        }
        return out;
    }

    Outcome copy_items(PyObject* sequence) {
        const bool is_list = PyList_CheckExact(sequence);
        const Py_ssize_t n = is_list ? PyList_GET_SIZE(sequence) : PyTuple_GET_SIZE(sequence);
        Ref out = Ref::adopt(PyList_New(n));
        if (!out) return Ref();
        for (Py_ssize_t i = 0; i < n; ++i) {
            // A finalizer could also shrink the list under us: then the data is
            // not what it was, and the round trip decides.
            if (is_list && PyList_GET_SIZE(sequence) != n) return Outcome::declined();
            Ref item = Ref::retain(is_list ? PyList_GET_ITEM(sequence, i) : PyTuple_GET_ITEM(sequence, i));
            Outcome item_copy = copy(item.get());
            if (stops(item_copy)) return item_copy;
            PyList_SET_ITEM(out.get(), i, item_copy.take().release());
        }
        return out;
    }

    int depth_left_;
    Ref memo_;
    std::vector<PyObject*> path_;  // borrowed: each is held by its parent's copy loop
};

}  // namespace

Outcome copy_plain_tree(PyObject* value, int max_depth, bool any_dict_at_top) {
    Ref memo = Ref::adopt(PyDict_New());
    if (!memo) return Ref();
    Copier copier(max_depth, std::move(memo));
    return any_dict_at_top && PyDict_Check(value) ? copier.copy_top_dict(value) : copier.copy(value);
}

}  // namespace qel::jsonobj
