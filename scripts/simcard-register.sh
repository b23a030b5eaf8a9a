#!/bin/bash
# Puts the simulated card into the Wine prefix $WINEPREFIX, with one
# regedit launch: the COM server and the capture device entry, and a fresh
# card state in C:\simcard\ made from a preset at the first start. A 32-bit
# DLL is registered in the registry's 32-bit view, for 32-bit programs.
#
#   simcard-register.sh --dll PATH [--card reflash|correct|other|wrong-vendor|none] [--extras]
#
# --card none leaves the device entry out (no card in the PC). --extras
# adds devices the lookup has to tell apart: the same name a second time, the
# name with an upper-case X, and an entry without a name.
# Can also be sourced; then call simcard_register with the same arguments.

simcard_register() {
  local dll="" card=reflash extras=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --dll) dll="$2"; shift 2 ;;
      --card) card="$2"; shift 2 ;;
      --extras) extras=1; shift ;;
      *) echo "simcard-register: unknown argument $1" >&2; return 2 ;;
    esac
  done
  case "$card" in
    reflash | correct | other | wrong-vendor | none) ;;
    *) echo "simcard-register: unknown card $card" >&2; return 2 ;;
  esac
  [ -n "$dll" ] && [ -f "$dll" ] || { echo "simcard-register: no DLL at '$dll'" >&2; return 1; }
  [ -n "${WINEPREFIX:-}" ] || { echo "simcard-register: WINEPREFIX is not set" >&2; return 1; }

  # A 32-bit DLL (PE machine 0x14c) goes into the registry's 32-bit view,
  # where 32-bit programs look for COM servers and devices.
  local classes='HKEY_CLASSES_ROOT' pe machine
  pe=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$dll" | tr -d ' ')
  case "$machine" in
    014c) classes='HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node' ;;
    8664) ;;
    *) echo "simcard-register: $dll is not a Windows x86 DLL (machine '$machine')" >&2; return 1 ;;
  esac
  local clsid='{1FB9A1AB-B317-41B1-B81E-9A08DB3CD9A7}'
  local inst="$classes\\CLSID\\{65E8773D-8F56-11D0-A3B9-00A0C9223196}\\Instance"
  local name='713x BDA Analog Capture'
  # Z: is the Unix root; .reg strings double their backslashes.
  local winpath
  winpath="Z:$(cd "$(dirname "$dll")" && pwd)/$(basename "$dll")"
  winpath=${winpath//\//\\\\}

  local reg="$WINEPREFIX/simcard.reg"
  {
    echo 'REGEDIT4'
    echo
    echo "[$classes\\CLSID\\$clsid]"
    echo '@="Simulated tuner card capture filter"'
    echo "[$classes\\CLSID\\$clsid\\InprocServer32]"
    echo "@=\"$winpath\""
    echo '"ThreadingModel"="Both"'
    echo "[-$inst\\$clsid]"
    echo "[-$inst\\$clsid-twin]"
    echo "[-$inst\\$clsid-case]"
    echo "[-$inst\\$clsid-noname]"
    if [ "$card" != none ]; then
      echo "[$inst\\$clsid]"
      echo "\"FriendlyName\"=\"$name\""
      echo "\"CLSID\"=\"$clsid\""
    fi
    if [ "$extras" = 1 ]; then
      echo "[$inst\\$clsid-twin]"
      echo "\"FriendlyName\"=\"$name\""
      echo "\"CLSID\"=\"$clsid\""
      echo "[$inst\\$clsid-case]"
      echo "\"FriendlyName\"=\"${name/x/X}\""
      echo "\"CLSID\"=\"$clsid\""
      echo "[$inst\\$clsid-noname]"
      echo "\"CLSID\"=\"$clsid\""
    fi
  } >"$reg"
  "${WINE64:-/usr/lib/wine/wine64}" regedit /S "$(printf 'Z:%s' "$reg" | tr / '\\')" </dev/null >/dev/null 2>&1 ||
    { echo "simcard-register: regedit failed" >&2; return 1; }

  # A fresh card: the simulated filter makes its files from card.txt.
  local state="$WINEPREFIX/drive_c/simcard"
  rm -rf "$state"
  mkdir -p "$state"
  [ "$card" = none ] || echo "$card" >"$state/card.txt"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  simcard_register "$@"
fi
