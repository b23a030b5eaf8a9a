#!/bin/bash
# Everything from a fresh Debian machine to the test summary: packages,
# the builds, a scratch Wine prefix, Xvfb, and ctest under Wine: the x86_64
# tests under the 64-bit loader, then the i686 tests under the 32-bit one.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"

ensure_packages
build_target i686
build_target i686-tests
build_target x86_64

start_wine_session "$BUILD/wine-test"
set +e
started=$SECONDS
ctest --test-dir "$BUILD/x86_64" --output-on-failure --timeout 300 "$@" </dev/null
rc=$?
echo "== x86_64 tests: $((SECONDS - started)) s"
started=$SECONDS
start_wine32 &&
  ctest --test-dir "$BUILD/i686-tests" --output-on-failure --timeout 300 "$@" </dev/null
rc32=$?
echo "== i686 tests (32-bit loader): $((SECONDS - started)) s"
[ "$rc" = 0 ] && exit "$rc32"
exit "$rc"
