"""The version check end to end: the real urllib3 fetches the version file
from a real HTTPS server on 127.0.0.1, verified against a test certificate
authority. Inside the child, the build's home host resolves to that server."""
import json
import ssl
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

from conftest import run_python
from expected_notices import FAILED, HOST, WELCOME, newer, stderr_bytes

trustme = pytest.importorskip("trustme")
pytest.importorskip("urllib3")


class VersionServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, context):
        super().__init__(("127.0.0.1", 0), Handler)
        self.socket = context.wrap_socket(self.socket, server_side=True)
        self.answer = (200, "text/plain", b"")
        self.requests = []


class Handler(BaseHTTPRequestHandler):
    def do_GET(self):
        self.server.requests.append((self.path, self.headers.get("Host")))
        status, kind, body = self.server.answer if self.path == "/qel/qel.version" else (
            404, "text/plain", b"not here")
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    ca = trustme.CA()
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    try:
        ca.issue_cert(HOST).configure_cert(context)
    except ValueError:  # e.g. a host built with a percent sign: no certificate can name it
        pytest.skip(f"no test certificate can be issued for {HOST!r}")
    httpd = VersionServer(context)
    thread = threading.Thread(target=httpd.serve_forever, daemon=True)
    thread.start()
    httpd.ca_file = tmp_path_factory.mktemp("ca") / "ca.pem"
    ca.cert_pem.write_to_path(str(httpd.ca_file))
    yield httpd
    httpd.shutdown()
    httpd.server_close()


# The home host is sent to the test server; every other name resolves as usual.
CHILD = '''
import json, socket
real_getaddrinfo = socket.getaddrinfo
def getaddrinfo(host, port, *args, **kwargs):
    if host == {host!r}:
        return real_getaddrinfo("127.0.0.1", {port}, *args, **kwargs)
    return real_getaddrinfo(host, port, *args, **kwargs)
socket.getaddrinfo = getaddrinfo
import qel, urllib3
print(json.dumps([[n for n in ("PoolManager", "new_qel") if n in vars(qel)],
                  repr(vars(qel).get("new_qel")),
                  vars(qel).get("PoolManager") is urllib3.PoolManager]))
'''


def check_against(server, answer, *, trusted=True):
    server.answer = answer
    server.requests.clear()
    env = {"SSL_CERT_FILE": str(server.ca_file) if trusted else None, "SSL_CERT_DIR": None}
    result = run_python(CHILD.format(host=HOST, port=server.server_address[1]), env=env, quiet=False)
    return result, json.loads(result.out)


def test_newer_version(server):
    result, report = check_against(server, (200, "text/plain", b"2.3\n"))
    assert result.err == stderr_bytes(WELCOME, newer("2.3"))
    assert report == [["PoolManager", "new_qel"], "2.3", True]
    assert server.requests == [("/qel/qel.version", HOST)]


def test_same_version(server):
    result, report = check_against(server, (200, "text/plain", b"2.2"))
    assert result.err == stderr_bytes(WELCOME)
    assert report == [["PoolManager", "new_qel"], "2.2", True]


def test_not_found_page(server):
    page = b"<!DOCTYPE html><html><head><title>404</title></head><body>Not Found</body></html>"
    result, report = check_against(server, (404, "text/html", page))
    assert result.err == stderr_bytes(WELCOME, FAILED)
    assert report == [["PoolManager"], "None", True]
    assert server.requests == [("/qel/qel.version", HOST)]


def test_untrusted_certificate(server):
    # Without the test authority the TLS handshake fails: the check is verified.
    result, report = check_against(server, (200, "text/plain", b"2.3"), trusted=False)
    assert result.err == stderr_bytes(WELCOME, FAILED)
    assert report == [["PoolManager"], "None", True]
    assert server.requests == []
