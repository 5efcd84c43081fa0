#!/usr/bin/env bash
# check-windows-build.sh BUILD_DIR x86_64|i686: checks a Windows build (preset windows or
# windows-i686) as a user receives it: Kelvarion1.exe a GUI program of the right width that
# needs no DLL beyond Windows' own (no common-controls import, no libstdc++ or libgcc), its
# resources (icon, About bitmap, manifest, version record), the console tools, and the ZIP that
# CPack makes. Skips (77) where the build or the tools are missing.
set -u
build=$1 arch=$2
prefix=$arch-w64-mingw32
objdump=$(command -v "$prefix-objdump" || true)
[ -n "$objdump" ] || { echo "no $prefix-objdump (binutils-mingw-w64)"; exit 77; }
[ -f "$build/Kelvarion1.exe" ] || { echo "no Windows build in $build"; exit 77; }
if [ "$arch" = x86_64 ]; then pe="PE32+ executable"; cpu="x86-64"; zip=Kelvarion1-1.0-win64
else pe="PE32 executable"; cpu="Intel 80386"; zip=Kelvarion1-1.0-win32; fi
fail=0
check() { echo "$1"; fail=1; }
kind() { file -b "$1"; }

grep -q "^$pe (GUI) $cpu" <<<"$(kind "$build/Kelvarion1.exe")" || check "Kelvarion1.exe: $(kind "$build/Kelvarion1.exe")"
for tool in tools/image-digest.exe bench/kelvarion-bench.exe tools/win-probe.exe; do
  grep -q "^$pe (console) $cpu" <<<"$(kind "$build/$tool")" || check "$tool: $(kind "$build/$tool")"
done

# Windows' own DLLs only: user32, gdi32, kernel32 and the system C runtime.
dlls=$("$objdump" -p "$build/Kelvarion1.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[ "$dlls" = "gdi32.dll kernel32.dll msvcrt.dll user32.dll " ] || check "Kelvarion1.exe imports: $dlls"

# Terminal-server aware (the PE header's DLL characteristics), as MSVC's linker marks programs.
"$objdump" -p "$build/Kelvarion1.exe" | grep -q '^\s*TERMINAL_SERVICE_AWARE' \
  || check "Kelvarion1.exe is not marked terminal-server aware"

# The resources, read from the program's resource directory: icon, About bitmap, manifest,
# version record.
resources=$("$(dirname "$0")/check-rc.sh" "$build/Kelvarion1.exe") || check "$resources"

# The portable package: the program and README.txt in one folder, nothing else.
if command -v cpack >/dev/null && command -v unzip >/dev/null; then
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
  (cd "$build" && cpack -G ZIP -B "$out" >/dev/null 2>&1) || check "cpack -G ZIP failed"
  entries=$(unzip -Z1 "$out/$zip.zip" 2>/dev/null | grep -v '/$' | sort | tr '\n' ' ')
  [ "$entries" = "$zip/Kelvarion1.exe $zip/README.txt " ] || check "$zip.zip holds: $entries"
fi
[ $fail = 0 ] && echo "$build: $pe (GUI) $cpu, system DLLs only, resources and package complete"
exit $fail
