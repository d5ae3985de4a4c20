"""qel_send_message, the standard error writer and the coloured prompts.

Fresh interpreters and exact bytes: the import hooks the process's streams.
"""
import json
import re

import pytest

from conftest import run_python

RED, RESET = "\x1b[31;1m", "\x1b[0m"
FORMAT = "\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m%s\x1b[0m\n"


def child(body):
    """Runs body after `import qel`; returns (stderr text, value passed to report())."""
    result = run_python("import json, sys\nimport qel\n"
                        "def report(value):\n"
                        "    sys.stdout.vanilla_write(json.dumps(value))\n" + body)
    out = result.out.decode("utf-8")
    return result.err.decode("utf-8"), (json.loads(out) if out else None)


@pytest.mark.parametrize("arg", ['"abc"', '""', "5", '("a",)', "[1, 'x']", "None", '"100%"'])
def test_send_message_formats_like_the_percent_operator(arg):
    err, value = child(f"""
t = qel.terminal_listener()
result = qel.qel_send_message({arg})
report([result, t.read(), {FORMAT!r} % ({arg},) if not isinstance({arg}, tuple) else {FORMAT!r} % {arg}])
""")
    result, captured, message = value
    assert result is None
    assert err == RED + message + RESET
    assert captured == err


@pytest.mark.parametrize("arg", ["()", '("a", "b")', '(1, 2, 3)'])
def test_send_message_errors_are_the_operators(arg):
    err, value = child(f"""
errors = []
for f in (qel.qel_send_message, lambda x: {FORMAT!r} % x):
    try:
        f({arg})
        errors.append(None)
    except TypeError as e:
        errors.append(str(e))
report(errors)
""")
    assert err == ""
    assert value[0] == value[1]


def test_exact_lines_for_abc_and_empty():
    err, _ = child('qel.qel_send_message("abc"); qel.qel_send_message("")')
    assert err == ("\x1b[31;1m\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35mabc\x1b[0m\n\x1b[0m"
                   "\x1b[31;1m\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m\x1b[0m\n\x1b[0m")


def test_print_to_stderr_wraps_each_write():
    err, value = child("""
t = qel.terminal_listener()
print("x", file=sys.stderr)
print("a", "b", sep="-", end="!", file=sys.stderr)
report(t.read())
""")
    pieces = ["x", "\n", "a", "-", "b", "!"]
    expected = "".join(RED + p + RESET for p in pieces)
    assert err == expected and value == expected


def test_stderr_writer_refuses_non_strings_like_concatenation():
    err, value = child("""
class Sub(str):
    def __radd__(self, other):
        return "<radd>"
t = qel.terminal_listener()
errors = []
for bad in (5, b"x", None):
    for f in (sys.stderr.write, lambda x: "\\x1b[31;1m" + x):
        try:
            f(bad)
        except TypeError as e:
            errors.append(str(e))
sys.stderr.write(Sub("s"))
report([errors, t.read()])
""")
    errors, captured = value
    assert errors[0::2] == errors[1::2] and len(errors) == 6
    # A str subclass is added as `+` adds it: its reflected addition wins.
    assert err == "<radd>" + RESET
    assert captured == err


def test_traceback_is_captured_in_wrapped_pieces():
    err, value = child("""
class Recorder:
    def __init__(self):
        self.pieces = []
    def write(self, text):
        self.pieces.append(text)
def fail():
    raise ValueError("boom")
try:
    fail()
except ValueError:
    info = sys.exc_info()
# The pieces the interpreter writes, recorded by a plain stream.
real = sys.stderr
sys.stderr = recorder = Recorder()
sys.excepthook(*info)
sys.stderr = real
t = qel.terminal_listener()
sys.excepthook(*info)
report([recorder.pieces, t.read()])
""")
    pieces, captured = value
    assert len(pieces) > 3 and "ValueError: boom" in "".join(pieces)
    expected = "".join(RED + p + RESET for p in pieces)
    assert captured == expected
    assert err == expected


def test_stderr_vanilla_write_and_rebinding():
    err, value = child("""
import io
t = qel.terminal_listener()
sys.stderr.vanilla_write("x")
real = sys.stderr
sys.stderr = io.StringIO()
print("plain", file=sys.stderr)
new = sys.stderr.getvalue()
sys.stderr = real
report([new, t.read()])
""")
    assert err == "x"
    assert value == ["plain\n", ""]


def prompt_pattern(plain):
    """Bold, then each character after one of the seven foreground codes."""
    return r"\x1b\[1m" + "".join(r"\x1b\[3[1-68]m" + re.escape(c) for c in plain)


def test_prompts_are_bold_and_coloured_without_reset():
    err, value = child("""
import random
initial = [sys.ps1, sys.ps2]
random.seed(7)
result = qel.colorful_ps()
seeded = [sys.ps1, sys.ps2]
random.seed(7)
qel.colorful_ps()
again = [sys.ps1, sys.ps2]
report([initial, result, seeded, again, qel.colorful_ps.__doc__])
""")
    initial, result, seeded, again, doc = value
    assert err == ""
    assert result is None
    for ps1, ps2 in (initial, seeded):
        assert re.fullmatch(prompt_pattern(">>> "), ps1)
        assert re.fullmatch(prompt_pattern("... "), ps2)
        assert "\x1b[0m" not in ps1 + ps2
    # The colours come from the shared generator, so seeding reproduces them.
    assert seeded == again
    assert doc == ("设置Python shell (终端环境) PS信息设置为彩色. "
                   "Set the python shell (terminal environment) PS information to color.")


def test_same_stream_for_stdout_and_stderr_does_not_recurse():
    """With sys.stderr the very object sys.stdout is, the second hook must not
    call the first: each text still reaches the stream once."""
    result = run_python("""
import sys
sys.stderr = sys.stdout
import qel
t = qel.terminal_listener()
sys.stderr.write("e")
print("o")
sys.stdout.vanilla_write("|" + str(t.read()))
""")
    assert result.out.decode() == f"{RED}e{RESET}{RED}o{RESET}{RED}\n{RESET}|{RED}e{RESET}{RED}o{RESET}{RED}\n{RESET}"
