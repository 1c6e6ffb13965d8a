#!/usr/bin/env bash
# Builds the program for a real speech service and packs the release:
# dist/QXtts-<version>-win32.zip holding QXtts.exe (stripped), 使用说明.txt
# and SHA256SUMS.
#
#   scripts/release.sh [QX_TOKEN_HOST=host[:port]] [QX_SYNTHESIS_HOST=host[:port]] [QX_DOC_HOST=host[:port]]
#                      [QX_SYNTHESIS_PLAIN_HTTP=ON]
#
# The hosts may also come from the environment. A host that is not given
# keeps its placeholder, which resolves nowhere, and the script says so.
# QX_SYNTHESIS_PLAIN_HTTP=ON, only for a synthesis host without HTTPS, sends
# the token and the text in the clear; the script warns when it is used.
#
# The zip depends only on the commit and the hosts: a clean build of one
# commit gives the same bytes in any directory at any time. File times in
# the zip are the commit's time. A tree with uncommitted changes still
# builds, with a warning: its zip belongs to no commit.
#
# No zip is made from an exe that did not run: the exe is first run under
# 32-bit Wine, in the emulated machine of scripts/vm32.sh, by the smoke test
# tests/release/smoke32.sh, which leaves the sha256 of the exe it ran in
# QXtts.exe.ran beside it. The zip is made only when that matches the exe;
# otherwise the smoke test runs here first (a few minutes) and must pass.
#
# QX_RELEASE_BUILD (default build/release) is the build tree, made anew on
# every run unless QX_RELEASE_INCREMENTAL=1; QX_RELEASE_DIST (default dist)
# receives the zip. QX_RELEASE_STOP=exe stops once the exe is built (the test
# command runs the smoke test on its own, then this script again).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

hosts=(QX_TOKEN_HOST QX_SYNTHESIS_HOST QX_DOC_HOST)
for arg in "$@"; do
  case "$arg" in
    QX_TOKEN_HOST=* | QX_SYNTHESIS_HOST=* | QX_DOC_HOST=* | QX_SYNTHESIS_PLAIN_HTTP=*) export "${arg?}" ;;
    *) sed -n '2,12s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done

build=${QX_RELEASE_BUILD:-$QX_ROOT/build/release}
dist=${QX_RELEASE_DIST:-$QX_ROOT/dist}

[ "${QX_RELEASE_SETUP:-1}" = 0 ] || "$QX_ROOT/scripts/setup.sh"

if ! epoch=$(git -C "$QX_ROOT" log -1 --format=%ct 2>/dev/null); then
  echo "release: $QX_ROOT is not a git checkout; the commit's time stamps the zip" >&2
  exit 1
fi
if [ -n "$(git -C "$QX_ROOT" status --porcelain --untracked-files=no)" ]; then
  echo "release: WARNING: uncommitted changes; this zip is not that of commit $(git -C "$QX_ROOT" rev-parse --short HEAD)" >&2
fi

# A host given is set; one not given is removed from the cache, so that the
# placeholder default applies even in a reused tree.
cache_args=()
placeholders=()
for name in "${hosts[@]}"; do
  if [ -n "${!name:-}" ]; then
    cache_args+=("-D$name=${!name}")
  else
    cache_args+=("-U$name")
    placeholders+=("$name")
  fi
done

# HTTPS unless the operator turns it off by name; a reused tree goes back to it.
plain_http=OFF
case "${QX_SYNTHESIS_PLAIN_HTTP:-OFF}" in
  ON | on | 1 | YES | yes | TRUE | true) plain_http=ON ;;
esac
cache_args+=("-DQX_SYNTHESIS_PLAIN_HTTP=$plain_http")
if [ "$plain_http" = ON ]; then
  echo "release: WARNING: QX_SYNTHESIS_PLAIN_HTTP=ON: every Start sends the access token and the user's text" \
    "over plain HTTP, readable and reusable by anyone on the network path (docs/release.md)." >&2
fi

[ "${QX_RELEASE_INCREMENTAL:-0}" = 1 ] || rm -rf "$build"
cmake -S "$QX_ROOT" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DQX_BUILD_TESTS=OFF -DQX_BUILD_TOOLS=ON \
  -DCMAKE_EXE_LINKER_FLAGS=-s \
  "${cache_args[@]}" >/dev/null
cmake --build "$build" -j "$QX_JOBS" --target QXtts
exe="$build/app/QXtts.exe"
[ "${QX_RELEASE_STOP:-}" != exe ] || exit 0

ran() { [ "$(cat "$exe.ran" 2>/dev/null)" = "$(sha256sum <"$exe" | cut -d' ' -f1)" ]; }
if ! ran; then
  echo "release: running the exe in the emulated 32-bit machine (tests/release/smoke32.sh)" >&2
  "$QX_ROOT/tests/release/smoke32.sh" "$build" || true
  if ! ran; then
    echo "release: the exe did not pass its smoke test; no zip made" >&2
    exit 1
  fi
fi

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)

mkdir -p "$dist"
zip="$dist/QXtts-$version-win32.zip"
python3 "$QX_ROOT/scripts/release_zip.py" --epoch "$epoch" --exe "$exe" \
  --guide "$QX_ROOT/resources/user-guide.txt" --out "$zip"

echo "release: $zip"
for name in "${hosts[@]}"; do
  echo "release:   $name=$(cache_value "$name")"
done
for name in "${placeholders[@]}"; do
  case "$name" in
    QX_TOKEN_HOST) what="this build obtains no token" ;;
    QX_SYNTHESIS_HOST) what="this build synthesises nothing" ;;
    QX_DOC_HOST) what="the window's link opens no page" ;;
  esac
  echo "release: WARNING: $name not given: the placeholder resolves nowhere, $what." >&2
done
[ ${#placeholders[@]} -eq 0 ] || echo "release: give the hosts as README.md describes." >&2
sha256sum "$zip" "$build/app/QXtts.exe" | sed "s|$build/app/||; s|$dist/||; s|^|release: sha256 |"
