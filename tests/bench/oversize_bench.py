#!/usr/bin/env python3
"""Replies over their bound, many times in a row: the token request over
HTTPS answered with tens of megabytes (its bound is 64 KiB), the synthesis
request over plain HTTP answered with more than its 64 MiB bound. Each run is
one process of oversize_bench.exe (under Wine) making REQUESTS such requests
in a row through the service client. The body comes in pieces of a megabyte
with short pauses, as over a real network (where the client, unlike on
loopback, often waits for more). Reports how many runs survived (every
request refused, the process ended normally) and how long each request took.
A benchmark reports; it does not judge, except that it exits 1 when a run
died, so a brief run in CI shows it.

Usage: oversize_bench.py --exe oversize_bench.exe --wine build/win/wine-run.sh --certs build/win/testca
                         [--runs 20] [--requests 2] [--token-bytes 30000000] [--synth-bytes 70000000]
                         [--piece-bytes 1000000] [--piece-interval 0.02] [--kinds token,synth]
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "testserver"))
import testserver  # noqa: E402


def run_series(args, kind, url):
    survived = 0
    times = []
    deaths = []
    for run in range(args.runs):
        started = time.monotonic()
        try:
            out = subprocess.run([args.wine, args.exe, kind, url, str(args.requests)], capture_output=True,
                                 text=True, timeout=120 + 60 * args.requests, stdin=subprocess.DEVNULL)
            code, stdout, stderr = out.returncode, out.stdout, out.stderr
        except subprocess.TimeoutExpired as e:
            code, stdout, stderr = "timeout", (e.stdout or b"").decode("utf-8", "replace"), ""
        lines = [line.split() for line in stdout.splitlines() if line.startswith("request_ms ")]
        times += [float(line[1]) for line in lines]
        refused = sum(1 for line in lines if line[2] == "refused")
        if code == 0 and refused == args.requests:
            survived += 1
        else:
            deaths.append(f"run {run + 1}: exit {code}, {len(lines)} of {args.requests} requests answered, "
                          f"{refused} refused, after {time.monotonic() - started:.1f} s")
            deaths += ["    " + line for line in stderr.splitlines()[-3:]]
    return survived, times, deaths


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--certs", required=True, help="the test CA directory (server.pem)")
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--requests", type=int, default=2, help="requests per run, in a row")
    parser.add_argument("--token-bytes", type=int, default=30_000_000)
    parser.add_argument("--synth-bytes", type=int, default=70_000_000)
    parser.add_argument("--piece-bytes", type=int, default=1_000_000,
                        help="send the body in pieces of this many bytes (0: all at once)")
    parser.add_argument("--piece-interval", type=float, default=0.02, help="seconds between pieces")
    parser.add_argument("--kinds", default="token,synth", help="which requests: token, synth or both")
    args = parser.parse_args()

    # A reply over a real network arrives in bursts, and the client waits
    # between them; over loopback it is always there.
    pace = {"mode": "drip", "drip_bytes": args.piece_bytes, "drip_interval": args.piece_interval} \
        if args.piece_bytes else {}
    server = testserver.TestServer(args.certs)
    try:
        token = server.endpoint([{"body_size": args.token_bytes, "times": 0,
                                  "headers": ["Content-Type: application/json"], **pace}], tls="trusted")
        synth = server.endpoint([{"body_size": args.synth_bytes, "times": 0,
                                  "headers": ["Content-Type: audio/mp3"], **pace}], tls="trusted")
        paced = f", in pieces of {args.piece_bytes} every {args.piece_interval} s" if args.piece_bytes else ""
        series = [("token", f"token reply of {args.token_bytes} bytes over HTTPS{paced}",
                   f"https://localhost:{token.port}/oauth/2.0/token"),
                  ("synth", f"synthesis reply of {args.synth_bytes} bytes over HTTPS{paced}",
                   f"https://localhost:{synth.port}/text2audio")]
        failed = False
        for kind, what, url in series:
            if kind not in args.kinds.split(","):
                continue
            survived, times, deaths = run_series(args, kind, url)
            print(f"{what}: {survived} of {args.runs} runs survived ({args.requests} requests each)")
            if times:
                print(f"  per request: median {statistics.median(times):.0f} ms, min {min(times):.0f}, "
                      f"max {max(times):.0f} ({len(times)} requests)")
            for death in deaths:
                print("  " + death)
            failed = failed or bool(deaths)
    finally:
        server.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
