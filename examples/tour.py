"""A short tour of what `import qel` gives an interactive session."""
import os
import random
import sys

# The welcome line, but no version check: the tour needs no network.
os.environ["qel.no_check"] = "1"

import qel  # noqa: E402

random.seed(2024)

s = qel.str('Hello, "qel"!\n\tЮникод 中文 \U00020BB7')
print("repr:", repr(s))
coloured = qel.str("rainbow text").qe_addcolor()
print("qe_addcolor:", coloured)
print("qe_rmcolor:", repr(coloured.qe_rmcolor()))
print("qe_remove:", qel.str("banana").qe_remove("a", 2))
print("qe_goto_unicode:", qel.str("Aю\U00020BB7").qe_goto_unicode())
print("qe_decode:", qel.str("\xc3\xa9t\xc3\xa9").qe_decode())
print("qe_goto_qel:", qel.str("a message in the module's format").qe_goto_qel())
print("qe_only:", qel.str("aaaa").qe_only("a"), qel.str("aab").qe_only("a"))
print("colour blocks:", "".join(qel.__string__.color))

# A listener records everything written to standard output and standard error
# (which shows in bold red) until it is closed.
listener = qel.terminal_listener()
print("captured line")
print("standard error shows in bold red", file=sys.stderr)
qel.qel_send_message("a notice, in the module's message format")
listener.close()
print("listener read:", repr(listener.read()))
print("listener:", str(listener)[:60] + "...")

# Json: a dictionary that always holds JSON data.
a = qel.json('{"name": "qel", "tags": ["terminal"]}')
b = a + {"version": 2.2}
print("Json:", repr(b), "| minus name:", str(b - "name"), "| call:", b("version"))

# Small utilities.
print("numberOfSteps(14):", qel.Solution.numberOfSteps(14))
print("rdletters(8, 0):", qel.rdletters(8, 0))
print("multiple(-4, 12, -9):", qel.multiple(-4, 12, -9))

# The block-letter renderers: each ink cell is filled at random with one of
# the characters given, or with one of the colour blocks.
renderers = [qel.__string__.hut, qel.__string__.lute, qel.__string__.qel.qel, qel.__string__.qel.vb.rover_tam]
for render in renderers:
    print(render.__qualname__ + ":")
    render("qel")
    render(qel.__string__.color)
