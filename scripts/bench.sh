#!/bin/bash
# Times one ReFlash run (the 256-byte image, real pacing, a bus without
# latency) under Wine and prints its length against the 5.12 s floor.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"

dir="$BUILD/x86_64"
configure_target x86_64
cmake --build "$dir" --target pacing_tests >"$BUILD/bench-build.log" ||
  { tail -30 "$BUILD/bench-build.log"; exit 1; }

start_wine_session "$BUILD/wine-test"
# Wine's output goes to a file: its helpers would hold a pipe open.
out="$BUILD/bench.log"
set +e
wine "$dir/tests/eeprom/pacing_tests.exe" --gtest_filter='ReFlashRun.*' >"$out" 2>&1 </dev/null
rc=$?
set -e
grep -E '^(ReFlash run|shortest gap)' "$out" || { cat "$out"; exit 1; }
[ "$rc" = 0 ] || { echo "pacing check failed (see $out)"; exit "$rc"; }
