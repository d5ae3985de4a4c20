// qel_send_message: the module's one-line notice format, on standard error.
#include "core/colors.hpp"
#include "core/names.hpp"
#include "terminal/stream.hpp"
#include "terminal/terminal.hpp"

namespace qel::terminal {
namespace {

Name message_line{colors::info_line_format};

Ref send_message_impl(const Call& call) {
    PyObject* format = message_line.get();
    if (!format) return {};
    // The `%` operator: a tuple supplies the arguments, anything else is one.
    Ref line = Ref::adopt(PyNumber_Remainder(format, call.arg(0)));
    if (!line) return {};
    Ref sys = call.global(names::sys);
    if (!sys) return {};
    Ref stream = Ref::adopt(PyObject_GetAttr(sys.get(), stderr_name.get()));
    if (!stream) return {};
    Ref write = Ref::adopt(PyObject_GetAttr(stream.get(), write_name.get()));
    if (!write) return {};
    Ref result = Ref::adopt(PyObject_CallOneArg(write.get(), line.get()));
    if (!result) return {};
    return none();
}

const FunctionDef send_message_def{"qel_send_message", {"text"}, send_message_impl, nullptr, 1};

}  // namespace

int define_send_message(const Globals& g) {
    return g.set(names::qel_send_message, make_function(send_message_def, g, nullptr));
}

}  // namespace qel::terminal
