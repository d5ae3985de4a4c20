"""Arbitrary values, hostile objects included, into every callable of the module.

Each call returns what the function gives for valid input or raises one of the
exceptions a call may raise (tests/fuzz_values.ALLOWED); never SystemError and
never a crash. The report-style functions print a report and return None.
Examples per test: QEL_FUZZ_EXAMPLES (tools/fuzz.py runs long).
"""
import contextlib
import random

import pytest
from hypothesis import given, strategies as st

import qel
from fuzz_values import ALLOWED, Hostile, arguments, fuzz_settings, texts, values

# Made-up encoding names reach the codec registry through qe_decode, which
# from 3.15 warns of the non-ASCII ones as str.decode would.
pytestmark = pytest.mark.filterwarnings("ignore:Support for non-ascii encoding names:DeprecationWarning")

S = qel.str
STRING_METHODS = {  # name: parameters after self
    "__repr__": 0, "qe_addcolor": 0, "qe_decode": 1, "qe_goto_unicode": 1,
    "qe_goto_qel": 0, "qe_remove": 2, "qe_rmcolor": 0, "qe_only": 1,
}
RENDERERS = {
    "hut": lambda: qel.__string__.hut,
    "lute": lambda: qel.__string__.lute,
    "qel": lambda: qel.__string__.qel.qel,
    "rover_tam": lambda: qel.__string__.qel.vb.rover_tam,
}
# Module values worth passing around: the colour lists, the factory, the types.
MODULE_VALUES = st.sampled_from([
    qel.__string__.color, list(qel.__string__.color), qel.__string__.fcolor, qel.json,
    qel.str, qel.Json, qel.vanilla, qel.json('{"a": [1, 2]}'),
])
anything = values([MODULE_VALUES])


class Sink:
    """A stream that keeps what it is given; `vanilla_write` as on a hooked stream."""

    def __init__(self):
        self.parts = []

    def write(self, text):
        self.parts.append(text)

    vanilla_write = write

    def flush(self):
        pass

    @property
    def text(self):
        return "".join(p if type(p) is str else repr(p) for p in self.parts)


def call(function, *args, also=()):
    """(result, None) or (None, exception); anything not allowed fails the test here."""
    try:
        return function(*args), None
    except ALLOWED + also as e:
        return None, e
    except SystemError as e:  # pragma: no cover - the fault this file looks for
        pytest.fail(f"SystemError from {function!r}{args!r}: {e}")


@contextlib.contextmanager
def captured():
    out, err = Sink(), Sink()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        yield out, err


def assert_report(err_text):
    """The shape of an argument report: a stack trace, then message lines with the type."""
    assert err_text.startswith('  File "'), err_text[:200]
    assert ", Type = " in err_text and "\x1b[31mqel." in err_text


# ---- the extended str -------------------------------------------------------------------


@pytest.mark.parametrize("name", list(STRING_METHODS))
@fuzz_settings
@given(data=st.data())
def test_string_methods_on_extended_strings(name, data):
    self = S(data.draw(texts))
    args = data.draw(arguments(STRING_METHODS[name], [MODULE_VALUES]))
    result, error = call(getattr(self, name), *args)
    if len(args) > STRING_METHODS[name]:
        assert type(error) is TypeError
    elif error is None:
        if name == "__repr__":
            assert type(result) is str and result.startswith('<QEL String type: "')
        elif name == "qe_only":
            assert result in (1, None)
        else:
            assert type(result) is S
    else:
        assert not isinstance(error, (AttributeError, ZeroDivisionError))


@pytest.mark.parametrize("name", list(STRING_METHODS))
@fuzz_settings
@given(self=anything, data=st.data())
def test_string_methods_through_the_class_with_any_self(name, self, data):
    args = data.draw(arguments(STRING_METHODS[name], [MODULE_VALUES]))
    result, error = call(getattr(S, name), self, *args)
    if len(args) > STRING_METHODS[name]:
        assert type(error) is TypeError
    elif error is None and name not in ("qe_only", "__repr__"):
        assert isinstance(result, str)


# ---- renderers ----------------------------------------------------------------------------


@pytest.mark.parametrize("name", list(RENDERERS))
@fuzz_settings
@given(args=arguments(1, [MODULE_VALUES]))
def test_renderers(name, args):
    with captured() as (out, err):
        result, error = call(RENDERERS[name](), *args)
    if len(args) > 1:
        assert type(error) is TypeError
        return
    if error is not None:
        return
    assert result is None
    if out.parts:  # a picture, and nothing on standard error
        assert not err.parts and out.text.endswith("\n")
    else:
        assert_report(err.text)


# ---- small utilities ----------------------------------------------------------------------


def bounded(name, args):
    """Keeps runs short: the loops take as long as their integer arguments ask."""
    args = list(args)
    if name == "multiple" and len(args) >= 2 and type(args[1]) is int:
        low = args[2] if len(args) > 2 and type(args[2]) is int else 0
        if args[1] - low > 5000:
            args[1] = low + 5000
    if name == "rdletters" and args and type(args[0]) is int and args[0] > 5000:
        args[0] = 5000
    return args


UTILITIES = {
    "numberOfSteps": (lambda: qel.Solution.numberOfSteps, 2),
    "rdletters": (lambda: qel.rdletters, 2),
    "multiple": (lambda: qel.multiple, 3),
}


@pytest.mark.parametrize("name", list(UTILITIES))
@fuzz_settings
@given(data=st.data())
def test_utilities(name, data):
    function, arity = UTILITIES[name]
    args = bounded(name, data.draw(arguments(arity, [MODULE_VALUES])))
    state = random.getstate()
    with captured() as (out, err):
        result, error = call(function(), *args)
    random.setstate(state)
    if len(args) > arity:
        assert type(error) is TypeError
        return
    assert not out.parts
    if error is not None:
        return
    if result is None:
        assert_report(err.text)
        return
    assert not err.parts
    if name == "numberOfSteps":
        assert type(result) is int and result >= 0
    elif name == "rdletters":
        assert isinstance(result, str) and result.isalpha() or result == ""
    else:
        assert type(result) is list and all(type(i) is int for i in result)


# ---- Json and the factory -----------------------------------------------------------------


JSON_METHODS = {"__add__": 1, "__sub__": 1, "update": 1, "copy": 0, "__repr__": 0, "__str__": 0,
                "__call__": 1, "__init__": 1}


@fuzz_settings
@given(data=anything, index=st.booleans())
def test_json_factory(data, index):
    result, error = call(qel.json.__getitem__ if index else qel.json, data)
    if error is None:
        assert type(result) is qel.Json
        assert str(result) == qel.vanilla.json.dumps(result)


def as_json(value):
    if type(value) not in (dict, str):
        return value  # (refusing draws random colours, which a strategy must not)
    try:
        return qel.json(value)
    except ALLOWED:
        return value


@pytest.mark.parametrize("name", list(JSON_METHODS))
@fuzz_settings
@given(self=st.one_of(anything, anything.map(as_json)), data=st.data())
def test_json_methods_with_any_self(name, self, data):
    args = data.draw(arguments(JSON_METHODS[name], [MODULE_VALUES]))
    # Calling the class refuses with RuntimeError; nothing else raises it.
    also = (RuntimeError,) if name == "__init__" else ()
    result, error = call(getattr(qel.Json, name), self, *args, also=also)
    if len(args) > JSON_METHODS[name]:
        assert type(error) is TypeError
    elif name == "__init__" and args:
        assert isinstance(error, (RuntimeError, Hostile, TypeError))



# ---- keyword arguments ------------------------------------------------------------------------

KEYWORD_TARGETS = {  # callable, its parameter names
    "qe_remove": (lambda: S("xax").qe_remove, ["to_rm", "times"]),
    "qe_decode": (lambda: S("a").qe_decode, ["encoding"]),
    "hut": (lambda: qel.__string__.hut, ["Str"]),
    "listener": (lambda: qel.terminal_listener, ["log"]),
    "json": (lambda: qel.json, ["data"]),
    "update": (lambda: qel.json({}).update, ["value"]),
    "numberOfSteps": (lambda: qel.Solution.numberOfSteps, ["num", "numc"]),
    "rdletters": (lambda: qel.rdletters, ["lt", "up"]),
    "multiple": (lambda: qel.multiple, ["num", "max", "min"]),
    "send": (lambda: qel.qel_send_message, []),
}


class HostileName(str):
    """A keyword name whose comparison and hash misbehave: names are compared as text."""

    def __eq__(self, other):
        raise Hostile("__eq__")

    def __hash__(self):
        return str.__hash__(self)


@pytest.mark.parametrize("name", list(KEYWORD_TARGETS))
@fuzz_settings
@given(data=st.data())
def test_keyword_arguments(name, data):
    function, params = KEYWORD_TARGETS[name]
    names = st.one_of(st.sampled_from(params or ["text"]), texts)
    kwargs = {}
    for key, hostile, value in data.draw(st.lists(st.tuples(names, st.booleans(), values()), max_size=3)):
        try:
            kwargs[HostileName(key) if hostile else key] = value
        except Hostile:  # two equal names: the dict compared them
            pass
    small = {k: (v if type(v) is not int or abs(v) < 1000 else 3) for k, v in kwargs.items()}
    plain_names = [str.__str__(k) for k in small]
    registry = list(qel.terminal_listener.listeners)
    with captured():
        result, error = call(lambda: function()(**small))
    # A listener whose `log` cannot be tested for truth stays registered: drop it.
    qel.terminal_listener.listeners[:] = registry
    if any(k not in params for k in plain_names):
        assert type(error) is TypeError and "keyword argument" in str(error)
