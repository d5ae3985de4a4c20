"""Console colour on Windows, run here by pretending: sys.platform is set to
"win32" in a child, and a stand-in ctypes records the console calls."""
import importlib.util
import json
import os
import shutil
import textwrap

import pytest

from conftest import run_python

STANDIN_CTYPES = '''
import sys
calls = []
HANDLE = object()

class Kernel32:
    def GetStdHandle(self, which):
        calls.append(["GetStdHandle", which])
        {get_handle}

    def SetConsoleMode(self, handle, mode):
        # What the rest of the import has done by the time the mode is set.
        calls.append(["SetConsoleMode", handle is HANDLE, mode,
                      getattr(sys.stderr.write, "__qualname__", None), hasattr(sys, "ps1")])
        return 0  # as when standard output is a file: the failure is ignored

class WinDLL:
    kernel32 = Kernel32()

windll = WinDLL()
'''

# The standard modules the body imports are loaded first, so that they do not
# see the pretended platform.
PRETEND_WINDOWS = '''
import json, os, random, socket, string, sys, traceback
sys.platform = {platform!r}
'''


def run_console(tmp_path, *, platform="win32", get_handle="return HANDLE", standin=True,
                after="", extra_path=()):
    if standin:
        package = tmp_path / "ctypes"
        package.mkdir()
        (package / "__init__.py").write_text(STANDIN_CTYPES.format(get_handle=get_handle))
    path = [str(p) for p in extra_path] + [str(tmp_path)]
    code = (f"import sys\nsys.path[:0] = {path!r}\n" + PRETEND_WINDOWS.format(platform=platform)
            + textwrap.dedent(after))
    return run_python(code)


def test_console_mode_set_to_seven_on_windows(tmp_path):
    result = run_console(tmp_path, after='''
        import qel, ctypes
        print(json.dumps({"calls": ctypes.calls, "windll": qel.windll is ctypes.windll}))
    ''')
    report = json.loads(result.out)
    # Standard output's handle, mode exactly 7, after the standard error writer
    # is installed and before the prompts are coloured.
    assert report == {"calls": [["GetStdHandle", -11],
                                ["SetConsoleMode", True, 7, "terminal_stderr.write", False]],
                      "windll": True}
    assert result.err == b""


def test_file_path_rewritten_with_forward_slashes_on_windows(tmp_path):
    # A directory whose name holds a backslash stands in for a Windows path.
    built = importlib.util.find_spec("qel").origin
    odd = tmp_path / "site\\packages"
    odd.mkdir()
    copy = odd / os.path.basename(built)
    shutil.copy(built, copy)
    result = run_console(tmp_path, extra_path=[odd], after='''
        import qel
        print(json.dumps([qel.__file__, type(qel.__file__) is qel.str]))
    ''')
    assert json.loads(result.out) == [str(copy).replace("\\", "/"), True]


@pytest.mark.parametrize("platform", ["linux", "WIN32", "win32 ", "cygwin"])
def test_nothing_happens_elsewhere(tmp_path, platform):
    result = run_console(tmp_path, platform=platform, after='''
        import qel
        print(json.dumps([hasattr(qel, "windll"), "ctypes" in sys.modules]))
    ''')
    assert json.loads(result.out) == [False, False]


def test_missing_windll_ends_the_import(tmp_path):
    # The real ctypes of this machine has no windll.
    result = run_console(tmp_path, standin=False, after='''
        try:
            from ctypes import windll
        except ImportError as e:
            expected = str(e)
        try:
            import qel
        except ImportError as e:
            print(json.dumps([str(e) == expected, e.name, "qel" in sys.modules]))
    ''')
    assert json.loads(result.out) == [True, "ctypes", False]


def test_failing_console_function_call_ends_the_import(tmp_path):
    result = run_console(tmp_path, get_handle="raise OSError('no console')", after='''
        try:
            import qel
        except OSError as e:
            print(json.dumps([str(e), "qel" in sys.modules]))
    ''')
    assert json.loads(result.out) == ["no console", False]
