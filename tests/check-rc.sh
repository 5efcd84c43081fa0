#!/usr/bin/env bash
# Compiles the Windows resource script with the mingw resource compiler and checks the
# version record's strings and the icon. Skips (status 77) where no such compiler is installed.
set -eu
windres=$(command -v x86_64-w64-mingw32-windres || true)
[ -n "$windres" ] || { echo "no Windows resource compiler installed"; exit 77; }
src=$(cd "$(dirname "$0")/.." && pwd)/app
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$src" && "$windres" -i kelvarion.rc -O res -o "$out/kelvarion.res")
text=$(strings -e l "$out/kelvarion.res")
fail=0
for want in "040904B0" "ProductName" "Kelvarion1" "InternalName" "OriginalFilename" "Kelvarion1.exe" \
            "FileVersion" "ProductVersion" "1.00" "Translation"; do
  grep -qx -- "$want" <<<"$text" || { echo "missing string: $want"; fail=1; }
done
# The fixed part of the record: file and product version 1.0.0.0 (0x00010000, 0x00000000).
od -An -tx1 -v "$out/kelvarion.res" | tr -d ' \n' | grep -q "bd04effe00000100000001000000000000000100" \
  || { echo "file or product version is not 1,0,0,0"; fail=1; }
# Translation 0x409, 1200 (0x04B0) as two 16-bit words.
od -An -tx1 -v "$out/kelvarion.res" | tr -d ' \n' | grep -q "0904b004" || { echo "no translation 0x409, 1200"; fail=1; }
# The icon's two images went in (RT_ICON resources of both sizes' byte counts).
[ "$(stat -c %s "$out/kelvarion.res")" -gt 1000 ] || { echo "the icon is missing"; fail=1; }
[ $fail = 0 ] && echo "resource script: all strings and versions present"
exit $fail
