"""Capture throughput: N writes of an 80-character line into one open
terminal listener, against the same N writes through
contextlib.redirect_stdout into io.StringIO, for N = 10,000 / 100,000 /
1,000,000. pyperf reports time per write (inner_loops = N); the ratios and
the slope of time per write against N are printed at the end.

The listener case writes through the installed standard output writer on a
text stream on /dev/null (the hook exactly as the import installs it), so it
pays for that stream's own write as well.

    python bench/bench_capture.py -o capture.json
"""
import contextlib
import io
import os
import sys

os.environ.setdefault("qel.no_info", "1")

import pyperf

import qel

LINE = "x" * 79 + "\n"
SIZES = (10_000, 100_000, 1_000_000)


def listener_case(n):
    stream = open(os.devnull, "w", encoding="utf-8")
    stream.vanilla_write = stream.write
    stream.write = sys.stdout.write

    def run(loops):
        total = 0.0
        for _ in range(loops):
            saved = sys.stdout
            sys.stdout = stream
            listener = qel.terminal_listener()
            try:
                write, line = sys.stdout.write, LINE
                t0 = pyperf.perf_counter()
                for _ in range(n):
                    write(line)
                total += pyperf.perf_counter() - t0
            finally:
                listener.close()
                sys.stdout = saved
            assert len(listener.content) == n * len(LINE)
        return total
    return run


def stringio_case(n):
    def run(loops):
        total = 0.0
        for _ in range(loops):
            with contextlib.redirect_stdout(io.StringIO()) as buffer:
                write, line = sys.stdout.write, LINE
                t0 = pyperf.perf_counter()
                for _ in range(n):
                    write(line)
                total += pyperf.perf_counter() - t0
            assert len(buffer.getvalue()) == n * len(LINE)
        return total
    return run


def main():
    runner = pyperf.Runner(processes=6, values=3, loops=1)
    runner.metadata["description"] = "terminal_listener capture vs redirect_stdout(StringIO)"
    results = {}
    for n in SIZES:
        for kind, case in (("listener", listener_case), ("stringio", stringio_case)):
            name = f"capture {kind} {n}"
            results[(kind, n)] = runner.bench_time_func(name, case(n), inner_loops=n)
    if runner.args.worker or any(b is None for b in results.values()):
        return
    out = sys.stdout.vanilla_write
    out(f"\nPython {sys.version.split()[0]}: time per write\n")
    for n in SIZES:
        mine = results[("listener", n)].mean()
        base = results[("stringio", n)].mean()
        out(f"  {n:>9,} writes: listener {mine * 1e9:6.0f} ns  StringIO {base * 1e9:6.0f} ns"
            f"  ratio {mine / base:.2f}x\n")
    small, large = results[("listener", SIZES[0])].mean(), results[("listener", SIZES[-1])].mean()
    out(f"  slope (listener, per write, {SIZES[-1]:,} vs {SIZES[0]:,} writes): {large / small:.2f}x\n")


if __name__ == "__main__":
    main()
