// `Solution.numberOfSteps`: how many steps take a non-negative integer to 0
// when an even value is halved and an odd one decreased by 1.
//
// The halving is true division, so from the first halving on the value is a
// float: above 2**53 a half is rounded, and a value whose half does not fit
// a float raises OverflowError. The result follows that arithmetic exactly,
// without walking it step by step:
//  * up to 2**54 every value on the way is exactly representable, so the count
//    is the exact one: bit length plus one-bits, less one;
//  * above that, the first half is made by the interpreter's own int / int
//    (its rounding and its OverflowError); what follows is a float that only
//    halves exactly while it is 2**53 or more (it is even there) and then
//    runs exactly again, so its count is read off its binary digits.
#include "core/argument_report.hpp"
#include "util/util.hpp"

#include "core/klass.hpp"
#include "core/names.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace qel::util {
namespace {

constexpr const char* solution_doc =
    "qel.Solution, 存放作者 (the qel authors) 为练习网站 exercises.example.org 上部分习题所写代码的类. "
    "qel.Solution, a class holding the code the qel authors wrote for some exercises of the exercise site "
    "exercises.example.org. 包含函数: numberOfSteps. Inclusion function: numberOfSteps.";

constexpr const char* steps_doc =
    "qel.Solution.numberOfSteps, 将数字变成 0 的操作次数; 如果输入的数字\"num\"为偶数则将数字除以二, 否则将数字减一, "
    "计算所需步骤. qel.Solution.numberOfSteps, The number of operations to change the number to 0; if the input "
    "number \"num\" is even, divide the number by two; otherwise, subtract the number by one to calculate the "
    "required steps. 格式: qel.Solution.numberOfSteps(int). Format: qel.Solution.numberOfSteps(int).";

constexpr const char* num_report = "num = %s, Type = %s";
constexpr const char* not_integer =
    "\x1b[31mqel.Solution.numberOfSteps: 此函数需要的是一个整数! This function requires an integer!";
// Halving and decreasing never reach 0 from below, so a negative value would
// never return; it is refused like a wrong type instead.
constexpr const char* negative =
    "\x1b[31mqel.Solution.numberOfSteps: 此函数需要的是一个非负整数! This function requires a non-negative integer!";

/// Steps for a positive value that every step handles exactly.
long long exact_steps(std::uint64_t n) {
    return static_cast<long long>(std::bit_width(n)) + std::popcount(n) - 1;
}

/// Steps for a positive integral float: the halvings above 2**53 are exact
/// (the value is even there) and below it everything is, so only its binary
/// digits count.
long long float_steps(double value) {
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);  // value = fraction * 2**exponent
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    return exponent + std::popcount(mantissa) - 1;
}

Ref refuse(const Call& call, PyObject* num, const char* message) {
    if (report_argument(call, num_report, num, message) < 0) return {};
    return none();
}

/// Steps for a value above 2**54: decrease if odd, then the first halving
/// by the interpreter's int / int, then the float that results.
Ref large_steps(PyObject* num) {
    Ref value = Ref::retain(num);
    long long count = 0;
    if (PyLong_AsUnsignedLongLongMask(num) & 1u) {
        Ref one = Ref::adopt(PyLong_FromLong(1));
        if (!one) return {};
        value = Ref::adopt(PyNumber_Subtract(value.get(), one.get()));
        if (!value) return {};
        ++count;
    }
    Ref two = Ref::adopt(PyLong_FromLong(2));
    if (!two) return {};
    Ref half = Ref::adopt(PyNumber_TrueDivide(value.get(), two.get()));
    if (!half) return {};  // OverflowError: the half does not fit a float
    return Ref::adopt(PyLong_FromLongLong(count + 1 + float_steps(PyFloat_AsDouble(half.get()))));
}

Ref number_of_steps_impl(const Call& call) {
    PyObject* num = call.arg(0);
    PyObject* numc = call.arg(1);
    // Through an instance the instance lands in `num`; an integer `numc` is the real argument.
    if (PyLong_CheckExact(numc)) num = numc;
    if (!PyLong_CheckExact(num)) return refuse(call, num, not_integer);

    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(num, &overflow);
    if (small == -1 && PyErr_Occurred()) return {};
    if (overflow < 0 || (overflow == 0 && small < 0)) return refuse(call, num, negative);
    constexpr long long exact_limit = 1LL << 54;  // every half on the way is at most 2**53
    if (overflow == 0 && small <= exact_limit) {
        return Ref::adopt(PyLong_FromLongLong(small == 0 ? 0 : exact_steps(static_cast<std::uint64_t>(small))));
    }
    return large_steps(num);
}

const FunctionDef number_of_steps_def{"numberOfSteps", {"num", "numc"}, number_of_steps_impl, steps_doc};

}  // namespace

int define_solution(const Globals& g) {
    ClassBuilder solution(g, "Solution", "Solution", solution_doc);
    solution.add(number_of_steps_def, Ref::adopt(Py_BuildValue("(ss)", "VB", "VB")));
    return g.set(names::Solution, solution.build());
}

}  // namespace qel::util
