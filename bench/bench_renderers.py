"""Renderer speed against a plain-Python drawing of the same picture.

Baseline: the same scheme written in Python (one random.randint per ink cell,
join, print), on the same glyph and fill. Both print into a StringIO.

    python bench/bench_renderers.py -o bench/renderers.json --fast
    python -m pyperf compare_to ... (or read the ratio printed at the end)
"""
import contextlib
import io
import os
import random

import pyperf

os.environ.setdefault("qel.no_info", "1")  # no start-up notice or version check

import qel

SINK = io.StringIO()


def python_lute(Str, _glyph=None):
    fill = list(Str)
    n = len(fill)
    picture = [fill[random.randint(0, n - 1)] if c == "\x00" else c for c in _glyph]
    print("".join(picture))


def capture_glyph():
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        qel.__string__.lute("\x00")
    return out.getvalue()[:-1]


GLYPH = capture_glyph()


def run(loops, render, arg):
    SINK.seek(0)
    SINK.truncate()
    with contextlib.redirect_stdout(SINK):
        t0 = pyperf.perf_counter()
        for _ in range(loops):
            render(arg)
        return pyperf.perf_counter() - t0


def main():
    runner = pyperf.Runner()
    baseline = runner.bench_time_func("baseline: python lute('qel')", run,
                                      lambda s: python_lute(s, GLYPH), "qel")
    native = runner.bench_time_func("qel.__string__.lute('qel')", run, qel.__string__.lute, "qel")
    colour = runner.bench_time_func("qel.__string__.lute(color)", run, qel.__string__.lute,
                                    qel.__string__.color)
    if baseline is not None and native is not None and colour is not None:
        base = baseline.mean()
        print(f"ratio lute('qel') / baseline: {native.mean() / base:.2f}")
        print(f"ratio lute(color) / baseline: {colour.mean() / base:.2f}")


if __name__ == "__main__":
    main()
