"""Cost of the installed stream writers with no listener open.

Each writer is measured on a text stream on /dev/null that carries the hook
(`vanilla_write` + `write`, exactly as the import installs them on sys.stdout
and sys.stderr), against the same kind of stream without any hook. For
comparison, the same writers written in Python are measured too.

    python bench/bench_writers.py -o writers.json      # full run, then ratios
    python bench/bench_writers.py --fast                # quicker, noisier
    python bench/bench_writers.py --write-through       # every write reaches the OS
    python bench/bench_writers.py --distinct            # a different line object each time

Ratios are printed at the end, all from this one run: of the means, and of
the medians, which a few processes that ran while the machine was busy with
something else shift less.
"""
import io
import os
import sys

os.environ.setdefault("qel.no_info", "1")

import pyperf

import qel

LINE = "x" * 80
# For --distinct: 256 different lines of the same length, written in turn, so
# that no write passes the object the one before it did.
LINES = [f"{i:03d}" + "x" * 77 for i in range(256)]
LOOPS_PER_CALL = 1000

NATIVE = {"stdout": sys.stdout.write, "stderr": sys.stderr.write}


def python_writers():
    """The two writers written in Python, for comparison only."""
    listener = qel.terminal_listener
    to_str = qel.str

    def stdout_write(text):
        sys.stdout.vanilla_write(text)
        for i in listener.listeners:
            i.content = i.content + to_str(text)

    def stderr_write(text):
        sys.stderr.vanilla_write("\x1b[31;1m" + text + "\x1b[0m")
        for i in listener.listeners:
            i.content = i.content + to_str("\x1b[31;1m" + text + "\x1b[0m")

    return {"stdout": stdout_write, "stderr": stderr_write}


WRITE_THROUGH = False
DISTINCT = False


def devnull():
    """A text stream on /dev/null: buffered, or with every write passed
    straight to the OS (as a terminal's line-by-line output roughly is)."""
    if WRITE_THROUGH:
        return io.TextIOWrapper(open(os.devnull, "wb", buffering=0), encoding="utf-8", write_through=True)
    return open(os.devnull, "w", encoding="utf-8")


def hooked(writer):
    stream = devnull()
    stream.vanilla_write = stream.write
    stream.write = writer
    return stream


def timed(stream_name, stream, how):
    """A pyperf time function: `loops` prints or writes of LINE (of LINES in
    turn, with --distinct) to `stream`, with sys.<stream_name> pointing at it
    (the writers look it up per call)."""
    perf_counter = pyperf.perf_counter
    write = stream.write

    # One loop per case, with everything it uses in locals, so that each
    # times nothing but its own calls.
    if DISTINCT and how == "print":
        def body(loops, lines=LINES, f=stream):
            t0 = perf_counter()
            for i in range(loops):
                print(lines[i & 255], file=f)
            return perf_counter() - t0
    elif DISTINCT:
        def body(loops, lines=LINES, w=write):
            t0 = perf_counter()
            for i in range(loops):
                w(lines[i & 255])
            return perf_counter() - t0
    elif how == "print":
        def body(loops, line=LINE, f=stream):
            t0 = perf_counter()
            for _ in range(loops):
                print(line, file=f)
            return perf_counter() - t0
    else:
        def body(loops, line=LINE, w=write):
            t0 = perf_counter()
            for _ in range(loops):
                w(line)
            return perf_counter() - t0

    def run(loops):
        saved = getattr(sys, stream_name)
        setattr(sys, stream_name, stream)
        try:
            return body(loops)
        finally:
            setattr(sys, stream_name, saved)
    return run


def add_cmdline_args(cmd, args):
    if args.write_through:
        cmd.append("--write-through")
    if args.distinct:
        cmd.append("--distinct")


def main():
    global WRITE_THROUGH, DISTINCT
    runner = pyperf.Runner(add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--write-through", action="store_true",
                                  help="unbuffered /dev/null streams (each write reaches the OS)")
    runner.argparser.add_argument("--distinct", action="store_true",
                                  help="write 256 different lines in turn instead of one line")
    args = runner.parse_args()
    WRITE_THROUGH = args.write_through
    DISTINCT = args.distinct
    runner.metadata["description"] = "qel stream writers, no listener open"
    runner.metadata["stream"] = "write-through" if WRITE_THROUGH else "buffered"
    runner.metadata["lines"] = "256 distinct" if DISTINCT else "one"
    python = python_writers()
    results = {}
    for stream_name in ("stdout", "stderr"):
        for how in ("print", "write"):
            cases = {
                "plain": devnull(),
                "native": hooked(NATIVE[stream_name]),
                "python": hooked(python[stream_name]),
            }
            for kind, stream in cases.items():
                name = f"{stream_name} {how} {kind}"
                results[name] = runner.bench_time_func(name, timed(stream_name, stream, how))

    if runner.args.worker or any(b is None for b in results.values()):
        return
    out = sys.stdout.vanilla_write
    kind = "write-through" if WRITE_THROUGH else "buffered"
    lines = ", 256 distinct lines" if DISTINCT else ""
    out(f"\nPython {sys.version.split()[0]}: ratios against the unhooked {kind} /dev/null stream{lines}\n")
    for stream_name in ("stdout", "stderr"):
        for how in ("print", "write"):
            plain = results[f"{stream_name} {how} plain"]
            native = results[f"{stream_name} {how} native"]
            python = results[f"{stream_name} {how} python"]
            out(f"  {stream_name:6} {how:5}: native {native.mean() / plain.mean():.2f}x"
                f"   python-written {python.mean() / plain.mean():.2f}x   (plain {plain.mean() * 1e9:.0f} ns);"
                f"   medians: {native.median() / plain.median():.2f}x, {python.median() / plain.median():.2f}x\n")


if __name__ == "__main__":
    main()
