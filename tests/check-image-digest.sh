#!/usr/bin/env bash
# check-image-digest.sh LINUX_IMAGE_DIGEST WINDOWS_IMAGE_DIGEST_EXE: the Windows build's
# image-digest, run under Wine (inside run-wine.sh), must print exactly what the Linux build's
# prints for a whole pass of a small canvas and of the test window's 413 x 333: both kernels
# agree bit for bit. Windows ends its lines with CR LF; the lines themselves must be the same.
set -u
linux=$1 windows=$2
[ -f "$windows" ] || { echo "no Windows build at $windows"; exit 77; }
fail=0
for size in "40 30" "413 333"; do
  # shellcheck disable=SC2086
  want=$("$linux" $size 237) || { echo "the Linux image-digest failed ($size)"; exit 1; }
  # shellcheck disable=SC2086
  got=$(wine "$windows" $size 237 | tr -d '\r') || { echo "image-digest.exe failed ($size)"; exit 1; }
  if [ "$want" = "$got" ]; then
    echo "$size: all 237 images agree ($(wc -l <<<"$want") lines)"
  else
    echo "$size: the Windows build differs; first differing lines:"
    diff <(echo "$want") <(echo "$got") | head -6
    fail=1
  fi
done
exit $fail
