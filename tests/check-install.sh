#!/usr/bin/env bash
# check-install.sh BUILD_DIR: installs the build into a throwaway root and checks what a
# desktop needs is in its standard place, with Debian's validators for the desktop entry and
# the AppStream metainfo, and that `appstreamcli compose` (what builds a software centre's
# catalogue) lists the program with its icon. Skips (77) where those tools are not installed.
set -u
build=$1
command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null || { echo "needs desktop-file-utils and appstream"; exit 77; }
appstreamcli compose --help >/dev/null 2>&1 || { echo "needs appstream-compose"; exit 77; }
root=$(mktemp -d) out=$(mktemp -d)
trap 'rm -rf "$root" "$out"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null || { echo "install failed"; exit 1; }
fail=0
icons=share/icons/hicolor
for f in bin/Kelvarion1 share/applications/org.example.Kelvarion.desktop \
         share/metainfo/org.example.Kelvarion.metainfo.xml \
         share/doc/kelvarion/copyright share/doc/kelvarion/changelog.Debian.gz \
         share/man/man1/Kelvarion1.1.gz \
         $icons/{16x16,32x32,64x64,128x128}/apps/org.example.Kelvarion.png; do
  [ -s "$root/usr/$f" ] || { echo "missing: /usr/$f"; fail=1; }
done
for n in 16 32 64 128; do
  file "$root/usr/$icons/${n}x$n/apps/org.example.Kelvarion.png" | grep -q "$n x $n" \
    || { echo "the ${n}-pixel icon is not $n x $n"; fail=1; }
done
# The font compiled into the program comes with its licence.
grep -q "^License: OFL-1.1" "$root/usr/share/doc/kelvarion/copyright" \
  || { echo "the copyright file lacks the font's licence"; fail=1; }
desktop-file-validate "$root/usr/share/applications/org.example.Kelvarion.desktop" || fail=1
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.example.Kelvarion.metainfo.xml" || fail=1
# The catalogue a software centre reads: the component, and its icon cached at 64 and 128
# pixels (compose drops a component whose icon is smaller than 64 x 64).
if appstreamcli compose --no-net --origin=kelvarion --result-root="$out" "$root" >"$out/log" 2>&1; then
  catalog=$(zcat "$out"/usr/share/swcatalog/xml/kelvarion.xml.gz 2>/dev/null)
  grep -q "<id>org.example.Kelvarion</id>" <<<"$catalog" \
    || { echo "compose did not list the program"; cat "$out/log"; fail=1; }
  for n in 64 128; do
    grep -q "<icon type=\"cached\" width=\"$n\" height=\"$n\">org.example.Kelvarion.png</icon>" <<<"$catalog" \
      && [ -s "$out/usr/share/swcatalog/icons/kelvarion/${n}x$n/org.example.Kelvarion.png" ] \
      || { echo "compose has no ${n}-pixel icon for the program"; fail=1; }
  done
else
  echo "appstreamcli compose failed:"; cat "$out/log"; fail=1
fi
[ $fail = 0 ] && echo "installed, valid, and listed by appstreamcli compose"
exit $fail
