# Shared by the scripts: package set-up, the builds, and a Wine session
# (private prefix, Xvfb, persistent wineserver) that is stopped on exit.
# Source it; it uses bash.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
PACKAGES="cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 xvfb googletest imagemagick x11-utils"

ensure_packages() {
  local missing=""
  for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "== installing:$missing"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  # wine64 only: the 32-bit loader cannot run on these machines.
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    $missing >"$BUILD/apt.log" 2>&1 ||
    { $sudo apt-get update >>"$BUILD/apt.log" 2>&1 &&
      $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        $missing >>"$BUILD/apt.log" 2>&1; } ||
    { tail -20 "$BUILD/apt.log"; return 1; }
}

configure_target() {  # $1: i686 | x86_64; the tests only in the x86_64 build
  local dir="$BUILD/$1"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$1.cmake" \
      -DBOARDFLASH_TESTS=$([ "$1" = x86_64 ] && echo ON || echo OFF) >"$BUILD/cmake-$1.log" ||
      { cat "$BUILD/cmake-$1.log"; return 1; }
  fi
}

build_target() {  # $1: i686 | x86_64
  configure_target "$1" || return
  cmake --build "$BUILD/$1" -- -j"$(nproc)"
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

# $1: prefix directory. Uses $DISPLAY if START_XVFB is not 1.
start_wine_session() {
  export WINEPREFIX="$1"
  mkdir -p "$BUILD"
  # An old server of this prefix would keep a broken desktop; wait it out.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ "${START_XVFB:-1}" = 1 ]; then
    local n
    for n in $(seq 91 120); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$BUILD/xvfb.log" 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      break
    done
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break
      sleep 0.1
    done
  fi
  trap stop_wine_session EXIT
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making Wine prefix $WINEPREFIX"
    wineboot -i >"$BUILD/wineboot.log" 2>&1 </dev/null || true
    wineserver -w
    # A Wine desktop: without a window manager, hiding a window costs 2 s.
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
      >/dev/null 2>&1 </dev/null
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
      >/dev/null 2>&1 </dev/null
    # A crashing program must end, not wait in the debugger's dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >/dev/null 2>&1 </dev/null
    wineserver -w
  fi
  wineserver -p60 </dev/null >/dev/null 2>&1
  WINESERVER_STARTED=1
  # Start Wine's helper processes now, detached from our pipes: a helper
  # started by a test would hold the test's output pipe open.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
