// Keeping the stream writers in force from cell to cell under IPython.
//
// From version 9 on, IPython gives every cell a recorder of its own for the
// cell's output history: as the cell begins, each standard stream's `write`
// is replaced by a function that calls the `write` it found and records the
// text; as the cell ends, the `write` it found is put back. Writers installed
// by an import typed in a cell go away with that cell, and the stream's
// `vanilla_write` is left holding that cell's recorder.
//
// So an import under a running IPython shell (found in sys.modules: the
// module never imports IPython itself) registers two callbacks of the shell's
// events. Before each cell, a hooked stream whose writer has been taken away
// gets it back, writing through the new cell's recorder: the text is wrapped
// once, reaches the listeners once and is recorded once, in that cell.
//
// Nothing is done where the writer was already in place when the cell began
// (IPython 8, an import from a start-up file, cells run without a recorder):
// the recorder then wraps the writer, which writes through the stream's own
// `write`. Nor in a cell run from inside another cell: its recorder wraps the
// writer the outer cell put back, and writing through it would loop.
#include "core/names.hpp"
#include "terminal/stream.hpp"
#include "terminal/terminal.hpp"

namespace qel::terminal {
namespace {

Name ipython_name{"IPython"};
Name get_ipython_name{"get_ipython"};
Name events_name{"events"};
Name register_name{"register"};
Name self_name{"__self__"};
Name hooked_name{"hooked"};  // ((stream name, stream, writer), ...)
Name depth_name{"depth"};    // cells running, one inside another
Name pre_run_cell_name{"pre_run_cell"};
Name post_run_cell_name{"post_run_cell"};

/// Whether `write` is the stream's own bound `write` (a method of the stream
/// itself, not a function that wraps it). 1, 0, or -1 with an exception set.
int is_own_write(PyObject* stream, PyObject* write) {
    Ref self = Ref::adopt(PyObject_GetAttr(write, self_name.get()));
    if (!self) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    return self.get() == stream;
}

/// Puts `writer` back on `stream`, writing through what the stream writes
/// with now, unless the writer is there or already beneath it.
int rehook(PyObject* stream, PyObject* writer) {
    Ref write = Ref::adopt(PyObject_GetAttr(stream, write_name.get()));
    if (!write) return -1;
    if (is_writer(write.get())) return 0;
    Ref vanilla = Ref::adopt(PyObject_GetAttr(stream, vanilla_write_name.get()));
    if (!vanilla) return -1;
    // The writer stayed on the stream when the last cell ended: the cell's
    // recorder found it and calls it.
    const int own = is_own_write(stream, vanilla.get());
    if (own != 0) return own < 0 ? -1 : 0;
    if (PyObject_SetAttr(stream, vanilla_write_name.get(), write.get()) < 0) return -1;
    return PyObject_SetAttr(stream, write_name.get(), writer);
}

/// Adds `step` to the hooks' count of running cells and returns the new count.
Py_ssize_t count_cells(PyObject* self, Py_ssize_t step) {
    Ref depth = Ref::adopt(PyObject_GetAttr(self, depth_name.get()));
    if (!depth) return -1;
    Py_ssize_t n = PyLong_AsSsize_t(depth.get());
    if (n == -1 && PyErr_Occurred()) return -1;
    n = n + step < 0 ? 0 : n + step;  // the cell that imported the module began uncounted
    Ref stored = Ref::adopt(PyLong_FromSsize_t(n));
    if (!stored || PyObject_SetAttr(self, depth_name.get(), stored.get()) < 0) return -1;
    return n;
}

Ref pre_run_cell_impl(const Call& call) {
    PyObject* self = call.arg(0);
    const Py_ssize_t depth = count_cells(self, +1);
    if (depth < 0) return {};
    if (depth > 1) return none();
    Ref sys = call.global(names::sys);
    Ref hooked = Ref::adopt(PyObject_GetAttr(self, hooked_name.get()));
    if (!sys || !hooked) return {};
    if (!PyTuple_Check(hooked.get())) {
        PyErr_SetString(PyExc_TypeError, "hooked must be a tuple");
        return {};
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(hooked.get()); ++i) {
        PyObject* entry = PyTuple_GET_ITEM(hooked.get(), i);
        PyObject* name = nullptr;
        PyObject* stream = nullptr;
        PyObject* writer = nullptr;
        if (!PyArg_ParseTuple(entry, "UOO", &name, &stream, &writer)) return {};
        // A stream rebound since the import is somebody else's: left alone.
        Ref current = Ref::adopt(PyObject_GetAttr(sys.get(), name));
        if (!current) return {};
        if (current.get() == stream && rehook(stream, writer) < 0) return {};
    }
    return none();
}

Ref post_run_cell_impl(const Call& call) {
    return count_cells(call.arg(0), -1) < 0 ? Ref{} : none();
}

const FunctionDef pre_run_cell_def{"pre_run_cell", {"self", "info"}, pre_run_cell_impl};
const FunctionDef post_run_cell_def{"post_run_cell", {"self", "result"}, post_run_cell_impl};

/// The running IPython shell, None when there is none; empty with an
/// exception set on failure.
Ref running_shell() {
    Ref ipython = Ref::adopt(PyImport_GetModule(ipython_name.get()));  // only if already imported
    if (!ipython) return PyErr_Occurred() ? Ref() : none();
    Ref get_ipython = Ref::adopt(PyObject_GetAttr(ipython.get(), get_ipython_name.get()));
    if (!get_ipython) return {};
    return Ref::adopt(PyObject_CallNoArgs(get_ipython.get()));
}

/// (name, stream, writer) for the stream sys.<name> as it is now.
Ref hooked_entry(PyObject* sys, const Name& name) {
    Ref stream = Ref::adopt(PyObject_GetAttr(sys, name.get()));
    if (!stream) return {};
    Ref writer = Ref::adopt(PyObject_GetAttr(stream.get(), write_name.get()));
    if (!writer) return {};
    return Ref::adopt(PyTuple_Pack(3, name.get(), stream.get(), writer.get()));
}

int register_hooks(const Globals& g, PyObject* sys) {
    Ref shell = running_shell();
    if (!shell) return -1;
    if (shell.get() == Py_None) return 0;
    Ref events = Ref::adopt(PyObject_GetAttr(shell.get(), events_name.get()));
    if (!events) return -1;

    ClassBuilder builder(g, "cell_hooks", "cell_hooks", nullptr);
    builder.add(pre_run_cell_def).add(post_run_cell_def);
    Ref cls = builder.build();
    if (!cls) return -1;
    Ref hooks = Ref::adopt(PyObject_CallNoArgs(cls.get()));
    Ref out = hooked_entry(sys, stdout_name);
    Ref err = hooked_entry(sys, stderr_name);
    if (!hooks || !out || !err) return -1;
    Ref hooked = Ref::adopt(PyTuple_Pack(2, out.get(), err.get()));
    Ref zero = Ref::adopt(PyLong_FromLong(0));
    if (!hooked || !zero || PyObject_SetAttr(hooks.get(), hooked_name.get(), hooked.get()) < 0 ||
        PyObject_SetAttr(hooks.get(), depth_name.get(), zero.get()) < 0)
        return -1;

    for (const Name* event : {&pre_run_cell_name, &post_run_cell_name}) {
        Ref callback = Ref::adopt(PyObject_GetAttr(hooks.get(), event->get()));
        if (!callback) return -1;
        Ref done = Ref::adopt(
            PyObject_CallMethodObjArgs(events.get(), register_name.get(), event->get(), callback.get(), nullptr));
        if (!done) return -1;
    }
    return 0;
}

}  // namespace

int keep_hooks_across_cells(const Globals& g) {
    Ref sys = g.get(names::sys);
    if (!sys) return -1;
    if (register_hooks(g, sys.get()) == 0) return 0;
    // A shell of another shape than the one this was written for keeps the
    // module importable; only the hooks' survival across its cells is lost.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return -1;
    PyErr_Clear();
    return 0;
}

}  // namespace qel::terminal
