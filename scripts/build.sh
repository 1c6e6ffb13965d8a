#!/usr/bin/env bash
# Configures and builds the Windows program, its tests and tools, wired to
# the local speech service emulator, then makes the build tree's Wine prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/setup.sh"

cmake -S "$QX_ROOT" -B "$QX_BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DQX_TOKEN_HOST="localhost:$QX_EMU_TOKEN_PORT" \
  -DQX_SYNTHESIS_HOST="localhost:$QX_EMU_SYNTH_PORT" \
  -DQX_DOC_HOST="localhost:$QX_EMU_TOKEN_PORT" >/dev/null
cmake --build "$QX_BUILD" -j "$QX_JOBS"

"$QX_ROOT/scripts/prefix.sh"
