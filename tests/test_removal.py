"""qe_remove made in one pass: the same text, type and string invariants as
`str.replace` followed by the type, for every width, piece and count."""
import ctypes
import random
import sys
import tracemalloc
from pathlib import Path

import pytest

import qel
from conftest import run_python

S = qel.str
_WIDE = ["", "é", "中", "\U0001f600"]
# Pieces of every length from 1 to 11 that can't overlap themselves, as the
# vector kernels have a form for each length up to 8 and one for the rest.
_PIECES = ["\x1b[0m", "a", "ab", "aa", "aba", "é", "中", "a中", "\U0001f600", "x" * 17, "ab" * 35, "\x1b[0m\x1b[0m", "\x1b[0",
           "\x1b[31m", "\x1b[0;1m", "\x1b[1;31m", "\x1b[01;31m", "\x1b[38;5;196m", "\x00m"]
_FILL = ["a", "b", "x", " ", "\x1b", "[", "0", "m", "é", "中", "\U0001f600"]
_LENGTHS = [0, 5, 63, 64, 65, 255, 256, 300, 1000, 5000]
_LIMITS = [-1, 0, 1, 3, 10**6]


def _text(rng, wide, length, piece):
    # Occurrences of the piece everywhere, including across 64-byte block
    # edges, between characters that can start or end it.
    parts, size = [wide], len(wide)
    while size < length:
        part = piece if rng.random() < 0.3 else rng.choice(_FILL) if not wide else rng.choice(_FILL[:8] + [wide])
        parts.append(part)
        size += len(part)
    return "".join(parts)[:length] if length else ""


def check_removals(seed):
    """Every case against str.replace; returns how many were checked."""
    rng = random.Random(seed)
    checked = 0
    for wide in _WIDE:
        for length in _LENGTHS:
            for piece in _PIECES:
                text = _text(rng, wide, length, piece)
                for limit in _LIMITS:
                    expected = text.replace(piece, "", *([] if limit < 0 else [limit]))
                    got = S(text).qe_remove(piece, limit)
                    # Equality compares the storage width first, so a result in
                    # the wrong width would differ here.
                    assert type(got) is S and got == expected, (wide, length, piece, limit)
                    assert got.isascii() == expected.isascii() and hash(got) == hash(expected)
                    assert got[::-1] == expected[::-1] and got.encode("utf-8") == expected.encode("utf-8")
                    checked += 1
    return checked


def test_removal_matches_replace():
    assert check_removals(1) == len(_WIDE) * len(_LENGTHS) * len(_PIECES) * len(_LIMITS)


@pytest.mark.parametrize("switch", [{"QEL_NO_AVX512": "1"}, {"QEL_NO_AVX2": "1"},
                                    {"QEL_KEPT_UNITS": "compressed"}, {"QEL_KEPT_UNITS": "ordered"}])
def test_removal_matches_replace_on_every_code_path(switch):
    code = f"""
import sys
sys.path.insert(0, {str(Path(__file__).parent)!r})
from test_removal import check_removals
sys.stdout.vanilla_write(str(check_removals(2)))
"""
    assert run_python(code, env=switch).out == str(check_removals(2)).encode()


@pytest.mark.parametrize("text", ["a-b\x00c\x2d\x00", "é-\x00", "é\u0100-\x00"])
@pytest.mark.parametrize("piece", ["中", "\u0100", "\U0001f600", "\U0001f600-", "é", "-", "\x00"])
def test_a_piece_wider_than_the_text_never_matches_a_narrower_character(text, piece):
    # 中 is U+4E2D and U+0100 and U+1F600 end in 0x00: cut to the text's
    # width they would equal "-" or NUL.
    for times in (-1, 1):
        expected = text.replace(piece, "", *([] if times < 0 else [times]))
        assert S(text * 100).qe_remove(piece, times) == (text * 100).replace(piece, "", *([] if times < 0 else [times]))
        assert S(text).qe_remove(piece, times) == expected


def test_removal_result_in_the_interpreters_other_forms():
    text = "中" + "ab\x1b[0m" * 200
    got = S(text).qe_remove("\x1b[0m")
    assert ctypes.create_unicode_buffer(got).value == "中" + "ab" * 200
    assert got.encode("utf-16-le").decode("utf-16-le") == "中" + "ab" * 200
    ascii_result = S("ab\x1b[0m" * 200).qe_remove("\x1b[0m")
    assert ascii_result.encode() == b"ab" * 200 and ascii_result.isascii()


@pytest.mark.parametrize("kept", ["a", "é", "中", "\U0001f600"])
def test_a_result_that_lost_most_of_its_text_gives_the_room_back(kept):
    text = S((kept + "-" * 9) * 20_000)
    tracemalloc.start()
    try:
        got = text.qe_remove("-")
        held = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    assert got == kept * 20_000
    assert held < 2 * sys.getsizeof(got)


def test_removal_honours_overrides():
    class Own(S):
        def replace(self, *args):
            return "own replace"

    assert Own("abc").qe_remove("b") == "own replace"
    s = S("abc")
    s.replace = lambda *args: "instance replace"
    assert s.qe_remove("b") == "instance replace"

    made = []
    S.__init__ = lambda self, *args: made.append(args)
    try:
        assert S("abc").qe_remove("b") == "ac" and made == [("abc",), ("ac",)]
    finally:
        del S.__init__
    assert type(S("abc").qe_remove("b")) is S


def test_removal_with_the_module_str_rebound():
    class Loud(str):
        def __new__(cls, value):
            return str.__new__(cls, "<" + value + ">")

    saved = qel.str
    qel.str = Loud
    try:
        r = saved("a-b").qe_remove("-")
    finally:
        qel.str = saved
    assert r == "<ab>" and type(r) is Loud
