"""The welcome line and the version check, against a stand-in urllib3 placed
first on a child interpreter's path."""
import json
import os
import textwrap

import pytest

from conftest import run_python
from expected_notices import FAILED, VERSION_FILE, WELCOME, newer, stderr_bytes

# The stand-in records how it is used; `respond` is filled in per case.
STANDIN = '''
calls = []

class ConnectionFailed(Exception):
    pass

class Response:
    def __init__(self, data):
        self.data = data

class PoolManager:
    def __init__(self, *args, **kwargs):
        calls.append(["PoolManager", list(args), kwargs])
        {construct}

    def request(self, *args, **kwargs):
        calls.append(["request", list(args), kwargs])
        {respond}
'''

REPORT = '''
import qel
standin = sys.modules.get("urllib3")
print(json.dumps({
    "bound": [n for n in ("PoolManager", "new_qel") if n in vars(qel)],
    "new_qel": repr(vars(qel).get("new_qel")),
    "same_class": "PoolManager" in vars(qel) and qel.PoolManager is standin.PoolManager,
    "calls": getattr(standin, "calls", None),
}))
'''

# Before the import: a stream object that refuses texts holding a given marker,
# so that one particular notice fails to be written.
REFUSING_STDERR = '''
class Refusing:
    def write(self, text):
        if REFUSE in text:
            raise OSError("refused")
        return sys.__stderr__.write(text)
    def flush(self):
        sys.__stderr__.flush()
sys.stderr = Refusing()
'''


def search_path(first):
    return os.pathsep.join(filter(None, [str(first), os.environ.get("PYTHONPATH")]))


def run_check(tmp_path, *, respond="return Response(b'2.3')", construct="pass",
              module=None, prelude="", env=None):
    package = tmp_path / "urllib3"
    package.mkdir()
    source = module if module is not None else STANDIN.format(respond=respond, construct=construct)
    (package / "__init__.py").write_text(textwrap.dedent(source))
    code = "import json, sys\n" + textwrap.dedent(prelude) + textwrap.dedent(REPORT)
    result = run_python(code, env={"PYTHONPATH": search_path(tmp_path), **(env or {})}, quiet=False)
    return result, json.loads(result.out)


REQUESTED = [["PoolManager", [], {}], ["request", ["GET", VERSION_FILE], {}]]


@pytest.mark.parametrize("body, shown", [
    (b"2.3", "2.3"),
    (b"3", "3.0"),
    (b"2.3\n", "2.3"),
    (b"  2.25\t", "2.25"),
])
def test_newer_version_is_announced(tmp_path, body, shown):
    result, report = run_check(tmp_path, respond=f"return Response({body!r})")
    assert result.err == stderr_bytes(WELCOME, newer(shown))
    assert report == {"bound": ["PoolManager", "new_qel"], "new_qel": repr(float(body)),
                      "same_class": True, "calls": REQUESTED}


@pytest.mark.parametrize("body", [b"2.2", b"2.10", b"1", b"-5e3", b"nan"])
def test_version_not_newer_gives_welcome_only(tmp_path, body):
    result, report = run_check(tmp_path, respond=f"return Response({body!r})")
    assert result.err == stderr_bytes(WELCOME)
    assert report["bound"] == ["PoolManager", "new_qel"]
    assert report["new_qel"] == repr(float(body))
    assert report["calls"] == REQUESTED


# Everything that goes wrong once PoolManager is imported: the failure line,
# PoolManager stays bound, new_qel is not, and the import goes on.
@pytest.mark.parametrize("construct, respond", [
    ("pass", "raise ConnectionFailed('name lookup failed')"),
    ("pass", "raise OSError('network is unreachable')"),
    ("pass", "raise KeyboardInterrupt"),
    ("pass", "raise SystemExit(3)"),
    ("pass", "return Response(b'<html><body>404 Not Found</body></html>')"),
    ("pass", "return Response(b'')"),
    ("pass", "return Response(None)"),
    ("pass", "return object()"),
    ("raise KeyboardInterrupt", "return Response(b'2.3')"),
], ids=["urllib3-error", "oserror", "ctrl-c", "systemexit", "html-page", "empty-body",
        "no-bytes", "no-data", "ctrl-c-in-constructor"])
def test_failed_check_reports_and_import_goes_on(tmp_path, construct, respond):
    result, report = run_check(tmp_path, construct=construct, respond=respond)
    assert result.err == stderr_bytes(WELCOME, FAILED)
    assert report["bound"] == ["PoolManager"]
    assert report["same_class"]
    assert report["calls"] == REQUESTED[: 1 if construct != "pass" else 2]


@pytest.mark.parametrize("module, prelude", [
    ("raise ImportError('broken urllib3')\n", ""),
    ("raise KeyboardInterrupt\n", ""),
    ("calls = []\n", ""),                        # no PoolManager in the package
    ("calls = []\n", "sys.modules['urllib3'] = None\n"),  # not installed
], ids=["import-error", "ctrl-c-on-import", "no-poolmanager", "missing"])
def test_urllib3_not_importable(tmp_path, module, prelude):
    result, report = run_check(tmp_path, module=module, prelude=prelude)
    assert result.err == stderr_bytes(WELCOME, FAILED)
    assert report["bound"] == []


def test_failure_to_write_newer_version_line_counts_as_failed_check(tmp_path):
    prelude = "REFUSE = 'New version detected'\n" + REFUSING_STDERR
    result, report = run_check(tmp_path, prelude=prelude)
    assert result.err == stderr_bytes(WELCOME, FAILED)
    assert report["bound"] == ["PoolManager", "new_qel"]
    assert report["new_qel"] == "2.3"


@pytest.mark.parametrize("refuse", ["Welcome to the QEL", "Unable to get the latest"])
def test_failure_to_write_welcome_or_failure_line_ends_import(tmp_path, refuse):
    code = (f"import sys\nREFUSE = {refuse!r}\n" + REFUSING_STDERR
            + "try:\n    import qel\nexcept OSError as e:\n    print(repr(e), 'qel' in sys.modules)\n")
    result = run_python(code, env={"PYTHONPATH": search_path(tmp_path)}, quiet=False)
    assert result.out == b"OSError('refused') False\n"


# (qel.no_info, qel.no_check) -> (welcome shown, check made); None means unset.
@pytest.mark.parametrize("no_info, no_check, welcome, check", [
    ("1", None, False, False),
    ("1", "1", False, False),
    ("1", "0", False, False),
    (None, None, True, True),
    ("0", None, True, True),
    (" 1", None, True, True),
    ("1 ", None, True, True),
    ("", None, True, True),
    ("true", None, True, True),
    (None, "1", True, False),
    ("0", "1", True, False),
    (None, "0", True, True),
    (None, " 1", True, True),
    (None, "", True, True),
    (None, "yes", True, True),
])
def test_environment_switches(tmp_path, no_info, no_check, welcome, check):
    # The switches are read from os.environ at import time, not from the
    # process environment at start-up: set them the way the docstring says.
    prelude = "".join(
        f"os.environ[{name!r}] = {value!r}\n" if value is not None else f"os.environ.pop({name!r}, None)\n"
        for name, value in (("qel.no_info", no_info), ("qel.no_check", no_check)))
    result, report = run_check(tmp_path, prelude="import os\n" + prelude,
                               env={"qel.no_info": "1", "qel.no_check": "1"})
    expected = ([WELCOME] if welcome else []) + ([newer("2.3")] if check else [])
    assert result.err == stderr_bytes(*expected)
    assert report["bound"] == (["PoolManager", "new_qel"] if check else [])
    # No check means urllib3 is not even imported, so no connection either.
    assert report["calls"] == (REQUESTED if check else None)
