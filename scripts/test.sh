#!/bin/bash
# Everything from a fresh Debian machine to the test summary: packages,
# the builds, the native tests of the core, two scratch Wine prefixes,
# Xvfb, and ctest under Wine: the x86_64 tests under the 64-bit loader,
# then the i686 tests under the 32-bit one.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"

ensure_packages
build_target i686
build_target x86_64
build_target native  # the core, linux/, the command-line tool and their tests
build_target i686-tests

# The native tests run while the Wine sessions start and run.
native_log="$BUILD/native-tests.log"
ctest --test-dir "$BUILD/native" --output-on-failure --timeout 300 "$@" </dev/null \
  >"$native_log" 2>&1 &
native=$!

# One lane of Wine tests: the x86_64 build's, then the i686 build's, with
# the time each took. $1: the ctest label option.
wine_lane() {
  local rc=0 rc32=0 started=$SECONDS label=$1
  shift
  ctest --test-dir "$BUILD/x86_64" "$label" own-session --output-on-failure --timeout 300 "$@" \
    </dev/null || rc=$?
  echo "== x86_64 tests ($label own-session): $((SECONDS - started)) s"
  started=$SECONDS
  { start_wine32 &&
    ctest --test-dir "$BUILD/i686-tests" "$label" own-session --output-on-failure --timeout 300 \
      "$@" </dev/null; } || rc32=$?
  echo "== i686 tests under the 32-bit loader ($label own-session): $((SECONDS - started)) s"
  [ "$rc" = 0 ] && rc=$rc32
  return "$rc"
}

start_wine_session "$BUILD/wine-test"
# The tests labelled own-session (the end-to-end commands, real-time
# ReFlash runs for the most part, the simulated card's tests, and
# device_tests to balance the two) go beside the others in a Wine session
# of their own (prefix, Xvfb, wineserver; stopped when the subshell ends),
# so the card they register never shows in the capture category of the
# tests that want it empty. Each session runs its tests one at a time.
own_log="$BUILD/own-session-tests.log"
(start_wine_session "$BUILD/wine-e2e"
 wine_lane -L "$@") >"$own_log" 2>&1 &
own=$!
set +e
wine_lane -LE "$@"
rc=$?
wait "$own"
own_rc=$?
wait "$native"
native_rc=$?
set -e
cat "$own_log" "$native_log"
for r in "$own_rc" "$native_rc"; do [ "$rc" = 0 ] && rc=$r; done
exit "$rc"
