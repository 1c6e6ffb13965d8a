"""End-to-end harness: runs the real QXtts.exe under Wine on the test display
and drives it from a second process through uidriver.exe.

Every App gets a fresh directory with its own copy of the executable, so the
settings file (QXtts.ini beside the executable) belongs to that test alone.
The harness ends the process it started, by its PID, whatever happens.

Environment: DISPLAY (an X display, e.g. scripts/test.sh's Xvfb), QX_BUILD
(the Windows build tree; default build/win of this checkout). The service
hosts come from that tree's CMake cache.
"""
import contextlib
import json
import os
import shutil
import subprocess
import sys
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "uidriver"))
from client import DriverError, DriverSession, wait_for  # noqa: E402,F401  (wait_for: for the tests)

BUILD = Path(os.environ.get("QX_BUILD", ROOT / "build" / "win")).resolve()
WINE_RUN = BUILD / "wine-run.sh"
APP_EXE = BUILD / "app" / "QXtts.exe"
UIDRIVER = BUILD / "tools" / "uidriver" / "uidriver.exe"
WORK = BUILD / "tests" / "e2e" / "work"
SCREENSHOTS = BUILD / "tests" / "e2e" / "screenshots"

CAPTION = "Vorin语音在线合成"
COUNTER_PREFIX = "长度限制1024，当前："

# Dialog item ids.
CONTENT, SECRET_KEY, API_KEY, SAVE, START = 1002, 1006, 1007, 1008, 1010
LINK, FORCE_TOKEN, SPEED, PITCH, VOLUME, SPEAKER, COUNTER = 1005, 1012, 1009, 1011, 1014, 1016, 1018

SPEAKER_NAMES = ["安雅", "墨川", "清远-基础", "果果", "清远-精品", "兰溪", "景行", "禾苗", "糖糖", "星星", "若晴"]


def build_setting(name):
    """A value of the build tree's CMake cache (the service hosts and the
    emulator ports of this tree live there); the environment may name it."""
    if os.environ.get(name):
        return os.environ[name]
    try:
        for line in (BUILD / "CMakeCache.txt").read_text(errors="replace").splitlines():
            key, _, value = line.partition("=")
            if key.split(":")[0] == name:
                return value
    except OSError:
        pass
    raise RuntimeError("%s is not configured in %s" % (name, BUILD))


# The local speech service emulator that CTest runs for the end-to-end tests,
# on the synthesis port the build was configured with.
EMULATOR_CONTROL = "http://%s/_control" % build_setting("QX_SYNTHESIS_HOST")
DEMO_KEYS = b"[ocr]\r\nAK=qx-dev-api-key\r\nSK=qx-dev-secret-key\r\n"


def emulator(order):
    """Sends an order (faults, log clearing, ...) to the emulator's control endpoint."""
    request = urllib.request.Request(EMULATOR_CONTROL, data=json.dumps(order).encode(), method="POST",
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as reply:
        return json.loads(reply.read())


def emulator_requests(endpoint):
    """The requests the emulator logged for an endpoint ("token", "synth", "doc")."""
    with urllib.request.urlopen("%s/requests?endpoint=%s" % (EMULATOR_CONTROL, endpoint), timeout=10) as reply:
        return json.loads(reply.read())


def windows_path(path):
    """The Windows name of a host path (Wine maps drive Z: to /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def driver_argument(value):
    """Command lines cannot carry non-ASCII text reliably into Wine when the
    host lacks the locale, so anything but plain printable ASCII goes as hex."""
    value = str(value)
    if value and all(0x20 < ord(c) < 0x7F for c in value) and not value.startswith("hex:"):
        return value
    return "hex:" + value.encode("utf-8").hex()


def require_display():
    if not os.environ.get("DISPLAY"):
        raise RuntimeError("no DISPLAY: run through scripts/test.sh, or after `source scripts/lib.sh; "
                           "qx_xvfb_up; qx_wine_up`")


def gbk(text):
    return text.encode("gbk")


def wine_registry(*args):
    """Runs `reg` in the build tree's prefix."""
    subprocess.run([str(WINE_RUN), "reg", *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60, check=True)


def fresh_directory(path):
    """The directory, made anew and empty."""
    path = Path(path)
    if path.exists():
        # A test that ended halfway may have left it unwritable.
        subprocess.run(["chattr", "-R", "-i", str(path)], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(path)
    path.mkdir(parents=True)
    return path


@contextlib.contextmanager
def unwritable(directory):
    """The directory immutable while the block runs: the tests run as root,
    whom no mode bits stop, but the immutable attribute stops even root from
    adding a file."""
    subprocess.run(["chattr", "+i", str(directory)], check=True, stdin=subprocess.DEVNULL)
    try:
        yield
    finally:
        subprocess.run(["chattr", "-i", str(directory)], check=True, stdin=subprocess.DEVNULL)


def screenshot(name):
    """The whole test display as SCREENSHOTS/<name>.png; returns the path."""
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    path = SCREENSHOTS / f"{name}.png"
    subprocess.run(["import", "-window", "root", str(path)], check=True, timeout=60,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


class App:
    """One run of the program in a directory of its own.

    with App("name", settings=b"...") as app:   # starts it, waits until ready
        app.set_text(CONTENT, "你好")
    """

    def __init__(self, name, settings=None, lang=None, directory=None, fresh=None, cwd=None, exe=APP_EXE):
        """directory: one that holds the program already (a second run);
        otherwise `fresh` (default WORK/name) is made anew with a copy of it
        (of `exe`, another build of it, when given).
        cwd: the working directory to start it in (default its own)."""
        self.name = name
        self.lang = lang
        if directory is None:
            directory = fresh_directory(fresh if fresh is not None else WORK / name)
            shutil.copy2(exe, directory / "QXtts.exe")
        self.dir = Path(directory)
        self.cwd = Path(cwd) if cwd is not None else self.dir
        self.exe = self.dir / "QXtts.exe"
        self.ini = self.dir / "QXtts.ini"
        if settings is not None:
            self.ini.write_bytes(settings)
        self.proc = None
        self.session = None

    # -- life cycle -----------------------------------------------------------

    def env(self):
        env = dict(os.environ)
        if self.lang:
            env["QX_WINE_LANG"] = self.lang
        return env

    def start(self):
        require_display()
        self.proc = subprocess.Popen([str(WINE_RUN), str(self.exe)], cwd=self.cwd, env=self.env(),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.driver("wait")
        return self

    def stop(self):
        """Ends the process this App started (by PID) if it still runs, and
        the driver's session."""
        if self.session is not None:
            self.session.close()
            self.session = None
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                pass

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()
        return False

    def wait_exit(self, timeout=15):
        """The process's exit code, once it has ended."""
        return self.proc.wait(timeout=timeout)

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    # -- driving -------------------------------------------------------------

    def driver(self, *args, check=True, timeout=60):
        if self.session is None:
            self.session = DriverSession([str(WINE_RUN)], UIDRIVER, self.env())
        status, stdout, stderr = self.session.call(["--exe", windows_path(self.exe), *map(driver_argument, args)],
                                                   timeout)
        if check and status != 0:
            raise DriverError(f"uidriver {' '.join(map(str, args))}: exit {status}: "
                              f"{stderr.decode('utf-8', 'replace').strip()}")
        self.last_status = status
        return stdout.decode("utf-8")

    def text(self, item):
        return self.driver("text", item)

    def set_text(self, item, value):
        self.driver("text", item, value)

    def click(self, item):
        self.driver("click", item)

    def enabled(self, item):
        return self.driver("enabled", item).strip() == "1"

    def checked(self, item):
        return self.driver("check", item).strip() == "1"

    def selection(self, item):
        index, _, text = self.driver("selection", item).rstrip("\n").partition("\t")
        return int(index), text

    def items(self, item):
        return self.driver("items", item).splitlines()

    def focus(self):
        return int(self.driver("focus").strip())

    def key(self, item, name):
        self.driver("key", item, name)

    def msgbox(self, wait=5.0):
        """The open message box as {"title", "text", "owner"} (then closed with
        OK), or None when none opens within `wait` seconds."""
        out = self.driver("msgbox", "--wait", wait, check=False)
        if self.last_status != 0:
            return None
        return json.loads(out)

    def link_url(self, item=LINK):
        return self.driver("link-url", item).strip()

    def link_click(self, item=LINK):
        self.driver("link-click", item)

    def window_exists(self):
        return self.driver("exists").strip() == "1"

    def code_page(self):
        """The ANSI code page that Wine gives a process started like this one."""
        return int(self.driver("acp").strip())

    def close(self):
        self.driver("close")

    def counter(self):
        text = self.text(COUNTER)
        assert text.startswith(COUNTER_PREFIX), text
        return text[len(COUNTER_PREFIX):]

    def ini_bytes(self):
        return self.ini.read_bytes() if self.ini.exists() else b""

    def screenshot(self, name=None):
        return screenshot(name or self.name)

