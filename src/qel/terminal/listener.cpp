// terminal_listener: an open listener sits in the class-wide registry
// `terminal_listener.listeners`; the writers append to every one in it.
#include "core/display_form.hpp"
#include "core/lookup_cache.hpp"
#include "core/names.hpp"
#include "core/str_wrapping.hpp"
#include "terminal/capture.hpp"
#include "terminal/content_reserve.hpp"
#include "terminal/stream.hpp"
#include "terminal/terminal.hpp"

#include <string>

namespace qel::terminal {
namespace {

Name log_name{"log"};
Name append_name{"append"};
Name remove_name{"remove"};
Name replace_name{"replace"};
Name format_name{"format"};

constexpr const char* opening_notice = "启动终端监听器. Start terminal listener.";
constexpr const char* closing_notice = "关闭终端监听器. Turn off terminal listener.";

/// `terminal_listener.listeners`, looked up now. Read from the class's own
/// dict where it lives there: while the registry is being replaced, the old
/// list is released before the interpreter's type attribute cache (3.9 to
/// 3.12) forgets it, and a listener finalized by that release must not be
/// handed the list that is being freed.
Ref registry(const Call& call) {
    static DictSlot slot;
    Ref cls = call.global(names::terminal_listener);
    if (!cls) return {};
    return cached_class_attribute(slot, cls.get(), listeners_name);
}

/// qel_send_message(text), looked up now.
int notice(const Call& call, const char* text) {
    Ref send = call.global(names::qel_send_message);
    Ref message = Ref::adopt(PyUnicode_FromString(text));
    if (!send || !message) return -1;
    Ref result = Ref::adopt(PyObject_CallOneArg(send.get(), message.get()));
    return result ? 0 : -1;
}

/// Sends the closing notice when the listener's `log` is true now.
int closing_notice_if_logging(const Call& call, PyObject* self) {
    Ref log = Ref::adopt(PyObject_GetAttr(self, log_name.get()));
    if (!log) return -1;
    const int truth = PyObject_IsTrue(log.get());
    if (truth <= 0) return truth;
    return notice(call, closing_notice);
}

Ref content_of(PyObject* self) { return Ref::adopt(PyObject_GetAttr(self, content_name.get())); }

// ---- __init__ -----------------------------------------------------------------------

Ref init_impl(const Call& call) {
    PyObject* self = call.arg(0);
    PyObject* log = call.arg(1);
    if (PyObject_SetAttr(self, log_name.get(), log) < 0) return {};
    Ref listeners = registry(call);
    if (!listeners) return {};
    // Joins before the opening notice, so the listener captures its own notice.
    Ref appended = Ref::adopt(PyObject_CallMethodOneArg(listeners.get(), append_name.get(), self));
    if (!appended) return {};
    const int truth = PyObject_IsTrue(log);
    if (truth < 0 || (truth && notice(call, opening_notice) < 0)) return {};
    return none();
}

// ---- read, close, __del__ ---------------------------------------------------------

Ref read_impl(const Call& call) { return wrap_str(call, content_of(call.arg(0))); }

Ref close_impl(const Call& call) {
    PyObject* self = call.arg(0);
    Ref listeners = registry(call);
    if (!listeners) return {};
    // Leaves before the closing notice, so the listener does not capture it;
    // a listener not in the registry gets the list's ValueError and no notice.
    Ref removed = Ref::adopt(PyObject_CallMethodOneArg(listeners.get(), remove_name.get(), self));
    if (!removed) return {};
    forget_content(self);
    if (closing_notice_if_logging(call, self) < 0) return {};
    return none();
}

Ref del_impl(const Call& call) {
    PyObject* self = call.arg(0);
    // A listener that was closed has nothing left to do when it goes away;
    // only one still registered is closed here.
    Ref listeners = registry(call);
    if (!listeners) return {};
    const int open = PySequence_Contains(listeners.get(), self);
    if (open <= 0) return open < 0 ? Ref() : none();
    listeners.reset();
    return close_impl(call);
}

// ---- __str__, __repr__ ------------------------------------------------------------

Ref str_impl(const Call& call) {
    Ref content = content_of(call.arg(0));
    if (!content) return {};
    const Py_ssize_t count = PyObject_Size(content.get());
    if (count < 0) return {};
    if (PyUnicode_CheckExact(content.get())) {
        const std::string head = "<QEL Terminal listener object read " + std::to_string(count) + " characters: \"";
        return wrap_str(call, escape_display(content.get(), head, "\">"));
    }
    // Anything else: the six replacements as its own method calls, then str.format.
    const char* pairs[][2] = {{"\\", "\\\\"}, {"\"", "\\\""}, {"\r", "\\r"},
                              {"\n", "\\n"},  {"\t", "\\t"},   {"\x1b", "\\33"}};
    Ref text = content;
    for (auto& pair : pairs) {
        Ref from = Ref::adopt(PyUnicode_FromString(pair[0]));
        Ref to = Ref::adopt(PyUnicode_FromString(pair[1]));
        if (!from || !to) return {};
        PyObject* args[3] = {text.get(), from.get(), to.get()};
        text = Ref::adopt(PyObject_VectorcallMethod(replace_name.get(), args, 3, nullptr));
        if (!text) return {};
    }
    Ref templ = Ref::adopt(PyUnicode_FromString("<QEL Terminal listener object read {} characters: \"{}\">"));
    Ref n = Ref::adopt(PyLong_FromSsize_t(count));
    if (!templ || !n) return {};
    PyObject* args[3] = {templ.get(), n.get(), text.get()};
    return wrap_str(call, Ref::adopt(PyObject_VectorcallMethod(format_name.get(), args, 3, nullptr)));
}

Ref repr_impl(const Call& call) {
    Ref content = content_of(call.arg(0));
    if (!content) return {};
    const Py_ssize_t count = PyObject_Size(content.get());
    if (count < 0) return {};
    return wrap_str(call, Ref::adopt(PyUnicode_FromFormat(
                              "<QEL Terminal listener object read %zd characters>", count)));
}

const FunctionDef init_def{"__init__", {"self", "log"}, init_impl, "创建监听事件. Create a listen event."};
const FunctionDef str_def{"__str__", {"self"}, str_impl, "自定义转字符串效果. Customize the conversion string effect"};
const FunctionDef repr_def{"__repr__", {"self"}, repr_impl, "自定义显示效果. Customize the display."};
const FunctionDef del_def{"__del__", {"self"}, del_impl, " 删除事件时关闭事件. Close an event when deleting it."};
const FunctionDef read_def{"read", {"self"}, read_impl, "读取监听内容. Read the listen."};
const FunctionDef close_def{"close", {"self"}, close_impl, "关闭监听事件. Turn off listening events."};

}  // namespace

int define_terminal_listener(const Globals& g) {
    Ref str = g.get(names::str);
    if (!str) return -1;
    auto returns_str = [&] { return return_annotation(str.get()); };
    ClassBuilder cls(g, "terminal_listener", "terminal_listener", "终端输出信息监听程序. Terminal output message listener.");
    cls.add("listeners", Ref::adopt(PyList_New(0)))
        .add("content", Ref::adopt(PyObject_CallNoArgs(str.get())))
        .add(init_def, Ref::adopt(Py_BuildValue("(i)", 0)))
        .add(str_def, {}, returns_str())
        .add(repr_def, {}, returns_str())
        .add(del_def)
        .add(read_def, {}, returns_str())
        .add(close_def);
    if (hook_stdout(cls) < 0) return -1;
    return g.set(names::terminal_listener, cls.build());
}

}  // namespace qel::terminal
