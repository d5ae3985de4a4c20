#!/usr/bin/env python3
"""Runs every public operation of qel many times under tracemalloc and fails
when the traced memory grows.

    python tools/leakcheck.py [--rounds N] [--only SUBSTRING]

Each operation, on its success and on its failure paths, is run a few times to
warm up (caches of the interpreter fill), then N times; the traced memory after
a garbage collection must not have grown by more than LIMIT bytes in all (four
bytes per call, and at least 16 KiB, which leaves room for the interpreter's
own tables, whose layout varies with the hash seed) in at least one of three
rounds, while leaking one object per call would add at least 16 bytes per call. Prints one line per operation and a summary; exit status 1
when an operation grew. Run in a fresh interpreter: it imports qel with both
standard streams pointed at the null device, so the output of the operations
goes nowhere; the results go to the original standard output.
"""
import argparse
import gc
import io
import os
import sys
import tracemalloc

real_stdout, real_stderr = sys.stdout, sys.stderr
# Unbuffered, so that no pending output looks like growth.
sys.stdout = io.TextIOWrapper(open(os.devnull, "wb", buffering=0), encoding="utf-8", write_through=True)
sys.stderr = io.TextIOWrapper(open(os.devnull, "wb", buffering=0), encoding="utf-8", write_through=True)
os.environ["qel.no_info"] = "1"
import qel  # noqa: E402  (after the streams are redirected: it hooks them)

S = qel.str
L = qel.terminal_listener
J = qel.json({"a": [1, 2, {"b": None}], "c": "ю"})


class Boom(Exception):
    pass


class Hostile:
    def __eq__(self, other):
        raise Boom

    __ne__ = __eq__
    __hash__ = None

    def __str__(self):
        raise Boom

    __repr__ = __str__

    def __len__(self):
        raise Boom

    def __index__(self):
        raise Boom


HOSTILE = Hostile()


def ignore(*exceptions):
    """Wraps an operation that is meant to raise one of `exceptions`."""
    def wrap(op):
        def run():
            try:
                op()
            except exceptions:
                return
            raise AssertionError("expected an exception")
        return run
    return wrap


def listener_round_trip():
    t = L()
    print("x")
    sys.stderr.write("e")
    t.read(), str(t), repr(t)
    t.close()


def listener_with_log():
    t = L(1)
    t.close()


def closed_listener_finalizer():
    t = L()
    t.close()
    del t  # its finalizer raises ValueError, reported as unraisable (to the null device)


def listener_with_bad_content():
    t = L()
    t.content = 5
    try:
        print("x")
    except TypeError:
        pass
    finally:
        t.close()


def several_listeners():
    ts = [L() for _ in range(6)]  # more than the writers keep inline
    sys.stdout.write("abc" * 10)
    sys.stdout.write("ю")
    for t in ts:
        t.close()


@ignore(ValueError)
def close_twice():
    t = L()
    t.close()
    t.close()


def replaced_stdout(value):
    def run():
        saved = sys.stdout
        writer = saved.write
        sys.stdout = value
        try:
            writer("x")
        except (AttributeError, TypeError, Boom):
            pass
        finally:
            sys.stdout = saved
    return run


class RaisingWrite:
    def vanilla_write(self, text):
        raise Boom


OPERATIONS = {
    # the extended str
    "str.__repr__": lambda: repr(S('a\\"\r\n\t\x1bю')),
    "str.qe_addcolor": lambda: S("abcю").qe_addcolor(),
    "str.qe_rmcolor": lambda: S("\x1b[31ma\x1b[32mb\x1b[0m").qe_rmcolor(),
    "str.qe_goto_unicode": lambda: (S("aю\U0001f600\x00").qe_goto_unicode(), S("ab").qe_goto_unicode(0)),
    "str.qe_goto_unicode hostile ifx": ignore(Boom)(lambda: S("a").qe_goto_unicode(HOSTILE)),
    "str.qe_decode": lambda: S("\xc3\xa9ю").qe_decode(),
    "str.qe_decode bad codec": ignore(LookupError)(lambda: S("a").qe_decode("no-such-codec")),
    "str.qe_decode bad bytes": ignore(UnicodeDecodeError)(lambda: S("\xff").qe_decode()),
    "str.qe_decode hostile codec": ignore(Boom, TypeError)(lambda: S("a").qe_decode(HOSTILE)),
    "str.qe_goto_qel": lambda: S("msg").qe_goto_qel(),
    "str.qe_remove": lambda: (S("xaxax").qe_remove("x", 2), S("xaxax").qe_remove("x")),
    "str.qe_remove bad": ignore(TypeError)(lambda: S("a").qe_remove(1)),
    "str.qe_remove hostile times": ignore(TypeError)(lambda: S("a").qe_remove("a", HOSTILE)),
    "str.qe_only": lambda: (S("aaa").qe_only("a"), S("aab").qe_only("a")),
    "str.qe_only hostile": ignore(Boom)(lambda: S("a").qe_only(HOSTILE)),
    "str methods, any self": ignore(TypeError, AttributeError)(lambda: S.qe_addcolor(5)),
    "str methods, list self": lambda: (S.qe_only([1, 1], 1), S.qe_only((), 1)),
    "str call errors": ignore(TypeError)(lambda: S("a").qe_remove(to_rmm="a")),
    # renderers
    "hut text": lambda: qel.__string__.hut("ab"),
    "lute colours": lambda: qel.__string__.lute(qel.__string__.color),
    "qel.qel report": lambda: qel.__string__.qel.qel(5),
    "rover_tam hostile": ignore(Boom)(lambda: qel.__string__.qel.vb.rover_tam(HOSTILE)),
    # terminal
    "listener round trip": listener_round_trip,
    "listener with log": listener_with_log,
    "closed listener finalizer": closed_listener_finalizer,
    "listener with bad content": listener_with_bad_content,
    "several listeners": several_listeners,
    "stdout writer non-string": ignore(TypeError)(lambda: sys.stdout.write(5)),
    "stderr writer non-string": ignore(TypeError)(lambda: sys.stderr.write(b"x")),
    "stdout replaced by None": replaced_stdout(None),
    "stdout without vanilla_write": replaced_stdout(io.StringIO()),
    "stdout whose write raises": replaced_stdout(RaisingWrite()),
    "close twice": close_twice,
    "qel_send_message": lambda: (qel.qel_send_message("x"), qel.qel_send_message(("a",))),
    "qel_send_message bad": ignore(TypeError)(lambda: qel.qel_send_message(())),
    "qel_send_message hostile": ignore(Boom)(lambda: qel.qel_send_message(HOSTILE)),
    "colorful_ps": qel.colorful_ps,
    # Json
    "json text": lambda: qel.json('{"a": [1, 2], "b": {"c": "ю"}}'),
    "json dict": lambda: (qel.json({1: (2, 3), "x": None}), qel.json["{}"]),
    "json refused": ignore(TypeError)(lambda: qel.json(5)),
    "json bad text": ignore(ValueError)(lambda: qel.json("{bad")),
    "json not pairs": ignore(TypeError, ValueError)(lambda: qel.json("[1, 2]")),
    "json not serialisable": ignore(TypeError)(lambda: qel.json({"k": object()})),
    "json contains itself": ignore(ValueError)(lambda: qel.json({"k": (lambda l: l.append(l) or l)([])})),
    "Json +": lambda: J + {"d": 1},
    "Json + refused": ignore(TypeError)(lambda: J + []),
    "Json -": lambda: J - "a",
    "Json - missing": ignore(KeyError)(lambda: J - "zz"),
    "Json update": lambda: J.copy().update({"e": [1]}),
    "Json update bad": ignore(TypeError, ValueError)(lambda: J.copy().update(5)),
    "Json str repr call": lambda: (str(J), repr(J), J("a"), repr(qel.json)),
    "Json()": ignore(RuntimeError)(lambda: qel.Json({"a": 1})),
    "Json methods, any self": ignore(TypeError, AttributeError)(lambda: qel.Json.copy(None)),
    # utilities
    "numberOfSteps": lambda: (qel.Solution.numberOfSteps(2**40 + 7), qel.Solution().numberOfSteps(14)),
    "numberOfSteps report": lambda: (qel.Solution.numberOfSteps(True), qel.Solution.numberOfSteps(-3)),
    "numberOfSteps overflow": ignore(OverflowError)(lambda: qel.Solution.numberOfSteps(2**2000)),
    "rdletters": lambda: (qel.rdletters(), qel.rdletters(5, 0), qel.rdletters(0)),
    "rdletters report": lambda: qel.rdletters("5", 2),
    "rdletters hostile": ignore(Boom)(lambda: qel.rdletters(3, HOSTILE)),
    "multiple": lambda: qel.multiple(3, 100, -10),
    "multiple report": lambda: qel.multiple(2.0, (1,), min=None),
    "multiple zero": ignore(ZeroDivisionError)(lambda: qel.multiple(0, 5)),
    "argument errors": ignore(TypeError)(lambda: qel.multiple(nm=1)),
    "too many arguments": ignore(TypeError)(lambda: qel.rdletters(1, 2, 3)),
    "functions as methods": lambda: (qel.str("a").qe_only, qel.Solution().numberOfSteps, qel.rdletters.__get__(1)),
}


def leaky_rd(a, b):
    """A stand-in for qel.rd that leaks the string it makes: one reference too many."""
    import ctypes
    text = "%d..%d" % (a, b)
    ctypes.pythonapi.Py_IncRef(ctypes.py_object(text))
    return a


def planted_leak():
    # Called from the module's qe_addcolor, so the leaked strings are allocated
    # under a frame of qel, as a leak of the module's own would be.
    saved = qel.rd
    qel.rd = leaky_rd
    try:
        S("ab").qe_addcolor()
    finally:
        qel.rd = saved


def grows(op, rounds):
    for _ in range(20):
        op()
    gc.collect()
    before = tracemalloc.get_traced_memory()[0]
    for _ in range(rounds):
        op()
    gc.collect()
    return tracemalloc.get_traced_memory()[0] - before


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=20000)
    parser.add_argument("--only", default="")
    parser.add_argument("--plant-leak", action="store_true",
                        help="add an operation that leaks under a frame of qel, to see the checks fail")
    parser.add_argument("--exercise", action="store_true",
                        help="only run the operations, without tracemalloc (for tools/sanitize.py)")
    args = parser.parse_args()
    if args.plant_leak:
        OPERATIONS["planted leak"] = planted_leak
    limit = max(16384, args.rounds * 4)

    if args.exercise:
        for name, op in OPERATIONS.items():
            if args.only in name:
                for _ in range(args.rounds):
                    op()
        real_stdout.write(f"leakcheck: exercised {len(OPERATIONS)} operations x {args.rounds} calls\n")
        return 0

    tracemalloc.start()
    grown = []
    checked = 0
    for name, op in OPERATIONS.items():
        if args.only not in name:
            continue
        # A leak grows in every round; a cache of the interpreter (small
        # strings, free lists, dict key tables) fills once and then stays.
        growth = grows(op, args.rounds)
        for _ in range(2):
            if growth <= limit:
                break
            growth = grows(op, args.rounds)
        checked += 1
        flag = "GREW" if growth > limit else "ok"
        real_stdout.write(f"{flag:4} {growth:8d} B  {name}\n")
        if growth > limit:
            grown.append(name)
    real_stdout.write(f"leakcheck: {checked} operations x {args.rounds} calls, limit {limit} B each; "
                      f"{len(grown)} grew{': ' + ', '.join(grown) if grown else ''}\n")
    real_stdout.flush()
    return 1 if grown else 0


if __name__ == "__main__":
    try:
        status = main()
    except BaseException:
        import traceback
        real_stderr.write(traceback.format_exc())
        status = 2
    sys.exit(status)
