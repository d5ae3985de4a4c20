"""The module inside the programs people import it in.

The interactive interpreter is driven through a pseudo-terminal, as a person
types at it, and its output is drawn by a terminal emulator: the test reads the
screen, since a shell may re-encode escape sequences (3.15's new shell redraws
the prompt cell by cell) without changing what a person sees. IPython's
terminal shell runs on a pseudo-terminal too, and a Jupyter kernel is driven
through jupyter_client. pytest's own capture, redirected output and the
logging module each run in a fresh process, and the tests compare the bytes
that reach the file or pipe with what a listener recorded.
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


IPYTHON_CELLS = [
    "t = qel.terminal_listener()",
    'print("inside")',
    "40 + 2",
    'qel.qel_send_message("note")',
    "1/0",
    "t.close()",
    # What IPython recorded of the streams, cell by cell (from IPython 9 on).
    "h = getattr(get_ipython().history_manager, 'outputs', {})",
    "rec = [s for n in sorted(h) for o in h[n] if o.output_type.endswith('_stream') for s in o.bundle['stream']]",
    "_ = open({path!r}, 'w', encoding='utf-8').write(json.dumps([t.read(), rec]))",
    "exit",
]


@pytest.mark.parametrize("where", ["startup-file", "cell"])
def test_ipython_terminal_shell(tmp_path, where):
    # IPython 9 gives each cell a recorder of the streams and takes it away
    # again when the cell ends, with whatever the cell installed; an import
    # typed in a cell must still hook the cells after it.
    pytest.importorskip("IPython")
    import json

    result = tmp_path / "result.json"
    cells = [cell.replace("{path!r}", repr(str(result))) for cell in IPYTHON_CELLS]
    argv = [sys.executable, "-m", "IPython", "--quick", "--no-banner", "--colors=NoColor",
            "--HistoryManager.hist_file=:memory:"]
    if where == "startup-file":
        (tmp_path / "start.py").write_text("import qel, json\n", encoding="utf-8")
        argv += ["-i", str(tmp_path / "start.py")]
    else:
        cells.insert(0, "import qel, json")
    shell = Terminal(argv, child_env(), tmp_path)
    shell.settle(quiet=1.0)
    shell.type(*cells)
    out = shell.finish().decode("utf-8")
    content, recorded = json.loads(result.read_text(encoding="utf-8"))
    note = stderr_bytes("note").decode("utf-8")

    # The notice reaches the terminal in bold red, once, and the listener;
    # so do IPython's results and tracebacks, which it prints on standard output.
    assert out.count(note.replace("\n", "\r\n")) == 1
    assert content.count(note) == 1
    stdout_part = content.replace(note, "")
    for piece in ("inside\n", "42\n", "ZeroDivisionError: division by zero"):
        assert piece in stdout_part
    # The cells' recorders still see every write, once.
    if recorded:
        assert "".join(recorded).count("inside\n") == 1
        assert "".join(recorded).count("note") == 1


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


def test_jupyter_kernel(tmp_path, monkeypatch):
    # A real kernel, driven as a notebook drives it, over 127.0.0.1.
    pytest.importorskip("ipykernel")
    pytest.importorskip("jupyter_client")
    import json
    from jupyter_client import KernelManager
    from jupyter_client.kernelspec import KernelSpecManager

    kernel_dir = tmp_path / "kernels" / "here"
    kernel_dir.mkdir(parents=True)
    (kernel_dir / "kernel.json").write_text(json.dumps({
        "argv": [sys.executable, "-m", "ipykernel_launcher", "-f", "{connection_file}"],
        "display_name": "here", "language": "python"}), encoding="utf-8")
    monkeypatch.setenv("JUPYTER_RUNTIME_DIR", str(tmp_path / "runtime"))
    manager = KernelManager(kernel_name="here",
                            kernel_spec_manager=KernelSpecManager(kernel_dirs=[str(tmp_path / "kernels")]))
    manager.start_kernel(env=child_env(), cwd=str(tmp_path))
    client = manager.client()
    client.start_channels()

    def run(code):
        """What the cell sent on each stream, joined."""
        sent = {"stdout": "", "stderr": ""}
        msg_id = client.execute(code)
        while True:
            msg = client.get_iopub_msg(timeout=30)
            if msg["parent_header"].get("msg_id") != msg_id:
                continue
            if msg["msg_type"] == "stream":
                sent[msg["content"]["name"]] += msg["content"]["text"]
            elif msg["msg_type"] == "error":
                raise AssertionError("\n".join(msg["content"]["traceback"]))
            elif msg["msg_type"] == "status" and msg["content"]["execution_state"] == "idle":
                return sent

    def red(text):
        return RED + text + RESET

    try:
        client.wait_for_ready(timeout=60)
        assert run("import qel, sys, asyncio, json") == {"stdout": "", "stderr": ""}
        assert run("sys.stderr.write('later\\n')")["stderr"] == red("later\n")
        run("t = qel.terminal_listener()")
        assert run("print('seen')")["stdout"] == "seen\n"
        # A cell with a top-level await runs without IPython's recorder, and
        # the one after it with one again.
        assert run("await asyncio.sleep(0); sys.stderr.write('awaited\\n')")["stderr"] == red("awaited\n")
        assert run("sys.stderr.write('then\\n'); print('after')") == {"stdout": "after\n",
                                                                      "stderr": red("then\n")}
        recorded = json.loads(run("t.close(); print(json.dumps(t.read()))")["stdout"])
        assert recorded == "seen\n" + red("awaited\n") + red("then\n") + "after\n"

        manager.restart_kernel(now=True)
        client.wait_for_ready(timeout=60)
        run("import qel, sys")
        assert run("sys.stderr.write('again\\n')")["stderr"] == red("again\n")
    finally:
        client.stop_channels()
        manager.shutdown_kernel(now=True)
