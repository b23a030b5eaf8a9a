#!/bin/bash
# Everything from a fresh Debian machine to the test summary: packages,
# the builds, the native tests of the core, a scratch Wine prefix, Xvfb,
# and ctest under Wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"

ensure_packages
build_target i686
build_target x86_64
build_target native  # the core, linux/ and their tests, with the host compiler

set +e
ctest --test-dir "$BUILD/native" --output-on-failure --timeout 300 "$@" </dev/null
native_rc=$?
set -e

start_wine_session "$BUILD/wine-test"
set +e
ctest --test-dir "$BUILD/x86_64" --output-on-failure --timeout 300 "$@" </dev/null
rc=$?
[ "$rc" = 0 ] && rc=$native_rc
exit "$rc"
