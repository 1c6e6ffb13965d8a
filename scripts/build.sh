#!/usr/bin/env bash
# Configures and builds the Windows program, its tests and tools, wired to
# the local speech service emulator, then makes the build tree's Wine prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/setup.sh"

# The service hosts point at the emulator on this tree's own ports, picked
# free when the tree is first configured and kept in its cache
# (QX_EMU_TOKEN_PORT and QX_EMU_SYNTH_PORT in the environment choose them).
hosts=(-DQX_USE_EMULATOR=ON)
[ -z "${QX_EMU_TOKEN_PORT:-}" ] || hosts+=(-DQX_EMU_TOKEN_PORT="$QX_EMU_TOKEN_PORT")
[ -z "${QX_EMU_SYNTH_PORT:-}" ] || hosts+=(-DQX_EMU_SYNTH_PORT="$QX_EMU_SYNTH_PORT")

# configure DIR ARCH [cmake options]: a tree configured for another
# architecture is made anew (CMake cannot change the toolchain of a tree).
configure() {
  local dir=$1 arch=$2
  shift 2
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "^CMAKE_TOOLCHAIN_FILE:.*mingw-$arch.cmake$" "$dir/CMakeCache.txt"; then
    echo "build: $dir was configured for another architecture; configuring it anew" >&2
    rm -rf "$dir"
  fi
  cmake -S "$QX_ROOT" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release "${hosts[@]}" "$@" >/dev/null
}

# In a 64-bit test tree the 32-bit product is the release build that the
# test command makes and checks (release.Build, release.Executable).
configure "$QX_BUILD" "$QX_WIN_ARCH"
# Wine makes the prefix (mostly waiting) while the compiler runs.
"$QX_ROOT/scripts/prefix.sh" --boot </dev/null >"$QX_BUILD/prefix-boot.log" 2>&1 &
boot=$!
built=0
cmake --build "$QX_BUILD" -j "$QX_JOBS" || built=$?
booted=0
wait "$boot" || booted=$?
((built == 0)) || exit "$built"
if ((booted != 0)); then
  cat "$QX_BUILD/prefix-boot.log" >&2
  exit "$booted"
fi

"$QX_ROOT/scripts/prefix.sh"
