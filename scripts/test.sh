#!/bin/bash
# Everything from a fresh Debian machine to the test summary: packages,
# the builds, the native tests (the core, the Linux bus, the command-line
# tool), two scratch Wine prefixes with Xvfb, and ctest under Wine: the
# x86_64 tests under the 64-bit loader, then the i686 tests under the
# 32-bit one.
#   scripts/test.sh [ctest arguments, e.g. -R e2e_tests]
set -euo pipefail
case "${1:-}" in
  -h | --help)
    echo "usage: scripts/test.sh [ctest arguments, e.g. -R e2e_tests or --repeat until-fail:3]"
    echo "Installs what is missing, builds build/{i686,x86_64,native,i686-tests}, runs every test"
    echo "natively and under Wine (64-bit and 32-bit loaders)."
    exit 0
    ;;
esac
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"
# Before the build: a second run at once is told now, and does not build
# in the same tree meanwhile.
lock_prefix "$BUILD/wine-test"

ensure_packages
for target in i686 x86_64 native i686-tests; do
  build_target "$target" ||
    { echo "test.sh: building build/$target failed (its output is above)" >&2; exit 1; }
done

# One lane of Wine tests: the x86_64 build's, then the i686 build's, with
# the time each took. $1: -L or -LE, for the label own-session.
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
  [ "$rc" = 0 ] || echo "test.sh: ctest failed ($label own-session); each test's log:" \
    "$BUILD/x86_64/Testing/Temporary/LastTest.log, $BUILD/i686-tests/Testing/Temporary/LastTest.log" >&2
  return "$rc"
}

started=$SECONDS
# The tests labelled own-session (the end-to-end ReFlash runs and the
# command-line tool's Windows build, real time for the most part) run
# beside the others in a Wine session of their own
# (prefix, Xvfb, wineserver; stopped when the subshell ends), so the card
# they register never shows in the capture category of the tests that want
# it empty. Each session runs its tests one at a time. That session starts
# first, while the native tests run.
own_log="$BUILD/own-session-tests.log"
(start_wine_session "$BUILD/wine-e2e" && wine_lane -L "$@") >"$own_log" 2>&1 &
own=$!

set +e
ctest --test-dir "$BUILD/native" --output-on-failure --timeout 300 "$@" </dev/null
native_rc=$?
[ "$native_rc" = 0 ] || echo "test.sh: the native tests failed; log: $BUILD/native/Testing/Temporary/LastTest.log" >&2
set -e

start_wine_session "$BUILD/wine-test"
set +e
wine_lane -LE "$@"
rc=$?
wait "$own"
own_rc=$?
set -e
cat "$own_log"
echo "== test phase (native, x86_64 and i686 tests, both Wine sessions): $((SECONDS - started)) s"
for r in "$own_rc" "$native_rc"; do [ "$rc" = 0 ] && rc=$r; done
exit "$rc"
