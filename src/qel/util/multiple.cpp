// `multiple`: the multiples of `num` from `min` to `max`, both included, in
// ascending order. It steps from the first multiple instead of testing every
// integer of the range, so its time follows the number of multiples.
#include "core/argument_report.hpp"
#include "util/util.hpp"

#include "core/names.hpp"

namespace qel::util {
namespace {

constexpr const char* multiple_doc =
    "qel.multiple, 计算从min到Max [包含Max] 的N的倍数. qel.multiple, calculate the multiple of N from min to Max "
    "[including Max] 格式: qel.multiple(N, Max, min [默认为0]). Format: qel.multiple(N, Max, min [default is 0])";

constexpr const char* num_report = "num = %s, Type = %s";
constexpr const char* num_message =
    "\x1b[31mqel.multiple: 参数\"倍数\"应是整数! Parameter \"multiple\" should be an integer!";
constexpr const char* max_report = "max = %s, Type = %s";
constexpr const char* max_message = "\x1b[31mqel.multiple: 参数\"最大数\"应是整数! Parameter \"max\" should be an integer!";
constexpr const char* min_report = "min = %s, Type = %s";
constexpr const char* min_message = "\x1b[31mqel.multiple: 参数\"最小数\"应是整数! Parameter \"min\" should be an integer!";

/// Bound under which first multiple, span and count all stay within 64 bits.
constexpr long long small_limit = 1LL << 62;

/// The value as a long long if its magnitude is below small_limit.
bool small_value(PyObject* value, long long& out) {
    int overflow = 0;
    out = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (out == -1 && PyErr_Occurred()) PyErr_Clear();  // exact ints only fail by overflow
    return overflow == 0 && out > -small_limit && out < small_limit;
}

/// A list of `count` integers: first, first + step, ...
template <typename Next>
Ref fill(Py_ssize_t count, Next next) {
    Ref list = Ref::adopt(PyList_New(count));
    if (!list) return {};
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = next();
        if (!item) return {};
        PyList_SET_ITEM(list.get(), i, item);
    }
    return list;
}

Ref small_multiples(long long num, long long min, long long max) {
    const long long step = num < 0 ? -num : num;
    const long long offset = ((-min) % step + step) % step;  // distance up to the first multiple
    const long long first = min + offset;
    if (first > max) return Ref::adopt(PyList_New(0));
    const long long count = (max - first) / step + 1;
    if (count > PY_SSIZE_T_MAX) return Ref::adopt(PyErr_NoMemory());
    long long value = first - step;
    return fill(static_cast<Py_ssize_t>(count), [&] { return PyLong_FromLongLong(value += step); });
}

Ref large_multiples(PyObject* num, PyObject* min, PyObject* max) {
    Ref step = Ref::adopt(PyNumber_Absolute(num));
    Ref down = Ref::adopt(PyNumber_Negative(min));
    if (!step || !down) return {};
    Ref offset = Ref::adopt(PyNumber_Remainder(down.get(), step.get()));  // in [0, step)
    if (!offset) return {};
    Ref first = Ref::adopt(PyNumber_Add(min, offset.get()));
    if (!first) return {};
    const int beyond = PyObject_RichCompareBool(first.get(), max, Py_GT);
    if (beyond < 0) return {};
    if (beyond) return Ref::adopt(PyList_New(0));
    Ref span = Ref::adopt(PyNumber_Subtract(max, first.get()));
    Ref steps = span ? Ref::adopt(PyNumber_FloorDivide(span.get(), step.get())) : Ref();
    if (!steps) return {};
    const Py_ssize_t last = PyLong_AsSsize_t(steps.get());
    if (last == -1 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return {};
        PyErr_Clear();
        return Ref::adopt(PyErr_NoMemory());  // more multiples than a list can hold
    }
    if (last == PY_SSIZE_T_MAX) return Ref::adopt(PyErr_NoMemory());
    Ref value;
    return fill(last + 1, [&]() -> PyObject* {
        value = value ? Ref::adopt(PyNumber_Add(value.get(), step.get())) : first;
        return value ? Ref(value).release() : nullptr;
    });
}

Ref multiples(PyObject* num, PyObject* min, PyObject* max) {
    const int empty = PyObject_RichCompareBool(min, max, Py_GT);
    if (empty < 0) return {};
    if (empty) return Ref::adopt(PyList_New(0));
    // The first integer of the range would be tested against 0: let the
    // interpreter raise its own ZeroDivisionError for it.
    const int zero = PyObject_Not(num);
    if (zero < 0) return {};
    if (zero) return Ref::adopt(PyNumber_Remainder(min, num));
    long long n = 0, lo = 0, hi = 0;
    if (small_value(num, n) && small_value(min, lo) && small_value(max, hi)) return small_multiples(n, lo, hi);
    return large_multiples(num, min, max);
}

Ref multiple_impl(const Call& call) {
    PyObject* num = call.arg(0);
    PyObject* max = call.arg(1);
    PyObject* min = call.arg(2);
    // Every argument is checked, so one call reports all that are wrong.
    bool valid = true;
    if (!PyLong_CheckExact(num)) {
        if (report_argument(call, num_report, num, num_message) < 0) return {};
        valid = false;
    }
    if (!PyLong_CheckExact(max)) {
        if (report_argument(call, max_report, max, max_message) < 0) return {};
        valid = false;
    }
    if (!PyLong_CheckExact(min)) {
        if (report_argument(call, min_report, min, min_message) < 0) return {};
        return none();
    }
    if (!valid) return none();
    return multiples(num, min, max);
}

const FunctionDef multiple_def{"multiple", {"num", "max", "min"}, multiple_impl, multiple_doc};

}  // namespace

int define_multiple(const Globals& g) {
    return g.set(names::multiple,
                 make_function(multiple_def, g, nullptr, Ref::adopt(Py_BuildValue("(ssi)", "VB", "VB", 0))));
}

}  // namespace qel::util
