"""Checked by mypy in CI (not run by pytest): what the stub promises callers.

Each line states the type a call gives; the `type: ignore` lines are calls the
stub must refuse, and mypy's --warn-unused-ignores fails if one is accepted.
"""
from typing import List, Literal, Optional

from typing_extensions import assert_type

import qel

s = qel.str("abc")
assert_type(s.qe_addcolor(), qel.str)
assert_type(s.qe_addcolor().qe_rmcolor().qe_remove("\x1b[0m"), qel.str)
assert_type(s.qe_goto_unicode(0), qel.str)
assert_type(s.qe_decode("latin-1"), qel.str)
assert_type(s.qe_goto_qel(), qel.str)
assert_type(s.qe_only("a"), Optional[Literal[1]])
assert_type(repr(s), str)
s.qe_remove(1)  # type: ignore[arg-type]

t = qel.terminal_listener(log=1)
assert_type(t.read(), qel.str)
assert_type(t.close(), None)
assert_type(qel.terminal_listener.listeners, List[qel.terminal_listener])

qel.__string__.hut()
qel.__string__.qel.vb.rover_tam(qel.__string__.color)
qel.__string__.lute(5)  # type: ignore[arg-type]
qel.qel_send_message(5)
qel.qel_send_message(text="x")  # type: ignore[call-arg]

a = qel.json('{"a": 1}')
b = qel.json[{"b": [2]}]
assert_type(a + b, qel.Json)
assert_type(a - "a", qel.Json)
assert_type(a.copy(), qel.Json)
assert_type(a.update({"c": 3}), None)
a + [1]  # type: ignore[operator]
qel.json(5)  # type: ignore[arg-type]

assert_type(qel.Solution.numberOfSteps(14), Optional[int])
assert_type(qel.rdletters(8, 0), Optional[str])
assert_type(qel.multiple(3, 10), Optional[List[int]])
qel.multiple("3", 10)  # type: ignore[arg-type]
assert_type(qel.vanilla.str, type[str])
