"""terminal_listener and the standard output writer.

Every scenario runs in a fresh interpreter: importing qel hooks the process's
streams. Children report values through `sys.stdout.vanilla_write`, which the
listeners never see, after the scenario's own output.
"""
import json

import pytest

from conftest import run_python

RED, RESET = "\x1b[31;1m", "\x1b[0m"


def line(text):
    """The message line qel_send_message prints, as the stderr writer wraps it."""
    return f"{RED}\x1b[33;4m[ю QEL]\x1b[0;32m: \x1b[35m{text}{RESET}\n{RESET}"


OPEN = line("启动终端监听器. Start terminal listener.")
CLOSE = line("关闭终端监听器. Turn off terminal listener.")

# Shared child preamble: `report(**values)` appends one JSON line to stdout
# without passing through the writer.
PRELUDE = """
import json, sys
import qel
def report(**values):
    sys.stdout.flush()
    sys.stdout.vanilla_write("\\n#" + json.dumps(values) + "\\n")
"""


def scenario(body, **kw):
    result = run_python(PRELUDE + body, **kw)
    out, _, tail = result.out.decode("utf-8").rpartition("\n#")
    return out, result.err.decode("utf-8"), json.loads(tail)


def test_hook_layout():
    _, err, r = scenario("""
import io
report(
    out_qualname=sys.stdout.write.__qualname__,
    err_qualname=sys.stderr.write.__qualname__,
    names=[sys.stdout.write.__name__, sys.stderr.write.__name__],
    docs=[sys.stdout.write.__doc__, sys.stderr.write.__doc__],
    out_vanilla=sys.stdout.vanilla_write == io.TextIOWrapper.write.__get__(sys.stdout),
    err_vanilla=sys.stderr.vanilla_write == io.TextIOWrapper.write.__get__(sys.stderr),
    holder=hasattr(qel.terminal_listener, "__stdout__"),
    stderr_class=hasattr(qel, "terminal_stderr"),
    listeners=qel.terminal_listener.listeners,
    content=[type(qel.terminal_listener.content) is qel.str, qel.terminal_listener.content],
    doc=qel.terminal_listener.__doc__,
    method_docs={m: getattr(qel.terminal_listener, m).__doc__
                 for m in ("__init__", "read", "close", "__del__", "__str__", "__repr__")},
    returns=[getattr(qel.terminal_listener, m).__annotations__.get("return") is qel.str
             for m in ("read", "__str__", "__repr__")],
)
""")
    assert err == ""
    assert r["out_qualname"] == "terminal_listener.__stdout__.write"
    assert r["err_qualname"] == "terminal_stderr.write"
    assert r["names"] == ["write", "write"] and r["docs"] == [None, None]
    assert r["out_vanilla"] and r["err_vanilla"]
    assert not r["holder"] and not r["stderr_class"]
    assert r["listeners"] == [] and r["content"] == [True, ""]
    assert r["doc"] == "终端输出信息监听程序. Terminal output message listener."
    assert r["method_docs"] == {
        "__init__": "创建监听事件. Create a listen event.",
        "read": "读取监听内容. Read the listen.",
        "close": "关闭监听事件. Turn off listening events.",
        "__del__": " 删除事件时关闭事件. Close an event when deleting it.",
        "__str__": "自定义转字符串效果. Customize the conversion string effect",
        "__repr__": "自定义显示效果. Customize the display.",
    }
    assert r["returns"] == [True, True, True]


def test_capture_order_with_several_listeners():
    out, err, r = scenario("""
a = qel.terminal_listener()
b = qel.terminal_listener()
print("x")
a.close()
print("y")
b.close()
print("z")
report(a=a.read(), b=b.read(), read_type=type(a.read()) is qel.str, registry=len(qel.terminal_listener.listeners))
""")
    assert out == "x\ny\nz\n" and err == ""
    assert r == {"a": "x\n", "b": "x\ny\n", "read_type": True, "registry": 0}


def test_fresh_listener_and_texts():
    out, _, r = scenario("""
t = qel.terminal_listener()
fresh = [repr(t), str(t), t.read(), type(t.read()) is qel.str]
print("hi")
after = [repr(t), str(t), type(str(t)) is qel.str, type(repr(t)) is qel.str]
t.content = '"\\x1b\\\\'
odd = [repr(t), str(t)]
t.content = "a\\tb\\rc\\u4e2d"
report(fresh=fresh, after=after, odd=odd, wide=str(t))
""")
    assert out == "hi\n"
    assert r["fresh"] == ["<QEL Terminal listener object read 0 characters>",
                          '<QEL Terminal listener object read 0 characters: "">', "", True]
    assert r["after"] == ["<QEL Terminal listener object read 3 characters>",
                          '<QEL Terminal listener object read 3 characters: "hi\\n">', True, True]
    assert r["odd"] == ["<QEL Terminal listener object read 3 characters>",
                        '<QEL Terminal listener object read 3 characters: "\\"\\33\\\\">']
    assert r["wide"] == '<QEL Terminal listener object read 6 characters: "a\\tb\\rc中">'


def test_printing_a_listener_appends_the_text_as_it_was():
    out, _, r = scenario("""
t = qel.terminal_listener()
print("hi")
print(t)
report(content=t.read())
""")
    shown = '<QEL Terminal listener object read 3 characters: "hi\\n">'
    assert out == f"hi\n{shown}\n"
    assert r["content"] == f"hi\n{shown}\n"


def test_notices_follow_log():
    out, err, r = scenario("""
a = qel.terminal_listener(1)
own = a.read()
b = qel.terminal_listener(log=True)
a.close()
b.log = 0
b.close()
quiet = qel.terminal_listener()
quiet.log = "yes"
quiet.close()
report(own=own, a=a.read(), b=b.read(), log=a.log)
""")
    assert err == OPEN + OPEN + CLOSE + CLOSE
    # Each captures its own opening notice but not its own closing notice.
    assert r["own"] == OPEN
    assert r["a"] == OPEN + OPEN
    assert r["b"] == OPEN + CLOSE
    assert r["log"] == 1


def test_close_twice_and_return_values():
    out, err, r = scenario("""
t = qel.terminal_listener(1)
results = [t.close(), sys.stdout.write("abc"), sys.stderr.write("e"), qel.qel_send_message("m")]
try:
    t.close()
except ValueError as e:
    second = str(e)
report(results=results, second=second)
""")
    assert out == "abc"
    assert err == OPEN + CLOSE + f"{RED}e{RESET}" + line("m")
    assert r["results"] == [None, None, None, None]
    assert r["second"] == "list.remove(x): x not in list"


def test_vanilla_write_bypasses_capture():
    out, err, r = scenario("""
t = qel.terminal_listener()
sys.stdout.vanilla_write("raw-out ")
sys.stderr.vanilla_write("raw-err ")
sys.stdout.write("hooked-out ")
sys.stderr.write("hooked-err ")
report(content=t.read())
""")
    assert out == "raw-out hooked-out "
    assert err == f"raw-err {RED}hooked-err {RESET}"
    assert r["content"] == f"hooked-out {RED}hooked-err {RESET}"


def test_rebinding_the_streams_stops_capture_and_wrapping():
    out, err, r = scenario("""
import io
t = qel.terminal_listener()
real_out, real_err = sys.stdout, sys.stderr
sys.stdout, sys.stderr = io.StringIO(), io.StringIO()
print("to new out")
print("to new err", file=sys.stderr)
new = [sys.stdout.getvalue(), sys.stderr.getvalue()]
sys.stdout, sys.stderr = real_out, real_err
print("back")
report(content=t.read(), new=new)
""")
    assert out == "back\n" and err == ""
    assert r["new"] == ["to new out\n", "to new err\n"]
    assert r["content"] == "back\n"


def test_writer_called_after_rebinding_looks_up_the_new_stream():
    """The writer reaches whatever sys.stdout is now; without vanilla_write there, AttributeError."""
    out, _, r = scenario("""
import io
writer = sys.stdout.write
t = qel.terminal_listener()
real = sys.stdout
sys.stdout = io.StringIO()
try:
    writer("lost")
except AttributeError as e:
    error = str(e)
sys.stdout = real
report(error=error, content=t.read())
""")
    assert out == ""
    assert r["error"] == "'_io.StringIO' object has no attribute 'vanilla_write'"
    assert r["content"] == ""


def test_stream_failure_reaches_no_listener():
    out, _, r = scenario("""
t = qel.terminal_listener()
try:
    sys.stdout.write(5)
except TypeError as e:
    error = str(e)
try:
    sys.stdout.vanilla_write(5)
except TypeError as e:
    expected = str(e)
report(error=error, expected=expected, content=t.read())
""")
    assert r["error"] == r["expected"]
    assert r["content"] == ""


def test_replaced_content_and_a_failing_listener():
    out, _, r = scenario("""
a = qel.terminal_listener()
b = qel.terminal_listener()
c = qel.terminal_listener()
a.content = "kept:"
b.content = 7
try:
    print("x")
except TypeError as e:
    error = str(e)
try:
    7 + qel.str("x")
except TypeError as e:
    expected = str(e)
d = qel.terminal_listener()
d.content = qel.str("q")
a.close(); b.close(); c.close()
print("y")
report(a=a.content, b=b.content, c=c.read(), d=d.content, d_type=type(d.content).__name__,
       error=error, expected=expected)
""")
    # print stops at the failed write, before its "\n".
    assert out == "xy\n"
    # The failing listener stops the fan-out: earlier ones have the text, later ones not.
    assert r["a"] == "kept:x" and r["b"] == 7 and r["c"] == ""
    assert r["error"] == r["expected"]
    assert r["d"] == "qy\n" and r["d_type"] == "str"


def test_content_someone_holds_never_changes():
    """Capture grows the text in place only when nothing else can see it:
    strings held elsewhere, hashed or with a cached UTF-8 form stay as they
    were, and every listener (more than a handful at once) gets every text."""
    _, _, r = scenario("""
listeners = [qel.terminal_listener()]
pieces = ["ascii ", "latin é ", "中文 ", "emoji \U0001F600 ", "back to ascii\\n", "x" * 5000] * 40
held, expected = [], [""]
for i, p in enumerate(pieces):
    sys.stdout.write(p)
    for e in range(len(expected)):
        expected[e] += p
    t = listeners[i % len(listeners)]
    if i % 7 == 0:
        held.append((t.content, t.content.encode()))
    if i % 11 == 0:
        hash(t.content)
    if i % 37 == 5 and len(listeners) < 6:
        listeners.append(qel.terminal_listener())
        expected.append("")
ok = [t.read() == e for t, e in zip(listeners, expected)]
hashes_ok = hash(listeners[0].content) == hash("".join(list(listeners[0].content)))
for t in listeners:
    t.close()
report(ok=ok, held=all(a.encode() == b for a, b in held), n=len(held), hashes_ok=hashes_ok)
""")
    assert r == {"ok": [True] * 6, "held": True, "n": 35, "hashes_ok": True}


@pytest.mark.parametrize("cache, check", [
    # compile() caches the string's UTF-8 form and reads it.
    ("compile(t.content, '<content>', 'exec')",
     "ns = {}; exec(compile(t.content, '<content>', 'exec'), ns); ok = ns['v'] == 'éüß'"),
    # hash() caches the hash that dict lookups trust.
    ("hash(t.content)",
     "ok = {t.content: 1}.get(\"v = 'é' + 'ü' + 'ß'\") == 1"),
])
def test_content_with_cached_forms_is_not_changed_in_place(cache, check):
    """A content string whose hash or UTF-8 form the interpreter has cached
    is replaced, never extended, so neither goes stale."""
    _, _, r = scenario(f"""
t = qel.terminal_listener()
sys.stdout.write("v = 'é'")
sys.stdout.write(" + 'ü'")
{cache}
sys.stdout.write(" + 'ß'")
{check}
report(ok=ok)
""")
    assert r == {"ok": True}


def test_subclass_with_printing_assignment_and_close_during_fan_out():
    out, _, r = scenario("""
L = qel.terminal_listener
class Noisy(L):
    busy = False
    def __setattr__(self, name, value):
        object.__setattr__(self, name, value)
        if name == "content" and not Noisy.busy:
            Noisy.busy = True
            try:
                print("<set>")
            finally:
                Noisy.busy = False

class Closer(L):
    def __setattr__(self, name, value):
        object.__setattr__(self, name, value)
        if name == "content" and victim in L.listeners:
            victim.close()

first = L()
noisy = Noisy()
closer = Closer()
victim = L()
last = L()
sys.stdout.write("A")
sys.stdout.write("B")
report(first=first.read(), noisy=noisy.read(), closer=closer.read(), victim=victim.read(),
       last=last.read(), open=[x is last for x in L.listeners[3:]])
""")
    # The stream gets each text once; the nested write reaches everyone open.
    assert out == "A<set>\nB<set>\n"
    # Each write: the nested print runs inside noisy's assignment, so the
    # listeners before noisy see the nested text after the outer one and the
    # ones after see it first. The victim, closed during the first fan-out,
    # still gets that text and nothing later.
    assert r["first"] == "A<set>\nB<set>\n"
    assert r["noisy"] == "A<set>\nB<set>\n"
    assert r["closer"] == "<set>\nA<set>\nB"
    assert r["victim"] == "<set>A"
    assert r["last"] == "<set>\nA<set>\nB"
    assert r["open"] == [True]


def test_retried_import_never_chains_writers():
    """A failed import leaves the hooks; the next import keeps the original vanilla_write."""
    result = run_python("""
import io, sys, random
real_randint = random.randint
random.randint = None            # the prompts step fails, after both hooks
try:
    import qel
except TypeError:
    pass
random.randint = real_randint
first_write = sys.stdout.write
import qel
t = qel.terminal_listener()
print("once")
sys.stderr.write("e")
t.close()
sys.stdout.vanilla_write(repr(str(t.read())) + "|")
sys.stdout.vanilla_write(repr([
    sys.stdout.vanilla_write == io.TextIOWrapper.write.__get__(sys.stdout),
    sys.stderr.vanilla_write == io.TextIOWrapper.write.__get__(sys.stderr),
    sys.stdout.write is not first_write,
]))
""")
    assert result.out.decode() == "once\n" + repr("once\n\x1b[31;1me\x1b[0m") + "|[True, True, True]"
    assert result.err.decode() == "\x1b[31;1me\x1b[0m"


def test_finalizer_of_closed_listener_is_silent():
    out, err, r = scenario("""
import gc
t = qel.terminal_listener(1)
t.close()
del t
gc.collect()
u = qel.terminal_listener(1)
u.__del__()                       # still open: behaves as close()
after = [u in qel.terminal_listener.listeners, u.__del__()]
report(after=after)
""")
    assert err == OPEN + CLOSE + OPEN + CLOSE
    assert r["after"] == [False, None]


@pytest.mark.parametrize("call", ["w()", "w('a', 'b')", "w(text='a')"])
def test_writer_argument_errors_match_a_def(call):
    _, _, r = scenario(f"""
class terminal_listener:
    class __stdout__:
        def write(text, /):
            pass
class terminal_stderr:
    def write(text, /):
        pass
def qel_send_message(text, /):
    pass
got, want = [], []
for mine, ref in [(sys.stdout.write, terminal_listener.__stdout__.write),
                  (sys.stderr.write, terminal_stderr.write),
                  (qel.qel_send_message, qel_send_message)]:
    for f, out in ((mine, got), (ref, want)):
        w = f
        try:
            {call}
        except TypeError as e:
            out.append(str(e))
report(got=got, want=want)
""")
    assert len(r["got"]) == 3
    assert r["got"] == r["want"]


def test_every_lookup_sees_rebinding_at_once():
    """The writers look up sys, the stream, its vanilla_write, the registry and
    str on every call: rebinding any of them between two writes takes effect
    on the second."""
    out, err, r = scenario("""
import io, types
seen = []
t = qel.terminal_listener()
sys.stdout.write("1")
# The stream's own write replaced by another callable.
real_vanilla = sys.stdout.vanilla_write
sys.stdout.vanilla_write = lambda text: seen.append(("vanilla", text))
sys.stdout.write("2")
sys.stdout.vanilla_write = real_vanilla
sys.stdout.write("3")
# The module's `sys` replaced by a stand-in whose stdout records.
class Recorder:
    def vanilla_write(self, text):
        seen.append(("stand-in", text))
real_sys = qel.sys
qel.sys = types.SimpleNamespace(stdout=Recorder(), stderr=Recorder())
sys.stdout.write("4")
sys.stderr.write("5")
qel.sys = real_sys
# A new registry list, then a new listener class name binding.
registry = qel.terminal_listener.listeners
qel.terminal_listener.listeners = []
sys.stdout.write("6")
qel.terminal_listener.listeners = registry
class Other:
    listeners = []
real_class = qel.terminal_listener
qel.terminal_listener = Other
sys.stdout.write("7")
qel.terminal_listener = real_class
# str replaced: captures convert through the new one.
real_str = qel.str
qel.str = lambda text: real_str(text.upper())
sys.stdout.write("x")
qel.str = real_str
sys.stdout.write("y")
report(seen=seen, content=t.read())
""")
    assert out == "13" + "67xy"
    assert r["seen"] == [["vanilla", "2"], ["stand-in", "4"], ["stand-in", "\x1b[31;1m5\x1b[0m"]]
    # "6" and "7" went to a registry without t; "x" was converted by the stand-in str.
    assert r["content"] == "1234" + RED + "5" + RESET + "Xy"


def test_a_stream_the_writer_used_is_not_kept_alive():
    _, _, r = scenario("""
import gc, os, weakref
f = open(os.devnull, "w")
f.vanilla_write = f.write
f.write = sys.stdout.write
real, sys.stdout = sys.stdout, f
print("to the other stream")
sys.stdout = real
ref = weakref.ref(f)
del f
gc.collect()
report(alive=ref() is not None)
""")
    assert r == {"alive": False}


@pytest.mark.parametrize("base", ["object", "io.StringIO"])
@pytest.mark.parametrize("change", [
    # A data descriptor on the stream's class now answers `vanilla_write`.
    "type(s).vanilla_write = property(lambda self: record)",
    # The stream's whole instance dict replaced.
    "s.__dict__ = {'vanilla_write': record}",
    # The stream becomes an instance of another class with its own answer.
    "s.__class__ = Other",
    # The stream's own dict entry replaced.
    "s.vanilla_write = record",
])
def test_writer_follows_changes_to_the_stream_object(change, base):
    """After the writer has used a stream, any change to how the stream
    answers `vanilla_write` takes effect on the next write. (The io classes
    keep their instance dict at a fixed place, plain classes may not.)"""
    if base != "object" and "__dict__" in change:
        pytest.skip("the io classes refuse a new __dict__")
    _, _, r = scenario(f"""
import io
seen = []
record = lambda text: seen.append(text)
parts = []
class Stream({base}):
    def __init__(self):
        self.vanilla_write = parts.append
class Other({base}):
    vanilla_write = property(lambda self: record)
s = Stream()
real, sys.stdout = sys.stdout, s
writer = real.write
for _ in range(3):
    writer("before")
{change}
writer("after")
sys.stdout = real
report(seen=seen, written=parts)
""")
    assert r == {"seen": ["after"], "written": ["before"] * 3}


def test_listener_opened_after_writes_with_none_open_captures():
    """The registry is checked for listeners on every write, also after
    many writes found it empty."""
    out, _, r = scenario("""
for _ in range(3):
    sys.stdout.write("-")
t = qel.terminal_listener()
sys.stdout.write("seen")
report(content=t.read())
""")
    assert out == "---seen"
    assert r == {"content": "seen"}


def test_captured_text_is_freed_with_its_closed_listener():
    """Nothing keeps a closed listener's text alive once the listener is gone."""
    _, _, r = scenario("""
import gc, os, tracemalloc
quiet = open(os.devnull, "w")
quiet.vanilla_write, quiet.write = quiet.write, sys.stdout.write
real, sys.stdout = sys.stdout, quiet
tracemalloc.start()
t = qel.terminal_listener(log=False)
for _ in range(200):
    print("x" * 9999)
t.close()
held = tracemalloc.get_traced_memory()[0]
del t
gc.collect()
freed = held - tracemalloc.get_traced_memory()[0]
sys.stdout = real
report(freed_at_least_captured=freed >= 200 * 10000)
""")
    assert r == {"freed_at_least_captured": True}


def test_capture_follows_a_changed_str_class():
    """Giving the module's str its own constructor after captures took the
    shortcut makes later captures convert through it."""
    _, _, r = scenario("""
t = qel.terminal_listener()
for _ in range(3):
    sys.stdout.write("a")
qel.str.__new__ = lambda cls, text="": str.__new__(cls, text.upper())
sys.stdout.write("b")
del qel.str.__new__
sys.stdout.write("c")
report(content=t.read())
""")
    assert r == {"content": "aaaBc"}


def test_names_are_looked_up_when_used():
    """`rd` is looked up for each draw, and a `str` whose metaclass has a
    __call__ of its own converts every capture through that call."""
    _, _, r = scenario("""
draws = []
def rd(a, b):
    draws.append(a)
    qel.rd = lambda a, b: 1
    return 0
real_rd, qel.rd = qel.rd, rd
coloured = qel.str("abc").qe_addcolor()
qel.rd = real_rd
class M(type):
    def __call__(cls, *args):
        calls.append(args)
        return type.__call__(cls, *(x.upper() for x in args))
calls = []
t = qel.terminal_listener()
sys.stdout.write("a")
real_str, qel.str = qel.str, M("U", (str,), {})
sys.stdout.write("b")
qel.str = real_str
t.close()
report(coloured=coloured, draws=draws, content=t.content, calls=calls)
""")
    assert r == {"coloured": "\x1b[31ma\x1b[32mb\x1b[32mc\x1b[0m", "draws": [0],
                 "content": "aB", "calls": [["b"]]}


def test_a_writer_writing_to_itself_ends_in_recursion_error():
    """A stream whose vanilla_write is the writer itself recurses without any
    Python frame in between; the call still ends in RecursionError. (It runs
    on a thread with a large stack: instrumented builds such as the sanitizer
    run use far more stack per native call than the interpreter's limit on
    nested calls allows for.)"""
    _, _, r = scenario("""
import threading
outcome = []
def recurse():
    real = sys.stdout.vanilla_write
    sys.stdout.vanilla_write = sys.stdout.write
    try:
        sys.stdout.write("x")
        outcome.append("returned")
    except RecursionError:
        outcome.append("RecursionError")
    sys.stdout.vanilla_write = real
threading.stack_size(512 * 1024 * 1024)
t = threading.Thread(target=recurse)
t.start()
t.join()
report(outcome=outcome[0])
""")
    assert r == {"outcome": "RecursionError"}


def test_texts_on_stderr_each_wrapped_alone():
    # print writes its separator and line end as texts of their own; every
    # one-character text, written again and again, and texts of each width
    # reach the stream and the listener wrapped around that very text.
    out, err, r = scenario("""
chars = [chr(c) for c in range(256)] + ["\u0100", "中", "\U0001f600", "ab中", "x\U0001f600y", "plain"]
t = qel.terminal_listener()
for _ in range(3):
    for c in chars:
        sys.stderr.write(c)
print("a", "b", file=sys.stderr)
report(content=t.read(), chars=chars)
""")
    expected = "".join(f"{RED}{c}{RESET}" for c in r["chars"]) * 3 + "".join(f"{RED}{c}{RESET}" for c in "a b\n")
    assert err == expected
    assert r["content"] == expected


def test_stderr_texts_stay_whole_however_the_stream_keeps_them():
    # Many texts of every width and of lengths either side of what the writer
    # reuses, over several hundred writes: through the buffered stream itself
    # (which holds texts until it writes its buffer out), then through a
    # vanilla_write that keeps some texts, hashes some and interns some.
    # Every text arrives wrapped around exactly its own characters, and none
    # kept anywhere changes afterwards.
    out, err, r = scenario("""
shapes = ["a", "Latin é", "中文", "\U0001f600 x"]
texts = [shapes[i % 4] * (1 + i * 7 % 90) for i in range(600)]
for t in texts[:300]:
    sys.stderr.write(t)
sys.stderr.flush()
seen, kept, interned, hashes_ok = [], [], [], True
def record(text):
    global hashes_ok
    seen.append(text.encode("utf-8"))
    i = len(seen)
    if i % 3 == 0:
        kept.append((text, text.encode("utf-8")))
    if i % 5 == 0:
        hashes_ok &= hash(text) == hash(text.encode("utf-8").decode("utf-8"))
    if i % 7 == 0:
        interned.append(sys.intern(text).encode("utf-8"))
sys.stderr.vanilla_write = record
listener = qel.terminal_listener()
for t in texts[300:]:
    sys.stderr.write(t)
listener.close()
del sys.stderr.vanilla_write
still = all(t.encode("utf-8") == b for t, b in kept)
interned_ok = all(sys.intern(b.decode("utf-8")).encode("utf-8") == b for b in interned)
report(texts=texts, seen=[b.decode("utf-8") for b in seen], content=listener.content,
       still=still, hashes_ok=hashes_ok, interned_ok=interned_ok)
""")
    wrapped = [f"{RED}{t}{RESET}" for t in r["texts"]]
    assert err.startswith("".join(wrapped[:300]))
    assert r["seen"] == wrapped[300:]
    assert r["content"] == "".join(wrapped[300:])
    assert (r["still"], r["hashes_ok"], r["interned_ok"]) == (True, True, True)


def test_stderr_texts_written_again_or_made_afresh_arrive_whole():
    # One text object written several times running, and texts made afresh
    # for each write and freed after it (so the next may be given the same
    # memory), to a vanilla_write that keeps nothing, with a listener open.
    out, err, r = scenario("""
seen = []
sys.stderr.vanilla_write = lambda text: seen.append(text.encode("utf-8"))
listener = qel.terminal_listener()
constant = "constant line"
for i in range(300):
    sys.stderr.write("made %d" % i)
    if i % 50 == 0:
        for _ in range(3):
            sys.stderr.write(constant)
listener.close()
del sys.stderr.vanilla_write
report(seen=[b.decode("utf-8") for b in seen], content=listener.content)
""")
    texts = []
    for i in range(300):
        texts.append(f"made {i}")
        if i % 50 == 0:
            texts += ["constant line"] * 3
    wrapped = [f"{RED}{t}{RESET}" for t in texts]
    assert r["seen"] == wrapped
    assert r["content"] == "".join(wrapped)
