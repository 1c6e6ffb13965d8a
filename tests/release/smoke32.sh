#!/usr/bin/env bash
# Smoke test of the release exe, the very file that goes into the zip: runs
# it under 32-bit Wine inside the emulated machine of scripts/vm32.sh (where
# 32-bit code runs even when this host refuses it) against the speech
# service emulator, with the host names built into the exe resolved to that
# emulator there (tests/release/smoke32_guest.py does the steps).
#
#   tests/release/smoke32.sh RELEASE_BUILD_DIR   test RELEASE_BUILD_DIR/app/QXtts.exe;
#                                                on success write its sha256 into
#                                                RELEASE_BUILD_DIR/app/QXtts.exe.ran
#   tests/release/smoke32.sh --prefix            only make the machine's saved Wine
#                                                prefix (the slow part), if missing
#
# The work directory, QX_SMOKE32_DIR (default QX_BUILD/smoke32), keeps the
# saved prefix between runs, the test CA and the last run's files. One run
# at a time per work directory (a lock).
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"

work=${QX_SMOKE32_DIR:-$QX_BUILD/smoke32}
guest="$QX_ROOT/tests/release/smoke32_guest.py"
# The machine sees the host's root, except its /tmp: the sources, the
# release tree and the work directory are shared by name.
vm=("$QX_ROOT/scripts/vm32.sh" run --timeout "${QX_SMOKE32_TIMEOUT:-600}" --cwd "$work"
  --ro "$QX_ROOT" --rw "$work")

mkdir -p "$work"
exec 8>"$work/lock"

# A prefix once made is also kept for the whole machine, beside the kernel
# (QX_VM_CACHE), under the same key: another tree, a fresh clone among them,
# restores it instead of spending a minute or more of emulated CPU on it.
# It is only ever read back into a tree: the machine works on its own copy.
key=$(python3 "$guest" --key)
cache="${QX_VM_CACHE:-/var/cache/qxtts-vm32}/smoke32-prefix"
current() { [ "$(cat "$1/prefix.key" 2>/dev/null)" = "$key" ] && [ -f "$1/prefix.tar" ]; }
copy_prefix() {
  mkdir -p "$2" && cp "$1/prefix.tar" "$2/prefix.tar.$$" && mv "$2/prefix.tar.$$" "$2/prefix.tar" &&
    printf '%s' "$key" >"$2/prefix.key"
}
prefix_from_cache() { current "$work" || ! current "$cache" || copy_prefix "$cache" "$work" || true; }
prefix_to_cache() { ! current "$work" || current "$cache" || copy_prefix "$work" "$cache" || true; }

if [ "${1:-}" = --prefix ]; then
  flock 8
  prefix_from_cache
  current "$work" || "${vm[@]}" -- python3 "$guest" --work "$work" --prefix-only
  prefix_to_cache
  exit 0
fi
[ $# -eq 1 ] || { sed -n '8,13s/^# \{0,1\}//p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd)
exe="$build/app/QXtts.exe"
stamp="$exe.ran"
rm -f "$stamp"

# The driver and the CA tool, built for the exe's architecture in its tree,
# while a prefix that is still being made holds the lock.
cmake --build "$build" -j "$QX_JOBS" --target uidriver trustca >"$build/smoke32-tools.log" 2>&1 ||
  { cat "$build/smoke32-tools.log" >&2; exit 1; }
flock 8
prefix_from_cache

# host[:port] built into the exe; the scheme's port when none is given.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
host_of() { local v; v=$(cache_value "$1"); echo "${v%%:*}"; }
port_of() { local v; v=$(cache_value "$1"); [[ $v == *:* ]] && echo "${v##*:}" || echo "$2"; }
token_host=$(host_of QX_TOKEN_HOST) synth_host=$(host_of QX_SYNTHESIS_HOST) doc_host=$(host_of QX_DOC_HOST)
synth_default_port=443 plain=()
if [ "$(cache_value QX_SYNTHESIS_PLAIN_HTTP)" = ON ]; then synth_default_port=80 plain=(--plain-synth); fi

# The emulator's certificate is issued by the test CA for those names.
"$QX_ROOT/scripts/make-test-ca.sh" "$work/testca" --names "$work/testca/hosts.pem" \
  "$token_host" "$synth_host" "$doc_host"

run="$work/run"
rm -rf "$run" "$work/emulator.log"
mkdir -p "$run"
cp "$exe" "$run/QXtts.exe"
sum=$(sha256sum <"$exe" | cut -d' ' -f1)

status=0
"${vm[@]}" --ro "$build" -- python3 "$guest" --work "$work" --exe-dir "$run" \
  --uidriver "$build/tools/uidriver/uidriver.exe" --trustca "$build/tools/trustca/trustca.exe" \
  --ca "$work/testca/ca.der" --cert "$work/testca/hosts.pem" \
  --token-host "$token_host" --token-port "$(port_of QX_TOKEN_HOST 443)" \
  --synth-host "$synth_host" --synth-port "$(port_of QX_SYNTHESIS_HOST "$synth_default_port")" "${plain[@]}" \
  --doc-host "$doc_host" || status=$?
prefix_to_cache
if ((status != 0)); then
  echo "smoke32: FAILED (exit $status); the program's output: $work/app.out, the emulator's: $work/emulator.out" >&2
  exit 1
fi
# What ran is what is stamped: the copy in the machine and the exe now.
if [ "$(sha256sum <"$run/QXtts.exe" | cut -d' ' -f1)" != "$sum" ] || [ "$(sha256sum <"$exe" | cut -d' ' -f1)" != "$sum" ]; then
  echo "smoke32: the exe changed while it was tested" >&2
  exit 1
fi
echo "$sum" >"$stamp"
echo "smoke32: passed; $stamp"
