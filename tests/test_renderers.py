"""The block-letter renderers of qel.__string__.

Pictures are compared with glyphs drawn here independently ('#' ink, '.' blank),
and with fills drawn here from the same seeded generator.
"""
import builtins
import contextlib
import inspect
import io
import json
import random

import pytest
from hypothesis import given, settings, strategies as st

import qel

GLYPHS = {
    "hut": [
        "#.......#..#.......#..#########",
        "#.......#..#.......#......#",
        "#.......#..#.......#......#",
        "#########..#.......#......#",
        "#.......#..#.......#......#",
        "#.......#..#.......#......#",
        "#.......#..#########......#",
    ],
    "lute": [
        "#..........#.......#..#########..#########",
        "#..........#.......#......#......#",
        "#..........#.......#......#......#",
        "#..........#.......#......#......#########",
        "#..........#.......#......#......#",
        "#..........#.......#......#......#",
        "#########..#########......#......#########",
    ],
    "qel": [
        "#########..#########..#",
        "#.......#..#..........#",
        "#.......#..#..........#",
        "#.......#..#########..#",
        "#.....#.#..#..........#",
        "#......##..#..........#",
        "#########..#########..#########",
    ],
    "rover_tam": [
        "....#",
        ".....#",
        "......#",
        ".......#",
        "##########",
        ".......#",
        "......#",
        ".....#",
        "....#",
    ],
}
SIZES = {"hut": (199, 57), "lute": (268, 82), "qel": (175, 76), "rover_tam": (70, 18)}
RENDERERS = {
    "hut": lambda: qel.__string__.hut,
    "lute": lambda: qel.__string__.lute,
    "qel": lambda: qel.__string__.qel.qel,
    "rover_tam": lambda: qel.__string__.qel.vb.rover_tam,
}
QUALNAMES = {
    "hut": "__string__.hut",
    "lute": "__string__.lute",
    "qel": "__string__.qel.qel",
    "rover_tam": "__string__.qel.vb.rover_tam",
}
LOCATIONS = {
    "hut": "__string__.hut",
    "lute": "__string__.lute",
    "qel": "__string__.qel.qel",
    "rover_tam": "__string__.vb.qel.rover_tam",
}
names = pytest.mark.parametrize("name", list(GLYPHS))


def glyph_text(name):
    """The glyph as one text: '#' for ink, ' ' for blanks, rows joined by line feeds."""
    return "\n".join(GLYPHS[name]).replace(".", " ")


def draw(name, fill, randint):
    """An independent drawing: one randint(0, n - 1) per ink cell, in reading order."""
    items = list(fill)
    return "".join(items[randint(0, len(items) - 1)] if c == "#" else c for c in glyph_text(name))


def render(name, *args, **kwargs):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        result = RENDERERS[name]()(*args, **kwargs)
    assert result is None
    return out.getvalue()


@names
def test_glyph_shape(name):
    text = glyph_text(name)
    length, ink = SIZES[name]
    assert (len(text), text.count("#")) == (length, ink)

    picture = render(name, "x")
    assert picture == text.replace("#", "x") + "\n"
    assert all(row == row.rstrip(" ") for row in picture.split("\n"))
    assert render(name) == text.replace("#", "ю") + "\n"


@names
def test_one_draw_per_ink_cell_in_reading_order(name, monkeypatch):
    calls = []

    def counting_rd(a, b):
        calls.append((a, b))
        return (len(calls) - 1) % (b + 1)

    monkeypatch.setattr(qel, "rd", counting_rd)
    picture = render(name, "abc")
    ink = SIZES[name][1]
    assert calls == [(0, 2)] * ink
    steps = iter(range(ink))
    assert picture == draw(name, "abc", lambda a, b: next(steps) % (b + 1)) + "\n"

    calls.clear()
    assert render(name, "z") == glyph_text(name).replace("#", "z") + "\n"
    assert calls == [(0, 0)] * ink


@names
@pytest.mark.parametrize("fill", ["ab", "qel!", "中文😀", qel.str("hello")])
def test_seeded_fill_matches_independent_drawing(name, fill):
    random.seed(1234)
    picture = render(name, fill)
    random.seed(1234)
    assert picture == draw(name, fill, random.randint) + "\n"


@names
@settings(max_examples=40, deadline=None)
@given(fill=st.text(min_size=1, max_size=8))
def test_every_ink_cell_holds_a_fill_character(name, fill):
    picture = render(name, fill)
    assert picture.endswith("\n")
    cells = list(picture[:-1])
    glyph = glyph_text(name)
    assert len(cells) == len(glyph)
    for cell, mark in zip(cells, glyph):
        assert cell in fill if mark == "#" else cell == mark


@names
@pytest.mark.parametrize("copy", [False, True])
def test_colour_block_fill(name, copy):
    blocks = qel.__string__.color
    fill = [builtins.str(b) for b in blocks] if copy else blocks
    random.seed(99)
    picture = render(name, fill)
    random.seed(99)
    assert picture == draw(name, blocks, random.randint) + "\n"
    # Each block paints one terminal column, so every row keeps its width.
    columns = picture
    for block in blocks:
        columns = columns.replace(block, "#")
    assert columns == glyph_text(name) + "\n"


def test_colour_list_is_read_at_each_call(monkeypatch):
    monkeypatch.setattr(qel.__string__, "color", ["@"])
    assert render("hut", ["@"]) == glyph_text("hut").replace("#", "@") + "\n"
    monkeypatch.setattr(qel.__string__, "color", [])
    with pytest.raises(ValueError):
        render("hut", [])


def test_picture_goes_through_one_print_call(monkeypatch):
    seen = []
    monkeypatch.setattr(builtins, "print", lambda *a, **k: seen.append((a, k)))
    assert qel.__string__.lute("k") is None
    assert seen == [((glyph_text("lute").replace("#", "k"),), {})]


def test_namespace_layout():
    ns = qel.__string__
    keys = lambda cls: [k for k in vars(cls) if not k.startswith("__")]
    assert keys(ns) == ["color", "fcolor", "hut", "lute", "qel"]
    assert keys(ns.qel) == ["qel", "vb"]
    assert keys(ns.qel.vb) == ["rover_tam"]
    for cls, qualname in [(ns, "__string__"), (ns.qel, "__string__.qel"), (ns.qel.vb, "__string__.qel.vb")]:
        assert (cls.__qualname__, cls.__module__, cls.__doc__, cls.__bases__) == (qualname, "qel", None, (object,))


@names
def test_renderer_function(name):
    f = RENDERERS[name]()
    assert (f.__name__, f.__qualname__, f.__module__, f.__doc__) == (
        QUALNAMES[name].rsplit(".", 1)[1], QUALNAMES[name], "qel", None)
    assert f.__defaults__ == ("ю",) and type(f.__defaults__[0]) is builtins.str
    assert f.__annotations__ == {}
    assert str(inspect.signature(f)) == "(Str='ю')"


class __string__:
    def hut(Str="ю"): pass
    def lute(Str="ю"): pass

    class qel:
        def qel(Str="ю"): pass

        class vb:
            def rover_tam(Str="ю"): pass


REFERENCE = {
    "hut": __string__.hut,
    "lute": __string__.lute,
    "qel": __string__.qel.qel,
    "rover_tam": __string__.qel.vb.rover_tam,
}


@names
@pytest.mark.parametrize("args, kwargs", [(("a", "b"), {}), ((), {"text": "a"}), (("a",), {"Str": "b"})])
def test_argument_errors_match_a_def(name, args, kwargs):
    with pytest.raises(TypeError) as expected:
        REFERENCE[name](*args, **kwargs)
    with pytest.raises(TypeError) as got:
        RENDERERS[name]()(*args, **kwargs)
    assert str(got.value) == str(expected.value)


def wrap(text):
    return "\x1b[31;1m" + text + "\x1b[0m"


def message_line(text):
    return wrap("\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m" + text + "\x1b[0m\n")


BAD_VALUES_CODE = """
    import os, sys, json, traceback, qel
    class MyStr(qel.str): pass
    class PlainSub(str): pass
    values = ["", qel.str(""), 5, None, True, 2.5, b"abc", ["a"], ("a", "b"),
              qel.__string__.color[:-1], tuple(qel.__string__.color), MyStr("abc"), PlainSub("abc")]
    renderer = {renderer}
    calls = [(renderer, (v,)) for v in values]
    # Through an instance the instance itself becomes Str.
    holder = {holder}()
    calls.append((getattr(holder, renderer.__name__), ()))
    values.append(holder)

    def probe(fn, args):
        return fn(*args)

    def cut():
        sys.stderr.flush()
        os.write(2, b"\\0cut\\0")

    for fn, args in calls:
        # The reference stack comes from the same frames and position.
        for f, a in ((fn, args), (traceback.print_stack, (None,))):
            cut()
            print(repr(probe(f, a)))
    cut()
    print(json.dumps([[str(v), type(v).__name__] for v in values]))
"""
CLASSES = {
    "hut": ("qel.__string__.hut", "qel.__string__"),
    "lute": ("qel.__string__.lute", "qel.__string__"),
    "qel": ("qel.__string__.qel.qel", "qel.__string__.qel"),
    "rover_tam": ("qel.__string__.qel.vb.rover_tam", "qel.__string__.qel.vb"),
}


@names
def test_bad_argument_reports(name, py):
    renderer, holder = CLASSES[name]
    result = py(BAD_VALUES_CODE.format(renderer=renderer, holder=holder))
    *returns, forms = result.text.splitlines()
    forms = json.loads(forms)
    assert returns == ["None"] * (2 * len(forms))

    chunks = result.err.decode("utf-8").split("\0cut\0")
    assert chunks[0] == "" and chunks[-1] == ""
    red = "\x1b[31mqel." + LOCATIONS[name] + ": 此函数需要一个字符串! This function requires a string!"
    for (report, reference), (text, type_name) in zip(zip(chunks[1:-1:2], chunks[2:-1:2]), forms):
        assert 'File "<string>"' in reference and reference.startswith("\x1b[31;1m")
        assert report == reference + message_line("Str = %s, Type = %s" % (text, type_name)) + message_line(red)
    assert len(chunks) == 2 * len(forms) + 2
