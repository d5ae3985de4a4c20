#include "terminal/stream.hpp"

#include "core/lookup_cache.hpp"
#include "core/names.hpp"

namespace qel::terminal {

Ref current_stream(const Globals& g, const Name& stream) {
    Ref sys = g.get(names::sys);
    if (!sys || !stream.get()) return {};
    return Ref::adopt(PyObject_GetAttr(sys.get(), stream.get()));
}

namespace {

/// The remembered lookups of one writer's path to its stream.
struct StreamSlots {
    DictSlot sys;
    DictSlot stream;
    InstanceSlot vanilla_write;
};

StreamSlots& slots_for(const Name& stream_name) {
    static StreamSlots out, err;
    return &stream_name == &stdout_name ? out : err;
}

/// sys.<stream>.vanilla_write as last looked up, when every dict on the way
/// is unchanged since; borrowed (nothing runs between the checks and its
/// use), or null.
PyObject* remembered_write(const StreamSlots& slots, const Call& call) {
    PyObject* sys = slots.sys.hit(call.globals_dict());
    if (!sys || !PyModule_CheckExact(sys)) return nullptr;
    PyObject* stream = slots.stream.hit(internals::module_dict(sys));
    return stream ? slots.vanilla_write.hit(stream) : nullptr;
}

/// write(text). A built-in method of one argument (a stream's own write) is
/// called through its C function, as the interpreter's own call of such a
/// method is from 3.11 on: a failure without an exception becomes a
/// SystemError, and a result is taken as it comes. (A result with an
/// exception set, which only a faulty extension returns, is still reported:
/// the interpreter checks what the writer itself returns.)
int call_write(PyObject* write, PyObject* text) {
    Ref result;
    if (PyCFunction_CheckExact(write) && PyCFunction_GET_FLAGS(write) == METH_O) {
        result = Ref::adopt(PyCFunction_GET_FUNCTION(write)(PyCFunction_GET_SELF(write), text));
        if (!result && !PyErr_Occurred())
            PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", write);
    } else {
        // Slot 0 is scratch space the callee may use to bind self without copying.
        PyObject* args[2] = {nullptr, text};
        result = Ref::adopt(PyObject_Vectorcall(write, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }
    return result ? 0 : -1;
}

}  // namespace

int write_through(const Call& call, const Name& stream_name, PyObject* text) {
    // Every piece is as it is now: rebinding the module's `sys`, sys.stdout or
    // the stream's vanilla_write moves the output at once (the cache only
    // remembers answers while their dicts are unchanged).
    StreamSlots& slots = slots_for(stream_name);
    Ref write;
    if (PyObject* known = remembered_write(slots, call)) {
        write = Ref::retain(known);  // held for the call, which may rebind anything
    } else {
        Ref sys = cached_global(slots.sys, call, names::sys);
        if (!sys) return -1;
        Ref stream = cached_module_attribute(slots.stream, sys.get(), stream_name);
        if (!stream) return -1;
        write = cached_instance_attribute(slots.vanilla_write, stream.get(), vanilla_write_name);
        if (!write) return -1;
    }
    return call_write(write.get(), text);
}

bool is_writer(PyObject* o) { return is_function(o, &stdout_writer_def) || is_function(o, &stderr_writer_def); }

int keep_vanilla_write(PyObject* stream) {
    Ref current = Ref::adopt(PyObject_GetAttr(stream, write_name.get()));
    if (!current) return -1;
    if (is_writer(current.get())) return 0;
    return PyObject_SetAttr(stream, vanilla_write_name.get(), current.get());
}

}  // namespace qel::terminal
