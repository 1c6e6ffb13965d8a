#!/usr/bin/env python3
"""Local emulator of the online speech service, for development, tests and demos.

Two loopback listeners, both HTTPS with the same certificate:
  * token port:     POST /oauth/2.0/token  client-credentials grant
                    GET  /ai-doc/SPEECH/qknh9i8ed  the page behind the window's link
  * synthesis port: POST /text2audio      the synthesis form, answered with MP3
                    /_control ...         fault injection and the request log (plain HTTP)
The control channel is plain HTTP on the synthesis port, told apart from TLS
by a connection's first byte. The synthesis endpoint answers plain HTTP too
only with --plain-synth (or the control order "plain_synth"), for a program
built with QX_SYNTHESIS_PLAIN_HTTP.

Speech comes from espeak-ng's Mandarin voice, MP3 from lame. Only the Python
standard library is used. See README.md ("The speech service emulator").
"""

import argparse
import collections
import hashlib
import http.server
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

TOKEN_PATH = "/oauth/2.0/token"
DOC_PATH = "/ai-doc/SPEECH/qknh9i8ed"
SYNTH_PATH = "/text2audio"
CONTROL_PATH = "/_control"

DEFAULT_KEYS = {"qx-dev-api-key": "qx-dev-secret-key"}
# Four weeks; the program never reads it (its check box advises a fresh
# token once a month).
TOKEN_LIFETIME = 2419200
TOKEN_SCOPE = "tts"
MAX_TEXT_GBK_BYTES = 1024
FORM_FIELDS = ("lan", "ctp", "cuid", "tok", "tex", "vol", "per", "spd", "pit", "aue")

# The eleven speaker numbers the program offers, each its own espeak-ng
# variant of the Mandarin voice plus a pitch offset, so every speaker sounds
# (and encodes) differently.
SPEAKERS = {
    "0": ("f2", 0),
    "1": ("m3", 0),
    "3": ("m1", 0),
    "4": ("f4", 10),
    "5003": ("m5", -5),
    "5118": ("f1", 5),
    "106": ("m2", 5),
    "110": ("f3", 25),
    "111": ("f5", -5),
    "103": ("m4", -10),
    "5": ("f1", 20),
}

FAULT_KINDS = ("delay", "drop", "html", "size", "not_json", "refuse")
FAULT_ENDPOINTS = ("token", "synth", "doc", "any")
# The body of a size fault: silent MPEG-1 layer III frames (32 kHz, 48 kbit/s,
# mono; 216 bytes each, a header and zeros), so that a body of any length
# begins as the MP3 that the form asks for and only its length is at fault.
SILENT_MP3_FRAME = b"\xff\xfb\x38\xc4" + bytes(212)


class FaultError(ValueError):
    pass


def parse_fault(spec, default_count):
    """A fault from "[ENDPOINT:]KIND[=VALUE][,key=value...]" or a JSON object.

    Kinds: delay=SECONDS, drop, html[=STATUS], size=BYTES[,status=S], not_json,
    refuse (the next TLS connection to the synthesis port is reset before its
    handshake).
    """
    if isinstance(spec, str):
        fault = {}
        head, *extras = spec.split(",")
        if ":" in head:
            fault["endpoint"], head = head.split(":", 1)
        kind, _, value = head.partition("=")
        fault["kind"] = kind
        if value:
            fault[{"delay": "seconds", "html": "status", "size": "size"}.get(kind, "value")] = value
        for extra in extras:
            key, _, value = extra.partition("=")
            fault[key] = value
    elif isinstance(spec, dict):
        fault = dict(spec)
    else:
        raise FaultError("a fault is a string or an object")
    kind = fault.get("kind")
    if kind not in FAULT_KINDS:
        raise FaultError("unknown fault kind %r" % (kind,))
    default_endpoint = {"size": "synth", "not_json": "token", "refuse": "synth"}.get(kind, "any")
    fault.setdefault("endpoint", default_endpoint)
    if fault["endpoint"] not in FAULT_ENDPOINTS:
        raise FaultError("unknown endpoint %r" % (fault["endpoint"],))
    if kind == "refuse" and fault["endpoint"] != "synth":
        raise FaultError("refuse is a fault of the synthesis port")
    try:
        if kind == "delay":
            fault["seconds"] = float(fault.get("seconds", 1.0))
        if kind == "html":
            fault["status"] = int(fault.get("status", 502))
        if kind == "size":
            if "size" not in fault:
                raise FaultError("size needs a byte count")
            fault["size"] = int(fault["size"])
            fault["status"] = int(fault.get("status", 200))
            if fault["size"] < 0:
                raise FaultError("size must not be negative")
        count = fault.get("count", default_count)
        fault["count"] = None if count is None else int(count)
    except (TypeError, ValueError) as e:
        raise FaultError("bad fault value: %s" % e)
    fault.pop("value", None)
    return fault


class State:
    """Everything the listeners share: keys, tokens, faults, the request log."""

    def __init__(self, keys, extra_tokens, run_faults, log_path):
        self.lock = threading.Lock()
        self.keys = dict(keys)
        self.tokens = {token_for(a, s): a for a, s in self.keys.items()}
        for t in extra_tokens:
            self.tokens[t] = ""
        self.run_faults = list(run_faults)
        self.queued_faults = []
        self.requests = []
        self.seq = 0
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None
        self.plain_synth = False  # plain HTTP served beside TLS on the synthesis port
        self.audio_cache = collections.OrderedDict()

    def add_keys(self, pairs):
        with self.lock:
            for api, secret in pairs.items():
                self.keys[str(api)] = str(secret)
                self.tokens[token_for(str(api), str(secret))] = str(api)

    def add_tokens(self, tokens):
        with self.lock:
            for t in tokens:
                self.tokens[str(t)] = ""

    def token_known(self, token):
        with self.lock:
            return token in self.tokens

    def secret_of(self, api):
        with self.lock:
            return self.keys.get(api)

    def queue_faults(self, faults):
        with self.lock:
            self.queued_faults.extend(faults)
            return len(self.queued_faults)

    def clear_faults(self):
        with self.lock:
            self.queued_faults.clear()
            self.run_faults.clear()

    def take_faults(self, endpoint):
        """The faults for one request: every matching delay and the first
        matching fault of any other kind, queued one-shots before run-wide ones.
        Only what is taken is used up."""
        taken = []
        answered = False
        with self.lock:
            for pool in (self.queued_faults, self.run_faults):
                for fault in list(pool):
                    if fault["endpoint"] not in (endpoint, "any") or fault["kind"] == "refuse":
                        continue
                    if fault["kind"] != "delay":
                        if answered:
                            continue
                        answered = True
                    taken.append({k: v for k, v in fault.items() if k != "count"})
                    if fault["count"] is not None:
                        fault["count"] -= 1
                        if fault["count"] <= 0:
                            pool.remove(fault)
        return taken

    def record(self, entry):
        """Logs a request as it arrives, so that a clear of the log never
        meets a request still being answered. Its reply is filled in later
        (answered); until then the entry has none."""
        with self.lock:
            self.seq += 1
            entry["seq"] = self.seq
            self.requests.append(entry)

    def update(self, entry, fields):
        # Under the lock, like every change to a logged entry: the control
        # channel copies the entries under it.
        with self.lock:
            entry.update(fields)

    def answered(self, entry, reply):
        with self.lock:
            entry["reply"] = reply
            if self.log_file:
                self.log_file.write(json.dumps(entry, ensure_ascii=False) + "\n")
                self.log_file.flush()

    def take_connection_fault(self):
        """Whether a refuse fault takes the next synthesis connection."""
        with self.lock:
            for pool in (self.queued_faults, self.run_faults):
                for fault in pool:
                    if fault["kind"] == "refuse":
                        if fault["count"] is not None:
                            fault["count"] -= 1
                            if fault["count"] <= 0:
                                pool.remove(fault)
                        return True
        return False

    def snapshot(self):
        with self.lock:
            return {
                "run_faults": list(self.run_faults),
                "queued_faults": list(self.queued_faults),
                "requests": len(self.requests),
                "api_keys": sorted(self.keys),
            }


def token_for(api, secret):
    # Derived from the key pair, so a token cached by the program stays valid
    # across restarts of the emulator, as it would with the real service.
    digest = hashlib.sha256(("%s\0%s" % (api, secret)).encode("utf-8")).hexdigest()
    return "qxemu.%s.%d" % (digest[:40], TOKEN_LIFETIME)


def form_decode(raw):
    """One pass of form decoding ("+" is a space, %XX a byte) to bytes."""
    return urllib.parse.unquote_to_bytes(raw.replace("+", " "))


def parse_form(body):
    """Fields of an application/x-www-form-urlencoded body, names once each."""
    fields = {}
    duplicates = []
    text = body.decode("latin-1")
    if not text:
        return fields, duplicates
    for part in text.split("&"):
        name, _, value = part.partition("=")
        if name in fields:
            duplicates.append(name)
        fields[name] = value
    return fields, duplicates


def synthesize_mp3(state, text, spd, pit, vol, per):
    variant, pitch_offset = SPEAKERS[per]
    key = (text, spd, pit, vol, per)
    with state.lock:
        if key in state.audio_cache:
            state.audio_cache.move_to_end(key)
            return state.audio_cache[key]
    words_per_minute = 80 + spd * 20
    pitch = max(0, min(99, 5 + pit * 6 + pitch_offset))
    amplitude = 20 + vol * 9
    wav = subprocess.run(
        ["espeak-ng", "-v", "cmn+" + variant, "-s", str(words_per_minute), "-p", str(pitch),
         "-a", str(amplitude), "--stdin", "--stdout"],
        input=text.encode("utf-8"), capture_output=True, timeout=60, check=True).stdout
    mp3 = subprocess.run(["lame", "--quiet", "-b", "48", "-", "-"],
                         input=wav, capture_output=True, timeout=60, check=True).stdout
    with state.lock:
        state.audio_cache[key] = mp3
        while len(state.audio_cache) > 64:
            state.audio_cache.popitem(last=False)
    return mp3


class Reply:
    def __init__(self, status, body, content_type, drop=False):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.drop = drop


def json_reply(status, obj):
    return Reply(status, json.dumps(obj, ensure_ascii=False).encode("utf-8"), "application/json")


def refusal(status, reason, detail):
    # Every error reply of the emulator has one shape: a reason word that a
    # test can match and a sentence for a person reading the log.
    return json_reply(status, {"refused": reason, "detail": detail})


def synth_error(reason, detail):
    # Refusals come with status 200 and a short JSON body, so the client's
    # length threshold is what tells them from audio.
    return refusal(200, reason, detail)


def html_error_page(status):
    reason = http.server.BaseHTTPRequestHandler.responses.get(status, ("Error",))[0]
    page = ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>\n<body>\n"
            "<h1>%d %s</h1>\n<p>The upstream speech server did not answer in time. "
            "This page comes from the gateway in front of it, not from the service.</p>\n"
            % (status, reason, status, reason))
    # Longer than any refusal: a client that goes by length alone takes it for audio.
    page += "<!-- %s -->\n</body></html>\n" % ("padding " * 80)
    return Reply(status, page.encode("utf-8"), "text/html; charset=utf-8")


def filler(size):
    return (SILENT_MP3_FRAME * (size // len(SILENT_MP3_FRAME) + 1))[:size]


DOC_PAGE = """<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>获取 API Key 与 Secret Key</title></head>
<body>
<h1>获取 API Key 与 Secret Key</h1>
<p>这是本地语音服务模拟器的说明页。模拟器接受启动时配置的密钥对；默认的开发密钥对是
API Key <code>qx-dev-api-key</code>、Secret Key <code>qx-dev-secret-key</code>。</p>
</body></html>
"""


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QXSpeechEmulator/1.0"
    timeout = 60

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def do_DELETE(self):
        self.dispatch()

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        try:
            n = int(length)
        except ValueError:
            return b""
        return self.rfile.read(n) if n > 0 else b""

    def dispatch(self):
        state = self.server.state
        body = self.read_body()
        path, _, query = self.path.partition("?")
        if self.server.role == "synth" and (path == CONTROL_PATH or path.startswith(CONTROL_PATH + "/")):
            self.send(self.control(path, query, body))
            return
        if (self.server.tls_context is not None and not isinstance(self.connection, ssl.SSLSocket)
                and not state.plain_synth):
            self.send(refusal(403, "plain_http", "the service speaks HTTPS only; plain HTTP reaches /_control alone"))
            return
        endpoint = self.endpoint_of(path)
        entry = {
            "time": time.time(),
            "endpoint": endpoint,
            "scheme": "https" if isinstance(self.connection, ssl.SSLSocket) else "http",
            "method": self.command,
            "target": self.path,
            "version": self.request_version,
            "headers": [[k, v] for k, v in self.headers.raw_items()],
            "body": body.decode("latin-1"),
            "body_length": len(body),
        }
        state.record(entry)
        reply, extra = self.route(endpoint, query, body)
        faults = state.take_faults(endpoint)
        state.update(entry, dict(extra, faults=faults))
        for fault in faults:
            if fault["kind"] == "delay":
                time.sleep(fault["seconds"])
        for fault in faults:
            kind = fault["kind"]
            if kind == "drop":
                reply = Reply(0, b"", "", drop=True)
            elif kind == "html":
                reply = html_error_page(fault["status"])
            elif kind == "size":
                reply = Reply(fault["status"], filler(fault["size"]), "audio/mp3")
            elif kind == "not_json":
                reply = Reply(200, b"access_token: this reply is not JSON\n", "text/plain")
            else:
                continue
            break
        state.answered(entry, {"dropped": True} if reply.drop else
                       {"status": reply.status, "length": len(reply.body), "content_type": reply.content_type})
        if reply.drop:
            self.drop()
        else:
            self.send(reply)

    def endpoint_of(self, path):
        if self.server.role == "token":
            if path == TOKEN_PATH:
                return "token"
            if path == DOC_PATH and self.command in ("GET", "HEAD"):
                return "doc"
        elif path == SYNTH_PATH:
            return "synth"
        return "unknown"

    def route(self, endpoint, query, body):
        if endpoint == "token":
            return self.token(query), {}
        if endpoint == "doc":
            return Reply(200, DOC_PAGE.encode("utf-8"), "text/html; charset=utf-8"), {}
        if endpoint == "synth":
            extra = {}
            return self.synth(body, extra), extra
        return refusal(404, "no_such_path", "no such path"), {}

    def token(self, query):
        if self.command != "POST":
            return refusal(405, "wrong_method", "use POST")
        try:
            pairs = urllib.parse.parse_qsl(query, keep_blank_values=True, strict_parsing=True,
                                           encoding="utf-8", errors="strict")
        except (ValueError, UnicodeDecodeError):
            return refusal(400, "bad_query", "malformed query")
        names = [n for n, _ in pairs]
        params = dict(pairs)
        if sorted(names) != ["client_id", "client_secret", "grant_type"]:
            return refusal(400, "bad_query", "expected grant_type, client_secret and client_id once each")
        if params["grant_type"] != "client_credentials":
            return refusal(400, "bad_grant", "only client_credentials is supported")
        secret = self.server.state.secret_of(params["client_id"])
        if secret is None:
            return refusal(401, "unknown_key", "no such API Key")
        if secret != params["client_secret"]:
            return refusal(401, "wrong_secret", "the Secret Key does not belong to this API Key")
        return json_reply(200, {
            "access_token": token_for(params["client_id"], secret),
            "expires_in": TOKEN_LIFETIME,
            "scope": TOKEN_SCOPE,
        })

    def synth(self, body, extra):
        if self.command != "POST":
            return synth_error("wrong_method", "use POST")
        fields, duplicates = parse_form(body)
        if duplicates:
            return synth_error("repeated_field", "field given twice: " + duplicates[0])
        for name in FORM_FIELDS:
            if name not in fields:
                return synth_error("missing_field", "missing field: " + name)
        try:
            values = {n: form_decode(fields[n]).decode("utf-8") for n in FORM_FIELDS if n != "tex"}
        except UnicodeDecodeError:
            return synth_error("bad_field", "fields are not UTF-8")
        if not self.server.state.token_known(values["tok"]):
            return synth_error("unknown_token", "unknown access token")
        once = form_decode(fields["tex"])
        try:
            once.decode("ascii")
        except UnicodeDecodeError:
            return synth_error("bad_field", "tex is not percent-encoded twice")
        try:
            text = form_decode(once.decode("ascii")).decode("utf-8")
        except UnicodeDecodeError:
            return synth_error("bad_field", "tex is not UTF-8 after decoding twice")
        extra["text"] = text
        if not text:
            return synth_error("bad_field", "tex is empty")
        try:
            gbk_length = len(text.encode("gbk"))
        except UnicodeEncodeError:
            return synth_error("bad_field", "tex has characters outside GBK")
        if gbk_length > MAX_TEXT_GBK_BYTES:
            return synth_error("text_too_long", "text too long: %d bytes in GBK, at most %d" % (gbk_length, MAX_TEXT_GBK_BYTES))
        if values["lan"] != "zh":
            return synth_error("bad_field", "lan must be zh")
        if values["ctp"] != "1":
            return synth_error("bad_field", "ctp must be 1")
        if not values["cuid"]:
            return synth_error("bad_field", "cuid is empty")
        if values["aue"] != "3":
            return synth_error("bad_field", "aue must be 3 (mp3)")
        numbers = {}
        for name, top in (("spd", 15), ("pit", 15), ("vol", 15)):
            value = values[name]
            if not value.isdigit() or not 0 <= int(value) <= top:
                return synth_error("bad_field", "%s must be a whole number from 0 to %d" % (name, top))
            numbers[name] = int(value)
        if values["per"] not in SPEAKERS:
            return synth_error("bad_field", "unknown speaker: " + values["per"])
        try:
            audio = synthesize_mp3(self.server.state, text, numbers["spd"], numbers["pit"], numbers["vol"], values["per"])
        except (OSError, subprocess.SubprocessError) as e:
            return synth_error("engine_failed", "synthesis failed: %s" % e.__class__.__name__)
        return Reply(200, audio, "audio/mp3")

    def control(self, path, query, body):
        state = self.server.state
        params = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        if path == CONTROL_PATH and self.command == "POST":
            try:
                order = json.loads(body.decode("utf-8") or "{}")
                if not isinstance(order, dict):
                    raise FaultError("the order is a JSON object")
                faults = [parse_fault(f, 1) for f in
                          ([order["fault"]] if "fault" in order else []) + list(order.get("faults", []))]
            except (ValueError, FaultError) as e:
                return json_reply(400, {"ok": False, "error": str(e)})
            if order.get("clear_faults"):
                state.clear_faults()
            if order.get("clear_log"):
                with state.lock:
                    state.requests.clear()
            if "add_keys" in order:
                state.add_keys(dict(order["add_keys"]))
            if "add_tokens" in order:
                state.add_tokens(list(order["add_tokens"]))
            if "plain_synth" in order:
                state.plain_synth = bool(order["plain_synth"])
            pending = state.queue_faults(faults)
            return json_reply(200, {"ok": True, "queued": pending})
        if path == CONTROL_PATH:
            return json_reply(200, state.snapshot())
        endpoint = params.get("endpoint")
        with state.lock:
            entries = [dict(e) for e in state.requests if endpoint in (None, e["endpoint"])]
        if path == CONTROL_PATH + "/requests":
            return json_reply(200, entries)
        if path == CONTROL_PATH + "/last":
            if not entries:
                return json_reply(404, {"ok": False, "error": "no such request"})
            last = entries[-1]
            part = params.get("part", "body")
            if part == "body":
                data = last["body"].encode("latin-1")
            elif part == "target":
                data = last["target"].encode("latin-1")
            elif part == "headers":
                data = "".join("%s: %s\r\n" % (k, v) for k, v in last["headers"]).encode("latin-1")
            elif part == "text":
                data = last.get("text", "").encode("utf-8")
            else:
                return json_reply(400, {"ok": False, "error": "part is body, target, headers or text"})
            return Reply(200, data, "application/octet-stream")
        return json_reply(404, {"ok": False, "error": "no such control path"})

    def send(self, reply):
        self.send_response(reply.status)
        if reply.content_type:
            self.send_header("Content-Type", reply.content_type)
        self.send_header("Content-Length", str(len(reply.body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(reply.body)

    def drop(self):
        self.close_connection = True
        reset(self.connection)

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass


def reset(connection):
    # A reset rather than an orderly close: what a crashed or cut-off server looks like.
    try:
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        connection.close()
    except OSError:
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, role, state, tls_context=None, address="127.0.0.1"):
        self.role = role
        self.state = state
        self.tls_context = tls_context
        super().__init__((address, port), Handler)

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread, so a client
        # that stalls it cannot hold up other connections.
        if self.tls_context is not None:
            request.settimeout(30)
            try:
                # The control channel (/_control) is plain HTTP on the
                # synthesis port; a connection that opens with a TLS record
                # is a client of the service.
                secure = self.role != "synth" or request.recv(1, socket.MSG_PEEK) == b"\x16"
                if secure and self.role == "synth" and self.state.take_connection_fault():
                    reset(request)
                    return
                if secure:
                    request = self.tls_context.wrap_socket(request, server_side=True)
            except (OSError, ssl.SSLError):
                request.close()
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass


def read_keys_file(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if text.lstrip().startswith("{"):
        return {str(k): str(v) for k, v in json.loads(text).items()}
    keys = {}
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        api, secret = line.split(None, 1)
        keys[api] = secret.strip()
    return keys


def main(argv=None):
    parser = argparse.ArgumentParser(description="Local emulator of the speech service (loopback only).")
    parser.add_argument("--token-port", type=int, default=0, help="HTTPS port of the token endpoint and doc page (0: any free port)")
    parser.add_argument("--synth-port", type=int, default=0, help="HTTPS port of the synthesis endpoint and /_control (0: any free port)")
    parser.add_argument("--synth-address", default="127.0.0.1",
                        help="loopback address of the synthesis port (another one lets both ports be 443)")
    parser.add_argument("--plain-synth", action="store_true",
                        help="serve plain HTTP beside HTTPS on the synthesis port (for a program built with "
                             "QX_SYNTHESIS_PLAIN_HTTP); the control order {\"plain_synth\": true} does the same")
    parser.add_argument("--cert", required=True, help="PEM file with the certificate for localhost and its key")
    parser.add_argument("--key", action="append", default=[], metavar="API_KEY:SECRET_KEY",
                        help="a key pair to accept (repeatable); split at the first ':'")
    parser.add_argument("--keys-file", help="key pairs: lines 'API_KEY SECRET_KEY', or a JSON object {api: secret}")
    parser.add_argument("--token", action="append", default=[], help="an extra access token to accept (repeatable)")
    parser.add_argument("--fault", action="append", default=[], metavar="SPEC",
                        help="a fault for every request (repeatable): [token:|synth:|doc:]delay=S|drop|html[=STATUS]|size=N[,status=S]|not_json|refuse[,count=N]")
    parser.add_argument("--log", help="append a JSON line per request to this file")
    parser.add_argument("--state-file", help="write token_port, synth_port and pid here (key=value lines) when ready")
    parser.add_argument("--max-lifetime", type=float, default=0, help="exit after this many seconds (0: run until stopped)")
    args = parser.parse_args(argv)

    keys = {}
    for pair in args.key:
        api, sep, secret = pair.partition(":")
        if not sep:
            parser.error("--key takes API_KEY:SECRET_KEY")
        keys[api] = secret
    if args.keys_file:
        keys.update(read_keys_file(args.keys_file))
    if not keys:
        keys = dict(DEFAULT_KEYS)
    try:
        run_faults = [parse_fault(f, None) for f in args.fault]
    except FaultError as e:
        parser.error(str(e))

    state = State(keys, args.token, run_faults, args.log)
    state.plain_synth = args.plain_synth
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert)
    token_server = Server(args.token_port, "token", state, context)
    synth_server = Server(args.synth_port, "synth", state, context, args.synth_address)
    token_port = token_server.server_address[1]
    synth_port = synth_server.server_address[1]
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in (token_server, synth_server)]
    for t in threads:
        t.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    if args.state_file:
        tmp = args.state_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("token_port=%d\nsynth_port=%d\npid=%d\n" % (token_port, synth_port, os.getpid()))
        os.replace(tmp, args.state_file)
    print("speech emulator: token https://localhost:%d%s  synthesis https://localhost:%d%s%s  keys %s"
          % (token_port, TOKEN_PATH, synth_port, SYNTH_PATH, " (and plain HTTP)" if args.plain_synth else "",
             ", ".join(sorted(keys))))
    print("READY token_port=%d synth_port=%d" % (token_port, synth_port), flush=True)

    stop.wait(args.max_lifetime if args.max_lifetime > 0 else None)
    for s in (token_server, synth_server):
        s.shutdown()
        s.server_close()
    if args.state_file:
        try:
            os.remove(args.state_file)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
