#!/usr/bin/env python3
"""Start-up benchmark: time from process creation until the main window is
ready (visible, last control present), under Wine, for three programs:
QXtts.exe; the same dialog template in a program that only shows it
(bench_template.exe, linked from QXtts's own resource objects); and a
one-control dialog program built the same way (bench_dialog.exe). uidriver
starts each program inside Wine and times it there, so Wine's own launcher
script is not part of the figure. Reports the median of each and two ratios:
QXtts / template only (the program's own work before the user can type) and
template only / one-control dialog (the cost of the template's controls).

Needs an X display and a running wineserver (scripts/test.sh provides both;
by hand: `source scripts/lib.sh; qx_xvfb_up; qx_wine_up`).

--also NAME=EXE adds a program that shows the same template (say, one built
another way) to the turns, with its ratio to the template only; the build's
bench_template_libssp.exe is the template only with GCC's libssp canary,
seeded through CryptoAPI.

Usage: startup_bench.py [--runs N] [--also NAME=EXE ...]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("QX_BUILD", ROOT / "build" / "win")).resolve()
WINE_RUN = BUILD / "wine-run.sh"
UIDRIVER = BUILD / "tools" / "uidriver" / "uidriver.exe"

PROGRAMS = [
    # name, executable, caption, last control
    ("QXtts", BUILD / "app" / "QXtts.exe", "Vorin语音在线合成", 1018),
    ("template only", BUILD / "tests" / "bench" / "bench_template.exe", "Vorin语音在线合成", 1018),
    ("minimal dialog", BUILD / "tests" / "bench" / "bench_dialog.exe", "QXtts bench dialog", 100),
]


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def driver(caption, last, *args):
    caption_arg = "hex:" + caption.encode("utf-8").hex()
    # Files, not pipes: a program that uidriver launched keeps its output open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run([str(WINE_RUN), str(UIDRIVER), "--caption", caption_arg, "--last", str(last), *args],
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=120).returncode
        out.seek(0)
        err.seek(0)
        if status != 0:
            sys.exit(f"uidriver {' '.join(args)} failed: {err.read().decode('utf-8', 'replace')}")
        return out.read().decode("utf-8")


def one_start(exe, caption, last):
    ms, pid = driver(caption, last, "launch", windows_path(exe)).split()
    driver(caption, last, "--pid", pid, "close")
    driver(caption, last, "--pid", pid, "wait-closed")
    return float(ms)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=25)
    parser.add_argument("--also", action="append", default=[], metavar="NAME=EXE")
    args = parser.parse_args()
    also = [tuple(item.split("=", 1)) for item in args.also]
    programs = PROGRAMS + [(name, Path(exe), PROGRAMS[1][2], PROGRAMS[1][3]) for name, exe in also]
    if not os.environ.get("DISPLAY"):
        sys.exit("no DISPLAY: see the usage at the top of this script")

    with tempfile.TemporaryDirectory(dir=BUILD) as tmp:
        # Fresh copies: QXtts starts without a settings file every time.
        copies = []
        for name, exe, caption, last in programs:
            target = Path(tmp) / name.replace(" ", "_") / exe.name
            target.parent.mkdir()
            shutil.copy2(exe, target)
            copies.append((name, target, caption, last))
        for _, exe, caption, last in copies:  # warm-up: file cache, Wine's DLLs
            one_start(exe, caption, last)
        times = {name: [] for name, *_ in copies}
        for _ in range(args.runs):  # interleaved, so drift hits both alike
            for name, exe, caption, last in copies:
                times[name].append(one_start(exe, caption, last))

    medians = {name: statistics.median(values) for name, values in times.items()}
    for name, values in times.items():
        print(f"{name:15s} median {medians[name]:7.1f} ms   runs: {' '.join(f'{v:.1f}' for v in values)}")
    pairs = [("QXtts", "template only"), ("template only", "minimal dialog"), ("QXtts", "minimal dialog")]
    for over, under in pairs + [(name, "template only") for name, _ in also]:
        print(f"ratio {over} / {under}: {medians[over] / medians[under]:.2f} (medians of {args.runs} runs each)")


if __name__ == "__main__":
    main()
