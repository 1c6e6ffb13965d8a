#!/usr/bin/env python3
"""Synthesis job benchmark: time from the press of Start until the success
message, against the local emulator with no delay and with the force-token box
ticked (so every run makes the token request and the synthesis request). The
program as built (synthesis over HTTPS) takes turns with the same program
built with QX_SYNTHESIS_PLAIN_HTTP (--plain-exe) and with the same two
requests made by curl, in one run. Reports the medians, the ratio HTTPS /
plain (what the synthesis request's TLS handshake costs a Start), and the
program's working set and peak working set after the jobs.

Needs an X display, a running wineserver and the emulator on the ports the
build tree was configured with (CTest's qx_e2e_emulator fixture starts it);
the emulator serves plain HTTP beside HTTPS for the length of the run.

Usage: job_bench.py --plain-exe PATH [--runs N]
"""
import argparse
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BUILD, CONTENT, FORCE_TOKEN, START, App, build_setting, emulator  # noqa: E402

TOKEN_HOST = build_setting("QX_TOKEN_HOST")
SYNTH_HOST = build_setting("QX_SYNTHESIS_HOST")
API, SECRET = "qx-dev-api-key", "qx-dev-secret-key"
TEXT = "你好，世界。欢迎使用语音合成。"


def curl_pair(ca):
    """Token request, then synthesis request, as the program makes them; seconds."""
    token_url = "https://%s/oauth/2.0/token?grant_type=client_credentials&client_secret=%s&client_id=%s" % (
        TOKEN_HOST, SECRET, API)
    started = time.perf_counter()
    reply = subprocess.run(["curl", "-sS", "--cacert", str(ca), "-X", "POST", "-H",
                            "Content-Type: application/json;charset=UTF-8", token_url],
                           capture_output=True, check=True, timeout=60).stdout
    token = json.loads(reply)["access_token"]
    once = "".join("%%%02X" % b if b != 0x20 else "+" for b in TEXT.encode("utf-8"))
    twice = "".join("%%%02X" % b if b != 0x20 else "+" for b in once.encode("ascii"))
    form = "lan=zh&ctp=1&cuid=abcdxxx&tok=%s&tex=%s&vol=9&per=0&spd=5&pit=5&aue=3" % (token, twice)
    audio = subprocess.run(["curl", "-sS", "--cacert", str(ca), "-X", "POST", "--data-binary", form,
                            "-H", "Content-Type: application/x-www-form-urlencoded",
                            "https://%s/text2audio" % SYNTH_HOST],
                           capture_output=True, check=True, timeout=60).stdout
    elapsed = time.perf_counter() - started
    if len(audio) < 500:
        raise RuntimeError("curl got no audio: %r" % audio[:200])
    return elapsed


def timed_start(app):
    out = app.driver("click-timed", START, "--wait", 60).splitlines()
    box = json.loads(out[1])
    if box["title"] != "恭喜":
        raise RuntimeError("the job did not succeed: %r" % box)
    return float(out[0]) / 1000


def summary(name, values):
    return "%s median %.1f ms (min %.1f, max %.1f)" % (
        name, statistics.median(values) * 1000, min(values) * 1000, max(values) * 1000)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--plain-exe", required=True, help="the program built with QX_SYNTHESIS_PLAIN_HTTP")
    args = parser.parse_args()

    keys = b"[ocr]\r\nAK=" + API.encode() + b"\r\nSK=" + SECRET.encode() + b"\r\n"
    https, plain, curl = [], [], []
    emulator({"plain_synth": True})
    try:
        with App("bench-job", settings=keys) as app, \
                App("bench-job-plain", settings=keys, exe=args.plain_exe) as plain_app:
            for each in (app, plain_app):
                each.set_text(CONTENT, TEXT)
                each.driver("check", FORCE_TOKEN, 1)
            before = json.loads(app.driver("memory"))
            for _ in range(args.runs):
                https.append(timed_start(app))
                plain.append(timed_start(plain_app))
                curl.append(curl_pair(BUILD / "testca" / "ca.pem"))
            after = json.loads(app.driver("memory"))
    finally:
        emulator({"plain_synth": False})

    print("runs: %d each, taking turns" % args.runs)
    print(summary("Start pressed -> success message, HTTPS:      ", https))
    print(summary("Start pressed -> success message, plain HTTP: ", plain))
    print(summary("curl token + synthesis, both HTTPS:           ", curl))
    print("ratio HTTPS / plain HTTP: %.2f" % (statistics.median(https) / statistics.median(plain)))
    print("ratio program (HTTPS) / curl: %.2f" % (statistics.median(https) / statistics.median(curl)))
    print("working set before the jobs: %.1f MiB; after: %.1f MiB; peak: %.1f MiB"
          % (before["working_set"] / 2**20, after["working_set"] / 2**20, after["peak_working_set"] / 2**20))


if __name__ == "__main__":
    main()
