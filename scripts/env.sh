# Shared by the scripts: package set-up, the builds, and a Wine session
# (private prefix, Xvfb, persistent wineserver) that is stopped on exit.
# Source it; it uses bash.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
PACKAGES="cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-win32 mingw-w64-tools wine wine64 xvfb googletest imagemagick x11-utils"
# Wine's own fonts, a recommendation of wine that --no-install-recommends
# leaves out: without Marlett every caption's close button is an "r".
PACKAGES="$PACKAGES fonts-wine"
# Each loader called by its path: once wine32 is installed, the plain
# `wine` takes the 32-bit loader for everything.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine

ensure_packages() {
  local missing=""
  for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    echo "== installing:$missing"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      $missing >"$BUILD/apt.log" 2>&1 ||
      { as_root apt-get update >>"$BUILD/apt.log" 2>&1 &&
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
          $missing >>"$BUILD/apt.log" 2>&1; } ||
      { tail -20 "$BUILD/apt.log"; echo "installing$missing failed, see $BUILD/apt.log" >&2; return 1; }
  fi
  ensure_wine32
}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Wine's 32-bit loader, which runs here under the user-mode emulator from
# bookworm-backports (the emulator of bookworm itself cannot carry it).
# Idempotent; each step says what failed.
ensure_wine32() {
  local log="$BUILD/apt-wine32.log"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386 || { echo "wine32: dpkg --add-architecture i386 failed" >&2; return 1; }
  fi
  local src=/etc/apt/sources.list.d/bookworm-backports.sources
  if ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d; then
    # The machine's own Debian source (URI, components, key), for the backports suite.
    local own
    own=$(awk 'BEGIN{RS=""} /Suites:[^\n]*bookworm( |$|\n)/ && !/security/ {print; exit}' \
      /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v '^#' | sed 's/^Suites:.*/Suites: bookworm-backports/')
    [ -n "$own" ] || { echo "wine32: no Debian bookworm source found to add bookworm-backports beside" >&2; return 1; }
    printf '%s\n' "$own" | as_root tee "$src" >/dev/null || { echo "wine32: could not write $src" >&2; return 1; }
    as_root apt-get update >"$log" 2>&1 || { echo "wine32: apt-get update failed, see $log" >&2; return 1; }
  fi
  if ! dpkg-query -W -f='${Status} ${Version}' qemu-user-static 2>/dev/null | grep -q "installed 1:\(9\|[1-9][0-9]\)"; then
    echo "== installing: qemu-user-static from bookworm-backports"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -t bookworm-backports \
      qemu-user-static >>"$log" 2>&1 ||
      { as_root apt-get update >>"$log" 2>&1 && as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -t bookworm-backports qemu-user-static >>"$log" 2>&1; } ||
      { echo "wine32: installing qemu-user-static failed, see $log" >&2; return 1; }
  fi
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "== installing: wine32:i386"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      wine32:i386 >>"$log" 2>&1 ||
      { as_root apt-get update >>"$log" 2>&1 && as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends wine32:i386 >>"$log" 2>&1; } ||
      { echo "wine32: installing wine32:i386 failed, see $log" >&2; return 1; }
  fi
  local misc=/proc/sys/fs/binfmt_misc
  if [ ! -e "$misc/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$misc" ||
      { echo "wine32: mounting binfmt_misc on $misc failed" >&2; return 1; }
  fi
  if [ ! -e "$misc/qemu-i386" ]; then
    # 32-bit x86 ELF executables and shared objects; magic and mask 20 bytes each.
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      as_root tee "$misc/register" >/dev/null ||
      { echo "wine32: registering qemu-i386-static in $misc failed" >&2; return 1; }
  fi
}

# $1: i686 (the product: the win32 thread model, no tests) | i686-tests |
# x86_64 | native (the host compiler, no toolchain file).
# BOARDFLASH_WERROR=ON makes warnings errors (and OFF undoes it); unset, a
# build keeps what it was made with.
configure_target() {
  local dir="$BUILD/$1" werror="${BOARDFLASH_WERROR:-}" threads=posix
  local options=(-DBOARDFLASH_TESTS=ON)
  case "$1" in
    i686) threads=win32 options=(-DBOARDFLASH_TESTS=OFF) ;;
    # GoogleTest needs the posix thread model; the end-to-end tests and the
    # import check take the product build's program. No fault sweep: see
    # tests/CMakeLists.txt.
    i686-tests)
      options+=(-DBOARDFLASH_UTILITY="$BUILD/i686/app/REVADAD86IRaziz.exe"
        -DBOARDFLASH_FAULT_SWEEP=OFF) ;;
  esac
  [ "$1" = native ] ||
    options+=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-${1%-tests}.cmake"
      -DMINGW_THREADS=$threads)
  # A build made with the other thread model's compilers is made anew.
  local cache="$dir/CMakeCache.txt" had
  if [ -f "$cache" ] && [ "$1" != native ]; then
    had=$(sed -n 's/^MINGW_THREADS:STRING=//p' "$cache")
    [ "${had:-posix}" = "$threads" ] || rm -rf "$dir"
  fi
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "${options[@]}" \
      -DBOARDFLASH_WERROR="${werror:-OFF}" >"$BUILD/cmake-$1.log" ||
      { cat "$BUILD/cmake-$1.log"; return 1; }
  elif [ -n "$werror" ] && ! grep -qx "BOARDFLASH_WERROR:BOOL=$werror" "$dir/CMakeCache.txt"; then
    cmake -DBOARDFLASH_WERROR="$werror" "$dir" >"$BUILD/cmake-$1.log" ||
      { cat "$BUILD/cmake-$1.log"; return 1; }
  fi
}

build_target() {  # $1: i686 | i686-tests | x86_64 | native
  configure_target "$1" || return
  cmake --build "$BUILD/$1" -- -j"$(nproc)"
}

# Wine's 32-bit loader in the session's prefix, started once here so that a
# loader that cannot run says so before the tests, and the first test does
# not pay for the start.
start_wine32() {
  "$WINE32" cmd.exe /c exit </dev/null >"$BUILD/wine32.log" 2>&1 ||
    { echo "wine32: $WINE32 could not start a program in $WINEPREFIX, see $BUILD/wine32.log" >&2
      return 1; }
}

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

XVFB_PID=""
WINESERVER_STARTED=""

stop_wine_session() {
  if [ -n "$WINESERVER_STARTED" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    WINESERVER_STARTED=""
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

# Holds the prefix for this run: a second run on it at once would end this
# one's wineserver (and with it the programs under test). The lock file
# sits beside the prefix and names its holder; Wine's processes inherit it,
# so it is free again once the last of them has ended. Idempotent.
PREFIX_LOCKED=""
lock_prefix() {  # $1: prefix directory
  [ "$PREFIX_LOCKED" = "$1" ] && return 0
  local lock="$1.lock" holder pid
  mkdir -p "$(dirname "$1")"
  exec {PREFIX_LOCK_FD}>>"$lock"
  if ! flock -n "$PREFIX_LOCK_FD"; then
    holder=$(cat "$lock" 2>/dev/null)
    pid=${holder%% *}
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      # Its run is gone (killed); what still holds the lock is its Wine.
      echo "== the run that used $1 ($holder) is gone; ending the Wine processes it left"
      WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
      flock -w 20 "$PREFIX_LOCK_FD" || true
    fi
    if ! flock -n "$PREFIX_LOCK_FD"; then
      echo "$(basename "$0"): another run is using the Wine prefix $1:" \
        "${holder:+process ${holder%% *}, ${holder#* }}" >&2
      echo "Wait until it has ended, or work in another checkout." >&2
      return 1
    fi
  fi
  echo "$$ $(basename "$0"), started $(date '+%F %T')" >"$lock"
  PREFIX_LOCKED=$1
}

# A private Xvfb on a display it chooses itself (-displayfd: no race with
# another run picking the same number), waited for until it answers.
start_xvfb() {
  local log="$BUILD/xvfb-${WINEPREFIX##*/}.log" numfile n=""
  numfile=$(mktemp)
  # Without the prefix's lock: an Xvfb left behind must not keep it.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >"$log" 2>&1 \
    {PREFIX_LOCK_FD}>&- &
  XVFB_PID=$!
  for _ in $(seq 300); do
    n=$(head -n1 "$numfile")
    [ -n "$n" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numfile"
  if [ -z "$n" ]; then
    echo "Xvfb did not start (no display number within 30 s), see $log" >&2
    return 1
  fi
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb on display $DISPLAY does not answer (xdpyinfo), see $log" >&2
  return 1
}

# Makes the prefix $WINEPREFIX: wineboot, a Wine desktop, no crash dialog;
# each step logged to $1 and checked. A failed attempt is tried once more
# from scratch (wineboot can fail on a loaded machine).
make_prefix() {  # $1: log file
  local log="$1" try rc step
  for try in 1 2; do
    echo "== making Wine prefix $WINEPREFIX"
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    [ "$try" = 1 ] && : >"$log"
    echo "== attempt $try" >>"$log"
    timeout 300 "$WINE64" wineboot -i >>"$log" 2>&1 </dev/null
    rc=$?
    # wineboot returns before the programs it started have ended.
    timeout 120 wineserver -w >>"$log" 2>&1
    step="wineboot -i (exit $rc)"
    if [ "$rc" = 0 ] && [ -f "$WINEPREFIX/system.reg" ]; then
      step=""
      # A Wine desktop: without a window manager, hiding a window costs 2 s.
      # A crashing program must end, not wait in the debugger's dialog.
      for key in 'HKCU\Software\Wine\Explorer\Desktops /v Default /d 1024x768' \
        'HKCU\Software\Wine\Explorer /v Desktop /d Default' \
        'HKCU\Software\Wine\WineDbg /v ShowCrashDialog /t REG_DWORD /d 0'; do
        echo "+ reg add $key" >>"$log"
        # shellcheck disable=SC2086  # the key's words are reg's arguments
        if ! "$WINE64" reg add $key /f >>"$log" 2>&1 </dev/null; then
          step="reg add $key"
          break
        fi
      done
      timeout 120 wineserver -w >>"$log" 2>&1
    fi
    if [ -z "$step" ]; then
      touch "$WINEPREFIX/.with-wine32"
      return 0
    fi
    echo "making the Wine prefix failed at: $step; see $log" >&2
    [ "$try" = 1 ] && echo "== trying once more"
  done
  wineserver -k >/dev/null 2>&1 || true
  return 1
}

# $1: prefix directory. Uses $DISPLAY if START_XVFB is not 1.
start_wine_session() {
  export WINEPREFIX="$1"
  mkdir -p "$BUILD"
  lock_prefix "$1" || return 1
  # An old server of this prefix would keep a broken desktop; wait it out.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  trap stop_wine_session EXIT
  if [ "${START_XVFB:-1}" = 1 ]; then
    start_xvfb || return 1
  fi
  # A prefix made before wine32 was there has no 32-bit side: make it anew.
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.with-wine32" ]; then
    make_prefix "$BUILD/wineboot-${WINEPREFIX##*/}.log" || return 1
  fi
  # Wine here looks for the fonts of its data folder beside that folder, and
  # finds none; Marlett, which draws every caption's close button, is put in
  # the prefix's own font folder instead.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  [ -f "$marlett" ] || { echo "Wine's Marlett font $marlett is missing (package fonts-wine)" >&2; return 1; }
  ln -sf "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ||
    { echo "could not link $marlett into $WINEPREFIX/drive_c/windows/Fonts" >&2; return 1; }
  wineserver -p60 </dev/null >/dev/null 2>&1
  WINESERVER_STARTED=1
  # Start Wine's helper processes now, detached from our pipes: a helper
  # started by a test would hold the test's output pipe open.
  "$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
