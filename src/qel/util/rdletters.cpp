// `rdletters`: a random string of Latin letters, one draw of `rd(0, 25)` per
// letter from the interpreter's shared generator, so seeding `random`
// reproduces it.
#include "core/argument_report.hpp"
#include "util/util.hpp"

#include "core/names.hpp"

namespace qel::util {
namespace {

constexpr const char* rdletters_doc =
    "qel.rdletters, 随机生成一个由字母组成的字符串. qel.rdletters, randomly generates a string of letters. "
    "格式: qel.rdletters(长度 [默认为12], 是否大写 [默认为1]). "
    "Format: qel.rdletters(length [default = 12], uppercase [default = 1])";

constexpr const char* lt_report = "lt = %s, Type = %s";
constexpr const char* lt_message =
    "\x1b[31mqel.rdletters: \"字符串长度\"应为整数! \"String length\" should be an integer!";
constexpr const char* up_report = "up = %s, Type = %s";
constexpr const char* up_message =
    "\x1b[31mqel.rdletters: \"是否大写\"应为True [1] 或False [0]! \"Whether uppercase\" should be True [1] or False [0]!";

Name lower_name{"lower"};

/// `value == number` (Py_EQ) or `value != number` (Py_NE) as a truth value,
/// by the interpreter's comparison, so True and 1.0 count as 1.
int compare(PyObject* value, long number, int op) {
    Ref other = Ref::adopt(PyLong_FromLong(number));
    if (!other) return -1;
    Ref result = Ref::adopt(PyObject_RichCompare(value, other.get(), op));
    return result ? PyObject_IsTrue(result.get()) : -1;
}

/// `text + piece`. Two plain strings grow in place when `text` is ours alone,
/// so a long result is not copied once per letter.
Ref concatenate(Ref text, PyObject* piece) {
    if (PyUnicode_CheckExact(text.get()) && PyUnicode_CheckExact(piece)) {
        PyObject* raw = text.release();
        PyUnicode_Append(&raw, piece);  // on failure raw is null and the error set
        return Ref::adopt(raw);
    }
    return Ref::adopt(PyNumber_Add(text.get(), piece));
}

/// The letters for a non-negative `lt`: `str("")`, then one letter per draw.
Ref draw_letters(const Call& call, PyObject* lt) {
    Ref str = call.global(names::str);
    Ref empty = Ref::adopt(PyUnicode_FromStringAndSize(nullptr, 0));
    if (!str || !empty) return {};
    Ref text = Ref::adopt(PyObject_CallOneArg(str.get(), empty.get()));
    if (!text) return {};

    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(lt, &overflow);
    if (count == -1 && PyErr_Occurred()) return {};
    if (overflow > 0 || count > PY_SSIZE_T_MAX) {
        // No string can hold that many letters; say so before drawing for ever.
        return Ref::adopt(PyErr_NoMemory());
    }

    Ref low = Ref::adopt(PyLong_FromLong(0)), high = Ref::adopt(PyLong_FromLong(25));
    if (!low || !high) return {};
    Ref alphabet, letters;  // the alphabet last seen and its list of characters
    for (long long i = 0; i < count; ++i) {
        Ref rd = call.global(names::rd);
        if (!rd) return {};
        PyObject* bounds[] = {low.get(), high.get()};
        Ref index = Ref::adopt(PyObject_Vectorcall(rd.get(), bounds, 2, nullptr));
        if (!index) return {};
        // Read each time, like every module global; a string cannot change,
        // so the same string object keeps its list.
        Ref current = call.global(names::ascii_uppercase);
        if (!current) return {};
        if (current.get() != alphabet.get() || !PyUnicode_CheckExact(current.get())) {
            letters = Ref::adopt(PySequence_List(current.get()));
            if (!letters) return {};
            alphabet = current;
        }
        Ref letter = Ref::adopt(PyObject_GetItem(letters.get(), index.get()));
        if (!letter) return {};
        text = concatenate(std::move(text), letter.get());
        if (!text) return {};
    }
    return text;
}

Ref rdletters_impl(const Call& call) {
    PyObject* lt = call.arg(0);
    PyObject* up = call.arg(1);
    bool valid = true;
    if (!PyLong_CheckExact(lt)) {
        if (report_argument(call, lt_report, lt, lt_message) < 0) return {};
        valid = false;
    }
    int wrong_up = compare(up, 1, Py_NE);
    if (wrong_up > 0) wrong_up = compare(up, 0, Py_NE);
    if (wrong_up < 0) return {};
    if (wrong_up) {
        if (report_argument(call, up_report, up, up_message) < 0) return {};
        return none();
    }
    if (!valid) return none();

    Ref text = draw_letters(call, lt);
    if (!text) return {};
    const int upper = compare(up, 1, Py_EQ);
    if (upper < 0) return {};
    if (upper) return text;
    return Ref::adopt(PyObject_CallMethodNoArgs(text.get(), lower_name.get()));
}

const FunctionDef rdletters_def{"rdletters", {"lt", "up"}, rdletters_impl, rdletters_doc};

}  // namespace

int define_rdletters(const Globals& g) {
    return g.set(names::rdletters, make_function(rdletters_def, g, nullptr, Ref::adopt(Py_BuildValue("(ii)", 12, 1))));
}

}  // namespace qel::util
