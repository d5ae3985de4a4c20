"""help() shows every public object with its signature and its docstring."""
import functools
import pydoc

import pytest

import qel


def help_text(obj):
    return pydoc.render_doc(obj, renderer=pydoc.plaintext)


def resolve(path):
    return functools.reduce(getattr, path.split("."), qel)


@pytest.mark.parametrize("path, signature", [
    ("rdletters", "rdletters(lt=12, up=1)"),
    ("multiple", "multiple(num='VB', max='VB', min=0)"),
    ("colorful_ps", "colorful_ps()"),
    ("qel_send_message", "qel_send_message(text, /)"),
    ("Solution.numberOfSteps", "numberOfSteps(num='VB', numc='VB')"),
    ("str.qe_remove", "qe_remove(self, to_rm, times=-1) -> str"),
    ("str.qe_only", "qe_only(self, char)"),
    ("terminal_listener", "terminal_listener(log=0)"),
    ("terminal_listener.read", "read(self) -> qel.str"),
    ("Json.update", "update(self, value)"),
    ("json", "__call__(self, data={})"),
    ("__string__.hut", "hut(Str='ю')"),
    ("__string__.qel.vb.rover_tam", "rover_tam(Str='ю')"),
])
def test_help_shows_signature_and_docstring(path, signature):
    obj = resolve(path)
    text = help_text(obj)
    assert signature in text
    doc = (type(obj) if path == "json" else obj).__doc__
    if doc:  # shown whole, one indented line per docstring line
        for line in doc.strip().splitlines():
            assert line.strip() in text


def test_module_help_lists_the_public_api():
    text = help_text(qel)
    assert text.splitlines()[3].strip() == "qel - " + qel.__doc__
    for name in ("Json", "Solution", "__string__", "str", "terminal_listener", "vanilla"):
        assert f"class {name}(" in text
    for name in ("colorful_ps()", "multiple(", "qel_send_message(text, /)", "rdletters("):
        assert "\n    " + name in text
    assert "json = <function qel.json can parse a dict to a qel.Json>" in text
