#!/usr/bin/env bash
# Makes the build tree's private Wine prefix: a virtual desktop (dialogs get
# their frames and a second process finds the window there) and trust in the
# test CA of the loopback servers.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
qx_wine_env

# The prefix itself needs nothing from the build: with --boot only it is made
# (scripts/build.sh does that while the compiler runs).
booted="$WINEPREFIX/.qx-booted"
boot() {
  [ -f "$booted" ] && return 0
  echo "prefix: making $WINEPREFIX" >&2
  qx_wine wineboot -i </dev/null >/dev/null 2>&1
  qx_wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  qx_wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x800 /f </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$booted"
}
if [ "${1:-}" = --boot ]; then
  boot
  exit 0
fi

"$QX_ROOT/scripts/make-test-ca.sh" "$QX_BUILD/testca"

stamp="$WINEPREFIX/.qx-ready"
if [ ! -f "$stamp" ] || [ "$QX_BUILD/testca/ca.der" -nt "$stamp" ]; then
  boot
  qx_wine "$QX_BUILD/tools/trustca/trustca.exe" "$(qx_winepath -w "$QX_BUILD/testca/ca.der")" </dev/null
  wineserver -w
  touch "$stamp"
fi

# The program asks for the user's proxy settings before every request. With
# no Internet settings stored, Wine answers "detect automatically", and the
# program would look for a configuration script on the network (DHCP, DNS
# queries for "wpad"): at the first request, and again whenever its kept
# answer is five minutes old, so tests would pay for it now and then. The prefix says "direct connection" in the
# value that WinHTTP reads (Wine 8 reads this value only, none of ProxyEnable,
# ProxyServer, ProxyOverride, AutoConfigURL): version, counter, flags 1
# (direct), three empty strings (proxy, bypass list, script URL), then zeros.
direct="$WINEPREFIX/.qx-direct"
if [ ! -f "$direct" ]; then
  qx_wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /f \
    /d 4600000001000000010000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000 \
    </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$direct"
fi

# Wine draws the title-bar buttons with glyphs of the Marlett font (without
# it they show as "0 1 r"). Wine's own fonts (fonts-wine) are not found from
# its data directory by every loader, so the font goes into the prefix.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi
