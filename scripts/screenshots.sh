#!/bin/bash
# The README's screenshots, into docs/screenshots/, each cut to the window
# (and the box over it), taken with the window active:
# - over a bus double (boardflash_show from the x86_64 test build), under
#   Xvfb: <verdict>.png, the main dialog for each verdict of the identity
#   check, and a ReFlash whose 100th write fails: ReFlashFailure-box.png,
#   then ReFlashFailure.png;
# - the built utility on the simulated card, through scripts/run.sh on a
#   private Xvfb: NoCard-box1.png, NoCard-box2.png and NoCard.png (no
#   capture device at all), ReFlashPartway.png and ReFlashDone.png.
# It leaves run.sh's card as its ReFlash left it.
set -euo pipefail
source "$(dirname "$0")/env.sh"
source "$ROOT/scripts/ui.sh"
docs="$ROOT/docs/screenshots"
mkdir -p "$BUILD" "$docs"
ensure_packages

# The real program first: run.sh holds its own prefix and Xvfb.
run_shots() {  # $1: run.sh's arguments; then pairs of run.sh's picture and ours
  local args=$1
  shift
  # shellcheck disable=SC2086  # the arguments' words
  DISPLAY="" "$ROOT/scripts/run.sh" $args >"$BUILD/shots-run.log" 2>&1 ||
    { echo "screenshots.sh: run.sh $args failed, see $BUILD/shots-run.log" >&2; exit 1; }
  while [ $# -gt 0 ]; do
    cp "$BUILD/screenshots/$1.png" "$docs/$2.png"
    echo "docs/screenshots/$2.png"
    shift 2
  done
}
run_shots "--card none" run-none-box1 NoCard-box1 run-none-box2 NoCard-box2 run-none NoCard
run_shots "--reflash" run-reflash-partway ReFlashPartway run-reflash-done ReFlashDone

configure_target x86_64
cmake --build "$BUILD/x86_64" --target boardflash_show uidriver_tool >"$BUILD/shots-build.log" ||
  { tail -30 "$BUILD/shots-build.log"; echo "screenshots.sh: the build failed, see $BUILD/shots-build.log" >&2; exit 1; }
SHOW="$BUILD/x86_64/tests/app/boardflash_show.exe"
UIDRIVER="$BUILD/x86_64/testing/uidriver/uidriver.exe"
UI_EXE=boardflash_show.exe

start_wine_session "$BUILD/wine-shots"
ui_check_font
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
    ui_shot "$docs/$name.png"
    rm -f "$marker"  # on to the next picture, or the dialog closes
    echo "docs/screenshots/$name.png"
  done
  wait "$pid" || true
done
rmdir "$marker_dir"
