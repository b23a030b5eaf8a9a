#!/bin/bash
# Everything from a fresh Debian machine to the test summary: packages,
# both builds, a scratch Wine prefix, Xvfb, and ctest under Wine.
#   scripts/test.sh [ctest arguments, e.g. -R e2e_tests]
set -euo pipefail
case "${1:-}" in
  -h | --help)
    echo "usage: scripts/test.sh [ctest arguments, e.g. -R e2e_tests or --repeat until-fail:3]"
    echo "Installs what is missing, builds build/i686 and build/x86_64, runs every test under Wine."
    exit 0
    ;;
esac
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"
# Before the build: a second run at once is told now, and does not build
# in the same tree meanwhile.
lock_prefix "$BUILD/wine-test"

ensure_packages
build_target i686 || { echo "test.sh: building build/i686 failed (its output is above)" >&2; exit 1; }
build_target x86_64 || { echo "test.sh: building build/x86_64 failed (its output is above)" >&2; exit 1; }

start_wine_session "$BUILD/wine-test"
set +e
ctest --test-dir "$BUILD/x86_64" --output-on-failure --timeout 300 "$@" </dev/null
rc=$?
[ "$rc" = 0 ] || echo "test.sh: ctest failed (exit $rc); each test's log: $BUILD/x86_64/Testing/Temporary/LastTest.log" >&2
exit "$rc"
