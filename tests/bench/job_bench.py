#!/usr/bin/env python3
"""Synthesis job benchmark: time from the press of Start until the success
message, against the local emulator with no delay and with the force-token box
ticked (so every run makes the token request and the synthesis request),
beside the same two requests made by curl in the same run. Reports the medians,
their ratio, and the program's working set and peak working set after the jobs.

Needs an X display, a running wineserver and the emulator on the ports the
build tree was configured with (CTest's qx_e2e_emulator fixture starts it).

Usage: job_bench.py [--runs N]
"""
import argparse
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BUILD, CONTENT, FORCE_TOKEN, START, App, build_setting  # noqa: E402

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
    audio = subprocess.run(["curl", "-sS", "-X", "POST", "--data-binary", form,
                            "-H", "Content-Type: application/x-www-form-urlencoded",
                            "http://%s/text2audio" % SYNTH_HOST],
                           capture_output=True, check=True, timeout=60).stdout
    elapsed = time.perf_counter() - started
    if len(audio) < 500:
        raise RuntimeError("curl got no audio: %r" % audio[:200])
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()

    keys = b"[ocr]\r\nAK=" + API.encode() + b"\r\nSK=" + SECRET.encode() + b"\r\n"
    program, curl = [], []
    with App("bench-job", settings=keys) as app:
        app.set_text(CONTENT, TEXT)
        app.driver("check", FORCE_TOKEN, 1)
        before = json.loads(app.driver("memory"))
        for _ in range(args.runs):
            out = app.driver("click-timed", START, "--wait", 60).splitlines()
            box = json.loads(out[1])
            if box["title"] != "恭喜":
                raise RuntimeError("the job did not succeed: %r" % box)
            program.append(float(out[0]) / 1000)
            curl.append(curl_pair(BUILD / "testca" / "ca.pem"))
        after = json.loads(app.driver("memory"))

    p, c = statistics.median(program), statistics.median(curl)
    print("runs: %d" % args.runs)
    print("Start pressed -> success message: median %.1f ms (min %.1f, max %.1f)"
          % (p * 1000, min(program) * 1000, max(program) * 1000))
    print("curl token + synthesis:            median %.1f ms (min %.1f, max %.1f)"
          % (c * 1000, min(curl) * 1000, max(curl) * 1000))
    print("ratio program / curl: %.2f" % (p / c))
    print("working set before the jobs: %.1f MiB; after: %.1f MiB; peak: %.1f MiB"
          % (before["working_set"] / 2**20, after["working_set"] / 2**20, after["peak_working_set"] / 2**20))


if __name__ == "__main__":
    main()
