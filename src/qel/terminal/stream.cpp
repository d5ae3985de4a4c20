#include "terminal/stream.hpp"

#include "module/names.hpp"

namespace qel::terminal {

Name stdout_name{"stdout"};
Name stderr_name{"stderr"};
Name write_name{"write"};
Name vanilla_write_name{"vanilla_write"};

Ref current_stream(const Globals& g, const Name& stream) {
    Ref sys = g.get(names::sys);
    if (!sys || !stream.get()) return {};
    return Ref::adopt(PyObject_GetAttr(sys.get(), stream.get()));
}

Ref module_attribute(PyObject* module, PyObject* name) {
    // A plain module's attributes are its dict entries: the module type is
    // immutable and defines none of the names asked for here, so the generic
    // lookup would find exactly this entry. Anything else (a module subclass,
    // a missing name that a module __getattr__ may supply) takes the full path.
    if (PyModule_CheckExact(module)) {
        PyObject* found = PyDict_GetItemWithError(PyModule_GetDict(module), name);
        if (found) return Ref::retain(found);
        if (PyErr_Occurred()) return {};
    }
    return Ref::adopt(PyObject_GetAttr(module, name));
}

int write_through(const Call& call, const Name& stream_name, PyObject* text) {
    // Every piece is looked up per call: rebinding sys.stdout (or the module's
    // `sys`) moves the output at once.
    Ref sys = call.global(names::sys);
    if (!sys) return -1;
    Ref stream = module_attribute(sys.get(), stream_name.get());
    if (!stream) return -1;
    Ref write = Ref::adopt(PyObject_GetAttr(stream.get(), vanilla_write_name.get()));
    if (!write) return -1;
    // Slot 0 is scratch space the callee may use to bind self without copying.
    PyObject* args[2] = {nullptr, text};
    Ref result = Ref::adopt(
        PyObject_Vectorcall(write.get(), args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    return result ? 0 : -1;
}

int keep_vanilla_write(PyObject* stream) {
    Ref current = Ref::adopt(PyObject_GetAttr(stream, write_name.get()));
    if (!current) return -1;
    if (is_function(current.get(), &stdout_writer_spec) || is_function(current.get(), &stderr_writer_spec))
        return 0;
    return PyObject_SetAttr(stream, vanilla_write_name.get(), current.get());
}

}  // namespace qel::terminal
