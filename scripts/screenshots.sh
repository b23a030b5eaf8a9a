#!/bin/bash
# Screenshots of the main dialog for each verdict of the identity check,
# under Xvfb, into docs/screenshots/<verdict>.png, and of a ReFlash whose
# 100th write fails: ReFlashFailure-box.png, then ReFlashFailure.png. The
# dialog runs over a bus double (boardflash_show from the x86_64 test build).
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$BUILD" "$ROOT/docs/screenshots"

ensure_packages
configure_target x86_64
cmake --build "$BUILD/x86_64" --target boardflash_show
SHOW="$BUILD/x86_64/tests/app/boardflash_show.exe"

start_wine_session "$BUILD/wine-shots"
marker_dir=$(mktemp -d)
# Waits for the marker of the next picture; false if the tool ended first.
wait_marker() {
  for _ in $(seq 300); do
    [ -e "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
for shot in WrongSubVendor NeedsReflash AlreadyCorrect OtherBoard ReFlashFailure; do
  marker="$marker_dir/$shot.shown"
  "$WINE64" "$SHOW" "$shot" "$("$WINE64" winepath -w "$marker")" >"$BUILD/show-$shot.log" 2>&1 </dev/null &
  pid=$!
  names="$shot"
  [ "$shot" = ReFlashFailure ] && names="$shot-box $shot"
  for name in $names; do
    if ! wait_marker "$marker" "$pid"; then
      echo "no picture $name; see $BUILD/show-$shot.log" >&2
      kill "$pid" 2>/dev/null || true
      exit 1
    fi
    sleep 0.5  # let it paint
    import -window root -display "$DISPLAY" "$ROOT/docs/screenshots/$name.png"
    rm -f "$marker"  # on to the next picture, or the dialog closes
    echo "docs/screenshots/$name.png"
  done
  wait "$pid" || true
done
rmdir "$marker_dir"
