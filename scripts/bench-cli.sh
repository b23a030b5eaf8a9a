#!/bin/bash
# Times the Linux build's reflash in real time on the simulated i2c-dev
# adapter: from the first write to the last, as the adapter's transfer log
# stamps them, against its bound of 1.005 x 255 x 20 ms = 5125.5 ms (255
# pauses of 20 ms between 256 writes, and nothing else in the way).
#   scripts/bench-cli.sh [rounds]   (default 5)
# Prints a line per round and the median; exits 1 if the median is over the
# bound. Not a test: it measures the machine as much as the program.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"
rounds=${1:-5}

ensure_packages
native="$BUILD/native"
configure_target native
cmake --build "$native" --target bravik i2csim >"$BUILD/bench-cli-build.log" ||
  { tail -30 "$BUILD/bench-cli-build.log"; exit 1; }

bound=5125.5
spans=()
for round in $(seq "$rounds"); do
  dir="$BUILD/bench-cli/round$round"
  rm -rf "$dir"
  mkdir -p "$dir/sim/i2c-3"
  echo "tuner card" >"$dir/sim/i2c-3/name"
  echo reflash >"$dir/sim/i2c-3/card.txt"
  LD_PRELOAD="$native/testing/i2csim/libi2csim.so" I2CSIM_DIR="$dir/sim" \
    "$native/cli/bravik" --bus 3 --quiet reflash --backup "$dir/backup.bin" >"$dir/out.txt" 2>&1 ||
    { cat "$dir/out.txt"; echo "round $round: reflash failed"; exit 1; }
  # Microsecond stamps of the write lines: "<us> <n> W 50 sub=[..] ...".
  line=$(awk '$3 == "W" && $4 == "50" { if (!first) first = $1; if (last) { gap = $1 - last;
      if (!min || gap < min) min = gap }; last = $1; n++ }
    END { printf "%d %.1f %.3f %.3f", n, (last - first) / 1000, min / 1000,
          (last - first) / 1000 / (n - 1) }' "$dir/sim/i2c-3/transfers.log")
  read -r writes span min mean <<<"$line"
  [ "$writes" = 256 ] || { echo "round $round: $writes writes in the log"; exit 1; }
  printf 'round %d: first to last write %.1f ms = %.4f x 255 x 20 ms (gaps: min %s, mean %s ms)\n' \
    "$round" "$span" "$(awk -v s="$span" 'BEGIN { print s / 5100 }')" "$min" "$mean"
  spans+=("$span")
done
median=$(printf '%s\n' "${spans[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
ratio=$(awk -v s="$median" 'BEGIN { print s / 5100 }')
printf 'reflash, first to last write: median %.1f ms = %.4f x 255 x 20 ms (bound %s ms = 1.005 x)\n' \
  "$median" "$ratio" "$bound"
if awk -v s="$median" -v b="$bound" 'BEGIN { exit !(s > b) }'; then
  echo "over the bound"
  exit 1
fi
