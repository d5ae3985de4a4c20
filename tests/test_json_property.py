"""Property: whatever goes into a Json, the outcome is the standard round trip's.

For random values, JSON-able or not, the factory, `update`, `+` and `copy` give
what json.loads(json.dumps(v)) gives: equal data with the same exact types and
key order, the same sharing of objects, or the same exception and message.
"""
import collections
import json

from hypothesis import given, settings, strategies as st

import qel
from test_json import DictSub, LoudFloat, LoudInt, StrSub, canon, outcome, roundtrip, sharing


def with_sharing(fn):
    def run():
        v = fn()
        return canon(v), sharing(dict(v) if isinstance(v, dict) else v)

    return run


# Text that may hold lone surrogates, and surrogate pairs as two code points.
texts = st.lists(
    st.one_of(st.characters(), st.integers(0xD800, 0xDFFF).map(chr), st.sampled_from(["\ud83d\ude00", "é", "中"])),
    max_size=6,
).map("".join)

ints = st.one_of(st.integers(-300, 300), st.integers(), st.integers(2**62, 2**65), st.integers(-(2**65), -(2**62)))

leaves = st.one_of(
    st.none(),
    st.booleans(),
    ints,
    st.floats(),
    texts,
    st.builds(LoudInt, st.integers()),
    st.builds(LoudFloat, st.floats()),
    st.builds(StrSub, texts),
    st.sampled_from([b"x", {1, 2}, frozenset(), object, 1j]),
)

keys = st.one_of(texts, ints, st.floats(), st.booleans(), st.none(), st.builds(StrSub, texts), st.just((1, 2)))


def containers(children):
    return st.one_of(
        st.lists(children, max_size=4),
        st.lists(children, max_size=3).map(tuple),
        st.dictionaries(keys, children, max_size=4),
        st.dictionaries(texts, children, max_size=4),
        st.dictionaries(keys, children, max_size=3).map(DictSub),
        st.dictionaries(texts, children, max_size=3).map(collections.OrderedDict),
    )


values = st.recursive(leaves, containers, max_leaves=25)
documents = st.one_of(st.dictionaries(texts, values, max_size=5), st.dictionaries(keys, values, max_size=5))


def merged(target, value):
    def run():
        d = dict(target)
        d.update(roundtrip(value))
        return d

    return run


@settings(max_examples=400, deadline=None)
@given(documents, values)
def test_factory_update_add_copy_follow_the_round_trip(doc, value):
    # The factory, for a dict and for its text.
    assert outcome(with_sharing(lambda: qel.json(doc))) == outcome(with_sharing(lambda: roundtrip(doc)))
    text = json.dumps(doc) if outcome(lambda: json.dumps(doc))[0] == "ok" else None
    if text is not None:
        assert outcome(with_sharing(lambda: qel.json(text))) == outcome(
            with_sharing(lambda: roundtrip(json.loads(text)))
        )

    # update: in place, with any value; what was stored before a failure stays.
    start = {"pre": [1], "0": "x"}
    a = qel.json(start)
    plain = dict(start)
    assert outcome(lambda: a.update(value) or a) == outcome(lambda: plain.update(roundtrip(value)) or plain)
    assert canon(a) == canon(plain)

    # +: only dict and Json on the right; the left goes through its own text.
    b = qel.json(start)
    if type(value) in (dict, qel.Json):
        expected = merged(roundtrip(roundtrip(start)), value)
    else:
        def expected():
            raise TypeError('can only add qel.json or dict (not "%s") to qel.json' % type(value).__name__)
    assert outcome(with_sharing(lambda: b + value)) == outcome(with_sharing(expected))
    assert canon(b) == canon(start)

    # copy of a Json that holds raw data (plain item assignment stores anything).
    raw = qel.json()
    dict.update(raw, doc)
    assert outcome(with_sharing(raw.copy)) == outcome(with_sharing(lambda: roundtrip(dict(doc))))
    assert outcome(lambda: raw + {}) == outcome(lambda: roundtrip(roundtrip(doc)))
