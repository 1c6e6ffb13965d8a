#!/usr/bin/env python3
"""Starts the speech service emulator in the background and stops it again.

  emuctl.py start --state FILE [emulator options...]   returns once it is listening
  emuctl.py stop  --state FILE

The emulator runs detached from the caller's terminal and pipes (a test
runner waiting on inherited pipes would otherwise hang), with its output in
FILE.out. Unless a lifetime is given it ends by itself after an hour, so an
interrupted test run leaves nothing behind.
"""

import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def read_state(path):
    values = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            values[key] = value
    return values


def alive(pid):
    try:
        os.kill(pid, 0)
    except OSError:
        return False
    # An ended emulator whose parent (an init that reaps nothing, in some
    # containers) never collects it stays a zombie: it has ended all the same.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return True


def stop(state_path, quiet=False):
    try:
        pid = int(read_state(state_path)["pid"])
    except (OSError, KeyError, ValueError):
        if not quiet:
            print("emuctl: no running emulator recorded in %s" % state_path)
        return 0
    if alive(pid):
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if not alive(pid):
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
    try:
        os.remove(state_path)
    except OSError:
        pass
    return 0


def start(state_path, emulator_args):
    stop(state_path, quiet=True)
    if "--max-lifetime" not in emulator_args:
        emulator_args = emulator_args + ["--max-lifetime", "3600"]
    os.makedirs(os.path.dirname(os.path.abspath(state_path)), exist_ok=True)
    out = open(state_path + ".out", "w")
    proc = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "emulator.py"), "--state-file", state_path] + emulator_args,
        stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
    deadline = time.time() + 20
    while time.time() < deadline:
        if os.path.exists(state_path):
            state = read_state(state_path)
            print("emuctl: emulator %s on token port %s, synthesis port %s"
                  % (state.get("pid"), state.get("token_port"), state.get("synth_port")))
            return 0
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    if proc.poll() is None:
        proc.kill()
    with open(state_path + ".out") as f:
        sys.stderr.write(f.read())
    print("emuctl: the emulator did not start", file=sys.stderr)
    return 1


def main(argv):
    if len(argv) < 3 or argv[0] not in ("start", "stop") or argv[1] != "--state":
        print(__doc__, file=sys.stderr)
        return 2
    if argv[0] == "start":
        return start(argv[2], argv[3:])
    return stop(argv[2])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
