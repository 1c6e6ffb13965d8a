"""Checks of the test server itself: what it records and how it answers.

Run: python3 -m unittest test_testserver  (in this folder). HTTPS cases need
QX_TESTCA, the folder of the test CA (build/win/testca), and are skipped without it.
"""

import os
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testserver  # noqa: E402

CERTS = os.environ.get("QX_TESTCA", "")


def exchange(port, data, timeout=5.0, tls_context=None, host="127.0.0.1"):
    """Sends raw bytes and returns everything until the server closes or goes quiet."""
    with socket.create_connection((host, port), timeout=timeout) as raw:
        s = tls_context.wrap_socket(raw, server_hostname="localhost") if tls_context else raw
        with s:
            s.sendall(data)
            out = b""
            try:
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    out += chunk
            except socket.timeout:
                pass
            return out


class InProcess(unittest.TestCase):
    def setUp(self):
        self.server = testserver.TestServer(CERTS)

    def tearDown(self):
        self.server.close()

    def test_records_line_headers_in_order_and_exact_body(self):
        e = self.server.endpoint([{"status": 201, "body": "made", "close": True}])
        body = bytes(range(256))
        request = (b"POST /a?b=c HTTP/1.1\r\nHost: x\r\nZ-Last: 1\r\nA-First: 2\r\n"
                   b"Content-Length: 256\r\n\r\n" + body)
        answer = exchange(e.port, request)
        self.assertTrue(answer.startswith(b"HTTP/1.1 201 Created\r\n"))
        self.assertTrue(answer.endswith(b"\r\n\r\nmade"))
        r = e.requests[0]
        self.assertEqual(r.line, "POST /a?b=c HTTP/1.1")
        self.assertEqual(r.headers, ["Host: x", "Z-Last: 1", "A-First: 2", "Content-Length: 256"])
        self.assertEqual(r.body, body)
        self.assertEqual(r.path, "/a")

    def test_scripted_header_lines_go_out_as_given(self):
        e = self.server.endpoint([{"headers": ["Set-Cookie: a=1; path=/", "set-cookie: b=2", "SET-COOKIE: c=3"],
                                   "body_size": 10, "close": True}])
        answer = exchange(e.port, b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertEqual(head.split(b"\r\n")[1:4], [b"Set-Cookie: a=1; path=/", b"set-cookie: b=2", b"SET-COOKIE: c=3"])
        self.assertIn(b"Content-Length: 10", head)
        self.assertEqual(body, b"0123456789")

    def test_replies_are_used_up_and_paths_pick_them(self):
        e = self.server.endpoint([{"path": "/x", "body": "x", "times": 0}, {"body": "once"}],
                                 default={"status": 503, "body": "none"})
        answers = [exchange(e.port, f"GET {p} HTTP/1.1\r\nConnection: close\r\n\r\n".encode(), timeout=2)
                   for p in ("/y", "/y", "/x", "/x")]
        self.assertTrue(answers[0].endswith(b"once"))
        self.assertTrue(answers[1].startswith(b"HTTP/1.1 503"))
        self.assertTrue(answers[2].endswith(b"x") and answers[3].endswith(b"x"))

    def test_keep_alive_serves_several_requests_on_one_connection(self):
        e = self.server.endpoint([{"body": "1"}, {"body": "2", "close": True}])
        answer = exchange(e.port, b"GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n")
        self.assertEqual(answer.count(b"HTTP/1.1 200 OK"), 2)
        self.assertEqual([r.connection for r in e.requests], [1, 1])

    def test_chunked_request_body_is_recorded_decoded(self):
        e = self.server.endpoint([{"close": True}])
        exchange(e.port, b"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n")
        self.assertEqual(e.requests[0].body, b"abcde")

    def test_redirect(self):
        e = self.server.endpoint([{"redirect": "/next", "close": True}])
        answer = exchange(e.port, b"GET / HTTP/1.1\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 302 Found\r\n"))
        self.assertIn(b"\r\nLocation: /next\r\n", answer)

    def test_silent_stall_and_drop(self):
        e = self.server.endpoint([{"mode": "silent", "hold": 1}])
        start = time.monotonic()
        self.assertEqual(exchange(e.port, b"GET / HTTP/1.1\r\n\r\n", timeout=5), b"")
        self.assertGreaterEqual(time.monotonic() - start, 0.9)
        self.assertEqual(len(e.requests), 1)

        e = self.server.endpoint([{"mode": "stall", "body_size": 100, "stall_after": 7, "hold": 1}])
        answer = exchange(e.port, b"GET / HTTP/1.1\r\n\r\n", timeout=5)
        self.assertIn(b"Content-Length: 100\r\n\r\n0123456", answer)
        self.assertTrue(answer.endswith(b"\r\n\r\n0123456"))

        e = self.server.endpoint([{"mode": "drop"}])
        self.assertEqual(exchange(e.port, b"GET / HTTP/1.1\r\n\r\n"), b"")
        self.assertEqual(len(e.requests), 1)

    def test_delay(self):
        e = self.server.endpoint([{"delay": 0.5, "close": True}])
        start = time.monotonic()
        exchange(e.port, b"GET / HTTP/1.1\r\n\r\n")
        self.assertGreaterEqual(time.monotonic() - start, 0.45)

    def test_drip_sends_the_body_in_timed_pieces(self):
        e = self.server.endpoint([{"mode": "drip", "body_size": 10, "drip_bytes": 4, "drip_interval": 0.2,
                                   "close": True}])
        with socket.create_connection(("127.0.0.1", e.port), timeout=5) as s:
            s.sendall(b"GET / HTTP/1.1\r\n\r\n")
            start = time.monotonic()
            arrivals = []
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
                arrivals.append((time.monotonic() - start, len(data)))
        self.assertTrue(data.endswith(b"Content-Length: 10\r\nConnection: close\r\n\r\n0123456789"))
        self.assertGreaterEqual(arrivals[-1][0], 0.55)  # three pauses before the three pieces
        self.assertGreaterEqual(len(arrivals), 3)

    def test_head_gets_no_body(self):
        e = self.server.endpoint([{"body": "abc", "close": True}])
        answer = exchange(e.port, b"HEAD / HTTP/1.1\r\n\r\n")
        self.assertTrue(answer.endswith(b"Content-Length: 3\r\nConnection: close\r\n\r\n"))

    @unittest.skipUnless(CERTS, "QX_TESTCA not set")
    def test_https_trusted_and_untrusted(self):
        e = self.server.endpoint([{"body": "secure", "close": True, "times": 0}], tls="trusted")
        context = ssl.create_default_context(cafile=os.path.join(CERTS, "ca.pem"))
        self.assertTrue(exchange(e.port, b"GET / HTTP/1.1\r\n\r\n", tls_context=context).endswith(b"secure"))
        self.assertTrue(exchange(e.port, b"GET / HTTP/1.1\r\n\r\n", tls_context=context,
                                 host="localhost").endswith(b"secure"))
        bad = self.server.endpoint([{"body": "impostor"}], tls="untrusted")
        with self.assertRaises(ssl.SSLError):
            exchange(bad.port, b"GET / HTTP/1.1\r\n\r\n", tls_context=context)
        self.assertEqual(bad.requests, [])


class ControlProcess(unittest.TestCase):
    """The detached server and its control protocol, as the Windows tests use them."""

    def test_start_script_log_and_stop(self):
        with tempfile.TemporaryDirectory() as folder:
            state = os.path.join(folder, "state")
            script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testserver.py")
            subprocess.run([sys.executable, script, "start", "--state-file", state, "--certs", CERTS],
                           check=True, stdout=subprocess.DEVNULL, timeout=30)
            client = testserver.ControlClient.from_state_file(state)
            try:
                ident, port = client.endpoint([{"body": "hi", "close": True}])
                exchange(port, b"PUT /p HTTP/1.1\r\nX-A: \xd6\xd0\r\nContent-Length: 2\r\n\r\n\x00\xff")
                log = client.log(ident, count=1, wait=5)
                self.assertEqual(log["requests"][0]["line"], "PUT /p HTTP/1.1")
                self.assertEqual(log["requests"][0]["headers"][0].encode("latin-1"), b"X-A: \xd6\xd0")
                self.assertEqual(log["requests"][0]["body"], b"\x00\xff")
                status, text = client.request("GET", f"/endpoints/{ident}/log")
                self.assertEqual(status, 200)
                self.assertIn(b"\nheader X-A: \xd6\xd0\nheader Content-Length: 2\nbody 2\n\x00\xff\nend\n", text)
                client.close(ident)
                self.assertEqual(client.request("GET", f"/endpoints/{ident}/log")[0], 404)
            finally:
                subprocess.run([sys.executable, script, "stop", "--state-file", state], check=True, timeout=30)
            self.assertFalse(os.path.exists(state))
            with self.assertRaises(OSError):
                client.request("GET", "/ping")


if __name__ == "__main__":
    unittest.main()
