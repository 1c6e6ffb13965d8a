#!/usr/bin/env bash
# Builds, then runs every benchmark with full run counts and prints its
# figures (start-up, one HTTP request, the JSON read, one synthesis job). A
# benchmark reports; nothing is judged, and the test command runs none of
# them beyond a brief smoke run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/build.sh"

cleanup() {
  qx_wine_down
  qx_xvfb_down
}
trap cleanup EXIT

qx_xvfb_up
qx_wine_up
qx_gui_warmup
ctest --test-dir "$QX_BUILD" -L '^bench$' -V --timeout 600 </dev/null
