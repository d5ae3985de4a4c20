"""qel.json, Json + and Json.copy against the standard round trip they stand for.

Every value that enters a Json must come out exactly as
json.loads(json.dumps(value)) would, so that round trip on the same document is
the baseline; each figure is reported as a ratio to it. "round-trip path" rows
run the same operation with the native copy switched off (dumps and loads
reached through stand-ins), i.e. the plain round trip as qel would do it.

    python bench/bench_json.py --fast        # quick look
    python bench/bench_json.py -o out.json   # full run, then: python -m pyperf stats out.json
"""
import functools
import json
import os
import types

os.environ["qel.no_info"] = "1"  # no start-up notice, no network

import pyperf

import qel


def document(keys=1000, first=0):
    """A nested document of about `keys` keys: records of mixed JSON values."""
    doc, count, i = {}, 0, first
    while count < keys:
        record = {
            "id": i,
            "name": "record-%d" % i,
            "title": "Ünïcödé title %d 中文" % i,
            "score": i * 1.25,
            "active": i % 2 == 0,
            "parent": None,
            "tags": ["t%d" % (i % 7), "common", "x" * (i % 5)],
            "point": {"x": i, "y": -i, "z": i / 3},
            "history": [{"at": i * 10 + j, "what": "event"} for j in range(2)],
        }
        doc["item%04d" % i] = record
        count += 1 + 9 + 3 + 2 * 2  # the record's key plus the keys inside it
        i += 1
    return doc


def count_keys(v):
    if isinstance(v, dict):
        return len(v) + sum(count_keys(x) for x in v.values())
    if isinstance(v, list):
        return sum(count_keys(x) for x in v)
    return 0


def main():
    runner = pyperf.Runner()
    runner.metadata["description"] = __doc__.splitlines()[0]
    d = document()
    a = qel.json(d)
    b = qel.json(document(first=30))  # another ~1,000 keys, half of them a's
    small = {"extra": [1, 2, 3], "item0001": {"replaced": True}}
    runner.metadata["document_keys"] = str(count_keys(d))

    standard = qel.vanilla
    stand_in = types.SimpleNamespace(
        str=str,
        json=types.SimpleNamespace(dumps=functools.partial(json.dumps), loads=functools.partial(json.loads)),
    )

    def round_trip_path(fn):
        def run():
            qel.vanilla = stand_in
            try:
                return fn()
            finally:
                qel.vanilla = standard

        return run

    cases = [
        ("baseline json.loads(json.dumps(d))", lambda: json.loads(json.dumps(d))),
        ("qel.json(d)", lambda: qel.json(d)),
        ("a + b", lambda: a + b),
        ("a + small dict", lambda: a + small),
        ("a.copy()", lambda: a.copy()),
        ("a - k", lambda: a - "item0001"),
        ("qel.json(d) round-trip path", round_trip_path(lambda: qel.json(d))),
        ("a + b round-trip path", round_trip_path(lambda: a + b)),
        ("a.copy() round-trip path", round_trip_path(lambda: a.copy())),
    ]
    results = {name: runner.bench_func(name, fn) for name, fn in cases}
    if runner.args.worker or any(r is None for r in results.values()):
        return
    # Medians: this runs on shared machines, where a busy neighbour skews means.
    base = results[cases[0][0]].median()
    print()
    print("document: %s keys; ratio = median time / baseline median time" % runner.metadata["document_keys"])
    for name, bench in results.items():
        print("%-40s %9.1f us   %5.2fx" % (name, bench.median() * 1e6, bench.median() / base))


if __name__ == "__main__":
    main()
