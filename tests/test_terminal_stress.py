"""Writers on several threads while listeners open and close (bounded, a few seconds)."""
import collections
import json
import re

from conftest import run_python

STRESS = """
import json, sys, threading, time
import qel

WRITERS, PER_THREAD = 4, 4000
L = qel.terminal_listener

class Quiet(L):
    pass

whole_run = [L(), Quiet()]
stop = threading.Event()
churned = [0]

def write(i):
    out, err = sys.stdout.write, sys.stderr.write
    for n in range(PER_THREAD):
        (out if n % 3 else err)(f"<{i}:{n}>")
        if n % 500 == 0:
            time.sleep(0)

def churn():
    while not stop.is_set():
        batch = [L() for _ in range(3)]
        sys.stdout.write("")
        for t in reversed(batch):
            t.close()
        churned[0] += 1

sys.setswitchinterval(1e-5)
threads = [threading.Thread(target=write, args=(i,)) for i in range(WRITERS)]
opener = threading.Thread(target=churn)
opener.start()
for t in threads:
    t.start()
for t in threads:
    t.join()
stop.set()
opener.join()
for t in whole_run:
    t.close()
sys.stdout.flush()
sys.stderr.flush()
sys.stdout.vanilla_write("\\n#" + json.dumps({
    "contents": [t.read() for t in whole_run],
    "registry": len(L.listeners),
    "churned": churned[0],
}))
"""

TOKEN = re.compile(r"<(\d+):(\d+)>")


def counts(text):
    return collections.Counter(TOKEN.findall(text))


def test_threads_writing_while_listeners_open_and_close():
    result = run_python(STRESS, timeout=120)
    out, _, tail = result.out.decode().rpartition("\n#")
    report = json.loads(tail)
    expected = collections.Counter({(str(i), str(n)): 1 for i in range(4) for n in range(4000)})
    stdout_part = {k for k in expected if int(k[1]) % 3}
    stderr_part = set(expected) - stdout_part

    # The streams got every text exactly once, stderr's wrapped in bold red.
    assert counts(out) == collections.Counter({k: 1 for k in stdout_part})
    err = result.err.decode()
    assert counts(err) == collections.Counter({k: 1 for k in stderr_part})
    assert len(re.findall(r"\x1b\[31;1m<\d+:\d+>\x1b\[0m", err)) == len(stderr_part)

    # Every listener open for the whole run holds every text exactly once.
    for content in report["contents"]:
        assert counts(content) == expected
    assert report["registry"] == 0
    assert report["churned"] > 0


HOSTILE_STRESS = """
import json, sys, threading, time
import qel

L = qel.terminal_listener
WRITERS, PER_THREAD = 3, 3000
faults = {"TypeError": 0, "AttributeError": 0, "KeyError": 0}
ok = []
stop = threading.Event()
kept = L()                      # never tampered with: first in the registry
victims = [L() for _ in range(3)]

class NoVanilla:
    def write(self, text):
        pass

class Raising:
    def write(self, text):
        raise KeyError(text)
    vanilla_write = write

real = sys.stdout, sys.stderr
out_writer, err_writer = sys.stdout.write, sys.stderr.write

def write(i):
    for n in range(PER_THREAD):
        token = f"<{i}:{n}>"
        try:
            if n % 4 == 0:
                qel.qel_send_message(token)
            else:
                (out_writer if n % 2 else err_writer)(token)
            ok.append(token)
        except (TypeError, AttributeError, KeyError) as e:
            faults[type(e).__name__] += 1

def tamper():
    odd = [5, None, b"bytes", [1], qel.str("s"), 2.5]
    k = 0
    while not stop.is_set():
        k += 1
        victims[k % 3].content = odd[k % len(odd)]
        if k % 50 == 0:
            stream = [None, NoVanilla(), Raising()][k // 50 % 3]
            sys.stdout = sys.stderr = stream
            time.sleep(0)
            sys.stdout, sys.stderr = real
        if k % 7 == 0:
            try:
                t = L(k % 2)    # its opening notice may meet a non-string content
            except TypeError:
                t = L.listeners[-1]
            t.content = k
            t.close()
        time.sleep(0)

sys.setswitchinterval(1e-5)
threads = [threading.Thread(target=write, args=(i,)) for i in range(WRITERS)]
tamperer = threading.Thread(target=tamper)
tamperer.start()
for t in threads:
    t.start()
for t in threads:
    t.join()
stop.set()
tamperer.join()
sys.stdout, sys.stderr = real
for t in [kept] + victims:
    t.close()
sys.stdout.vanilla_write("\\n#" + json.dumps({"kept": kept.read(), "ok": ok, "faults": faults,
                                             "registry": len(L.listeners)}))
"""


def test_listeners_and_streams_tampered_with_while_threads_write():
    result = run_python(HOSTILE_STRESS, timeout=120)
    report = json.loads(result.out.decode().rpartition("\n#")[2])
    kept = counts(report["kept"])
    # Nothing is captured twice, and every write that returned was captured by
    # the listener opened first, whatever the listeners after it held.
    assert max(kept.values()) == 1
    assert set(counts("".join(report["ok"]))) <= set(kept)
    # Non-string contents made writes fail with TypeError; the swapped streams
    # with AttributeError or the stream's own KeyError.
    assert report["faults"]["TypeError"] > 0
    assert report["registry"] == 0
