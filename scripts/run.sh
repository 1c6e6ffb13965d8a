#!/usr/bin/env bash
# The main job: builds the program wired to the local speech service emulator
# and runs it. With a display the window opens there; without one it runs
# under a virtual display and leaves a screenshot, saying where.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/build.sh"

cleanup() {
  qx_wine_down
  qx_xvfb_down
}
trap cleanup EXIT

exe="$QX_BUILD/app/QXtts.exe"
driver() { "$QX_BUILD/wine-run.sh" "$QX_BUILD/tools/uidriver/uidriver.exe" "$@" </dev/null; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  qx_wine_up
  "$QX_BUILD/wine-run.sh" "$exe"
else
  qx_xvfb_up
  qx_wine_up
  "$QX_BUILD/wine-run.sh" "$exe" </dev/null >/dev/null 2>&1 &
  pid=$!
  shot="$QX_BUILD/screenshot-run.png"
  status=0
  if driver --timeout 60 wait >/dev/null; then
    sleep 0.5  # let the first paint finish
    import -window root "$shot"
    echo "screenshot: $shot"
    driver close || true
    driver --timeout 10 wait-closed || true
  else
    echo "run: the window did not appear" >&2
    status=1
  fi
  # End the program we started if it is still there.
  if kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  wait "$pid" 2>/dev/null || true
  exit $status
fi
