#!/usr/bin/env python3
"""A long fuzz of every callable: the fuzz tests with many more examples.

    python tools/fuzz.py [--examples N] [pytest arguments...]

Runs tests/test_fuzz.py and the writer and namespace fuzz of tests/test_reliability.py with
QEL_FUZZ_EXAMPLES=N (default 5000 per callable; the normal test run uses 60).
Uses the installed qel; run from a virtual environment where it is installed.
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--examples", type=int, default=5000)
    args, pytest_args = parser.parse_known_args()
    env = dict(os.environ, QEL_FUZZ_EXAMPLES=str(args.examples))
    command = [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
               "tests/test_fuzz.py", "tests/test_reliability.py::test_child_fuzz",
               *pytest_args]
    return subprocess.run(command, cwd=ROOT, env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
