#!/bin/bash
# Everything from a fresh Debian machine to the test summary: packages,
# the builds, the native tests of the core, two scratch Wine prefixes,
# Xvfb, and ctest under Wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD"

ensure_packages
build_target i686
build_target x86_64
build_target native  # the core, linux/ and their tests, with the host compiler

started=$(date +%s.%N)
# The tests labelled own-session (the end-to-end ReFlash runs, real time
# for the most part) run beside the others in a Wine session of their own
# (prefix, Xvfb, wineserver; stopped when the subshell ends), so the card
# they register never shows in the capture category of the tests that want
# it empty. Each session runs its tests one at a time. That session starts
# first, while the native tests run.
own_log="$BUILD/own-session-tests.log"
ready="$BUILD/own-session.ready"
rm -f "$ready"
(start_wine_session "$BUILD/wine-e2e"
 touch "$ready"
 ctest --test-dir "$BUILD/x86_64" -L own-session --output-on-failure --timeout 300 "$@" \
   </dev/null) >"$own_log" 2>&1 &
own=$!

set +e
ctest --test-dir "$BUILD/native" --output-on-failure --timeout 300 "$@" </dev/null
native_rc=$?
set -e

# The first session picks its display once the second has one.
while [ ! -e "$ready" ] && kill -0 "$own" 2>/dev/null; do sleep 0.1; done
start_wine_session "$BUILD/wine-test"
set +e
ctest --test-dir "$BUILD/x86_64" -LE own-session --output-on-failure --timeout 300 "$@" </dev/null
rc=$?
wait "$own"
own_rc=$?
set -e
cat "$own_log"
awk -v a="$started" -v b="$(date +%s.%N)" \
  'BEGIN { printf "== test phase (native and x86_64 tests, both Wine sessions): %.1f s\n", b - a }'
for r in "$own_rc" "$native_rc"; do [ "$rc" = 0 ] && rc=$r; done
exit "$rc"
