#!/bin/bash
# Times the utility's paced commands in real time under Wine, on the
# simulated card: ReFlash of the built REVADAD86IRaziz.exe against its
# 5.12 s floor, the DSP EEPROM dump (the product's dialog in a test build)
# against 10.24 s, and the start-up to the dialog; median of several rounds.
#   scripts/bench.sh [rounds]   (default 5)
# Prints a line per round and the medians; exits non-zero if a round failed.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"

ensure_packages
dir="$BUILD/x86_64"
configure_target x86_64
cmake --build "$dir" --target boardflash_bench REVADAD86IRaziz simcard >"$BUILD/bench-build.log" ||
  { tail -30 "$BUILD/bench-build.log"; exit 1; }

start_wine_session "$BUILD/wine-test"
# Wine's output goes to a file: its helpers would hold a pipe open.
out="$BUILD/bench.log"
set +e
"$WINE64" "$dir/tests/e2e/boardflash_bench.exe" "$@" >"$out" 2>&1 </dev/null
rc=$?
set -e
grep -E '^(round |[0-9]+ of [0-9]+ rounds|start-up to dialog:|ReFlash:|DSP dump:)' "$out" ||
  { cat "$out"; exit 1; }
[ "$rc" = 0 ] || { echo "bench failed (exit $rc, see $out)"; exit "$rc"; }
