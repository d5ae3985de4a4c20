// The block-letter renderers of `__string__`: each prints its glyph filled at
// random with the characters of a text, or with the colour blocks of
// `__string__.color`. They differ only in the glyph and in the message sent
// for a bad argument.
#include "text/renderers.hpp"

#include "core/argument_report.hpp"
#include "core/names.hpp"
#include "text/glyphs.hpp"

namespace qel::text {
namespace {

Name color_name{"color"};
Name print_name{"print"};

/// `a != b` as the interpreter evaluates it (no identity shortcut): 1, 0 or -1.
int differs(PyObject* a, PyObject* b) {
    Ref result = Ref::adopt(PyObject_RichCompare(a, b, Py_NE));
    return result ? PyObject_IsTrue(result.get()) : -1;
}

/// 1 when `Str` is neither `__string__.color` (by equality) nor a non-empty
/// text of exactly the module's `str` or the interpreter's str; 0 when it is
/// fine; -1 with an exception set.
int is_bad(const Call& call, PyObject* value) {
    Ref ns = call.global(names::string_namespace);
    if (!ns) return -1;
    Ref color = Ref::adopt(PyObject_GetAttr(ns.get(), color_name.get()));
    if (!color) return -1;
    int is_other = differs(value, color.get());
    if (is_other <= 0) return is_other;

    // Exact types only: a further subclass of either string type is refused.
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    Ref str = call.global(names::str);
    if (!str) return -1;
    int not_ours = differs(type, str.get());
    if (not_ours < 0) return -1;
    if (not_ours) {
        Ref vanilla = call.global(names::vanilla);
        if (!vanilla) return -1;
        Ref builtin_str = Ref::adopt(PyObject_GetAttr(vanilla.get(), names::str.get()));
        if (!builtin_str) return -1;
        int not_builtin = differs(type, builtin_str.get());
        if (not_builtin != 0) return not_builtin;
    }
    const Py_ssize_t length = PyObject_Length(value);
    if (length < 0) return -1;
    return length < 1;
}

Ref render(const Call& call, const Glyph& glyph, const char* bad_argument_message) {
    PyObject* value = call.arg(0);
    int bad = is_bad(call, value);
    if (bad < 0) return {};
    if (bad) {
        if (report_argument(call, "Str = %s, Type = %s", value, bad_argument_message) < 0) return {};
        return none();
    }

    Ref fill = Ref::adopt(PySequence_List(value));
    if (!fill) return {};
    Ref picture = draw_glyph(call, glyph, fill.get());
    if (!picture) return {};
    // The interpreter's own print, so the picture reaches whatever
    // sys.stdout is at this moment, followed by one line feed.
    Ref print = call.builtin(print_name);
    if (!print) return {};
    if (!Ref::adopt(PyObject_CallOneArg(print.get(), picture.get()))) return {};
    return none();
}

#define QEL_NEEDS_TEXT(where) \
    "\x1b[31mqel." where ": 此函数需要一个字符串! This function requires a string!"

Ref hut_impl(const Call& call) { return render(call, glyphs::hut, QEL_NEEDS_TEXT("__string__.hut")); }
Ref lute_impl(const Call& call) { return render(call, glyphs::lute, QEL_NEEDS_TEXT("__string__.lute")); }
Ref qel_impl(const Call& call) { return render(call, glyphs::qel, QEL_NEEDS_TEXT("__string__.qel.qel")); }
// This message has always named the arrow "__string__.vb.qel.rover_tam", not
// its qualified name; users may match on it, so it stays.
Ref rover_tam_impl(const Call& call) {
    return render(call, glyphs::arrow, QEL_NEEDS_TEXT("__string__.vb.qel.rover_tam"));
}

#undef QEL_NEEDS_TEXT

const FunctionDef hut_def{"hut", {"Str"}, hut_impl};
const FunctionDef lute_def{"lute", {"Str"}, lute_impl};
const FunctionDef qel_def{"qel", {"Str"}, qel_impl};
const FunctionDef rover_tam_def{"rover_tam", {"Str"}, rover_tam_impl};

/// Each renderer's own defaults tuple ("ю",), made once when it is defined.
Ref default_text() {
    Ref yu = Ref::adopt(PyUnicode_FromOrdinal(1102));
    if (!yu) return {};
    return Ref::adopt(PyTuple_Pack(1, yu.get()));
}

}  // namespace

void add_renderers(ClassBuilder& string_namespace) {
    const Globals& g = string_namespace.globals();
    string_namespace.add(hut_def, default_text()).add(lute_def, default_text());

    ClassBuilder qel_namespace(g, "qel", "__string__.qel", nullptr);
    qel_namespace.add(qel_def, default_text());
    ClassBuilder vb(g, "vb", "__string__.qel.vb", nullptr);
    vb.add(rover_tam_def, default_text());
    qel_namespace.add("vb", vb.build());

    string_namespace.add("qel", qel_namespace.build());
}

}  // namespace qel::text
