#!/usr/bin/env bash
# The platform-free code built natively with AddressSanitizer and
# UndefinedBehaviorSanitizer: its unit tests, then a bounded fuzz run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

cmake -S "$QX_ROOT" -B "$QX_HOST_BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$QX_HOST_BUILD" -j "$QX_JOBS"
ctest --test-dir "$QX_HOST_BUILD" --output-on-failure </dev/null
