"""Import time of qel with the start-up notice off ("qel.no_info" = "1"),
against a baseline: importing only the standard modules qel imports itself
(socket, json, random, traceback, string).

    python bench/bench_import.py -o bench/import.json

Every sample is a fresh interpreter that times, with perf_counter, first the
standard imports (the baseline) and then `import qel`, which at that point
costs only the module's own share: loading the extension and running its
body. Timing inside the child keeps interpreter start-up, which is far larger
and noisier than either figure, out of both.
"""
import subprocess
import sys

import pyperf

CHILD = """
import os, time
os.environ['qel.no_info'] = '1'
t0 = time.perf_counter()
import socket, json, random, traceback, string
t1 = time.perf_counter()
import qel
t2 = time.perf_counter()
print(t1 - t0, t2 - t1)
"""


def timed_imports(loops, which):
    total = 0.0
    for _ in range(loops):
        out = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, check=True,
                             text=True).stdout
        total += float(out.split()[which])
    return total


def main():
    # Each sample is a whole interpreter; a fixed, small number of loops keeps
    # the run to a few minutes (calibration would ask for dozens per value).
    runner = pyperf.Runner(values=3, processes=8, loops=4)
    runner.metadata["description"] = "import qel against the standard modules it imports"
    baseline = runner.bench_time_func("standard modules (baseline)", timed_imports, 0)
    module = runner.bench_time_func("import qel, own share", timed_imports, 1)
    if baseline is None or module is None:  # in a worker process
        return
    print(f"qel's own share: {module.mean() * 1e3:.3f} ms = "
          f"{module.mean() / baseline.mean():.2f}x the baseline ({baseline.mean() * 1e3:.3f} ms)")


if __name__ == "__main__":
    main()
