#!/usr/bin/env bash
# check-install.sh BUILD_DIR: installs the build into a throwaway root and checks what a
# desktop needs is in its standard place, with Debian's validators for the desktop entry and
# the AppStream metainfo. Skips (77) where the validators are not installed.
set -u
build=$1
command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null || { echo "needs desktop-file-utils and appstream"; exit 77; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null || { echo "install failed"; exit 1; }
fail=0
for f in bin/Kelvarion1 share/applications/org.example.Kelvarion.desktop \
         share/metainfo/org.example.Kelvarion.metainfo.xml \
         share/icons/hicolor/16x16/apps/org.example.Kelvarion.png \
         share/icons/hicolor/32x32/apps/org.example.Kelvarion.png; do
  [ -s "$root/usr/$f" ] || { echo "missing: /usr/$f"; fail=1; }
done
for n in 16 32; do
  file "$root/usr/share/icons/hicolor/${n}x$n/apps/org.example.Kelvarion.png" | grep -q "$n x $n" \
    || { echo "the ${n}-pixel icon is not $n x $n"; fail=1; }
done
desktop-file-validate "$root/usr/share/applications/org.example.Kelvarion.desktop" || fail=1
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.example.Kelvarion.metainfo.xml" || fail=1
[ $fail = 0 ] && echo "installed and valid"
exit $fail
