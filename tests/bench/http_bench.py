#!/usr/bin/env python3
"""One POST to the loopback test server through HttpRequest (under Wine)
beside the same request made by curl: the median of COUNT requests each, and
their ratio. A benchmark reports; it does not judge.

Usage: http_bench.py --exe http_bench.exe --wine build/win/wine-run.sh [--count 25]
"""

import argparse
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "testserver"))
import testserver  # noqa: E402

FORM = ("lan=zh&ctp=1&cuid=abcdxxx&tok=qxemu.0123456789abcdef&tex=%25E4%25BD%25A0%25E5%25A5%25BD"
        "&vol=5&per=0&spd=5&pit=5&aue=3")
USER_AGENT = ("Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
              "Chrome/55.0.2883.87 Safari/537.36")


def curl_samples(url, count):
    samples = []
    for i in range(count + 1):  # the first request warms up and is not counted
        out = subprocess.run(
            ["curl", "-s", "-o", "/dev/null", "-w", "%{time_total}", "--max-time", "30",
             "-H", "Accept: */*", "-H", "Referer: " + url, "-H", "Accept-Language: zh-cn",
             "-H", "User-Agent: " + USER_AGENT, "-H", "Content-Type: application/x-www-form-urlencoded",
             "--data-binary", FORM, url],
            capture_output=True, text=True, check=True, timeout=60)
        if i:
            samples.append(float(out.stdout) * 1000.0)
    return samples


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--count", type=int, default=25)
    parser.add_argument("--body-size", type=int, default=16000, help="bytes of the reply (audio stand-in)")
    args = parser.parse_args()
    if args.count < 20:
        sys.exit("count must be at least 20")

    server = testserver.TestServer()
    reply = [{"body_size": args.body_size, "headers": ["Content-Type: audio/mp3"], "times": 0}]
    series = {}
    try:
        for quickack in (False, True):
            endpoint = server.endpoint(reply, quickack=quickack)
            url = f"http://127.0.0.1:{endpoint.port}/text2audio"
            # The synthesis job's thread is in COM already when it sends.
            run = subprocess.run([args.wine, args.exe, url, str(args.count), "held"], capture_output=True,
                                 text=True, timeout=600, stdin=subprocess.DEVNULL)
            if run.returncode != 0:
                sys.exit(f"http_bench.exe failed ({run.returncode}): {run.stderr}")
            series[("HttpRequest", quickack)] = [float(line.split()[1]) for line in run.stdout.splitlines()
                                                 if line.startswith("sample_ms ")]
            series[("curl", quickack)] = curl_samples(url, args.count)
            bodies = {bytes(r.body) for r in endpoint.requests}
            if bodies != {FORM.encode("ascii")}:
                sys.exit(f"unexpected request bodies: {bodies}")
    finally:
        server.close()

    print(f"one POST, form {len(FORM)} bytes, reply {args.body_size} bytes, median of {args.count} each")
    for quickack in (False, True):
        print("server with delayed ACKs (as usual):" if not quickack else
              "server ACKing at once (takes the client's Nagle wait out):")
        medians = {}
        for who in ("HttpRequest", "curl"):
            samples = series[(who, quickack)]
            medians[who] = statistics.median(samples)
            print(f"  {who:<12} median {medians[who]:8.2f} ms  (min {min(samples):.2f}, max {max(samples):.2f})")
        print(f"  ratio HttpRequest/curl: {medians['HttpRequest'] / medians['curl']:.1f}")


if __name__ == "__main__":
    main()
