// The standard output writer: the text reaches the stream unchanged, then
// every open listener.
#include "terminal/capture.hpp"
#include "terminal/stream.hpp"

namespace qel::terminal {
namespace {

Ref stdout_write_impl(const Call& call) {
    PyObject* text = call.arg(0);
    // The stream first: if it refuses the text, no listener records it.
    if (write_through(call, stdout_name, text) < 0) return {};
    if (capture(call, text) < 0) return {};
    return none();
}

Name holder_name{"__stdout__"};

}  // namespace

const FunctionDef stdout_writer_def{"write", {"text"}, stdout_write_impl, nullptr, 1};

int hook_stdout(ClassBuilder& listener_class) {
    if (listener_class.failed()) return -1;
    const Globals& g = listener_class.globals();
    Ref stream = current_stream(g, stdout_name);
    if (!stream) return -1;
    // The holder's body keeps the stream's own write before it defines the writer.
    ClassBuilder holder(g, "__stdout__", "terminal_listener.__stdout__", nullptr);
    if (keep_vanilla_write(stream.get()) < 0) return -1;
    holder.add(stdout_writer_def);
    listener_class.add(holder_name.text(), holder.build());
    if (listener_class.failed()) return -1;
    PyObject* built = PyDict_GetItemWithError(listener_class.ns(), holder_name.get());
    if (!built) return -1;
    Ref writer = Ref::adopt(PyObject_GetAttr(built, write_name.get()));
    if (!writer) return -1;
    stream = current_stream(g, stdout_name);
    if (!stream || PyObject_SetAttr(stream.get(), write_name.get(), writer.get()) < 0) return -1;
    listener_class.remove(holder_name.text());
    return listener_class.failed() ? -1 : 0;
}

}  // namespace qel::terminal
