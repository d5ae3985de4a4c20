// The standard error writer: every text reaches the stream in bold red and is
// captured, wrapped the same way, by every open listener.
#include "core/colors.hpp"
#include "core/klass.hpp"
#include "core/names.hpp"
#include "terminal/capture.hpp"
#include "terminal/stream.hpp"
#include "terminal/string_pool.hpp"
#include "terminal/terminal.hpp"

#include <cstring>
#include <string_view>
#include <utility>

namespace qel::terminal {
namespace {

Name bold_red_name{colors::bold_red};
Name reset_name{colors::reset};

/// head + the n characters at `text` + tail, all of width C, written to `out`.
/// The head and tail are fixed, so their few stores are spelled out by the
/// compiler.
template <class C>
void write_wrapped(C* out, const void* text, Py_ssize_t n) {
    constexpr std::string_view head = colors::bold_red, tail = colors::reset;
    for (std::size_t i = 0; i < head.size(); ++i) out[i] = static_cast<C>(head[i]);
    std::memcpy(out + head.size(), text, static_cast<std::size_t>(n) * sizeof(C));
    C* end = out + head.size() + static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < tail.size(); ++i) end[i] = static_cast<C>(tail[i]);
}

/// The wrapped forms of the one-character texts below U+0100, made on first
/// use and kept: `print` writes its separator and line end (" ", "\n") as
/// texts of their own on every call, and each would otherwise be a new
/// string. A stream only reads what it is given, so one string serves all.
PyObject* wrapped_characters[256];

/// The last text wrapped below the ring's limit and its wrapped form, both
/// held. Code that writes one text again and again (a constant message in a
/// loop, a progress mark) passes the same object each time; it gets the same
/// wrapped string back, so a buffered stream holds that one string many times
/// over, as it would the text itself without the colour codes, instead of a
/// copy per write that it has to read back when it writes its buffer out.
/// Held, the text can't be freed and its address taken by another, and the
/// ring never writes over the wrapped form while it is remembered here.
struct LastWrapped {
    PyObject* text = nullptr;
    PyObject* wrapped = nullptr;
} last_wrapped;

void remember_last(PyObject* text, PyObject* wrapped) {
    Ref old_text = Ref::adopt(std::exchange(last_wrapped.text, Ref::retain(text).release()));
    Ref old_wrapped = Ref::adopt(std::exchange(last_wrapped.wrapped, Ref::retain(wrapped).release()));
}

/// "\x1b[31;1m" + text + "\x1b[0m", added left to right as the `+` operator
/// would. A plain str is wrapped with one allocation (none for a character
/// wrapped before); anything else goes through the operator (a non-string
/// raises its TypeError, a str subclass may bring its own reflected addition).
Ref wrap_bold_red(PyObject* text) {
    if (!PyUnicode_CheckExact(text)) {
        PyObject* head = bold_red_name.get();
        PyObject* tail = reset_name.get();
        if (!head || !tail) return {};
        Ref left = Ref::adopt(PyNumber_Add(head, text));
        if (!left) return {};
        return Ref::adopt(PyNumber_Add(left.get(), tail));
    }
    if (text == last_wrapped.text) return Ref::retain(last_wrapped.wrapped);
    if (compat::unicode_ready(text) < 0) return {};
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    PyObject** remembered = nullptr;
    if (compat::one_lock_for_all_threads && n == 1) {
        if (const Py_UCS4 c = PyUnicode_READ_CHAR(text, 0); c < 256) {
            remembered = &wrapped_characters[c];
            if (*remembered) return Ref::retain(*remembered);
        }
    }
    constexpr auto added = static_cast<Py_ssize_t>(std::string_view(colors::bold_red).size() +
                                                   std::string_view(colors::reset).size());
    if (n > PY_SSIZE_T_MAX - added) return Ref::adopt(PyErr_NoMemory());
    // The head and tail are ASCII, so the result has the text's own width and
    // the text is copied as one block.
    Ref out = new_string(n + added, PyUnicode_MAX_CHAR_VALUE(text));
    if (!out) return {};
    void* data = PyUnicode_DATA(out.get());
    switch (PyUnicode_KIND(out.get())) {
        case PyUnicode_1BYTE_KIND: write_wrapped(static_cast<Py_UCS1*>(data), PyUnicode_DATA(text), n); break;
        case PyUnicode_2BYTE_KIND: write_wrapped(static_cast<Py_UCS2*>(data), PyUnicode_DATA(text), n); break;
        default: write_wrapped(static_cast<Py_UCS4*>(data), PyUnicode_DATA(text), n); break;
    }
    if (remembered) *remembered = Ref(out).release();
    else if (compat::one_lock_for_all_threads && reusable_length(n + added, PyUnicode_MAX_CHAR_VALUE(text)))
        remember_last(text, out.get());
    return out;
}

Ref stderr_write_impl(const Call& call) {
    Ref wrapped = wrap_bold_red(call.arg(0));
    if (!wrapped) return {};
    if (write_through(call, stderr_name, wrapped.get()) < 0) return {};
    if (capture(call, wrapped.get()) < 0) return {};
    return none();
}

}  // namespace

const FunctionDef stderr_writer_def{"write", {"text"}, stderr_write_impl, nullptr, 1};

int install_stderr_writer(const Globals& g) {
    Ref stream = current_stream(g, stderr_name);
    if (!stream) return -1;
    // The class body stores the stream's own write before defining the writer.
    ClassBuilder holder(g, "terminal_stderr", "terminal_stderr", nullptr);
    if (keep_vanilla_write(stream.get()) < 0) return -1;
    holder.add(stderr_writer_def);
    if (g.set(names::terminal_stderr, holder.build()) < 0) return -1;
    Ref cls = g.get(names::terminal_stderr);
    if (!cls) return -1;
    Ref writer = Ref::adopt(PyObject_GetAttr(cls.get(), write_name.get()));
    if (!writer) return -1;
    // The stream looked up again, as `sys.stderr.write = ...` does.
    stream = current_stream(g, stderr_name);
    if (!stream || PyObject_SetAttr(stream.get(), write_name.get(), writer.get()) < 0) return -1;
    return g.remove(names::terminal_stderr);
}

}  // namespace qel::terminal
