#include "core/argument_report.hpp"

#include "core/names.hpp"

namespace qel::core {
namespace {

Name dunder_name{"__name__"};

/// `qel_send_message(text)`, the sender looked up before the text is made,
/// as a call statement evaluates its parts.
template <typename MakeText>
int send(const Call& call, MakeText make_text) {
    Ref sender = call.global(names::qel_send_message);
    if (!sender) return -1;
    Ref text = make_text();
    if (!text) return -1;
    return Ref::adopt(PyObject_CallOneArg(sender.get(), text.get())) ? 0 : -1;
}

/// `first % (value, type(value).__name__)`
Ref describe(const char* first, PyObject* value) {
    Ref type_name = Ref::adopt(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(value)), dunder_name.get()));
    if (!type_name) return {};
    Ref pair = Ref::adopt(PyTuple_Pack(2, value, type_name.get()));
    Ref format = Ref::adopt(PyUnicode_FromString(first));
    if (!pair || !format) return {};
    return Ref::adopt(PyUnicode_Format(format.get(), pair.get()));
}

}  // namespace

int report_argument(const Call& call, const char* first, PyObject* value, const char* red) {
    Ref print_stack = call.global(names::print_stack);
    if (!print_stack || !Ref::adopt(PyObject_CallNoArgs(print_stack.get()))) return -1;
    if (send(call, [&] { return describe(first, value); }) < 0) return -1;
    return send(call, [&] { return Ref::adopt(PyUnicode_FromString(red)); });
}

}  // namespace qel::core
