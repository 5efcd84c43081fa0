#!/usr/bin/env bash
# check-maths-digest.sh LINUX_MATHS_DIGEST WINDOWS_MATHS_DIGEST_EXE: the Windows build's
# maths-digest, run under Wine (inside run-wine.sh), must print exactly what the Linux build's
# prints for the arguments of the 413 x 333 canvas and of the 826 x 666 one (pixel ratio 2):
# both platforms give the kernel the same arctangent, sine and logarithm, bit for bit, although
# their C libraries differ. How far the Windows library is from those values is printed too.
# A run that fails, or prints anything but whole, well-formed lines, fails the check as such.
set -u
linux=$1 windows=$2
[ -f "$windows" ] || { echo "no Windows build at $windows"; exit 77; }
# shellcheck source=tests/digests.sh
. "$(dirname "$0")/digests.sh"
line='(atan|sin|log) [0-9]+ [0-9a-f]{64}'  # NAME ARGUMENTS SHA256
fail=0
for size in "413 333" "826 666"; do
  want=$digest_dir/linux got=$digest_dir/windows
  # shellcheck disable=SC2086
  run_to "$want" "$linux" $size || { echo "the Linux maths-digest failed ($size): status $?"; exit 1; }
  well_formed "the Linux maths-digest ($size)" "$want" "$line" 3 || exit 1
  # shellcheck disable=SC2086
  run_to "$got" wine "$windows" $size
  status=$?
  if [ $status != 0 ]; then
    echo "$size: maths-digest.exe failed under Wine: status $status"
    fail=1
  elif ! well_formed "$size: maths-digest.exe" "$got" "$line" 3; then
    fail=1
  elif cmp -s "$want" "$got"; then
    echo "$size: the same values as on Linux"
  else
    echo "$size: the Windows build differs:"
    show_differences "$want" "$got"
    fail=1
  fi
done
echo "the Windows C library at 413 x 333 (name, arguments, differing, max ulps, max gap):"
library=$digest_dir/library
run_to "$library" wine "$windows" --library 413 333
status=$?
if [ $status != 0 ]; then
  echo "  maths-digest.exe --library failed under Wine: status $status"
  fail=1
elif well_formed "  maths-digest.exe --library" "$library" '(atan|sin|log) [0-9]+ [0-9]+ [0-9]+ [0-9.e+-]+' 3; then
  sed 's/^/  /' "$library"
else
  fail=1
fi
exit $fail
