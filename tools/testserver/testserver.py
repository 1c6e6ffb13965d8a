#!/usr/bin/env python3
"""Scriptable loopback HTTP/HTTPS server for the tests.

One server process holds any number of endpoints. Each endpoint listens on
its own ephemeral loopback port (plain HTTP, or HTTPS with the trusted or the
untrusted test certificate), answers from a script of responses and records
exactly what arrives: the request line, every header line in order, and the
body bytes.

The server is driven over a control port (plain HTTP on 127.0.0.1), so that a
test running under Wine, in another language or another process can script it
and read its log. See README.md beside this file for the control protocol.
It can also be used in-process from Python (class TestServer).

Only the standard library is used.
"""

import argparse
import base64
import json
import os
import signal
import socket
import ssl
import sys
import threading
import time
from http import HTTPStatus

LOOPBACK = "127.0.0.1"
MAX_HEAD = 256 * 1024          # request line and headers
MAX_BODY = 64 * 1024 * 1024    # request body
IDLE_KEEPALIVE = 30.0          # a kept-alive connection without a request is closed
DEFAULT_HOLD = 120.0           # silent and stalled connections are held this long at most


def reason_for(status):
    try:
        return HTTPStatus(status).phrase
    except ValueError:
        return "Status"


def body_of(response):
    """The body bytes a response entry asks for."""
    if "body_hex" in response:
        return bytes.fromhex(response["body_hex"])
    if "body_size" in response:
        size = int(response["body_size"])
        pattern = b"0123456789abcdefghijklmnopqrstuvwxyz"
        return (pattern * (size // len(pattern) + 1))[:size]
    body = response.get("body", "")
    return body.encode("utf-8") if isinstance(body, str) else bytes(body)


class Request:
    __slots__ = ("seq", "connection", "line", "headers", "body", "time")

    def __init__(self, seq, connection, line, headers, body):
        self.seq = seq
        self.connection = connection
        self.line = line
        self.headers = headers      # raw header lines, in order, without CR LF
        self.body = body            # bytes
        self.time = time.time()

    @property
    def method(self):
        return self.line.split(" ", 1)[0]

    @property
    def target(self):
        parts = self.line.split(" ")
        return parts[1] if len(parts) > 1 else ""

    @property
    def path(self):
        return self.target.split("?", 1)[0]

    def wants_close(self):
        connection = (self.header("Connection") or "").lower()
        if self.line.endswith("HTTP/1.0"):
            return "keep-alive" not in connection
        return "close" in connection

    def header(self, name):
        """The value of the first header of that name (any case), or None."""
        for line in self.headers:
            key, _, value = line.partition(":")
            if key.strip().lower() == name.lower():
                return value.strip()
        return None

    def to_json(self):
        return {
            "seq": self.seq,
            "connection": self.connection,
            "line": self.line,
            "headers": self.headers,
            "body_base64": base64.b64encode(self.body).decode("ascii"),
        }

    def to_text(self):
        out = [f"request {self.seq}", f"connection {self.connection}", f"line {self.line}"]
        out += [f"header {h}" for h in self.headers]
        head = ("\n".join(out) + f"\nbody {len(self.body)}\n").encode("latin-1")
        return head + self.body + b"\nend\n"


class Endpoint:
    """One listening port with its script and its log."""

    def __init__(self, server, ident, tls, responses, default, quickack=False):
        self.server = server
        # ACK every segment at once: a client that writes its headers and its
        # body in two sends without TCP_NODELAY otherwise waits for the
        # delayed ACK (40 ms) before its body goes out.
        self.quickack = quickack
        self.id = ident
        self.tls = tls
        self.responses = [dict(r) for r in responses]
        for r in self.responses:
            r.setdefault("times", 1)
        self.default = default or {"status": 404, "body": "no scripted response\n"}
        self.requests = []
        self.handshake_failures = 0
        self.connections = 0
        self.lock = threading.Condition()
        self.closed = threading.Event()
        self.sockets = set()
        self.context = None
        if tls != "none":
            pem = os.path.join(server.certs, "server.pem" if tls == "trusted" else "untrusted.pem")
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(pem)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((LOOPBACK, 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        # "localhost" may resolve to ::1 first; listen there too when the
        # same port is free, so that HTTPS to localhost needs no fallback.
        self.listener6 = None
        try:
            s6 = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
            s6.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
            s6.bind(("::1", self.port))
            s6.listen(64)
            self.listener6 = s6
        except OSError:
            self.listener6 = None
        for listener in filter(None, (self.listener, self.listener6)):
            threading.Thread(target=self._accept_loop, args=(listener,), daemon=True).start()

    # -- script ----------------------------------------------------------------

    def _pick(self, request):
        with self.lock:
            for r in self.responses:
                if "path" in r and r["path"] != request.path:
                    continue
                if r["times"] == 0:
                    return r
                r["times"] -= 1
                if r["times"] == 0:
                    self.responses.remove(r)
                return r
        return self.default

    def add_responses(self, responses):
        with self.lock:
            for r in responses:
                r = dict(r)
                r.setdefault("times", 1)
                self.responses.append(r)

    # -- connections -----------------------------------------------------------

    def _accept_loop(self, listener):
        while not self.closed.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
                number = self.connections
            threading.Thread(target=self._serve, args=(conn, number), daemon=True).start()

    def _hold(self, seconds):
        self.closed.wait(min(seconds, DEFAULT_HOLD * 5))

    def _serve(self, conn, number):
        with self.lock:
            self.sockets.add(conn)
        try:
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if self.context is not None:
                conn.settimeout(10)
                try:
                    conn = self.context.wrap_socket(conn, server_side=True)
                except (ssl.SSLError, OSError):
                    with self.lock:
                        self.handshake_failures += 1
                        self.lock.notify_all()
                    return
                with self.lock:
                    self.sockets.add(conn)
            reader = _Reader(conn, self.quickack)
            while not self.closed.is_set():
                raw = reader.read_request()
                if raw is None:
                    return
                request = self.record(number, *raw)
                response = self._pick(request)
                if not self._answer(conn, request, response):
                    return
        except OSError:
            return
        finally:
            with self.lock:
                self.sockets.discard(conn)
            try:
                conn.close()
            except OSError:
                pass

    def _answer(self, conn, request, response):
        """Sends one scripted response; False when the connection is done."""
        delay = float(response.get("delay", 0))
        if delay > 0 and self.closed.wait(delay):
            return False
        mode = response.get("mode", "reply")
        if mode == "silent":
            self._hold(float(response.get("hold", DEFAULT_HOLD)))
            return False
        if mode == "drop":
            if response.get("reset"):
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            return False
        status = int(response.get("status", 302 if "redirect" in response else 200))
        reason = response.get("reason", reason_for(status))
        lines = list(response.get("headers", []))
        if "redirect" in response:
            lines.append("Location: " + response["redirect"])
        body = body_of(response)
        if request.method == "HEAD" or status in (204, 304) or 100 <= status < 200:
            send_body = b""
        else:
            send_body = body
        if response.get("content_length", True) and not any(
                l.lower().startswith("content-length:") for l in lines):
            lines.append(f"Content-Length: {len(body)}")
        close = bool(response.get("close", False))
        if close:
            lines.append("Connection: close")
        head = f"HTTP/1.1 {status} {reason}\r\n" + "".join(l + "\r\n" for l in lines) + "\r\n"
        if mode == "stall":
            sent = int(response.get("stall_after", 0))
            conn.sendall(head.encode("latin-1") + send_body[:sent])
            self._hold(float(response.get("hold", DEFAULT_HOLD)))
            return False
        if mode == "drip":
            # The head at once, then the body in pieces with a pause before each.
            piece = max(1, int(response.get("drip_bytes", 1)))
            pause = float(response.get("drip_interval", 1.0))
            conn.sendall(head.encode("latin-1"))
            for start in range(0, len(send_body), piece):
                if self.closed.wait(pause):
                    return False
                conn.sendall(send_body[start:start + piece])
            return not (close or request.wants_close())
        conn.sendall(head.encode("latin-1") + send_body)
        return not (close or request.wants_close())

    def record(self, connection, line, headers, body):
        with self.lock:
            request = Request(len(self.requests) + 1, connection, line, headers, body)
            self.requests.append(request)
            self.lock.notify_all()
            return request

    def wait_for(self, count, timeout):
        deadline = time.monotonic() + timeout
        with self.lock:
            while len(self.requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self.lock.wait(left)
            return list(self.requests)

    def close(self):
        self.closed.set()
        for listener in filter(None, (self.listener, self.listener6)):
            try:
                listener.close()
            except OSError:
                pass
        with self.lock:
            sockets = list(self.sockets)
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def log_text(self):
        with self.lock:
            requests = list(self.requests)
            head = (f"requests {len(requests)}\nconnections {self.connections}\n"
                    f"handshake_failures {self.handshake_failures}\n")
        return head.encode("ascii") + b"".join(r.to_text() for r in requests)

    def log_json(self):
        with self.lock:
            return {
                "connections": self.connections,
                "handshake_failures": self.handshake_failures,
                "requests": [r.to_json() for r in self.requests],
            }


class _Reader:
    """Reads HTTP/1.x requests off one connection, keeping the raw lines."""

    def __init__(self, conn, quickack=False):
        self.conn = conn
        self.buffer = b""
        self.quickack = quickack and hasattr(socket, "TCP_QUICKACK")

    def _fill(self):
        if self.quickack:
            # Linux leaves quick-ACK mode by itself; ask again before every read.
            try:
                self.conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            except OSError:
                pass
        try:
            chunk = self.conn.recv(65536)
        except socket.timeout:
            return False
        except (OSError, ssl.SSLError):
            return False
        if not chunk:
            return False
        self.buffer += chunk
        return True

    def _take_line(self):
        while b"\r\n" not in self.buffer:
            if len(self.buffer) > MAX_HEAD or not self._fill():
                return None
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line

    def _take(self, n):
        while len(self.buffer) < n:
            if not self._fill():
                return None
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def read_request(self):
        """(request line, header lines, body), or None when the connection ends."""
        self.conn.settimeout(IDLE_KEEPALIVE)
        while b"\r\n\r\n" not in self.buffer:
            if len(self.buffer) > MAX_HEAD or not self._fill():
                return None
        self.conn.settimeout(30)
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        line, headers = lines[0], lines[1:]
        length = 0
        chunked = False
        for h in headers:
            key, _, value = h.partition(":")
            key = key.strip().lower()
            if key == "content-length":
                try:
                    length = int(value.strip())
                except ValueError:
                    return None
            elif key == "transfer-encoding" and "chunked" in value.lower():
                chunked = True
        if chunked:
            body = b""
            while True:
                size_line = self._take_line()
                if size_line is None:
                    return None
                size = int(size_line.split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while True:
                        trailer = self._take_line()
                        if trailer is None or trailer == b"":
                            break
                    break
                data = self._take(size)
                if data is None or self._take(2) is None or len(body) + size > MAX_BODY:
                    return None
                body += data
        else:
            if length > MAX_BODY:
                return None
            body = self._take(length) if length else b""
            if body is None:
                return None
        return line, headers, body


class TestServer:
    """The endpoints of one server process, for in-process use from Python."""

    def __init__(self, certs=""):
        self.certs = certs
        self.endpoints = {}
        self.lock = threading.Lock()
        self.next_id = 1

    def endpoint(self, responses=(), tls="none", default=None, quickack=False):
        if tls not in ("none", "trusted", "untrusted"):
            raise ValueError("tls must be none, trusted or untrusted")
        with self.lock:
            ident = self.next_id
            self.next_id += 1
        e = Endpoint(self, ident, tls, list(responses), default, quickack)
        with self.lock:
            self.endpoints[ident] = e
        return e

    def get(self, ident):
        with self.lock:
            return self.endpoints.get(ident)

    def remove(self, ident):
        with self.lock:
            e = self.endpoints.pop(ident, None)
        if e:
            e.close()
        return e is not None

    def close(self):
        with self.lock:
            endpoints = list(self.endpoints.values())
            self.endpoints.clear()
        for e in endpoints:
            e.close()


# -- control port ----------------------------------------------------------------


class Control:
    """The control protocol: small HTTP/1.0 requests, one per connection."""

    def __init__(self, server, idle_exit, max_life):
        self.server = server
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((LOOPBACK, 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.stop = threading.Event()
        self.last_used = time.monotonic()
        self.idle_exit = idle_exit
        self.deadline = time.monotonic() + max_life

    def run(self):
        threading.Thread(target=self._watchdog, daemon=True).start()
        self.listener.settimeout(0.5)
        while not self.stop.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            self.last_used = time.monotonic()
            threading.Thread(target=self._handle, args=(conn,), daemon=True).start()
        self.listener.close()
        self.server.close()

    def _watchdog(self):
        # The server never outlives its use: it ends by itself when idle or old.
        while not self.stop.wait(1.0):
            now = time.monotonic()
            if now - self.last_used > self.idle_exit or now > self.deadline:
                self.stop.set()

    def _handle(self, conn):
        try:
            conn.settimeout(30)
            raw = _Reader(conn).read_request()
            if raw is None:
                return
            line, _, body = raw
            parts = line.split(" ")
            method, target = parts[0], parts[1] if len(parts) > 1 else "/"
            status, ctype, payload = self._route(method, target, body)
            conn.sendall(f"HTTP/1.0 {status} {reason_for(status)}\r\nContent-Type: {ctype}\r\n"
                         f"Content-Length: {len(payload)}\r\nConnection: close\r\n\r\n".encode("ascii")
                         + payload)
        except (OSError, ValueError):
            pass
        finally:
            conn.close()

    def _route(self, method, target, body):
        path, _, query = target.partition("?")
        params = dict(p.partition("=")[::2] for p in query.split("&") if p)
        parts = [p for p in path.split("/") if p]
        text = "text/plain; charset=utf-8"
        if method == "GET" and parts == ["ping"]:
            return 200, text, b"ok\n"
        if method == "POST" and parts == ["shutdown"]:
            self.stop.set()
            return 200, text, b"bye\n"
        if method == "POST" and parts == ["endpoints"]:
            try:
                script = json.loads(body.decode("utf-8") or "{}")
                e = self.server.endpoint(script.get("responses", []), script.get("tls", "none"),
                                         script.get("default"), bool(script.get("quickack", False)))
            except (ValueError, OSError, ssl.SSLError) as error:
                return 400, text, f"error {error}\n".encode("utf-8")
            return 200, text, f"id {e.id}\nport {e.port}\n".encode("ascii")
        if len(parts) >= 2 and parts[0] == "endpoints":
            try:
                e = self.server.get(int(parts[1]))
            except ValueError:
                e = None
            if e is None:
                return 404, text, b"error no such endpoint\n"
            if method == "DELETE" and len(parts) == 2:
                self.server.remove(e.id)
                return 200, text, b"closed\n"
            if method == "POST" and parts[2:] == ["responses"]:
                try:
                    e.add_responses(json.loads(body.decode("utf-8")).get("responses", []))
                except ValueError as error:
                    return 400, text, f"error {error}\n".encode("utf-8")
                return 200, text, b"ok\n"
            if method == "GET" and parts[2:] == ["log"]:
                count = int(params.get("count", "0"))
                wait = min(float(params.get("wait", "0")), 60.0)
                if count:
                    e.wait_for(count, wait)
                if params.get("format") == "json":
                    return 200, "application/json", json.dumps(e.log_json()).encode("utf-8")
                return 200, "application/octet-stream", e.log_text()
        return 404, text, b"error unknown request\n"


class ControlClient:
    """Drives a server process through its control port, from Python."""

    def __init__(self, port):
        self.port = port

    @staticmethod
    def from_state_file(path):
        return ControlClient(read_state(path)["control_port"])

    def request(self, method, path, body=b""):
        with socket.create_connection((LOOPBACK, self.port), timeout=70) as s:
            s.sendall(f"{method} {path} HTTP/1.0\r\nContent-Length: {len(body)}\r\n\r\n".encode("ascii")
                      + body)
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        head, _, payload = data.partition(b"\r\n\r\n")
        status = int(head.split(b" ")[1])
        return status, payload

    def endpoint(self, responses=(), tls="none", default=None, quickack=False):
        script = {"tls": tls, "responses": list(responses), "quickack": quickack}
        if default is not None:
            script["default"] = default
        status, payload = self.request("POST", "/endpoints", json.dumps(script).encode("utf-8"))
        if status != 200:
            raise RuntimeError(payload.decode("utf-8", "replace"))
        fields = dict(line.split(" ", 1) for line in payload.decode("ascii").splitlines())
        return int(fields["id"]), int(fields["port"])

    def log(self, ident, count=0, wait=0):
        status, payload = self.request("GET", f"/endpoints/{ident}/log?format=json&count={count}&wait={wait}")
        if status != 200:
            raise RuntimeError(payload.decode("utf-8", "replace"))
        log = json.loads(payload)
        for r in log["requests"]:
            r["body"] = base64.b64decode(r.pop("body_base64"))
        return log

    def close(self, ident):
        self.request("DELETE", f"/endpoints/{ident}")

    def shutdown(self):
        self.request("POST", "/shutdown")


# -- command line ----------------------------------------------------------------


def read_state(path):
    fields = {}
    with open(path, encoding="ascii") as f:
        for line in f:
            key, _, value = line.strip().partition(" ")
            if key:
                fields[key] = int(value)
    return fields


def write_state(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write(f"control_port {port}\npid {os.getpid()}\n")
    os.replace(tmp, path)


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def serve(args):
    server = TestServer(args.certs)
    control = Control(server, args.idle_exit, args.max_life)
    signal.signal(signal.SIGTERM, lambda *_: control.stop.set())
    if args.state_file:
        write_state(args.state_file, control.port)
    else:
        print(f"control_port {control.port}", flush=True)
    try:
        control.run()
    finally:
        if args.state_file:
            try:
                if read_state(args.state_file).get("pid") == os.getpid():
                    os.remove(args.state_file)
            except OSError:
                pass


def start_daemon(args):
    """Starts the server detached from the caller's terminal and pipes (CTest
    waits for every process holding its output pipe) and returns once it is up."""
    if not args.state_file:
        sys.exit("start needs --state-file")
    if os.path.exists(args.state_file):
        try:
            state = read_state(args.state_file)
            if pid_alive(state["pid"]) and ControlClient(state["control_port"]).request("GET", "/ping")[0] == 200:
                print(f"testserver: already running, control port {state['control_port']}")
                return
        except (OSError, KeyError, ValueError, IndexError):
            pass
        os.remove(args.state_file)
    os.makedirs(os.path.dirname(os.path.abspath(args.state_file)), exist_ok=True)
    pid = os.fork()
    if pid == 0:
        os.setsid()
        if os.fork() != 0:
            os._exit(0)
        null = os.open(os.devnull, os.O_RDWR)
        log = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644) if args.log else null
        os.dup2(null, 0)
        os.dup2(log, 1)
        os.dup2(log, 2)
        try:
            serve(args)
        finally:
            os._exit(0)
    os.waitpid(pid, 0)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if os.path.exists(args.state_file):
            print(f"testserver: control port {read_state(args.state_file)['control_port']}")
            return
        time.sleep(0.05)
    sys.exit("testserver: did not come up")


def stop_daemon(args):
    if not args.state_file or not os.path.exists(args.state_file):
        return
    try:
        state = read_state(args.state_file)
        ControlClient(state["control_port"]).shutdown()
        deadline = time.monotonic() + 5
        while pid_alive(state["pid"]) and time.monotonic() < deadline:
            time.sleep(0.05)
    except (OSError, KeyError, ValueError, IndexError):
        pass
    try:
        os.remove(args.state_file)
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=("serve", "start", "stop"),
                        help="serve in the foreground, start detached, or stop a started server")
    parser.add_argument("--state-file", help="file that receives the control port and the pid")
    parser.add_argument("--certs", default="", help="folder with server.pem and untrusted.pem")
    parser.add_argument("--log", help="where a started server writes its errors")
    parser.add_argument("--idle-exit", type=float, default=900, help="seconds without control traffic before exiting")
    parser.add_argument("--max-life", type=float, default=3 * 3600, help="seconds before exiting in any case")
    args = parser.parse_args()
    if args.command == "serve":
        serve(args)
    elif args.command == "start":
        start_daemon(args)
    else:
        stop_daemon(args)


if __name__ == "__main__":
    main()
