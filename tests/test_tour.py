"""The README's tour runs as written, needs no network, and prints the same each time."""
import os
import pathlib
import subprocess
import sys

import pytest

from expected_notices import WELCOME, stderr_bytes

TOUR = pathlib.Path(__file__).resolve().parent.parent / "examples" / "tour.py"


def run_tour():
    env = {k: v for k, v in os.environ.items() if not k.startswith("qel.")}
    env["PYTHONIOENCODING"] = "utf-8"
    return subprocess.run([sys.executable, str(TOUR)], capture_output=True, env=env, timeout=60)


@pytest.mark.skipif(not TOUR.exists(), reason="the examples are not beside the tests")
def test_tour_runs_offline_and_reproducibly():
    first, second = run_tour(), run_tour()
    assert first.returncode == 0, first.stderr.decode("utf-8", "replace")
    assert (first.stdout, first.stderr) == (second.stdout, second.stderr)
    note = stderr_bytes("a notice, in the module's message format")
    # The welcome line and nothing of a version check; then what the tour writes itself.
    assert first.stderr == (stderr_bytes(WELCOME) + b"\x1b[31;1mstandard error shows in bold red\x1b[0m"
                            + b"\x1b[31;1m\n\x1b[0m" + note)
    out = first.stdout.decode("utf-8")
    for line in ("qe_remove: bnna\n", "qe_decode: été\n", "qe_only: 1 None\n", "numberOfSteps(14): 6\n",
                 "multiple(-4, 12, -9): [-8, -4, 0, 4, 8, 12]\n", "__string__.qel.vb.rover_tam:\n"):
        assert line in out


README = TOUR.parent.parent / "README.md"


@pytest.mark.skipif(not README.exists(), reason="the README is not beside the tests")
def test_readme_shows_the_tour_as_it_is():
    text = README.read_text(encoding="utf-8")
    assert "```python\n" + TOUR.read_text(encoding="utf-8") + "```\n" in text
    assert "![" in text and "](docs/tour.png)" in text
    assert (README.parent / "docs" / "tour.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
