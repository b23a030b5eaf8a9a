#!/bin/bash
# Runs the utility on a simulated card and takes screenshots of what it
# shows: packages, the x86_64 build, a Wine prefix with the card, the
# utility on $DISPLAY (or on a private Xvfb when there is no usable display),
# then closes it again.
#
#   scripts/run.sh [--card reflash|correct|other|wrong-vendor|none] [--keep]
#
# --keep leaves the dialog open for you to use (on your own display) and
# ends when you close it.
#
# Screenshots: build/screenshots/run-<card>.png (the dialog) and
# run-<card>-box<N>.png (each message box before it).
set -euo pipefail
source "$(dirname "$0")/env.sh"
source "$ROOT/scripts/simcard-register.sh"

card=reflash
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --card) card="${2:-}"; shift 2 ;;
    --card=*) card="${1#--card=}"; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
case "$card" in
  reflash | correct | other | wrong-vendor | none) ;;
  *) echo "run.sh: --card takes reflash, correct, other, wrong-vendor or none" >&2; exit 2 ;;
esac

mkdir -p "$BUILD"
ensure_packages
build_target x86_64

exe="$BUILD/x86_64/app/REVADAD86IRaziz.exe"
dll="$BUILD/x86_64/testing/simcard/simcard.dll"
driver="$BUILD/x86_64/testing/uidriver/uidriver.exe"
for f in "$exe" "$dll" "$driver"; do
  [ -f "$f" ] || { echo "run.sh: $f was not built" >&2; exit 1; }
done

# The user's display if it answers, else a private Xvfb.
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export START_XVFB=0
  echo "== on display $DISPLAY"
else
  export START_XVFB=1
fi
start_wine_session "$BUILD/wine-run"
[ "$START_XVFB" = 1 ] && echo "== on a private Xvfb, display $DISPLAY"

simcard_register --dll "$dll" --card "$card"
echo "== simulated card: $card (state in $WINEPREFIX/drive_c/simcard)"

shots="$BUILD/screenshots"
mkdir -p "$shots"
rm -f "$shots/run-$card.png" "$shots/run-$card"-box*.png

"$WINE64" "$exe" >"$BUILD/run-utility.log" 2>&1 </dev/null &
app=$!

# Each step's answer goes through a file: Wine's helpers must not hold a pipe.
drive() { "$WINE64" "$driver" "$@" REVADAD86IRaziz.exe 30 >"$BUILD/uidriver.out" 2>&1 </dev/null; }
shot() { sleep 0.5; import -window root -display "$DISPLAY" "$1"; }

status=1
for n in 1 2 3 4 5 6; do
  drive next || break
  read -r kind text <"$BUILD/uidriver.out" || true
  if [ "$kind" = box ]; then
    shot "$shots/run-$card-box$n.png"
    echo "   box: $text  ->  $shots/run-$card-box$n.png"
    drive ok || break
  elif [ "$kind" = dialog ]; then
    shot "$shots/run-$card.png"
    drive state || true
    sed 's/^/   /' "$BUILD/uidriver.out"
    echo "== screenshot: $shots/run-$card.png"
    status=0
    break
  fi
done
[ "$status" = 0 ] || { echo "run.sh: the dialog did not come up" >&2; cat "$BUILD/uidriver.out" >&2; }

if [ "$keep" = 1 ] && [ "$status" = 0 ]; then
  echo "== the utility is yours now; close its dialog to end"
  wait "$app" 2>/dev/null || true
  exit 0
fi
drive close || echo "run.sh: the utility did not close" >&2
wait "$app" 2>/dev/null || true
exit "$status"
