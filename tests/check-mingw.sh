#!/usr/bin/env bash
# check-mingw.sh: builds what of the program needs no toolkit (the kernel, the generation cycle
# and image-digest, which runs them, and the processor affinity calls) for Windows with Debian's mingw-w64 compiler, warnings as
# errors, and checks the result is a 64-bit Windows console program. Skips (77) without mingw.
set -u
cxx=$(command -v x86_64-w64-mingw32-g++ || true)
[ -n "$cxx" ] || { echo "no mingw-w64 C++ compiler installed (g++-mingw-w64-x86-64)"; exit 77; }
src=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -ffp-contract=off -static -I "$src" \
  "$src/tools/image_digest.cpp" -o "$out/image-digest.exe" || { echo "the Windows build failed"; exit 1; }
# The Windows backend's processor affinity calls, until that backend builds them itself.
"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -I "$src" -c "$src/services/win32/affinity.cpp" \
  -o "$out/affinity.o" || { echo "the Windows affinity calls failed to build"; exit 1; }
kind=$(file -b "$out/image-digest.exe")
echo "image-digest.exe: $kind"
grep -q "PE32+ executable (console) x86-64" <<<"$kind" || { echo "not a 64-bit Windows console program"; exit 1; }
