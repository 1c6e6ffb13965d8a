#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests under
# Wine, the platform-free tests natively with the sanitizers, and a bounded fuzz run.
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
status=0
ctest --test-dir "$QX_BUILD" --output-on-failure --timeout 300 </dev/null || status=1
qx_wine_down

"$QX_ROOT/scripts/host-test.sh" || status=1
exit $status
