#!/bin/bash
# Screenshots of the main dialog for each verdict of the identity check,
# under Xvfb, into docs/screenshots/<verdict>.png. The dialog runs over a
# bus double (boardflash_show from the x86_64 test build).
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD" "$ROOT/docs/screenshots"

ensure_packages
configure_target x86_64
cmake --build "$BUILD/x86_64" --target boardflash_show
SHOW="$BUILD/x86_64/tests/app/boardflash_show.exe"

start_wine_session "$BUILD/wine-shots"
marker_dir=$(mktemp -d)
for verdict in WrongSubVendor NeedsReflash AlreadyCorrect OtherBoard; do
  marker="$marker_dir/$verdict.shown"
  wine "$SHOW" "$verdict" "$(winepath -w "$marker")" >"$BUILD/show-$verdict.log" 2>&1 </dev/null &
  pid=$!
  for _ in $(seq 300); do
    [ -e "$marker" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -e "$marker" ]; then
    echo "the dialog for $verdict did not show; see $BUILD/show-$verdict.log" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
  fi
  sleep 0.5  # let it paint
  import -window root -display "$DISPLAY" "$ROOT/docs/screenshots/$verdict.png"
  rm -f "$marker"  # the dialog closes
  wait "$pid" || true
  echo "docs/screenshots/$verdict.png"
done
rmdir "$marker_dir"
