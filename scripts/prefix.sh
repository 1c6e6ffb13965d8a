#!/usr/bin/env bash
# Makes the build tree's private Wine prefix: a virtual desktop (dialogs get
# their frames and a second process finds the window there) and trust in the
# test CA of the loopback servers.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
qx_wine_env

"$QX_ROOT/scripts/make-test-ca.sh" "$QX_BUILD/testca"

stamp="$WINEPREFIX/.qx-ready"
if [ ! -f "$stamp" ] || [ "$QX_BUILD/testca/ca.der" -nt "$stamp" ]; then
  echo "prefix: making $WINEPREFIX" >&2
  qx_wine wineboot -i </dev/null >/dev/null 2>&1
  qx_wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  qx_wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x800 /f </dev/null >/dev/null 2>&1
  qx_wine "$QX_BUILD/tools/trustca/trustca.exe" "$(qx_winepath -w "$QX_BUILD/testca/ca.der")" </dev/null
  wineserver -w
  touch "$stamp"
fi
