"""The module's functions behave like functions written in Python."""
import copy
import gc
import inspect
import pickle
import pydoc
import sys
import weakref

import pytest

import qel

remove = qel.str.qe_remove


def twin(name, qualname, source):
    """A def with the same signature, named as the interpreter would name ours."""
    namespace = {}
    exec(source, namespace)
    f = namespace[name]
    f.__qualname__ = qualname
    return f


REMOVE_TWIN = twin("qe_remove", "str.qe_remove", "def qe_remove(self, to_rm, times=-1): pass")
ONLY_TWIN = twin("qe_only", "str.qe_only", "def qe_only(self, char): pass")
REPR_TWIN = twin("__repr__", "str.__repr__", "def __repr__(self): pass")


def error_of(f, args, kwargs):
    try:
        f(*args, **kwargs)
    except TypeError as e:
        return str(e)
    return None


@pytest.mark.parametrize(
    "ours, theirs",
    [(remove, REMOVE_TWIN), (qel.str.qe_only, ONLY_TWIN), (qel.str.__repr__, REPR_TWIN)],
)
@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((qel.str("a"),), {}),
        ((qel.str("a"), "a", 1, 2, 3), {}),
        ((qel.str("a"), "a"), {"tmes": 1}),
        ((qel.str("a"), "a"), {"xyzzy": 1}),
        ((qel.str("a"), "a"), {"self": 1}),
        ((qel.str("a"),), {"to_r": "a"}),
        ((), {"char": "a"}),
        ((qel.str("a"), "x", 1), {"times": 1}),
        ((1, 2, 3, 4, 5, 6, 7), {"zz": 1}),
    ],
)
def test_argument_errors_match_a_def(ours, theirs, args, kwargs):
    expected = error_of(theirs, args, kwargs)
    if expected is None:
        return  # a valid call for this signature; not an argument error
    assert error_of(ours, args, kwargs) == expected


def test_keyword_argument_names_must_be_strings():
    with pytest.raises(TypeError, match="keywords must be strings"):
        remove(qel.str("a"), "a", **{1: 2})


def test_argument_error_follows_renaming_like_a_def():
    f = twin("qe_remove", "str.qe_remove", "def qe_remove(self, to_rm, times=-1): pass")
    f.__qualname__ = f.__name__ = "renamed"
    saved = remove.__qualname__, remove.__name__
    remove.__qualname__ = remove.__name__ = "renamed"
    try:
        assert error_of(remove, (), {}) == error_of(f, (), {})
    finally:
        remove.__qualname__, remove.__name__ = saved


def test_attributes_of_a_method():
    assert remove.__name__ == "qe_remove"
    assert remove.__qualname__ == "str.qe_remove"
    assert remove.__module__ == "qel"
    assert remove.__doc__ == "从字符串中删除一些字符. Remove some characters from the string."
    assert remove.__defaults__ == (-1,)
    assert remove.__kwdefaults__ is None
    assert remove.__annotations__ == {"return": str}
    assert remove.__globals__ is vars(qel)
    assert repr(remove).startswith("<function str.qe_remove at 0x")


def test_writable_attributes_behave_as_for_a_def():
    f = qel.str.qe_goto_unicode
    saved = f.__defaults__
    try:
        f.__defaults__ = (0,)
        assert qel.str("A").qe_goto_unicode() == "\\u0041"
        f.__defaults__ = None
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'ifx'"):
            qel.str("A").qe_goto_unicode()
    finally:
        f.__defaults__ = saved
    for attr, bad in [("__defaults__", [1]), ("__kwdefaults__", 1), ("__annotations__", 1),
                      ("__name__", 1), ("__qualname__", None)]:
        with pytest.raises(TypeError):
            setattr(f, attr, bad)
    with pytest.raises(TypeError):
        del f.__name__
    f.custom = 5
    assert f.__dict__["custom"] == 5
    del f.custom


def test_binding_through_instance_and_class():
    s = qel.str("xaxax")
    bound = s.qe_remove
    assert bound.__self__ is s and bound.__func__ is remove
    assert bound("x", 2) == "aax"
    assert qel.str.qe_remove(s, "x") == "aa"
    assert qel.str.__dict__["qe_remove"].__get__(None, qel.str) is remove


def test_signature_and_help():
    assert str(inspect.signature(remove)) == "(self, to_rm, times=-1) -> str"
    assert str(inspect.signature(qel.str("a").qe_remove)) == "(to_rm, times=-1) -> str"
    assert str(inspect.signature(qel.str.qe_only)) == "(self, char)"
    text = pydoc.render_doc(remove, renderer=pydoc.plaintext)
    assert "qe_remove(self, to_rm, times=-1) -> str" in text
    assert "Remove some characters from the string." in text


def test_signature_follows_defaults():
    f = qel.str.qe_decode
    saved = f.__defaults__
    try:
        f.__defaults__ = ("latin-1",)
        assert str(inspect.signature(f)) == "(self, encoding='latin-1') -> str"
    finally:
        f.__defaults__ = saved


def test_pickle_copy_weakref():
    assert pickle.loads(pickle.dumps(remove)) is remove
    assert copy.copy(remove) is remove and copy.deepcopy(remove) is remove
    assert weakref.ref(remove)() is remove


def test_special_methods_and_subclassing():
    class Sub(qel.str):
        pass

    s = Sub('a"b')
    assert repr(s) == '<QEL String type: "a\\"b">'
    assert type(s.qe_remove("a")) is qel.str
    assert qel.str.__module__ == "qel" and type(qel.str) is type
    s.note = 1  # instances carry a dict, as for a class statement
    assert s.__dict__ == {"note": 1}


def test_gc_sees_what_a_function_holds():
    f = qel.str.qe_decode
    f.marker = marker = object()
    try:
        referents = gc.get_referents(f)
        assert gc.is_tracked(f)
        assert f.__dict__ in referents and f.__defaults__ in referents and vars(qel) in referents
    finally:
        del f.marker
    assert marker is not None


@pytest.mark.skipif(not hasattr(sys, "getrefcount"), reason="needs refcounts")
def test_calls_do_not_leak():
    s = qel.str("abc\x1b[31m")
    for f, args in [(remove, (s, "b")), (qel.str.qe_rmcolor, (s,)), (qel.str.__repr__, (s,)),
                    (qel.str.qe_goto_unicode, (s,)), (qel.str.qe_decode, (s,))]:
        f(*args)
        before = sys.getrefcount(s)
        for _ in range(1000):
            f(*args)
        assert sys.getrefcount(s) == before
