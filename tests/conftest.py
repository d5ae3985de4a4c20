"""Shared test helpers.

Importing qel hooks the process's standard streams, so anything that looks at
stream bytes or at the import itself runs in a fresh interpreter through
`run_python`. Tests of pure functions import qel here, with the start-up notice
switched off.
"""
import os
import subprocess
import sys
import textwrap
from dataclasses import dataclass

import pytest

os.environ["qel.no_info"] = "1"


@dataclass
class Result:
    out: bytes
    err: bytes
    code: int

    @property
    def text(self):
        return self.out.decode("utf-8")


def run_python(code, *, env=None, quiet=True, check=True, timeout=60):
    """Runs `code` in a new interpreter; returns its exact stdout/stderr bytes.

    `quiet` sets qel.no_info=1 (no start-up notice, no network); `env` entries
    are added to (or, with value None, removed from) the child's environment.
    """
    child_env = dict(os.environ)
    child_env.pop("qel.no_info", None)
    child_env.pop("qel.no_check", None)
    child_env["PYTHONIOENCODING"] = "utf-8"
    if quiet:
        child_env["qel.no_info"] = "1"
    for key, value in (env or {}).items():
        if value is None:
            child_env.pop(key, None)
        else:
            child_env[key] = value
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        env=child_env,
        timeout=timeout,
    )
    result = Result(proc.stdout, proc.stderr, proc.returncode)
    if check and proc.returncode != 0:
        raise AssertionError(
            f"child failed ({proc.returncode}):\n{proc.stderr.decode('utf-8', 'replace')}"
        )
    return result


@pytest.fixture
def py():
    return run_python
