#!/usr/bin/env bash
# The platform-free code built natively with AddressSanitizer and
# UndefinedBehaviorSanitizer: its unit tests, then a bounded fuzz run.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

QX_FUZZ_SECONDS=${QX_FUZZ_SECONDS:-30}

cmake -S "$QX_ROOT" -B "$QX_HOST_BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$QX_HOST_BUILD" -j "$QX_JOBS"
ctest --test-dir "$QX_HOST_BUILD" --output-on-failure </dev/null

# The fuzzer adds what it finds to a working corpus in the build tree, seeded
# from the committed one; the repository's corpus changes only by hand.
# A crash or any sanitizer report ends the run with a non-zero status and
# leaves the input in fuzz-artifacts/.
fuzzer="$QX_HOST_BUILD/tests/fuzz/header_cookie_fuzz"
work="$QX_HOST_BUILD/fuzz-corpus"
artifacts="$QX_HOST_BUILD/fuzz-artifacts"
log="$QX_HOST_BUILD/fuzz.log"
mkdir -p "$work" "$artifacts"
echo "fuzz: header_cookie_fuzz for ${QX_FUZZ_SECONDS} s" >&2
status=0
"$fuzzer" -max_total_time="$QX_FUZZ_SECONDS" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -dict="$QX_ROOT/tests/fuzz/header_cookie.dict" \
  -artifact_prefix="$artifacts/" "$work" "$QX_ROOT/tests/fuzz/corpus" </dev/null >"$log" 2>&1 || status=$?
if ((status != 0)) || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|property violated' "$log"; then
  tail -n 60 "$log" >&2
  echo "fuzz: FAILED (status $status); inputs in $artifacts" >&2
  exit 1
fi
grep -E '^Done [0-9]+ runs|stat::number_of_executed_units|stat::average_exec_per_sec' "$log" >&2 || true
echo "fuzz: clean" >&2
