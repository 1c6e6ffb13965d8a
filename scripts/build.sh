#!/usr/bin/env bash
# Configures and builds the Windows program, its tests and tools, wired to
# the local speech service emulator, then makes the build tree's Wine prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/setup.sh"

hosts=(
  -DQX_TOKEN_HOST="localhost:$QX_EMU_TOKEN_PORT"
  -DQX_SYNTHESIS_HOST="localhost:$QX_EMU_SYNTH_PORT"
  -DQX_DOC_HOST="localhost:$QX_EMU_TOKEN_PORT"
)

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
if [ "$QX_WIN_ARCH" != i686 ]; then
  # The tests run a 64-bit build; the 32-bit product is built beside it and
  # checked as a file.
  configure "$QX_PRODUCT_BUILD" i686 -DQX_BUILD_TESTS=OFF
  cmake --build "$QX_PRODUCT_BUILD" -j "$QX_JOBS" --target QXtts
  product=(-DQX_PRODUCT_EXE="$QX_PRODUCT_BUILD/app/QXtts.exe" -DQX_PRODUCT_WINDRES=i686-w64-mingw32-windres)
fi
configure "$QX_BUILD" "$QX_WIN_ARCH" "${product[@]}"
cmake --build "$QX_BUILD" -j "$QX_JOBS"

"$QX_ROOT/scripts/prefix.sh"
