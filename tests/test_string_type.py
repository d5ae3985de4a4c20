"""The extended str and the colour lists it draws from."""
import random
import warnings

import pytest

import qel

FCOLOR = ["\x1b[31m", "\x1b[32m", "\x1b[33m", "\x1b[34m", "\x1b[35m", "\x1b[36m", "\x1b[38m"]
BLOCKS = ["\x1b[%dm \x1b[0m" % n for n in range(41, 48)]
S = qel.str


# ---- plain-Python statements of the expected behaviour ----------------------------

def model_repr(s):
    for a, b in [("\\", "\\\\"), ('"', '\\"'), ("\r", "\\r"), ("\n", "\\n"), ("\t", "\\t"), ("\x1b", "\\33")]:
        s = s.replace(a, b)
    return '<QEL String type: "{}">'.format(s)


def model_goto_unicode(s, ifx=1):
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
    return out if ifx else out.replace("\\x", "\\u00")


def model_decode(s, encoding="utf-8"):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # "\u" is not an escape in a bytes literal
        literal = eval('b"' + model_goto_unicode(s) + '"')
    return literal.decode(encoding)


def model_addcolor(s, rd):
    return "".join(FCOLOR[rd(0, 6)] + c for c in s) + "\x1b[0m"


def model_rmcolor(s):
    for code in FCOLOR:
        s = s.replace(code, "")
    return s


MIXED = [
    "",
    "plain ascii",
    'quote " back \\ cr \r lf \n tab \t esc \x1b end',
    "Ünïcödé lätin1 \xff\x80",
    "中文 ю \u0100 \u0fff \u1000 \uffff",
    "\U0001f600 \U00010000 \U000fffff \U00100000 \U0010ffff",
    "\x00\x01\x0f\x10",
    "\x1b[31mred\x1b[0m \x1b[38mcode38\x1b[37mwhite\x1b[1m",
    "\x1b[3\x1b[31m1m",          # removing a code joins a new one
    "\x1b[3\x1b[32m1m",
    "\x1b[3\x1b[31m2m",          # ...which a later removal takes out
    "\x1b\x1b[35m[36m\x1b[31m",
    "\x1b[3\x1b[31m\x1b[31m1m\U0001f600",
    "\x1b[38m" * 3 + "\x1b[3",
]


def test_type_and_vanilla():
    assert S is not str and issubclass(S, str) and S.__bases__ == (str,)
    assert qel.vanilla.str is str
    assert S.__doc__ == "升级后的字符串数据类型, 添加了一些函数在内. Upgraded string data type, added some functions."
    assert [k for k in vars(S) if not k.startswith("__") or k == "__repr__"] == [
        "__repr__", "qe_addcolor", "qe_decode", "qe_goto_unicode", "qe_goto_qel", "qe_remove", "qe_rmcolor", "qe_only"]
    assert type(S("ab").upper()) is str and type(S("ab").qe_remove("a")) is S


def test_colour_lists():
    ns = qel.__string__
    assert ns.fcolor == FCOLOR and ns.color == BLOCKS
    assert all(type(x) is S for x in ns.fcolor + ns.color)
    assert ns.__qualname__ == "__string__" and ns.__module__ == "qel" and ns.__doc__ is None
    assert all(len(b) == 10 for b in ns.color)


@pytest.mark.parametrize("text", MIXED)
def test_repr(text):
    r = repr(S(text))
    assert r == model_repr(text) and type(r) is str
    assert str(S(text)) == text


@pytest.mark.parametrize("text", MIXED)
@pytest.mark.parametrize("ifx", [1, 0, True, "", None, 2.5])
def test_goto_unicode(text, ifx):
    r = S(text).qe_goto_unicode(ifx)
    assert r == model_goto_unicode(text, ifx) and type(r) is S


@pytest.mark.parametrize("char, one, zero", [("A", "\\x41", "\\u0041"), ("\t", "\\x09", "\\u0009"),
                                             ("ю", "\\u044e", "\\u044e"), ("\U0001f600", "\\u1f600", "\\u1f600")])
def test_goto_unicode_examples(char, one, zero):
    assert S(char).qe_goto_unicode() == one and S(char).qe_goto_unicode(ifx=0) == zero


@pytest.mark.parametrize("text", MIXED + ["\xc3\xa9", "\xe4\xb8\xad"])
def test_decode(text):
    try:
        expected = model_decode(text)
    except UnicodeDecodeError as e:
        with pytest.raises(UnicodeDecodeError) as got:
            S(text).qe_decode()
        assert str(got.value) == str(e)
        return
    r = S(text).qe_decode()
    assert r == expected and type(r) is S


def test_decode_codecs():
    assert S("\xc3\xa9").qe_decode() == "é"
    assert S("\xe9").qe_decode("latin-1") == "é"
    assert S("\xe9").qe_decode(encoding=S("cp1252")) == "é"
    assert S("aю").qe_decode() == "a\\u044e"
    with pytest.raises(UnicodeDecodeError):
        S("\xff").qe_decode()
    with pytest.raises(LookupError):
        S("a").qe_decode("no-such-codec")


def test_decode_uses_the_instance_goto_unicode():
    class Custom(S):
        def qe_goto_unicode(self, ifx=1):
            return "\\x41\\n\\101"

    assert Custom("zz").qe_decode() == "A\nA"


def test_goto_qel():
    r = S("x % y").qe_goto_qel()
    assert r == "\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35mx % y\x1b[0m" and type(r) is S
    assert S("").qe_goto_qel() == "\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m\x1b[0m"


@pytest.mark.parametrize("text, to_rm, times, expected", [
    ("xaxax", "x", -1, "aa"), ("xaxax", "x", 2, "aax"), ("xaxax", "x", 0, "xaxax"),
    ("xaxax", "", -1, "xaxax"), ("", "x", 5, ""), ("aaa", "aa", -5, "a"),
])
def test_remove(text, to_rm, times, expected):
    r = S(text).qe_remove(to_rm, times)
    assert r == expected == text.replace(to_rm, "", *([] if times < 0 else [times])) and type(r) is S


@pytest.mark.parametrize("args", [(1,), ("x", 1.5), ("x", "1"), ("x", None)])
def test_remove_errors_are_the_interpreters(args):
    with pytest.raises(TypeError) as got:
        S("x").qe_remove(*args)
    with pytest.raises(TypeError) as expected:
        times = args[1] if len(args) > 1 else -1
        "x".replace(args[0], "") if times < 0 else "x".replace(args[0], "", times)
    assert str(got.value) == str(expected.value)


@pytest.mark.parametrize("text", MIXED)
def test_rmcolor(text):
    r = S(text).qe_rmcolor()
    assert r == model_rmcolor(text) and type(r) is S


@pytest.mark.parametrize("text", ["a\x1b[31mb" * 100, "a\x1b[3\x1b[31m8mb" * 100])
def test_rmcolor_makes_the_str_type_once_per_removal_and_once_more(text):
    made = []
    S.__init__ = lambda self, *args: made.append(args)
    try:
        got = S(text).qe_rmcolor()
    finally:
        del S.__init__
    assert got == model_rmcolor(text) and len(made) == 1 + 7 + 1


def test_rmcolor_follows_the_current_list():
    saved = qel.__string__.fcolor
    try:
        qel.__string__.fcolor = ["a", S("b")]
        assert S("abc\x1b[31m").qe_rmcolor() == "c\x1b[31m"
        qel.__string__.fcolor = [1]
        with pytest.raises(TypeError):
            S("abc").qe_rmcolor()
    finally:
        qel.__string__.fcolor = saved


class Recorder:
    def __init__(self, seed):
        self.calls = []
        self.random = random.Random(seed)

    def __call__(self, a, b):
        self.calls.append((a, b))
        return self.random.randint(a, b)


@pytest.mark.parametrize("text", MIXED)
def test_addcolor_draws_once_per_character_through_rd(text, monkeypatch):
    recorder = Recorder(7)
    monkeypatch.setattr(qel, "rd", recorder)
    r = S(text).qe_addcolor()
    assert recorder.calls == [(0, 6)] * len(text)
    assert r == model_addcolor(text, Recorder(7)) and type(r) is S
    assert r.qe_rmcolor() == model_rmcolor(r)
    if "\x1b" not in text:
        assert r.qe_rmcolor() == text + "\x1b[0m"


def test_addcolor_with_seeded_random():
    random.seed(12345)
    got = S("seeded text").qe_addcolor()
    random.seed(12345)
    assert got == model_addcolor("seeded text", random.randint)


def test_addcolor_reads_the_list_at_each_draw(monkeypatch):
    saved = qel.__string__.fcolor
    try:
        qel.__string__.fcolor = ["<0>"]
        monkeypatch.setattr(qel, "rd", lambda a, b: 0)
        assert S("ab").qe_addcolor() == "<0>a<0>b\x1b[0m"
        qel.__string__.fcolor = []
        with pytest.raises(IndexError):
            S("ab").qe_addcolor()
        assert S("").qe_addcolor() == "\x1b[0m"
    finally:
        qel.__string__.fcolor = saved


@pytest.mark.parametrize("text, char, expected", [
    ("aaa", "a", 1), ("aaa", "aa", None), ("aab", "a", None), ("", "a", None), ("", "", None),
    ("a", S("a"), 1), ("aaa", 97, None), ("\U0001f600" * 2, "\U0001f600", 1),
])
def test_only(text, char, expected):
    r = S(text).qe_only(char)
    assert r == expected and type(r) is type(expected)


def test_only_uses_the_char_comparison():
    class AlwaysEqual:
        def __ne__(self, other):
            return False

    assert S("xyz").qe_only(AlwaysEqual()) == 1


# Methods are found on the object as Python finds them: a subclass's own
# `replace` serves the removals and the display form, and the working text of
# qe_rmcolor is an instance of the module's `str` as it is at that moment.
class OwnReplace(S):
    def replace(self, *args):
        return "R"


class OwnRemove(S):
    def qe_remove(self, *args):
        return S("X")


def rmcolor_removing_once(s):
    saved = S.qe_remove.__defaults__
    S.qe_remove.__defaults__ = (1,)
    try:
        return s.qe_rmcolor()
    finally:
        S.qe_remove.__defaults__ = saved


@pytest.mark.parametrize("str_type, make, call, expected", [
    (S, OwnReplace, lambda s: s.qe_remove("\x1b[31m"), lambda text: "R"),
    (S, OwnReplace, lambda s: s.qe_rmcolor(), lambda text: "R"),
    (S, OwnReplace, repr, lambda text: '<QEL String type: "R">'),
    (OwnRemove, S, lambda s: s.qe_rmcolor(), lambda text: "X"),
    (OwnReplace, S, lambda s: s.qe_rmcolor(), lambda text: "R"),
    (S, S, rmcolor_removing_once, lambda text: text.replace("\x1b[31m", "", 1)),
])
def test_methods_dispatch_as_python_does(str_type, make, call, expected, monkeypatch):
    monkeypatch.setattr(qel, "str", str_type)
    for text in ("a\x1b[31mb", "plain", "a\x1b[31mb" * 100):
        assert call(make(text)) == expected(text)


# The characters of a text are what iterating it gives, as a loop in Python sees them.
class IterXY(S):
    def __iter__(self):
        return iter("XY")


@pytest.mark.parametrize("call, expected", [
    (lambda s: s.qe_only("a"), None),
    (lambda s: s.qe_only(S("X")), None),
    (lambda s: s.qe_goto_unicode(), "\\x58\\x59"),
    (lambda s: s.qe_goto_unicode(0), "\\u0058\\u0059"),
    (lambda s: s.qe_decode(), "XY"),
    (lambda s: S.qe_goto_unicode(["a", "\u4e2d"]), "\\x61\\u4e2d"),
])
def test_characters_are_what_iterating_gives(call, expected, monkeypatch):
    monkeypatch.setattr(qel, "rd", lambda a, b: 0)
    assert IterXY("aa").qe_addcolor() == "\x1b[31mX\x1b[31mY\x1b[0m"
    assert call(IterXY("aa")) == expected


# Long texts cross the vector blocks the kernels work in: every control
# character, the escaped ones, colour-code pieces, runs without escapes longer
# than a vector, and one wide character that sets the string's width.
_PIECES = [chr(c) for c in range(0x20)] + ['"', "\\", "a", "\x7f", "\x1b[3", "1m", "\x1b[38m", "\x1b[0m", "plain " * 12]


@pytest.mark.parametrize("wide", ["", "é", "中", "\U0001f600"])
@pytest.mark.parametrize("length", [31, 64, 65, 130, 1000, 300_000])
def test_long_texts_across_blocks(wide, length):
    rng = random.Random(length)
    text = wide + "".join(rng.choice(_PIECES) for _ in range(length))
    s = S(text)
    assert repr(s) == model_repr(text)
    assert s.qe_rmcolor() == model_rmcolor(text)


# Codes among text where no code closely follows a kept escape: taken out 64
# characters at a time.
_CLEAN = ["plain words ", "x", "\x1b[31m", "\x1b[38m", "\x1b[36m", "\x1b[37m", "\x1b[0;1m", "[3", "1m", "m", "3"]
# A code removed right after a kept escape joins the two sides into a code
# that a later removal in the list's order takes out too.
_JOINS = ["\x1b\x1b[32m[38m", "\x1b[\x1b[33m36m", "\x1b[3\x1b[31m8m", "\x1b[38\x1b[31mm", "\x1b[37m\x1b[34m"]


def check_rmcolor_long(seed):
    """Clean texts, and each join at every place around the first 64-character
    boundaries and near the end, in every width; returns how many were checked."""
    rng = random.Random(seed)
    checked = 0
    for wide in ["", "é", "中", "\U0001f600"]:
        clean = wide + "".join(rng.choice(_CLEAN) for _ in range(200))
        texts = [clean, clean * 20]
        places = [*range(0, 140, 3), *range(len(clean) - 80, len(clean) + 1, 3)]
        texts += [clean[:at] + join + clean[at:] for join in _JOINS for at in places]
        for text in texts:
            got = S(text).qe_rmcolor()
            assert type(got) is S and got == model_rmcolor(text), (wide, text)
            assert got.isascii() == text.isascii() and hash(got) == hash(model_rmcolor(text))
            checked += 1
    return checked


def test_rmcolor_of_long_texts_with_and_without_joins():
    assert check_rmcolor_long(1) == 4 * (2 + len(_JOINS) * 74)


@pytest.mark.parametrize("switch", [{"QEL_NO_AVX512": "1"}, {"QEL_NO_AVX2": "1"}, {"QEL_KEPT_UNITS": "ordered"}])
def test_long_texts_on_other_code_paths(switch):
    """The code for machines without AVX-512, without AVX2, and for the
    other way of storing the kept characters."""
    from conftest import run_python
    code = """
import random, sys
import qel
sys.path.insert(0, %r)
from test_string_type import _PIECES, check_rmcolor_long, model_repr, model_rmcolor
rng = random.Random(5)
for wide in ["", "é", "中", "\\U0001f600"]:
    for length in (64, 65, 130, 1000):
        text = wide + "".join(rng.choice(_PIECES) for _ in range(length))
        assert repr(qel.str(text)) == model_repr(text), (wide, length)
        assert qel.str(text).qe_rmcolor() == model_rmcolor(text), (wide, length)
check_rmcolor_long(2)
sys.stdout.vanilla_write("ok")
""" % str(__import__("pathlib").Path(__file__).parent)
    result = run_python(code, env=switch)
    assert result.out == b"ok"
