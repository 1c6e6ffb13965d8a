#!/usr/bin/env bash
# The main job: builds the program wired to the local speech service emulator
# and runs it. With a display the window opens there; without one it runs
# under a virtual display and leaves a screenshot.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/build.sh"

cleanup() {
  qx_wine_down
  qx_xvfb_down
}
trap cleanup EXIT

exe="$QX_BUILD/app/QXtts.exe"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  qx_wine_up
  wine "$exe"
else
  qx_xvfb_up
  qx_wine_up
  wine "$exe" </dev/null >/dev/null 2>&1 &
  pid=$!
  sleep 5
  shot="$QX_BUILD/screenshot-run.png"
  import -window root "$shot"
  echo "screenshot: $shot"
  kill "$pid" 2>/dev/null || true
fi
