#!/usr/bin/env bash
# check-maths-digest.sh LINUX_MATHS_DIGEST WINDOWS_MATHS_DIGEST_EXE: the Windows build's
# maths-digest, run under Wine (inside run-wine.sh), must print exactly what the Linux build's
# prints for the arguments of the 413 x 333 canvas and of the 826 x 666 one (pixel ratio 2):
# both platforms give the kernel the same arctangent, sine and logarithm, bit for bit, although
# their C libraries differ. How far the Windows library is from those values is printed too.
set -u
linux=$1 windows=$2
[ -f "$windows" ] || { echo "no Windows build at $windows"; exit 77; }
fail=0
for size in "413 333" "826 666"; do
  # shellcheck disable=SC2086
  want=$("$linux" $size) || { echo "the Linux maths-digest failed ($size)"; exit 1; }
  # shellcheck disable=SC2086
  got=$(wine "$windows" $size | tr -d '\r') || { echo "maths-digest.exe failed ($size)"; exit 1; }
  if [ "$want" = "$got" ]; then
    echo "$size: the same values as on Linux"
  else
    echo "$size: the Windows build differs:"
    diff <(echo "$want") <(echo "$got")
    fail=1
  fi
done
echo "the Windows C library at 413 x 333 (name, arguments, differing, max ulps, max gap):"
wine "$windows" --library 413 333 | tr -d '\r' | sed 's/^/  /'
exit $fail
