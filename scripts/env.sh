# Shared by the scripts: package set-up, the builds, and a Wine session
# (private prefix, Xvfb, persistent wineserver) that is stopped on exit.
# Source it; it uses bash.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
PACKAGES="cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-win32 mingw-w64-tools wine wine64 xvfb googletest imagemagick x11-utils"
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
      { tail -20 "$BUILD/apt.log"; echo "installing packages failed, see $BUILD/apt.log" >&2; return 1; }
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
  # A prefix made before wine32 was there has no 32-bit side: make it anew.
  if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/.with-wine32" ]; then
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making Wine prefix $WINEPREFIX"
    "$WINE64" wineboot -i >"$BUILD/wineboot.log" 2>&1 </dev/null || true
    wineserver -w
    # A Wine desktop: without a window manager, hiding a window costs 2 s.
    "$WINE64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
      >/dev/null 2>&1 </dev/null
    "$WINE64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
      >/dev/null 2>&1 </dev/null
    # A crashing program must end, not wait in the debugger's dialog.
    "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$WINEPREFIX/.with-wine32"
  fi
  wineserver -p60 </dev/null >/dev/null 2>&1
  WINESERVER_STARTED=1
  # Start Wine's helper processes now, detached from our pipes: a helper
  # started by a test would hold the test's output pipe open.
  "$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
