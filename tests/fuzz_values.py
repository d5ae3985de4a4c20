"""Arbitrary argument values for the fuzz tests, hostile objects included.

Kept importable on its own (no qel import) so that a child interpreter can use
it too: the stream writers are fuzzed in a fresh process.
"""
import math
import os

from hypothesis import HealthCheck, settings, strategies as st

# Examples per callable: bounded in the normal test run, raised by tools/fuzz.py.
EXAMPLES = int(os.environ.get("QEL_FUZZ_EXAMPLES", "60"))
fuzz_settings = settings(
    max_examples=EXAMPLES,
    deadline=None,
    suppress_health_check=list(HealthCheck),
    database=None,
)


class Hostile(Exception):
    """What a hostile object raises; callers may let it through, never turn it into a crash."""


class Unbool:
    """Nonsense result of a comparison: asking for its truth raises."""

    def __bool__(self):
        raise Hostile("__bool__")


def _raises(name):
    def method(self, *args):
        raise Hostile(name)
    return method


def _returns(value):
    def method(self, *args):
        return value() if callable(value) else value
    return method


# For each special method: the results that make no sense for it.
NONSENSE = {
    "__eq__": [lambda: Unbool(), "yes", NotImplemented],
    "__ne__": [lambda: Unbool(), 2.5, NotImplemented],
    "__str__": [5, None, b"bytes"],
    "__repr__": [5, None, b"bytes"],
    "__len__": [-1, 2**100, "3", 1.5],
    "__index__": [1.5, "7", 2**200, None],
    "__hash__": ["h", 2**100, None, 1.5],
}
BASES = {
    object: (),
    str: ("abc",),
    int: (7,),
    list: ([1, "a"],),
    dict: ({"a": 1},),
}


def _hostile_classes():
    classes = []
    for base, args in BASES.items():
        for name, nonsense in NONSENSE.items():
            behaviours = [("raises", _raises(name))]
            behaviours += [(f"returns {v!r}", _returns(v)) for v in nonsense]
            for label, method in behaviours:
                namespace = {name: method}
                if name == "__eq__":
                    namespace["__hash__"] = base.__hash__ if base is not list and base is not dict else None
                cls = type(f"Hostile_{base.__name__}_{name.strip('_')}", (base,), namespace)
                cls.__qualname__ = f"{cls.__name__} ({label})"
                classes.append((cls, args))
    return classes


HOSTILE_CLASSES = _hostile_classes()


class StrSub(str):
    pass


class IntSub(int):
    pass


class DictSub(dict):
    pass


class ListSub(list):
    pass


def hostile_objects():
    return st.sampled_from(HOSTILE_CLASSES).map(lambda pair: pair[0](*pair[1]))


texts = st.one_of(
    st.text(st.characters(exclude_categories=())),  # lone surrogates, NUL, astral characters
    st.text(st.sampled_from("\x00\x1b[0m;31\\\"\r\n\t\ud800\udfff\U0001f600ю中é"), max_size=40),
    st.sampled_from(["", "ю", "aaa", "\x1b[31mred\x1b[0m", "\udcff", "\x00" * 3, '{"a": 1}', "[[\"a\", 1]]"]),
)
integers = st.one_of(
    st.integers(),
    st.integers(min_value=-(2**300), max_value=2**300),
    st.sampled_from([0, 1, -1, 2, 2**31, 2**53 + 1, 2**63 - 1, 2**63, -(2**63) - 1, 2**64, 10**400, -(10**400)]),
)
floats = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([-0.0, 0.0, math.nan, math.inf, -math.inf, 1e308, 5e-324]),
)


def scalars(extra=()):
    parts = [
        integers,
        st.booleans(),
        floats,
        texts,
        st.binary(max_size=32),
        st.none(),
        texts.map(StrSub),
        integers.map(IntSub),
        st.builds(DictSub, st.dictionaries(texts, integers, max_size=3)),
        st.builds(ListSub, st.lists(integers, max_size=3)),
        hostile_objects(),
        hostile_objects(),
    ]
    parts.extend(extra)
    return st.one_of(*parts)


def values(extra=()):
    """Anything: scalars, and lists, tuples and dicts of them (keys hashable)."""
    keys = st.one_of(texts, integers, st.booleans(), st.none(), floats)
    return st.recursive(
        scalars(extra),
        lambda inner: st.one_of(
            st.lists(inner, max_size=4),
            st.tuples(inner, inner),
            st.tuples(inner),
            st.dictionaries(keys, inner, max_size=4),
        ),
        max_leaves=8,
    )


def arguments(arity, extra=()):
    """Between none and one more than `arity` positional values (the surplus must be refused)."""
    return st.lists(values(extra), max_size=arity + 1)


# Exceptions that a call may raise for some argument. SystemError, and any
# exception not listed, is a fault of the module.
ALLOWED = (Hostile, TypeError, ValueError, LookupError, ArithmeticError, AttributeError, RecursionError)
