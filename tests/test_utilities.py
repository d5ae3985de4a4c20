"""Solution.numberOfSteps, rdletters and multiple: results in this process,
argument reports through the module's helpers and, in fresh interpreters, as bytes."""
import inspect
import json
import random
import string
import sys

import pytest
from hypothesis import given, settings, strategies as st

import qel

steps = qel.Solution.numberOfSteps


def outcome(function, *args, **kwargs):
    try:
        return ("value", function(*args, **kwargs))
    except Exception as e:  # the error itself is part of the behaviour
        return ("error", type(e), str(e))


# ---- numberOfSteps ------------------------------------------------------------------


def float_steps(num):
    """The counting loop as stated: true division, so a float from the first halving on."""
    step = 0
    while num != 0:
        num = num / 2 if num % 2 == 0 else num - 1
        step += 1
    return step


def exact_steps(num):
    step = 0
    while num != 0:
        num = num // 2 if num % 2 == 0 else num - 1
        step += 1
    return step


@pytest.mark.parametrize("call, expected", [
    (lambda: steps(14), 6), (lambda: steps(8), 4), (lambda: steps(0), 0), (lambda: steps(1), 1),
    (lambda: steps(3, 8), 4),             # an integer numc wins
    (lambda: steps(8, numc=2.5), 4),      # anything else in numc is ignored
    (lambda: steps(8, True), 4),
    (lambda: qel.Solution().numberOfSteps(14), 6),
    (lambda: qel.Solution().numberOfSteps(numc=14), 6),
])
def test_steps_examples(call, expected):
    result = call()
    assert result == expected and type(result) is int


@settings(max_examples=400)
@given(st.integers(min_value=0, max_value=2**53))
def test_steps_exact_up_to_2_53(n):
    assert steps(n) == exact_steps(n)


MAX = int(sys.float_info.max)


@settings(max_examples=300)
@given(st.one_of(st.integers(min_value=0, max_value=2**1100), st.sampled_from([
    2**53 + 1, 2**54 - 1, 2**54, 2**54 + 1, 2**55 + 2, 2**60 - 1, 2**63 - 1, 2**64 + 1, 10**30 + 1,
    2**1024, 2**1025 - 1, 2**1025, 2 * MAX, 2 * MAX + 2**970 - 2, 2 * MAX + 2**970])))
def test_steps_follow_float_arithmetic(n):
    assert outcome(steps, n) == outcome(float_steps, n)


def test_steps_rounding_and_overflow_above_2_53():
    # (2**55 + 2) / 2 = 2**54 + 1 has no float: it rounds to 2**54.
    assert steps(2**55 + 2) == float_steps(2**55 + 2) != exact_steps(2**55 + 2)
    with pytest.raises(OverflowError):
        steps(2**1025)


# ---- multiple -----------------------------------------------------------------------


def plain_multiple(num, max, min=0):
    return [i for i in range(min, max + 1) if i % num == 0]


@pytest.mark.parametrize("args, expected", [
    ((3, 10), [0, 3, 6, 9]), ((3, 10, 1), [3, 6, 9]), ((5, 20, 10), [10, 15, 20]),
    ((-4, 8), [0, 4, 8]), ((3, 1, 5), []), ((0, -1), []), ((7, 7, 7), [7]), ((7, 8, 8), []),
])
def test_multiple_examples(args, expected):
    assert qel.multiple(*args) == expected == plain_multiple(*args)


BOUNDS = [1, -1, 2**62 - 1, 2**62, -(2**62) + 1, -(2**62), 2**63 - 1, -(2**63), 2**64, -(10**30)]


@settings(max_examples=400)
@given(num=st.one_of(st.integers(-50, 50), st.sampled_from(BOUNDS), st.integers()).filter(bool),
       low=st.one_of(st.integers(-300, 300), st.sampled_from(BOUNDS), st.integers()),
       span=st.integers(-3, 600))
def test_multiple_matches_testing_every_integer(num, low, span):
    result = qel.multiple(num, low + span, low)
    assert result == plain_multiple(num, low + span, low)
    assert all(type(i) is int for i in result)


@pytest.mark.parametrize("num", [2**64, -(2**64), 3 * 2**70 + 1])
def test_multiple_wide_ranges_with_large_divisors(num):
    assert qel.multiple(num, 4 * abs(num) + 2, -5 * abs(num) - 3) == [k * abs(num) for k in range(-5, 5)]


def test_multiple_zero_divisor_and_impossible_lists():
    assert outcome(qel.multiple, 0, 5) == outcome(plain_multiple, 0, 5)
    assert outcome(qel.multiple, 0, 5)[1] is ZeroDivisionError
    assert qel.multiple(0, -1) == [] and qel.multiple(0, 2**70, 2**71) == []
    with pytest.raises(MemoryError):
        qel.multiple(1, 2**70)


# ---- rdletters ----------------------------------------------------------------------


@pytest.mark.parametrize("length, up", [(12, None), (1, 1), (5, 0), (5, True), (7, False), (3, 1.0), (3, 0.0), (200, 1)])
def test_rdletters_matches_an_independent_drawing(length, up):
    random.seed(length * 31 + 7)
    got = qel.rdletters() if up is None else qel.rdletters(length, up)
    after = random.random()
    random.seed(length * 31 + 7)
    expected = "".join(string.ascii_uppercase[random.randint(0, 25)] for _ in range(length))
    assert random.random() == after  # exactly one draw per letter
    assert got == (expected if up in (None, 1) else expected.lower())
    assert type(got) is str  # concatenation gives the built-in type


@pytest.mark.parametrize("length, up, result_type", [(0, 1, qel.str), (-3, 1, qel.str), (0, 0, str), (-3, 0, str)])
def test_rdletters_empty_results(length, up, result_type):
    state = random.getstate()
    result = qel.rdletters(length, up)
    assert result == "" and type(result) is result_type
    assert random.getstate() == state


def test_rdletters_uses_the_module_globals(monkeypatch):
    calls = []
    monkeypatch.setattr(qel, "rd", lambda a, b: calls.append((a, b)) or len(calls) - 1)
    monkeypatch.setattr(qel, "ascii_uppercase", "zyxwvutsrqponmlkjihgfedcbA")
    assert qel.rdletters(4, 0) == "zyxw"
    assert calls == [(0, 25)] * 4
    with pytest.raises(MemoryError):
        qel.rdletters(2**64)  # more letters than a string can hold
    assert len(calls) == 4


# ---- signatures, docstrings, argument errors -------------------------------------------


class Solution:
    def numberOfSteps(num="VB", numc="VB"):
        pass


def rdletters(lt=12, up=1):
    pass


def multiple(num="VB", max="VB", min=0):
    pass


@pytest.mark.parametrize("ours, twin", [
    (qel.Solution.numberOfSteps, Solution.numberOfSteps), (qel.rdletters, rdletters), (qel.multiple, multiple)])
@pytest.mark.parametrize("args, kwargs", [((1, 2, 3, 4), {}), ((), {"x": 1}), ((1,), {"num": 1}), ((1,), {"lt": 1})])
def test_argument_errors_as_for_a_def(ours, twin, args, kwargs):
    assert str(inspect.signature(ours)) == str(inspect.signature(twin))
    assert outcome(ours, *args, **kwargs) == outcome(twin, *args, **kwargs)


def test_names_and_docstrings():
    assert (qel.Solution.__qualname__, qel.Solution.__module__, qel.Solution.__bases__) == ("Solution", "qel", (object,))
    assert qel.Solution.__doc__.endswith("包含函数: numberOfSteps. Inclusion function: numberOfSteps.")
    assert qel.Solution.numberOfSteps.__qualname__ == "Solution.numberOfSteps"
    assert (qel.multiple.__qualname__, qel.rdletters.__module__) == ("multiple", "qel")
    assert qel.rdletters.__doc__ == (
        "qel.rdletters, 随机生成一个由字母组成的字符串. qel.rdletters, randomly generates a string of letters. "
        "格式: qel.rdletters(长度 [默认为12], 是否大写 [默认为1]). "
        "Format: qel.rdletters(length [default = 12], uppercase [default = 1])")
    assert qel.multiple.__doc__ == (
        "qel.multiple, 计算从min到Max [包含Max] 的N的倍数. qel.multiple, calculate the multiple of N from min to Max "
        "[including Max] 格式: qel.multiple(N, Max, min [默认为0]). Format: qel.multiple(N, Max, min [default is 0])")
    assert qel.Solution.numberOfSteps.__doc__.startswith("qel.Solution.numberOfSteps, 将数字变成 0 的操作次数; ")


# ---- argument reports -----------------------------------------------------------------

RED = {
    "steps": "Solution.numberOfSteps: 此函数需要的是一个整数! This function requires an integer!",
    "negative": "Solution.numberOfSteps: 此函数需要的是一个非负整数! This function requires a non-negative integer!",
    "lt": 'rdletters: "字符串长度"应为整数! "String length" should be an integer!',
    "up": 'rdletters: "是否大写"应为True [1] 或False [0]! "Whether uppercase" should be True [1] or False [0]!',
    "num": 'multiple: 参数"倍数"应是整数! Parameter "multiple" should be an integer!',
    "max": 'multiple: 参数"最大数"应是整数! Parameter "max" should be an integer!',
    "min": 'multiple: 参数"最小数"应是整数! Parameter "min" should be an integer!',
}


def report(name, shown, type_name, red):
    return ["stack", f"{name} = {shown}, Type = {type_name}", "\x1b[31mqel." + RED[red]]


class Int(int):
    pass


@pytest.mark.parametrize("call, expected", [
    (lambda: steps(), report("num", "VB", "str", "steps")),
    (lambda: steps(True), report("num", "True", "bool", "steps")),
    (lambda: steps(8.0), report("num", "8.0", "float", "steps")),
    (lambda: steps(Int(3)), report("num", "3", "Int", "steps")),
    (lambda: steps((1, 2)), report("num", "(1, 2)", "tuple", "steps")),
    (lambda: steps(-7), report("num", "-7", "int", "negative")),
    (lambda: steps(3, -(2**80)), report("num", str(-(2**80)), "int", "negative")),
    (lambda: qel.rdletters(5, 2), report("up", "2", "int", "up")),
    (lambda: qel.rdletters("5", 2), report("lt", "5", "str", "lt") + report("up", "2", "int", "up")),
    (lambda: qel.rdletters(5.0), report("lt", "5.0", "float", "lt")),
    (lambda: qel.rdletters(False, None), report("lt", "False", "bool", "lt") + report("up", "None", "NoneType", "up")),
    (lambda: qel.multiple(), report("num", "VB", "str", "num") + report("max", "VB", "str", "max")),
    (lambda: qel.multiple(3, 10, "0"), report("min", "0", "str", "min")),
    (lambda: qel.multiple(True, Int(10)), report("num", "True", "bool", "num") + report("max", "10", "Int", "max")),
    (lambda: qel.multiple(2.0, (1,), min=None), report("num", "2.0", "float", "num")
        + report("max", "(1,)", "tuple", "max") + report("min", "None", "NoneType", "min")),
])
def test_reports_go_through_the_current_module_helpers(monkeypatch, call, expected):
    sent = []
    monkeypatch.setattr(qel, "print_stack", lambda: sent.append("stack"))
    monkeypatch.setattr(qel, "qel_send_message", sent.append, raising=False)
    state = random.getstate()
    assert call() is None
    assert sent == expected and all(type(text) is str for text in sent)
    assert random.getstate() == state  # a refused call draws nothing


def test_a_failing_report_raises(monkeypatch):
    monkeypatch.setattr(qel, "print_stack", lambda: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        qel.multiple()


def wrapped(text):
    return ("\x1b[31;1m" + text + "\x1b[0m").encode("utf-8")


def message_bytes(text):
    return wrapped("\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m" + text + "\x1b[0m\n")


def test_report_bytes(py):
    # Each call shares its line with a capture of what print_stack writes from
    # that line, piece by piece, as the standard error writer receives it.
    result = py("""
        import json, sys, traceback, qel
        class Pieces(list):
            write = list.append
        def stack():
            pieces = Pieces()
            traceback.print_stack(sys._getframe(1), file=pieces)
            return pieces
        def nested():
            return [qel.multiple(), stack()]
        calls = [[qel.Solution.numberOfSteps(-1), stack()], nested()]
        calls.append([qel.rdletters("5", 2), stack()])
        print(json.dumps(calls))
        print(qel.Solution().numberOfSteps())
    """)
    *calls, instance_result = result.out.decode().splitlines()
    (r1, steps_stack), (r2, multiple_stack), (r3, letters_stack) = json.loads(calls[0])
    assert r1 is r2 is r3 is None and instance_result == "None"
    assert b"line 11, in <module>" in wrapped("".join(steps_stack)) and b"in nested" in wrapped("".join(multiple_stack))
    stack = lambda pieces: b"".join(wrapped(piece) for piece in pieces)
    lines = lambda *texts: b"".join(message_bytes(text) for text in texts)
    expected = (stack(steps_stack) + lines("num = -1, Type = int", "\x1b[31mqel." + RED["negative"])
                + stack(multiple_stack) + lines("num = VB, Type = str", "\x1b[31mqel." + RED["num"])
                + stack(multiple_stack) + lines("max = VB, Type = str", "\x1b[31mqel." + RED["max"])
                + stack(letters_stack) + lines("lt = 5, Type = str", "\x1b[31mqel." + RED["lt"])
                + stack(letters_stack) + lines("up = 2, Type = int", "\x1b[31mqel." + RED["up"]))
    assert result.err.startswith(expected)
    # Through an instance the instance itself is the wrong `num`.
    assert b"num = <qel.Solution object at 0x" in result.err[len(expected):]
    assert result.err.endswith(b", Type = Solution\x1b[0m\n\x1b[0m" + message_bytes("\x1b[31mqel." + RED["steps"]))


def test_open_listeners_capture_the_report(py):
    result = py("""
        import sys, qel
        listener = qel.terminal_listener()
        returned = qel.multiple(2.5, 3)
        listener.close()
        sys.stdout.write(listener.read() + repr(returned))
    """)
    assert result.err.count(b"Type = ") == 1
    assert result.out == result.err + b"None"
