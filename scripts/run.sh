#!/bin/bash
# Runs the utility on a simulated card and takes screenshots of what it
# shows: packages, the x86_64 program with the simulated card and the UI
# driver, a Wine prefix with the card, the utility on $DISPLAY (or on a
# private Xvfb when there is no display that answers), then closes it.
#
#   scripts/run.sh [--card reflash|correct|other|wrong-vendor|none] [--reflash] [--keep]
#
# --card      a fresh card of that kind. Without it the card of the last
#             run is kept, with whatever that run wrote (the first run
#             makes a reflash card).
# --reflash   a fresh reflash card, and ReFlash pressed once the dialog is
#             up: screenshots part-way and after, then the card's identity.
# --keep      leaves the dialog open for you and ends when you close it;
#             needs a display you can see ($DISPLAY).
#
# Screenshots in build/screenshots/: run-<card>-box<N>.png (each message
# box before the dialog), run-<card>.png (the dialog), and with --reflash
# run-reflash-partway.png and run-reflash-done.png.
set -euo pipefail
source "$(dirname "$0")/env.sh"
source "$ROOT/scripts/simcard-register.sh"
source "$ROOT/scripts/ui.sh"

usage() { sed -n '7p' "$0" | sed 's/^# *//;s/^/usage: /' >&2; }
die_usage() { echo "run.sh: $1" >&2; usage; exit 2; }
cards="reflash, correct, other, wrong-vendor or none"

card=""
keep=0
reflash=0
while [ $# -gt 0 ]; do
  case "$1" in
    --card)
      if [ $# -lt 2 ] || [ -z "$2" ] || [ "${2#-}" != "$2" ]; then
        die_usage "--card needs a value: $cards"
      fi
      card=$2
      shift 2
      ;;
    --card=*)
      card=${1#--card=}
      [ -n "$card" ] || die_usage "--card needs a value: $cards"
      shift
      ;;
    --reflash) reflash=1; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die_usage "unknown argument '$1'" ;;
  esac
done
case "$card" in
  "" | reflash | correct | other | wrong-vendor | none) ;;
  *) die_usage "unknown card '$card': --card takes $cards" ;;
esac
if [ "$reflash" = 1 ]; then
  # Only this card leaves ReFlash enabled.
  [ -z "$card" ] || [ "$card" = reflash ] ||
    die_usage "--reflash needs the reflash card, the only one on which ReFlash is enabled; leave --card out"
  card=reflash
fi

# The user's display if it answers, else a private Xvfb; --keep needs one
# that a person can see.
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export START_XVFB=0
  echo "== on display $DISPLAY"
else
  if [ "$keep" = 1 ]; then
    why="DISPLAY is not set"
    [ -z "${DISPLAY:-}" ] || why="DISPLAY=$DISPLAY does not answer"
    echo "run.sh: --keep needs a display you can see, and $why;" >&2
    echo "on a private Xvfb nobody could close the dialog. Run it from a desktop session." >&2
    exit 2
  fi
  [ -z "${DISPLAY:-}" ] || echo "== DISPLAY=$DISPLAY does not answer; falling back to a private Xvfb"
  export START_XVFB=1
fi

mkdir -p "$BUILD"
# Before the build: a second run at once is told now, and does not build
# in the same tree meanwhile.
lock_prefix "$BUILD/wine-run"
ensure_packages
configure_target x86_64
# Only what this runs, not the tests.
echo "== building the x86_64 utility, the simulated card and the UI driver"
cmake --build "$BUILD/x86_64" --target REVADAD86IRaziz simcard uidriver_tool -- -j"$(nproc)" \
  2>&1 | tee "$BUILD/run-build.log" ||
  { echo "run.sh: the build failed, see $BUILD/run-build.log" >&2; exit 1; }

exe="$BUILD/x86_64/app/REVADAD86IRaziz.exe"
dll="$BUILD/x86_64/testing/simcard/simcard.dll"
UIDRIVER="$BUILD/x86_64/testing/uidriver/uidriver.exe"
for f in "$exe" "$dll" "$UIDRIVER"; do
  [ -f "$f" ] || { echo "run.sh: $f was not built" >&2; exit 1; }
done

start_wine_session "$BUILD/wine-run"
[ "$START_XVFB" = 1 ] && echo "== on a private Xvfb, display $DISPLAY"
ui_check_font || echo "   (the screenshots' close buttons will show an \"r\")"

state="$WINEPREFIX/drive_c/simcard"
board="$state/board.bin"
last="$WINEPREFIX/run-card"  # the card that state/ holds
identity() {                # the identity bytes 0-3, and what they read as
  local b
  read -r -a b < <(od -An -tx1 -N4 "$board" | tr a-f A-F)
  echo "${b[*]} (sub-vendor 0x${b[1]}${b[0]}, subsystem 0x${b[3]}${b[2]})"
}
if [ -z "$card" ] && [ -f "$last" ] && [ -d "$state" ]; then
  card=$(cat "$last")
  if [ -f "$board" ]; then
    echo "== simulated card: $card, kept from the last run, identity $(identity)"
  else
    echo "== simulated card: $card, kept from the last run"
  fi
  echo "   (--card <kind> starts a fresh one)"
else
  card=${card:-reflash}
  simcard_register --dll "$dll" --card "$card"
  echo "$card" >"$last"
  echo "== simulated card: $card, fresh"
fi
if [ "$card" = none ]; then
  echo "   no capture device is registered: a PC without the card"
else
  echo "   its EEPROMs and transfer log: $state"
fi

shots="$BUILD/screenshots"
mkdir -p "$shots"
rm -f "$shots/run-$card.png" "$shots/run-$card"-*.png

"$WINE64" "$exe" >"$BUILD/run-utility.log" 2>&1 </dev/null &
app=$!

status=1
for n in 1 2 3 4 5 6; do
  ui next || break
  read -r kind text <"$UI_OUT" || true
  if [ "$kind" = box ]; then
    ui_shot "$shots/run-$card-box$n.png"
    echo "   box: $text  ->  $shots/run-$card-box$n.png"
    ui ok || break
  elif [ "$kind" = dialog ]; then
    ui_shot "$shots/run-$card.png"
    ui state || true
    sed 's/^/   /' "$UI_OUT"
    echo "== screenshot: $shots/run-$card.png"
    status=0
    break
  fi
done
[ "$status" = 0 ] || { echo "run.sh: the dialog did not come up" >&2; cat "$UI_OUT" >&2; }

# ReFlash: 256 paced writes, about 5 s. The card's log tells how far it is;
# the dialog's status line, readable while the command runs, when it ended.
if [ "$reflash" = 1 ] && [ "$status" = 0 ]; then
  status=1
  echo "== pressing ReFlash"
  ui reflash
  writes() { grep -c ' W A0 ' "$state/transfers.log" 2>/dev/null || true; }
  for _ in $(seq 200); do
    [ "$(writes)" -ge 40 ] && break
    sleep 0.1
  done
  ui_shot "$shots/run-reflash-partway.png"
  echo "   part-way ($(writes) of 256 writes)  ->  $shots/run-reflash-partway.png"
  programming="Programming the Board-EEPROM..."
  for _ in $(seq 60); do
    ui state 5 || break
    grep -qxF "status $programming" "$UI_OUT" || break
    sleep 0.5
  done
  ui_shot "$shots/run-reflash-done.png"
  ui state || true
  sed 's/^/   /' "$UI_OUT"
  echo "   after it  ->  $shots/run-reflash-done.png"
  grep -q '^status Board-EEPROM content successfully written' "$UI_OUT" && status=0 ||
    echo "run.sh: ReFlash did not succeed" >&2
fi

if [ "$keep" = 1 ] && [ "$status" = 0 ]; then
  echo "== the utility is yours now; close its dialog to end"
  wait "$app" 2>/dev/null || true
else
  ui close || echo "run.sh: the utility did not close" >&2
  wait "$app" 2>/dev/null || true
fi
if [ -f "$board" ]; then
  echo "== the card's identity after the run: $(identity)"
  [ "$reflash" = 1 ] && echo "   ./scripts/run.sh again starts the utility on this card"
fi
exit "$status"
