// Binding a call's arguments to a native function's parameters, with the
// TypeError texts the interpreter gives for a Python function of the same
// signature (Python/ceval.c: too_many_positional, missing_arguments,
// positional_only_passed_as_keyword and the keyword checks).
#include "core/function_object.hpp"
#include "core/suggestions.hpp"

namespace qel::core {
namespace {

/// How the interpreter names the function in these messages: by its current
/// __qualname__ from 3.10 on; up to 3.9 by the code object's name, which
/// renaming the function does not change.
Ref error_name(FunctionObject* f) {
    if constexpr (compat::errors_use_qualname) return Ref::retain(f->qualname);
    return Ref::adopt(PyUnicode_FromString(f->definition->name));
}

bool same_name(PyObject* a, PyObject* b) {
    if (a == b) return true;
    return PyUnicode_Check(b) && PyUnicode_Compare(a, b) == 0;
}

void too_many_positional(FunctionObject* f, Py_ssize_t given) {
    Ref who = error_name(f);
    if (!who) return;
    const Py_ssize_t n = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t defcount = f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0;
    Ref sig = defcount ? Ref::adopt(PyUnicode_FromFormat("from %zd to %zd", n - defcount, n))
                       : Ref::adopt(PyUnicode_FromFormat("%zd", n));
    if (!sig) return;
    const bool plural = defcount ? true : n != 1;
    PyErr_Format(PyExc_TypeError, "%U() takes %U positional argument%s but %zd %s given",
                 who.get(), sig.get(), plural ? "s" : "", given, given == 1 ? "was" : "were");
}

void missing_arguments(FunctionObject* f, PyObject** slots, Py_ssize_t from, Py_ssize_t to) {
    Ref who = error_name(f);
    if (!who) return;
    Ref names = Ref::adopt(PyList_New(0));
    if (!names) return;
    for (Py_ssize_t i = from; i < to; ++i) {
        if (slots[i]) continue;
        Ref r = Ref::adopt(PyObject_Repr(PyTuple_GET_ITEM(f->params, i)));
        if (!r || PyList_Append(names.get(), r.get()) < 0) return;
    }
    const Py_ssize_t len = PyList_GET_SIZE(names.get());
    Ref text;
    if (len == 1) {
        text = Ref::retain(PyList_GET_ITEM(names.get(), 0));
    } else if (len == 2) {
        text = Ref::adopt(PyUnicode_FromFormat("%U and %U", PyList_GET_ITEM(names.get(), 0),
                                               PyList_GET_ITEM(names.get(), 1)));
    } else {
        Ref tail = Ref::adopt(PyUnicode_FromFormat(", %U, and %U", PyList_GET_ITEM(names.get(), len - 2),
                                                   PyList_GET_ITEM(names.get(), len - 1)));
        Ref head_list = Ref::adopt(PyList_GetSlice(names.get(), 0, len - 2));
        Ref sep = Ref::adopt(PyUnicode_FromString(", "));
        if (!tail || !head_list || !sep) return;
        Ref head = Ref::adopt(PyUnicode_Join(sep.get(), head_list.get()));
        if (!head) return;
        text = Ref::adopt(PyUnicode_Concat(head.get(), tail.get()));
    }
    if (!text) return;
    PyErr_Format(PyExc_TypeError, "%U() missing %i required positional argument%s: %U", who.get(),
                 static_cast<int>(len), len == 1 ? "" : "s", text.get());
}

/// A keyword that names none of the keyword-capable parameters. Returns -1
/// always, with the error the interpreter would give.
int unexpected_keyword(FunctionObject* f, PyObject* key, PyObject* kwnames) {
    Ref who = error_name(f);
    if (!who) return -1;
    const Py_ssize_t n = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t posonly = f->definition->positional_only;
    // Keywords naming positional-only parameters are reported together first.
    if (posonly > 0) {
        Ref hits = Ref::adopt(PyList_New(0));
        if (!hits) return -1;
        for (Py_ssize_t k = 0; k < posonly; ++k) {
            PyObject* pname = PyTuple_GET_ITEM(f->params, k);
            for (Py_ssize_t j = 0; j < PyTuple_GET_SIZE(kwnames); ++j) {
                PyObject* kw = PyTuple_GET_ITEM(kwnames, j);
                if (same_name(pname, kw) && PyList_Append(hits.get(), kw) < 0) return -1;
            }
        }
        const Py_ssize_t count = PyList_GET_SIZE(hits.get());
        if (count) {
            Ref sep = Ref::adopt(PyUnicode_FromString(", "));
            if (!sep) return -1;
            Ref joined = Ref::adopt(PyUnicode_Join(sep.get(), hits.get()));
            if (!joined) return -1;
            // The interpreter says "arguments" whatever the count.
            PyErr_Format(PyExc_TypeError,
                         "%U() got some positional-only arguments passed as keyword arguments: '%U'",
                         who.get(), joined.get());
            return -1;
        }
    }
    if constexpr (compat::keyword_suggestions) {
        Ref candidates = Ref::adopt(PyTuple_GetSlice(f->params, posonly, n));
        Ref suggestion = candidates ? closest_name(candidates.get(), key) : Ref();
        if (suggestion) {
            PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'. Did you mean '%S'?",
                         who.get(), key, suggestion.get());
            return -1;
        }
        PyErr_Clear();
    }
    PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'", who.get(), key);
    return -1;
}

}  // namespace

int bind_arguments(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) {
    const Py_ssize_t n = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t posonly = f->definition->positional_only;
    const Py_ssize_t kwcount = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    const Py_ssize_t defcount = f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0;
    const Py_ssize_t first_default = n - defcount;

    // The usual call that leaves out some defaults: filled in one pass, never
    // read back (a slot read right after a wider store of it waits for it).
    if (kwcount == 0 && nargs <= n && nargs >= first_default) {
        for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
        for (Py_ssize_t i = nargs; i < n; ++i) slots[i] = PyTuple_GET_ITEM(f->defaults, i - first_default);
        return 0;
    }

    for (Py_ssize_t i = 0; i < n; ++i) slots[i] = i < nargs ? args[i] : nullptr;
    for (Py_ssize_t k = 0; k < kwcount; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            Ref who = error_name(f);
            if (who) PyErr_Format(PyExc_TypeError, "%U() keywords must be strings", who.get());
            return -1;
        }
        Py_ssize_t j = posonly;
        while (j < n && !same_name(PyTuple_GET_ITEM(f->params, j), key)) ++j;
        if (j == n) return unexpected_keyword(f, key, kwnames);
        if (slots[j]) {
            Ref who = error_name(f);
            if (who) PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%S'", who.get(), key);
            return -1;
        }
        slots[j] = args[nargs + k];
    }

    if (nargs > n) {
        too_many_positional(f, nargs);
        return -1;
    }
    if (nargs < n) {
        for (Py_ssize_t i = nargs; i < first_default; ++i) {
            if (!slots[i]) {
                missing_arguments(f, slots, nargs, first_default);
                return -1;
            }
        }
        for (Py_ssize_t i = nargs > first_default ? nargs - first_default : 0; i < defcount; ++i) {
            if (!slots[first_default + i]) slots[first_default + i] = PyTuple_GET_ITEM(f->defaults, i);
        }
    }
    return 0;
}

}  // namespace qel::core
