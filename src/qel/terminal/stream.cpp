#include "terminal/stream.hpp"

#include "module/names.hpp"
#include "terminal/lookup_cache.hpp"

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

}  // namespace

int write_through(const Call& call, const Name& stream_name, PyObject* text) {
    // Every piece is as it is now: rebinding the module's `sys`, sys.stdout or
    // the stream's vanilla_write moves the output at once (the cache only
    // remembers answers while their dicts are unchanged).
    StreamSlots& slots = slots_for(stream_name);
    Ref sys = cached_global(slots.sys, call, names::sys);
    if (!sys) return -1;
    Ref stream = cached_module_attribute(slots.stream, sys.get(), stream_name);
    if (!stream) return -1;
    Ref write = cached_instance_attribute(slots.vanilla_write, stream.get(), vanilla_write_name);
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
    if (is_function(current.get(), &stdout_writer_def) || is_function(current.get(), &stderr_writer_def))
        return 0;
    return PyObject_SetAttr(stream, vanilla_write_name.get(), current.get());
}

}  // namespace qel::terminal
