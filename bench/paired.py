"""Ratios measured in the same process: each job and its baseline timed
alternately in one interpreter, in several fresh interpreters; prints the
median of the per-process ratios and their range.

    python bench/paired.py writers [--processes 9]
    python bench/paired.py string [--only qe_remove] [--processes 9]

Why beside pyperf: on some machines (shared virtual ones among them) the speed
of a process differs from the next one's by as much as twice, for the same
code, for the life of the process. pyperf times each benchmark in processes of
its own, so a ratio of two of its means carries that spread; timing both sides
in the same process cancels it. `writers` pairs the installed writers, and the
same writers written in Python, with the same /dev/null stream unhooked
(bench_writers.py); `string` pairs each qel.str method with its plain-Python
twin (bench_string.py), given as twin/qel like bench/ratios.py.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
from pathlib import Path

os.environ.setdefault("qel.no_info", "1")
HERE = Path(__file__).resolve().parent
ROUNDS = 15


# Each pair: (name, the baseline's time function, qel's time function, loops per timing).

def writer_pairs():
    import bench_writers as bw
    python = bw.python_writers()
    for stream_name in ("stdout", "stderr"):
        for how in ("print", "write"):
            plain = bw.timed(stream_name, bw.devnull(), how)
            native = bw.timed(stream_name, bw.hooked(bw.NATIVE[stream_name]), how)
            yield f"{stream_name} {how}", plain, native, 20_000
    # For comparison: the same writers written in Python.
    for stream_name in ("stdout", "stderr"):
        for how in ("print", "write"):
            plain = bw.timed(stream_name, bw.devnull(), how)
            written = bw.timed(stream_name, bw.hooked(python[stream_name]), how)
            yield f"{stream_name} {how} (Python)", plain, written, 20_000


def string_pairs(only):
    import bench_string as bs
    import pyperf

    def timed(call):
        def run(loops):
            t0 = pyperf.perf_counter()
            for _ in range(loops):
                call()
            return pyperf.perf_counter() - t0
        return run

    for name, native, twin in bs.jobs():
        if only in name:
            # The twin is the baseline; the ratio is printed as twin/qel.
            yield name, timed(twin), timed(native), 50 if name != "qe_addcolor" else 2


def child(kind, only):
    sys.path.insert(0, str(HERE))
    pairs = writer_pairs() if kind == "writers" else string_pairs(only)
    out = {}
    for name, base, ours, loops in pairs:
        base(loops), ours(loops)  # warm up
        best_base = best_ours = float("inf")
        for i in range(ROUNDS):
            # Alternate which side goes first, so neither always follows the other.
            order = (base, ours) if i % 2 == 0 else (ours, base)
            times = {id(f): f(loops) for f in order}
            best_base = min(best_base, times[id(base)])
            best_ours = min(best_ours, times[id(ours)])
        out[name] = best_ours / best_base if kind == "writers" else best_base / best_ours
    write = getattr(sys.stdout, "vanilla_write", sys.stdout.write)
    write(json.dumps(out) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kind", choices=["writers", "string"])
    parser.add_argument("--processes", type=int, default=9)
    parser.add_argument("--only", default="")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        return child(args.kind, args.only)
    runs = []
    for _ in range(args.processes):
        result = subprocess.run([sys.executable, __file__, args.kind, "--child", "--only", args.only],
                                capture_output=True, text=True, check=True)
        runs.append(json.loads(result.stdout.strip().splitlines()[-1]))
    what = "writer / unhooked stream" if args.kind == "writers" else "plain Python / qel"
    print(f"Python {sys.version.split()[0]}: {what}, median of {args.processes} processes (range)")
    for name in runs[0]:
        ratios = sorted(r[name] for r in runs)
        print(f"  {name:24} {statistics.median(ratios):7.2f}x   ({ratios[0]:.2f}-{ratios[-1]:.2f})")


if __name__ == "__main__":
    main()
