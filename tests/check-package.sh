#!/usr/bin/env bash
# check-package.sh BUILD_DIR: builds the Debian package with CPack, checks it with lintian (no
# errors), its version against the metainfo's release and its dependencies (found by
# dpkg-shlibdeps, each a package Debian has), unpacks it into a throwaway root, starts the
# program from there on the display and ends it through Exit: status 0, nothing printed.
# Skips (77) where the package tools, lintian or xdotool are not installed.
set -u
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps lintian xdotool; do
  command -v $tool >/dev/null || { echo "needs $tool"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "needs a display (run under tests/run-x11.sh)"; exit 77; }
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/out/kelvarion_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no package made"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libc6 libstdc++6; do
  grep -q "\b$lib\b" <<<"$depends" || fail "the package does not depend on $lib"
done
# The font the windows are laid out in is compiled into the program.
grep -q "fonts-" <<<"$depends" && fail "the package depends on a font package"
for pkg in $(sed 's/([^)]*)//g; s/,/ /g; s/|/ /g' <<<"$depends"); do
  dpkg-query -W "$pkg" >/dev/null 2>&1 || fail "depends on $pkg, which is not a package here"
done

# Lintian: no errors. Its warnings are printed for the record.
lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1
grep -E "^[EW]:" "$work/lintian.txt"
grep -q "^E:" "$work/lintian.txt" && fail "lintian found errors in the package"

root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "cannot unpack"
for f in bin/Kelvarion1 share/applications/org.example.Kelvarion.desktop \
         share/icons/hicolor/{16x16,32x32,64x64,128x128}/apps/org.example.Kelvarion.png \
         share/metainfo/org.example.Kelvarion.metainfo.xml \
         share/doc/kelvarion/copyright share/doc/kelvarion/changelog.Debian.gz; do
  [ -s "$root/usr/$f" ] || fail "the package lacks /usr/$f"
done
# One version: the package's upstream part (before the Debian revision), the metainfo's newest
# release and the changelog's entry.
version=$(dpkg-deb -f "$deb" Version)
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$root/usr/share/metainfo/org.example.Kelvarion.metainfo.xml" | head -1)
[ "${version%-*}" = "$release" ] || fail "package version $version, metainfo release $release"
zcat "$root/usr/share/doc/kelvarion/changelog.Debian.gz" | head -1 | grep -qF "kelvarion ($version)" \
  || fail "the changelog's entry is not for $version"
echo "version $version, metainfo release $release"

mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" "$root/usr/bin/Kelvarion1" >"$work/out.txt" 2>&1 &
pid=$!
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --pid $pid --name '^Kelvarion 1\.0$' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "the installed program showed no main window"
if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; then
  # Framed (the window manager announces the frame), then placed again by the program: the
  # click below goes to where it stands once it stands still, centred.
  centred() {
    local l r t b x y w h area_x area_y area_w area_h
    IFS=', ' read -r l r t b < <(xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.* = //p')
    [ -n "$b" ] || return 1
    IFS=', ' read -r area_x area_y area_w area_h _ < <(xprop -root _NET_WORKAREA | sed -n 's/.* = //p')
    read -r x y w h < <(xwininfo -id "$window" | awk '/Absolute upper-left [XY]|Width|Height/ {printf "%s ", $NF}')
    x=$((x - l - area_x)) y=$((y - t - area_y)) w=$((w + l + r)) h=$((h + t + b))
    [ $(((2 * x - (area_w - w)) ** 2)) -le 1 ] && [ $(((2 * y - (area_h - h)) ** 2)) -le 1 ]
  }
  for _ in $(seq 300); do centred && break; sleep 0.1; done
  centred || echo "note: the main window does not stand centred; clicked where it stands"
  xdotool windowactivate --sync "$window"
fi
# Exit's centre, from its place in the main window's layout (twips, 15 to a pixel).
xdotool mousemove --window "$window" $(((1560 + 2295 / 2) / 15)) $(((2280 + 375 / 2) / 15)) click 1
for _ in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "Exit did not end the installed program"
wait $pid
status=$?
pid=
[ $status = 0 ] || fail "the installed program ended with status $status"
[ -s "$work/out.txt" ] && { cat "$work/out.txt"; fail "the installed program printed something"; }
echo "packaged, installed into a throwaway root, started and ended"
