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
