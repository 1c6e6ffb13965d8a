#!/usr/bin/env python3
"""Picks loopback ports for one build tree's speech service emulator.

  free_ports.py BUILD_DIR COUNT     prints COUNT ports, separated by ";"

The ports are free now, lie below the range the system hands out for
outgoing connections (so no client socket takes one later), and are claimed
for BUILD_DIR in a machine-wide list, so that two build trees never get the
same port however often they are configured. A claim ends when its tree is
gone or its CMake cache names other ports. The first candidates
come from a hash of the tree's path: a tree configured again gets its old
ports back when they are still free.
"""
import fcntl
import hashlib
import os
import re
import socket
import sys

CLAIMS = os.path.join(os.environ.get("QX_PORT_CLAIMS_DIR", "/var/tmp"), "qx-emulator-ports")
LOWEST = 20000


def ephemeral_low():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def still_claimed(port, tree):
    """A claim holds while its tree exists and the tree's cache names the
    port, or names no emulator port yet (being configured right now)."""
    if not os.path.isdir(tree):
        return False
    try:
        with open(os.path.join(tree, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            ports = re.findall(r"^QX_EMU_[A-Z]+_PORT:[A-Z]+=(\d+)$", f.read(), re.M)
    except OSError:
        return True
    return not ports or str(port) in ports


def main():
    tree, count = os.path.realpath(sys.argv[1]), int(sys.argv[2])
    high = ephemeral_low()
    span = high - LOWEST
    os.makedirs(os.path.dirname(CLAIMS), exist_ok=True)
    with open(CLAIMS, "a+") as claims:
        fcntl.flock(claims, fcntl.LOCK_EX)
        claims.seek(0)
        others = {}
        for line in claims:
            port, _, owner = line.rstrip("\n").partition(" ")
            if port.isdigit() and owner != tree and still_claimed(int(port), owner):
                others[int(port)] = owner
        start = int.from_bytes(hashlib.sha256(tree.encode()).digest()[:4], "big") % span
        picked = []
        for step in range(span):
            port = LOWEST + (start + step) % span
            if port not in others and free(port):
                picked.append(port)
                if len(picked) == count:
                    break
        if len(picked) < count:
            sys.exit("free_ports: no free port found")
        claims.seek(0)
        claims.truncate()
        for port, owner in sorted(others.items()):
            claims.write("%d %s\n" % (port, owner))
        for port in picked:
            claims.write("%d %s\n" % (port, tree))
    print(";".join(map(str, picked)), end="")


if __name__ == "__main__":
    main()
