"""qel.str methods against the same job written as plain Python functions.

    python bench/bench_string.py -o bench/string.json && python bench/ratios.py bench/string.json

Each pair runs on the same 10,000-character mixed text (ASCII, Latin-1, CJK,
emoji, quotes, backslashes, control characters and colour codes).
"""
import os
import random
import warnings

import pyperf

os.environ.setdefault("qel.no_info", "1")  # no start-up notice or version check

import qel

Str = qel.str
FCOLOR = list(qel.__string__.fcolor)


def mixed_text(n=10_000, seed=1):
    rng = random.Random(seed)
    pieces = ["plain words ", "Ünïcödé ", "中文字符 ", "\U0001f600", '"', "\\", "\n", "\t", "\r",
              "\x1b[31m", "\x1b[0m", "\x1b[38m"]
    out = ""
    while len(out) < n:
        out += rng.choice(pieces)
    return Str(out[:n])


# ---- the plain-Python twins ----------------------------------------------------------

def py_repr(s):
    s = (s.replace("\\", "\\\\").replace('"', '\\"').replace("\r", "\\r").replace("\n", "\\n")
         .replace("\t", "\\t").replace("\x1b", "\\33"))
    return '<QEL String type: "{}">'.format(s)


def py_remove(s, to_rm, times=-1):
    return Str(s.replace(to_rm, "") if times < 0 else s.replace(to_rm, "", times))


def py_rmcolor(s):
    t = s
    for code in FCOLOR:
        t = py_remove(t, code)
    return Str(t)


def py_goto_unicode(s, ifx=1):
    out = ""
    for c in s:
        t = hex(ord(c)).replace("0x", "\\x")
        if len(t) < 4:
            t = "\\x0" + t[2:]
        if len(t) > 4:
            t = "\\u" + t[2:]
            if len(t) < 6:
                t = "\\u0" + t[2:]
        out += t
    return Str(out if ifx else out.replace("\\x", "\\u00"))


def py_decode(s, encoding="utf-8"):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        data = eval('b"' + py_goto_unicode(s) + '"')
    return Str(data.decode(encoding, "replace"))


def py_addcolor(s):
    out = ""
    for c in s:
        out += FCOLOR[qel.rd(0, 6)] + c
    return Str(out + "\x1b[0m")


def add_cmdline_args(cmd, args):
    if args.only:
        cmd.extend(("--only", args.only))


def jobs():
    """(name, qel's call, the plain-Python twin) for each job."""
    text = mixed_text()
    latin = Str((bytes(range(256)).decode("latin-1") * 40)[:10_000])  # decodable as latin-1
    return [
        ("__repr__", lambda: repr(text), lambda: py_repr(text)),
        ("qe_rmcolor", text.qe_rmcolor, lambda: py_rmcolor(text)),
        ("qe_remove", lambda: text.qe_remove("\x1b[0m"), lambda: py_remove(text, "\x1b[0m")),
        ("qe_goto_unicode", text.qe_goto_unicode, lambda: py_goto_unicode(text)),
        ("qe_decode", lambda: latin.qe_decode("latin-1"), lambda: py_decode(latin, "latin-1")),
        ("qe_addcolor", text.qe_addcolor, lambda: py_addcolor(text)),
    ]


def main():
    runner = pyperf.Runner(add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--only", default="", help="run only the jobs whose name contains this")
    args = runner.parse_args()
    pairs = jobs()
    for name, native, twin in pairs:
        if args.only not in name:
            continue
        runner.bench_func(f"{name} | qel", native)
        runner.bench_func(f"{name} | plain Python", twin)


if __name__ == "__main__":
    main()
