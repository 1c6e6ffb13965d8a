#!/usr/bin/env python3
"""Tests of the speech service emulator, run against the real command.

QX_TESTCA_DIR names the test CA (ca.pem, server.pem); without it a CA is made
in a temporary directory with scripts/make-test-ca.sh.
"""

import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
API_KEY, SECRET_KEY = "test-api", "test-secret"


def encode_once(data):
    return "".join("+" if b == 0x20 else "%%%02X" % b for b in data if b)


def encode_twice(text):
    return encode_once(encode_once(text.encode("utf-8")).encode("ascii"))


class Emulator:
    def __init__(self, workdir, ca_dir, *extra):
        self.state = os.path.join(workdir, "state-%d" % id(self))
        self.log = os.path.join(workdir, "log-%d.jsonl" % id(self))
        args = [sys.executable, os.path.join(HERE, "emuctl.py"), "start", "--state", self.state,
                "--cert", os.path.join(ca_dir, "server.pem"), "--key", "%s:%s" % (API_KEY, SECRET_KEY),
                "--log", self.log, "--max-lifetime", "300"] + list(extra)
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, timeout=30)
        with open(self.state) as f:
            values = dict(line.strip().split("=", 1) for line in f)
        self.token_port = int(values["token_port"])
        self.synth_port = int(values["synth_port"])
        self.tls = ssl.create_default_context(cafile=os.path.join(ca_dir, "ca.pem"))

    def stop(self):
        subprocess.run([sys.executable, os.path.join(HERE, "emuctl.py"), "stop", "--state", self.state],
                       check=True, stdout=subprocess.DEVNULL, timeout=30)

    def request(self, method, target, body=None, headers=None, port=None, tls=True):
        if tls:
            conn = http.client.HTTPSConnection("localhost", port or self.token_port, context=self.tls, timeout=30)
        else:
            conn = http.client.HTTPConnection("localhost", port or self.token_port, timeout=30)
        try:
            conn.request(method, target, body=body, headers=headers or {})
            reply = conn.getresponse()
            return reply.status, reply.getheader("Content-Type"), reply.read()
        finally:
            conn.close()

    def token(self, secret=SECRET_KEY, api=API_KEY, quote=True):
        q = urllib.parse.quote if quote else (lambda s, safe="": s)
        return self.request("POST", "/oauth/2.0/token?grant_type=client_credentials&client_secret=%s&client_id=%s"
                          % (q(secret, safe=""), q(api, safe="")))

    def good_token(self):
        return json.loads(self.token()[2])["access_token"]

    def form(self, text, **fields):
        values = {"lan": "zh", "ctp": "1", "cuid": "abcdxxx", "tok": "",
                  "tex": encode_twice(text), "vol": "9", "per": "0", "spd": "5", "pit": "5", "aue": "3"}
        values.update(fields)
        if "tok" not in fields:
            values["tok"] = self.good_token()
        return "&".join("%s=%s" % (k, v) for k, v in values.items() if v is not None)

    def http(self, method, target, body=None, headers=None):
        """A plain request to the synthesis port: the control channel."""
        return self.request(method, target, body, headers, self.synth_port, tls=False)

    def synth(self, text, **fields):
        return self.request("POST", "/text2audio", self.form(text, **fields),
                          {"Content-Type": "application/x-www-form-urlencoded"}, self.synth_port)

    def control(self, order):
        status, _, body = self.http("POST", "/_control", json.dumps(order))
        assert status == 200, body
        return json.loads(body)


def wait_until(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def decode_mp3(data, workdir):
    """Duration in seconds and peak sample of the MP3, decoded by mpg123."""
    mp3 = os.path.join(workdir, "audio.mp3")
    wav = os.path.join(workdir, "audio.wav")
    with open(mp3, "wb") as f:
        f.write(data)
    subprocess.run(["mpg123", "-q", "-w", wav, mp3], check=True, timeout=60)
    with wave.open(wav) as w:
        frames = w.readframes(w.getnframes())
        duration = w.getnframes() / w.getframerate()
    samples = memoryview(frames).cast("h")
    return duration, max(abs(s) for s in samples) if len(samples) else 0


class EmulatorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="qx-emulator-test-")
        ca_dir = os.environ.get("QX_TESTCA_DIR")
        if not ca_dir or not os.path.exists(os.path.join(ca_dir, "server.pem")):
            ca_dir = os.path.join(cls.workdir, "ca")
            subprocess.run(["bash", os.path.join(ROOT, "scripts", "make-test-ca.sh"), ca_dir], check=True)
        cls.ca_dir = ca_dir
        cls.emu = Emulator(cls.workdir, ca_dir)

    @classmethod
    def tearDownClass(cls):
        cls.emu.stop()
        shutil.rmtree(cls.workdir, ignore_errors=True)

    def setUp(self):
        self.emu.control({"clear_faults": True})


class TokenEndpoint(EmulatorTest):
    def test_known_pair_gets_a_token_reply(self):
        status, ctype, body = self.emu.token()
        self.assertEqual(status, 200)
        self.assertEqual(ctype, "application/json")
        reply = json.loads(body)
        self.assertTrue(reply["access_token"])
        self.assertIsInstance(reply["expires_in"], int)
        self.assertIn("scope", reply)

    def test_token_is_accepted_by_synthesis(self):
        status, ctype, _ = self.emu.synth("你好")
        self.assertEqual((status, ctype), (200, "audio/mp3"))

    def test_bad_credentials_get_short_json_4xx(self):
        cases = {
            "wrong secret": self.emu.token(secret="other"),
            "unknown client": self.emu.token(api="nobody"),
            "unencoded ampersand splits the query": self.emu.token(secret="a&b", quote=False),
            "no query": self.emu.request("POST", "/oauth/2.0/token"),
            "other grant": self.emu.request("POST", "/oauth/2.0/token?grant_type=password&client_secret=%s&client_id=%s"
                                          % (SECRET_KEY, API_KEY)),
            "GET": self.emu.request("GET", "/oauth/2.0/token?grant_type=client_credentials&client_secret=%s&client_id=%s"
                                  % (SECRET_KEY, API_KEY)),
        }
        for name, (status, ctype, body) in cases.items():
            with self.subTest(name):
                self.assertTrue(400 <= status < 500, status)
                self.assertEqual(ctype, "application/json")
                self.assertLess(len(body), 200)
                self.assertEqual(sorted(json.loads(body)), ["detail", "refused"])

    def test_keys_with_reserved_characters_work_when_encoded(self):
        api, secret = "k y+1", "s&e#c%r=t 中"
        self.emu.control({"add_keys": {api: secret}})
        status, _, body = self.emu.token(secret=secret, api=api)
        self.assertEqual(status, 200, body)
        self.assertIn("access_token", json.loads(body))

    def test_certificate_is_checked_by_clients(self):
        untrusted = ssl.create_default_context()
        for port in (self.emu.token_port, self.emu.synth_port):
            with self.subTest(port=port):
                conn = http.client.HTTPSConnection("localhost", port, context=untrusted, timeout=10)
                with self.assertRaises(ssl.SSLError):
                    conn.request("GET", "/")
                conn.close()

    def test_documentation_page(self):
        status, ctype, body = self.emu.request("GET", "/ai-doc/SPEECH/qknh9i8ed")
        self.assertEqual(status, 200)
        self.assertTrue(ctype.startswith("text/html"))
        self.assertIn("API Key", body.decode("utf-8"))


class SynthesisEndpoint(EmulatorTest):
    def test_audio_decodes_and_grows_with_the_text(self):
        durations = []
        for text in ("你好", "你好，今天天气很好。", "你好，今天天气很好。我们一起去公园散步，然后回家吃饭。"):
            status, ctype, body = self.emu.synth(text)
            self.assertEqual((status, ctype), (200, "audio/mp3"))
            self.assertGreaterEqual(len(body), 500)
            durations.append(decode_mp3(body, self.workdir)[0])
        self.assertGreater(durations[0], 0.2)
        self.assertLess(durations[0], durations[1])
        self.assertLess(durations[1], durations[2])

    def test_speed_volume_and_pitch_are_honoured(self):
        text = "语音合成测试，速度与音量。"
        slow = decode_mp3(self.emu.synth(text, spd="1")[2], self.workdir)
        fast = decode_mp3(self.emu.synth(text, spd="9")[2], self.workdir)
        self.assertGreater(slow[0], fast[0] * 1.3)
        quiet = decode_mp3(self.emu.synth(text, vol="1")[2], self.workdir)
        loud = decode_mp3(self.emu.synth(text, vol="15")[2], self.workdir)
        self.assertGreater(loud[1], quiet[1] * 1.5)
        self.assertNotEqual(self.emu.synth(text, pit="0")[2], self.emu.synth(text, pit="9")[2])

    def test_every_speaker_sounds_different(self):
        speakers = ["0", "1", "3", "4", "5003", "5118", "106", "110", "111", "103", "5"]
        audio = set()
        for per in speakers:
            status, ctype, body = self.emu.synth("你好", per=per)
            self.assertEqual((status, ctype), (200, "audio/mp3"), per)
            audio.add(body)
        self.assertEqual(len(audio), len(speakers))

    def test_plain_http_reaches_the_control_channel_alone(self):
        status, _, body = self.emu.http("POST", "/text2audio", self.emu.form("你好"))
        self.assertEqual((status, json.loads(body)["refused"]), (403, "plain_http"))

    def test_text_of_1024_gbk_bytes_is_spoken_and_1025_refused(self):
        status, ctype, _ = self.emu.synth("好" * 512)
        self.assertEqual((status, ctype), (200, "audio/mp3"))
        status, ctype, body = self.emu.synth("好" * 512 + "a")
        self.assertEqual(ctype, "application/json")
        self.assertEqual(json.loads(body)["refused"], "text_too_long")

    def test_spaces_survive_the_double_encoding(self):
        self.emu.control({"clear_log": True})
        self.emu.synth("a b")
        entries = json.loads(self.emu.http("GET", "/_control/requests?endpoint=synth")[2])
        self.assertEqual(entries[-1]["text"], "a b")
        self.assertEqual(self.emu.http("GET", "/_control/last?endpoint=synth&part=text")[2], b"a b")

    def test_bad_forms_get_short_json_errors(self):
        cases = {
            "unknown token": self.emu.synth("你好", tok="nope"),
            "empty token": self.emu.synth("你好", tok=""),
            "empty text": self.emu.synth(""),
            "encoded once only": self.emu.synth("", tex=encode_once("你好".encode("utf-8"))),
            "not UTF-8": self.emu.synth("", tex=encode_once(encode_once("你好".encode("gbk")).encode())),
            "speed out of range": self.emu.synth("你好", spd="16"),
            "unknown speaker": self.emu.synth("你好", per="2"),
            "wav instead of mp3": self.emu.synth("你好", aue="6"),
            "empty volume": self.emu.synth("你好", vol=""),
        }
        for field in ("lan", "ctp", "cuid", "tok", "tex", "vol", "per", "spd", "pit", "aue"):
            cases["missing " + field] = self.emu.synth("你好", **{field: None})
        for name, (status, ctype, body) in cases.items():
            with self.subTest(name):
                self.assertEqual(ctype, "application/json")
                self.assertLess(len(body), 500)
                self.assertEqual(sorted(json.loads(body)), ["detail", "refused"])


class Faults(EmulatorTest):
    def test_exact_size_bodies(self):
        for size in (499, 500):
            self.emu.control({"fault": "synth:size=%d" % size})
            status, _, body = self.emu.synth("你好")
            self.assertEqual((status, len(body)), (200, size))
        self.assertEqual(self.emu.synth("你好")[1], "audio/mp3", "a one-shot fault is used up")

    def test_html_error_page_with_5xx(self):
        self.emu.control({"fault": {"kind": "html", "status": 503, "endpoint": "synth"}})
        status, ctype, body = self.emu.synth("你好")
        self.assertEqual(status, 503)
        self.assertTrue(ctype.startswith("text/html"))
        self.assertGreaterEqual(len(body), 500)

    def test_token_reply_that_is_not_json(self):
        self.emu.control({"fault": "not_json"})
        status, _, body = self.emu.token()
        self.assertEqual(status, 200)
        with self.assertRaises(ValueError):
            json.loads(body)
        self.assertIn("access_token", json.loads(self.emu.token()[2]))

    def test_delay(self):
        self.emu.control({"fault": "token:delay=0.6"})
        start = time.monotonic()
        self.assertEqual(self.emu.token()[0], 200)
        self.assertGreaterEqual(time.monotonic() - start, 0.6)

    def test_dropped_connection_sends_nothing(self):
        self.emu.control({"fault": "synth:drop"})
        body = self.emu.form("你好").encode()
        conn = self.emu.tls.wrap_socket(socket.create_connection(("127.0.0.1", self.emu.synth_port), timeout=10),
                                        server_hostname="localhost")
        conn.sendall(b"POST /text2audio HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        try:
            received = conn.recv(100)
        except (ConnectionResetError, ssl.SSLError):
            received = b""
        conn.close()
        self.assertEqual(received, b"")

    def test_refused_connection_gets_no_handshake(self):
        self.emu.control({"fault": "refuse"})
        with self.assertRaises((ConnectionError, ssl.SSLError)):
            self.emu.synth("你好")
        self.assertEqual(self.emu.synth("你好")[1], "audio/mp3", "a one-shot fault is used up")

    def test_faults_go_to_their_endpoint_in_order(self):
        self.emu.control({"faults": ["synth:size=10", "synth:size=20"]})
        self.assertEqual(self.emu.token()[0], 200)
        self.assertEqual(len(self.emu.synth("你好")[2]), 10)
        self.assertEqual(len(self.emu.synth("你好")[2]), 20)

    def test_bad_fault_orders_are_refused(self):
        for order in ({"fault": "explode"}, {"fault": "synth:size"}, {"fault": "nowhere:drop"},
                      {"fault": "token:refuse"}):
            with self.subTest(order):
                status, _, _ = self.emu.http("POST", "/_control", json.dumps(order))
                self.assertEqual(status, 400)

    def test_run_wide_fault_from_the_command_line(self):
        emu = Emulator(self.workdir, self.ca_dir, "--fault", "synth:html=500,count=2")
        try:
            self.assertEqual(emu.synth("你好")[0], 500)
            self.assertEqual(emu.synth("你好")[0], 500)
            self.assertEqual(emu.synth("你好")[0], 200)
        finally:
            emu.stop()


class RequestLog(EmulatorTest):
    def test_log_holds_method_target_headers_in_order_and_raw_body(self):
        form = self.emu.form("中")
        self.emu.request("POST", "/text2audio", form, {"Content-Type": "application/x-www-form-urlencoded",
                                                     "X-First": "1", "X-Second": "2"}, self.emu.synth_port)
        with open(self.emu.log, encoding="utf-8") as f:
            entry = [json.loads(line) for line in f][-1]
        self.assertEqual(entry["endpoint"], "synth")
        self.assertEqual(entry["method"], "POST")
        self.assertEqual(entry["target"], "/text2audio")
        self.assertEqual(entry["body"], form)
        names = [k for k, _ in entry["headers"]]
        self.assertLess(names.index("X-First"), names.index("X-Second"))
        self.assertEqual((entry["scheme"], entry["reply"]["status"]), ("https", 200))
        last = self.emu.http("GET", "/_control/last?endpoint=synth&part=body")[2]
        self.assertEqual(last.decode(), form)

    def test_request_is_logged_on_arrival_so_a_clear_removes_it(self):
        # A delayed request still being answered when the log is cleared is
        # gone from the log for good, its reply included.
        self.emu.control({"clear_log": True, "fault": "synth:delay=3"})
        form = self.emu.form("你好")
        done = threading.Thread(target=self.emu.request, args=("POST", "/text2audio", form, None, self.emu.synth_port))
        done.start()
        logged = lambda: json.loads(self.emu.http("GET", "/_control/requests?endpoint=synth")[2])  # noqa: E731
        self.assertTrue(wait_until(logged, seconds=1.5), "logged while its reply still waits")
        self.emu.control({"clear_log": True})
        done.join(30)
        self.assertEqual(json.loads(self.emu.http("GET", "/_control/requests?endpoint=synth")[2]), [])

    def test_token_target_is_logged_raw(self):
        target = "/oauth/2.0/token?grant_type=client_credentials&client_secret=%s&client_id=%s" % (SECRET_KEY, API_KEY)
        self.emu.request("POST", target)
        self.assertEqual(self.emu.http("GET", "/_control/last?endpoint=token&part=target")[2].decode(), target)


if __name__ == "__main__":
    unittest.main()
