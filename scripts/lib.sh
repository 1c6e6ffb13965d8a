# Shared settings and helpers of the build, test and run scripts. Source it.
# shellcheck shell=bash

QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QX_BUILD=${QX_BUILD:-$QX_ROOT/build/win}        # the Windows build tree
QX_HOST_BUILD=${QX_HOST_BUILD:-$QX_ROOT/build/host}
QX_JOBS=${QX_JOBS:-$(nproc)}

# The local emulator of the speech service (tools/speech_emulator): HTTPS for
# the token endpoint, HTTP for synthesis, on loopback. Development and test
# builds are wired to it.
QX_EMU_TOKEN_PORT=${QX_EMU_TOKEN_PORT:-47443}
QX_EMU_SYNTH_PORT=${QX_EMU_SYNTH_PORT:-47080}

# Wine runs in a Chinese locale (ANSI code page 936). Only Wine gets it: the
# host need not have that locale, and other programs would warn about it.
qx_wine() { LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$@"; }

qx_wine_env() {
  export WINEPREFIX="$QX_BUILD/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Starts a persistent wineserver and Wine's services with their output
# detached, so that no test inherits (and holds open) CTest's pipes.
qx_wine_up() {
  qx_wine_env
  wineserver -p </dev/null >/dev/null 2>&1 || true  # already running: fine
  qx_wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The first window in a new prefix or on a new display takes Wine many
# seconds (the virtual desktop starts, fonts are scanned). Opens and closes
# the program once so that no test pays for it. Needs DISPLAY.
qx_gui_warmup() {
  qx_wine_env
  local dir="$QX_BUILD/warmup" pid
  rm -rf "$dir" && mkdir -p "$dir" && cp "$QX_BUILD/app/QXtts.exe" "$dir/"
  ( cd "$dir" && exec env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine QXtts.exe </dev/null >/dev/null 2>&1 ) &
  pid=$!
  qx_wine "$QX_BUILD/tools/uidriver/uidriver.exe" --timeout 240 --exe "$(winepath -w "$dir/QXtts.exe" 2>/dev/null)" wait \
    </dev/null >"$dir/driver.out" 2>&1 || echo "warm-up: the window did not appear" >&2
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$dir"
}

# Stops the wineserver of this build tree's prefix only.
qx_wine_down() {
  ( qx_wine_env; wineserver -k >/dev/null 2>&1 || true )
}

# Starts Xvfb on a free display unless one is given; exports DISPLAY and
# QX_XVFB_PID (empty when an existing display is used).
qx_xvfb_up() {
  QX_XVFB_PID=
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    QX_XVFB_PID=$!
    local i
    for i in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    export DISPLAY=":$n"
    export QX_XVFB_PID
    return 0
  done
  echo "no free X display" >&2
  return 1
}

qx_xvfb_down() {
  if [ -n "${QX_XVFB_PID:-}" ]; then
    kill "$QX_XVFB_PID" 2>/dev/null || true
    wait "$QX_XVFB_PID" 2>/dev/null || true
    QX_XVFB_PID=
  fi
}
