#!/usr/bin/env bash
# check-rc.sh [FILE]: the Windows resources, read from their own structures (win_resources.py):
# of FILE (a built Kelvarion1.exe), or else of the resource script compiled here with the mingw
# resource compiler. The icon (one group of two 16-colour images with their masks), the About
# bitmap, the manifest (type 24, id 1: the one Windows reads for a program) and the version
# record. Skips (status 77) where no such compiler or no Python is installed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
python=$(command -v python3 || true)
[ -n "$python" ] || { echo "no python3 installed"; exit 77; }
if [ $# -ge 1 ]; then
  file=$1
else
  windres=$(command -v x86_64-w64-mingw32-windres || true)
  [ -n "$windres" ] || { echo "no Windows resource compiler installed"; exit 77; }
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
  (cd "$root/app" && "$windres" -i kelvarion.rc -O res -o "$out/kelvarion.res") \
    || { echo "the resource script does not compile"; exit 1; }
  file=$out/kelvarion.res
fi
facts=$("$python" "$here/win_resources.py" "$file")
status=$?
fail=0
[ $status = 0 ] || { grep '^error' <<<"$facts" | tr '\t' ' '; fail=1; }
want() {
  local line
  line=$(printf '%s\t' "$@")
  grep -qxF -- "${line%$'\t'}" <<<"$facts" || { echo "missing: $*"; fail=1; }
}

# The copyright holder and year of the program's own files, as the package states them.
copyright=$(sed -n 's/^Copyright: *\([0-9][0-9-]*\) \(.*\)/\1 \2/p' "$root/packaging/copyright" | head -1)
[ -n "$copyright" ] || { echo "no copyright holder in packaging/copyright"; fail=1; }

want icon IDI_ICON1 32x32 4 mask
want icon IDI_ICON1 16x16 4 mask
[ "$(grep -c $'^icon\t' <<<"$facts")" = 2 ] || { echo "the icon does not hold exactly two images"; fail=1; }
want bitmap ABOUT 104x75 24 0  # uncompressed
grep -q $'^resource\t24\t1\t' <<<"$facts" || { echo "no manifest of type 24, id 1"; fail=1; }
want manifest dpiAware true/pm
want manifest dpiAwareness "PerMonitorV2, PerMonitor"
want manifest dependency Microsoft.Windows.Common-Controls 6.0.0.0
want version file 1.0.0.0
want version product 1.0.0.0
want version os 0x40004    # VOS_NT_WINDOWS32
want version type 0x1      # VFT_APP
want translation 0x0409 1200
for pair in "ProductName=Kelvarion1" "InternalName=Kelvarion1" "OriginalFilename=Kelvarion1.exe" \
            "FileVersion=1.00" "ProductVersion=1.00" "CompanyName=${copyright#* }" \
            "LegalCopyright=Copyright (C) $copyright"; do
  want string 040904B0 "${pair%%=*}" "${pair#*=}"
done
[ $fail = 0 ] && echo "$(basename "$file"): icon, About bitmap, manifest and version record as they should be"
exit $fail
