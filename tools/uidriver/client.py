"""The client of uidriver's session mode, shared by the end-to-end harness
(tests/e2e/harness.py) and the release exe's smoke test in the emulated
machine (tests/release/smoke32_guest.py).

One uidriver process takes every command of a program run through a pipe:
starting a Wine process per command costs a few hundred milliseconds. Each
command is one line of tab-separated arguments; each answer is a header line
"STATUS OUT_BYTES ERR_BYTES" followed by that many bytes. Only the answers
are read, never up to the end of the output, so a Wine process that inherits
the pipe cannot hold the caller.
"""
import os
import select
import subprocess
import time


class DriverError(AssertionError):
    pass


class DriverSession:
    """launcher: how to start a Windows program here, e.g. the build tree's
    wine-run.sh, or ["wine"] in the emulated machine."""

    def __init__(self, launcher, uidriver, env):
        self.proc = subprocess.Popen([*launcher, str(uidriver), "session"], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.buffer = b""

    def call(self, args, timeout):
        """(exit code, stdout, stderr) of one command."""
        self.proc.stdin.write("\t".join(map(str, args)).encode("utf-8") + b"\n")
        self.proc.stdin.flush()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            self._fill(deadline, args)
        header, _, self.buffer = self.buffer.partition(b"\n")
        status, out_size, err_size = map(int, header.split())
        while len(self.buffer) < out_size + err_size:
            self._fill(deadline, args)
        out, err = self.buffer[:out_size], self.buffer[out_size:out_size + err_size]
        self.buffer = self.buffer[out_size + err_size:]
        return status, out, err

    def _fill(self, deadline, args):
        fd = self.proc.stdout.fileno()
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise DriverError(f"uidriver {' '.join(map(str, args))}: no answer in time")
        chunk = os.read(fd, 65536)
        if not chunk:
            raise DriverError("uidriver session: ended")
        self.buffer += chunk

    def close(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=20)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait(timeout=10)
        self.proc.stdout.close()


def wait_for(predicate, timeout=10.0, interval=0.1):
    """The predicate's first true value within timeout seconds, else its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)
