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

product=()
[ "$QX_WIN_ARCH" = i686 ] ||
  product=(-DQX_PRODUCT_EXE="$QX_PRODUCT_BUILD/app/QXtts.exe" -DQX_PRODUCT_WINDRES=i686-w64-mingw32-windres)
configure "$QX_BUILD" "$QX_WIN_ARCH" "${product[@]}"
if [ "$QX_WIN_ARCH" != i686 ]; then
  # The tests run a 64-bit build; the 32-bit product is built beside it, on
  # the same emulator ports, and checked as a file.
  hosts=(-DQX_USE_EMULATOR=ON -DQX_EMU_TOKEN_PORT="$(qx_cache_value QX_EMU_TOKEN_PORT)"
         -DQX_EMU_SYNTH_PORT="$(qx_cache_value QX_EMU_SYNTH_PORT)")
  configure "$QX_PRODUCT_BUILD" i686 -DQX_BUILD_TESTS=OFF
  cmake --build "$QX_PRODUCT_BUILD" -j "$QX_JOBS" --target QXtts
fi
cmake --build "$QX_BUILD" -j "$QX_JOBS"

"$QX_ROOT/scripts/prefix.sh"
