"""Solution.numberOfSteps, rdletters and multiple: results for valid arguments
(in this process) and the argument reports (in fresh interpreters, exact bytes)."""
import inspect
import json
import random
import string
import sys

import pytest
from hypothesis import given, settings, strategies as st

import qel

steps = qel.Solution.numberOfSteps


# ---- numberOfSteps ----------------------------------------------------------------


def float_steps(num):
    """The counting loop as stated: true division, so a float from the first halving on."""
    step = 0
    while num != 0:
        if num % 2 == 0:
            num = num / 2
        else:
            num = num - 1
        step += 1
    return step


def exact_steps(num):
    """The same loop in exact integer arithmetic."""
    step = 0
    while num != 0:
        num = num // 2 if num % 2 == 0 else num - 1
        step += 1
    return step


def outcome(function, *args):
    try:
        return ("value", function(*args))
    except Exception as e:  # the error itself is part of the behaviour
        return ("error", type(e), str(e))


@pytest.mark.parametrize("args, kwargs, expected", [
    ((14,), {}, 6), ((8,), {}, 4), ((0,), {}, 0), ((1,), {}, 1),
    ((3, 8), {}, 4),                  # an integer numc wins
    ((8,), {"numc": 2.5}, 4),         # anything else in numc is ignored
    ((8, True), {}, 4),
    ((), {"num": 5, "numc": 7}, 5),
])
def test_steps_examples(args, kwargs, expected):
    result = steps(*args, **kwargs)
    assert result == expected and type(result) is int


def test_steps_through_an_instance():
    assert qel.Solution().numberOfSteps(14) == 6
    assert qel.Solution().numberOfSteps(numc=14) == 6


@settings(max_examples=400)
@given(st.integers(min_value=0, max_value=2**53))
def test_steps_exact_below_2_53(n):
    assert steps(n) == exact_steps(n) == float_steps(n)


EDGES = [2**53 - 1, 2**53, 2**53 + 1, 2**54 - 1, 2**54, 2**54 + 1, 2**54 + 2, 2**55 + 1, 2**55 + 2,
         2**60 - 1, 2**63 - 1, 2**63, 2**63 + 1, 2**64 - 1, 2**64 + 1, 3**40, 10**30 + 1,
         2**1023, 2**1024, 2**1025 - 1, 2**1025, 2**1025 + 2, 2**1026,
         # just below and at the first value whose rounded half overflows
         2 * int(sys.float_info.max), 2 * int(sys.float_info.max) + 2**970 - 2, 2 * int(sys.float_info.max) + 2**970]


@pytest.mark.parametrize("n", EDGES)
def test_steps_follow_float_arithmetic_at_edges(n):
    assert outcome(steps, n) == outcome(float_steps, n)


@settings(max_examples=300)
@given(st.integers(min_value=0, max_value=2**1100))
def test_steps_follow_float_arithmetic(n):
    assert outcome(steps, n) == outcome(float_steps, n)


def test_steps_rounding_differs_from_exact_above_2_53():
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


BOUNDS = [0, 1, -1, 2**31, 2**62 - 1, 2**62, -(2**62) + 1, -(2**62), 2**63 - 1, -(2**63), 2**64, 10**30, -(10**30)]


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
    low, high = -5 * abs(num) - 3, 4 * abs(num) + 2
    assert qel.multiple(num, high, low) == [k * abs(num) for k in range(-5, 5)]


def test_multiple_zero_divisor():
    with pytest.raises(ZeroDivisionError) as caught:
        qel.multiple(0, 5)
    with pytest.raises(ZeroDivisionError) as plain:
        plain_multiple(0, 5)
    assert str(caught.value) == str(plain.value)
    assert qel.multiple(0, -1) == [] and qel.multiple(0, 2**70, 2**71) == []


def test_multiple_too_many_to_hold():
    with pytest.raises(MemoryError):
        qel.multiple(1, 2**70)


# ---- rdletters ------------------------------------------------------------------------


def drawn_letters(length):
    return "".join(string.ascii_uppercase[random.randint(0, 25)] for _ in range(length))


@pytest.mark.parametrize("length, up", [(12, None), (1, 1), (5, 0), (5, True), (7, False), (3, 1.0), (3, 0.0), (200, 1)])
def test_rdletters_matches_an_independent_drawing(length, up):
    random.seed(length * 31 + 7)
    got = qel.rdletters() if up is None else qel.rdletters(length, up)
    after = random.random()
    random.seed(length * 31 + 7)
    expected = drawn_letters(length)
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

    def fake_rd(a, b):
        calls.append((a, b))
        return len(calls) - 1

    monkeypatch.setattr(qel, "rd", fake_rd)
    monkeypatch.setattr(qel, "ascii_uppercase", "zyxwvutsrqponmlkjihgfedcbA")
    assert qel.rdletters(4, 0) == "zyxw"
    assert calls == [(0, 25)] * 4


def test_rdletters_impossible_length():
    with pytest.raises(MemoryError):
        qel.rdletters(2**64)


# ---- signatures, docstrings, argument errors ---------------------------------------------


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
    assert outcome(lambda: ours(*args, **kwargs)) == outcome(lambda: twin(*args, **kwargs))


def test_names_and_docstrings():
    assert qel.Solution.__qualname__ == "Solution" and qel.Solution.__module__ == "qel"
    assert qel.Solution.__bases__ == (object,) and type(qel.Solution) is type
    assert qel.Solution.__doc__.endswith("包含函数: numberOfSteps. Inclusion function: numberOfSteps.")
    assert qel.Solution.numberOfSteps.__qualname__ == "Solution.numberOfSteps"
    assert "[默认为12]" in qel.rdletters.__doc__ and "[default = 12]" in qel.rdletters.__doc__
    assert qel.multiple.__qualname__ == "multiple" and qel.rdletters.__module__ == "qel"


# ---- argument reports ---------------------------------------------------------------------

# Both interpreters run the same lines; one calls the module, the other a plain
# Python statement of the report (the stack from the caller's frame, then the
# two message lines through sys.stderr). Their bytes must be the same.
REPORT_SCRIPT = r'''
import os, sys, traceback, qel
LINE = "\x1b[33;4m[\u044e QEL]\x1b[0;32m: \x1b[35m%s\x1b[0m\n"

def report(name, value, red):
    traceback.print_stack(sys._getframe(2))
    sys.stderr.write(LINE % ("%s = %%s, Type = %%s" % name % (value, type(value).__name__)))
    sys.stderr.write(LINE % ("\x1b[31mqel." + red))

def plain_steps(num="VB", numc="VB"):
    if type(numc) is int:
        num = numc
    if type(num) is not int:
        report("num", num, "Solution.numberOfSteps: 此函数需要的是一个整数! This function requires an integer!")
    elif num < 0:
        report("num", num, "Solution.numberOfSteps: 此函数需要的是一个非负整数! This function requires a non-negative integer!")

def plain_rdletters(lt=12, up=1):
    if type(lt) is not int:
        report("lt", lt, "rdletters: \"字符串长度\"应为整数! \"String length\" should be an integer!")
    if up != 1 and up != 0:
        report("up", up, "rdletters: \"是否大写\"应为True [1] 或False [0]! \"Whether uppercase\" should be True [1] or False [0]!")

def plain_multiple(num="VB", max="VB", min=0):
    if type(num) is not int:
        report("num", num, "multiple: 参数\"倍数\"应是整数! Parameter \"multiple\" should be an integer!")
    if type(max) is not int:
        report("max", max, "multiple: 参数\"最大数\"应是整数! Parameter \"max\" should be an integer!")
    if type(min) is not int:
        report("min", min, "multiple: 参数\"最小数\"应是整数! Parameter \"min\" should be an integer!")

class Int(int):
    pass

if os.environ["REPORTER"] == "qel":
    functions = {"steps": qel.Solution.numberOfSteps, "rdletters": qel.rdletters, "multiple": qel.multiple}
else:
    functions = {"steps": plain_steps, "rdletters": plain_rdletters, "multiple": plain_multiple}

def run(name, *args, **kwargs):
    result = functions[name](*args, **kwargs)
    sys.stderr.vanilla_write("\0cut\0")
    print(repr(result))

run("steps")
run("steps", True)
run("steps", 8.0)
run("steps", -5)
run("steps", 3, -1)
run("steps", Int(4))
run("steps", (1, 2))
run("steps", numc=None)
run("rdletters", 5, 2)
run("rdletters", "5", 2)
run("rdletters", 5.0)
run("rdletters", True)
run("rdletters", Int(3), None)
run("rdletters", 3, 0.5)
run("multiple")
run("multiple", 3, 10, "0")
run("multiple", True, 10)
run("multiple", "a", 1.5, None)
run("multiple", 3, Int(10))
run("multiple", max=[1], num={"k": 1})
'''

CASES = 20


def test_reports_match_the_plain_statement(py):
    ours = py(REPORT_SCRIPT, env={"REPORTER": "qel"})
    plain = py(REPORT_SCRIPT, env={"REPORTER": "plain"})
    assert ours.text.splitlines() == ["None"] * CASES
    assert ours.err == plain.err
    chunks = ours.err.decode("utf-8").split("\0cut\0")
    assert len(chunks) == CASES + 1 and chunks[-1] == ""
    # Number of reports per call: several wrong arguments are all reported, in order.
    reports = [chunk.count("Type = ") for chunk in chunks[:-1]]
    assert reports == [1] * 8 + [1, 2, 1, 1, 2, 1] + [2, 1, 1, 3, 1, 2]
    assert all(chunk.startswith('\x1b[31;1m  File "<string>"') for chunk in chunks[:-1])


def message_bytes(text):
    return ("\x1b[31;1m\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m" + text + "\x1b[0m\n\x1b[0m").encode("utf-8")


def wrapped(text):
    return ("\x1b[31;1m" + text + "\x1b[0m").encode("utf-8")


def message_bytes(text):
    return wrapped("\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m" + text + "\x1b[0m\n")


def test_report_bytes_and_order(py):
    # Each call shares its line with a capture of what print_stack writes
    # from that line, piece by piece, as the standard error writer sees it.
    result = py("""
        import json, sys, traceback, qel
        class Pieces(list):
            write = list.append
        def stack():
            pieces = Pieces()
            traceback.print_stack(sys._getframe(1), file=pieces)
            return pieces
        calls = []
        calls.append([qel.Solution.numberOfSteps(), stack()])
        calls.append([qel.multiple(), stack()])
        calls.append([qel.rdletters("5", 2), stack()])
        print(json.dumps(calls))
    """)
    (steps_result, steps_stack), (multiple_result, multiple_stack), (letters_result, letters_stack) = json.loads(result.out)
    assert steps_result is multiple_result is letters_result is None
    stack = lambda pieces: b"".join(wrapped(piece) for piece in pieces)
    assert b'line 10' in stack(steps_stack) and b'line 11' in stack(multiple_stack)
    assert result.err == (
        stack(steps_stack)
        + message_bytes("num = VB, Type = str")
        + message_bytes("\x1b[31mqel.Solution.numberOfSteps: 此函数需要的是一个整数! This function requires an integer!")
        + stack(multiple_stack)
        + message_bytes("num = VB, Type = str")
        + message_bytes('\x1b[31mqel.multiple: 参数"倍数"应是整数! Parameter "multiple" should be an integer!')
        + stack(multiple_stack)
        + message_bytes("max = VB, Type = str")
        + message_bytes('\x1b[31mqel.multiple: 参数"最大数"应是整数! Parameter "max" should be an integer!')
        + stack(letters_stack)
        + message_bytes("lt = 5, Type = str")
        + message_bytes('\x1b[31mqel.rdletters: "字符串长度"应为整数! "String length" should be an integer!')
        + stack(letters_stack)
        + message_bytes("up = 2, Type = int")
        + message_bytes('\x1b[31mqel.rdletters: "是否大写"应为True [1] 或False [0]! '
                        '"Whether uppercase" should be True [1] or False [0]!')
    )


def test_report_through_an_instance(py):
    result = py("""
        import qel
        print(qel.Solution().numberOfSteps())
    """)
    assert result.out == b"None\n"
    assert b"num = <qel.Solution object at 0x" in result.err and b", Type = Solution\x1b[0m" in result.err


def test_refused_calls_draw_nothing(py):
    result = py("""
        import random, qel
        random.seed(5)
        state = random.getstate()
        qel.rdletters("5")
        qel.rdletters(5, 3)
        print(random.getstate() == state)
    """)
    assert result.out == b"True\n"
    assert result.err.count(b"Type = ") == 2


class Int(int):
    pass


@pytest.mark.parametrize("call, expected", [
    (lambda: qel.Solution.numberOfSteps(-7), [
        "stack", "num = -7, Type = int",
        "\x1b[31mqel.Solution.numberOfSteps: 此函数需要的是一个非负整数! This function requires a non-negative integer!"]),
    (lambda: qel.Solution.numberOfSteps(-(2**80)), [
        "stack", f"num = {-(2**80)}, Type = int",
        "\x1b[31mqel.Solution.numberOfSteps: 此函数需要的是一个非负整数! This function requires a non-negative integer!"]),
    (lambda: qel.Solution.numberOfSteps(Int(3)), [
        "stack", "num = 3, Type = Int",
        "\x1b[31mqel.Solution.numberOfSteps: 此函数需要的是一个整数! This function requires an integer!"]),
    (lambda: qel.rdletters(False, "x"), [
        "stack", "lt = False, Type = bool", '\x1b[31mqel.rdletters: "字符串长度"应为整数! "String length" should be an integer!',
        "stack", "up = x, Type = str",
        '\x1b[31mqel.rdletters: "是否大写"应为True [1] 或False [0]! "Whether uppercase" should be True [1] or False [0]!']),
    (lambda: qel.multiple(2.0, (1,), min=Int(0)), [
        "stack", "num = 2.0, Type = float", '\x1b[31mqel.multiple: 参数"倍数"应是整数! Parameter "multiple" should be an integer!',
        "stack", "max = (1,), Type = tuple", '\x1b[31mqel.multiple: 参数"最大数"应是整数! Parameter "max" should be an integer!',
        "stack", "min = 0, Type = Int", '\x1b[31mqel.multiple: 参数"最小数"应是整数! Parameter "min" should be an integer!']),
])
def test_reports_go_through_the_current_module_helpers(monkeypatch, call, expected):
    sent = []
    monkeypatch.setattr(qel, "print_stack", lambda: sent.append("stack"))
    monkeypatch.setattr(qel, "qel_send_message", sent.append, raising=False)
    assert call() is None
    assert sent == expected
    assert all(type(text) is str for text in sent)


def test_a_failing_report_raises(monkeypatch):
    def broken():
        raise RuntimeError("no stack today")

    monkeypatch.setattr(qel, "print_stack", broken)
    with pytest.raises(RuntimeError, match="no stack today"):
        qel.multiple()


def test_exact_docstrings():
    assert qel.Solution.numberOfSteps.__doc__ == (
        'qel.Solution.numberOfSteps, 将数字变成 0 的操作次数; 如果输入的数字"num"为偶数则将数字除以二, 否则将数字减一, '
        '计算所需步骤. qel.Solution.numberOfSteps, The number of operations to change the number to 0; if the input '
        'number "num" is even, divide the number by two; otherwise, subtract the number by one to calculate the '
        'required steps. 格式: qel.Solution.numberOfSteps(int). Format: qel.Solution.numberOfSteps(int).')
    assert qel.rdletters.__doc__ == (
        "qel.rdletters, 随机生成一个由字母组成的字符串. qel.rdletters, randomly generates a string of letters. "
        "格式: qel.rdletters(长度 [默认为12], 是否大写 [默认为1]). "
        "Format: qel.rdletters(length [default = 12], uppercase [default = 1])")
    assert qel.multiple.__doc__ == (
        "qel.multiple, 计算从min到Max [包含Max] 的N的倍数. qel.multiple, calculate the multiple of N from min to Max "
        "[including Max] 格式: qel.multiple(N, Max, min [默认为0]). Format: qel.multiple(N, Max, min [default is 0])")


def test_open_listeners_capture_the_report(py):
    result = py("""
        import sys, qel
        listener = qel.terminal_listener()
        returned = qel.multiple(2.5, 3)
        listener.close()
        sys.stdout.write(listener.read())
        sys.stdout.write(repr(returned))
    """)
    assert result.err.count(b"Type = ") == 1
    assert result.out == result.err + b"None"
