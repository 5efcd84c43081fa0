#!/usr/bin/env bash
# run-wine.sh [--32] [--dpi N] COMMAND...: runs COMMAND with a Wine prefix of its own, made
# here with wineboot and removed afterwards, and exits with the command's status: a 64-bit
# prefix, or a 32-bit one (32-bit Wine only) with --32; the display at N pixels per inch (96
# unless given). Wine's own messages are off (WINEDEBUG=-all). Run it inside run-x11.sh: Wine
# makes a prefix faster, and without faults, when it has a display.
set -u
arch=win64 dpi=
while :; do
  case "${1:-}" in
    --32) arch=win32; shift ;;
    --dpi) dpi=$2; shift 2 ;;
    *) break ;;
  esac
done
. "$(dirname "$0")/needs.sh"
[ $arch = win64 ] || needs wine32:i386 true
needs wine wine
needs wine64 wineserver
# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, and it hands 64-bit
# programs on to the 64-bit one; a kernel built without 32-bit support cannot start it at all,
# and then the 64-bit loader is started straight away.
loader32=/usr/lib/wine/wine loader64=/usr/lib/wine/wine64
loader=$(command -v wine)
if ! "$loader32" --version >/dev/null 2>&1; then
  if [ $arch = win32 ]; then
    if [ -e "$loader32" ]; then
      echo "skipped: this kernel cannot run 32-bit programs, so 32-bit Wine cannot start"
    else
      echo "skipped: this test needs 32-bit Wine (Debian package wine32:i386), which is not installed"
    fi
    exit 77
  fi
  [ -x "$loader64" ] && loader=$loader64 && export WINELOADER=$loader64
fi
# A loader looks for the Wine server in TMPDIR, which the tests change for the program they
# start: the tests' `wine` keeps this one, so that every program here meets the same server
# (and none starts a server of its own in the program's temporary folder).
shim=$(mktemp -d)
for name in wine wine-stable; do
  printf '#!/bin/sh\nTMPDIR=%s exec %s "$@"\n' "${TMPDIR:-/tmp}" "$loader" >"$shim/$name"
  chmod +x "$shim/$name"
done
export PATH="$shim:$PATH"
prefix=$(mktemp -d)
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all
# No offers to install Mono or Gecko, no menu entries or file associations in the user's desktop.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
wineboot -i >/dev/null 2>&1 || { echo "run-wine.sh: wineboot failed" >&2; rm -rf "$prefix" $shim; exit 1; }
# Wine's own fonts (Tahoma for "MS Shell Dlg", the bitmap "MS Sans Serif"; Debian's fonts-wine)
# go where Windows keeps its fonts: Debian's Wine 8 does not find them where they are
# installed, and would draw every text in a substitute.
if [ -d /usr/share/wine/fonts ]; then
  cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null
fi
if [ -n "$dpi" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wineserver -w  # the registry is written when the server ends
fi
"$@"
status=$?
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$prefix" $shim
exit $status
