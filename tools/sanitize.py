#!/usr/bin/env python3
"""The test suite under AddressSanitizer and LeakSanitizer.

    python tools/sanitize.py [--python PYTHON] [--keep DIR] [pytest arguments...]

Builds qel with -fsanitize=address (the QEL_SANITIZE option) into a fresh
virtual environment of PYTHON, then runs the tests with the sanitizer runtime
preloaded and the interpreter allocating through malloc (PYTHONMALLOC=malloc),
so that every object the module makes is seen by the sanitizer. Child
interpreters started by the tests inherit the same settings. Reports go to
files (the tests compare stream bytes exactly), one per process.

Memory errors: any AddressSanitizer error report fails the run.

Leaks: the interpreter itself leaves memory behind at exit, which LeakSanitizer
reports as well. A leak counts against the module when one of the frames of its
allocation stack lies in qel's shared library (allocated by the module's code,
or by the interpreter on the module's behalf) and the stack does not pass
through what the interpreter owns and keeps until exit: interned strings,
imports (the import of qel included) and the codec cache (tools/lsan-python.supp).

Two passes. The whole suite runs with the fast unwinder: it finds memory errors
anywhere, but its allocation stacks stop inside libpython (the interpreter is
built without frame pointers), so they seldom reach the module's frames. Then
every operation of tools/leakcheck.py, on its success and failure paths, runs
--rounds times with the slow unwinder, whose stacks are complete: that pass is
the one that attributes leaks.

Exit status 0 when the tests pass and no error and no leak of the module was
found; the counts of both passes are printed at the end.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sh(*args, **kwargs):
    print("+", " ".join(args), flush=True)
    return subprocess.run(args, check=True, **kwargs)


def runtime():
    """The compiler's sanitizer runtime, to preload into an interpreter built without it."""
    out = subprocess.run(["gcc", "-print-file-name=libasan.so"], capture_output=True, text=True, check=True)
    path = os.path.realpath(out.stdout.strip())
    if not os.path.exists(path):
        sys.exit(f"no AddressSanitizer runtime at {path}: install the compiler's libasan")
    return path


def build(python, venv):
    sh(python, "-m", "venv", venv)
    vpy = os.path.join(venv, "bin", "python")
    sh(vpy, "-m", "pip", "install", "-q", "--upgrade", "pip")
    sh(vpy, "-m", "pip", "install", "-q", "scikit-build-core", "pytest", "hypothesis", "urllib3", "trustme", "pyte")
    # The options also go in the environment, which a caller (CI) may already
    # use for CMake definitions of its own.
    env = dict(os.environ, SKBUILD_CMAKE_DEFINE="QEL_SANITIZE=ON;QEL_WERROR=ON")
    sh(vpy, "-m", "pip", "install", "-q", "--no-build-isolation",
       "-C", f"build-dir={os.path.join(venv, 'build')}",
       "-C", "cmake.define.QEL_SANITIZE=ON", "-C", "cmake.define.QEL_WERROR=ON",
       "-C", "cmake.build-type=RelWithDebInfo", ROOT, env=env)
    return vpy


def instrumented(module_file):
    """Whether the built module calls into the sanitizer runtime."""
    out = subprocess.run(["nm", "-D", "--undefined-only", module_file], capture_output=True, text=True)
    return "__asan_init" in out.stdout or "__asan_report" in out.stdout


LEAK_HEAD = re.compile(r"^(Direct|Indirect) leak of (\d+) byte\(s\) in (\d+) object\(s\) allocated from:", re.M)
ERROR_HEAD = re.compile(r"^==\d+==ERROR: AddressSanitizer: (.*)$", re.M)


def parse(report_dir, module_file):
    """(errors, module leaks, other leaks) from every report file: lists of text blocks."""
    errors, ours, theirs = [], [], []
    module_name = os.path.basename(module_file)
    for path in sorted(glob.glob(os.path.join(report_dir, "asan.*"))):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for m in ERROR_HEAD.finditer(text):
            errors.append(f"{path}: {text[m.start():m.start() + 4000]}")
        heads = list(LEAK_HEAD.finditer(text))
        for i, m in enumerate(heads):
            end = heads[i + 1].start() if i + 1 < len(heads) else len(text)
            block = text[m.start():end].split("\n\n")[0]
            # Frames name the library, or, once symbolized, the module's sources.
            in_module = module_name in block or "/src/qel/" in block or " in qel::" in block
            (ours if in_module else theirs).append(block)
    return errors, ours, theirs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--python", default=sys.executable, help="interpreter to build and test with")
    parser.add_argument("--keep", help="keep the virtual environment and reports in this directory")
    parser.add_argument("--rounds", type=int, default=100, help="calls of each operation in the second pass")
    parser.add_argument("--plant-leak", action="store_true",
                        help="only the second pass, with an operation that leaks: the run must then fail")
    args, pytest_args = parser.parse_known_args()

    work = args.keep or tempfile.mkdtemp(prefix="qel-sanitize-")
    os.makedirs(work, exist_ok=True)
    venv = os.path.join(work, "venv")
    vpy = os.path.join(venv, "bin", "python")
    if not os.path.exists(vpy):
        build(args.python, venv)
    module_file = subprocess.run(
        [vpy, "-c", "import importlib.util; print(importlib.util.find_spec('qel').origin)"],
        capture_output=True, text=True, check=True).stdout.strip()

    if not instrumented(module_file):
        sys.exit(f"{module_file} was not built with AddressSanitizer")
    preload = runtime()
    suppressions = os.path.join(ROOT, "tools", "lsan-python.supp")

    def run(name, command, slow_unwind):
        """Runs command with the sanitizer; (exit status, errors, module leaks, other leaks)."""
        reports = os.path.join(work, "reports-" + name)
        shutil.rmtree(reports, ignore_errors=True)
        os.makedirs(reports)
        env = dict(os.environ)
        env.update({
            "LD_PRELOAD": preload,
            "PYTHONMALLOC": "malloc",
            "ASAN_OPTIONS": ":".join([
                "detect_leaks=1", f"log_path={reports}/asan", "detect_odr_violation=0",
                "allocator_may_return_null=1", "malloc_context_size=40",
                f"fast_unwind_on_malloc={0 if slow_unwind else 1}",
            ]),
            # Leaks are counted from the reports; they must not change exit statuses.
            "LSAN_OPTIONS": f"exitcode=0:suppressions={suppressions}",
        })
        status = subprocess.run(command, cwd=ROOT, env=env).returncode
        return (status, *parse(reports, module_file))

    # 1. The whole suite: memory errors anywhere, leaks with a frame of the module.
    passes = []
    if not args.plant_leak:
        passes.append(("suite", run("suite", [vpy, "-m", "pytest", "-q", "-p", "no:cacheprovider", *pytest_args],
                                    False)))
    # 2. Every operation, on success and failure paths, with full allocation stacks.
    planted = ["--plant-leak"] if args.plant_leak else []
    passes.append(("operations", run("operations", [vpy, os.path.join(ROOT, "tools", "leakcheck.py"), "--exercise",
                                                    "--rounds", str(args.rounds), *planted], True)))

    failed = False
    for name, (status, errors, ours, theirs) in passes:
        for block in errors + ours:
            print(block, "\n", file=sys.stderr)
        print(f"sanitizer {name}: exit {status}; {len(errors)} memory errors, {len(ours)} leaks in qel "
              f"({len(theirs)} leak records of the interpreter itself)")
        failed = failed or status != 0 or bool(errors) or bool(ours)
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
