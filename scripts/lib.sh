# Shared settings and helpers of the build, test and run scripts. Source it.
# shellcheck shell=bash

QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QX_BUILD=${QX_BUILD:-$QX_ROOT/build/win}        # the Windows build tree
QX_HOST_BUILD=${QX_HOST_BUILD:-$QX_ROOT/build/host}
QX_JOBS=${QX_JOBS:-$(nproc)}

# A value of the build tree's CMake cache; empty when unset. The ports of
# the tree's speech service emulator (tools/speech_emulator: HTTPS for the
# token endpoint, HTTP for synthesis, on loopback) are kept there:
# QX_EMU_TOKEN_PORT and QX_EMU_SYNTH_PORT.
qx_cache_value() {
  sed -n "s/^$1:[A-Z]*=//p" "$QX_BUILD/CMakeCache.txt" 2>/dev/null
}

# The product is a 32-bit Windows program, and the tests run its 32-bit build
# under Wine. Some hosts' kernels cannot execute 32-bit code at all (execve
# of an i386 ELF gives ENOEXEC), so Wine's 32-bit side cannot start there; on
# such a host the tests run a 64-bit build of the same sources under 64-bit
# Wine, and the 32-bit product is still built and checked as a file
# (the release build that the test command checks). QX_WIN_ARCH=i686|x86_64 overrides the choice.
qx_host_runs_i386() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}
if [ -z "${QX_WIN_ARCH:-}" ]; then
  if qx_host_runs_i386; then QX_WIN_ARCH=i686; else QX_WIN_ARCH=x86_64; fi
fi
case "$QX_WIN_ARCH" in
  i686) QX_WINE_LOADER=wine ;;
  x86_64) QX_WINE_LOADER=/usr/lib/wine/wine64 ;;
  *) echo "QX_WIN_ARCH must be i686 or x86_64" >&2; return 1 ;;
esac
export QX_WIN_ARCH QX_WINE_LOADER

# Wine runs in a Chinese locale (ANSI code page 936). Only Wine gets it: the
# host need not have that locale, and other programs would warn about it.
qx_wine() { LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$QX_WINE_LOADER" "$@"; }
qx_winepath() { "$QX_WINE_LOADER" winepath "$@" 2>/dev/null; }

qx_wine_env() {
  export WINEPREFIX="$QX_BUILD/wineprefix"
  export WINEDEBUG=-all
  # No debugger on a crash: a crashed program ends (and its test fails) at
  # once instead of waiting in winedbg until the test's time runs out.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
  [ "$QX_WIN_ARCH" = x86_64 ] && export WINEARCH=win64 WINELOADER="$QX_WINE_LOADER"
  return 0
}

# Starts a persistent wineserver and Wine's services with their output
# detached, so that no test inherits (and holds open) CTest's pipes. A
# server already running for the prefix is used as it is; QX_WINE_STARTED
# (this shell's, never exported) says whether this call started one, and
# qx_wine_down stops only that.
qx_wine_up() {
  qx_wine_env
  QX_WINE_STARTED=
  if wineserver -p </dev/null >/dev/null 2>&1; then QX_WINE_STARTED=1; fi
  qx_wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The first window in a new prefix or on a new display takes Wine many
# seconds (the virtual desktop starts, fonts are scanned). Opens and closes
# the program once so that no test pays for it. Needs DISPLAY.
qx_gui_warmup() {
  qx_wine_env
  local dir="$QX_BUILD/warmup" pid
  rm -rf "$dir" && mkdir -p "$dir" && cp "$QX_BUILD/app/QXtts.exe" "$dir/"
  ( cd "$dir" && exec env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$QX_WINE_LOADER" QXtts.exe </dev/null >/dev/null 2>&1 ) &
  pid=$!
  qx_wine "$QX_BUILD/tools/uidriver/uidriver.exe" --timeout 240 --exe "$(qx_winepath -w "$dir/QXtts.exe")" wait \
    </dev/null >"$dir/driver.out" 2>&1 || echo "warm-up: the window did not appear" >&2
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$dir"
}

# Stops the wineserver of this build tree's prefix if qx_wine_up started it.
qx_wine_down() {
  [ -n "${QX_WINE_STARTED:-}" ] || return 0
  ( qx_wine_env; wineserver -k >/dev/null 2>&1 || true )
  QX_WINE_STARTED=
}

# Starts Xvfb of its own on a free display, even when DISPLAY is set (tests
# never open windows on a person's desktop), and sets DISPLAY and QX_XVFB_PID.
# QX_XVFB_PID is this shell's, never exported: a script run from here cannot
# stop the caller's display.
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
    return 0
  done
  echo "no free X display" >&2
  return 1
}

# Stops the Xvfb that qx_xvfb_up started in this shell.
qx_xvfb_down() {
  if [ -n "${QX_XVFB_PID:-}" ]; then
    kill "$QX_XVFB_PID" 2>/dev/null || true
    wait "$QX_XVFB_PID" 2>/dev/null || true
    QX_XVFB_PID=
  fi
}
