#!/usr/bin/env bash
# check-image-digest.sh LINUX_IMAGE_DIGEST WINDOWS_IMAGE_DIGEST_EXE: the Windows build's
# image-digest, run under Wine (inside run-wine.sh), must print exactly what the Linux build's
# prints for a whole pass of a small canvas and of the test window's 413 x 333: both kernels
# agree bit for bit. Windows ends its lines with CR LF; the lines themselves must be the same.
# A run that fails, or prints anything but whole, well-formed lines, fails the check as such.
set -u
linux=$1 windows=$2
[ -f "$windows" ] || { echo "no Windows build at $windows"; exit 77; }
# shellcheck source=tests/digests.sh
. "$(dirname "$0")/digests.sh"
# INDEX KIND ORDER DRAWN SKIPPED MIN MAX SHA256, or with nothing drawn INDEX KIND ORDER 0 SKIPPED - - SHA256.
line='[0-9]+ (Arctangent|Sine|Logarithmic) [0-9]+ ([0-9]+ [0-9]+ -?[0-9]+ -?[0-9]+|0 [0-9]+ - -) [0-9a-f]{64}'
fail=0
for size in "40 30" "413 333"; do
  want=$digest_dir/linux got=$digest_dir/windows
  # shellcheck disable=SC2086
  run_to "$want" "$linux" $size 237 || { echo "the Linux image-digest failed ($size): status $?"; exit 1; }
  well_formed "the Linux image-digest ($size)" "$want" "$line" 237 || exit 1
  # shellcheck disable=SC2086
  run_to "$got" wine "$windows" $size 237
  status=$?
  if [ $status != 0 ]; then
    echo "$size: image-digest.exe failed under Wine: status $status"
    fail=1
  elif ! well_formed "$size: image-digest.exe" "$got" "$line" 237; then
    fail=1
  elif cmp -s "$want" "$got"; then
    echo "$size: all 237 images agree"
  else
    echo "$size: the Windows build differs:"
    show_differences "$want" "$got"
    fail=1
  fi
done
exit $fail
