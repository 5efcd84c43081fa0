#!/usr/bin/env bash
# check-maths-windows.sh MATHS_DIGEST: builds maths-digest for Windows with mingw-w64, for x86-64
# and, when that compiler is installed, for i686 with SSE2 arithmetic (-msse2 -mfpmath=sse), runs
# each under Wine, and checks that it prints exactly what MATHS_DIGEST, the Linux build, prints
# for 413 x 333 and 826 x 666: every platform gives the kernel the same arctangent, sine and
# logarithm, bit for bit, although their C libraries differ. Skips (77) without mingw-w64 or
# Wine. Console programs need no display under Wine; none is used.
set -u
linux=${1:?usage: check-maths-windows.sh MATHS_DIGEST}
cxx64=$(command -v x86_64-w64-mingw32-g++ || true)
[ -n "$cxx64" ] || { echo "no mingw-w64 C++ compiler installed (g++-mingw-w64-x86-64)"; exit 77; }
command -v wine >/dev/null && command -v wineserver >/dev/null || { echo "Wine is not installed"; exit 77; }
src=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
export WINEPREFIX="$out/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$out"' EXIT

build() {  # COMPILER OUTPUT [FLAGS...]
  local cxx=$1 exe=$2
  shift 2
  "$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -ffp-contract=off -static "$@" -I "$src" \
    "$src/tools/maths_digest.cpp" "$src/services/maths.cpp" -o "$exe"
}
build "$cxx64" "$out/maths-digest-x64.exe" || { echo "the x86-64 Windows build failed"; exit 1; }
exes="$out/maths-digest-x64.exe"
cxx32=$(command -v i686-w64-mingw32-g++ || true)
if [ -n "$cxx32" ]; then
  build "$cxx32" "$out/maths-digest-x86.exe" -msse2 -mfpmath=sse || { echo "the i686 Windows build failed"; exit 1; }
  # Without arguments it prints its usage and ends with 2; anything else means that this Wine
  # runs no 32-bit programs (Debian's wine32 is missing).
  wine "$out/maths-digest-x86.exe" >/dev/null 2>&1
  if [ $? = 2 ]; then
    exes="$exes $out/maths-digest-x86.exe"
  else
    echo "Wine runs no 32-bit programs here (wine32): the 32-bit build is not checked"
  fi
else
  echo "no i686 mingw-w64 compiler (g++-mingw-w64-i686): the 32-bit build is not checked"
fi

status=0
for size in "413 333" "826 666"; do
  # shellcheck disable=SC2086
  expected=$("$linux" $size) || { echo "$linux $size failed"; exit 1; }
  for exe in $exes; do
    # shellcheck disable=SC2086
    got=$(wine "$exe" $size 2>/dev/null | tr -d '\r')
    if [ "$got" = "$expected" ]; then
      echo "$(basename "$exe") $size: same as Linux"
    else
      echo "$(basename "$exe") $size differs from Linux:"
      diff <(echo "$expected") <(echo "$got")
      status=1
    fi
  done
done
# How far each Windows C library is from the values used (for the record, not compared).
for exe in $exes; do
  echo "$(basename "$exe") --library 413 333 (name, arguments, differing, max ulps, max gap):"
  wine "$exe" --library 413 333 2>/dev/null | tr -d '\r' | sed 's/^/  /'
done
exit $status
