"""The module object, its namespace and what importing it does (fresh interpreters)."""
import os
import shutil
import subprocess
import sys

import pytest

import qel

DOC = (
    '导入QEL前使用os库设置os.environ["qel.no_info"]为1可隐藏库信息并跳过版本检测, '
    '设置os.environ["qel.no_check"]为1可仅跳过版本检测. '
    'Use os library settings before importing QEL os.environ["qel.no_info"] to 1 to hide library '
    'information and skip version detection, os.environ["qel.no_check"] to 1 only version checking '
    "will be skipped"
)

GLOBALS_IN_ORDER = [
    "qel_version", "socket", "json", "sys", "os", "ascii_uppercase", "print_stack", "rd", "vanilla",
    "str", "terminal_listener", "__string__", "qel_send_message", "colorful_ps", "Json",
    "Solution", "rdletters", "multiple",
]


def test_namespace_in_binding_order(py):
    names = py("""
        import qel
        print([k for k in vars(qel) if not (k.startswith('__') and k.endswith('__')) or k == '__string__'])
    """).text
    assert eval(names) == GLOBALS_IN_ORDER


def test_bindings():
    import json, os, random, socket, string, traceback
    assert qel.__doc__ == DOC
    assert qel.qel_version == 2.2 and type(qel.qel_version) is float
    assert qel.socket is socket and qel.sys is sys and qel.os is os
    assert qel.ascii_uppercase == string.ascii_uppercase
    assert qel.print_stack is traceback.print_stack and qel.rd == random.randint
    assert qel.vanilla.str is str and qel.vanilla.json is json
    assert qel.vanilla.__doc__ == "用于储存已被修改数据类型的原版类型. The original type used to store the modified data type."
    assert list(vars(qel.vanilla))[:4] == ["__module__", "__doc__", "str", "json"]
    assert type(qel.__file__) is str and "\\" not in qel.__file__ or sys.platform == "win32"
    for absent in ("terminal_stderr", "windll") if sys.platform != "win32" else ("terminal_stderr",):
        assert not hasattr(qel, absent)


def test_repeated_imports_give_the_same_module_and_repeat_nothing(py):
    r = py("""
        import importlib, os, sys
        import qel
        first = qel
        writes = (sys.stdout.write, sys.stderr.write)
        os.write(2, b"MARK")
        del sys.modules["qel"]
        import qel
        assert qel is first
        assert importlib.reload(qel) is first and sys.modules["qel"] is first
        import qel
        assert qel is first and qel.str is first.str
        assert (sys.stdout.write, sys.stderr.write) == writes
        print("ok")
    """, env={"qel.no_check": "1"}, quiet=False)
    assert r.out == b"ok\n"
    assert r.err.endswith(b"MARK")


def test_failed_import_starts_again_on_a_new_module(py):
    r = py("""
        import random, sys, types
        real = sys.modules["random"]
        sys.modules["random"] = types.ModuleType("random")
        try:
            import qel
        except ImportError as e:
            print("first:", e)
        assert "qel" not in sys.modules
        sys.modules["random"] = real
        import qel
        print(qel.rd == real.randint, qel.str("a").qe_remove("a") == "")
    """)
    assert r.text == "first: cannot import name 'randint' from 'random' (unknown location)\nTrue True\n"


SUBINTERPRETER = """
import sys
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
import qel
path = sys.argv[1]
code = f'''
try:
    import qel
except ImportError as e:
    result = "ImportError: " + str(e)
else:
    result = "imported"
with open({path!r}, "w", encoding="utf-8") as f:
    f.write(result)
'''
interp = interpreters.create()
interpreters.run_string(interp, code)
interpreters.destroy(interp)
print(qel.str("still fine").qe_remove("still "))
"""


def test_second_interpreter_gets_import_error(tmp_path):
    pytest.importorskip("_interpreters" if sys.version_info >= (3, 13) else "_xxsubinterpreters")
    out = tmp_path / "result.txt"
    # A bare environment, but a sanitizer run (tools/sanitize.py) keeps its runtime.
    kept = {k: os.environ[k] for k in ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS", "PYTHONMALLOC")
            if k in os.environ}
    proc = subprocess.run([sys.executable, "-c", SUBINTERPRETER, str(out)], capture_output=True,
                          env={"qel.no_info": "1", "PATH": "/usr/bin:/bin", **kept})
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == b"fine\n"
    assert out.read_text(encoding="utf-8") == (
        "ImportError: Interpreter change detected - this module can only be loaded into one interpreter per process.")


@pytest.mark.skipif(not sys.platform.startswith("linux") or not shutil.which("nm"), reason="needs nm on Linux")
def test_only_the_entry_point_is_exported():
    out = subprocess.run(["nm", "-D", "--defined-only", qel.__file__], capture_output=True, text=True).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if len(line.split()) == 3]
    assert symbols == ["PyInit_qel"]
