#!/bin/bash
# Writes docs/cli-demo.txt: a terminal transcript of bravik at work on the
# simulated i2c-dev adapter (real time): the adapters, the identity, a
# backup and reflash, verify, the refusals, a restore and the DSP dump.
#   scripts/cli-demo.sh [OUTPUT]   (default docs/cli-demo.txt)
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"
out=${1:-$ROOT/docs/cli-demo.txt}

ensure_packages
native="$BUILD/native"
configure_target native
cmake --build "$native" --target bravik i2csim >"$BUILD/cli-demo-build.log" ||
  { tail -30 "$BUILD/cli-demo-build.log"; exit 1; }

demo="$BUILD/cli-demo"
rm -rf "$demo"
mkdir -p "$demo/sim/i2c-0" "$demo/sim/i2c-3" "$demo/work"
echo "SMBus controller" >"$demo/sim/i2c-0/name"
echo smbus-only >"$demo/sim/i2c-0/fault.txt"
echo "tuner card" >"$demo/sim/i2c-3/name"
echo reflash >"$demo/sim/i2c-3/card.txt"

bravik() {
  LD_PRELOAD="$native/testing/i2csim/libi2csim.so" I2CSIM_DIR="$demo/sim" "$native/cli/bravik" "$@"
}

# Each command as typed, then what it printed (stdout and stderr as they
# came) and, when it is not 0, its exit status.
step() {
  echo "\$ bravik $*"
  local rc=0
  (cd "$demo/work" && bravik "$@" 2>&1) || rc=$?
  [ "$rc" = 0 ] || echo "[exit $rc]"
  echo
}

{
  step list
  step --bus 3 identify
  step --bus 3 reflash --backup before.bin
  step --bus 3 identify
  step --bus 3 verify before.bin
  step --bus 3 reflash
  step --bus 0 identify
  step --bus 3 restore before.bin --backup after.bin
  step --bus 3 verify before.bin
  step --bus 3 save-dsp dsp.bin
  step --bus 3 restore dsp.bin
} >"$out"
echo "wrote $out"
