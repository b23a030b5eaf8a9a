# shellcheck shell=bash
# Shared by run.sh and screenshots.sh, inside a Wine session (env.sh):
# one action of the UI driver, and a screenshot cropped to a program's
# window. Source it; set UIDRIVER to the built uidriver.exe first.

# One call of the UI driver; its answer lands in $UI_OUT: Wine's helpers
# must not hold a pipe of ours.
ui_run() {
  UI_OUT="$BUILD/uidriver-${WINEPREFIX##*/}.out"
  local rc=0
  "$WINE64" "$UIDRIVER" "$@" >"$UI_OUT" 2>&1 </dev/null || rc=$?
  sed -i 's/\r$//' "$UI_OUT"  # a Windows program's line ends
  return "$rc"
}

# $1: an action on the running program $UI_EXE (default the utility);
# $2: how long to wait for it, in seconds (default 30).
ui() { ui_run "$1" "${UI_EXE:-REVADAD86IRaziz.exe}" "${2:-30}"; }

# $1: PNG file. The program's dialog and the box over it, if one is up,
# made the active window first, cut out of the Wine desktop.
ui_shot() {
  sleep 0.5  # let it paint
  ui frame || { echo "no window to take for $1: $(cat "$UI_OUT")" >&2; return 1; }
  local x y w h active desktop
  read -r _ x y w h active <"$UI_OUT"
  [ "$active" = active ] || echo "   (the window did not become active for $1)" >&2
  sleep 0.3  # the caption repaints as active
  # Window coordinates count from the Wine desktop's corner, which is the
  # screen's corner on a private Xvfb but anywhere on a display of yours.
  desktop=$(xwininfo -root -tree | awk '/"Default - Wine desktop"/ {print $1; exit}')
  import -display "$DISPLAY" -window "${desktop:-root}" -crop "${w}x${h}+${x}+${y}" +repage "$1"
}

# The caption's close button is a glyph of Wine's Marlett font (package
# fonts-wine); without it the screenshots show an "r".
ui_check_font() {
  ui_run font Marlett && return 0
  echo "Wine offers no Marlett font in $WINEPREFIX ($(cat "$UI_OUT")): is fonts-wine installed?" >&2
  return 1
}
