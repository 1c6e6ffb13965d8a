#!/usr/bin/env python3
"""The release exe's smoke test, the part that runs inside the emulated
32-bit machine (scripts/vm32.sh; smoke32.sh starts it there). Root here is
the host's, with a throw-away overlay: /etc/hosts may be changed.

Makes (or restores) a 32-bit Wine prefix, starts a virtual display, the
speech service emulator on the ports the exe was built for with its host
names resolved to loopback, runs the exe and drives its window with the
i686 UI driver: every control is there, Save writes the INI, Start runs a
whole synthesis whose MP3 decodes, the force-token box asks for a new token,
and a wrong key gives the token failure message.

  smoke32_guest.py --key         print what a saved prefix must match
  smoke32_guest.py --work DIR [--prefix-only] [--exe-dir DIR --uidriver EXE --trustca EXE
                   --ca CA.der --cert PEM --token-host H --token-port N
                   --synth-host H --synth-port N --doc-host H]

Exit 0 when every step passed; otherwise each failed step says why.
"""
import argparse
import filecmp
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "uidriver"))
from client import DriverError, DriverSession, wait_for  # noqa: E402  (after the path)

EMULATOR = ROOT / "tools" / "speech_emulator" / "emulator.py"
# Changing what goes into the saved prefix changes this, so a saved one is
# made anew.
PREFIX_RECIPE = "2"
WINE_DLLS = pathlib.Path("/usr/lib/i386-linux-gnu/wine/i386-windows")
PREFIX = pathlib.Path("/tmp/qxprefix")
DISPLAY = ":7"
API_KEY, SECRET_KEY = "qx-dev-api-key", "qx-dev-secret-key"
CONTROLS = range(1001, 1019)
CONTENT, SECRET, API, SAVE, START, FORCE, SPEAKER = 1002, 1006, 1007, 1008, 1010, 1012, 1016
T0 = time.monotonic()
WINE_OUT = pathlib.Path("/tmp/wine.out")  # in the work directory once it is known


class Failed(Exception):
    pass


def log(text):
    print(f"[{time.monotonic() - T0:6.1f}s] {text}", flush=True)


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=str(PREFIX), WINEARCH="win32", WINEDEBUG="-all", DISPLAY=DISPLAY,
               LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d")
    return env


def wine(*args, timeout=300):
    """Runs a Wine program to its end; output to a file, never a pipe that a
    persistent wineserver's services would hold open."""
    with open(WINE_OUT, "ab") as out:
        return subprocess.run(["wine", *args], env=wine_env(), stdin=subprocess.DEVNULL, stdout=out,
                              stderr=out, timeout=timeout).returncode


def prefix_key():
    # The package's version, not `wine --version`: the key is also computed on
    # the host, where 32-bit Wine may not run at all (the version was then
    # empty there, so a saved prefix never matched and each run made one anew).
    version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "wine"], capture_output=True,
                             text=True).stdout.strip()
    return f"wine {version} recipe {PREFIX_RECIPE}"


def ensure_prefix(work):
    """Restores the saved prefix, or makes one (the slow part) and saves it."""
    tar, key_file = work / "prefix.tar", work / "prefix.key"
    key = prefix_key()
    if tar.exists() and key_file.exists() and key_file.read_text() == key:
        subprocess.run(["tar", "-xf", str(tar), "-C", str(PREFIX.parent)], check=True)
        log("prefix restored")
        return
    if wine("wineboot", "-i") != 0:
        raise Failed("wineboot -i failed")
    # A virtual desktop: dialogs get their frames and the driver finds the window.
    wine("reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "Default", "/f")
    wine("reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default", "/d", "1280x800", "/f")
    subprocess.run(["wineserver", "-w"], env=wine_env(), check=True)
    marlett = pathlib.Path("/usr/share/wine/fonts/marlett.ttf")
    if marlett.exists():
        shutil.copy(marlett, PREFIX / "drive_c" / "windows" / "Fonts" / "marlett.ttf")
    link_wine_dlls()
    subprocess.run(["tar", "-cf", str(work / "prefix.tar.tmp"), "-C", str(PREFIX.parent), PREFIX.name], check=True)
    os.replace(work / "prefix.tar.tmp", tar)
    key_file.write_text(key)
    log("prefix made and saved")


def link_wine_dlls():
    """Most of a new prefix (about 600 MB) is copies of Wine's own DLLs; Wine
    loads its own file for each of them anyway. Copies that are byte for byte
    those files become links to them, so the saved prefix is a fraction of
    that and restores in a few seconds. (Wine's own DLLs are the host's, the
    same in every run of the machine.)"""
    saved = 0
    for path in (PREFIX / "drive_c").rglob("*"):
        if path.is_symlink() or not path.is_file():
            continue
        own = WINE_DLLS / path.name.lower()
        if own.is_file() and own.stat().st_size == path.stat().st_size and filecmp.cmp(own, path, shallow=False):
            saved += path.stat().st_size
            path.unlink()
            path.symlink_to(own)
    log(f"{saved >> 20} MB of Wine's own DLLs linked")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def unix_path(path):
    if not re.match(r"^[Zz]:\\", path):
        raise Failed(f"not a path on the Unix root: {path!r}")
    return pathlib.Path(path[2:].replace("\\", "/"))


class Driver:
    """The UI driver's session, its failures as this test's."""

    def __init__(self, uidriver):
        self.session = DriverSession(["wine"], uidriver, wine_env())

    def call(self, *args, timeout=60):
        try:
            status, out, err = self.session.call(args, timeout)
        except DriverError as error:
            raise Failed(str(error)) from None
        out, err = out.decode("utf-8", "replace"), err.decode("utf-8", "replace")
        if status != 0:
            raise Failed(f"uidriver {' '.join(map(str, args))}: exit {status} {out!r} {err!r}")
        return out

    def msgbox(self, wait=180):
        return json.loads(self.call("msgbox", "--wait", wait, timeout=wait + 30))

    def close(self):
        self.session.close()


def wait_until(what, condition, seconds):
    value = wait_for(condition, timeout=seconds, interval=0.2)
    if not value:
        raise Failed(f"{what}: not within {seconds} s")
    return value


def token_requests(log_file):
    if not log_file.exists():
        return 0
    return sum(1 for line in log_file.read_text().splitlines() if line and json.loads(line)["endpoint"] == "token")


def synthesis_schemes(log_file):
    return [entry["scheme"] for entry in map(json.loads, filter(None, log_file.read_text().splitlines()))
            if entry["endpoint"] == "synth"]


def ini_values(ini):
    """The settings file's keys (code page 936, CR LF)."""
    if not ini.exists():
        return {}
    text = ini.read_bytes().decode("gbk")
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def expect(what, actual, expected):
    if actual != expected:
        raise Failed(f"{what}: {actual!r}, expected {expected!r}")
    log(f"ok: {what}")


def smoke(args):
    work = pathlib.Path(args.work)
    run_dir = pathlib.Path(args.exe_dir)
    exe, ini = run_dir / "QXtts.exe", run_dir / "QXtts.ini"
    emulator_log = work / "emulator.log"

    # Both endpoints may be on port 443: then the synthesis host gets a
    # loopback address of its own.
    synth_address = "127.0.0.1"
    if args.synth_port == args.token_port:
        if args.synth_host in (args.token_host, args.doc_host):
            raise Failed("one host with one port for both endpoints: the emulator needs two ports")
        synth_address = "127.0.0.2"
    with open("/etc/hosts", "a") as hosts:
        others = sorted({args.token_host, args.doc_host} - {args.synth_host})
        hosts.write("".join("127.0.0.1 %s\n" % name for name in others) + "%s %s\n" % (synth_address, args.synth_host))

    subprocess.run(["wineserver", "-p"], env=wine_env(), check=True)
    xvfb = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    emulator_out = open(work / "emulator.out", "wb")
    emulator = subprocess.Popen([sys.executable, str(EMULATOR), "--token-port", str(args.token_port),
                                 "--synth-port", str(args.synth_port), "--synth-address", synth_address,
                                 "--cert", args.cert, "--log", str(emulator_log)]
                                + (["--plain-synth"] if args.plain_synth else []),
                                stdin=subprocess.DEVNULL, stdout=emulator_out, stderr=subprocess.STDOUT)
    if wine(args.trustca, windows_path(args.ca)) != 0:
        raise Failed("trustca could not add the test CA to the prefix's ROOT store")
    log("test CA trusted")
    wait_until("the emulator", lambda: b"READY" in (work / "emulator.out").read_bytes(), 120)
    log("emulator ready")

    app_out = open(work / "app.out", "wb")
    app = subprocess.Popen(["wine", "QXtts.exe"], cwd=run_dir, env=wine_env(), stdin=subprocess.DEVNULL,
                           stdout=app_out, stderr=subprocess.STDOUT)
    driver = Driver(args.uidriver)
    try:
        driver.call("--timeout", 180, "wait", timeout=240)
        log("window ready")
        for control in CONTROLS:
            driver.call("enabled", control)
        expect("speaker list entries", len(driver.call("items", SPEAKER).splitlines()), 11)

        driver.call("text", API, API_KEY)
        driver.call("text", SECRET, SECRET_KEY)
        driver.call("click", SAVE)
        values = wait_until("the INI after Save", lambda: ini_values(ini).get("SK") and ini_values(ini), 20)
        expect("Save: the INI's keys", (values.get("AK"), values.get("SK")), (API_KEY, SECRET_KEY))

        driver.call("text", CONTENT, "hex:" + "你好".encode("utf-8").hex())
        driver.call("click", START)
        box = driver.msgbox()
        expect("Start: the message's title", box["title"], "恭喜")
        prefix = "语音合成成功，文件名："
        if not box["text"].startswith(prefix):
            raise Failed(f"Start: message {box!r}")
        mp3 = unix_path(box["text"][len(prefix):])
        expect("the MP3's place", (mp3.parent, bool(re.fullmatch(r"\d{13}\.mp3", mp3.name))), (run_dir, True))
        wav = pathlib.Path("/tmp/decoded.wav")
        decoded = subprocess.run(["mpg123", "-q", "-w", str(wav), str(mp3)], stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True)
        # A WAV header is 44 bytes: anything beyond it is decoded audio.
        expect("the MP3 decodes", (decoded.returncode, wav.exists() and wav.stat().st_size > 44 + 8000), (0, True))
        expect("token requests after the first synthesis", token_requests(emulator_log), 1)
        expect("the synthesis request's scheme", synthesis_schemes(emulator_log),
               ["http" if args.plain_synth else "https"])
        expect("the token cached in the INI", bool(ini_values(ini).get("AT")), True)

        driver.call("check", FORCE, 1)
        driver.call("click", START)
        expect("force token: the message's title", driver.msgbox()["title"], "恭喜")
        expect("token requests after a forced token", token_requests(emulator_log), 2)

        driver.call("text", API, "qx-wrong-api-key")
        driver.call("click", START)
        box = driver.msgbox()
        expect("a wrong key: the message", (box["title"], box["text"]), ("信息", "获取AccessToken失败"))

        driver.call("close")
        driver.call("wait-closed", timeout=60)
        expect("the program's exit code", app.wait(timeout=60), 0)
    finally:
        driver.close()
        if app.poll() is None:
            app.kill()
        emulator.terminate()
        xvfb.terminate()
        subprocess.run(["wineserver", "-k"], env=wine_env())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work")
    parser.add_argument("--prefix-only", action="store_true")
    parser.add_argument("--key", action="store_true", help="print what a saved prefix must match")
    for name in ("exe-dir", "uidriver", "trustca", "ca", "cert", "token-host", "synth-host", "doc-host"):
        parser.add_argument("--" + name)
    parser.add_argument("--token-port", type=int, default=443)
    parser.add_argument("--synth-port", type=int, default=443)
    parser.add_argument("--plain-synth", action="store_true", help="the exe was built with QX_SYNTHESIS_PLAIN_HTTP")
    args = parser.parse_args()
    if args.key:
        print(prefix_key(), end="")
        return 0
    global WINE_OUT
    WINE_OUT = pathlib.Path(args.work) / "wine.out"
    WINE_OUT.unlink(missing_ok=True)
    try:
        ensure_prefix(pathlib.Path(args.work))
        if not args.prefix_only:
            smoke(args)
    except (Failed, subprocess.SubprocessError, OSError, KeyError, ValueError) as error:
        log(f"FAILED: {error}")
        return 1
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
