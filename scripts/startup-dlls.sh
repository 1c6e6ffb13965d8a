#!/usr/bin/env bash
# Lists the DLLs that the built QXtts.exe loads until its window is ready
# (visible, last control present), from Wine's +loaddll trace, in load order.
# Needs a display and the tree's wineserver: source scripts/lib.sh;
# qx_xvfb_up; qx_wine_up. Start it twice: the first run also shows what the
# wineserver loads for its desktop, the process that the trace follows only.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
qx_wine_env
dir=$(mktemp -d "$QX_BUILD/startup-dlls.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cp "$QX_BUILD/app/QXtts.exe" "$dir/"
exe=$(qx_winepath -w "$dir/QXtts.exe")
driver() { qx_wine "$QX_BUILD/tools/uidriver/uidriver.exe" --exe "$exe" "$@" </dev/null >"$dir/driver.out" 2>&1; }
( cd "$dir" && exec env WINEDEBUG=+pid,+loaddll LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$QX_WINE_LOADER" QXtts.exe \
    </dev/null >/dev/null 2>"$dir/trace.txt" ) &
program=$!
driver --timeout 120 wait || { echo "startup-dlls: the window did not appear" >&2; exit 1; }
cp "$dir/trace.txt" "$dir/ready.txt"  # what was loaded by the time the window was ready
driver close || true
wait "$program" || true
# Lines of the program's own process: "pid:tid:trace:loaddll:... Loaded L"path" at ...: builtin".
pid=$(grep -m1 'QXtts.exe" at' "$dir/ready.txt" | cut -d: -f1)
grep "^$pid:" "$dir/ready.txt" | sed -nE 's/.*(Loaded|Unloaded)( module)? L"([^"]*)".*: *([a-z]+)$/\1 \3 (\4)/; T; s/\\\\/\\/g; p'
