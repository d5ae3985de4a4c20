"""The module inside the programs people import it in.

The interactive interpreter is driven through a pseudo-terminal, as a person
types at it, and its output is drawn by a terminal emulator: the test reads the
screen, since a shell may re-encode escape sequences (3.15's new shell redraws
the prompt cell by cell) without changing what a person sees. IPython's
terminal shell, pytest's own capture, redirected output and the logging module
each run in a fresh process, and the tests compare the bytes that reach the
file or pipe with what a listener recorded.
"""
import os
import random
import re
import select
import subprocess
import sys
import time

import pytest

from expected_notices import WELCOME, stderr_bytes

FCOLOR = ["\x1b[31m", "\x1b[32m", "\x1b[33m", "\x1b[34m", "\x1b[35m", "\x1b[36m", "\x1b[38m"]
RED, RESET = "\x1b[31;1m", "\x1b[0m"
ANSI = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")
COLUMNS, ROWS = 120, 40  # room for the whole session: nothing scrolls away


def child_env(**extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("qel.")}
    env.pop("PYTHON_BASIC_REPL", None)
    env.update({"qel.no_info": "1", "PYTHONIOENCODING": "utf-8", "TERM": "xterm"})
    env.update(extra)
    return env


def prompts_after_seed(seed):
    """The two prompts the import draws once `random` is seeded with `seed`."""
    draw = random.Random(seed).randint
    ps1 = "\x1b[1m" + "".join(FCOLOR[draw(0, 6)] + c for c in ">>> ")
    ps2 = "\x1b[1m" + "".join(FCOLOR[draw(0, 6)] + c for c in "... ")
    return ps1, ps2


def screen_of(output):
    """The screen a terminal shows after receiving `output`: rows of cells, each
    a character with its colours and attributes."""
    import pyte

    screen = pyte.Screen(COLUMNS, ROWS)
    pyte.Stream(screen).feed(output)
    return [tuple(screen.buffer[y][x] for x in range(COLUMNS)) for y in range(ROWS)]


def characters(cells):
    return "".join(cell.data for cell in cells)


class Terminal:
    """A child process on a pseudo-terminal, fed line by line like a keyboard."""

    def __init__(self, argv, env, cwd):
        import fcntl
        import struct
        import termios

        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
        self.proc = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave,
                                     env=env, cwd=cwd, start_new_session=True)
        os.close(slave)
        self.output = b""

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            chunk = os.read(self.master, 65536)
        except OSError:  # the child closed the terminal
            chunk = b""
        self.output += chunk
        return bool(chunk)

    def settle(self, quiet=0.3, limit=15.0):
        """Reads until the child has been silent for `quiet` seconds."""
        end = time.monotonic() + limit
        while time.monotonic() < end and self._read(quiet):
            pass

    def type(self, *lines):
        for line in lines:
            os.write(self.master, line.encode("utf-8") + b"\r")
            self.settle()

    def finish(self, limit=30.0):
        end = time.monotonic() + limit
        while self.proc.poll() is None and time.monotonic() < end:
            self._read(0.2)
        while self._read(0.1):
            pass
        os.close(self.master)
        assert self.proc.wait(timeout=5) == 0, self.output.decode("utf-8", "replace")
        return self.output


REPLS = [
    pytest.param({"PYTHON_BASIC_REPL": "1"}, id="basic-repl"),
    pytest.param({}, id="new-repl", marks=pytest.mark.skipif(
        sys.version_info < (3, 13), reason="the new interactive shell came with 3.13")),
]


@pytest.mark.parametrize("repl_env", REPLS)
def test_interactive_interpreter_on_a_terminal(tmp_path, repl_env):
    pytest.importorskip("termios", reason="no pseudo-terminals on this platform")
    pytest.importorskip("pyte", reason="the terminal emulator of the test extra")
    term = Terminal([sys.executable, "-q"], child_env(**repl_env), cwd=tmp_path)
    term.settle()
    term.type(
        "import random; random.seed(7)",
        "import qel",
        "t = qel.terminal_listener()",
        "print('out')",
        "1/0",
        "t.close()",
        "_ = open('captured.txt', 'w', encoding='utf-8').write(t.read())",
        "if 1:",
        "    print('in block')",  # the new shell indents by itself: deeper, still valid
        "",
        "exit()",
    )
    rows = screen_of(term.finish().decode("utf-8"))
    content = (tmp_path / "captured.txt").read_text(encoding="utf-8")

    # Each prompt as a person sees it: its four characters in the colours and
    # weight that sys.ps1 and sys.ps2 give them. Those before the import are
    # the shell's own.
    ps1, ps2 = prompts_after_seed(7)
    looks = {screen_of(ps1)[0][:4]: "ps1", screen_of(ps2)[0][:4]: "ps2"}
    prompts = [row[:4] for row in rows if characters(row[:4]) in (">>> ", "... ")]
    assert [looks.get(cells, characters(cells)) for cells in prompts] == (
        [">>> "] * 2 + ["ps1"] * 6 + ["ps2"] * 2 + ["ps1"])

    # The listener holds the printed line, then the traceback as the terminal got it:
    # every piece the interpreter wrote (some versions begin with an empty one)
    # arrives wrapped in bold red on its own.
    assert content.startswith("out\n" + RED)
    assert RED + "Traceback (most recent call last):" in content
    assert content.endswith(RESET)
    traceback_text = ANSI.sub("", content[len("out\n"):])
    assert traceback_text.startswith("Traceback (most recent call last):\n")
    assert traceback_text.endswith("ZeroDivisionError: division by zero\n")
    # The screen shows the printed line, and the traceback just as the listener
    # recorded it, colours included. Bytes would differ: 3.14's basic shell, for
    # one, leaves the trailing empty piece in the stream's buffer for lines on.
    lines = [characters(row).rstrip() for row in rows]
    assert "out" in lines
    traceback_part = content[len("out\n"):]
    shown = screen_of(traceback_part.replace("\n", "\r\n"))  # the terminal turns line feeds into CR LF
    shown = shown[:traceback_part.count("\n")]
    first = lines.index("Traceback (most recent call last):")
    assert rows[first:first + len(shown)] == shown


IPYTHON_SESSION = """\
t = qel.terminal_listener()
print("inside")
40 + 2
qel.qel_send_message("note")
1/0
t.close()
_ = open({path!r}, "w", encoding="utf-8").write(t.read())
"""


@pytest.mark.parametrize("where", ["startup-file", "cell"])
def test_ipython_terminal_shell(tmp_path, where):
    pytest.importorskip("IPython")
    from IPython.core.interactiveshell import InteractiveShell

    captured = tmp_path / "captured.txt"
    session = IPYTHON_SESSION.format(path=str(captured))
    argv = [sys.executable, "-m", "IPython", "--simple-prompt", "--quick", "--no-banner",
            "--colors=NoColor", "--HistoryManager.enabled=False"]
    if where == "startup-file":
        (tmp_path / "start.py").write_text("import qel\n", encoding="utf-8")
        argv += ["-i", str(tmp_path / "start.py")]
    else:
        session = "import qel\n" + session
    proc = subprocess.run(argv, input=session.encode(), capture_output=True, env=child_env(),
                          cwd=tmp_path, timeout=120)
    assert proc.returncode == 0, proc.stderr.decode("utf-8", "replace")
    out = proc.stdout.decode("utf-8")
    content = captured.read_text(encoding="utf-8")
    note = stderr_bytes("note").decode("utf-8")

    if where == "cell" and hasattr(InteractiveShell, "_tee"):
        # From IPython 9 on, every cell ends by putting back the `write` its
        # streams had when it began, which takes the hooks of an import made
        # inside the cell away again: later output is neither red nor recorded.
        assert proc.stderr.decode("utf-8") == note[len(RED):-len(RESET)]
        assert content == ""
        return
    # Notices go to standard error, in bold red; IPython prints its prompts,
    # results and tracebacks on standard output, which the listener records too.
    assert proc.stderr.decode("utf-8") == note
    assert content.count(note) == 1
    stdout_part = content.replace(note, "")
    assert stdout_part in out
    for piece in ("inside\n", "Out[", "]: 42\n", "ZeroDivisionError: division by zero"):
        assert piece in stdout_part


CAPTURE_TEST = """
import sys

def test_output_in_{fixture}({fixture}):
    import qel
    t = qel.terminal_listener()
    print("out")
    qel.qel_send_message("note")
    sys.stderr.write("err")
    t.close()
    out, err = {fixture}.readouterr()
    assert out == "out\\n"
    assert err == {note!r} + "\\x1b[31;1merr\\x1b[0m"
    assert t.read() == out + err
"""


@pytest.mark.parametrize("fixture", ["capsys", "capfd"])
def test_pytest_capture_fixtures(tmp_path, fixture):
    """Each fixture in its own pytest run: the first import of the module hooks the streams."""
    note = stderr_bytes("note").decode("utf-8")
    test_file = tmp_path / f"test_{fixture}.py"
    test_file.write_text(CAPTURE_TEST.format(fixture=fixture, note=note), encoding="utf-8")
    proc = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", str(test_file)],
                          capture_output=True, env=child_env(), cwd=tmp_path, timeout=120)
    assert proc.returncode == 0, proc.stdout.decode("utf-8", "replace")
    assert b"1 passed" in proc.stdout


REDIRECTED = """
import os, sys
os.environ["qel.no_check"] = "1"
import qel
print("plain")
sys.stderr.write("oops\\n")
"""


@pytest.mark.parametrize("target", ["file", "pipe"])
def test_redirected_output_keeps_its_bytes(tmp_path, target):
    """No terminal is asked about: a file or pipe gets the same bytes as a terminal would."""
    env = child_env()
    del env["qel.no_info"]
    argv = [sys.executable, "-c", REDIRECTED]
    if target == "file":
        with open(tmp_path / "out", "wb") as out, open(tmp_path / "err", "wb") as err:
            code = subprocess.run(argv, stdout=out, stderr=err, env=env, timeout=60).returncode
        out, err = (tmp_path / "out").read_bytes(), (tmp_path / "err").read_bytes()
    else:
        proc = subprocess.run(argv, capture_output=True, env=env, timeout=60)
        code, out, err = proc.returncode, proc.stdout, proc.stderr
    assert code == 0
    assert out == b"plain\n"
    assert err == stderr_bytes(WELCOME) + b"\x1b[31;1moops\n\x1b[0m"


@pytest.mark.parametrize("handler_first", [True, False], ids=["handler-then-import", "import-then-handler"])
def test_logging_stream_handler_on_stderr(py, handler_first):
    """A handler keeps the stream object it was given; that object is the one hooked."""
    setup = ["import logging; logging.basicConfig(format='%(levelname)s:%(message)s')", "import qel"]
    if not handler_first:
        setup.reverse()
    result = py("\n".join(setup) + """
t = qel.terminal_listener()
logging.warning("careful")
t.close()
import sys
sys.stdout.write(t.read())
""")
    assert result.err == b"\x1b[31;1mWARNING:careful\n\x1b[0m"
    assert result.out == result.err
