// The extended `str`: the interpreter's str with a readable repr and the
// seven qe_ methods.
#include "core/colors.hpp"
#include "core/display_form.hpp"
#include "core/klass.hpp"
#include "core/lookup_cache.hpp"
#include "core/names.hpp"
#include "core/str_wrapping.hpp"
#include "text/color_strip.hpp"
#include "text/escape.hpp"
#include "text/removal.hpp"
#include "text/text.hpp"

#include <cstring>
#include <string>

namespace qel::text {

namespace {

Name replace_name{"replace"};
Name fcolor_name{"fcolor"};
Name qe_remove_name{"qe_remove"};
Name qe_goto_unicode_name{"qe_goto_unicode"};

Ref call_method(PyObject* self, const Name& name, std::initializer_list<PyObject*> args) {
    PyObject* stack[4] = {self};
    std::size_t n = 1;
    for (PyObject* a : args) stack[n++] = a;
    if (!name.get()) return {};
    return Ref::adopt(PyObject_VectorcallMethod(name.get(), stack, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref empty_text() { return Ref::adopt(PyUnicode_FromStringAndSize(nullptr, 0)); }

/// `__string__.fcolor`, looked up now.
Ref foreground_list(const Call& call) {
    Ref ns = call.global(names::string_namespace);
    if (!ns) return {};
    return Ref::adopt(PyObject_GetAttr(ns.get(), fcolor_name.get()));
}

/// Whether iterating `self` gives its own characters: a str whose class
/// keeps str's __iter__.
bool iterates_as_str(PyObject* self) {
    return PyUnicode_Check(self) && Py_TYPE(self)->tp_iter == PyUnicode_Type.tp_iter;
}

/// The interpreter's `ord` (borrowed: the builtins module keeps it).
PyObject* builtin_ord() {
    static PyObject* const ord = [] {
        Ref builtins = Ref::adopt(PyImport_ImportModule("builtins"));
        Ref found = builtins ? Ref::adopt(PyObject_GetAttrString(builtins.get(), "ord")) : Ref();
        return found.release();  // kept for the life of the process
    }();
    return ord;
}

/// The characters of `self` as a loop in Python sees them: what iterating it
/// gives, each read as `ord` reads it. A str that iterates as str is its own
/// characters; anything else becomes a built-in str of those characters.
Ref characters_of(PyObject* self) {
    if (iterates_as_str(self)) return Ref::retain(self);
    Ref items = Ref::adopt(PyObject_GetIter(self));
    if (!items) return {};
    PyObject* ord = builtin_ord();
    if (!ord) return {};
    std::u32string chars;
    while (Ref item = Ref::adopt(PyIter_Next(items.get()))) {
        if (PyUnicode_Check(item.get()) && PyUnicode_GET_LENGTH(item.get()) == 1) {
            chars.push_back(PyUnicode_READ_CHAR(item.get(), 0));
            continue;
        }
        // Anything else as `ord` takes it, or fails with its error.
        Ref code = Ref::adopt(PyObject_CallOneArg(ord, item.get()));
        if (!code) return {};
        const long value = PyLong_AsLong(code.get());
        if (value == -1 && PyErr_Occurred()) return {};
        chars.push_back(static_cast<char32_t>(value));
    }
    if (PyErr_Occurred()) return {};
    return Ref::adopt(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, chars.data(), static_cast<Py_ssize_t>(chars.size())));
}

// ---- __repr__ -------------------------------------------------------------------

constexpr const char* repr_doc = "自定义显示效果. Customize the display.";

bool has_builtin_replace(PyObject* self);

Ref repr_impl(const Call& call) {
    PyObject* self = call.arg(0);
    if (PyUnicode_Check(self) && has_builtin_replace(self))
        return escape_display(self, "<QEL String type: \"", "\">");
    // Not a string, or one with a `replace` of its own: the replacements as
    // method calls, whatever they do, and the result formatted into the template.
    Ref text = Ref::retain(self);
    const char* pairs[][2] = {{"\\", "\\\\"}, {"\"", "\\\""}, {"\r", "\\r"},
                              {"\n", "\\n"},  {"\t", "\\t"},   {"\x1b", "\\33"}};
    for (auto& pair : pairs) {
        Ref from = Ref::adopt(PyUnicode_FromString(pair[0]));
        Ref to = Ref::adopt(PyUnicode_FromString(pair[1]));
        if (!from || !to) return {};
        text = call_method(text.get(), replace_name, {from.get(), to.get()});
        if (!text) return {};
    }
    Ref empty = empty_text();
    Ref shown = empty ? Ref::adopt(PyObject_Format(text.get(), empty.get())) : Ref();
    if (!shown) return {};
    return Ref::adopt(PyUnicode_FromFormat("<QEL String type: \"%U\">", shown.get()));
}

const FunctionDef repr_def{"__repr__", {"self"}, repr_impl, repr_doc};

// ---- qe_addcolor ------------------------------------------------------------------

/// Appends a piece of text to a code-point buffer; a non-str piece fails as a join would.
int append_piece(std::u32string& out, PyObject* piece, std::size_t index) {
    if (!PyUnicode_Check(piece)) {
        PyErr_Format(PyExc_TypeError, "sequence item %zu: expected str instance, %.80s found", index,
                     Py_TYPE(piece)->tp_name);
        return -1;
    }
    const int kind = PyUnicode_KIND(piece);
    const void* data = PyUnicode_DATA(piece);
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(piece); i < n; ++i)
        out.push_back(PyUnicode_READ(kind, data, i));
    return 0;
}

Ref addcolor_impl(const Call& call) {
    PyObject* self = call.arg(0);
    Ref zero = Ref::adopt(PyLong_FromLong(0)), six = Ref::adopt(PyLong_FromLong(6));
    if (!zero || !six) return {};
    Ref chars = Ref::adopt(PyObject_GetIter(self));
    if (!chars) return {};
    std::u32string out;
    std::size_t piece = 0;
    while (Ref ch = Ref::adopt(PyIter_Next(chars.get()))) {
        // One draw per character through `rd` and then the list, each as it
        // is at that moment.
        Ref rd = call.global(names::rd);
        if (!rd) return {};
        PyObject* bounds[] = {zero.get(), six.get()};
        Ref index = Ref::adopt(PyObject_Vectorcall(rd.get(), bounds, 2, nullptr));
        if (!index) return {};
        Ref fcolor = foreground_list(call);
        if (!fcolor) return {};
        Ref code = Ref::adopt(PyObject_GetItem(fcolor.get(), index.get()));
        if (!code || append_piece(out, code.get(), piece++) < 0 || append_piece(out, ch.get(), piece++) < 0)
            return {};
    }
    if (PyErr_Occurred()) return {};
    for (const char* c = colors::reset; *c; ++c) out.push_back(static_cast<char32_t>(*c));
    return wrap_str(call, Ref::adopt(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(),
                                                               static_cast<Py_ssize_t>(out.size()))));
}

const FunctionDef addcolor_def{"qe_addcolor", {"self"}, addcolor_impl, "将字符串设置为彩色. Sets the string to color."};

// ---- qe_decode ----------------------------------------------------------------------

/// The bytes that `self.qe_goto_unicode()` denotes when read as a bytes literal.
Ref goto_unicode_bytes(PyObject* self);

Ref decode_impl(const Call& call) {
    Ref data = goto_unicode_bytes(call.arg(0));
    if (!data) return {};
    Ref encoding = Ref::adopt(PyObject_Str(call.arg(1)));
    if (!encoding) return {};
    Py_ssize_t size = 0;
    const char* name = PyUnicode_AsUTF8AndSize(encoding.get(), &size);
    if (!name) return {};
    if (std::char_traits<char>::length(name) != static_cast<std::size_t>(size)) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return {};
    }
    return wrap_str(call, Ref::adopt(PyUnicode_Decode(PyBytes_AS_STRING(data.get()), PyBytes_GET_SIZE(data.get()),
                                                      name, "strict")));
}

const FunctionDef decode_def{"qe_decode", {"self", "encoding"}, decode_impl,
                               "将字符串作为字节进行解码. Decodes a string as a byte."};

// ---- qe_goto_unicode ----------------------------------------------------------------

Ref goto_unicode_impl(const Call& call) {
    int ifx = PyObject_IsTrue(call.arg(1));
    if (ifx < 0) return {};
    Ref chars = characters_of(call.arg(0));
    if (!chars) return {};
    return wrap_str(call, unicode_escapes(chars.get(), ifx != 0));
}

const FunctionDef goto_unicode_def{
    "qe_goto_unicode", {"self", "ifx"}, goto_unicode_impl,
    "将字符串转为\\x或\\u的Unicode码. Converts a string to a Unicode code of \\x or \\u."};

Ref goto_unicode_bytes(PyObject* self) {
    Ref method = Ref::adopt(PyObject_GetAttr(self, qe_goto_unicode_name.get()));
    if (!method) return {};
    // Our own method: read the escapes without writing them out.
    if (is_bound_function(method.get(), self, &goto_unicode_def)) {
        PyObject* defaults = function_defaults(PyMethod_GET_FUNCTION(method.get()));
        if (defaults && PyTuple_GET_SIZE(defaults) >= 1) {
            int ifx = PyObject_IsTrue(PyTuple_GET_ITEM(defaults, PyTuple_GET_SIZE(defaults) - 1));
            if (ifx < 0) return {};
            Ref chars = characters_of(self);
            if (!chars) return {};
            return escaped_bytes(chars.get(), ifx != 0);
        }
    }
    Ref escapes = Ref::adopt(PyObject_CallNoArgs(method.get()));
    if (!escapes) return {};
    if (!PyUnicode_Check(escapes.get())) {
        PyErr_Format(PyExc_TypeError, "can only concatenate str (not \"%.200s\") to str",
                     Py_TYPE(escapes.get())->tp_name);
        return {};
    }
    return bytes_literal_value(escapes.get());
}

// ---- qe_goto_qel ------------------------------------------------------------------

Ref goto_qel_impl(const Call& call) {
    Ref format = Ref::adopt(PyUnicode_FromString(colors::info_format));
    if (!format) return {};
    return wrap_str(call, Ref::adopt(PyNumber_Remainder(format.get(), call.arg(0))));
}

const FunctionDef goto_qel_def{"qe_goto_qel", {"self"}, goto_qel_impl,
                                 "将字符串转为QEL标准信息格式. Convert the string to QEL standard information format."};

// ---- qe_remove ----------------------------------------------------------------------

/// The count a removal takes from `times` when it is an int: -1 for "every
/// occurrence" (times < 0), else times. False when `times` is something else
/// or too large for a count, which the general way handles (and reports).
bool removal_limit(PyObject* times, Py_ssize_t& limit) {
    if (!PyLong_CheckExact(times)) return false;
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(times, &overflow);
    if (overflow < 0 || (overflow == 0 && value < 0)) {
        limit = -1;
        return true;
    }
    if (overflow > 0 || value > PY_SSIZE_T_MAX) return false;
    limit = static_cast<Py_ssize_t>(value);
    return true;
}

/// The interpreter's str.replace, as its class holds it (borrowed: the
/// built-in str type keeps it for the life of the process).
PyObject* builtin_replace() {
    static PyObject* descriptor = internals::type_lookup(&PyUnicode_Type, replace_name.get());
    return descriptor;
}

/// The C function behind str.replace, read off the method bound to a str
/// (null if that can't be done).
PyCFunction builtin_replace_function() {
    static const PyCFunction function = [] {
        Ref probe = Ref::adopt(PyUnicode_FromStringAndSize(nullptr, 0));
        Ref bound = probe ? Ref::adopt(PyObject_GetAttr(probe.get(), replace_name.get())) : Ref();
        const PyCFunction found = bound && PyCFunction_Check(bound.get()) ? PyCFunction_GET_FUNCTION(bound.get()) : nullptr;
        PyErr_Clear();
        return found;
    }();
    return function;
}

/// A class whose `replace` is str's own, while the class is unchanged.
TypeSlot builtin_replace_class;

/// Whether an instance of a class that uses the generic attribute protocol
/// certainly has no attribute of its own named `replace` (false: can't tell
/// cheaply).
bool has_no_own_replace(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (type->tp_dictoffset == 0) return true;
    if (type->tp_dictoffset > 0) {
        PyObject* dict = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + type->tp_dictoffset);
        if (!dict) return true;
        if (!PyDict_CheckExact(dict)) return false;
        if (PyDict_GetItemWithError(dict, replace_name.get())) return false;
        if (PyErr_Occurred()) {
            PyErr_Clear();  // asked again the general way
            return false;
        }
        return true;
    }
    // An instance whose attributes the interpreter keeps for it: any at all
    // (or a dict made for them, or no way to tell) and the general way decides.
    return compat::managed_attributes(self) == 0;
}

/// Whether `self.replace` is the interpreter's str.replace bound to `self`.
bool has_builtin_replace(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (type->tp_getattro == PyObject_GenericGetAttr) {
        // The class's `replace`, then the instance's own attributes (a method
        // is found on the class only when the instance has none of the name).
        bool from_class = builtin_replace_class.hit(type);
        if (!from_class && builtin_replace() && internals::type_lookup(type, replace_name.get()) == builtin_replace()) {
            from_class = true;
            builtin_replace_class.remember(type);
        }
        if (from_class && has_no_own_replace(self)) return true;
    }
    Ref method = Ref::adopt(PyObject_GetAttr(self, replace_name.get()));
    if (!method) {
        PyErr_Clear();  // the general way will raise it again
        return false;
    }
    return PyCFunction_Check(method.get()) && PyCFunction_GET_SELF(method.get()) == self &&
           builtin_replace_function() && PyCFunction_GET_FUNCTION(method.get()) == builtin_replace_function();
}

Ref remove_impl(const Call& call) {
    PyObject* self = call.arg(0);
    PyObject* to_rm = call.arg(1);
    PyObject* times = call.arg(2);
    Py_ssize_t limit = 0;
    if (PyUnicode_Check(self) && PyUnicode_Check(to_rm) && removal_limit(times, limit)) {
        // The replacement and the wrapping done as one step, when nothing
        // involved is anything but the interpreter's own str behaviour.
        if (Outcome type = directly_made_str_type(call); type.handled() && has_builtin_replace(self)) {
            Outcome removed = remove_into(reinterpret_cast<PyTypeObject*>(type.get()), self, to_rm, limit);
            if (removed.handled()) return removed.take();
        }
    }
    Ref zero = Ref::adopt(PyLong_FromLong(0));
    Ref empty = empty_text();
    if (!zero || !empty) return {};
    int negative = PyObject_RichCompareBool(times, zero.get(), Py_LT);
    if (negative < 0) return {};
    Ref result = negative ? call_method(self, replace_name, {to_rm, empty.get()})
                          : call_method(self, replace_name, {to_rm, empty.get(), times});
    return wrap_str(call, result);
}

const FunctionDef remove_def{"qe_remove", {"self", "to_rm", "times"}, remove_impl,
                               "从字符串中删除一些字符. Remove some characters from the string."};

// ---- qe_rmcolor ---------------------------------------------------------------------

/// Whether `list` still holds exactly the seven default foreground codes as strings.
bool is_default_foreground(PyObject* list) {
    if (!PyList_CheckExact(list) || PyList_GET_SIZE(list) != static_cast<Py_ssize_t>(colors::foreground.size()))
        return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject* item = PyList_GET_ITEM(list, i);
        if (!PyUnicode_Check(item) || PyUnicode_CompareWithASCIIString(item, colors::foreground[i]) != 0) return false;
    }
    return true;
}

/// Whether `function` is this module's qe_remove with its default `times`
/// still negative, so that calling it with one argument removes every
/// occurrence.
bool removes_every_occurrence(PyObject* function) {
    if (!is_function(function, &remove_def)) return false;
    PyObject* defaults = function_defaults(function);
    if (!defaults || PyTuple_GET_SIZE(defaults) < 1) return false;
    Py_ssize_t limit = 0;
    return removal_limit(PyTuple_GET_ITEM(defaults, PyTuple_GET_SIZE(defaults) - 1), limit) && limit < 0;
}

/// Whether `self.qe_remove` is this type's own method, removing every occurrence.
bool has_own_remove(PyObject* self) {
    Ref method = Ref::adopt(PyObject_GetAttr(self, qe_remove_name.get()));
    if (!method) {
        PyErr_Clear();  // the defined path will raise it again
        return false;
    }
    return is_bound_function(method.get(), self, &remove_def) &&
           removes_every_occurrence(PyMethod_GET_FUNCTION(method.get()));
}

/// Whether a fresh instance of `type` (one with no attributes of its own)
/// finds this module's qe_remove and str's own replace: the working text of
/// every removal after the first is such an instance.
bool removes_plainly(PyTypeObject* type) {
    if (type->tp_getattro != PyObject_GenericGetAttr || !builtin_replace() ||
        internals::type_lookup(type, replace_name.get()) != builtin_replace())
        return false;
    PyObject* remove = internals::type_lookup(type, qe_remove_name.get());
    return remove && removes_every_occurrence(remove);
}

/// The module's `str` when calling it on a str makes an instance and does
/// nothing else that can be seen (a class with the default str constructor),
/// so that making one instance where the defined way makes one per removal
/// and one more can't be told apart; otherwise declined (a failed look-up
/// too: the defined way looks it up again and reports it).
Outcome str_made_unseen(const Call& call) {
    Ref str = call.global(names::str);
    if (!str) {
        PyErr_Clear();  // the defined way looks it up again and reports it
        return Outcome::declined();
    }
    if (Py_TYPE(str.get()) != &PyType_Type || !constructs_like_str(reinterpret_cast<PyTypeObject*>(str.get())))
        return Outcome::declined();
    return str;
}

/// Whether the one pass gives what the seven removals would: `self` removes
/// plainly, and so does every working text after it, an instance of `type`.
bool one_pass_allowed(PyObject* self, PyObject* type) {
    return has_own_remove(self) && has_builtin_replace(self) && removes_plainly(reinterpret_cast<PyTypeObject*>(type));
}

Ref rmcolor_impl(const Call& call) {
    PyObject* self = call.arg(0);
    Ref fcolor = foreground_list(call);
    if (!fcolor) return {};
    if (PyUnicode_Check(self) && is_default_foreground(fcolor.get())) {
        if (Outcome type = directly_made_str_type(call); type.handled()) {
            if (one_pass_allowed(self, type.get())) {
                Outcome stripped = strip_foreground_codes_into(reinterpret_cast<PyTypeObject*>(type.get()), self);
                if (stripped.handled()) return stripped.take();
            }
        } else if (Outcome unseen = str_made_unseen(call); unseen.handled() && one_pass_allowed(self, unseen.get())) {
            Outcome stripped = strip_foreground_codes(self);
            if (stripped.handled()) return wrap_str(call, stripped.take());
        }
    }
    // The defined behaviour: each entry removed in turn by the text's qe_remove.
    Ref text = Ref::retain(self);
    Ref entries = Ref::adopt(PyObject_GetIter(fcolor.get()));
    if (!entries) return {};
    while (Ref entry = Ref::adopt(PyIter_Next(entries.get()))) {
        text = call_method(text.get(), qe_remove_name, {entry.get()});
        if (!text) return {};
    }
    if (PyErr_Occurred()) return {};
    return wrap_str(call, text);
}

const FunctionDef rmcolor_def{
    "qe_rmcolor", {"self"}, rmcolor_impl,
    "从字符串移除修改字体颜色的字符. Removes the character that changes the font color from the string."};

// ---- qe_only ------------------------------------------------------------------------

Ref only_impl(const Call& call) {
    PyObject* self = call.arg(0);
    PyObject* ch = call.arg(1);
    int nonempty = PyObject_IsTrue(self);
    if (nonempty <= 0) return nonempty < 0 ? Ref() : none();
    if (iterates_as_str(self) && (PyUnicode_CheckExact(ch) || Py_TYPE(ch)->tp_richcompare == PyUnicode_Type.tp_richcompare)) {
        // A string compares unequal to every character unless it is that one character.
        if (PyUnicode_GET_LENGTH(ch) != 1) return none();
        const Py_UCS4 c = PyUnicode_READ_CHAR(ch, 0);
        const int kind = PyUnicode_KIND(self);
        const void* data = PyUnicode_DATA(self);
        for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(self); i < n; ++i)
            if (PyUnicode_READ(kind, data, i) != c) return none();
        return Ref::adopt(PyLong_FromLong(1));
    }
    Ref items = Ref::adopt(PyObject_GetIter(self));
    if (!items) return {};
    while (Ref item = Ref::adopt(PyIter_Next(items.get()))) {
        Ref unequal = Ref::adopt(PyObject_RichCompare(ch, item.get(), Py_NE));
        if (!unequal) return {};
        int truth = PyObject_IsTrue(unequal.get());
        if (truth < 0) return {};
        if (truth) return none();
    }
    if (PyErr_Occurred()) return {};
    return Ref::adopt(PyLong_FromLong(1));
}

const FunctionDef only_def{
    "qe_only", {"self", "char"}, only_impl,
    "判断字符串中是否只有某一个字符. Determine if there is only one character in the string."};

}  // namespace

int define_str(const Globals& g) {
    // The return annotations name the interpreter's str: they are evaluated
    // before the module's own `str` exists.
    Ref builtin_str = g.get(names::str);
    if (!builtin_str) return -1;
    auto returns_str = [&] { return return_annotation(builtin_str.get()); };
    Ref bases = Ref::adopt(PyTuple_Pack(1, builtin_str.get()));
    if (!bases) return -1;

    ClassBuilder str(g, "str", "str", "升级后的字符串数据类型, 添加了一些函数在内. Upgraded string data type, added some functions.");
    str.add(repr_def, {}, returns_str())
        .add(addcolor_def, {}, returns_str())
        .add(decode_def, Ref::adopt(Py_BuildValue("(s)", "utf-8")), returns_str())
        .add(goto_unicode_def, Ref::adopt(Py_BuildValue("(i)", 1)), returns_str())
        .add(goto_qel_def, {}, returns_str())
        .add(remove_def, Ref::adopt(Py_BuildValue("(i)", -1)), returns_str())
        .add(rmcolor_def)
        .add(only_def);
    return g.set(names::str, str.build(bases.get()));
}

}  // namespace qel::text
